// Rendering without a visible window on Windows: a hidden window only to get a WGL context,
// drawing into a framebuffer object that stands in for the window's back buffer (a hidden
// window's own pixels fail the pixel ownership test).
#include <windows.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "view/offscreen_egl.h"

namespace marrowin {

namespace {

std::string lastErrorText(const char* what) {
    char code[16];
    std::snprintf(code, sizeof code, "%lu", static_cast<unsigned long>(GetLastError()));
    return std::string(what) + " failed (error " + code + ")";
}

const wchar_t* const WINDOW_CLASS = L"MarrowinOffscreen";

// A class with its own device context, so GetDC gives the one the pixel format was set on.
bool registerWindowClass() {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSW wc{};
    wc.style = CS_OWNDC;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = WINDOW_CLASS;
    registered = RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return registered;
}

}  // namespace

std::unique_ptr<OffscreenRenderer> OffscreenRenderer::create(uint32_t width, uint32_t height,
                                                             std::string& error) {
    if (!sizeAllowed(width, height, error)) return nullptr;
    if (!registerWindowClass()) {
        error = lastErrorText("RegisterClass");
        return nullptr;
    }
    HWND window = CreateWindowExW(0, WINDOW_CLASS, L"Marrowin", WS_POPUP, 0, 0, 1, 1, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window) {
        error = lastErrorText("CreateWindow");
        return nullptr;
    }
    HDC dc = GetDC(window);
    // The window's format: RGBA8 and a 16-bit depth buffer (the pictures come from the FBO).
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 32;
    pfd.cAlphaBits = 8;
    pfd.cDepthBits = 16;
    pfd.iLayerType = PFD_MAIN_PLANE;
    const int format = ChoosePixelFormat(dc, &pfd);
    if (format == 0 || !SetPixelFormat(dc, format, &pfd)) {
        error = lastErrorText("SetPixelFormat");
        DestroyWindow(window);
        return nullptr;
    }
    HGLRC context = wglCreateContext(dc);
    if (!context || !wglMakeCurrent(dc, context)) {
        error = lastErrorText("wglCreateContext");
        if (context) wglDeleteContext(context);
        DestroyWindow(window);
        return nullptr;
    }

    return adopt(window, context, width, height, error);
}

OffscreenRenderer::~OffscreenRenderer() {
    auto window = static_cast<HWND>(display_);
    auto context = static_cast<HGLRC>(context_);
    if (context && wglGetCurrentContext() == context) {
        releaseFramebuffer();
        wglMakeCurrent(nullptr, nullptr);
    }
    if (context) wglDeleteContext(context);
    if (window) DestroyWindow(window);
}

bool OffscreenRenderer::makeCurrent() {
    auto window = static_cast<HWND>(display_);
    return wglMakeCurrent(GetDC(window), static_cast<HGLRC>(context_)) != FALSE;
}

void* OffscreenRenderer::procAddress(const char* name) {
    return reinterpret_cast<void*>(wglGetProcAddress(name));
}

}  // namespace marrowin
