// The Windows program's entry: the main window from its template, then the loop that paints
// whenever no message waits.
#include <string>
#include <vector>

#include "app/main_window_win32.h"
#include "app/wide_text_win32.h"
#include "view/view_settings.h"

namespace marrowin {
namespace {

// The paths after the program's name, as UTF-8 (Explorer's open command gives one, quoted).
std::vector<std::string> commandLinePaths() {
    std::vector<std::string> paths;
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args) return paths;
    for (int i = 1; i < count; ++i) paths.push_back(utf8FromWide(args[i], wcslen(args[i])));
    LocalFree(args);
    return paths;
}

int runMessageLoop(MainWindow& main) {
    MSG message = {};
    for (;;) {
        if (PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!GetMessageW(&message, nullptr, 0, 0)) return int(message.wParam);
            TranslateMessage(&message);
            DispatchMessageW(&message);
        } else if (main.handle()) {
            // Frames back to back: one paint for every pass that finds no message.
            SendMessageW(main.handle(), WM_PAINT, 0, 0);
        } else {
            // Closed, with the quit message not yet seen: wait for it.
            WaitMessage();
        }
    }
}

}  // namespace
}  // namespace marrowin

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    using namespace marrowin;
    // Paths on the command line open once the window is shown, as dropped files would; with
    // none the window starts empty.
    const std::vector<std::string> paths = commandLinePaths();
    static ViewSettings settings = initialViewSettings();
    static MainWindow main(settings);
    HWND window = main.create(instance);
    if (!window) return 1;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    main.loadPaths(paths);
    return runMessageLoop(main);
}
