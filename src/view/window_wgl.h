#pragma once
// The main window's OpenGL context through WGL: pixel format on the window's device context,
// one context made current for the life of the window, buffer swaps for each frame.
#include <windows.h>

#include "view/gl_frame.h"

namespace marrowin {

struct WindowGL {
    HDC windowDC = nullptr;
    HGLRC glContext = nullptr;
};

// Device context, pixel format (RGBA, 24-bit colour, 8-bit alpha, 16-bit depth, double
// buffered) and context made current. False when no context could be made current.
bool createWindowGL(WindowGL& gl, HWND window);
void releaseWindowGL(WindowGL& gl, HWND window);

class WindowSurface : public RenderSurface {
public:
    explicit WindowSurface(const WindowGL& gl) : gl_(gl) {}
    void swapBuffers() override;

private:
    const WindowGL& gl_;
};

}  // namespace marrowin
