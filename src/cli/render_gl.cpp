// render: draws a save's icon off-screen the way the window does and saves frames as PNG.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/host_files.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/picture_args.h"
#include "view/icon_picture.h"
#include "icon/icon_descriptor.h"
#include "view/png_io.h"

namespace marrowin::cli {

namespace {

const char* const RENDER_USAGE =
    "usage: marrowin-cli render [--icon normal|copy|delete] [--size WxH] [--paint N]\n"
    "                           [--yaw DEG] [--pitch DEG] [-q] [-o OUT.png] ARCHIVE\n"
    "       marrowin-cli render [OPTIONS] [--frames N] [--out-dir DIR] ARCHIVE...\n"
    "Draws the save's icon as the window shows it (default view, the save's own lights)\n"
    "without a display and writes the picture as PNG.\n"
    "  --icon NAME    which icon: normal (default), copy or delete (or 0, 1, 2)\n"
    "  --size WxH     picture size in pixels, 1 to 16384 each way (default 640x480)\n"
    "  --paint N      number of frames to draw, 1 to 1000000 (default 1); the icon\n"
    "                 changes shape every 4 frames (the first shape shows for 3)\n"
    "  --frames N     write the picture of each of the first N paints (1 to 100000),\n"
    "                 as NAME-0001.png, NAME-0002.png, ... (for making animations)\n"
    "  --yaw DEG      turn the view about the vertical axis by DEG degrees\n"
    "  --pitch DEG    tilt the view about the horizontal axis by DEG degrees\n"
    "  -o OUT.png     the picture to write (one archive, no --frames); an existing file\n"
    "                 (or device, FIFO, or a link to one) is overwritten in place, and\n"
    "                 \"-\" is standard output. Without -o and --out-dir the picture is\n"
    "                 render.png in the current directory, which is never replaced.\n"
    "  --out-dir DIR  write each archive's pictures into DIR (made when missing), named\n"
    "                 after the archive (NAME.png for x/NAME.psu); existing pictures are\n"
    "                 never replaced. Used whenever several archives are given.\n"
    "  -q, --quiet    no line naming the pictures written (errors still show)\n";

constexpr const char* DEFAULT_OUTPUT = "render.png";
constexpr uint32_t MAX_SIDE = OffscreenRenderer::MAX_SIDE;
constexpr unsigned long MAX_PAINTS = 1000000;
constexpr unsigned long MAX_FRAMES = 100000;

struct RenderArgs {
    int icon = 0;
    uint32_t width = 640, height = 480;
    unsigned long paints = 1;
    unsigned long frames = 0;  // 0: one picture after `paints` paints
    bool paintsGiven = false;
    PictureView look;
    std::string output;
    bool outputNamed = false;
    std::string outDir;
    std::vector<std::string> archives;
};

int iconIndexOf(const std::string& name) {
    for (int i = 0; i < 3; ++i)
        if (name == ICON_ROLE_NAMES[i] || name == std::to_string(i)) return i;
    return -1;
}

int renderUsageError(const std::string& message) {
    return usageError("render", message, RENDER_USAGE);
}

// Names of the pictures one archive gives in --out-dir.
std::vector<std::string> pictureNames(const RenderArgs& args, const std::string& archive) {
    if (args.frames == 0) return {args.outDir + "/" + outputNameFor(archive, ".png")};
    const int width = std::max<int>(4, int(std::to_string(args.frames).size()));
    std::vector<std::string> names;
    for (unsigned long f = 1; f <= args.frames; ++f) {
        char number[32];
        std::snprintf(number, sizeof number, "-%0*lu.png", width, f);
        names.push_back(args.outDir + "/" + outputNameFor(archive, number));
    }
    return names;
}

// Renders one archive; messages on stderr. True when every picture was written.
bool renderOne(IconPicture& picture, const RenderArgs& args, const std::string& archive) {
    const bool single = args.outDir.empty();
    const std::vector<std::string> names =
        single ? std::vector<std::string>{args.output} : pictureNames(args, archive);
    // Refuse before drawing anything when a picture would replace a file.
    for (const std::string& name : names) {
        if (single && args.outputNamed) {
            if (name != "-" && pathKind(name) == PathKind::Folder) {
                say(stderr, "marrowin-cli render: %s is a folder\n", terminalText(name).c_str());
                return false;
            }
            if (name != "-" && archive != "-" && sameExistingFile(archive, name)) {
                say(stderr, "marrowin-cli render: %s: the output is the archive itself\n",
                    terminalText(name).c_str());
                return false;
            }
        } else if (pathKind(name) != PathKind::Missing) {
            say(stderr, "marrowin-cli render: %s: %s already exists%s\n", terminalText(archive).c_str(),
                terminalText(name).c_str(), single ? "; name the picture with -o" : "");
            return false;
        }
    }

    OpenedSave loaded;
    std::string error;
    if (!openSave(archive, OpenOptions{}, loaded, error)) {
        say(stderr, "marrowin-cli render: %s\n", terminalText(error).c_str());
        return false;
    }
    // A damaged container is drawn as far as it could be read, and fails the command.
    const bool damaged = reportContainerErrors("render", archive, loaded);
    if (!picture.show(loaded.image, args.icon, args.look, error)) {
        say(stderr, "marrowin-cli render: %s: %s\n", terminalText(archive).c_str(), terminalText(error).c_str());
        return false;
    }
    const bool replace = single && args.outputNamed;
    if (args.frames == 0) {
        for (unsigned long i = 0; i < args.paints; ++i) picture.paint();
        if (!writePng(names[0], picture.width(), picture.height(), picture.pixels(),
                      replace ? PngWrite::InPlace : PngWrite::NewFile, error)) {
            say(stderr, "marrowin-cli render: %s\n", terminalText(error).c_str());
            return false;
        }
        // On standard output the picture is all there is.
        if (names[0] != "-" && !quiet) say(stdout, "%s\n", terminalText(names[0]).c_str());
        return !damaged;
    }
    for (const std::string& name : names) {
        picture.paint();
        if (!writePng(name, picture.width(), picture.height(), picture.pixels(), PngWrite::NewFile,
                      error)) {
            say(stderr, "marrowin-cli render: %s\n", terminalText(error).c_str());
            return false;
        }
    }
    if (!quiet)
        say(stdout, "%s: %zu pictures, %s to %s\n", terminalText(archive).c_str(), names.size(),
            terminalText(names.front()).c_str(), terminalText(names.back()).c_str());
    return !damaged;
}

}  // namespace

int runRender(int argc, char** argv) {
    RenderArgs args;
    int code = walkArguments(
        argc, argv, RENDER_USAGE,
        [&](const std::string& option, const OptionValue& value) -> std::string {
            const char* v = value();
            if (option == "--icon") {
                if (!v || (args.icon = iconIndexOf(v)) < 0)
                    return "--icon takes normal, copy or delete";
            } else if (option == "--size") {
                if (!v || !parseSize(v, MAX_SIDE, args.width, args.height))
                    return "--size takes WxH, each 1 to 16384, e.g. 640x480";
            } else if (option == "--paint") {
                if (!v || !parseCount(v, MAX_PAINTS, args.paints))
                    return "--paint takes a number from 1 to 1000000";
                args.paintsGiven = true;
            } else if (option == "--frames") {
                if (!v || !parseCount(v, MAX_FRAMES, args.frames))
                    return "--frames takes a number from 1 to 100000";
            } else if (option == "--yaw") {
                if (!v || !parseDegrees(v, args.look.yaw)) return "--yaw takes degrees, e.g. 30";
            } else if (option == "--pitch") {
                if (!v || !parseDegrees(v, args.look.pitch))
                    return "--pitch takes degrees, e.g. -15";
            } else if (option == "-o" || option == "--output") {
                if (!v || !*v) return "-o takes a file name";
                args.output = v;
                args.outputNamed = true;
            } else if (option == "--out-dir") {
                if (!v || !*v) return "--out-dir takes a folder";
                args.outDir = v;
            } else {
                return "unknown option " + option;
            }
            return "";
        },
        args.archives);
    if (code >= 0) return code;
    if (args.archives.empty()) return renderUsageError("no archive given");
    if (args.frames && args.paintsGiven) return renderUsageError("--paint and --frames do not go together");
    if (args.outputNamed && (args.archives.size() > 1 || args.frames || !args.outDir.empty()))
        return renderUsageError("-o names one picture: one archive, without --frames or --out-dir");
    if (args.outDir.empty() && (args.archives.size() > 1 || args.frames)) args.outDir = ".";
    if (args.outDir.empty() && !args.outputNamed) args.output = DEFAULT_OUTPUT;

    std::string error;
    if (!args.outDir.empty() && !ensureOutputFolder(args.outDir, error)) {
        std::fprintf(stderr, "marrowin-cli render: %s\n", terminalText(error).c_str());
        return 1;
    }
    std::unique_ptr<IconPicture> picture = IconPicture::create(args.width, args.height, error);
    if (!picture) {
        std::fprintf(stderr, "marrowin-cli render: cannot render: %s\n", terminalText(error).c_str());
        return 1;
    }
    int status = 0;
    Progress progress("render", args.archives.size());
    for (size_t i = 0; i < args.archives.size(); ++i) {
        progress.begin(i, args.archives[i]);
        if (!renderOne(*picture, args, args.archives[i])) status = 1;
    }
    return status;
}

}  // namespace marrowin::cli
