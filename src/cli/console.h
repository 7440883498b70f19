#pragma once
// What the command-line companion needs from its console, per host (console_posix.cpp,
// console_win32.cpp).
#include <string>
#include <vector>

namespace marrowin::cli {

// Sets the standard streams up for archives and UTF-8 text (binary mode and the UTF-8 console
// code page on Windows; nothing to do elsewhere) and gives the arguments as UTF-8. On Windows
// the narrow argv is in the ANSI code page, so the wide command line is converted instead.
std::vector<std::string> prepareConsole(int argc, char** argv);

// True when standard error is a terminal (a console window on Windows).
bool stderrIsTerminal();
// Columns of the terminal behind standard error; 80 when unknown or narrower than 20.
int stderrColumns();

// Makes one folder; true when made or already there (errno otherwise).
bool makeOneFolder(const std::string& path);

}  // namespace marrowin::cli
