#include "app/config_dialog_win32.h"

#include <string>

#include "app/wide_text_win32.h"
#include "view/value_text.h"

namespace marrowin {

namespace {
// A field is read as at most 1023 characters.
constexpr int FIELD_TEXT_CHARS = 1024;

ViewSettings* settingsOf(HWND dialog) {
    return reinterpret_cast<ViewSettings*>(GetWindowLongPtrW(dialog, DWLP_USER));
}
}  // namespace

HWND createConfigDialog(HINSTANCE instance, ViewSettings& settings) {
    return CreateDialogParamW(instance, L"SUB1", nullptr, ConfigDialogProc,
                              reinterpret_cast<LPARAM>(&settings));
}

void fillConfigDialog(HWND dialog, const ViewSettings& settings) {
    for (const ViewField& field : VIEW_FIELDS) {
        const std::wstring text = wideFromUtf8(formatViewValue(viewFieldValue(settings, field.index)));
        SetWindowTextW(GetDlgItem(dialog, field.id), text.c_str());
    }
}

int applyConfigDialog(HWND dialog, ViewSettings& settings) {
    int refused = 0;
    HWND firstRefused = nullptr;
    for (const ViewField& field : VIEW_FIELDS) {
        HWND edit = GetDlgItem(dialog, field.id);
        if (!edit) continue;
        wchar_t buffer[FIELD_TEXT_CHARS] = {};
        const int length = GetWindowTextW(edit, buffer, FIELD_TEXT_CHARS);
        const std::string text = utf8FromWide(buffer, size_t(length > 0 ? length : 0));
        if (!takeViewValue(text, viewFieldValue(settings, field.index))) {
            ++refused;
            SendMessageW(edit, EM_SETSEL, 0, -1);
            if (!firstRefused) firstRefused = edit;
        }
    }
    if (firstRefused) SetFocus(firstRefused);
    return refused;
}

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
            SendMessageW(dialog, WM_SETICON, ICON_BIG,
                         reinterpret_cast<LPARAM>(LoadIconW(instance, L"ICON")));
            // DS_SYSMODAL made it topmost; it is an ordinary window beside the main one.
            SetWindowPos(dialog, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            if (ViewSettings* settings = settingsOf(dialog)) fillConfigDialog(dialog, *settings);
            break;
        }
        case WM_COMMAND: {
            ViewSettings* settings = settingsOf(dialog);
            if (!settings) break;
            if (LOWORD(wParam) == IDC_GET) fillConfigDialog(dialog, *settings);
            else if (LOWORD(wParam) == IDC_SET) applyConfigDialog(dialog, *settings);
            break;
        }
        case WM_CLOSE:
            ShowWindow(dialog, SW_HIDE);
            break;
        default: break;
    }
    // The default dialog processing follows every message.
    return FALSE;
}

}  // namespace marrowin
