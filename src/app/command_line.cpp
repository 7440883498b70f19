#include "app/command_line.h"

#include <cstring>
#include <string_view>

namespace marrowin {

const char* const PROGRAM_USAGE =
    "usage: marrowin [FILE|FOLDER]...\n"
    "Shows the 3D icon of PlayStation 2 save archives (.psu). Paths given here are opened as\n"
    "if they were dropped on the window, in order, once it is up: the last save stays shown,\n"
    "and the Edit menu's options (off at start) apply to each.\n"
    "  --help      this text\n"
    "  --version   the program's version\n"
    "  --          every argument after it is a path\n";

namespace {

// GTK's own options. Those in the first list take a value, either as --opt=VALUE or as the
// next argument.
constexpr std::string_view TOOLKIT_OPTIONS_WITH_VALUE[] = {
    "--display", "--class", "--name", "--gtk-module", "--gtk-debug", "--gtk-no-debug",
    "--gdk-debug", "--gdk-no-debug"};
constexpr std::string_view TOOLKIT_FLAGS[] = {"--sync", "--g-fatal-warnings"};

template <size_t N>
bool listed(const std::string_view (&list)[N], std::string_view name) {
    for (std::string_view s : list)
        if (s == name) return true;
    return false;
}

}  // namespace

ProgramArguments splitProgramArguments(int argc, char** argv) {
    ProgramArguments out;
    if (argc > 0) out.toolkitArgs.push_back(argv[0]);
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        // "-" and anything not starting with '-' is a path; so is everything after "--".
        if (optionsDone || a.size() < 2 || a[0] != '-') {
            out.paths.emplace_back(a);
            continue;
        }
        if (a == "--") {
            optionsDone = true;
        } else if (a == "--help" || a == "-h") {
            out.help = true;
        } else if (a == "--version") {
            out.version = true;
        } else {
            std::string_view name = a.substr(0, a.find('='));
            if (listed(TOOLKIT_OPTIONS_WITH_VALUE, name)) {
                out.toolkitArgs.push_back(argv[i]);
                if (name.size() == a.size() && i + 1 < argc) out.toolkitArgs.push_back(argv[++i]);
            } else if (listed(TOOLKIT_FLAGS, a)) {
                out.toolkitArgs.push_back(argv[i]);
            } else if (out.error.empty()) {
                out.error = "unknown option " + std::string(a);
            }
        }
    }
    out.toolkitArgs.push_back(nullptr);
    return out;
}

}  // namespace marrowin
