// render: draws a save's icon off-screen the way the window does and saves the frame as PNG.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/host_files.h"
#include "archive/save_text.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "icon/icon_descriptor.h"
#include "icon/icon_draw.h"
#include "icon/icon_view.h"
#include "view/gl_frame.h"
#include "view/offscreen_egl.h"
#include "view/png_io.h"
#include "view/view_settings.h"

namespace marrowin::cli {

namespace {

const char* const RENDER_USAGE =
    "usage: marrowin-cli render [--icon normal|copy|delete] [--size WxH] [--paint N]\n"
    "                           [-o OUT.png] ARCHIVE\n"
    "Draws the save's icon as the window shows it (default view, the save's own lights)\n"
    "without a display and writes the picture as PNG.\n"
    "  --icon NAME   which icon: normal (default), copy or delete (or 0, 1, 2)\n"
    "  --size WxH    picture size in pixels, 1 to 16384 each way (default 640x480)\n"
    "  --paint N     number of frames to draw, 1 to 1000000 (default 1); the icon\n"
    "                changes shape every 4 frames (the first shape shows for 3)\n"
    "  -o OUT.png    the picture to write; an existing file of that name is replaced.\n"
    "                Without -o the picture is render.png in the current directory,\n"
    "                which is never replaced.\n";

constexpr const char* DEFAULT_OUTPUT = "render.png";
constexpr uint32_t MAX_SIDE = OffscreenRenderer::MAX_SIDE;
constexpr unsigned long MAX_PAINTS = 1000000;

// A whole decimal number from first to last, no sign, no spaces.
bool parseCount(const std::string& text, unsigned long max, unsigned long& out) {
    if (text.empty() || text.size() > 9) return false;
    unsigned long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + unsigned(c - '0');
    }
    if (v == 0 || v > max) return false;
    out = v;
    return true;
}

bool parseSize(const std::string& text, uint32_t& width, uint32_t& height) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    unsigned long w = 0, h = 0;
    if (!parseCount(text.substr(0, x), MAX_SIDE, w) || !parseCount(text.substr(x + 1), MAX_SIDE, h))
        return false;
    width = uint32_t(w);
    height = uint32_t(h);
    return true;
}

int iconIndexOf(const std::string& name) {
    if (name == "normal" || name == "0") return 0;
    if (name == "copy" || name == "1") return 1;
    if (name == "delete" || name == "2") return 2;
    return -1;
}

const char* const ICON_NAMES[3] = {"normal", "copy", "delete"};

int renderUsageError(const std::string& message) {
    return usageError("render", message, RENDER_USAGE);
}

}  // namespace

int runRender(int argc, char** argv) {
    int icon = 0;
    uint32_t width = 640, height = 480;
    unsigned long paints = 1;
    std::string output;
    bool outputNamed = false;
    std::vector<std::string> archives;

    int code = walkArguments(
        argc, argv, RENDER_USAGE,
        [&](const std::string& option, const OptionValue& value) -> std::string {
            const char* v = value();
            if (option == "--icon") {
                if (!v || (icon = iconIndexOf(v)) < 0) return "--icon takes normal, copy or delete";
            } else if (option == "--size") {
                if (!v || !parseSize(v, width, height))
                    return "--size takes WxH, each 1 to 16384, e.g. 640x480";
            } else if (option == "--paint") {
                if (!v || !parseCount(v, MAX_PAINTS, paints))
                    return "--paint takes a number from 1 to 1000000";
            } else if (option == "-o" || option == "--output") {
                if (!v || !*v) return "-o takes a file name";
                output = v;
                outputNamed = true;
            } else {
                return "unknown option " + option;
            }
            return "";
        },
        archives);
    if (code >= 0) return code;
    if (archives.size() > 1) return renderUsageError("one archive at a time");
    const std::string archive = archives.empty() ? std::string() : archives.front();
    if (archive.empty()) return renderUsageError("no archive given");
    if (!outputNamed) output = DEFAULT_OUTPUT;
    if (!outputNamed && pathKind(output) != PathKind::Missing) {
        std::fprintf(stderr,
                     "marrowin-cli render: %s already exists; name the picture with -o\n",
                     output.c_str());
        return 1;
    }
    if (outputNamed && pathKind(output) == PathKind::Folder) {
        std::fprintf(stderr, "marrowin-cli render: %s is a folder\n", output.c_str());
        return 1;
    }

    LoadedArchive loaded;
    std::string error;
    if (!loadArchive(archive, loaded, error)) {
        std::fprintf(stderr, "marrowin-cli render: %s\n", error.c_str());
        return 1;
    }

    std::unique_ptr<OffscreenRenderer> surface = OffscreenRenderer::create(width, height, error);
    if (!surface) {
        std::fprintf(stderr, "marrowin-cli render: cannot render: %s\n", error.c_str());
        return 1;
    }

    // The same steps as the window: defaults, GL state, size, then the icon of the save.
    ViewSettings settings = initialViewSettings();
    FrameState frame;
    IconView view;
    std::vector<uint8_t> texture(TEXTURE_BUFFER_BYTES, 0);
    view.textureImage = texture.data();
    initGLState(settings);
    resizeView(frame, settings, width, height);
    selectIcon(view, loaded.image, settings, icon);
    if (!view.currentModel) {
        const std::string name = readIconFileName(loaded.image, icon);
        if (name.empty())
            std::fprintf(stderr, "marrowin-cli render: %s: the save names no %s icon\n",
                         archive.c_str(), ICON_NAMES[icon]);
        else
            std::fprintf(stderr,
                         "marrowin-cli render: %s: the %s icon file \"%s\" is not in the save\n",
                         archive.c_str(), ICON_NAMES[icon], saveTextToDisplay(name).c_str());
        return 1;
    }

    // A window has shown frames before; here one empty frame ends first, so the back buffer
    // holds the background when the first real frame is drawn.
    finishFrame(settings, *surface);
    for (unsigned long i = 0; i < paints; ++i) paintFrame(frame, settings, view, *surface);

    if (!writePng(output, width, height, surface->readFrontBuffer(), outputNamed, error)) {
        std::fprintf(stderr, "marrowin-cli render: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", output.c_str());
    return 0;
}

}  // namespace marrowin::cli
