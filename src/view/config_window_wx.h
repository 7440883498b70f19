#pragma once
// The "Configure GL" window: every view value as text, "Get" fills the fields, "Set" stores
// them. It has no owner, closing only hides it, and the program never destroys it.
#include <wx/frame.h>

#include "view/view_settings.h"

class wxTextCtrl;

namespace marrowin {

constexpr int IDC_GET = 999;
constexpr int IDC_SET = 1000;

class ConfigWindow : public wxFrame {
public:
    // Builds the window from "SUB1", hidden, centred on the mouse pointer, and fills it.
    static ConfigWindow* create(ViewSettings& settings);

    // "Get": every value into its field.
    void fillConfigDialog();
    // "Set": every field into its value. A text that gives no finite float leaves its value
    // as it was; those fields are selected so the user sees which ones were refused.
    // Gives the number of refused fields.
    int applyConfigDialog();

private:
    explicit ConfigWindow(ViewSettings& settings) : settings_(settings) {}
    void onButton(wxCommandEvent& event);
    void onClose(wxCloseEvent& event);

    ViewSettings& settings_;
    wxTextCtrl* fields_[VIEW_FIELD_COUNT] = {};
};

// Puts a top-level window of the given size centred on the mouse pointer, kept on the screen
// that holds the pointer.
void centreOnMouse(wxWindow* window);

}  // namespace marrowin
