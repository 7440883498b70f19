#include "cards/icon_canvas_wx.h"

#include <wx/dcclient.h>

#include <algorithm>
#include <cmath>

#include "icon/icon_draw.h"
#include "icon/icon_model.h"
#include "view/model_framing.h"

namespace marrowin::cards {

namespace {

constexpr int FRAME_MS = 16;             // about the display's 60 Hz
constexpr float TURN_PER_FRAME = 0.75f;  // degrees: one turn in eight seconds

wxGLAttributes canvasAttributes() {
    wxGLAttributes attrs;
    attrs.PlatformDefaults().RGBA().MinRGBA(8, 8, 8, 8).Depth(16).DoubleBuffer().EndList();
    return attrs;
}

}  // namespace

IconCanvas::IconCanvas(wxWindow* parent)
    : wxGLCanvas(parent, canvasAttributes(), wxID_ANY, wxDefaultPosition, wxDefaultSize,
                 wxFULL_REPAINT_ON_RESIZE),
      timer_(this) {
    texture_.assign(TEXTURE_BUFFER_BYTES, 0);
    icon_.textureImage = texture_.data();
    settings_ = initialViewSettings();
    Bind(wxEVT_PAINT, &IconCanvas::onPaint, this);
    Bind(wxEVT_SIZE, &IconCanvas::onSize, this);
    Bind(wxEVT_MOTION, &IconCanvas::onMotion, this);
    Bind(wxEVT_TIMER, &IconCanvas::onTimer, this);
}

IconCanvas::~IconCanvas() {
    timer_.Stop();
    icon_.currentModel.reset();
    delete context_;
}

wxSize IconCanvas::drawableSize() const {
    const double scale = GetContentScaleFactor();
    wxSize logical = GetClientSize();
    return wxSize(std::max(0, int(std::lround(logical.x * scale))),
                  std::max(0, int(std::lround(logical.y * scale))));
}

// The context needs the canvas on the screen; until then nothing is drawn.
bool IconCanvas::makeCurrent() {
    if (!IsShownOnScreen()) return false;
    if (!context_) {
        wxGLContextAttrs contextAttrs;
        contextAttrs.PlatformDefaults().CompatibilityProfile().EndList();
        context_ = new wxGLContext(this, nullptr, &contextAttrs);
        if (!context_->IsOK()) {
            delete context_;
            context_ = nullptr;
            return false;
        }
    }
    if (!SetCurrent(*context_)) return false;
    if (!glStarted_) {
        glStarted_ = true;
        initGLState(settings_);
        wxSize size = drawableSize();
        resizeView(frame_, settings_, uint32_t(size.x), uint32_t(size.y));
    }
    return true;
}

void IconCanvas::showSave(SaveImage image) {
    icon_.currentModel.reset();
    image_ = std::move(image);
    // Each save starts as a newly opened viewer shows it: its own lights, no earlier turns.
    settings_ = initialViewSettings();
    icon_.animation = AnimationState{};
    mouse_ = MouseState{};
    if (!image_.empty() && makeCurrent()) {
        initGLState(settings_);
        wxSize size = drawableSize();
        resizeView(frame_, settings_, uint32_t(size.x), uint32_t(size.y));
        selectIcon(icon_, image_, settings_.lights, 0);
        // Room to turn: the framing fits the first shape facing us, and the view is narrow.
        if (icon_.currentModel) frameModel(settings_, *icon_.currentModel, 0, 0.5f);
    }
    if (!icon_.currentModel) releaseSaveImage(image_);
    updateTimer();
    Refresh(false);
}

void IconCanvas::setRunning(bool running) {
    running_ = running;
    updateTimer();
}

void IconCanvas::updateTimer() {
    const bool wanted = running_ && icon_.currentModel && IsShownOnScreen();
    if (wanted && !timer_.IsRunning()) timer_.Start(FRAME_MS);
    if (!wanted && timer_.IsRunning()) timer_.Stop();
}

void IconCanvas::onPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    if (!makeCurrent()) return;
    paintFrame(frame_, settings_, icon_, *this);
}

void IconCanvas::onSize(wxSizeEvent& event) {
    event.Skip();
    if (!glStarted_ || !makeCurrent()) return;
    wxSize size = drawableSize();
    resizeView(frame_, settings_, uint32_t(size.x), uint32_t(size.y));
    Refresh(false);
}

void IconCanvas::onMotion(wxMouseEvent& event) {
    int x = event.GetX(), y = event.GetY();
    wxSize client = GetClientSize();
    // GTK reports a held button's pointer outside the window too; only the view's area counts.
    if (x < 0 || y < 0 || x >= client.x || y >= client.y) return;
    uint32_t keys = 0;
    if (event.LeftIsDown()) keys |= MK_LBUTTON;
    if (event.RightIsDown()) keys |= MK_RBUTTON;
    if (event.ShiftDown()) keys |= MK_SHIFT;
    if (event.ControlDown()) keys |= MK_CONTROL;
    if (event.MiddleIsDown()) keys |= MK_MBUTTON;
    navigateMouse(mouse_, settings_, keys, uint32_t(x), uint32_t(y));
    if (!timer_.IsRunning()) Refresh(false);
}

void IconCanvas::onTimer(wxTimerEvent&) {
    if (!IsShownOnScreen()) {
        updateTimer();
        return;
    }
    settings_.rotation[1] = std::fmod(settings_.rotation[1] + TURN_PER_FRAME, 360.0f);
    if (!makeCurrent()) return;
    paintFrame(frame_, settings_, icon_, *this);
}

}  // namespace marrowin::cards
