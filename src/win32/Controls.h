#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sparkloom::win32 {

// What the main window and the Frames dialog do alike with their controls.
std::wstring WindowText(HWND window);
// Disables or enables control; a disabled control that had the focus passes
// it on within parent, or it would keep the keyboard.
void EnableKeepingKeyboard(HWND parent, HWND control, bool enabled);
// Replaces a combo box's list and returns the text its field showed, which
// emptying the list also empties.
std::wstring ReplaceComboItems(HWND combo, const std::vector<std::string>& items);

}  // namespace sparkloom::win32
