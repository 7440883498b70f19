// Whole pictures: the demo save against golden images, and the render command.
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/host_files.h"
#include "fixtures.h"
#include "gl_support.h"
#include "picture_support.h"
#include "icon/icon_draw.h"
#include "view/png_io.h"

using namespace marrowin;
using namespace marrowin::gltest;

namespace {

const std::string DEMO = std::string(MARROWIN_SAMPLES) + "/demo.psu";
const std::string GOLDEN = std::string(MARROWIN_TEST_DATA) + "/golden/";

// The steps of the window (and of the render command) for one save, off-screen.
Picture renderSave(const std::string& path, int icon, uint32_t width, uint32_t height,
                   int paints) {
    Picture out;
    std::string error;
    auto surface = OffscreenRenderer::create(width, height, error);
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
    resizeView(frame, settings, width, height);
    selectIcon(view, image, settings.lights, icon);
    EXPECT_TRUE(view.currentModel);
    finishFrame(settings, *surface);
    for (int i = 0; i < paints; ++i) paintFrame(frame, settings, view, *surface);
    out.width = width;
    out.height = height;
    out.rgba = surface->readFrontBuffer();
    for (size_t i = 3; i < out.rgba.size(); i += 4) out.rgba[i] = 255;  // PNGs hold no alpha
    return out;
}

// Rasterisers may differ in a few edge pixels; the picture as a whole must match.
void expectSimilar(const Picture& actual, const Picture& expected, const std::string& what) {
    ASSERT_EQ(actual.width, expected.width) << what;
    ASSERT_EQ(actual.height, expected.height) << what;
    ASSERT_EQ(actual.rgba.size(), expected.rgba.size()) << what;
    double sum[3] = {0, 0, 0};
    size_t differing = 0;
    const size_t pixels = size_t(actual.width) * actual.height;
    for (size_t i = 0; i < pixels; ++i) {
        bool differs = false;
        for (int c = 0; c < 3; ++c) {
            const int d = std::abs(int(actual.rgba[4 * i + c]) - int(expected.rgba[4 * i + c]));
            sum[c] += d;
            differs |= d > 16;
        }
        differing += differs;
    }
    for (int c = 0; c < 3; ++c) EXPECT_LT(sum[c] / pixels, 0.5) << what << " channel " << c;
    EXPECT_LT(double(differing) / pixels, 0.002) << what << ": " << differing << " pixels differ";
}

// A picture with alpha as two opaque ones: laid over mid grey, and its alpha as grey.
std::array<Picture, 2> overGreyAndAlpha(const Picture& p) {
    std::array<Picture, 2> out{p, p};
    for (size_t i = 0; i < p.rgba.size(); i += 4) {
        const int a = p.rgba[i + 3];
        for (int c = 0; c < 3; ++c) {
            out[0].rgba[i + c] = uint8_t((p.rgba[i + c] * a + 128 * (255 - a) + 127) / 255);
            out[1].rgba[i + c] = uint8_t(a);
        }
        out[0].rgba[i + 3] = out[1].rgba[i + 3] = 255;
    }
    return out;
}

}  // namespace

TEST(Golden, DemoIconsMatchTheirPictures) {
    const char* names[3] = {"normal", "copy", "delete"};
    for (int icon = 0; icon < 3; ++icon) {
        const std::string golden = GOLDEN + "demo-" + names[icon] + ".png";
        expectSimilar(renderSave(DEMO, icon, 320, 240, 1), loadPng(golden), golden);
    }
}

TEST(Golden, DemoAnimationMatchesAfterSevenPaints) {
    const std::string golden = GOLDEN + "demo-normal-paint7.png";
    const Picture seventh = renderSave(DEMO, 0, 320, 240, 7);
    expectSimilar(seventh, loadPng(golden), golden);
    // The shape changed on the way: the first frame is a different picture.
    const Picture first = loadPng(GOLDEN + "demo-normal.png");
    EXPECT_NE(first.rgba, seventh.rgba);
}

// The thumbnail, drawn at several samples a pixel and filtered down: colour and coverage.
TEST(Golden, DemoThumbnailMatchesItsPicture) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    const std::string out = dir.path + "/thumb.png";
    ASSERT_EQ(run(std::string(MARROWIN_CLI) + " thumbnail -s 128 '" + DEMO + "' '" + out + "'"), 0);
    const std::string golden = GOLDEN + "demo-thumbnail-128.png";
    const auto actual = overGreyAndAlpha(loadPng(out));
    const auto expected = overGreyAndAlpha(loadPng(golden));
    expectSimilar(actual[0], expected[0], golden + " over grey");
    expectSimilar(actual[1], expected[1], golden + " alpha");
}

TEST(Golden, DemoFrameShowsTheIconOnTheBackground) {
    const Picture p = renderSave(DEMO, 0, 320, 240, 1);
    ASSERT_EQ(p.rgba.size(), size_t(320) * 240 * 4);
    auto at = [&](int x, int y) { return p.rgba.data() + (size_t(y) * 320 + x) * 4; };
    EXPECT_EQ(at(0, 0)[0], 58);  // corners: background
    EXPECT_EQ(at(319, 239)[2], 164);
    size_t icon = 0;
    for (size_t i = 0; i < p.rgba.size(); i += 4)
        icon += !(p.rgba[i] == 58 && p.rgba[i + 1] == 110 && p.rgba[i + 2] == 164);
    EXPECT_GT(icon, size_t(320 * 240 / 50));  // the icon covers a fair part of the view
}

TEST(RenderCommand, WritesThePictureTheViewShows) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    const std::string out = dir.path + "/demo.png";
    ASSERT_EQ(run(std::string(MARROWIN_CLI) + " render --size 320x240 -o '" + out + "' '" +
                  DEMO + "' >/dev/null"),
              0);
    expectSimilar(loadPng(out), renderSave(DEMO, 0, 320, 240, 1), "render command");
}

TEST(RenderCommand, NamedOutputIsReplacedDefaultOutputNever) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    const std::string cli = std::string(MARROWIN_CLI);
    const std::string named = dir.path + "/named.png";
    std::ofstream(named) << "old";
    EXPECT_EQ(run(cli + " render --size 8x8 -o '" + named + "' '" + DEMO + "' >/dev/null"), 0);
    EXPECT_EQ(loadPng(named).width, 8u);

    const std::string defaultOut = dir.path + "/render.png";
    std::ofstream(defaultOut) << "keep";
    EXPECT_EQ(run("cd '" + dir.path + "' && " + cli + " render '" + DEMO + "' 2>/dev/null"), 1);
    std::ifstream kept(defaultOut);
    std::string text;
    kept >> text;
    EXPECT_EQ(text, "keep");
}

TEST(RenderCommand, RefusesWithoutWritingAFile) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    const std::string cli = std::string(MARROWIN_CLI);
    const std::string out = dir.path + "/out.png";

    // Not a save archive.
    const std::string junk = dir.path + "/junk.psu";
    std::ofstream(junk) << std::string(2048, 'x');
    EXPECT_EQ(run(cli + " render -o '" + out + "' '" + junk + "' 2>/dev/null"), 1);

    // A save whose copy icon names no file.
    fixtures::DescriptorRecipe d;
    d.iconNames[1] = "nothing.icn";
    const fixtures::Bytes save = fixtures::iconSave(d);
    const std::string saveFile = dir.path + "/save.psu";
    std::ofstream(saveFile, std::ios::binary)
        .write(reinterpret_cast<const char*>(save.data()), std::streamsize(save.size()));
    EXPECT_EQ(run(cli + " render --icon copy -o '" + out + "' '" + saveFile + "' 2>/dev/null"), 1);
    EXPECT_EQ(run(cli + " render --icon normal --size 16x16 -o '" + out + "' '" + saveFile +
                  "' >/dev/null"),
              0);
    std::filesystem::remove(out);

    for (const char* args : {"--size 0x10", "--size 16384x16385", "--size 10", "--paint 0",
                             "--icon big", "--paint -1", "--bogus"}) {
        EXPECT_EQ(run(cli + " render " + args + " -o '" + out + "' '" + saveFile + "' 2>/dev/null"),
                  2)
            << args;
    }
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path)) files += e.path() == out;
    EXPECT_EQ(files, 0u);
}

TEST(RenderCommand, RunsWithoutADisplay) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    EXPECT_EQ(run("env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(MARROWIN_CLI) +
                  " render --size 16x16 -o '" + dir.path + "/x.png' '" + DEMO + "' >/dev/null"),
              0);
}

namespace {

bool samePixels(const Picture& a, const Picture& b) { return a.rgba == b.rgba; }

TEST(RenderCommand, FramesAreTheSuccessivePaintsOfTheAnimation) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    const std::string out = dir.path + "/anim";
    ASSERT_EQ(run(std::string(MARROWIN_CLI) + " render --size 160x120 --frames 5 --out-dir '" +
                  out + "' '" + DEMO + "' >/dev/null"),
              0);
    std::vector<Picture> frames;
    for (int f = 1; f <= 5; ++f) frames.push_back(loadPng(out + "/demo-000" + std::to_string(f) + ".png"));
    EXPECT_FALSE(std::filesystem::exists(out + "/demo-0006.png"));
    // The first shape shows for three paints, the second from the fourth on.
    EXPECT_TRUE(samePixels(frames[0], frames[2]));
    EXPECT_FALSE(samePixels(frames[2], frames[3]));
    expectSimilar(frames[0], renderSave(DEMO, 0, 160, 120, 1), "frame 1");
    expectSimilar(frames[3], renderSave(DEMO, 0, 160, 120, 4), "frame 4");

    // Running again replaces nothing.
    EXPECT_EQ(run(std::string(MARROWIN_CLI) + " render --frames 2 --out-dir '" + out + "' '" +
                  DEMO + "' 2>/dev/null"),
              1);
    EXPECT_EQ(loadPng(out + "/demo-0001.png").width, 160u);
}

TEST(RenderCommand, ManyArchivesCarryOnPastBadOnes) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    const std::string junk = dir.path + "/junk.psu";
    std::ofstream(junk) << std::string(3000, 'j');
    const std::string cli = std::string(MARROWIN_CLI);
    EXPECT_EQ(run("cd '" + dir.path + "' && " + cli + " render --size 32x32 '" + junk + "' '" +
                  DEMO + "' >/dev/null 2>&1"),
              1);
    EXPECT_EQ(loadPng(dir.path + "/demo.png").width, 32u);
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/junk.png"));

    for (const std::string& args :
         {"-o x.png '" + DEMO + "' '" + DEMO + "'", "--frames 2 -o x.png '" + DEMO + "'",
          "--paint 2 --frames 2 '" + DEMO + "'", "--yaw abc '" + DEMO + "'",
          "--pitch 1e9 '" + DEMO + "'", "--yaw '' '" + DEMO + "'", "--frames 0 '" + DEMO + "'"})
        EXPECT_EQ(run("cd '" + dir.path + "' && " + cli + " render " + args + " 2>/dev/null"), 2)
            << args;
}

TEST(RenderCommand, YawAndPitchTurnTheView) {
    SKIP_WITHOUT_POSIX_SHELL();
    TempDir dir;
    const std::string cli = std::string(MARROWIN_CLI) + " render --size 160x120 ";
    auto picture = [&](const std::string& turn) {
        const std::string out = dir.path + "/p.png";
        EXPECT_EQ(run(cli + turn + " -o '" + out + "' '" + DEMO + "' >/dev/null"), 0) << turn;
        return loadPng(out);
    };
    const Picture plain = picture("");
    EXPECT_FALSE(samePixels(picture("--yaw 90"), plain));
    EXPECT_FALSE(samePixels(picture("--pitch -30"), plain));
    expectSimilar(picture("--yaw 360 --pitch -360"), plain, "a whole turn");
}

}  // namespace
