#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "base/host_files.h"
#include "base/host_process.h"
#include "cli/picture_program.h"

#ifndef MARROWIN_PICTURE_PROGRAM
#define MARROWIN_PICTURE_PROGRAM "marrowin-cli-gl"
#endif
// Where the installed picture program lies, relative to the installed marrowin-cli.
#ifndef MARROWIN_PICTURE_PROGRAM_DIR
#define MARROWIN_PICTURE_PROGRAM_DIR "../libexec/marrowin"
#endif

namespace marrowin::cli {

int runPictureProgram(int argc, char** argv) {
    const std::string self = runningProgramPath();
    const size_t slash = lastPathSeparator(self);
    if (self.empty() || slash == std::string::npos) {
        std::fprintf(stderr, "marrowin-cli: %s: cannot tell where this program lies to find %s\n",
                     argv[0], MARROWIN_PICTURE_PROGRAM);
        return 1;
    }
    const std::string folder = self.substr(0, slash + 1);
    // Beside this program in a build tree; in its libexec folder when installed. Relative to
    // this program only, never PATH, so an installed copy never runs another build's helper.
    const std::string candidates[] = {
        folder + MARROWIN_PICTURE_PROGRAM,
        folder + MARROWIN_PICTURE_PROGRAM_DIR "/" MARROWIN_PICTURE_PROGRAM,
    };
    std::vector<std::string> args;
    args.reserve(size_t(argc) + 1);
    args.emplace_back(MARROWIN_PICTURE_PROGRAM);
    args.insert(args.end(), argv, argv + argc);

    for (const std::string& path : candidates) {
        args[0] = path;
        replaceProcess(path, args);
        if (errno == ENOENT || errno == ENOTDIR) continue;
        std::fprintf(stderr, "marrowin-cli: %s: cannot start %s: %s\n", argv[0], path.c_str(),
                     errnoText(errno).c_str());
        return 1;
    }
    std::fprintf(stderr, "marrowin-cli: %s: the picture program is not installed (looked for %s)\n",
                 argv[0], candidates[1].c_str());
    return 1;
}

}  // namespace marrowin::cli
