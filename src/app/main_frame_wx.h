#pragma once
// The main window: menu bar, the OpenGL view filling the client area, drops, and the
// start-up and close of everything the view needs.
#include <wx/frame.h>

#include <map>
#include <string>
#include <vector>

#include "app/menu_commands.h"
#include "operations/save_loading.h"
#include "icon/icon_view.h"
#include "view/gl_frame.h"
#include "view/navigation.h"
#include "view/view_settings.h"

class wxGLCanvas;
class wxGLContext;

namespace marrowin {

class ConfigWindow;

class MainFrame : public wxFrame, public LoadHost, public RenderSurface, public CommandHost {
public:
    explicit MainFrame(ViewSettings& settings);

    // Everything that needs the shown window: GL context, texture buffer, sizes, caption,
    // configuration window. Call once, right after Show().
    void initMainWindow();

    // LoadHost
    void setCaption(const std::string& utf8) override;
    bool isOptionOn(LoadOption option) override;
    void clearCurrentModel() override;
    void selectIcon(int index) override;
    // RenderSurface
    void swapBuffers() override;

    // CommandHost
    void toggleOption(int command) override;
    void chooseAndLoadFile() override;
    void closeMainWindow() override;
    AnimationState& animation() override { return icon_.animation; }
    void showConfigDialog() override;

    void loadDroppedFiles(const wxArrayString& paths);
    // Each path in turn, as a drop of them would.
    void loadPaths(const std::vector<std::string>& paths);

private:
    void onIdle(wxIdleEvent& event);
    void onPaint(wxPaintEvent& event);
    void onCanvasSize(wxSizeEvent& event);
    void onMotion(wxMouseEvent& event);
    void onMenu(wxCommandEvent& event);
    void onMenuOpen(wxMenuEvent& event);
    void onMenuClose(wxMenuEvent& event);
    void onClose(wxCloseEvent& event);
    void paintOnce();
    // The canvas in the GL drawable's pixels (larger than its logical size under GDK_SCALE).
    wxSize drawableSize() const;
    int wxIdFor(int command) const;

    ViewSettings& settings_;
    wxGLCanvas* canvas_ = nullptr;
    wxGLContext* context_ = nullptr;
    ConfigWindow* configDialog_ = nullptr;
    FrameState frame_;
    IconView icon_;
    MouseState mouse_;
    std::string baseCaption_;
    std::map<int, int> commandOfId_;  // wx menu id -> command number
    bool ready_ = false;
    bool painting_ = false;
    bool closing_ = false;
    int menusOpen_ = 0;
    bool modalUp_ = false;
};

}  // namespace marrowin
