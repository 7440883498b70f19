// The off-screen renderer's OpenGL side, the same on every host: the framebuffer object that
// stands in for the window's back buffer, reading it back, and blending for thumbnails. The
// hosts' files (offscreen_egl.cpp, offscreen_wgl.cpp) make the context and fetch entry points.
#ifdef _WIN32
#include <windows.h>  // before GL/gl.h, which needs its calling conventions
#endif
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "view/offscreen_egl.h"

namespace marrowin {

namespace {

// Framebuffer objects are not in the OpenGL 1.1 headers (nor in opengl32 on Windows): fetched
// from the context. The EXT and core entry points share signatures.
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
        out = reinterpret_cast<F>(OffscreenRenderer::procAddress((std::string(base) + suffix).c_str()));
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

}  // namespace

bool hasExtensionName(const char* list, const char* name) {
    if (!list) return false;
    const size_t n = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n) {
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
    }
    return false;
}

uint32_t smoothingFactor(uint32_t width, uint32_t height) {
    const uint64_t side = std::max(width, height);
    for (uint32_t factor : {4u, 2u})
        if (side * factor <= SMOOTH_SURFACE_SIDE) return factor;
    return 1;
}

void shrinkPicture(const std::vector<uint8_t>& large, uint32_t width, uint32_t height,
                   uint32_t factor, std::vector<uint8_t>& out) {
    out.assign(size_t(width) * height * 4, 0);
    if (factor == 0) return;
    const size_t largeRow = size_t(width) * factor * 4;
    if (large.size() < largeRow * height * factor) return;
    const uint32_t samples = factor * factor;
    // One row of block sums at a time, walking the large picture row by row (cache order).
    std::vector<uint32_t> sums(size_t(width) * 4);
    for (uint32_t y = 0; y < height; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (uint32_t row = 0; row < factor; ++row) {
            const uint8_t* in = large.data() + (size_t(y) * factor + row) * largeRow;
            for (uint32_t x = 0; x < width; ++x) {
                uint32_t* sum = sums.data() + size_t(x) * 4;
                for (uint32_t k = 0; k < factor; ++k, in += 4) {
                    sum[0] += in[0];
                    sum[1] += in[1];
                    sum[2] += in[2];
                    sum[3] += in[3];
                }
            }
        }
        uint8_t* o = out.data() + size_t(y) * width * 4;
        for (size_t i = 0; i < sums.size(); ++i) o[i] = uint8_t((sums[i] + samples / 2) / samples);
    }
}

bool OffscreenRenderer::sizeAllowed(uint32_t width, uint32_t height, std::string& error) {
    if (width == 0 || height == 0 || width > MAX_SIDE || height > MAX_SIDE) {
        error = "the picture size must be between 1 and 16384 pixels each way";
        return false;
    }
    return true;
}

std::unique_ptr<OffscreenRenderer> OffscreenRenderer::adopt(void* display, void* context,
                                                            uint32_t width, uint32_t height,
                                                            std::string& error) {
    std::unique_ptr<OffscreenRenderer> r(new OffscreenRenderer());
    r->display_ = display;
    r->context_ = context;
    r->width_ = width;
    r->height_ = height;
    if (!r->makeFramebuffer(error)) return nullptr;  // the destructor releases the context
    return r;
}

bool OffscreenRenderer::makeFramebuffer(std::string& error) {
    front_.assign(size_t(width_) * height_ * 4, 0);
    const char* glExtensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    const bool loaded = hasExtensionName(glExtensions, "GL_ARB_framebuffer_object")
                            ? fbo.load("")
                            : hasExtensionName(glExtensions, "GL_EXT_framebuffer_object") &&
                                  fbo.load("EXT");
    if (!loaded) {
        error = "the OpenGL context has no framebuffer objects";
        return false;
    }
    GLuint names[2] = {0, 0};
    fbo.genFramebuffers(1, names);
    framebuffer_ = names[0];
    fbo.genRenderbuffers(2, names);
    colourBuffer_ = names[0];
    depthBuffer_ = names[1];
    fbo.bindFramebuffer(GL_FRAMEBUFFER_EXT, framebuffer_);
    fbo.bindRenderbuffer(GL_RENDERBUFFER_EXT, colourBuffer_);
    fbo.renderbufferStorage(GL_RENDERBUFFER_EXT, GL_RGBA8, GLsizei(width_), GLsizei(height_));
    fbo.framebufferRenderbuffer(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT,
                                colourBuffer_);
    // 16 bits, as the window's pixel format asks.
    fbo.bindRenderbuffer(GL_RENDERBUFFER_EXT, depthBuffer_);
    fbo.renderbufferStorage(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT16, GLsizei(width_),
                            GLsizei(height_));
    fbo.framebufferRenderbuffer(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT,
                                depthBuffer_);
    if (fbo.checkFramebufferStatus(GL_FRAMEBUFFER_EXT) != GL_FRAMEBUFFER_COMPLETE_EXT) {
        error = "the off-screen framebuffer is incomplete";
        return false;
    }
    glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT);
    glReadBuffer(GL_COLOR_ATTACHMENT0_EXT);
    return true;
}

void OffscreenRenderer::releaseFramebuffer() {
    if (framebuffer_) {
        fbo.bindFramebuffer(GL_FRAMEBUFFER_EXT, 0);
        fbo.deleteFramebuffers(1, &framebuffer_);
    }
    const GLuint buffers[2] = {colourBuffer_, depthBuffer_};
    if (colourBuffer_ || depthBuffer_) fbo.deleteRenderbuffers(2, buffers);
    framebuffer_ = colourBuffer_ = depthBuffer_ = 0;
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
        if (!hasExtensionName(reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)),
                              "GL_EXT_blend_func_separate"))
            return false;
        name = "glBlendFuncSeparateEXT";
    }
    auto blendFuncSeparate = reinterpret_cast<PFNGLBLENDFUNCSEPARATEPROC>(procAddress(name));
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
