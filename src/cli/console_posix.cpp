#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cli/console.h"

namespace marrowin::cli {

std::vector<std::string> prepareConsole(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool stderrIsTerminal() { return isatty(STDERR_FILENO); }

int stderrColumns() {
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
    return 80;
}

bool makeOneFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

}  // namespace marrowin::cli
