#pragma once
// The "Configure GL" window on Windows, from the "SUB1" template: "Get" fills every field,
// "Set" stores every field. Created hidden with no owner; closing only hides it.
#include <windows.h>

#include "view/view_settings.h"

namespace marrowin {

constexpr int IDC_GET = 999;
constexpr int IDC_SET = 1000;

// The settings are handed over as the creation parameter and kept with the window.
HWND createConfigDialog(HINSTANCE instance, ViewSettings& settings);

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void fillConfigDialog(HWND dialog, const ViewSettings& settings);
// A text that gives no finite float leaves its value as it was; those fields are selected and
// the first gets the focus. Gives the number of refused fields.
int applyConfigDialog(HWND dialog, ViewSettings& settings);

}  // namespace marrowin
