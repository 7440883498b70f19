#include "cards/language_win32.h"

#include <cstdlib>
#include <cstring>

#include "app/wide_text_win32.h"

namespace marrowin::cards {

namespace {

LANGID chosen = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

HINSTANCE self() { return GetModuleHandleW(nullptr); }

// The resource in the chosen language, else in English, else in any language.
HRSRC findIn(HINSTANCE instance, const wchar_t* type, const wchar_t* name) {
    const LANGID tries[] = {chosen, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)};
    for (LANGID lang : tries) {
        if (HRSRC found = FindResourceExW(instance, type, name, lang)) return found;
    }
    return FindResourceW(instance, name, type);
}

const void* resourceBytes(HINSTANCE instance, HRSRC found, DWORD& size) {
    size = found ? SizeofResource(instance, found) : 0;
    HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
    return loaded ? LockResource(loaded) : nullptr;
}

}  // namespace

void chooseLanguage() {
    LANGID user = GetUserDefaultUILanguage();
    if (const char* forced = std::getenv("MARROWIN_CARDS_LANGUAGE")) {
        if (std::strcmp(forced, "ja") == 0) user = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
        if (std::strcmp(forced, "en") == 0) user = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    }
    chosen = PRIMARYLANGID(user) == LANG_JAPANESE ? MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)
                                                  : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

LANGID uiLanguage() { return chosen; }

std::wstring wideText(UINT id) {
    // A string table block holds 16 strings, each a length and its UTF-16 units.
    HRSRC found = findIn(self(), MAKEINTRESOURCEW(6), MAKEINTRESOURCEW((id >> 4) + 1));
    DWORD size = 0;
    const auto* units = static_cast<const WCHAR*>(resourceBytes(self(), found, size));
    if (!units) return L"";
    const size_t count = size / sizeof(WCHAR);
    size_t at = 0;
    for (UINT i = 0; i < 16 && at < count; ++i) {
        const size_t length = units[at++];
        if (length > count - at) return L"";
        if (i == (id & 15)) return std::wstring(units + at, length);
        at += length;
    }
    return L"";
}

std::string text(UINT id) { return utf8FromWide(wideText(id)); }

HMENU loadMenu(HINSTANCE instance, const wchar_t* name) {
    DWORD size = 0;
    const void* bytes = resourceBytes(instance, findIn(instance, MAKEINTRESOURCEW(4), name), size);
    return bytes ? LoadMenuIndirectW(static_cast<const MENUTEMPLATEW*>(bytes)) : nullptr;
}

INT_PTR dialogBox(HINSTANCE instance, int id, HWND owner, DLGPROC proc, LPARAM param) {
    DWORD size = 0;
    const void* bytes = resourceBytes(instance, findIn(instance, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(id)), size);
    if (!bytes) return -1;
    return DialogBoxIndirectParamW(instance, static_cast<const DLGTEMPLATE*>(bytes), owner, proc, param);
}

}  // namespace marrowin::cards
