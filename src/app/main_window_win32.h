#pragma once
// The main window on Windows: a dialog from the "MAIN" template driven by MainDialogProc.
// It is the window every shared operation talks to: loading (LoadHost), the menu commands
// (CommandHost) and the frame (through WindowSurface).
#include <string>
#include <vector>

// Before <windows.h>: its MK_* macros would otherwise take the place of navigation's own
// constants of the same names and values.
#include "view/navigation.h"

#include <windows.h>
#include <shellapi.h>

#include "app/menu_commands.h"
#include "operations/save_loading.h"
#include "icon/icon_view.h"
#include "view/gl_frame.h"
#include "view/view_settings.h"
#include "view/window_wgl.h"

namespace marrowin {

class MainWindow : public LoadHost, public CommandHost {
public:
    explicit MainWindow(ViewSettings& settings) : settings_(settings), surface_(gl_) {}

    // CreateDialogParamW from "MAIN"; InitMainWindow has run when it returns.
    HWND create(HINSTANCE instance);
    HWND handle() const { return window_; }

    // LoadHost
    void setCaption(const std::string& utf8) override;
    bool isOptionOn(LoadOption option) override;
    void clearCurrentModel() override;
    void selectIcon(int index) override;
    // CommandHost
    void chooseAndLoadFile() override;
    void closeMainWindow() override;
    void toggleOption(int command) override;
    AnimationState& animation() override { return icon_.animation; }
    void showConfigDialog() override;

    void paint();

    // Paths given on the command line (as a file type's open command gives them), opened one
    // after another as a drop of them would be.
    void loadPaths(const std::vector<std::string>& paths);

private:
    static INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void initMainWindow();
    void loadDroppedFiles(HDROP drop);

    ViewSettings& settings_;
    HWND window_ = nullptr;
    HWND configDialog_ = nullptr;
    WindowGL gl_;
    WindowSurface surface_;
    bool glReady_ = false;
    FrameState frame_;
    IconView icon_;
    MouseState mouse_;
    std::string baseCaption_;
};

}  // namespace marrowin
