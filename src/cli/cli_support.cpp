#include "cli/cli_support.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/host_files.h"
#include "base/save_text.h"
#include "cli/console.h"

namespace marrowin::cli {

bool quiet = false;

namespace {
int firstOutputError = 0;
}

void flushStandardOutput() {
    errno = 0;
    if (std::fflush(stdout) != 0 && firstOutputError == 0) firstOutputError = errno ? errno : EIO;
}

bool reportContainerErrors(const char* command, const std::string& path, const OpenedSave& a) {
    flushStandardOutput();
    bool any = false;
    for (const Problem& p : a.problems) {
        if (p.severity != Severity::Error) continue;
        say(stderr, "marrowin-cli %s: %s: damaged %s: %s\n", command, terminalText(path).c_str(),
            containerTitle(a.container), terminalText(p.text).c_str());
        any = true;
    }
    return any;
}

int closeStandardOutput(int code) {
    const bool failedEarlier = std::ferror(stdout) != 0;
    errno = 0;
    int err = std::fflush(stdout) != 0 ? (errno ? errno : EIO) : firstOutputError;
    bool failed = failedEarlier || err != 0;
    errno = 0;
    if (std::fclose(stdout) != 0) {
        const int closeError = errno;
        // A standard output closed from the start (">&-") is no failure when nothing went
        // to it.
        if (failed || closeError != EBADF) {
            failed = true;
            if (err == 0) err = closeError;
        }
    }
    if (!failed) return code;
    if (err)
        std::fprintf(stderr, "marrowin-cli: write error: %s\n", errnoText(err).c_str());
    else
        std::fputs("marrowin-cli: write error\n", stderr);
    return code == 0 ? 1 : code;
}

int usageError(const char* command, const std::string& message, const char* usage) {
    std::fprintf(stderr, "marrowin-cli %s: %s\n%s", command, message.c_str(), usage);
    return EXIT_USAGE;
}

int walkArguments(int argc, char** argv, const char* usage, const OptionHandler& option,
                  std::vector<std::string>& operands) {
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsDone || a.size() < 2 || a[0] != '-') {
            operands.push_back(a);
        } else if (a == "--") {
            optionsDone = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(usage, stdout);
            return 0;
        } else if (a == "-q" || a == "--quiet") {
            quiet = true;
        } else {
            OptionValue value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
            std::string message = option(a, value);
            if (!message.empty()) return usageError(argv[0], message, usage);
        }
    }
    return -1;
}

int walkReportArguments(int argc, char** argv, const char* usage, bool& json,
                        std::vector<std::string>& paths) {
    const int code = walkArguments(
        argc, argv, usage,
        [&](const std::string& option, const OptionValue&) -> std::string {
            if (option != "--json") return "unknown option " + option;
            json = true;
            return "";
        },
        paths);
    if (code >= 0) return code;
    if (paths.empty()) return usageError(argv[0], "no archive given", usage);
    return -1;
}

std::string terminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        uint8_t b = uint8_t(c);
        if (b < 0x20 || b == 0x7F) {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02X", b);
            out += esc;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        uint8_t c = uint8_t(text[i]);
        size_t n = utf8SequenceLength(text, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out.push_back(char(c));
            }
        }
        ++i;
    }
    out += "\"";
    return out;
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", value);
    return buf;
}

std::string formatEntryTime(const uint8_t* t) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", unsigned(t[6] | t[7] << 8),
                  unsigned(t[5]), unsigned(t[4]), unsigned(t[3]), unsigned(t[2]), unsigned(t[1]));
    return buf;
}

bool parseCount(const std::string& text, unsigned long max, unsigned long& out) {
    if (text.empty() || text.size() > 9) return false;
    unsigned long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + unsigned(c - '0');
    }
    if (v == 0 || v > max) return false;
    out = v;
    return true;
}

bool parseSize(const std::string& text, uint32_t maxSide, uint32_t& width, uint32_t& height) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    unsigned long w = 0, h = 0;
    if (!parseCount(text.substr(0, x), maxSide, w) || !parseCount(text.substr(x + 1), maxSide, h))
        return false;
    width = uint32_t(w);
    height = uint32_t(h);
    return true;
}

bool ensureOutputFolder(const std::string& path, std::string& error) {
    const PathKind kind = pathKind(path);
    if (kind == PathKind::Folder) return true;
    if (kind != PathKind::Missing) {
        error = path + " is not a folder";
        return false;
    }
    if (!makeOneFolder(path)) {
        error = "cannot make " + path + ": " + std::strerror(errno);
        return false;
    }
    return pathKind(path) == PathKind::Folder || (error = path + " is not a folder", false);
}

OpenFolder openOutputFolder(const std::string& path, std::string& error) {
    OpenFolder folder = openFolder(path);
    if (!folder.isOpen()) error = path + ": cannot open output folder: " + std::strerror(errno);
    return folder;
}

namespace {

Progress* activeProgress = nullptr;

}  // namespace

Progress::Progress(const char* command, size_t total)
    : Progress(stderr, total > 1 && stderrIsTerminal(), command, total, stderrColumns()) {}

Progress::Progress(FILE* stream, bool shown, const char* command, size_t total, int columns)
    : stream_(stream), shown_(shown), command_(command), total_(total),
      columns_(columns < 20 ? 20 : columns), previous_(activeProgress) {
    activeProgress = this;
}

Progress::~Progress() {
    clear();
    activeProgress = previous_;
}

void Progress::begin(size_t index, std::string_view name) {
    if (!shown_) return;
    // "COMMAND [#####.....] 3/10 NAME", cut to the line so it never wraps.
    constexpr int BAR = 20;
    const size_t done = total_ ? std::min(index, total_) : 0;
    const int filled = total_ ? int(done * BAR / total_) : 0;
    std::string line = command_ + " [";
    line.append(size_t(filled), '#');
    line.append(size_t(BAR - filled), '.');
    line += "] " + std::to_string(index + 1) + "/" + std::to_string(total_) + " ";
    const std::string text = terminalText(name);
    line += text;
    if (line.size() > size_t(columns_ - 1)) {
        // Cut on a UTF-8 character boundary.
        size_t cut = size_t(columns_ - 1);
        while (cut > 0 && (uint8_t(line[cut]) & 0xC0) == 0x80) --cut;
        line.resize(cut);
    }
    flushStandardOutput();
    std::fprintf(stream_, "\r\033[K%s", line.c_str());
    std::fflush(stream_);
    onLine_ = true;
}

void Progress::clear() {
    if (!onLine_) return;
    std::fputs("\r\033[K", stream_);
    std::fflush(stream_);
    onLine_ = false;
}

void say(FILE* stream, const char* format, ...) {
    if (activeProgress) activeProgress->clear();
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
    // Output and errors keep their order when both go to one terminal or file.
    if (stream == stdout)
        flushStandardOutput();
    else
        std::fflush(stream);
}

std::string outputNameFor(const std::string& input, const std::string& ending) {
    std::string base = input;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const size_t slash = base.rfind('/');
    if (slash != std::string::npos) base = base.substr(slash + 1);
    if (base.size() > 4) {
        std::string tail = base.substr(base.size() - 4);
        for (char& c : tail) c = char(std::tolower(uint8_t(c)));
        if (tail[0] == '.' && containerFromWord(tail.substr(1)) != ContainerKind::Unknown)
            base.resize(base.size() - 4);
    }
    if (base.empty() || base == "." || base == ".." || base == "/") base = "save";
    return base + ending;
}

}  // namespace marrowin::cli
