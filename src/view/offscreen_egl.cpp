#include "view/offscreen_egl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace marrowin {

namespace {

// Framebuffer objects are not in the OpenGL 1.1 headers: fetched through EGL. The EXT and
// core entry points share signatures.
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

    bool load(const char* suffix) {
        auto get = [&](const char* base) {
            return eglGetProcAddress((std::string(base) + suffix).c_str());
        };
        genFramebuffers = reinterpret_cast<PFNGLGENFRAMEBUFFERSEXTPROC>(get("glGenFramebuffers"));
        deleteFramebuffers =
            reinterpret_cast<PFNGLDELETEFRAMEBUFFERSEXTPROC>(get("glDeleteFramebuffers"));
        bindFramebuffer = reinterpret_cast<PFNGLBINDFRAMEBUFFEREXTPROC>(get("glBindFramebuffer"));
        genRenderbuffers =
            reinterpret_cast<PFNGLGENRENDERBUFFERSEXTPROC>(get("glGenRenderbuffers"));
        deleteRenderbuffers =
            reinterpret_cast<PFNGLDELETERENDERBUFFERSEXTPROC>(get("glDeleteRenderbuffers"));
        bindRenderbuffer =
            reinterpret_cast<PFNGLBINDRENDERBUFFEREXTPROC>(get("glBindRenderbuffer"));
        renderbufferStorage =
            reinterpret_cast<PFNGLRENDERBUFFERSTORAGEEXTPROC>(get("glRenderbufferStorage"));
        framebufferRenderbuffer = reinterpret_cast<PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC>(
            get("glFramebufferRenderbuffer"));
        checkFramebufferStatus = reinterpret_cast<PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC>(
            get("glCheckFramebufferStatus"));
        return genFramebuffers && deleteFramebuffers && bindFramebuffer && genRenderbuffers &&
               deleteRenderbuffers && bindRenderbuffer && renderbufferStorage &&
               framebufferRenderbuffer && checkFramebufferStatus;
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

std::string eglErrorText(const char* what) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", unsigned(eglGetError()));
    return std::string(what) + " failed (EGL error " + code + ")";
}

}  // namespace

std::unique_ptr<OffscreenRenderer> OffscreenRenderer::create(uint32_t width, uint32_t height,
                                                             std::string& error) {
    if (width == 0 || height == 0 || width > MAX_SIDE || height > MAX_SIDE) {
        error = "the picture size must be between 1 and 16384 pixels each way";
        return nullptr;
    }
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        error = "off-screen rendering needs EGL with Mesa's surfaceless platform "
                "(EGL_MESA_platform_surfaceless); install Mesa's EGL driver (libegl-mesa0)";
        return nullptr;
    }
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        error = "EGL has no eglGetPlatformDisplayEXT";
        return nullptr;
    }
    EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY,
                                            nullptr);
    if (display == EGL_NO_DISPLAY) {
        error = eglErrorText("eglGetPlatformDisplayEXT(surfaceless)");
        return nullptr;
    }
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor)) {
        error = eglErrorText("eglInitialize");
        return nullptr;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        error = eglErrorText("eglBindAPI(OpenGL)");
        return nullptr;
    }
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &configCount) ||
        configCount < 1) {
        // The context draws only into its own framebuffer object, so any config will do.
        config = nullptr;
        if (!hasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_no_config_context")) {
            error = "EGL offers no configuration for desktop OpenGL";
            return nullptr;
        }
    }
    // No version asked: Mesa then gives its highest compatibility profile, which keeps the
    // fixed-function pipeline of OpenGL 1.1.
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT) {
        error = eglErrorText("eglCreateContext(OpenGL)");
        return nullptr;
    }
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        error = eglErrorText("eglMakeCurrent without a surface");
        eglDestroyContext(display, context);
        return nullptr;
    }

    std::unique_ptr<OffscreenRenderer> r(new OffscreenRenderer());
    r->display_ = display;
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
    if (!context_) return;
    auto display = static_cast<EGLDisplay>(display_);
    auto context = static_cast<EGLContext>(context_);
    if (eglGetCurrentContext() == context) {
        if (framebuffer_) {
            fbo.bindFramebuffer(GL_FRAMEBUFFER_EXT, 0);
            fbo.deleteFramebuffers(1, &framebuffer_);
        }
        const GLuint buffers[2] = {colourBuffer_, depthBuffer_};
        if (colourBuffer_ || depthBuffer_) fbo.deleteRenderbuffers(2, buffers);
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    // Deleting the context frees its objects too. The display stays initialised: EGL hands
    // the same one to every renderer of the process.
    eglDestroyContext(display, context);
}

bool OffscreenRenderer::makeCurrent() {
    return eglMakeCurrent(static_cast<EGLDisplay>(display_), EGL_NO_SURFACE, EGL_NO_SURFACE,
                          static_cast<EGLContext>(context_)) == EGL_TRUE;
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
    // OpenGL 1.4 or EXT_blend_func_separate; the 1.1 headers do not declare it, and EGL hands
    // out entry points whether or not the context has them, so ask the context first.
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
    auto blendFuncSeparate = reinterpret_cast<PFNGLBLENDFUNCSEPARATEPROC>(eglGetProcAddress(name));
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
