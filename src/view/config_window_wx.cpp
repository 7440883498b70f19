#include "view/config_window_wx.h"

#include <wx/button.h>
#include <wx/display.h>
#include <wx/panel.h>
#include <wx/textctrl.h>
#include <wx/utils.h>
#include <wx/xrc/xmlres.h>

#include <string>

#include "view/value_text.h"

namespace marrowin {

namespace {
// The window's size in dialog units of its own font.
constexpr int CONFIG_WIDTH_DU = 272;
constexpr int CONFIG_HEIGHT_DU = 390;
// Room a window manager takes above a window for its title bar.
constexpr int TITLE_BAR_ALLOWANCE = 40;

wxRect displayAreaUnderMouse() {
    int index = wxDisplay::GetFromPoint(wxGetMousePosition());
    return wxDisplay(index == wxNOT_FOUND ? 0u : unsigned(index)).GetClientArea();
}

// The window is laid out for its Japanese dialog font. Where that font is missing the
// fallback is larger, and the window would no longer fit a 768-pixel screen with its title
// bar: then controls, their fonts and the window shrink together until it does.
void fitIntoDisplay(wxWindow* panel, wxSize& client) {
    const int room = displayAreaUnderMouse().height - TITLE_BAR_ALLOWANCE;
    if (!panel || client.y <= room || room <= 0) return;
    const double f = double(room) / client.y;
    auto scaled = [f](int v) { return int(v * f); };
    for (wxWindow* child : panel->GetChildren()) {
        wxRect r = child->GetRect();
        wxFont font = child->GetFont();
        font.SetFractionalPointSize(font.GetFractionalPointSize() * f);
        child->SetFont(font);
        child->SetSize(scaled(r.x), scaled(r.y), scaled(r.width), scaled(r.height));
    }
    client = wxSize(scaled(client.x), scaled(client.y));
}
}  // namespace

void centreOnMouse(wxWindow* window) {
    wxPoint mouse = wxGetMousePosition();
    wxRect area = displayAreaUnderMouse();
    wxSize size = window->GetSize();
    int x = mouse.x - size.x / 2;
    int y = mouse.y - size.y / 2;
    // Keep the whole window on the screen; the top left corner wins when it is too big.
    x = std::max(area.x, std::min(x, area.GetRight() + 1 - size.x));
    y = std::max(area.y, std::min(y, area.GetBottom() + 1 - size.y));
    window->Move(x, y);
}

ConfigWindow* ConfigWindow::create(ViewSettings& settings) {
    auto* window = new ConfigWindow(settings);
    if (!wxXmlResource::Get()->LoadFrame(window, nullptr, "SUB1")) {
        delete window;
        return nullptr;
    }
    for (size_t i = 0; i < VIEW_FIELD_COUNT; ++i) {
        wxTextCtrl* field = XRCCTRL(*window, std::to_string(VIEW_FIELDS[i].id).c_str(), wxTextCtrl);
        // GTK's roomy entry padding would hide the last digits of "1000.000000" in a field
        // 52 units wide; the fields' text is set a little smaller than the labels'.
        if (field) field->SetFont(field->GetFont().Smaller());
        window->fields_[i] = field;
    }
    // Ids the platform layer knows the buttons by.
    if (auto* get = XRCCTRL(*window, "IDC_GET", wxButton)) get->SetId(IDC_GET);
    if (auto* set = XRCCTRL(*window, "IDC_SET", wxButton)) set->SetId(IDC_SET);

    wxWindow* panel = XRCCTRL(*window, "SUB1_PANEL", wxPanel);
    wxSize client = (panel ? panel : window)->ConvertDialogToPixels(wxSize(CONFIG_WIDTH_DU, CONFIG_HEIGHT_DU));
    fitIntoDisplay(panel, client);
    window->SetClientSize(client);
    window->SetSizeHints(window->GetSize(), window->GetSize());

    window->Bind(wxEVT_BUTTON, &ConfigWindow::onButton, window);
    window->Bind(wxEVT_CLOSE_WINDOW, &ConfigWindow::onClose, window);
    centreOnMouse(window);
    window->fillConfigDialog();
    return window;
}

void ConfigWindow::fillConfigDialog() {
    for (size_t i = 0; i < VIEW_FIELD_COUNT; ++i) {
        if (!fields_[i]) continue;
        std::string text = formatViewValue(viewFieldValue(settings_, VIEW_FIELDS[i].index));
        // ChangeValue: filling is not an edit.
        fields_[i]->ChangeValue(wxString::FromUTF8(text));
    }
}

int ConfigWindow::applyConfigDialog() {
    int refused = 0;
    wxTextCtrl* firstRefused = nullptr;
    for (size_t i = 0; i < VIEW_FIELD_COUNT; ++i) {
        if (!fields_[i]) continue;
        // A field is read as at most 1023 characters.
        std::string text(fields_[i]->GetValue().utf8_str());
        if (text.size() > 1023) text.resize(1023);
        if (!takeViewValue(text, viewFieldValue(settings_, VIEW_FIELDS[i].index))) {
            ++refused;
            fields_[i]->SelectAll();
            if (!firstRefused) firstRefused = fields_[i];
        }
    }
    if (firstRefused) firstRefused->SetFocus();
    return refused;
}

void ConfigWindow::onButton(wxCommandEvent& event) {
    if (event.GetId() == IDC_GET) fillConfigDialog();
    else if (event.GetId() == IDC_SET) applyConfigDialog();
}

void ConfigWindow::onClose(wxCloseEvent& event) {
    // Only hidden: the fields keep their text for the next showing.
    if (!event.CanVeto()) {
        Destroy();
        return;
    }
    event.Veto();
    Hide();
}

}  // namespace marrowin
