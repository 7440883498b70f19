#pragma once
// The card window: menus, the list of saves with their pictures, the live icon beside it,
// the free-space line, drops in and drags out. Everything it changes goes through CardsModel.
#include <wx/frame.h>
#include <wx/timer.h>

#include <memory>
#include <string>
#include <vector>

#include "cards/cards_model.h"

class wxDialog;
class wxGauge;
class wxImageList;
class wxListCtrl;
class wxListEvent;
class wxStaticText;

namespace marrowin::cards {

class IconCanvas;
class PictureThread;

class CardsFrame : public wxFrame {
public:
    CardsFrame();
    ~CardsFrame() override;

    // What the command line named, once the window is on the screen.
    void openPaths(const std::vector<std::string>& paths);
    // Files dropped from a file manager: saves onto an open card, anything else opened.
    void dropFiles(const std::vector<std::string>& paths);

private:
    void buildMenus();
    void refreshRows();
    void updateStatus();
    void updateCaption();
    void showSelectedIcon();
    std::vector<size_t> selectedRows() const;
    void importPaths(const std::vector<std::string>& files);
    bool exportTo(const std::vector<size_t>& rows, const std::string& folder, ContainerKind kind,
                  std::vector<std::string>& written, bool ask);
    void showError(const wxString& text);
    int askModal(wxDialog& dialog);
    void dumpRows() const;
    void removeDragFolder();

    // The files picked in an open dialog (several at once), as path bytes; none when cancelled.
    std::vector<std::string> chooseFiles(const wxString& title, const wxString& filter);
    void onOpen(wxCommandEvent& event);
    void onOpenFolder(wxCommandEvent& event);
    void onImport(wxCommandEvent& event);
    void onExport(wxCommandEvent& event);
    void onNewCard(wxCommandEvent& event);
    void onCheck(wxCommandEvent& event);
    void onQuit(wxCommandEvent& event);
    void onDelete(wxCommandEvent& event);
    void onSelectAll(wxCommandEvent& event);
    void onSelection(wxListEvent& event);
    void onBeginDrag(wxListEvent& event);
    void onListMotion(wxMouseEvent& event);
    void onDiskTimer(wxTimerEvent& event);
    void onActivate(wxActivateEvent& event);
    void onIconize(wxIconizeEvent& event);
    void onClose(wxCloseEvent& event);
    void rereadIfChanged();

    CardsModel model_;
    std::unique_ptr<PictureThread> pictureThread_;
    std::unique_ptr<PictureDrawer> drawer_;
    std::unique_ptr<PictureCache> pictures_;
    wxListCtrl* list_ = nullptr;
    wxImageList* images_ = nullptr;
    IconCanvas* canvas_ = nullptr;
    wxGauge* gauge_ = nullptr;
    wxStaticText* status_ = nullptr;
    wxTimer diskTimer_;
    std::string dragFolder_;  // the saves of the last drag out, removed at the next or at exit
    wxString exportFolder_;
    int shownRow_ = -1;
    bool busy_ = false;     // inside a change or a dialog: the disk timer waits
    bool dragging_ = false; // our own drag: a drop of it on this window is ignored
    bool dumpRows_ = false;
};

}  // namespace marrowin::cards
