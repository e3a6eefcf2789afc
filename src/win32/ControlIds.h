#pragma once

// The window's control IDs: 1000 plus the control's row in kWindowLayout, so a
// test or an accessibility tool finds each control by its form name; the
// "Frames…" dialog's are 2000 plus the row in kFramesLayout.

#include <cstddef>
#include <string_view>

#include "workflow/FramesLayout.h"
#include "workflow/WindowLayout.h"

namespace sparkloom::win32 {

inline constexpr int kFirstControlId = 1000;
// The window class, for finding the window from another program.
inline constexpr wchar_t kWindowClass[] = L"SparkloomForm1";

// 0 for a name the layout does not have.
constexpr int ControlIdOf(std::string_view name) {
    for (std::size_t row = 0; row < kWindowLayout.size(); ++row) {
        if (kWindowLayout[row].name == name) {
            return kFirstControlId + static_cast<int>(row);
        }
    }
    return 0;
}

inline constexpr int kFirstFramesControlId = 2000;

// 0 for a name the dialog's layout does not have.
constexpr int FramesControlIdOf(std::string_view name) {
    for (std::size_t row = 0; row < kFramesLayout.size(); ++row) {
        if (kFramesLayout[row].name == name) {
            return kFirstFramesControlId + static_cast<int>(row);
        }
    }
    return 0;
}

}  // namespace sparkloom::win32
