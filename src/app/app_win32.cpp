// The Windows program's entry: the main window from its template, then the loop that paints
// whenever no message waits.
#include "app/main_window_win32.h"
#include "view/view_settings.h"

namespace marrowin {
namespace {

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
    // The command line is not read: the window starts empty.
    static ViewSettings settings = initialViewSettings();
    static MainWindow main(settings);
    HWND window = main.create(instance);
    if (!window) return 1;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return runMessageLoop(main);
}
