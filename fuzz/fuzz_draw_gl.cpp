// Draws every file entry of a save image as an icon model into a small off-screen frame, then
// selects the three icons the way the window does: every read of the drawing and of the
// texture decoding must stay inside the image.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "archive/save_image.h"
#include "icon/icon_draw.h"
#include "icon/icon_model.h"
#include "view/gl_frame.h"
#include "view/offscreen_egl.h"

namespace {

using namespace marrowin;

constexpr uint32_t SIDE = 64;
// Bounds the work per input: each drawn entry costs up to (input size / 16) vertices.
constexpr int MAX_ENTRIES_DRAWN = 8;

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    OffscreenRenderer* out = surface();
    SaveImage image = makeSaveImage(data, uint32_t(size));
    if (image.empty()) return 0;

    ViewSettings settings = initialViewSettings();
    FrameState frame;
    std::vector<uint8_t> texture(TEXTURE_BUFFER_BYTES);
    IconView view;
    view.textureImage = texture.data();
    initGLState(settings);
    resizeView(frame, settings, SIDE, SIDE);
    view.animation.paintsPerStep = 1;

    int drawn = 0;
    walkFileEntries(image, [&](const FileEntry& e) {
        view.currentModel = IconModel{&image, e.dataOffset};
        decodeTexture(*view.currentModel, texture.data());
        paintFrame(frame, settings, view, *out);
        paintFrame(frame, settings, view, *out);  // the next shape as well
        return ++drawn < MAX_ENTRIES_DRAWN;
    });

    for (int icon = 0; icon < 3; ++icon) {
        selectIcon(view, image, settings, icon);
        paintFrame(frame, settings, view, *out);
    }
    view.currentModel.reset();
    return 0;
}
