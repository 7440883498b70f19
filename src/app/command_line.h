#pragma once
// The desktop program's command line: paths to open as if they were dropped on the window,
// and the toolkit's own options, which are handed on to it untouched.
#include <string>
#include <vector>

namespace marrowin {

struct ProgramArguments {
    // In the order given; raw bytes as the file system names them.
    std::vector<std::string> paths;
    // argv[0] and the toolkit's options (--display=:1, --class NAME, ...), for the toolkit.
    std::vector<char*> toolkitArgs;
    bool help = false;
    bool version = false;
    std::string error;  // an option nobody knows
};

ProgramArguments splitProgramArguments(int argc, char** argv);

extern const char* const PROGRAM_USAGE;

}  // namespace marrowin
