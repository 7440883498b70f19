#include "cards/spin_view_win32.h"

#include "icon/icon_draw.h"
#include "icon/icon_model.h"
#include "view/model_framing.h"

namespace marrowin::cards {

namespace {
constexpr UINT_PTR FRAME_TIMER = 1;
constexpr UINT FRAME_MS = 16;
const wchar_t CLASS_NAME[] = L"MarrowinCardsSpin";
}  // namespace

SpinView::~SpinView() {
    if (window_) {
        releaseWindowGL(gl_, window_);
        glReady_ = false;
    }
}

HWND SpinView::create(HWND parent, HINSTANCE instance) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    // Its own device context for the life of the window, as a WGL context wants.
    wc.style = CS_OWNDC;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.lpszClassName = CLASS_NAME;
    RegisterClassExW(&wc);
    return CreateWindowExW(WS_EX_CLIENTEDGE, CLASS_NAME, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 10, 10,
                           parent, nullptr, instance, this);
}

LRESULT CALLBACK SpinView::proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* created = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created->lpCreateParams));
        static_cast<SpinView*>(created->lpCreateParams)->window_ = window;
    }
    auto* self = reinterpret_cast<SpinView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    return self->dispatch(message, wParam, lParam);
}

LRESULT SpinView::dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            texture_.assign(TEXTURE_BUFFER_BYTES, 0);
            icon_.textureImage = texture_.data();
            settings_ = initialViewSettings();
            glReady_ = createWindowGL(gl_, window_);
            initGLState(settings_);
            return 0;
        case WM_SIZE:
            if (glReady_) {
                makeCurrent();
                resizeView(frame_, settings_, LOWORD(lParam), HIWORD(lParam));
            }
            return 0;
        case WM_TIMER:
            if (wParam == FRAME_TIMER) InvalidateRect(window_, nullptr, FALSE);
            return 0;
        case WM_ERASEBKGND: return 1;  // GL fills every pixel
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(window_, &ps);
            paint();
            EndPaint(window_, &ps);
            return 0;
        }
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN: SetCapture(window_); return 0;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
            if (!(wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON))) ReleaseCapture();
            return 0;
        case WM_MOUSEMOVE:
            navigateMouse(mouse_, settings_, uint32_t(wParam), uint32_t(int16_t(LOWORD(lParam))),
                          uint32_t(int16_t(HIWORD(lParam))));
            if (!icon_.currentModel) InvalidateRect(window_, nullptr, FALSE);
            return 0;
        case WM_DESTROY:
            KillTimer(window_, FRAME_TIMER);
            icon_.currentModel.reset();
            releaseWindowGL(gl_, window_);
            glReady_ = false;
            window_ = nullptr;
            return 0;
        default: return DefWindowProcW(window_, message, wParam, lParam);
    }
}

void SpinView::makeCurrent() {
    if (glReady_) wglMakeCurrent(gl_.windowDC, gl_.glContext);
}

void SpinView::show(SaveImage image) {
    // The model points into the image it was read from: it goes first.
    icon_.currentModel.reset();
    image_ = std::move(image);
    if (!glReady_) return;
    makeCurrent();
    // A fresh start for every save: its own lights, the view's defaults, the first shape.
    const FrameState frame = frame_;
    settings_ = initialViewSettings();
    icon_.animation = AnimationState{};
    initGLState(settings_);
    if (frame.clientWidth > 0 && frame.clientHeight > 0)
        resizeView(frame_, settings_, uint32_t(frame.clientWidth), uint32_t(frame.clientHeight));
    if (!image_.empty()) {
        selectIcon(icon_, image_, settings_.lights, 0);
        if (icon_.currentModel) frameModel(settings_, *icon_.currentModel, 0);
    }
    // Frames only while something turns: an empty view is painted once and then sleeps.
    if (icon_.currentModel)
        SetTimer(window_, FRAME_TIMER, FRAME_MS, nullptr);
    else
        KillTimer(window_, FRAME_TIMER);
    InvalidateRect(window_, nullptr, FALSE);
}

void SpinView::paint() {
    if (!glReady_) return;
    makeCurrent();
    paintFrame(frame_, settings_, icon_, surface_);
}

}  // namespace marrowin::cards
