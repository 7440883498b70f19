#include "view/window_wgl.h"

namespace marrowin {

namespace {
PIXELFORMATDESCRIPTOR pixelFormatTemplate() {
    PIXELFORMATDESCRIPTOR pfd = {};
    pfd.nSize = sizeof(pfd);
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 24;
    pfd.cAlphaBits = 8;
    pfd.cDepthBits = 16;
    pfd.iLayerType = PFD_MAIN_PLANE;
    return pfd;
}
}  // namespace

bool createWindowGL(WindowGL& gl, HWND window) {
    gl.windowDC = GetDC(window);
    if (!gl.windowDC) return false;
    const PIXELFORMATDESCRIPTOR pfd = pixelFormatTemplate();
    const int format = ChoosePixelFormat(gl.windowDC, &pfd);
    if (format != 0) SetPixelFormat(gl.windowDC, format, &pfd);
    gl.glContext = wglCreateContext(gl.windowDC);
    if (!gl.glContext) return false;
    return wglMakeCurrent(gl.windowDC, gl.glContext) != FALSE;
}

void releaseWindowGL(WindowGL& gl, HWND window) {
    if (gl.windowDC) wglMakeCurrent(gl.windowDC, nullptr);
    if (gl.glContext) wglDeleteContext(gl.glContext);
    if (gl.windowDC) ReleaseDC(window, gl.windowDC);
    gl.glContext = nullptr;
    gl.windowDC = nullptr;
}

void WindowSurface::swapBuffers() {
    if (gl_.windowDC) SwapBuffers(gl_.windowDC);
}

}  // namespace marrowin
