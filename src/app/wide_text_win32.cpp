#include "app/wide_text_win32.h"

#include <windows.h>

#include <climits>

namespace marrowin {

std::wstring wideFromUtf8(const std::string& utf8) {
    if (utf8.empty() || utf8.size() > size_t(INT_MAX)) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), n);
    return wide;
}

std::string utf8FromWide(const wchar_t* wide, size_t length) {
    if (!wide || length == 0 || length > size_t(INT_MAX)) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, int(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string utf8(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, int(length), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::string utf8FromWide(const std::wstring& wide) { return utf8FromWide(wide.data(), wide.size()); }

}  // namespace marrowin
