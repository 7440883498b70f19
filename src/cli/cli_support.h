#pragma once
// Pieces the commands share: arguments, JSON and terminal text, progress over many inputs.
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/host_files.h"
#include "operations/open_save.h"

namespace marrowin::cli {

constexpr int EXIT_USAGE = 2;

// The last step of both programs' main: flushes and closes standard output and checks both,
// since a full disk or /dev/full shows only there for buffered text. On a failure says
// "marrowin-cli: write error: REASON" on stderr and gives 1 in place of a code of 0.
int closeStandardOutput(int code);
// fflush(stdout) before text on stderr, keeping the reason of a failure for the message above
// (stdio keeps only that one happened).
void flushStandardOutput();

// Reports the errors among an opened container's problems on stderr for `command`; true when
// there were any. A command that still works on what could be read then exits 1.
bool reportContainerErrors(const char* command, const std::string& path, const OpenedSave& save);

// Text from a save made safe for a terminal: control bytes (escape sequences, line breaks)
// are shown as \xHH.
std::string terminalText(std::string_view text);

// A JSON string literal (with its quotes). Bytes that are not valid UTF-8 become U+FFFD, so
// the output is always valid JSON.
std::string jsonString(std::string_view text);
// A JSON number, or null for values that are not finite.
std::string jsonNumber(double value);

// "YYYY-MM-DD HH:MM:SS" of the 8-byte stamp at `stamp`.
std::string formatEntryTime(const uint8_t* stamp);

// -q/--quiet on the command line: the commands print no per-file lines (errors still show).
extern bool quiet;

// Walks a command's arguments (argv[0] is the command's name). "--help" or "-h" prints the
// usage and ends with 0; "-q" or "--quiet" sets `quiet`; "--" ends the options; a lone "-" is
// an operand (standard input); any other word starting with '-' goes to
// `option`, which may take its value with `value` (nullptr when there is none) and gives ""
// when it took the option or a message; everything else is an operand. A message ends the
// walk with the usage on stderr and EXIT_USAGE. Gives -1 when the command goes on.
using OptionValue = std::function<const char*()>;
using OptionHandler = std::function<std::string(const std::string& option, const OptionValue& value)>;
int walkArguments(int argc, char** argv, const char* usage, const OptionHandler& option,
                  std::vector<std::string>& operands);
// The arguments of the report commands: [--json] ARCHIVE... (at least one). Gives -1 to go on,
// or the exit code.
int walkReportArguments(int argc, char** argv, const char* usage, bool& json,
                        std::vector<std::string>& paths);
// Prints "marrowin-cli COMMAND: MESSAGE" and the usage on stderr; gives EXIT_USAGE.
int usageError(const char* command, const std::string& message, const char* usage);

// A whole decimal number from 1 to max, no sign, no spaces.
bool parseCount(const std::string& text, unsigned long max, unsigned long& out);
// "WxH", each side 1 to maxSide.
bool parseSize(const std::string& text, uint32_t maxSide, uint32_t& width, uint32_t& height);

// Makes sure DIR is a folder for pictures, making it (one level) when it is missing.
bool ensureOutputFolder(const std::string& path, std::string& error);

// Opens DIR for the export commands; not open, with a message, on failure.
OpenFolder openOutputFolder(const std::string& path, std::string& error);

// A one-line bar for commands that work through several inputs, on stderr and only when
// stderr is a terminal (nothing at all otherwise, so logs and pipes stay clean). While one
// is active, every message of the commands goes through say(), which takes the bar off the
// line first; the next begin() draws it again.
class Progress {
public:
    // On stderr, shown when it is a terminal and there is more than one input.
    Progress(const char* command, size_t total);
    // On any stream, for tests; `columns` is the line width.
    Progress(FILE* stream, bool shown, const char* command, size_t total, int columns);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Work on input `index` (from 0) begins.
    void begin(size_t index, std::string_view name);
    // Takes the bar off the line (also done at destruction).
    void clear();

private:
    FILE* stream_;
    bool shown_;
    bool onLine_ = false;
    std::string command_;
    size_t total_;
    int columns_;
    Progress* previous_;
};

// fprintf for the commands' messages: clears an active progress bar first.
#ifdef __MINGW32__
// mingw's C99 stdio, not msvcrt's, takes these formats.
void say(FILE* stream, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
#else
void say(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
#endif

// The picture or output name for an input in a batch: the input's last path component with a
// container's ending (".psu", ".max", ".cbs", ".sps", ".xps", ".psv", any letter case) taken
// off, and `ending` put on ("x/Save.PSU" -> "Save.png").
std::string outputNameFor(const std::string& input, const std::string& ending);

}  // namespace marrowin::cli
