#pragma once
// Dragging saves out of the list: the files (already written) offered to the shell as the
// Explorer offers files, so any file manager or another card window takes them.
#include <windows.h>

#include <string>
#include <vector>

namespace marrowin::cards {

// Runs the drag until it ends (modal, as DoDragDrop is). False when the files could not be
// offered; true also when the user cancelled.
bool dragFilesOut(HWND owner, const std::vector<std::string>& files);

}  // namespace marrowin::cards
