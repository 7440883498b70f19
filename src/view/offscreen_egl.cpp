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

std::string eglErrorText(const char* what) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", unsigned(eglGetError()));
    return std::string(what) + " failed (EGL error " + code + ")";
}

}  // namespace

std::unique_ptr<OffscreenRenderer> OffscreenRenderer::create(uint32_t width, uint32_t height,
                                                             std::string& error) {
    if (!sizeAllowed(width, height, error)) return nullptr;
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!hasExtensionName(clientExtensions, "EGL_MESA_platform_surfaceless")) {
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
        if (!hasExtensionName(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_no_config_context")) {
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

    return adopt(display, context, width, height, error);
}

OffscreenRenderer::~OffscreenRenderer() {
    if (!context_) return;
    auto display = static_cast<EGLDisplay>(display_);
    auto context = static_cast<EGLContext>(context_);
    if (eglGetCurrentContext() == context) {
        releaseFramebuffer();
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

void* OffscreenRenderer::procAddress(const char* name) {
    return reinterpret_cast<void*>(eglGetProcAddress(name));
}

}  // namespace marrowin
