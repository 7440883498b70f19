#pragma once
// The card window's words in the user's language: the menu, dialogs and strings of the .rc in
// English and Japanese, found by language explicitly (English where the user's language has
// none), so the choice does not depend on how the system picks a resource's language.
#include <windows.h>

#include <string>

namespace marrowin::cards {

// Chooses the language once, from the user's UI language; MARROWIN_CARDS_LANGUAGE=ja or en
// overrides it (for tests and for people who want the other one).
void chooseLanguage();
LANGID uiLanguage();

// UTF-8 text of a string resource; "" when it has none.
std::string text(UINT id);
std::wstring wideText(UINT id);
HMENU loadMenu(HINSTANCE instance, const wchar_t* name);
INT_PTR dialogBox(HINSTANCE instance, int id, HWND owner, DLGPROC proc, LPARAM param);

}  // namespace marrowin::cards
