#pragma once
// The window's text is UTF-16 at the Win32 calls and UTF-8 everywhere inside.
#include <string>

namespace marrowin {

std::wstring wideFromUtf8(const std::string& utf8);
std::string utf8FromWide(const wchar_t* wide, size_t length);
std::string utf8FromWide(const std::wstring& wide);

}  // namespace marrowin
