// Paints per second of the frame at 800x600 off-screen (Mesa), for the demo save and for a
// large model made here (about 20,000 vertices, 8 shapes), and the time of one icon
// selection (texture decode and upload). The renderer string is printed as context.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <GL/gl.h>

#include "fixtures.h"
#include "icon/icon_draw.h"
#include "view/gl_frame.h"
#include "view/offscreen_egl.h"

namespace {

using namespace marrowin;
using namespace marrowin::fixtures;

const std::string DEMO = std::string(MARROWIN_TEST_DATA) + "/../../samples/demo.psu";

// A closed-looking shell of `triangles` small triangles scattered over a sphere (as a real
// icon's mesh is made of small faces), `shapes` poses that pulse in size, and a run-length
// coded texture.
Bytes largeModelSave(uint32_t triangles, uint32_t shapes) {
    ModelRecipe m;
    m.shapeCount = shapes;
    m.textureType = 0x0E;
    m.vertices.resize(size_t(triangles) * 3);
    for (size_t t = 0; t < triangles; ++t) {
        // Spread the faces evenly (golden-angle spiral).
        const double cy = 1.0 - 2.0 * (double(t) + 0.5) / triangles;
        const double ring = std::sqrt(1.0 - cy * cy), a = double(t) * 2.399963229728653;
        const double cx = ring * std::cos(a), cz = ring * std::sin(a);
        const double corner[3][2] = {{0.0, 0.06}, {-0.05, -0.03}, {0.05, -0.03}};
        for (int k = 0; k < 3; ++k) {
            const double x = cx + corner[k][0], y = cy + corner[k][1], z = cz;
            ModelVertex& v = m.vertices[t * 3 + k];
            for (uint32_t s = 0; s < shapes; ++s) {
                const double r = 3.0 + 0.25 * s;
                v.positions.push_back({int16_t(x * r * 4096), int16_t(y * r * 4096),
                                       int16_t(z * r * 4096), 0});
            }
            v.normal = {int16_t(cx * 4096), int16_t(cy * 4096), int16_t(cz * 4096), 0};
            v.uv = {int16_t((t % 64) * 64), int16_t((t / 64 % 64) * 64)};
            v.colour = {128, uint8_t(64 + t % 64), 96, uint8_t(t % 3 ? 128 : 0)};
        }
    }
    m.frameKeyCounts = {1};
    for (int run = 0; run < 128; ++run) rleRepeat(m.texture, 128, uint16_t(run * 0x0421));
    return iconSave({}, m);
}

struct Scene {
    std::unique_ptr<OffscreenRenderer> surface;
    ViewSettings settings{};
    FrameState frame;
    IconView view;
    std::vector<uint8_t> texture = std::vector<uint8_t>(TEXTURE_BUFFER_BYTES);
    SaveImage image;

    bool open(const Bytes& bytes, benchmark::State& state) {
        std::string error;
        surface = OffscreenRenderer::create(800, 600, error);
        if (!surface) {
            state.SkipWithError(error.c_str());
            return false;
        }
        image = imageOf(bytes);
        settings = initialViewSettings();
        view.textureImage = texture.data();
        initGLState(settings);
        resizeView(frame, settings, 800, 600);
        selectIcon(view, image, settings.lights, 0);
        if (!view.currentModel) {
            state.SkipWithError("no icon");
            return false;
        }
        state.SetLabel(surface->rendererName());
        return true;
    }
};

void paintLoop(benchmark::State& state, const Bytes& bytes) {
    Scene scene;
    if (!scene.open(bytes, state)) return;
    const uint64_t vertices = readableVertexCount(*scene.view.currentModel,
                                                  readModelHeader(*scene.view.currentModel));
    for (auto _ : state) paintFrame(scene.frame, scene.settings, scene.view, *scene.surface);
    // The swap reads the frame back, which the window's buffer swap would not; that cost is
    // part of every figure here.
    state.counters["paints_per_s"] = benchmark::Counter(double(state.iterations()),
                                                        benchmark::Counter::kIsRate);
    state.counters["vertices"] = double(vertices);
}

void BM_PaintDemo(benchmark::State& state) { paintLoop(state, readFileBytes(DEMO)); }
BENCHMARK(BM_PaintDemo)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PaintLargeModel(benchmark::State& state) {
    paintLoop(state, largeModelSave(6700, 8));
}
BENCHMARK(BM_PaintLargeModel)->Unit(benchmark::kMillisecond)->UseRealTime();

// The cost of the read-back alone, to subtract from the paint figures.
void BM_EmptyFrame(benchmark::State& state) {
    std::string error;
    auto surface = OffscreenRenderer::create(800, 600, error);
    if (!surface) return state.SkipWithError(error.c_str());
    ViewSettings settings = initialViewSettings();
    FrameState frame;
    IconView view;
    initGLState(settings);
    resizeView(frame, settings, 800, 600);
    for (auto _ : state) paintFrame(frame, settings, view, *surface);
    state.counters["paints_per_s"] = benchmark::Counter(double(state.iterations()),
                                                        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EmptyFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void selectLoop(benchmark::State& state, const Bytes& bytes) {
    Scene scene;
    if (!scene.open(bytes, state)) return;
    for (auto _ : state) {
        selectIcon(scene.view, scene.image, scene.settings.lights, 0);
        glFinish();  // the upload is done when the driver has it
    }
}
void BM_SelectIconDemo(benchmark::State& state) { selectLoop(state, readFileBytes(DEMO)); }
BENCHMARK(BM_SelectIconDemo)->Unit(benchmark::kMicrosecond)->UseRealTime();
void BM_SelectIconLargeModel(benchmark::State& state) {
    selectLoop(state, largeModelSave(6700, 8));
}
BENCHMARK(BM_SelectIconLargeModel)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
