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

// The EXT and core entry points share signatures; opengl32 exports only OpenGL 1.1.
struct FramebufferCalls {
    PFNGLGENFRAMEBUFFERSEXTPROC genFramebuffers = nullptr;
    PFNGLDELETEFRAMEBUFFERSEXTPROC deleteFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFEREXTPROC bindFramebuffer = nullptr;
    PFNGLGENRENDERBUFFERSEXTPROC genRenderbuffers = nullptr;
    PFNGLDELETERENDERBUFFERSEXTPROC deleteRenderbuffers = nullptr;
    PFNGLBINDRENDERBUFFEREXTPROC bindRenderbuffer = nullptr;
    PFNGLRENDERBUFFERSTORAGEEXTPROC renderbufferStorage = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC framebufferRenderbuffer = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC checkFramebufferStatus = nullptr;

    template <typename F>
    static bool get(F& out, const char* base, const char* suffix) {
        out = reinterpret_cast<F>(
            reinterpret_cast<void*>(wglGetProcAddress((std::string(base) + suffix).c_str())));
        return out != nullptr;
    }
    bool load(const char* suffix) {
        return get(genFramebuffers, "glGenFramebuffers", suffix) &&
               get(deleteFramebuffers, "glDeleteFramebuffers", suffix) &&
               get(bindFramebuffer, "glBindFramebuffer", suffix) &&
               get(genRenderbuffers, "glGenRenderbuffers", suffix) &&
               get(deleteRenderbuffers, "glDeleteRenderbuffers", suffix) &&
               get(bindRenderbuffer, "glBindRenderbuffer", suffix) &&
               get(renderbufferStorage, "glRenderbufferStorage", suffix) &&
               get(framebufferRenderbuffer, "glFramebufferRenderbuffer", suffix) &&
               get(checkFramebufferStatus, "glCheckFramebufferStatus", suffix);
    }
};

FramebufferCalls fbo;

bool hasExtension(const char* list, const char* name) {
    if (!list) return false;
    const size_t n = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n) {
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
    }
    return false;
}

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
    if (width == 0 || height == 0 || width > MAX_SIDE || height > MAX_SIDE) {
        error = "the picture size must be between 1 and 16384 pixels each way";
        return nullptr;
    }
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

    std::unique_ptr<OffscreenRenderer> r(new OffscreenRenderer());
    r->display_ = window;
    r->context_ = context;
    r->width_ = width;
    r->height_ = height;
    r->front_.assign(size_t(width) * height * 4, 0);

    const char* glExtensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    const bool loaded = hasExtension(glExtensions, "GL_ARB_framebuffer_object")
                            ? fbo.load("")
                            : hasExtension(glExtensions, "GL_EXT_framebuffer_object") &&
                                  fbo.load("EXT");
    if (!loaded) {
        error = "the OpenGL context has no framebuffer objects";
        return nullptr;  // the destructor releases the context
    }
    GLuint names[2] = {0, 0};
    fbo.genFramebuffers(1, names);
    r->framebuffer_ = names[0];
    fbo.genRenderbuffers(2, names);
    r->colourBuffer_ = names[0];
    r->depthBuffer_ = names[1];
    fbo.bindFramebuffer(GL_FRAMEBUFFER_EXT, r->framebuffer_);
    fbo.bindRenderbuffer(GL_RENDERBUFFER_EXT, r->colourBuffer_);
    fbo.renderbufferStorage(GL_RENDERBUFFER_EXT, GL_RGBA8, GLsizei(width), GLsizei(height));
    fbo.framebufferRenderbuffer(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT,
                                r->colourBuffer_);
    // 16 bits, as the window's pixel format asks.
    fbo.bindRenderbuffer(GL_RENDERBUFFER_EXT, r->depthBuffer_);
    fbo.renderbufferStorage(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT16, GLsizei(width),
                            GLsizei(height));
    fbo.framebufferRenderbuffer(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT,
                                r->depthBuffer_);
    if (fbo.checkFramebufferStatus(GL_FRAMEBUFFER_EXT) != GL_FRAMEBUFFER_COMPLETE_EXT) {
        error = "the off-screen framebuffer is incomplete";
        return nullptr;
    }
    glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT);
    glReadBuffer(GL_COLOR_ATTACHMENT0_EXT);
    return r;
}

OffscreenRenderer::~OffscreenRenderer() {
    auto window = static_cast<HWND>(display_);
    auto context = static_cast<HGLRC>(context_);
    if (context && wglGetCurrentContext() == context) {
        if (framebuffer_) {
            fbo.bindFramebuffer(GL_FRAMEBUFFER_EXT, 0);
            fbo.deleteFramebuffers(1, &framebuffer_);
        }
        const GLuint buffers[2] = {colourBuffer_, depthBuffer_};
        if (colourBuffer_ || depthBuffer_) fbo.deleteRenderbuffers(2, buffers);
        wglMakeCurrent(nullptr, nullptr);
    }
    if (context) wglDeleteContext(context);
    if (window) DestroyWindow(window);
}

bool OffscreenRenderer::makeCurrent() {
    auto window = static_cast<HWND>(display_);
    return wglMakeCurrent(GetDC(window), static_cast<HGLRC>(context_)) != FALSE;
}

void OffscreenRenderer::readInto(std::vector<uint8_t>& out) const {
    const size_t rowBytes = size_t(width_) * 4;
    std::vector<uint8_t> bottomUp(rowBytes * height_);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, GLsizei(width_), GLsizei(height_), GL_RGBA, GL_UNSIGNED_BYTE,
                 bottomUp.data());
    out.resize(bottomUp.size());
    for (uint32_t y = 0; y < height_; ++y)
        std::memcpy(out.data() + size_t(y) * rowBytes,
                    bottomUp.data() + size_t(height_ - 1 - y) * rowBytes, rowBytes);
}

void OffscreenRenderer::swapBuffers() { readInto(front_); }

bool OffscreenRenderer::blendAlphaAsCoverage() {
    // OpenGL 1.4 or EXT_blend_func_separate; wglGetProcAddress answers only for what the
    // context has, but ask the context first as the other hosts do.
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 0, minor = 0;
    const bool core = version && std::sscanf(version, "%d.%d", &major, &minor) == 2 &&
                      (major > 1 || (major == 1 && minor >= 4));
    const char* name = "glBlendFuncSeparate";
    if (!core) {
        if (!hasExtension(reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)),
                          "GL_EXT_blend_func_separate"))
            return false;
        name = "glBlendFuncSeparateEXT";
    }
    auto blendFuncSeparate = reinterpret_cast<PFNGLBLENDFUNCSEPARATEPROC>(
        reinterpret_cast<void*>(wglGetProcAddress(name)));
    if (!blendFuncSeparate) return false;
    blendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    return true;
}

std::vector<uint8_t> OffscreenRenderer::readBackBuffer() const {
    std::vector<uint8_t> out;
    readInto(out);
    return out;
}

std::string OffscreenRenderer::rendererName() const {
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    return std::string(renderer ? renderer : "?") + ", OpenGL " + (version ? version : "?");
}

}  // namespace marrowin
