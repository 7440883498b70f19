#pragma once
// Rendering without a display: an OpenGL context on Mesa's surfaceless EGL platform (on
// Windows, a hidden window's WGL context), drawing into a framebuffer object that stands in
// for the window's back buffer.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "view/gl_frame.h"

namespace marrowin {

class OffscreenRenderer : public RenderSurface {
public:
    // The largest picture side it makes, either way.
    static constexpr uint32_t MAX_SIDE = 16384;

    // Makes a context with a width x height RGBA8 colour buffer and a 16-bit depth buffer and
    // makes it current on this thread. Gives nullptr and a reason when that is not possible.
    static std::unique_ptr<OffscreenRenderer> create(uint32_t width, uint32_t height,
                                                     std::string& error);
    ~OffscreenRenderer() override;
    OffscreenRenderer(const OffscreenRenderer&) = delete;
    OffscreenRenderer& operator=(const OffscreenRenderer&) = delete;

    // The "swap": copies the back buffer into the front pixels. The back buffer keeps its
    // contents until the frame clears it, as a copying swap would.
    void swapBuffers() override;

    // What would be on screen after the last swap: RGBA, rows top-down, width x height x 4
    // bytes. All zero before the first swap.
    const std::vector<uint8_t>& readFrontBuffer() const { return front_; }
    // The back buffer as it is now, same layout.
    std::vector<uint8_t> readBackBuffer() const;

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    // GL_RENDERER and GL_VERSION of the context, for reports.
    std::string rendererName() const;

    // Makes this renderer's context current again (when several exist on one thread).
    bool makeCurrent();

    // For pictures on a transparent background: colours blend as the window's do, while alpha
    // adds up as coverage (source + destination x (1 - source alpha)) instead of being
    // blended by itself. Cleared to transparent black, the buffer then holds the picture with
    // premultiplied colour, which laid over any background gives the window's frame on that
    // background. False when the context cannot blend alpha apart from colour.
    bool blendAlphaAsCoverage();

    // An entry point of the current context by name (the host's GetProcAddress).
    static void* procAddress(const char* name);

private:
    OffscreenRenderer() = default;
    // Shared by the hosts (offscreen_gl.cpp): the size check before anything is made; the
    // renderer around a context made current (nullptr and a reason when its framebuffer
    // cannot be had, the context then released); the framebuffer object standing in for the
    // back buffer, and its release.
    static bool sizeAllowed(uint32_t width, uint32_t height, std::string& error);
    static std::unique_ptr<OffscreenRenderer> adopt(void* display, void* context, uint32_t width,
                                                    uint32_t height, std::string& error);
    bool makeFramebuffer(std::string& error);
    void releaseFramebuffer();
    void readInto(std::vector<uint8_t>& out) const;

    void* display_ = nullptr;
    void* context_ = nullptr;
    uint32_t framebuffer_ = 0;
    uint32_t colourBuffer_ = 0;
    uint32_t depthBuffer_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    std::vector<uint8_t> front_;
};

// Samples per pixel side for a smooth picture of width x height: 4, or fewer where the drawn
// surface would pass SMOOTH_SURFACE_SIDE (1 for pictures larger than half of it).
constexpr uint32_t SMOOTH_SURFACE_SIDE = 2048;
uint32_t smoothingFactor(uint32_t width, uint32_t height);

// Box-filters an RGBA picture of (width x factor) x (height x factor) down to width x height
// into `out`, each pixel the rounded mean of its factor x factor block. Colour must be
// premultiplied (or the picture opaque), so that edges blend towards clear without darkening.
void shrinkPicture(const std::vector<uint8_t>& large, uint32_t width, uint32_t height,
                   uint32_t factor, std::vector<uint8_t>& out);

// True when a space-separated extension list holds `name` as a whole word.
bool hasExtensionName(const char* list, const char* name);

}  // namespace marrowin
