#pragma once
// The selected save's icon, live: the viewer's own frame, lights, animation and mouse
// navigation in a canvas beside the list. Frames come from a timer that runs only while an
// icon is shown on screen, so an empty or hidden view costs nothing.
#include <wx/glcanvas.h>
#include <wx/timer.h>

#include <cstdint>
#include <vector>

#include "archive/save_image.h"
#include "icon/icon_view.h"
#include "view/gl_frame.h"
#include "view/navigation.h"
#include "view/view_settings.h"

namespace marrowin::cards {

class IconCanvas : public wxGLCanvas, public RenderSurface {
public:
    explicit IconCanvas(wxWindow* parent);
    ~IconCanvas() override;

    // Shows icon 0 of `image` from a fresh view; an empty image clears the view.
    void showSave(SaveImage image);
    // Frames run only while the window can be seen; the frame tells when that changes.
    void setRunning(bool running);
    bool animating() const { return timer_.IsRunning(); }
    void swapBuffers() override { SwapBuffers(); }

private:
    bool makeCurrent();
    void updateTimer();
    wxSize drawableSize() const;
    void onPaint(wxPaintEvent& event);
    void onSize(wxSizeEvent& event);
    void onMotion(wxMouseEvent& event);
    void onTimer(wxTimerEvent& event);

    wxGLContext* context_ = nullptr;
    bool glStarted_ = false;
    bool running_ = true;
    ViewSettings settings_{};
    FrameState frame_;
    IconView icon_;
    MouseState mouse_;
    SaveImage image_;
    std::vector<uint8_t> texture_;
    wxTimer timer_;
};

}  // namespace marrowin::cards
