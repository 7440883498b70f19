#pragma once
// The card window on Windows: a list of the saves (report view, 64 px pictures), the selected
// save's icon turning beside it, a status bar with the card's room, and the menu's commands,
// each a call into CardsModel. Everything that changes the card goes through the model.
#include "cards/spin_view_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "cards/cards_model.h"

namespace marrowin::cards {

class CardsWindow {
public:
    CardsWindow();
    ~CardsWindow();
    HWND create(HINSTANCE instance, int showCommand);
    HWND handle() const { return window_; }
    HACCEL accelerators() const { return keys_; }
    // Opens what was named (the command line, File > Open, a drop onto an empty window).
    bool openPaths(const std::vector<std::string>& paths);

private:
    static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void onCreate();
    void layout();
    void command(int id);
    LRESULT notify(NMHDR* header);

    void chooseAndOpen();
    void chooseAndOpenFolderCard();
    void chooseAndImport();
    void importFiles(const std::vector<std::string>& files);
    void dropFiles(HDROP drop);
    void exportSelected();
    void deleteSelected();
    void newCard();
    void showCheck();
    void checkDisk();
    void beginDrag();

    void refill();
    void selectionChanged();
    void updateStatus();
    void writeDump();
    std::vector<size_t> selectedRows() const;
    std::vector<std::string> selectedNames(const std::vector<size_t>& rows) const;
    void message(const std::string& utf8, UINT flags);
    bool ask(const std::string& utf8);

    HINSTANCE instance_ = nullptr;
    HWND window_ = nullptr;
    HWND list_ = nullptr;
    HWND status_ = nullptr;
    HACCEL keys_ = nullptr;
    HIMAGELIST images_ = nullptr;
    SpinView spin_;
    CardsModel model_;
    std::unique_ptr<PictureDrawer> drawer_;
    std::unique_ptr<PictureCache> pictures_;
    std::string pictureError_;
    std::string appName_;
    std::string exportFolder_;
    int exportChoice_ = 0;
    bool selectionPending_ = false;
    bool busy_ = false;        // a dialog of ours is up: the disk check waits
    std::string dumpPath_;     // MARROWIN_CARDS_TEST_DUMP: the rows written on every change
    std::vector<std::string> selectedFolders_;  // as last shown, to keep across a reread
    std::vector<std::string> dragFiles_;     // being dragged out: not imported again if dropped here
    std::vector<std::string> dragFolders_;   // written for drags, removed at exit
};

}  // namespace marrowin::cards
