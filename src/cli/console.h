#pragma once
// What the command-line companion needs from its console, per host (console_posix.cpp,
// console_win32.cpp).
#include <string>
#include <vector>

namespace marrowin::cli {

// Sets the standard streams up for archives and UTF-8 text (binary mode and the UTF-8 console
// code page on Windows, given back at exit; nothing to do elsewhere) and gives the arguments as
// UTF-8. On Windows the narrow argv is in the ANSI code page, so the wide command line is
// split instead, and unquoted arguments with '*' or '?' are expanded to the names they match.
std::vector<std::string> prepareConsole(int argc, char** argv);

#ifdef _WIN32
// One argument of a Windows command line, and whether any of it was in quotes.
struct CommandLineArgument {
    std::wstring text;
    bool quoted = false;
};
// Splits a command line as the C runtime does (the program name first).
std::vector<CommandLineArgument> splitCommandLine(const std::wstring& line);
// Whether a name matches a pattern of '*' and '?', ignoring case.
bool wildcardMatches(const std::wstring& pattern, const std::wstring& name);
#endif

// True when standard error is a terminal (a console window on Windows).
bool stderrIsTerminal();
// Columns of the terminal behind standard error; 80 when unknown or narrower than 20.
int stderrColumns();

// Makes one folder; true when made or already there (errno otherwise).
bool makeOneFolder(const std::string& path);

}  // namespace marrowin::cli
