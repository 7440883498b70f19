#pragma once
// The selected save's icon, turning in a child window with its own WGL context: the viewer's
// frame, animation, lights and mouse navigation, drawn on a timer at about the display's rate
// and only in WM_PAINT, so an idle window costs next to nothing.
// Before <windows.h>: its MK_* macros would take the place of navigation's own.
#include "view/navigation.h"

#include <windows.h>

#include <vector>

#include "archive/save_image.h"
#include "icon/icon_view.h"
#include "view/gl_frame.h"
#include "view/view_settings.h"
#include "view/window_wgl.h"

namespace marrowin::cards {

class SpinView {
public:
    SpinView() : surface_(gl_) {}
    ~SpinView();
    HWND create(HWND parent, HINSTANCE instance);
    HWND handle() const { return window_; }
    // Shows the normal icon of `image` from a fresh start (the view takes the image); an empty
    // image clears the view.
    void show(SaveImage image);
    // Other GL work (the list's pictures) may have made its own context current.
    void makeCurrent();

private:
    static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void paint();

    HWND window_ = nullptr;
    WindowGL gl_;
    WindowSurface surface_;
    bool glReady_ = false;
    ViewSettings settings_{};
    FrameState frame_;
    IconView icon_;
    MouseState mouse_;
    SaveImage image_;
    std::vector<uint8_t> texture_;
};

}  // namespace marrowin::cards
