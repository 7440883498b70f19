// Thumbnails: the framing that makes an icon fill its picture, and the thumbnail command as
// file managers and scripts run it.
#include <fstream>
#include <iterator>
#include <set>

#include "operations/archive_export.h"
#include "fixtures.h"
#include "gl_support.h"
#include "icon/icon_draw.h"
#include "view/model_framing.h"
#include "picture_support.h"

using namespace marrowin;
using namespace marrowin::gltest;

namespace {

const std::string CLI = MARROWIN_CLI;
const std::string DEMO = std::string(MARROWIN_SAMPLES) + "/demo.psu";

// An off-centre, lopsided box: framing must move it, not only scale it.
fixtures::ModelRecipe lopsidedModel() {
    fixtures::ModelRecipe m = fixtures::triangleModel();
    m.vertices.clear();
    for (int i = 0; i < 8; ++i) {
        fixtures::ModelVertex v;
        v.positions = {{int16_t(i & 1 ? 3 * 4096 : 4096), int16_t(i & 2 ? 2048 : -6000),
                        int16_t(i & 4 ? 8000 : 1000), 0}};
        m.vertices.push_back(v);
    }
    m.vertices.resize(9, m.vertices.back());
    return m;
}

class Framing : public GLFixture {};

// Every vertex, through the matrices the frame really loads, lands inside the picture, and
// the outermost one reaches the asked fill: the icon fills the picture whatever the turn.
TEST_F(Framing, PutsEveryVertexInsideThePictureAndFillsIt) {
    const fixtures::Bytes bytes = fixtures::iconSave({}, lopsidedModel());
    SaveImage image = fixtures::imageOf(bytes);
    selectIcon(view, image, settings.lights, 0);
    ASSERT_TRUE(view.currentModel);
    const IconModel& model = *view.currentModel;
    const ModelHeader header = readModelHeader(model);

    const float turns[][2] = {{0, 0}, {30, -20}, {90, 0}, {-135, 75}};
    for (const auto& turn : turns) {
        resetViewSettings(settings);
        settings.rotation[1] += turn[0];
        settings.rotation[0] += turn[1];
        const float fill = 0.8f;
        ASSERT_TRUE(frameModel(settings, model, 0, fill));
        applyProjection(settings);
        applyView(settings);
        const Matrix mvp = multiply(readMatrix(GL_PROJECTION_MATRIX), readMatrix(GL_MODELVIEW_MATRIX));
        double reach = 0;
        for (uint64_t i = 0; i < header.vertexCount; ++i) {
            Vertex v;
            ASSERT_TRUE(readVertex(model, header, i, 0, v));
            const float p[4] = {v.position[0] / 4096.0f, v.position[1] / 4096.0f,
                                v.position[2] / 4096.0f, 1};
            const auto clip = transform(mvp, p);
            ASSERT_GT(clip[3], 0) << "vertex behind the eye";
            const double x = clip[0] / clip[3], y = clip[1] / clip[3], z = clip[2] / clip[3];
            EXPECT_LE(std::fabs(x), fill + 1e-4);
            EXPECT_LE(std::fabs(y), fill + 1e-4);
            EXPECT_GT(z, -1);  // between the near and far planes
            EXPECT_LT(z, 1);
            reach = std::max({reach, std::fabs(x), std::fabs(y)});
        }
        EXPECT_NEAR(reach, fill, 1e-3) << "turn " << turn[0] << ", " << turn[1];
    }
}

TEST_F(Framing, LeavesTheViewAloneWithoutVerticesToFrame) {
    fixtures::ModelRecipe none = fixtures::triangleModel();
    none.vertices.clear();
    const fixtures::Bytes bytes = fixtures::iconSave({}, none);
    SaveImage image = fixtures::imageOf(bytes);
    const IconModel model{&image, *findFileEntry(image, "icon.icn")};
    const ViewSettings before = settings;
    EXPECT_FALSE(frameModel(settings, model, 0));
    EXPECT_FALSE(frameModel(settings, IconModel{&image, *findFileEntry(image, "icon.sys")}, 7));
    EXPECT_EQ(std::memcmp(&before, &settings, sizeof settings), 0);
}

// Thumbnails are drawn at several samples a pixel and box-filtered down in plain C++, so
// every host gives the same pixels.
TEST(Smoothing, SamplesShrinkToTheirMeanWithoutDarkeningEdges) {
    struct Row {
        const char* what;
        uint32_t factor;
        std::vector<uint8_t> block;  // one pixel's samples, row by row
        std::array<uint8_t, 4> expected;
    };
    const std::vector<uint8_t> white = {255, 255, 255, 255}, clear = {0, 0, 0, 0};
    const auto join = [](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> out;
        for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    std::vector<uint8_t> oneOfSixteen(16 * 4, 0);
    oneOfSixteen[3] = 255;
    const Row rows[] = {
        {"one sample", 1, {10, 20, 30, 40}, {10, 20, 30, 40}},
        {"uniform opaque", 2, join({{9, 99, 199, 255}, {9, 99, 199, 255}, {9, 99, 199, 255},
                                    {9, 99, 199, 255}}), {9, 99, 199, 255}},
        // Premultiplied: half covered white is half of white, which is white again once
        // the colour is divided by the alpha.
        {"half covered", 2, join({white, clear, clear, white}), {128, 128, 128, 128}},
        {"rounded to nearest", 4, oneOfSixteen, {0, 0, 0, 16}},
        {"three quarters", 2, join({white, white, white, {0, 0, 0, 0}}), {191, 191, 191, 191}},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> out;
        shrinkPicture(row.block, 1, 1, row.factor, out);
        ASSERT_EQ(out.size(), 4u) << row.what;
        EXPECT_EQ((std::array<uint8_t, 4>{out[0], out[1], out[2], out[3]}), row.expected) << row.what;
    }
}

TEST(Smoothing, EachPixelTakesItsOwnBlockAndShortInputGivesNothing) {
    // 3 x 2 pixels from 6 x 4 samples: every sample holds its pixel's index in red, its
    // column in green and its row in blue.
    const uint32_t w = 3, h = 2, f = 2;
    std::vector<uint8_t> large(size_t(w) * f * h * f * 4);
    for (uint32_t y = 0; y < h * f; ++y)
        for (uint32_t x = 0; x < w * f; ++x) {
            uint8_t* s = &large[(size_t(y) * w * f + x) * 4];
            s[0] = uint8_t(10 * ((y / f) * w + x / f));
            s[1] = uint8_t(x / f);
            s[2] = uint8_t(y / f);
            s[3] = 255;
        }
    std::vector<uint8_t> out;
    shrinkPicture(large, w, h, f, out);
    ASSERT_EQ(out.size(), size_t(w) * h * 4);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* p = &out[(size_t(y) * w + x) * 4];
            EXPECT_EQ(p[0], 10 * (y * w + x));
            EXPECT_EQ(p[1], x);
            EXPECT_EQ(p[2], y);
        }
    large.pop_back();
    shrinkPicture(large, w, h, f, out);
    EXPECT_EQ(out, std::vector<uint8_t>(size_t(w) * h * 4, 0)) << "short input is not read past";
}

TEST(Smoothing, SurfaceStaysWithinItsBound) {
    const struct {
        uint32_t width, height, factor;
    } rows[] = {{1, 1, 4},       {128, 128, 4},  {256, 256, 4},  {512, 512, 4},
                {513, 513, 2},   {1024, 1024, 2}, {1025, 1025, 1}, {4096, 4096, 1},
                {300, 600, 2},   {2048, 1, 1},   {16384, 16384, 1}, {0, 0, 4}};
    for (const auto& row : rows) {
        const uint32_t f = smoothingFactor(row.width, row.height);
        EXPECT_EQ(f, row.factor) << row.width << "x" << row.height;
        if (f > 1) {
            EXPECT_LE(std::max(row.width, row.height) * f, SMOOTH_SURFACE_SIDE);
        }
    }
}

struct Coverage {
    uint32_t left = UINT32_MAX, top = UINT32_MAX, right = 0, bottom = 0;
    size_t opaque = 0, clear = 0;
};
Coverage coverageOf(const Picture& p) {
    Coverage c;
    for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x) {
            const uint8_t a = p.rgba[(size_t(y) * p.width + x) * 4 + 3];
            if (a == 0) {
                ++c.clear;
                continue;
            }
            ++c.opaque;
            c.left = std::min(c.left, x);
            c.right = std::max(c.right, x);
            c.top = std::min(c.top, y);
            c.bottom = std::max(c.bottom, y);
        }
    return c;
}

std::string writeSave(const TempDir& dir, const std::string& name, const fixtures::Bytes& b) {
    const std::string path = dir.path + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return path;
}

// Real icon files as people keep them: packed into an archive named after the folder.
std::string packedRealIcon(const TempDir& dir, const std::string& name, const char* descriptor,
                           const char* model, const char* modelName) {
    const std::string folder = dir.path + "/" + name;
    std::filesystem::create_directory(folder);
    std::filesystem::copy_file(fixtures::testDataPath(model), folder + "/" + modelName);
    std::filesystem::copy_file(fixtures::testDataPath(descriptor), folder + "/icon.sys");
#ifdef _WIN32
    EXPECT_TRUE(packFolder(folder, HostFolder(dir.path)).ok);
#else
    const int dirFd = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_TRUE(packFolder(folder, dirFd).ok);
    close(dirFd);
#endif
    return folder + ".psu";
}
std::string packedOpl(const TempDir& dir) {
    return packedRealIcon(dir, "OPL", "opl-icon.sys", "opl.icn", "opl.icn");
}
// Its descriptor names my.icn.
std::string packedDefaultIcon(const TempDir& dir) {
    return packedRealIcon(dir, "DEFAULT", "default-icon.sys", "default-icon.icn", "my.icn");
}

TEST(ThumbnailCommand, DrawsTheIconCentredAndFillingATransparentSquare) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    for (const std::string& save : {DEMO, packedOpl(dir)}) {
        const std::string out = dir.path + "/thumb.png";
        ASSERT_EQ(run(CLI + " thumbnail '" + save + "' '" + out + "'"), 0) << save;
        const Picture p = loadPng(out);
        ASSERT_EQ(p.width, 256u);
        ASSERT_EQ(p.height, 256u);
        const Coverage c = coverageOf(p);
        EXPECT_GT(c.clear, 0u) << "the backdrop is transparent";
        EXPECT_GT(c.opaque, size_t(256 * 256 / 20)) << save;
        const uint32_t w = c.right - c.left + 1, h = c.bottom - c.top + 1;
        EXPECT_GE(std::max(w, h), 200u) << save << ": the icon fills the picture";
        EXPECT_LE(std::max(w, h), 245u) << save << ": with a margin";
        EXPECT_NEAR((c.left + c.right) / 2.0, 127.5, 16) << save;
        EXPECT_NEAR((c.top + c.bottom) / 2.0, 127.5, 16) << save;
        std::filesystem::remove(out);
    }
}

// The freedesktop contract: OUTPUT is written (replacing what the file manager left there)
// only for a picture, and the exit code says whether there is one.
std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ThumbnailCommand, WritesOutputOnlyForASaveWithAnIcon) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    const std::string out = dir.path + "/t.png";
    std::ofstream(out) << "stale";
    ASSERT_EQ(run(CLI + " thumbnail -s 64 '" + DEMO + "' '" + out + "'"), 0);
    EXPECT_EQ(loadPng(out).width, 64u);

    const std::string junk = writeSave(dir, "junk.psu", fixtures::Bytes(4096, 'x'));
    // The descriptor names a normal icon that the save does not hold.
    fixtures::ArchiveBuilder noIcon("BASLUS-20000SAVE");
    fixtures::DescriptorRecipe names;
    names.iconNames[0] = "missing.icn";
    noIcon.file("icon.sys", fixtures::buildDescriptor(names));
    noIcon.file("icon.icn", fixtures::buildModel(fixtures::triangleModel()));
    const std::string iconless = writeSave(dir, "iconless.psu", noIcon.build());
    // A model with no triangles draws nothing: no blank thumbnail.
    fixtures::ModelRecipe empty = fixtures::triangleModel();
    empty.vertices.clear();
    const std::string blank = writeSave(dir, "blank.psu", fixtures::iconSave({}, empty));
    for (const std::string& bad : {junk, iconless, blank, dir.path + "/none.psu", dir.path}) {
        const std::string fresh = dir.path + "/fresh.png";
        EXPECT_EQ(run(CLI + " thumbnail '" + bad + "' '" + fresh + "' 2>/dev/null"), 1) << bad;
        EXPECT_FALSE(std::filesystem::exists(fresh)) << bad;
        std::filesystem::remove(fresh);
    }
    for (const char* args : {"-s 0", "-s 4097", "-s x", "--bogus"})
        EXPECT_EQ(run(CLI + " thumbnail " + args + " '" + DEMO + "' '" + out + "' 2>/dev/null"), 2)
            << args;
    EXPECT_EQ(run(CLI + " thumbnail '" + DEMO + "' 2>/dev/null"), 2);
    EXPECT_EQ(run(CLI + " thumbnail '" + DEMO + "' a.png b.png 2>/dev/null"), 2);
    EXPECT_EQ(run("env -u DISPLAY -u WAYLAND_DISPLAY " + CLI + " thumbnail -s 32 '" + DEMO +
                  "' '" + out + "'"),
              0);
    // A file that is no save is refused before OpenGL starts (the costly part of a picture):
    // with no EGL driver at all it is still told apart from a save that cannot be drawn.
    const std::string noEgl = "env __EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json " + CLI + " thumbnail ";
    const std::string said = dir.path + "/said.txt";
    EXPECT_EQ(run(noEgl + "'" + junk + "' '" + dir.path + "/j.png' 2>'" + said + "'"), 1);
    EXPECT_NE(readAll(said).find("not a save archive"), std::string::npos) << readAll(said);
    EXPECT_EQ(run(noEgl + "'" + DEMO + "' '" + dir.path + "/d.png' 2>'" + said + "'"), 1);
    EXPECT_NE(readAll(said).find("cannot render"), std::string::npos) << readAll(said);
}

// A real card's first folder is the console's own, whose icon.sys names icons the console keeps
// in ROM: a card is drawn as its first save whose icon can be drawn.
TEST(ThumbnailCommand, ACardIsDrawnAsItsFirstSaveWithAnIcon) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    const std::string system = packedRealIcon(dir, "BEDATA-SYSTEM", "opl-icon_J.sys", "opl.icn", "history");
    const std::string opl = packedOpl(dir);
    const std::string card = dir.path + "/mc01.ps2";
    ASSERT_EQ(run(CLI + " card format '" + card + "' >/dev/null"), 0);
    ASSERT_EQ(run(CLI + " card import '" + card + "' '" + system + "' '" + opl + "' >/dev/null"), 0);
    const std::string out = dir.path + "/card.png";
    ASSERT_EQ(run(CLI + " thumbnail -s 64 '" + card + "' '" + out + "'"), 0);
    EXPECT_EQ(loadPng(out).width, 64u);
    EXPECT_GT(coverageOf(loadPng(out)).opaque, 0u);
}

// Two overlapping triangles with vertex alpha below full, the farther one drawn first, on a
// textured white.
fixtures::ModelRecipe translucentModel() {
    fixtures::ModelRecipe m = fixtures::triangleModel();
    m.vertices.clear();
    const auto triangle = [&](int16_t dx, int16_t z, std::array<uint8_t, 4> colour) {
        const int16_t corners[3][2] = {{0, -4096}, {-4096, 4096}, {4096, 4096}};
        for (int k = 0; k < 3; ++k) {
            fixtures::ModelVertex v;
            v.positions = {{int16_t(corners[k][0] + dx), corners[k][1], z, 0}};
            v.colour = colour;
            m.vertices.push_back(v);
        }
    };
    triangle(-2048, 2048, {128, 40, 20, 64});  // alpha 0.5
    triangle(2048, -2048, {20, 60, 128, 96});  // alpha 0.75, nearer
    return m;
}

// What the window shows of a save, framed as a thumbnail is: its own steps, on its background.
Picture windowPaintOf(const std::string& path, uint32_t side, Rgba& background) {
    Picture out;
    std::string error;
    auto surface = OffscreenRenderer::create(side, side, error);
    EXPECT_TRUE(surface) << error;
    if (!surface) return out;
    const fixtures::Bytes bytes = fixtures::readFileBytes(path);
    SaveImage image = fixtures::imageOf(bytes);
    ViewSettings settings = initialViewSettings();
    FrameState frame;
    IconView view;
    std::vector<uint8_t> texture(TEXTURE_BUFFER_BYTES);
    view.textureImage = texture.data();
    initGLState(settings);
    resizeView(frame, settings, side, side);
    selectIcon(view, image, settings.lights, 0);
    EXPECT_TRUE(view.currentModel) << path;
    if (!view.currentModel) return out;
    EXPECT_TRUE(frameModel(settings, *view.currentModel, 0));
    finishFrame(settings, *surface);
    paintFrame(frame, settings, view, *surface);
    background = backgroundOf(settings);
    out.width = out.height = side;
    out.rgba = surface->readFrontBuffer();
    return out;
}

// Thumbnails used to keep a^2 as the alpha of an icon drawn with alpha a (alpha blended like
// colour into a transparent buffer), so file managers showed a fainter, different figure.
// Laid "over" the window's background, a thumbnail must be the window's own picture, drawn at
// the thumbnail's samples a pixel and filtered down as the thumbnail is.
TEST(ThumbnailCommand, OverTheWindowsBackgroundIsTheWindowsPicture) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    const std::string translucent =
        writeSave(dir, "translucent.psu", fixtures::iconSave({}, translucentModel()));
    const uint32_t side = 96;
    const uint32_t factor = smoothingFactor(side, side);
    ASSERT_GT(factor, 1u);
    for (const std::string& save : {translucent, packedOpl(dir), packedDefaultIcon(dir)}) {
        const std::string out = dir.path + "/thumb.png";
        ASSERT_EQ(run(CLI + " thumbnail -s 96 '" + save + "' '" + out + "'"), 0) << save;
        const Picture thumb = loadPng(out);
        Rgba bg{};
        const Picture large = windowPaintOf(save, side * factor, bg);
        std::vector<uint8_t> window;
        shrinkPicture(large.rgba, side, side, factor, window);
        ASSERT_EQ(thumb.rgba.size(), window.size()) << save;
        const uint8_t backdrop[3] = {bg.r, bg.g, bg.b};
        size_t partial = 0, worst = 0, inside = 0, outside = 0;
        std::set<int> alphas;  // of pixels the icon covers wholly
        for (uint32_t y = 0; y < side; ++y)
            for (uint32_t x = 0; x < side; ++x) {
                const size_t i = (size_t(y) * side + x) * 4;
                const int a = thumb.rgba[i + 3];
                partial += a != 0 && a != 255;
                for (int c = 0; c < 3; ++c) {
                    const int over = (thumb.rgba[i + c] * a + backdrop[c] * (255 - a) + 127) / 255;
                    worst = std::max(worst, size_t(std::abs(over - int(window[i + c]))));
                }
                // Samples of this pixel where the window shows its bare background.
                uint32_t bare = 0;
                for (uint32_t sy = 0; sy < factor; ++sy)
                    for (uint32_t sx = 0; sx < factor; ++sx) {
                        const uint8_t* s =
                            &large.rgba[((size_t(y) * factor + sy) * large.width + x * factor + sx) * 4];
                        bare += s[0] == bg.r && s[1] == bg.g && s[2] == bg.b;
                    }
                if (bare == factor * factor) {
                    ++outside;
                    EXPECT_EQ(a, 0) << save << " at " << x << "," << y << ": nothing drawn there";
                } else if (bare == 0) {
                    ++inside;
                    alphas.insert(a);
                }
            }
        EXPECT_LE(worst, 3u) << save << ": the thumbnail over the background differs from the window";
        EXPECT_GT(inside, 0u) << save;
        EXPECT_GT(outside, 0u) << save;
        EXPECT_GT(partial, 0u) << save << ": the edges take partial coverage";
        if (save == translucent) {
            // One triangle alone, the near one alone, and both: 0.5, 0.75, 0.75 + 0.25 x 0.5.
            for (int a : {128, 191, 223})
                EXPECT_TRUE(alphas.count(a) || alphas.count(a + 1) || alphas.count(a - 1))
                    << "no pixel of alpha " << a;
            EXPECT_FALSE(alphas.count(64)) << "alpha squared";
        } else {
            EXPECT_EQ(alphas, std::set<int>{255}) << save << ": an opaque icon stays opaque inside";
        }
        std::filesystem::remove(out);
    }
}

// Jagged edges at the sizes file managers ask for were the complaint: the demo's silhouette
// blends into the background there, while its body stays opaque.
TEST(ThumbnailCommand, TheDemosEdgesAreSmoothAtCommonSizes) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    for (uint32_t side : {128u, 256u}) {
        const std::string out = dir.path + "/thumb.png";
        ASSERT_EQ(run(CLI + " thumbnail -s " + std::to_string(side) + " '" + DEMO + "' '" + out + "'"),
                  0);
        const Picture p = loadPng(out);
        ASSERT_EQ(p.width, side);
        size_t partial = 0, opaque = 0, edge = 0;
        for (uint32_t y = 1; y + 1 < side; ++y)
            for (uint32_t x = 1; x + 1 < side; ++x) {
                const auto alpha = [&](uint32_t px, uint32_t py) {
                    return p.rgba[(size_t(py) * side + px) * 4 + 3];
                };
                const uint8_t a = alpha(x, y);
                partial += a != 0 && a != 255;
                opaque += a == 255;
                // Drawn pixels beside a bare one: the silhouette.
                edge += a != 0 && (alpha(x - 1, y) == 0 || alpha(x + 1, y) == 0 ||
                                   alpha(x, y - 1) == 0 || alpha(x, y + 1) == 0);
            }
        EXPECT_GT(opaque, size_t(side) * side / 10) << side;
        ASSERT_GT(edge, 0u) << side;
        // Most of the silhouette takes partial alpha (steps along level edges may not).
        EXPECT_GT(partial, edge / 2) << side << ": " << partial << " partial, " << edge << " on the edge";
    }
}

TEST(ThumbnailCommand, BatchCarriesOnPastBadInputsAndNeverReplaces) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    const std::string junk = writeSave(dir, "junk.PSU", fixtures::Bytes(100, 0));
    const std::string outDir = dir.path + "/thumbs";
    const std::string inputs = "'" + DEMO + "' '" + junk + "' '" + packedOpl(dir) + "'";
    EXPECT_EQ(run(CLI + " thumbnail -s 48 -d '" + outDir + "' " + inputs + " 2>/dev/null"), 1);
    EXPECT_EQ(loadPng(outDir + "/demo.png").width, 48u);
    EXPECT_EQ(loadPng(outDir + "/OPL.png").width, 48u);
    EXPECT_FALSE(std::filesystem::exists(outDir + "/junk.png"));

    // Again: every picture is there already and stays as it is.
    std::ofstream(outDir + "/demo.png") << "mine";
    EXPECT_EQ(run(CLI + " thumbnail -s 48 -d '" + outDir + "' '" + DEMO + "' 2>/dev/null"), 1);
    std::ifstream kept(outDir + "/demo.png");
    std::string text;
    kept >> text;
    EXPECT_EQ(text, "mine");
}

}  // namespace
