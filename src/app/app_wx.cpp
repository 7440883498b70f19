// The program's entry: resources, the main window, and the idle-driven frames.
#include <wx/app.h>
#include <wx/debug.h>
#include <wx/log.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_frame_wx.h"
#include "app/resources_wx.h"
#include "view/view_settings.h"

namespace marrowin {
namespace {

// Debian's wx checks its own use; a failed check would open a modal dialog and stop the
// program (and any scripted test). Say it and go on.
void printAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                 const wxString& msg) {
    std::fprintf(stderr, "marrowin: wx check failed: %s:%d %s: %s %s\n",
                 static_cast<const char*>(file.utf8_str()), line,
                 static_cast<const char*>(func.utf8_str()), static_cast<const char*>(cond.utf8_str()),
                 static_cast<const char*>(msg.utf8_str()));
}

// Paths from the command line, as raw bytes: wx would convert them in the C locale it keeps,
// which drops every name that is not ASCII.
std::vector<std::string> startPaths;

class MarrowinApp : public wxApp {
public:
    bool OnInit() override {
        wxSetAssertHandler(printAssert);
        // Messages go to stderr: a message box would stop the program as a failed check does.
        delete wxLog::SetActiveTarget(new wxLogStderr);
        SetAppName("marrowin");
        if (!loadWindowResources()) {
            std::fprintf(stderr, "marrowin: the built-in window resources do not load\n");
            return false;
        }
        settings_ = initialViewSettings();
        auto* frame = new MainFrame(settings_);
        SetTopWindow(frame);
        // The GL context needs the window to exist on the screen.
        frame->Show();
        frame->initMainWindow();
        // Opened once the event loop runs, as a drop on the shown window would be.
        if (!startPaths.empty()) frame->CallAfter([frame] { frame->loadPaths(startPaths); });
        return true;
    }
    int OnExit() override { return 0; }

private:
    ViewSettings settings_{};
};

}  // namespace
}  // namespace marrowin

wxIMPLEMENT_APP_NO_MAIN(marrowin::MarrowinApp);

int main(int argc, char** argv) {
    using namespace marrowin;
    ProgramArguments args = splitProgramArguments(argc, argv);
    if (!args.error.empty()) {
        std::fprintf(stderr, "marrowin: %s\n%s", args.error.c_str(), PROGRAM_USAGE);
        return 2;
    }
    if (args.help) {
        std::fputs(PROGRAM_USAGE, stdout);
        return 0;
    }
    if (args.version) {
        std::puts("marrowin " MARROWIN_VERSION);
        return 0;
    }
    // The view draws through GLX only: under Wayland the window goes through XWayland, unless
    // the user chose a backend. Any other backend is still better than no window at all.
    setenv("GDK_BACKEND", "x11,*", 0);
    startPaths = std::move(args.paths);
    int toolkitArgc = int(args.toolkitArgs.size()) - 1;
    return wxEntry(toolkitArgc, args.toolkitArgs.data());
}
