#include "cards/cards_window_win32.h"

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdlib>

#include "app/wide_text_win32.h"
#include "cards/card_pictures.h"
#include "cards/drag_out_win32.h"
#include "cards/cards_resources_win32.h"
#include "cards/language_win32.h"
#include "cards/list_text.h"

namespace marrowin::cards {

namespace {

const wchar_t CLASS_NAME[] = L"MarrowinCards";
constexpr uint32_t PICTURE_SIZE = 64;
constexpr UINT_PTR DISK_TIMER = 2;
constexpr UINT DISK_MS = 1000;
constexpr UINT WM_SELECTION = WM_APP + 1;
constexpr int SPIN_WIDTH = 280;
// How many saves a confirmation names before it counts the rest.
constexpr size_t NAMES_SHOWN = 12;
constexpr DWORD MULTI_PATH_CHARS = 1 << 16;

enum Column { TitleColumn, FolderColumn, SizeColumn, ClustersColumn, DateColumn, ProblemsColumn, ColumnCount };

std::wstring wide(const std::string& utf8) { return wideFromUtf8(utf8); }

// A folder from the shell's folder picker; "" when cancelled.
std::string pickFolder(HWND owner, const std::string& title, const std::string& start) {
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                reinterpret_cast<void**>(&dialog))))
        return "";
    std::string chosen;
    DWORD options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(wide(title).c_str());
    if (!start.empty()) {
        IShellItem* folder = nullptr;
        if (SUCCEEDED(SHCreateItemFromParsingName(wide(start).c_str(), nullptr, IID_IShellItem,
                                                  reinterpret_cast<void**>(&folder)))) {
            dialog->SetFolder(folder);
            folder->Release();
        }
    }
    if (SUCCEEDED(dialog->Show(owner))) {
        IShellItem* item = nullptr;
        if (SUCCEEDED(dialog->GetResult(&item))) {
            wchar_t* path = nullptr;
            if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
                chosen = utf8FromWide(path, wcslen(path));
                CoTaskMemFree(path);
            }
            item->Release();
        }
    }
    dialog->Release();
    return chosen;
}

std::string windowText(HWND control) {
    const int length = GetWindowTextLengthW(control);
    std::wstring text(size_t(std::max(length, 0)) + 1, L'\0');
    const int got = GetWindowTextW(control, text.data(), length + 1);
    return utf8FromWide(text.data(), size_t(std::max(got, 0)));
}

// Line ends as an edit control wants them.
std::wstring editText(const std::string& utf8) {
    std::wstring in = wide(utf8), out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == L'\n' && (i == 0 || in[i - 1] != L'\r')) out += L'\r';
        out += in[i];
    }
    return out;
}

struct ExportChoice {
    std::string folder;
    int container = 0;
    HWND owner = nullptr;
};

INT_PTR CALLBACK exportProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* choice = reinterpret_cast<ExportChoice*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG: {
            choice = reinterpret_cast<ExportChoice*>(lParam);
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            HWND combo = GetDlgItem(dialog, IDC_CONTAINER);
            for (ContainerKind kind : exportChoices())
                SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(containerTitle(kind)).c_str()));
            SendMessageW(combo, CB_SETCURSEL, WPARAM(choice->container), 0);
            SetDlgItemTextW(dialog, IDC_FOLDER, wide(choice->folder).c_str());
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_BROWSE: {
                    const std::string folder =
                        pickFolder(dialog, text(IDS_PICK_FOLDER), windowText(GetDlgItem(dialog, IDC_FOLDER)));
                    if (!folder.empty()) SetDlgItemTextW(dialog, IDC_FOLDER, wide(folder).c_str());
                    return TRUE;
                }
                case IDOK:
                    choice->folder = windowText(GetDlgItem(dialog, IDC_FOLDER));
                    choice->container = int(SendDlgItemMessageW(dialog, IDC_CONTAINER, CB_GETCURSEL, 0, 0));
                    EndDialog(dialog, IDOK);
                    return TRUE;
                case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
                default: break;
            }
            break;
        default: break;
    }
    return FALSE;
}

INT_PTR CALLBACK newCardProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* kind = reinterpret_cast<NewCardKind*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            CheckRadioButton(dialog, IDC_KIND_ECC, IDC_KIND_FOLDER, IDC_KIND_ECC);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                *kind = IsDlgButtonChecked(dialog, IDC_KIND_FOLDER) == BST_CHECKED   ? NewCardKind::Folder
                        : IsDlgButtonChecked(dialog, IDC_KIND_NO_ECC) == BST_CHECKED ? NewCardKind::ImageWithoutEcc
                                                                                     : NewCardKind::ImageWithEcc;
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            break;
        default: break;
    }
    return FALSE;
}

INT_PTR CALLBACK checkProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            SetDlgItemTextW(dialog, IDC_REPORT, reinterpret_cast<const wchar_t*>(lParam));
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            break;
        default: break;
    }
    return FALSE;
}

// The names a multiple choice of the open dialog gives, as UTF-8 paths.
std::vector<std::string> openFileNames(HWND owner, bool multiple) {
    std::vector<wchar_t> buffer(MULTI_PATH_CHARS, L'\0');
    std::wstring filter = wideText(IDS_CARD_FILTER);
    filter += L'\0';
    filter += L"*.ps2;*.mcd;*.mc2;*.bin;*.psu;*.max;*.cbs;*.sps;*.xps;*.psv";
    filter += L'\0';
    filter += wideText(IDS_ALL_FILTER);
    filter += L'\0';
    filter += L"*.*";
    filter += L'\0';
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = MULTI_PATH_CHARS - 1;
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR |
                (multiple ? OFN_ALLOWMULTISELECT : 0);
    if (!GetOpenFileNameW(&ofn)) return {};
    std::vector<std::string> paths;
    for (const std::wstring& path : chosenFiles(buffer.data(), buffer.size())) paths.push_back(utf8FromWide(path));
    return paths;
}

}  // namespace

CardsWindow::CardsWindow() = default;
CardsWindow::~CardsWindow() {
    if (images_) ImageList_Destroy(images_);
    for (const std::string& folder : dragFolders_) removeTree(folder);
}

HWND CardsWindow::create(HINSTANCE instance, int showCommand) {
    instance_ = instance;
    appName_ = text(IDS_APP_NAME);
    if (appName_.empty()) appName_ = "Marrowin Cards";
    if (const char* dump = std::getenv("MARROWIN_CARDS_TEST_DUMP")) dumpPath_ = dump;
    keys_ = LoadAcceleratorsW(instance, L"KEYS");

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, L"ICON");
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = CLASS_NAME;
    if (!RegisterClassExW(&wc)) return nullptr;
    HWND window = CreateWindowExW(WS_EX_ACCEPTFILES, CLASS_NAME, wide(appName_).c_str(),
                                  WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, 900, 560,
                                  nullptr, loadMenu(instance, L"MAIN"), instance, this);
    if (!window) return nullptr;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return window;
}

LRESULT CALLBACK CardsWindow::proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* created = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created->lpCreateParams));
        static_cast<CardsWindow*>(created->lpCreateParams)->window_ = window;
    }
    auto* self = reinterpret_cast<CardsWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    return self->dispatch(message, wParam, lParam);
}

LRESULT CardsWindow::dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: onCreate(); return 0;
        case WM_SIZE: layout(); return 0;
        case WM_COMMAND: command(LOWORD(wParam)); return 0;
        case WM_NOTIFY: return notify(reinterpret_cast<NMHDR*>(lParam));
        case WM_DROPFILES: {
            HDROP drop = reinterpret_cast<HDROP>(wParam);
            dropFiles(drop);
            DragFinish(drop);
            return 0;
        }
        case WM_SELECTION:
            selectionPending_ = false;
            selectionChanged();
            return 0;
        case WM_TIMER:
            if (wParam == DISK_TIMER) checkDisk();
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE) checkDisk();
            return 0;
        case WM_SETFOCUS:
            if (list_) SetFocus(list_);
            return 0;
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize.x = 480;
            info->ptMinTrackSize.y = 320;
            return 0;
        }
        case WM_CLOSE: DestroyWindow(window_); return 0;
        case WM_DESTROY:
            KillTimer(window_, DISK_TIMER);
            PostQuitMessage(0);
            return 0;
        default: return DefWindowProcW(window_, message, wParam, lParam);
    }
}

void CardsWindow::onCreate() {
    list_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 10, 10,
                            window_, nullptr, instance_, nullptr);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_INFOTIP);
    images_ = ImageList_Create(int(PICTURE_SIZE), int(PICTURE_SIZE), ILC_COLOR32, 16, 16);
    ListView_SetImageList(list_, images_, LVSIL_SMALL);
    const struct {
        UINT name;
        int width;
        int format;
    } columns[ColumnCount] = {{IDS_COL_TITLE, 280, LVCFMT_LEFT},     {IDS_COL_FOLDER, 170, LVCFMT_LEFT},
                              {IDS_COL_SIZE, 70, LVCFMT_RIGHT},      {IDS_COL_CLUSTERS, 80, LVCFMT_RIGHT},
                              {IDS_COL_DATE, 150, LVCFMT_LEFT},      {IDS_COL_PROBLEMS, 60, LVCFMT_CENTER}};
    for (int c = 0; c < ColumnCount; ++c) {
        std::wstring name = wideText(columns[c].name);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        column.fmt = columns[c].format;
        column.cx = columns[c].width;
        column.pszText = name.data();
        column.iSubItem = c;
        ListView_InsertColumn(list_, c, &column);
    }
    status_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window_,
                              nullptr, instance_, nullptr);
    spin_.create(window_, instance_);
    DragAcceptFiles(window_, TRUE);
    SetTimer(window_, DISK_TIMER, DISK_MS, nullptr);
    layout();
    refill();
}

void CardsWindow::layout() {
    if (!list_ || !status_) return;
    RECT client = {};
    GetClientRect(window_, &client);
    SendMessageW(status_, WM_SIZE, 0, 0);
    RECT bar = {};
    GetWindowRect(status_, &bar);
    const int barHeight = bar.bottom - bar.top;
    const int width = client.right - client.left;
    const int height = std::max(0, int(client.bottom - client.top) - barHeight);
    const int spinWidth = std::min(SPIN_WIDTH, width / 2);
    MoveWindow(list_, 0, 0, width - spinWidth, height, TRUE);
    if (spin_.handle()) MoveWindow(spin_.handle(), width - spinWidth, 0, spinWidth, std::min(height, spinWidth), TRUE);
    const int parts[2] = {std::max(width / 2, 200), -1};
    SendMessageW(status_, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
}

bool CardsWindow::openPaths(const std::vector<std::string>& paths) {
    if (paths.empty()) return false;
    std::string error;
    if (!model_.open(paths, error)) {
        message(fillIn(text(IDS_OPEN_FAILED), {error}), MB_ICONERROR);
        return false;
    }
    if (pictures_) pictures_->clear();
    refill();
    return true;
}

void CardsWindow::command(int id) {
    switch (id) {
        case IDM_OPEN: chooseAndOpen(); break;
        case IDM_OPEN_FOLDER: chooseAndOpenFolderCard(); break;
        case IDM_IMPORT: chooseAndImport(); break;
        case IDM_EXPORT: exportSelected(); break;
        case IDM_NEW_CARD: newCard(); break;
        case IDM_CHECK: showCheck(); break;
        case IDM_EXIT: DestroyWindow(window_); break;
        case IDM_DELETE: deleteSelected(); break;
        case IDM_SELECT_ALL: ListView_SetItemState(list_, -1, LVIS_SELECTED, LVIS_SELECTED); break;
        default: break;
    }
}

LRESULT CardsWindow::notify(NMHDR* header) {
    if (header->hwndFrom != list_) return 0;
    switch (header->code) {
        case LVN_ITEMCHANGED: {
            auto* change = reinterpret_cast<NMLISTVIEW*>(header);
            // One update for a whole Select All, after the list has settled.
            if ((change->uChanged & LVIF_STATE) && !selectionPending_) {
                selectionPending_ = true;
                PostMessageW(window_, WM_SELECTION, 0, 0);
            }
            break;
        }
        case LVN_GETINFOTIPW: {
            auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(header);
            const auto& rows = model_.rows();
            if (tip->iItem >= 0 && size_t(tip->iItem) < rows.size() && !rows[size_t(tip->iItem)].firstProblem.empty()) {
                const std::wstring problem = wide(rows[size_t(tip->iItem)].firstProblem);
                lstrcpynW(tip->pszText, problem.c_str(), tip->cchTextMax);
            }
            break;
        }
        case LVN_BEGINDRAG: beginDrag(); break;
        default: break;
    }
    return 0;
}

void CardsWindow::chooseAndOpen() {
    busy_ = true;
    const std::vector<std::string> paths = openFileNames(window_, true);
    busy_ = false;
    openPaths(paths);
}

void CardsWindow::chooseAndOpenFolderCard() {
    busy_ = true;
    const std::string folder = pickFolder(window_, "", "");
    busy_ = false;
    if (!folder.empty()) openPaths({folder});
}

void CardsWindow::chooseAndImport() {
    if (!model_.isCard()) {
        message(text(IDS_NOT_A_CARD), MB_ICONINFORMATION);
        return;
    }
    busy_ = true;
    const std::vector<std::string> files = openFileNames(window_, true);
    busy_ = false;
    if (!files.empty()) importFiles(files);
}

void CardsWindow::dropFiles(HDROP drop) {
    std::vector<std::string> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        // Each path whole, however long: a cut one would name another file.
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::vector<wchar_t> path(size_t(length) + 1, L'\0');
        const UINT got = DragQueryFileW(drop, i, path.data(), length + 1);
        if (got != 0) paths.push_back(utf8FromWide(path.data(), got));
    }
    if (paths.empty()) return;
    // Our own drag coming back: nothing to do.
    if (paths == dragFiles_) return;
    // Onto a card: imported. Otherwise the drop is opened, as File > Open would.
    if (model_.isCard())
        importFiles(paths);
    else
        openPaths(paths);
}

void CardsWindow::importFiles(const std::vector<std::string>& files) {
    busy_ = true;
    const AskReplace askReplace = [this](const ImportQuestion& q) {
        return ask(fillIn(text(IDS_REPLACE), {q.folderShown, q.existingTitle, q.incomingTitle, q.path}));
    };
    const std::vector<ImportOutcome> outcomes = model_.importFiles(files, askReplace);
    busy_ = false;
    for (const ImportOutcome& outcome : outcomes) {
        if (outcome.kind == ImportOutcome::Kind::NoRoom)
            message(fillIn(text(IDS_NO_ROOM), {outcome.path, outcome.message}), MB_ICONWARNING);
        else if (outcome.kind == ImportOutcome::Kind::Failed)
            message(fillIn(text(IDS_IMPORT_FAILED), {outcome.path, outcome.message}), MB_ICONERROR);
    }
    refill();
}

void CardsWindow::exportSelected() {
    const std::vector<size_t> rows = selectedRows();
    if (rows.empty()) return;
    ExportChoice choice;
    choice.folder = exportFolder_;
    if (choice.folder.empty()) {
        const std::string& from = model_.path();
        const size_t cut = lastPathSeparator(from);
        if (cut != std::string::npos) choice.folder = from.substr(0, cut);
    }
    choice.container = exportChoice_;
    busy_ = true;
    const INT_PTR answer =
        dialogBox(instance_, IDD_EXPORT, window_, exportProc, reinterpret_cast<LPARAM>(&choice));
    if (answer != IDOK || choice.folder.empty()) {
        busy_ = false;
        return;
    }
    exportFolder_ = choice.folder;
    exportChoice_ = choice.container;
    std::vector<std::string> written;
    std::string error;
    const AskOverwrite askOverwrite = [this](const std::string& path) {
        return ask(fillIn(text(IDS_OVERWRITE), {path}));
    };
    const bool ok = model_.exportSaves(rows, choice.folder, exportChoice(choice.container), askOverwrite, written, error);
    busy_ = false;
    if (!ok) message(fillIn(text(IDS_EXPORT_FAILED), {error}), MB_ICONERROR);
    SendMessageW(status_, SB_SETTEXTW, 1,
                 reinterpret_cast<LPARAM>(wide(fillIn(text(IDS_EXPORTED), {std::to_string(written.size()), choice.folder})).c_str()));
}

void CardsWindow::deleteSelected() {
    const std::vector<size_t> rows = selectedRows();
    if (rows.empty() || !model_.isCard()) return;
    const std::string names = nameList(selectedNames(rows), NAMES_SHOWN, text(IDS_MORE));
    busy_ = true;
    const bool yes = ask(fillIn(text(IDS_DELETE_CONFIRM), {names}));
    std::string error;
    const bool ok = !yes || model_.deleteSaves(rows, error);
    busy_ = false;
    if (!ok) message(fillIn(text(IDS_DELETE_FAILED), {error}), MB_ICONERROR);
    if (yes) refill();
}

void CardsWindow::newCard() {
    NewCardKind kind = NewCardKind::ImageWithEcc;
    busy_ = true;
    if (dialogBox(instance_, IDD_NEW_CARD, window_, newCardProc, reinterpret_cast<LPARAM>(&kind)) != IDOK) {
        busy_ = false;
        return;
    }
    std::vector<wchar_t> buffer(MULTI_PATH_CHARS, L'\0');
    const std::wstring name = kind == NewCardKind::Folder ? L"Mcd001.ps2" : L"Mcd001.ps2";
    std::copy(name.begin(), name.end(), buffer.begin());
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = window_;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = MULTI_PATH_CHARS - 1;
    // The model refuses a name that is taken; the dialog need not ask.
    ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    const bool chosen = GetSaveFileNameW(&ofn) != FALSE;
    busy_ = false;
    if (!chosen) return;
    const std::string path = utf8FromWide(buffer.data(), wcslen(buffer.data()));
    std::string error;
    if (!CardsModel::newCard(path, kind, error)) {
        message(fillIn(text(IDS_NEW_FAILED), {error}), MB_ICONERROR);
        return;
    }
    openPaths({path});
}

void CardsWindow::showCheck() {
    if (model_.kind() == SourceKind::None) return;
    const std::wstring report = editText(model_.checkReport());
    busy_ = true;
    dialogBox(instance_, IDD_CHECK, window_, checkProc, reinterpret_cast<LPARAM>(report.c_str()));
    busy_ = false;
}

void CardsWindow::checkDisk() {
    // Not while a change of ours or a dialog of ours is under way; the timer comes again.
    if (busy_ || model_.kind() == SourceKind::None || !model_.changedOnDisk()) return;
    std::string error;
    if (!model_.reload(error)) {
        SendMessageW(status_, SB_SETTEXTW, 1,
                     reinterpret_cast<LPARAM>(wide(fillIn(text(IDS_CHANGED_RELOAD_FAILED), {error})).c_str()));
        return;
    }
    refill();
}

std::vector<size_t> CardsWindow::selectedRows() const {
    std::vector<size_t> rows;
    const size_t count = model_.rows().size();
    for (int item = ListView_GetNextItem(list_, -1, LVNI_SELECTED); item >= 0;
         item = ListView_GetNextItem(list_, item, LVNI_SELECTED)) {
        if (size_t(item) < count) rows.push_back(size_t(item));
    }
    return rows;
}

std::vector<std::string> CardsWindow::selectedNames(const std::vector<size_t>& rows) const {
    std::vector<std::string> names;
    for (size_t row : rows) {
        const SaveRow& save = model_.rows()[row];
        names.push_back(save.title.empty() ? save.folderShown : save.folderShown + "  " + save.title);
    }
    return names;
}

void CardsWindow::refill() {
    // The selection outlives a reread by the saves' names (the list's indices are the old rows').
    const std::vector<std::string> selected = selectedFolders_;
    ListView_DeleteAllItems(list_);
    ImageList_RemoveAll(images_);
    const auto& rows = model_.rows();
    if (!drawer_ && pictureError_.empty() && !rows.empty()) {
        drawer_ = makeIconPictureDrawer(PICTURE_SIZE, pictureError_);
        if (drawer_) pictures_ = std::make_unique<PictureCache>(*drawer_, PICTURE_SIZE);
    }
    const COLORREF back = GetSysColor(COLOR_WINDOW);
    for (size_t i = 0; i < rows.size(); ++i) {
        const SaveRow& row = rows[i];
        static const std::vector<uint8_t> nothing;
        const std::vector<uint8_t>& rgba = pictures_ ? pictures_->pictureOf(model_, i) : nothing;
        std::vector<uint8_t> bgra = overBackground(rgba, PICTURE_SIZE, GetRValue(back), GetGValue(back), GetBValue(back));
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = LONG(PICTURE_SIZE);
        info.bmiHeader.biHeight = -LONG(PICTURE_SIZE);  // top-down, as the picture's rows are
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        int image = -1;
        if (bitmap && bits) {
            std::copy(bgra.begin(), bgra.end(), static_cast<uint8_t*>(bits));
            image = ImageList_Add(images_, bitmap, nullptr);
        }
        if (bitmap) DeleteObject(bitmap);

        std::wstring title = wide(row.title.empty() ? row.folderShown : row.title);
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = int(i);
        item.pszText = title.data();
        item.iImage = image;
        const int at = ListView_InsertItem(list_, &item);
        const std::string cells[ColumnCount] = {"",
                                                row.folderShown,
                                                kilobytesText(row.bytes),
                                                groupedNumber(row.clusters),
                                                stampText(row.modified),
                                                problemMark(row.errors, row.warnings)};
        for (int c = 1; c < ColumnCount; ++c) {
            std::wstring cell = wide(cells[c]);
            ListView_SetItemText(list_, at, c, cell.data());
        }
        if (std::find(selected.begin(), selected.end(), row.folder) != selected.end())
            ListView_SetItemState(list_, at, LVIS_SELECTED, LVIS_SELECTED);
    }
    // The drawer's context may be current now: the view takes its own back.
    spin_.makeCurrent();
    const std::string name = model_.displayName();
    SetWindowTextW(window_, wide(name.empty() ? appName_ : name + " - " + appName_).c_str());
    selectionChanged();
}

void CardsWindow::selectionChanged() {
    const std::vector<size_t> rows = selectedRows();
    SaveImage image;
    int shown = ListView_GetNextItem(list_, -1, LVNI_FOCUSED | LVNI_SELECTED);
    if (shown < 0 && !rows.empty()) shown = int(rows.front());
    std::string error;
    if (shown < 0 || !model_.imageOf(size_t(shown), image, error)) image = SaveImage{};
    spin_.show(std::move(image));
    selectedFolders_.clear();
    for (size_t row : rows) selectedFolders_.push_back(model_.rows()[row].folder);
    updateStatus();
    writeDump();
}

void CardsWindow::updateStatus() {
    std::string left, right;
    if (model_.isCard())
        left = spaceText(model_.space());
    else if (model_.kind() == SourceKind::LooseSaves)
        left = fillIn(text(IDS_LOOSE), {std::to_string(model_.rows().size())});
    else
        left = text(IDS_NOTHING_OPEN);
    const std::vector<size_t> rows = selectedRows();
    if (!rows.empty())
        right = fillIn(text(IDS_SELECTION), {std::to_string(rows.size()), groupedNumber(model_.clustersNeeded(rows))});
    SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(wide(left).c_str()));
    SendMessageW(status_, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(wide(right).c_str()));
}

// For the window's tests: what the list and the status bar show, as UTF-8 lines.
void CardsWindow::writeDump() {
    if (dumpPath_.empty()) return;
    std::string out = "caption\t" + (model_.displayName().empty() ? appName_ : model_.displayName() + " - " + appName_) + "\n";
    const auto& rows = model_.rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        const SaveRow& row = rows[i];
        const bool drawn = pictures_ && !pictures_->pictureOf(model_, i).empty();
        out += "row\t" + row.title + "\t" + row.folderShown + "\t" + kilobytesText(row.bytes) + "\t" +
               groupedNumber(row.clusters) + "\t" + stampText(row.modified) + "\t" +
               problemMark(row.errors, row.warnings) + "\t" + (drawn ? "picture" : "no picture") + "\n";
    }
    if (model_.isCard()) out += "space\t" + spaceText(model_.space()) + "\n";
    out += "selected\t" + std::to_string(selectedRows().size()) + "\n";
    HMENU menu = GetMenu(window_);
    for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
        wchar_t label[128] = {};
        const int length = GetMenuStringW(menu, UINT(i), label, 128, MF_BYPOSITION);
        out += "menu\t" + utf8FromWide(label, size_t(std::max(length, 0))) + "\n";
    }
    out += "end\n";
    std::string error;
    writeOutput(dumpPath_, out.data(), out.size(), OutputWrite::InPlace, error);
}

void CardsWindow::message(const std::string& utf8, UINT flags) {
    const bool was = busy_;
    busy_ = true;
    MessageBoxW(window_, wide(utf8).c_str(), wide(appName_).c_str(), MB_OK | flags);
    busy_ = was;
}

bool CardsWindow::ask(const std::string& utf8) {
    const bool was = busy_;
    busy_ = true;
    const int answer = MessageBoxW(window_, wide(utf8).c_str(), wide(appName_).c_str(), MB_YESNO | MB_ICONQUESTION);
    busy_ = was;
    return answer == IDYES;
}

void CardsWindow::beginDrag() {
    const std::vector<size_t> rows = selectedRows();
    if (rows.empty() || model_.kind() == SourceKind::None) return;
    // The files exist before the drag starts: a drop target copies them when it likes. Each
    // drag has a folder of its own under the user's temporary folder, removed at exit.
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return;
    std::string folder;
    for (int attempt = 0; attempt < 100 && folder.empty(); ++attempt) {
        const std::string name = utf8FromWide(temp, length) + "marrowin-cards-drag-" +
                                 std::to_string(currentProcessId()) + "-" + std::to_string(dragFolders_.size()) + "-" +
                                 std::to_string(attempt);
        // A folder of its own: never one left there by another run.
        if (pathKind(name) == PathKind::Missing && makeFolder(name)) folder = name;
    }
    if (folder.empty()) return;
    dragFolders_.push_back(folder);
    std::vector<std::string> written;
    std::string error;
    busy_ = true;
    const bool ok = model_.exportSaves(rows, folder, ContainerKind::Psu, [](const std::string&) { return false; },
                                       written, error);
    if (ok && !written.empty()) {
        dragFiles_ = written;
        dragFilesOut(window_, written);
        dragFiles_.clear();
    }
    busy_ = false;
    if (!ok) message(fillIn(text(IDS_EXPORT_FAILED), {error}), MB_ICONERROR);
}

}  // namespace marrowin::cards
