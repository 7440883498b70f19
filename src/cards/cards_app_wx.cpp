// marrowin-cards: the card window on Linux. Its words come from gettext catalogs, found beside
// the program in the build tree and under share/locale when installed.
#include <wx/app.h>
#include <wx/debug.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/stdpaths.h>
#include <wx/translation.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cards/cards_frame_wx.h"

namespace marrowin::cards {
namespace {

const char USAGE[] =
    "usage: marrowin-cards [CARD | SAVE...]\n"
    "Opens a memory card (an image or a PCSX2 folder card) or save files in any container.\n";

void printAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                 const wxString& msg) {
    std::fprintf(stderr, "marrowin-cards: wx check failed: %s:%d %s: %s %s\n",
                 static_cast<const char*>(file.utf8_str()), line,
                 static_cast<const char*>(func.utf8_str()), static_cast<const char*>(cond.utf8_str()),
                 static_cast<const char*>(msg.utf8_str()));
}

// The user's first language as gettext orders them (LANGUAGE first), even where the system
// has no such locale installed: the catalog alone is enough for the window's words.
std::string preferredLanguage() {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        std::string first(value, std::strcspn(value, ":"));
        if (!first.empty()) return first;
    }
    return "";
}

std::vector<std::string> startPaths;

class CardsApp : public wxApp {
public:
    bool OnInit() override {
        wxSetAssertHandler(printAssert);
        delete wxLog::SetActiveTarget(new wxLogStderr);
        SetAppName("marrowin-cards");
        setUpLanguage();
        auto* frame = new CardsFrame();
        SetTopWindow(frame);
        frame->Show();
        if (!startPaths.empty()) frame->CallAfter([frame] { frame->openPaths(startPaths); });
        return true;
    }

private:
    void setUpLanguage() {
        {
            // A language without its system locale only loses number formats, not our words.
            wxLogNull quiet;
            locale_.Init(wxLANGUAGE_DEFAULT, wxLOCALE_DONT_LOAD_DEFAULT);
        }
        wxTranslations* translations = wxTranslations::Get();
        if (!translations) {
            translations = new wxTranslations;
            wxTranslations::Set(translations);
        }
        const std::string language = preferredLanguage();
        if (language.rfind("ja", 0) == 0) translations->SetLanguage("ja");
        const wxFileName program(wxStandardPaths::Get().GetExecutablePath());
        wxFileTranslationsLoader::AddCatalogLookupPathPrefix(program.GetPath() + "/locale");
        wxFileTranslationsLoader::AddCatalogLookupPathPrefix(program.GetPath() + "/../share/locale");
        translations->AddStdCatalog();
        translations->AddCatalog("marrowin-cards");
    }

    wxLocale locale_;
};

}  // namespace
}  // namespace marrowin::cards

wxIMPLEMENT_APP_NO_MAIN(marrowin::cards::CardsApp);

int main(int argc, char** argv) {
    using namespace marrowin::cards;
    std::vector<char*> toolkitArgs{argv[0]};
    bool onlyPaths = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!onlyPaths && (arg == "--help" || arg == "-h")) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (!onlyPaths && arg == "--version") {
            std::puts("marrowin-cards " MARROWIN_VERSION);
            return 0;
        }
        if (!onlyPaths && arg == "--") {
            onlyPaths = true;
            continue;
        }
        if (!onlyPaths && arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "marrowin-cards: unknown option %s\n%s", arg.c_str(), USAGE);
            return 2;
        }
        // As raw bytes: wx would convert names in the C locale and lose every one not ASCII.
        startPaths.push_back(arg);
    }
    // The live view draws through GLX: under Wayland the window goes through XWayland.
    setenv("GDK_BACKEND", "x11,*", 0);
    toolkitArgs.push_back(nullptr);
    int toolkitArgc = 1;
    return wxEntry(toolkitArgc, toolkitArgs.data());
}
