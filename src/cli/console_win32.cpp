#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwctype>

#include "base/host_files.h"
#include "cli/console.h"

namespace marrowin::cli {

namespace {

std::string utf8Of(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(std::max(n, 0)), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// The console's output code page as it was before we set UTF-8: the console outlives us and
// belongs to the shell that started us.
UINT savedOutputCodePage = 0;

void restoreOutputCodePage() {
    if (savedOutputCodePage != 0) SetConsoleOutputCP(savedOutputCodePage);
}

BOOL WINAPI restoreOnControl(DWORD) {
    restoreOutputCodePage();
    return FALSE;  // the next handler ends the process as before
}

}  // namespace

std::vector<CommandLineArgument> splitCommandLine(const std::wstring& line) {
    // The rules of the Microsoft C runtime: the program name ends at the next blank (or its
    // closing quote) with no backslash escapes; after it, 2n backslashes before a quote are n
    // backslashes and the quote toggles quoting, 2n+1 give n and a literal quote, and "" inside
    // quotes is a literal quote.
    std::vector<CommandLineArgument> args;
    size_t i = 0;
    const size_t n = line.size();
    auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
    {
        CommandLineArgument program;
        bool quoted = false;
        while (i < n && (quoted || !blank(line[i]))) {
            if (line[i] == L'"') {
                quoted = !quoted;
                program.quoted = true;
            } else {
                program.text += line[i];
            }
            ++i;
        }
        args.push_back(std::move(program));
    }
    for (;;) {
        while (i < n && blank(line[i])) ++i;
        if (i >= n) break;
        CommandLineArgument arg;
        bool quoted = false;
        while (i < n && (quoted || !blank(line[i]))) {
            size_t slashes = 0;
            while (i < n && line[i] == L'\\') {
                ++slashes;
                ++i;
            }
            if (i < n && line[i] == L'"') {
                arg.text.append(slashes / 2, L'\\');
                if (slashes % 2) {
                    arg.text += L'"';
                    ++i;
                } else if (quoted && i + 1 < n && line[i + 1] == L'"') {
                    arg.text += L'"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    arg.quoted = true;
                    ++i;
                }
            } else {
                arg.text.append(slashes, L'\\');
                if (i < n && (quoted || !blank(line[i]))) arg.text += line[i++];
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

bool wildcardMatches(const std::wstring& pattern, const std::wstring& name) {
    // Case-insensitive as Windows names are; '*' any run, '?' one character. Kept apart from
    // FindFirstFileW's own matching, which also tries the short 8.3 names ("*.psu" would find
    // "a.psux" through "A~1.PSU").
    size_t p = 0, s = 0, star = std::wstring::npos, resume = 0;
    auto same = [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); };
    while (s < name.size()) {
        if (p < pattern.size() && (pattern[p] == L'?' || (pattern[p] != L'*' && same(pattern[p], name[s])))) {
            ++p;
            ++s;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = s;
        } else if (star != std::wstring::npos) {
            p = star + 1;
            s = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

namespace {

bool hasWildcard(const std::wstring& text) { return text.find_first_of(L"*?") != std::wstring::npos; }

// The names an unquoted pattern stands for, in name order; the pattern itself when it matches
// nothing, so the command says which name it could not find. Only the last part of a path may
// hold wildcards, as everywhere on Windows.
std::vector<std::wstring> expand(const std::wstring& pattern) {
    const size_t cut = pattern.find_last_of(L"\\/:");
    const std::wstring folder = cut == std::wstring::npos ? L"" : pattern.substr(0, cut + 1);
    const std::wstring last = cut == std::wstring::npos ? pattern : pattern.substr(cut + 1);
    std::vector<std::wstring> names;
    if (hasWildcard(folder) || last.empty()) return {pattern};
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            // Hidden names (".marrowin-*.tmp" and the like) only when asked for by a leading dot.
            if (name[0] == L'.' && last[0] != L'.') continue;
            if (wildcardMatches(last, name)) names.push_back(folder + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    if (names.empty()) return {pattern};
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_LESS_THAN;
    });
    return names;
}

}  // namespace

std::vector<std::string> prepareConsole(int argc, char** argv) {
    // Archives go through standard input and output byte for byte.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const UINT before = GetConsoleOutputCP();
    if (before != 0 && before != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        savedOutputCodePage = before;
        std::atexit(restoreOutputCodePage);
        SetConsoleCtrlHandler(restoreOnControl, TRUE);
    }

    // The narrow argv is in the ANSI code page and no shell expands wildcards on Windows: the
    // wide command line is split here, and unquoted patterns expanded, as other Windows
    // programs do.
    const std::vector<CommandLineArgument> split = splitCommandLine(GetCommandLineW());
    if (split.empty()) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    args.push_back(utf8Of(split[0].text));
    for (size_t i = 1; i < split.size(); ++i) {
        if (split[i].quoted || !hasWildcard(split[i].text)) {
            args.push_back(utf8Of(split[i].text));
            continue;
        }
        for (const std::wstring& name : expand(split[i].text)) args.push_back(utf8Of(name));
    }
    return args;
}

bool stderrIsTerminal() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int stderrColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 80;
    int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns >= 20 ? columns : 80;
}

bool makeOneFolder(const std::string& path) {
    return makeFolder(path) || errno == EEXIST;
}

}  // namespace marrowin::cli
