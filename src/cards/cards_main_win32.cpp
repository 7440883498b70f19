// The Windows card window's entry: the user's language, COM for the shell's dialogs and drags,
// the window with what the command line names, then a loop that sleeps until a message comes
// (the icon view's own timer asks for its frames).
// First: it brings <windows.h> after the navigation constants that its MK_* macros would hide.
#include "cards/cards_window_win32.h"

#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/wide_text_win32.h"
#include "cards/language_win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand) {
    using namespace marrowin;
    cards::chooseLanguage();
    // Drag and drop wants OLE on this thread; the folder picker wants COM (which OLE brings).
    const bool ole = SUCCEEDED(OleInitialize(nullptr));
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    std::vector<std::string> paths;
    int count = 0;
    if (LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) paths.push_back(utf8FromWide(args[i], wcslen(args[i])));
        LocalFree(args);
    }

    int code = 1;
    {
        cards::CardsWindow window;
        if (window.create(instance, showCommand)) {
            if (!paths.empty()) window.openPaths(paths);
            MSG message = {};
            int got = 0;
            while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
                if (window.handle() && window.accelerators() &&
                    TranslateAcceleratorW(window.handle(), window.accelerators(), &message))
                    continue;
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            code = got < 0 ? 1 : int(message.wParam);
        }
    }
    if (ole) OleUninitialize();
    return code;
}
