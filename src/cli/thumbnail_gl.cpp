// thumbnail: the save's normal icon as a square picture for file managers (the freedesktop
// thumbnailer contract: INPUT, OUTPUT and a size in pixels, exit 0 only with a picture).
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/host_files.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/picture_args.h"
#include "view/icon_picture.h"
#include "view/png_io.h"

namespace marrowin::cli {

namespace {

const char* const THUMBNAIL_USAGE =
    "usage: marrowin-cli thumbnail [-q] [-s SIZE] INPUT OUTPUT.png|-\n"
    "       marrowin-cli thumbnail [-q] [-s SIZE] -d DIR INPUT...\n"
    "Draws the normal icon of a save archive, lit by the save's lights and turned as the\n"
    "window shows it, filling a square PNG of SIZE x SIZE pixels (default 256, at most\n"
    "4096) on a transparent background. Needs no display.\n"
    "  -s SIZE   the picture's side in pixels\n"
    "  -d DIR    thumbnails of many archives into DIR (made when missing), named after\n"
    "            each archive (NAME.png for x/NAME.psu); existing pictures there are\n"
    "            never replaced.\n"
    "  -q, --quiet   taken as by every command (a thumbnail prints nothing but errors)\n"
    "Without -d, OUTPUT is written as file managers expect: an existing file (or device,\n"
    "FIFO, or a link to one) is overwritten in place, a missing one is made, and \"-\" is\n"
    "standard output. Nothing is written when the input has no icon to show.\n";

constexpr unsigned long MAX_THUMBNAIL_SIDE = 4096;

// The drawing surface, made when the first save to draw has been read: starting OpenGL costs
// far more than refusing a file that is no save, which file managers ask about too.
struct LazyPicture {
    uint32_t side = 0;
    std::unique_ptr<IconPicture> picture;
    std::string failure;

    IconPicture* get() {
        if (!picture && failure.empty()) {
            picture = IconPicture::create(side, side, failure, true);
            if (!picture && failure.empty()) failure = "no OpenGL context";
        }
        return picture.get();
    }
};

bool thumbnailOne(LazyPicture& surface, const std::string& input, const std::string& output,
                  bool replace) {
    if (output != "-" && pathKind(output) == PathKind::Folder) {
        say(stderr, "marrowin-cli thumbnail: %s is a folder\n", terminalText(output).c_str());
        return false;
    }
    if (input != "-" && output != "-" && sameExistingFile(input, output)) {
        say(stderr, "marrowin-cli thumbnail: %s: the output is the archive itself\n", terminalText(output).c_str());
        return false;
    }
    if (!replace && pathKind(output) != PathKind::Missing) {
        say(stderr, "marrowin-cli thumbnail: %s: %s already exists\n", terminalText(input).c_str(),
            terminalText(output).c_str());
        return false;
    }
    OpenedSave loaded;
    std::string error;
    if (!openSave(input, OpenOptions{}, loaded, error)) {
        say(stderr, "marrowin-cli thumbnail: %s\n", terminalText(error).c_str());
        return false;
    }
    // A damaged container is drawn as far as it could be read, and fails the command.
    const bool damaged = reportContainerErrors("thumbnail", input, loaded);
    IconPicture* drawing = surface.get();
    if (!drawing) {
        say(stderr, "marrowin-cli thumbnail: cannot render: %s\n", terminalText(surface.failure).c_str());
        return false;
    }
    IconPicture& picture = *drawing;
    if (!drawThumbnail(picture, loaded.image, error)) {
        say(stderr, "marrowin-cli thumbnail: %s: %s\n", terminalText(input).c_str(), terminalText(error).c_str());
        return false;
    }
    if (!writePng(output, picture.width(), picture.height(), picture.pixels(),
                  replace ? PngWrite::InPlace : PngWrite::NewFile, error, PngAlpha::Keep)) {
        say(stderr, "marrowin-cli thumbnail: %s\n", terminalText(error).c_str());
        return false;
    }
    return !damaged;
}

}  // namespace

int runThumbnail(int argc, char** argv) {
    unsigned long side = 256;
    std::string outDir;
    std::vector<std::string> operands;
    int code = walkArguments(
        argc, argv, THUMBNAIL_USAGE,
        [&](const std::string& option, const OptionValue& value) -> std::string {
            const char* v = value();
            if (option == "-s" || option == "--size") {
                if (!v || !parseCount(v, MAX_THUMBNAIL_SIDE, side))
                    return "-s takes a size from 1 to 4096";
            } else if (option == "-d" || option == "--out-dir") {
                if (!v || !*v) return "-d takes a folder";
                outDir = v;
            } else {
                return "unknown option " + option;
            }
            return "";
        },
        operands);
    if (code >= 0) return code;
    if (outDir.empty() && operands.size() != 2)
        return usageError("thumbnail", "give INPUT and OUTPUT, or -d DIR and the inputs",
                          THUMBNAIL_USAGE);
    if (!outDir.empty() && operands.empty())
        return usageError("thumbnail", "no archive given", THUMBNAIL_USAGE);
    std::string error;
    if (!outDir.empty() && !ensureOutputFolder(outDir, error)) {
        std::fprintf(stderr, "marrowin-cli thumbnail: %s\n", terminalText(error).c_str());
        return 1;
    }
    LazyPicture picture;
    picture.side = uint32_t(side);
    if (outDir.empty()) return thumbnailOne(picture, operands[0], operands[1], true) ? 0 : 1;

    int status = 0;
    Progress progress("thumbnail", operands.size());
    for (size_t i = 0; i < operands.size(); ++i) {
        progress.begin(i, operands[i]);
        const std::string output = outDir + "/" + outputNameFor(operands[i], ".png");
        if (!thumbnailOne(picture, operands[i], output, false)) status = 1;
    }
    return status;
}

}  // namespace marrowin::cli
