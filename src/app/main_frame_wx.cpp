#include "app/main_frame_wx.h"

#include <wx/dcclient.h>
#include <wx/dnd.h>
#include <wx/filedlg.h>
#include <wx/glcanvas.h>
#include <wx/menu.h>
#include <wx/xrc/xmlres.h>

#include <cmath>
#include <cstdlib>

#include "app/resources_wx.h"
#include "icon/animation.h"
#include "icon/icon_draw.h"
#include "icon/icon_model.h"
#include "view/config_window_wx.h"

namespace marrowin {

namespace {

// Client area in dialog units of the system font.
constexpr int MAIN_WIDTH_DU = 240;
constexpr int MAIN_HEIGHT_DU = 180;

// Key-state bits beyond the navigation ones: the extra buttons.
constexpr uint32_t MK_XBUTTON1 = 0x20;
constexpr uint32_t MK_XBUTTON2 = 0x40;

struct MenuCommand {
    const char* name;  // object name in main.xrc
    int command;
};
constexpr MenuCommand MENU_COMMANDS[] = {
    {"CMD_OPEN", CMD_OPEN},
    {"CMD_EXIT", CMD_EXIT},
    {"CMD_OPT_COPY", CMD_OPT_COPY},
    {"CMD_OPT_EXTRACT", CMD_OPT_EXTRACT},
    {"CMD_OPT_PACK", CMD_OPT_PACK},
    {"CMD_ICON_NORMAL", CMD_ICON_NORMAL},
    {"CMD_ICON_COPY", CMD_ICON_COPY},
    {"CMD_ICON_DELETE", CMD_ICON_DELETE},
    {"CMD_ANIM_FASTER", CMD_ANIM_FASTER},
    {"CMD_ANIM_SLOWER", CMD_ANIM_SLOWER},
    {"CMD_CONFIGURE", CMD_CONFIGURE},
};

class DropTarget : public wxFileDropTarget {
public:
    explicit DropTarget(MainFrame* frame) : frame_(frame) {}
    bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& paths) override {
        frame_->loadDroppedFiles(paths);
        return true;
    }

private:
    MainFrame* frame_;
};

// File names as the file system holds them; a name wx could not convert falls back to UTF-8.
std::string pathBytes(const wxString& path) {
    wxCharBuffer bytes = path.fn_str();
    if (bytes.data() && bytes.length() > 0) return std::string(bytes.data(), bytes.length());
    return std::string(path.utf8_str());
}

wxGLAttributes canvasAttributes() {
    wxGLAttributes attrs;
    attrs.PlatformDefaults().RGBA().MinRGBA(8, 8, 8, 8).Depth(16).DoubleBuffer().EndList();
    return attrs;
}

}  // namespace

MainFrame::MainFrame(ViewSettings& settings)
    : wxFrame(nullptr, wxID_ANY, "Marrowin", wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE),
      settings_(settings) {
    SetIcon(programIcon());
    if (wxMenuBar* bar = wxXmlResource::Get()->LoadMenuBar(this, "MAIN")) SetMenuBar(bar);
    for (const MenuCommand& c : MENU_COMMANDS) commandOfId_[XRCID(c.name)] = c.command;

    canvas_ = new wxGLCanvas(this, canvasAttributes(), wxID_ANY, wxDefaultPosition,
                             wxDefaultSize, wxFULL_REPAINT_ON_RESIZE);
    SetClientSize(ConvertDialogToPixels(wxSize(MAIN_WIDTH_DU, MAIN_HEIGHT_DU)));
    centreOnMouse(this);

    // Drops are taken on the frame and the canvas alike.
    SetDropTarget(new DropTarget(this));
    canvas_->SetDropTarget(new DropTarget(this));

    Bind(wxEVT_IDLE, &MainFrame::onIdle, this);
    Bind(wxEVT_MENU, &MainFrame::onMenu, this);
    Bind(wxEVT_MENU_OPEN, &MainFrame::onMenuOpen, this);
    Bind(wxEVT_MENU_CLOSE, &MainFrame::onMenuClose, this);
    Bind(wxEVT_CLOSE_WINDOW, &MainFrame::onClose, this);
    canvas_->Bind(wxEVT_PAINT, &MainFrame::onPaint, this);
    canvas_->Bind(wxEVT_SIZE, &MainFrame::onCanvasSize, this);
    canvas_->Bind(wxEVT_MOTION, &MainFrame::onMotion, this);
}

void MainFrame::initMainWindow() {
    wxGLContextAttrs contextAttrs;
    contextAttrs.PlatformDefaults().CompatibilityProfile().EndList();
    context_ = new wxGLContext(canvas_, nullptr, &contextAttrs);
    canvas_->SetCurrent(*context_);
    initGLState(settings_);

    icon_.textureImage = static_cast<uint8_t*>(std::calloc(1, TEXTURE_BUFFER_BYTES));

    // Two size changes, the second with the final client size, so viewport and aspect match
    // the client area before the first frame.
    ready_ = true;
    wxSize client = drawableSize();
    resizeView(frame_, settings_, 0, 0);
    resizeView(frame_, settings_, uint32_t(client.x), uint32_t(client.y));

    baseCaption_ = std::string(GetTitle().utf8_str());
    // Last, so its fields show the defaults with this window's aspect.
    configDialog_ = ConfigWindow::create(settings_);
    if (configDialog_) configDialog_->SetIcon(programIcon());
}

void MainFrame::setCaption(const std::string& utf8) { SetTitle(wxString::FromUTF8(utf8)); }

int MainFrame::wxIdFor(int command) const {
    for (const auto& [id, cmd] : commandOfId_)
        if (cmd == command) return id;
    return wxID_NONE;
}

// The options live only in the check marks of the Edit menu.
bool MainFrame::isOptionOn(LoadOption option) {
    const int command = optionCommand(option);
    wxMenuBar* bar = GetMenuBar();
    int id = wxIdFor(command);
    return bar && bar->FindItem(id) && bar->IsChecked(id);
}

void MainFrame::toggleOption(int command) {
    wxMenuBar* bar = GetMenuBar();
    int id = wxIdFor(command);
    if (bar && bar->FindItem(id)) bar->Check(id, !bar->IsChecked(id));
}

void MainFrame::clearCurrentModel() { icon_.currentModel.reset(); }

void MainFrame::selectIcon(int index) {
    if (!context_) return;
    marrowin::selectIcon(icon_, currentSaveImage, settings_.lights, index);
}

void MainFrame::swapBuffers() { canvas_->SwapBuffers(); }

void MainFrame::showConfigDialog() {
    if (!configDialog_) return;
    configDialog_->Show();
    configDialog_->Raise();
}

void MainFrame::onMenu(wxCommandEvent& event) {
    auto it = commandOfId_.find(event.GetId());
    if (it == commandOfId_.end()) return;
    int command = it->second;
    if (isOptionCommand(command)) {
        // GTK has flipped the check mark of the chosen item already; flipping it again here
        // would undo the choice.
        return;
    }
    runCommand(*this, command);
}

void MainFrame::onMenuOpen(wxMenuEvent&) { ++menusOpen_; }
void MainFrame::onMenuClose(wxMenuEvent&) {
    if (menusOpen_ > 0) --menusOpen_;
}

void MainFrame::chooseAndLoadFile() {
    // Any file, and a typed name that does not exist goes on to loadPath, which ignores it.
    wxFileDialog dialog(this, wxEmptyString, wxEmptyString, wxEmptyString, wxEmptyString,
                        wxFD_OPEN);
    modalUp_ = true;
    int answer = dialog.ShowModal();
    modalUp_ = false;
    if (answer != wxID_OK) return;
    loadPath(*this, currentSaveImage, baseCaption_, pathBytes(dialog.GetPath()));
}

void MainFrame::loadDroppedFiles(const wxArrayString& paths) {
    std::vector<std::string> bytes;
    for (const wxString& path : paths) bytes.push_back(pathBytes(path));
    loadPaths(bytes);
}

void MainFrame::loadPaths(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (closing_) return;
        loadPath(*this, currentSaveImage, baseCaption_, path);
    }
}

void MainFrame::paintOnce() {
    if (!ready_ || painting_ || closing_ || !context_) return;
    painting_ = true;
    paintFrame(frame_, settings_, icon_, *this);
    painting_ = false;
}

wxSize MainFrame::drawableSize() const {
    // Mouse positions stay in logical units; only the viewport needs device pixels.
    const double scale = canvas_->GetContentScaleFactor();
    wxSize logical = canvas_->GetClientSize();
    return wxSize(int(std::lround(logical.x * scale)), int(std::lround(logical.y * scale)));
}

void MainFrame::onIdle(wxIdleEvent& event) {
    // GTK goes on sending idle events inside menus and modal dialogs; there the animation
    // stands still, as it does under a platform modal loop.
    if (menusOpen_ > 0 || modalUp_ || closing_) return;
    paintOnce();
    event.RequestMore();
}

void MainFrame::onPaint(wxPaintEvent&) {
    wxPaintDC dc(canvas_);
    paintOnce();
}

void MainFrame::onCanvasSize(wxSizeEvent& event) {
    event.Skip();
    if (!ready_ || closing_) return;
    wxSize size = drawableSize();
    resizeView(frame_, settings_, uint32_t(std::max(size.x, 0)), uint32_t(std::max(size.y, 0)));
}

void MainFrame::onMotion(wxMouseEvent& event) {
    if (!ready_ || closing_) return;
    int x = event.GetX(), y = event.GetY();
    wxSize client = canvas_->GetClientSize();
    // While a button is held GTK keeps reporting the pointer outside the window; the view
    // follows the mouse only over its client area.
    if (x < 0 || y < 0 || x >= client.x || y >= client.y) return;
    uint32_t keys = 0;
    if (event.LeftIsDown()) keys |= MK_LBUTTON;
    if (event.RightIsDown()) keys |= MK_RBUTTON;
    if (event.ShiftDown()) keys |= MK_SHIFT;
    if (event.ControlDown()) keys |= MK_CONTROL;
    if (event.MiddleIsDown()) keys |= MK_MBUTTON;
    if (event.Aux1IsDown()) keys |= MK_XBUTTON1;
    if (event.Aux2IsDown()) keys |= MK_XBUTTON2;
    navigateMouse(mouse_, settings_, keys, uint32_t(x), uint32_t(y));
}

void MainFrame::onClose(wxCloseEvent&) { closeMainWindow(); }

void MainFrame::closeMainWindow() {
    if (closing_) return;
    closing_ = true;
    icon_.currentModel.reset();
    releaseSaveImage(currentSaveImage);
    std::free(icon_.textureImage);
    icon_.textureImage = nullptr;
    delete context_;
    context_ = nullptr;
    Destroy();
    // The configuration window is still there (hidden); the program ends with this window.
    wxTheApp->ExitMainLoop();
}

}  // namespace marrowin
