#include "win32/Controls.h"

#include "platform/WideText_win.h"

namespace sparkloom::win32 {

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void EnableKeepingKeyboard(HWND parent, HWND control, bool enabled) {
    const bool hadFocus = GetFocus() == control;
    EnableWindow(control, enabled);
    if (!enabled && hadFocus) {
        if (HWND next = GetNextDlgTabItem(parent, control, FALSE)) {
            SetFocus(next);
        }
    }
}

std::wstring ReplaceComboItems(HWND combo, const std::vector<std::string>& items) {
    const std::wstring shown = WindowText(combo);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items) {
        SendMessageW(combo, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(platform::WideOf(item).c_str()));
    }
    return shown;
}

}  // namespace sparkloom::win32
