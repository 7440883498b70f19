// marrowin-cli: the save operations of Marrowin without a window.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/console.h"
#ifdef MARROWIN_PICTURES_ELSEWHERE
#include "cli/picture_program.h"
#endif

#ifndef MARROWIN_VERSION
#define MARROWIN_VERSION "unknown"
#endif

namespace {

const char* const USAGE =
    "usage: marrowin-cli COMMAND [OPTIONS] ARGS...\n"
    "Commands:\n"
    "  info [--json] ARCHIVE...      show what save archives (and other containers) hold\n"
    "  extract [-C DIR] ARCHIVE...   write each archive's files into a folder in DIR\n"
    "  pack [-C DIR] FOLDER...       pack each folder's files into NAME.psu in DIR\n"
    "  copy [-C DIR] ARCHIVE...      copy each archive as \"FOLDER TITLE.psu\" into DIR\n"
    "  check [--json] ARCHIVE...     report damage and oddities in archives\n"
    "  convert [--to WORD] INPUT...  write each save as another container (psu, max, cbs, ...)\n"
    "  card SUBCOMMAND CARD ...      memory cards: ls, export, import, delete, format, check\n"
    "  render ...                    draw a save's icon into PNG pictures (OpenGL builds)\n"
    "  thumbnail ...                 a save's icon as a square thumbnail (OpenGL builds)\n"
    "Options:\n"
    "  --help      this text; COMMAND --help for one command\n"
    "  --version   the program's version\n";

struct Command {
    const char* name;
    int (*run)(int, char**);
};

#if !defined(MARROWIN_HAVE_GL) && !defined(MARROWIN_PICTURES_ELSEWHERE)
int renderNotBuilt(int, char** argv) {
    std::fprintf(stderr,
                 "marrowin-cli: %s is not built into this program (built without OpenGL)\n",
                 argv[0]);
    return 1;
}
#endif

const Command COMMANDS[] = {
    {"info", marrowin::cli::runInfo},
    {"extract", marrowin::cli::runExtract},
    {"pack", marrowin::cli::runPack},
    {"copy", marrowin::cli::runCopy},
    {"check", marrowin::cli::runCheck},
    {"convert", marrowin::cli::runConvert},
    {"card", marrowin::cli::runCard},
#if defined(MARROWIN_HAVE_GL)
    {"render", marrowin::cli::runRender},
    {"thumbnail", marrowin::cli::runThumbnail},
#elif defined(MARROWIN_PICTURES_ELSEWHERE)
    {"render", marrowin::cli::runPictureProgram},
    {"thumbnail", marrowin::cli::runPictureProgram},
#else
    {"render", renderNotBuilt},
    {"thumbnail", renderNotBuilt},
#endif
};

int runCommand(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    const char* first = argv[1];
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0 ||
        std::strcmp(first, "help") == 0) {
        // "help COMMAND" is the command's own help.
        if (argc > 2 && std::strcmp(first, "help") == 0) {
            for (const Command& c : COMMANDS) {
                if (std::strcmp(argv[2], c.name) == 0) {
                    char help[] = "--help";
                    char* args[] = {argv[2], help, nullptr};
                    return c.run(2, args);
                }
            }
            std::fprintf(stderr, "marrowin-cli: unknown command %s\n%s", argv[2], USAGE);
            return 2;
        }
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (std::strcmp(first, "--version") == 0) {
        std::puts("marrowin-cli " MARROWIN_VERSION);
        return 0;
    }
    for (const Command& c : COMMANDS)
        if (std::strcmp(first, c.name) == 0) return c.run(argc - 1, argv + 1);

    std::fprintf(stderr, "marrowin-cli: unknown %s %s\n%s", first[0] == '-' ? "option" : "command",
                 first, USAGE);
    return 2;
}

}  // namespace

int main(int rawArgc, char** rawArgv) {
    std::vector<std::string> args = marrowin::cli::prepareConsole(rawArgc, rawArgv);
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    // Every command's text, help and version included, has reached its place only once
    // standard output is closed.
    return marrowin::cli::closeStandardOutput(runCommand(int(args.size()), pointers.data()));
}
