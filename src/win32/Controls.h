#pragma once

#include <windows.h>

#include <string>
#include <string_view>
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

// The control of a dialog's model that has name (NameOf), among those up to
// last; false for a name the model does not know.
template <typename Control>
bool ControlNamed(std::string_view name, Control last, Control& control) {
    for (int i = 0; i <= static_cast<int>(last); ++i) {
        if (NameOf(static_cast<Control>(i)) == name) {
            control = static_cast<Control>(i);
            return true;
        }
    }
    return false;
}

}  // namespace sparkloom::win32
