// Draws the file entries of a save image as icon models into a small off-screen frame, then
// selects the three icons the way the window does: every read of the drawing and of the
// texture decoding must stay inside the image.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/save_image.h"
#include "icon/icon_descriptor.h"
#include "icon/icon_draw.h"
#include "icon/icon_model.h"
#include "view/gl_frame.h"
#include "view/offscreen_egl.h"

namespace {

using namespace marrowin;

constexpr uint32_t SIDE = 64;
// Bounds the work per input: at most this many entries drawn (twice each), and no entry drawn
// whose vertices would take the input past this many.
constexpr int MAX_ENTRIES_DRAWN = 8;
constexpr uint64_t MAX_VERTICES_DRAWN = 1 << 16;

// Frames in between are flushed (llvmpipe draws them) but not read back: only the last frame
// of each input goes through the renderer's swap.
struct UnreadSurface : RenderSurface {
    void swapBuffers() override {}
};

OffscreenRenderer* surface() {
    static std::unique_ptr<OffscreenRenderer> renderer = [] {
        std::string error;
        auto r = OffscreenRenderer::create(SIDE, SIDE, error);
        if (!r) {
            std::fprintf(stderr, "fuzz_draw_gl: %s\n", error.c_str());
            std::abort();
        }
        ViewSettings settings = initialViewSettings();
        initGLState(settings);
        return r;
    }();
    return renderer.get();
}

}  // namespace

// llvmpipe rasterizes in the calling thread: with its worker threads a frame this small spends
// most of its time handing work between them. Set before the context is made; a value from
// the environment wins.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("LP_NUM_THREADS", "0", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    OffscreenRenderer* out = surface();
    static SaveImage image;
    // The shell's texture buffer, kept for the whole run.
    static uint8_t texture[TEXTURE_BUFFER_BYTES];
    if (!refillSaveImage(image, data, uint32_t(size))) return 0;

    ViewSettings settings = initialViewSettings();
    FrameState frame;
    IconView view;
    view.textureImage = texture;
    initGLState(settings);
    resizeView(frame, settings, SIDE, SIDE);
    view.animation.paintsPerStep = 1;

    // The icons are drawn below as the window selects them, textures decoded and uploaded;
    // the other entries draw here with whatever texture is bound (fuzz_save_image decodes
    // every entry's texture).
    std::optional<uint64_t> icons[3];
    for (int icon = 0; icon < 3; ++icon)
        icons[icon] = findFileEntry(image, readIconFileName(image, icon).c_str());
    UnreadSurface unread;
    int drawn = 0;
    uint64_t vertices = 0;
    walkFileEntries(image, [&](const FileEntry& e) {
        if (e.dataOffset == icons[0] || e.dataOffset == icons[1] || e.dataOffset == icons[2])
            return true;
        IconModel model{&image, e.dataOffset};
        ModelHeader h = readModelHeader(model);
        uint64_t n = readableVertexCount(model, h);
        if (n > MAX_VERTICES_DRAWN - vertices) return true;
        vertices += n;
        view.currentModel = model;
        paintFrame(frame, settings, view, unread);
        if (h.shapeCount > 1) paintFrame(frame, settings, view, unread);  // the next shape
        return ++drawn < MAX_ENTRIES_DRAWN;
    });

    // An icon that is the same entry as an earlier one (most saves name one file three
    // times) is not selected again.
    for (int icon = 0; icon < 3; ++icon) {
        bool again = false;
        for (int earlier = 0; earlier < icon; ++earlier)
            again = again || (icons[icon] && icons[icon] == icons[earlier]);
        if (again) continue;
        selectIcon(view, image, settings.lights, icon);
        paintFrame(frame, settings, view, unread);
    }
    // One frame per input is read back through the renderer's swap, which also waits for
    // everything drawn.
    finishFrame(settings, *out);
    view.currentModel.reset();
    return 0;
}
