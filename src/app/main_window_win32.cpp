#include "app/main_window_win32.h"

#include <commdlg.h>

#include <vector>

#include "app/config_dialog_win32.h"
#include "app/wide_text_win32.h"
#include "icon/icon_draw.h"
#include "icon/icon_model.h"

namespace marrowin {

namespace {
// Longest path the wide calls take; a longer drop is cut by the shell, never by us.
constexpr DWORD PATH_CHARS = 32768;
constexpr int CAPTION_CHARS = 256;
}  // namespace

HWND MainWindow::create(HINSTANCE instance) {
    return CreateDialogParamW(instance, L"MAIN", nullptr, MainDialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainWindow::MainDialogProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<MainWindow*>(lParam)->window_ = window;
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    // Messages of the creation before WM_INITDIALOG find no window object yet.
    if (!self) return FALSE;
    return self->dispatch(message, wParam, lParam);
}

INT_PTR MainWindow::dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: initMainWindow(); break;
        case WM_SIZE:
            if (glReady_) resizeView(frame_, settings_, LOWORD(lParam), HIWORD(lParam));
            break;
        case WM_PAINT: paint(); break;
        case WM_MOUSEMOVE:
            navigateMouse(mouse_, settings_, uint32_t(wParam), LOWORD(lParam), HIWORD(lParam));
            break;
        case WM_DROPFILES: {
            HDROP drop = reinterpret_cast<HDROP>(wParam);
            loadDroppedFiles(drop);
            DragFinish(drop);
            break;
        }
        case WM_COMMAND: runCommand(*this, LOWORD(wParam)); break;
        case WM_CLOSE:
            closeMainWindow();
            // The window is gone: nothing is left for the default processing.
            return TRUE;
        case WM_DESTROY: PostQuitMessage(0); break;
        default: break;
    }
    // The default dialog processing follows: moving, sizing, the menu bar and its keys, the
    // close box and Alt+F4 as WM_CLOSE, validating after a paint.
    return FALSE;
}

void MainWindow::initMainWindow() {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadIconW(instance, L"ICON")));
    DragAcceptFiles(window_, TRUE);

    glReady_ = createWindowGL(gl_, window_);
    // Without a context the settings still start from their defaults; nothing is drawn.
    initGLState(settings_);

    icon_.textureImage = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, TEXTURE_BUFFER_BYTES, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));

    // Two size changes, the second with the final client size, so viewport and aspect match
    // the client area before the first frame. The first also takes DS_SYSMODAL's topmost away.
    RECT outer = {};
    GetWindowRect(window_, &outer);
    SetWindowPos(window_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE);
    SetWindowPos(window_, HWND_TOP, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE);

    wchar_t caption[CAPTION_CHARS] = {};
    const int length = GetWindowTextW(window_, caption, CAPTION_CHARS);
    baseCaption_ = utf8FromWide(caption, size_t(length > 0 ? length : 0));

    // Last, so its fields show the defaults with this window's aspect.
    configDialog_ = createConfigDialog(instance, settings_);
}

void MainWindow::setCaption(const std::string& utf8) {
    SetWindowTextW(window_, wideFromUtf8(utf8).c_str());
}

// The options live only in the Edit menu's check marks. CheckMenuItem gives the state it
// replaced, which answers the question and restores it in one pass.
bool MainWindow::isOptionOn(LoadOption option) {
    const int command = optionCommand(option);
    HMENU menu = GetMenu(window_);
    if (CheckMenuItem(menu, UINT(command), MF_BYCOMMAND | MF_UNCHECKED) != MF_CHECKED) return false;
    CheckMenuItem(menu, UINT(command), MF_BYCOMMAND | MF_CHECKED);
    return true;
}

void MainWindow::toggleOption(int command) {
    HMENU menu = GetMenu(window_);
    if (CheckMenuItem(menu, UINT(command), MF_BYCOMMAND | MF_CHECKED) == MF_CHECKED)
        CheckMenuItem(menu, UINT(command), MF_BYCOMMAND | MF_UNCHECKED);
}

void MainWindow::clearCurrentModel() { icon_.currentModel.reset(); }

void MainWindow::selectIcon(int index) {
    if (!glReady_ || !icon_.textureImage) return;
    marrowin::selectIcon(icon_, currentSaveImage, settings_.lights, index);
}

void MainWindow::showConfigDialog() {
    if (!configDialog_) return;
    ShowWindow(configDialog_, SW_SHOW);
    UpdateWindow(configDialog_);
}

void MainWindow::chooseAndLoadFile() {
    // Any file: no filter, no title, no flags; a typed name that does not exist goes on to
    // loadPath, which leaves everything as it was.
    std::vector<wchar_t> path(PATH_CHARS, L'\0');
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = window_;
    ofn.lpstrFile = path.data();
    ofn.nMaxFile = PATH_CHARS;
    if (!GetOpenFileNameW(&ofn)) return;
    loadPath(*this, currentSaveImage, baseCaption_, utf8FromWide(path.data(), wcslen(path.data())));
}

void MainWindow::loadDroppedFiles(HDROP drop) {
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        // Each path whole, however long: a cut one would name another file.
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::vector<wchar_t> path(size_t(length) + 1, L'\0');
        const UINT got = DragQueryFileW(drop, i, path.data(), length + 1);
        if (got == 0 || !window_) continue;
        loadPath(*this, currentSaveImage, baseCaption_, utf8FromWide(path.data(), got));
    }
}

void MainWindow::loadPaths(const std::vector<std::string>& paths) {
    for (const std::string& path : paths)
        if (window_) loadPath(*this, currentSaveImage, baseCaption_, path);
}

void MainWindow::paint() {
    if (!glReady_) return;
    paintFrame(frame_, settings_, icon_, surface_);
}

void MainWindow::closeMainWindow() {
    if (!window_) return;
    icon_.currentModel.reset();
    releaseSaveImage(currentSaveImage);
    if (icon_.textureImage) VirtualFree(icon_.textureImage, 0, MEM_RELEASE);
    icon_.textureImage = nullptr;
    glReady_ = false;
    releaseWindowGL(gl_, window_);
    HWND window = window_;
    window_ = nullptr;
    // WM_DESTROY posts the quit message; the configuration window ends with the process.
    DestroyWindow(window);
}

}  // namespace marrowin
