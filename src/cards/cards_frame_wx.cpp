#include "cards/cards_frame_wx.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/choicdlg.h>
#include <wx/dataobj.h>
#include <wx/dialog.h>
#include <wx/dirdlg.h>
#include <wx/dnd.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/gauge.h>
#include <wx/imaglist.h>
#include <wx/intl.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/stdpaths.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "base/host_files.h"
#include "cards/card_pictures.h"
#include "cards/icon_canvas_wx.h"
#include "cards/picture_thread_wx.h"

namespace marrowin::cards {

namespace {

constexpr uint32_t PICTURE_SIZE = 64;
constexpr int DISK_CHECK_MS = 1000;

enum {
    ID_OPEN_FOLDER = wxID_HIGHEST + 1,
    ID_IMPORT,
    ID_EXPORT,
    ID_NEW_CARD,
    ID_CHECK,
};

enum Column { COL_TITLE, COL_FOLDER, COL_SIZE, COL_CLUSTERS, COL_DATE, COL_PROBLEM };

const ContainerKind EXPORT_KINDS[] = {ContainerKind::Psu, ContainerKind::Max, ContainerKind::Cbs,
                                      ContainerKind::SharkPort, ContainerKind::Psv};

// File names as the file system holds them; a name wx cannot convert falls back to UTF-8.
std::string pathBytes(const wxString& path) {
    wxCharBuffer bytes = path.fn_str();
    if (bytes.data() && bytes.length() > 0) return std::string(bytes.data(), bytes.length());
    return std::string(path.utf8_str());
}

wxString pathText(const std::string& path) {
    wxString text(path.data(), *wxConvFileName, path.size());
    if (text.empty() && !path.empty()) text = wxString::FromUTF8(path.data(), path.size());
    return text;
}

wxString utf8(const std::string& text) { return wxString::FromUTF8(text.data(), text.size()); }

// As the console stores it: Japan time, shown as written.
wxString stampText(const Stamp& s) {
    const unsigned year = unsigned(s[6]) | unsigned(s[7]) << 8;
    if (year == 0) return wxString();
    return wxString::Format("%04u-%02u-%02u %02u:%02u", year, unsigned(s[5]), unsigned(s[4]),
                            unsigned(s[3]), unsigned(s[2]));
}

wxString rowName(const SaveRow& row) {
    return row.title.empty() ? utf8(row.folderShown) : utf8(row.title);
}

class FileDrop : public wxFileDropTarget {
public:
    explicit FileDrop(CardsFrame* frame) : frame_(frame) {}
    bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& names) override {
        std::vector<std::string> paths;
        for (const wxString& name : names) paths.push_back(pathBytes(name));
        // After the drop has finished: a dialog inside the drop would hold the source waiting.
        frame_->CallAfter([frame = frame_, paths] { frame->dropFiles(paths); });
        return true;
    }

private:
    CardsFrame* frame_;
};

// The list's picture laid over its background: the list has no alpha.
wxBitmap listPicture(const std::vector<uint8_t>& rgba, uint32_t size, const wxColour& back) {
    wxImage image{int(size), int(size)};
    unsigned char* out = image.GetData();
    const size_t pixels = size_t(size) * size;
    for (size_t i = 0; i < pixels; ++i) {
        const unsigned a = rgba.size() == pixels * 4 ? rgba[i * 4 + 3] : 0;
        const unsigned under[3] = {back.Red(), back.Green(), back.Blue()};
        for (int c = 0; c < 3; ++c) {
            const unsigned over = a ? rgba[i * 4 + c] : 0;
            out[i * 3 + c] = (unsigned char)((over * a + under[c] * (255 - a) + 127) / 255);
        }
    }
    return wxBitmap(image);
}

}  // namespace

CardsFrame::CardsFrame()
    : wxFrame(nullptr, wxID_ANY, "Marrowin Cards", wxDefaultPosition, wxSize(980, 520)),
      diskTimer_(this) {
    dumpRows_ = std::getenv("MARROWIN_CARDS_TEST_DUMP") != nullptr;
    buildMenus();

    wxPanel* panel = new wxPanel(this);
    list_ = new wxListCtrl(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
    list_->AppendColumn(_("Title"), wxLIST_FORMAT_LEFT, 260);
    list_->AppendColumn(_("Folder"), wxLIST_FORMAT_LEFT, 160);
    list_->AppendColumn(_("Size (KB)"), wxLIST_FORMAT_RIGHT, 80);
    list_->AppendColumn(_("Clusters"), wxLIST_FORMAT_RIGHT, 70);
    list_->AppendColumn(_("Date"), wxLIST_FORMAT_LEFT, 130);
    list_->AppendColumn(_("Problems"), wxLIST_FORMAT_LEFT, 200);
    images_ = new wxImageList(int(PICTURE_SIZE), int(PICTURE_SIZE), false);
    list_->AssignImageList(images_, wxIMAGE_LIST_SMALL);

    canvas_ = new IconCanvas(panel);
    canvas_->SetMinSize(wxSize(240, 240));
    gauge_ = new wxGauge(panel, wxID_ANY, 1, wxDefaultPosition, wxSize(200, -1));
    status_ = new wxStaticText(panel, wxID_ANY, wxString());

    auto* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(list_, 1, wxEXPAND | wxALL, 4);
    top->Add(canvas_, 0, wxEXPAND | wxTOP | wxBOTTOM | wxRIGHT, 4);
    auto* bottom = new wxBoxSizer(wxHORIZONTAL);
    bottom->Add(gauge_, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, 4);
    bottom->Add(status_, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    auto* all = new wxBoxSizer(wxVERTICAL);
    all->Add(top, 1, wxEXPAND);
    all->Add(bottom, 0, wxEXPAND | wxBOTTOM, 4);
    panel->SetSizer(all);

    list_->SetDropTarget(new FileDrop(this));
    SetDropTarget(new FileDrop(this));

    list_->Bind(wxEVT_LIST_ITEM_SELECTED, &CardsFrame::onSelection, this);
    list_->Bind(wxEVT_LIST_ITEM_DESELECTED, &CardsFrame::onSelection, this);
    list_->Bind(wxEVT_LIST_BEGIN_DRAG, &CardsFrame::onBeginDrag, this);
    list_->Bind(wxEVT_MOTION, &CardsFrame::onListMotion, this);
    Bind(wxEVT_TIMER, &CardsFrame::onDiskTimer, this, diskTimer_.GetId());
    Bind(wxEVT_ACTIVATE, &CardsFrame::onActivate, this);
    Bind(wxEVT_ICONIZE, &CardsFrame::onIconize, this);
    Bind(wxEVT_CLOSE_WINDOW, &CardsFrame::onClose, this);

    pictureThread_ = std::make_unique<PictureThread>();
    std::string error;
    pictureThread_->run([&] {
        drawer_ = makeIconPictureDrawer(PICTURE_SIZE, error);
        if (drawer_) pictures_ = std::make_unique<PictureCache>(*drawer_, PICTURE_SIZE);
    });
    if (!drawer_) std::fprintf(stderr, "marrowin-cards: no pictures in the list: %s\n", error.c_str());

    refreshRows();
    diskTimer_.Start(DISK_CHECK_MS);
}

CardsFrame::~CardsFrame() {
    diskTimer_.Stop();
    // The renderer belongs to the thread that made it.
    if (pictureThread_) pictureThread_->run([this] {
        pictures_.reset();
        drawer_.reset();
    });
    removeDragFolder();
}

void CardsFrame::buildMenus() {
    auto* file = new wxMenu;
    file->Append(wxID_OPEN, _("&Open...\tCtrl+O"));
    file->Append(ID_OPEN_FOLDER, _("Open &Folder Card..."));
    file->AppendSeparator();
    file->Append(ID_IMPORT, _("&Import...\tCtrl+I"));
    file->Append(ID_EXPORT, _("&Export...\tCtrl+E"));
    file->AppendSeparator();
    file->Append(ID_NEW_CARD, _("&New Card..."));
    file->Append(ID_CHECK, _("&Check"));
    file->AppendSeparator();
    file->Append(wxID_EXIT, _("&Quit\tCtrl+Q"));
    auto* edit = new wxMenu;
    edit->Append(wxID_DELETE, _("&Delete\tDel"));
    edit->Append(wxID_SELECTALL, _("Select &All\tCtrl+A"));
    auto* bar = new wxMenuBar;
    bar->Append(file, _("&File"));
    bar->Append(edit, _("&Edit"));
    SetMenuBar(bar);
    if (dumpRows_)
        for (size_t i = 0; i < bar->GetMenuCount(); ++i)
            std::fprintf(stderr, "menu: %s\n", static_cast<const char*>(bar->GetMenuLabel(i).utf8_str()));
    Bind(wxEVT_MENU, &CardsFrame::onOpen, this, wxID_OPEN);
    Bind(wxEVT_MENU, &CardsFrame::onOpenFolder, this, ID_OPEN_FOLDER);
    Bind(wxEVT_MENU, &CardsFrame::onImport, this, ID_IMPORT);
    Bind(wxEVT_MENU, &CardsFrame::onExport, this, ID_EXPORT);
    Bind(wxEVT_MENU, &CardsFrame::onNewCard, this, ID_NEW_CARD);
    Bind(wxEVT_MENU, &CardsFrame::onCheck, this, ID_CHECK);
    Bind(wxEVT_MENU, &CardsFrame::onQuit, this, wxID_EXIT);
    Bind(wxEVT_MENU, &CardsFrame::onDelete, this, wxID_DELETE);
    Bind(wxEVT_MENU, &CardsFrame::onSelectAll, this, wxID_SELECTALL);
}

int CardsFrame::askModal(wxDialog& dialog) {
    const bool wasBusy = busy_;
    busy_ = true;
    canvas_->setRunning(false);
    const int answer = dialog.ShowModal();
    canvas_->setRunning(!IsIconized());
    busy_ = wasBusy;
    return answer;
}

void CardsFrame::showError(const wxString& text) {
    wxMessageDialog dialog(this, text, _("Marrowin Cards"), wxOK | wxICON_ERROR);
    askModal(dialog);
}

void CardsFrame::openPaths(const std::vector<std::string>& paths) {
    if (paths.empty()) return;
    std::string error;
    if (!model_.open(paths, error)) showError(utf8(error));
    refreshRows();
}

void CardsFrame::dropFiles(const std::vector<std::string>& paths) {
    // A drop that lands while a dialog of a change is up waits for no one: the model is busy.
    if (dragging_ || busy_ || paths.empty()) return;
    if (model_.isCard())
        importPaths(paths);
    else
        openPaths(paths);
}

void CardsFrame::updateCaption() {
    const std::string name = model_.displayName();
    SetTitle(name.empty() ? wxString("Marrowin Cards") : "Marrowin Cards - " + utf8(name));
}

void CardsFrame::refreshRows() {
    const std::vector<SaveRow>& rows = model_.rows();
    list_->Freeze();
    list_->DeleteAllItems();
    images_->RemoveAll();
    const wxColour back = list_->GetBackgroundColour();
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::vector<uint8_t>* rgba = nullptr;
        if (pictures_) pictureThread_->run([&] { rgba = &pictures_->pictureOf(model_, i); });
        static const std::vector<uint8_t> none;
        const int image = images_->Add(listPicture(rgba ? *rgba : none, PICTURE_SIZE, back));
        const SaveRow& row = rows[i];
        const long item = list_->InsertItem(long(i), rowName(row), image);
        list_->SetItem(item, COL_FOLDER, utf8(row.folderShown));
        list_->SetItem(item, COL_SIZE, wxString::Format("%llu", (unsigned long long)((row.bytes + 1023) / 1024)));
        list_->SetItem(item, COL_CLUSTERS, wxString::Format("%u", row.clusters));
        list_->SetItem(item, COL_DATE, stampText(row.modified));
        if (row.errors > 0 || row.warnings > 0)
            list_->SetItem(item, COL_PROBLEM, (row.errors > 0 ? "\u2716 " : "\u26A0 ") + utf8(row.firstProblem));
    }
    list_->Thaw();
    shownRow_ = -1;
    updateCaption();
    showSelectedIcon();
    updateStatus();
    dumpRows();
}

std::vector<size_t> CardsFrame::selectedRows() const {
    std::vector<size_t> rows;
    for (long item = list_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); item != -1;
         item = list_->GetNextItem(item, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
        rows.push_back(size_t(item));
    return rows;
}

void CardsFrame::updateStatus() {
    const std::vector<size_t> selected = selectedRows();
    wxString text;
    if (model_.isCard()) {
        const CardSpace space = model_.space();
        gauge_->Show();
        gauge_->SetRange(int(std::max<uint32_t>(space.totalClusters, 1)));
        gauge_->SetValue(int(space.totalClusters - std::min(space.freeClusters, space.totalClusters)));
        text = utf8(spaceText(space));
    } else {
        gauge_->Hide();
        if (model_.kind() == SourceKind::LooseSaves)
            text = wxString::Format(wxPLURAL("%zu save", "%zu saves", model_.rows().size()), model_.rows().size());
    }
    if (!selected.empty()) {
        const uint32_t needed = model_.clustersNeeded(selected);
        text += (text.empty() ? "" : " \u00B7 ") +
                wxString::Format(wxPLURAL("selection needs %u cluster", "selection needs %u clusters", needed), needed);
    }
    status_->SetLabel(text);
    status_->GetParent()->Layout();
    if (dumpRows_) std::fprintf(stderr, "status: %s\n", static_cast<const char*>(text.utf8_str()));
}

void CardsFrame::dumpRows() const {
    if (!dumpRows_) return;
    std::fprintf(stderr, "rows: %zu\n", model_.rows().size());
    for (const SaveRow& row : model_.rows())
        std::fprintf(stderr, "row: %s | %s | %u | %d\n", row.title.c_str(), row.folderShown.c_str(),
                     row.clusters, row.errors);
    std::fflush(stderr);
}

void CardsFrame::showSelectedIcon() {
    const long focused = list_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    if (focused == shownRow_) return;
    shownRow_ = int(focused);
    SaveImage image;
    std::string error;
    if (focused >= 0 && !model_.imageOf(size_t(focused), image, error)) image = SaveImage();
    canvas_->showSave(std::move(image));
}

void CardsFrame::onSelection(wxListEvent&) {
    showSelectedIcon();
    updateStatus();
}

void CardsFrame::onListMotion(wxMouseEvent& event) {
    event.Skip();
    int flags = 0;
    const long item = list_->HitTest(event.GetPosition(), flags);
    const auto& rows = model_.rows();
    wxString tip;
    if (item >= 0 && size_t(item) < rows.size()) tip = utf8(rows[size_t(item)].firstProblem);
    if (tip != list_->GetToolTipText()) {
        if (tip.empty())
            list_->UnsetToolTip();
        else
            list_->SetToolTip(tip);
    }
}

void CardsFrame::importPaths(const std::vector<std::string>& files) {
    if (files.empty()) return;
    if (!model_.isCard()) {
        showError(_("Open or make a card first: saves are imported onto a card."));
        return;
    }
    busy_ = true;
    AskReplace ask = [this](const ImportQuestion& q) {
        wxString text = wxString::Format(_("The card already holds the save %s (%s).\nReplace it with the one from %s?"),
                                         utf8(q.folderShown), utf8(q.existingTitle), pathText(q.path));
        wxMessageDialog dialog(this, text, _("Replace a save"), wxYES_NO | wxICON_QUESTION);
        return askModal(dialog) == wxID_YES;
    };
    std::vector<ImportOutcome> outcomes = model_.importFiles(files, ask);
    busy_ = false;
    wxString problems;
    for (const ImportOutcome& outcome : outcomes) {
        if (outcome.kind != ImportOutcome::Kind::NoRoom && outcome.kind != ImportOutcome::Kind::Failed) continue;
        problems += pathText(outcome.path) + ": " + utf8(outcome.message) + "\n";
    }
    refreshRows();
    if (!problems.empty()) showError(problems.Trim());
}

bool CardsFrame::exportTo(const std::vector<size_t>& rows, const std::string& folder, ContainerKind kind,
                          std::vector<std::string>& written, bool ask) {
    std::string error;
    AskOverwrite overwrite = [this, ask](const std::string& path) {
        if (!ask) return false;
        wxMessageDialog dialog(this, wxString::Format(_("%s is already there. Replace it?"), pathText(path)),
                               _("Replace a file"), wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION);
        return askModal(dialog) == wxID_YES;
    };
    busy_ = true;
    const bool done = model_.exportSaves(rows, folder, kind, overwrite, written, error);
    busy_ = false;
    if (!done) showError(utf8(error));
    return done;
}

std::vector<std::string> CardsFrame::chooseFiles(const wxString& title, const wxString& filter) {
    wxFileDialog dialog(this, title, wxEmptyString, wxEmptyString, filter + _("All files") + "|*",
                        wxFD_OPEN | wxFD_MULTIPLE | wxFD_FILE_MUST_EXIST);
    std::vector<std::string> paths;
    if (askModal(dialog) != wxID_OK) return paths;
    wxArrayString names;
    dialog.GetPaths(names);
    for (const wxString& name : names) paths.push_back(pathBytes(name));
    return paths;
}

void CardsFrame::onOpen(wxCommandEvent&) {
    const std::vector<std::string> paths = chooseFiles(
        _("Open a card or saves"),
        _("Cards and saves") + "|*.ps2;*.mcd;*.bin;*.mc2;*.psu;*.max;*.cbs;*.sps;*.xps;*.psv;*.PS2;*.MCD;*.BIN;*.PSU;*.MAX;*.CBS;*.SPS;*.XPS;*.PSV|");
    if (!paths.empty()) openPaths(paths);
}

void CardsFrame::onOpenFolder(wxCommandEvent&) {
    wxDirDialog dialog(this, _("Open a folder card"), wxEmptyString, wxDD_DIR_MUST_EXIST);
    if (askModal(dialog) != wxID_OK) return;
    openPaths({pathBytes(dialog.GetPath())});
}

void CardsFrame::onImport(wxCommandEvent&) {
    if (!model_.isCard()) {
        showError(_("Open or make a card first: saves are imported onto a card."));
        return;
    }
    const std::vector<std::string> paths =
        chooseFiles(_("Import saves"), _("Saves") + "|*.psu;*.max;*.cbs;*.sps;*.xps;*.psv;*.PSU;*.MAX;*.CBS;*.SPS;*.XPS;*.PSV|");
    if (!paths.empty()) importPaths(paths);
}

void CardsFrame::onExport(wxCommandEvent&) {
    std::vector<size_t> rows = selectedRows();
    if (rows.empty()) {
        showError(_("Select the saves to export first."));
        return;
    }
    wxArrayString kinds;
    for (ContainerKind kind : EXPORT_KINDS) kinds.Add(wxString(".") + containerWord(kind) + "  " + containerTitle(kind));
    wxSingleChoiceDialog choice(this, _("Export the selected saves as:"), _("Export"), kinds);
    choice.SetSelection(0);
    if (askModal(choice) != wxID_OK) return;
    const ContainerKind kind = EXPORT_KINDS[std::clamp(choice.GetSelection(), 0, 4)];
    // Starts beside the card (or where the last export went): GTK's chooser left in its
    // Recent view takes no typed folder.
    if (exportFolder_.IsEmpty()) exportFolder_ = wxFileName(pathText(model_.path())).GetPath();
    wxDirDialog dialog(this, _("Export into this folder"), exportFolder_, wxDD_DIR_MUST_EXIST);
    if (askModal(dialog) != wxID_OK) return;
    exportFolder_ = dialog.GetPath();
    std::vector<std::string> written;
    exportTo(rows, pathBytes(dialog.GetPath()), kind, written, true);
    if (dumpRows_) {
        for (const std::string& path : written) std::fprintf(stderr, "exported: %s\n", path.c_str());
        std::fflush(stderr);
    }
}

void CardsFrame::onNewCard(wxCommandEvent&) {
    wxArrayString kinds;
    kinds.Add(_("8 MB card image with ECC (PCSX2, most tools)"));
    kinds.Add(_("8 MB card image without ECC"));
    kinds.Add(_("PCSX2 folder card"));
    wxSingleChoiceDialog choice(this, _("Make a new card:"), _("New Card"), kinds);
    choice.SetSelection(0);
    if (askModal(choice) != wxID_OK) return;
    const int picked = std::clamp(choice.GetSelection(), 0, 2);
    const NewCardKind kind = picked == 0 ? NewCardKind::ImageWithEcc
                             : picked == 1 ? NewCardKind::ImageWithoutEcc
                                           : NewCardKind::Folder;
    // The model never replaces what is there, so the dialog needs no overwrite prompt.
    wxFileDialog dialog(this, _("New card"), wxEmptyString, kind == NewCardKind::Folder ? "Mcd001.ps2" : "Mcd001.ps2",
                        wxEmptyString, wxFD_SAVE);
    if (askModal(dialog) != wxID_OK) return;
    const std::string path = pathBytes(dialog.GetPath());
    std::string error;
    if (!CardsModel::newCard(path, kind, error)) {
        showError(utf8(error));
        return;
    }
    openPaths({path});
}

void CardsFrame::onCheck(wxCommandEvent&) {
    if (model_.kind() == SourceKind::None) return;
    wxDialog dialog(this, wxID_ANY, _("Check") + " - " + utf8(model_.displayName()), wxDefaultPosition,
                    wxSize(640, 400), wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    auto* text = new wxTextCtrl(&dialog, wxID_ANY, utf8(model_.checkReport()), wxDefaultPosition,
                                wxDefaultSize, wxTE_MULTILINE | wxTE_READONLY | wxHSCROLL);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(text, 1, wxEXPAND | wxALL, 8);
    sizer->Add(dialog.CreateStdDialogButtonSizer(wxOK), 0, wxEXPAND | wxALL, 8);
    dialog.SetSizer(sizer);
    askModal(dialog);
}

void CardsFrame::onQuit(wxCommandEvent&) { Close(); }

void CardsFrame::onDelete(wxCommandEvent&) {
    if (!model_.isCard()) return;
    std::vector<size_t> rows = selectedRows();
    if (rows.empty()) return;
    wxString names;
    for (size_t row : rows) {
        const SaveRow& r = model_.rows()[row];
        names += "\n" + rowName(r) + " (" + utf8(r.folderShown) + ")";
    }
    const wxString question = rows.size() == 1
                                  ? _("Delete this save from the card?")
                                  : wxString::Format(_("Delete these %zu saves from the card?"), rows.size());
    wxMessageDialog dialog(this, question + "\n" + names, _("Delete"), wxYES_NO | wxNO_DEFAULT | wxICON_WARNING);
    if (askModal(dialog) != wxID_YES) return;
    std::string error;
    busy_ = true;
    const bool done = model_.deleteSaves(rows, error);
    busy_ = false;
    refreshRows();
    if (!done) showError(utf8(error));
}

void CardsFrame::onSelectAll(wxCommandEvent&) {
    for (long i = 0; i < list_->GetItemCount(); ++i) list_->SetItemState(i, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    updateStatus();
}

void CardsFrame::removeDragFolder() {
    if (dragFolder_.empty()) return;
    removeTree(dragFolder_);
    dragFolder_.clear();
}

// Saves dragged out are written as .psu files into a folder of our own at the start of the
// drag: the file manager (or another card window) copies them from there.
void CardsFrame::onBeginDrag(wxListEvent&) {
    std::vector<size_t> rows = selectedRows();
    if (rows.empty()) return;
    removeDragFolder();
    std::string base = pathBytes(wxStandardPaths::Get().GetUserDir(wxStandardPaths::Dir_Cache)) + "/marrowin-cards";
    if (!makeFolder(base)) return;
    std::string folder;
    for (int attempt = 0; attempt < 100 && folder.empty(); ++attempt) {
        std::string candidate = base + "/drag-" + std::to_string(currentProcessId()) + "-" + std::to_string(attempt);
        if (pathKind(candidate) == PathKind::Missing && makeFolder(candidate)) folder = candidate;
    }
    if (folder.empty()) return;
    dragFolder_ = folder;
    std::vector<std::string> written;
    if (!exportTo(rows, folder, ContainerKind::Psu, written, false) || written.empty()) return;
    wxFileDataObject files;
    for (const std::string& path : written) files.AddFile(pathText(path));
    wxDropSource source(files, this);
    dragging_ = true;
    busy_ = true;
    source.DoDragDrop(wxDrag_CopyOnly);
    busy_ = false;
    dragging_ = false;
}

void CardsFrame::rereadIfChanged() {
    if (busy_ || model_.kind() == SourceKind::None || !model_.changedOnDisk()) return;
    std::string error;
    if (!model_.reload(error)) std::fprintf(stderr, "marrowin-cards: %s\n", error.c_str());
    refreshRows();
}

void CardsFrame::onDiskTimer(wxTimerEvent&) { rereadIfChanged(); }

void CardsFrame::onActivate(wxActivateEvent& event) {
    event.Skip();
    // The icon turns only while the user is in this window; another window's work pays nothing.
    if (!busy_) canvas_->setRunning(event.GetActive() && !IsIconized());
    if (event.GetActive()) rereadIfChanged();
}

void CardsFrame::onIconize(wxIconizeEvent& event) {
    event.Skip();
    canvas_->setRunning(!event.IsIconized());
}

void CardsFrame::onClose(wxCloseEvent&) {
    diskTimer_.Stop();
    canvas_->setRunning(false);
    Destroy();
}

}  // namespace marrowin::cards
