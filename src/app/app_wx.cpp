// The program's entry: resources, the main window, and the idle-driven frames.
#include <wx/app.h>
#include <wx/debug.h>
#include <wx/log.h>

#include <cstdio>

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

class MarrowinApp : public wxApp {
public:
    bool OnInit() override {
        // No command line: a path given to the program opens nothing.
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
        return true;
    }
    int OnExit() override { return 0; }

private:
    ViewSettings settings_{};
};

}  // namespace
}  // namespace marrowin

wxIMPLEMENT_APP(marrowin::MarrowinApp);
