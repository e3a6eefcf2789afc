#pragma once

// The window's control IDs: 1000 plus the control's row in kWindowLayout, so a
// test or an accessibility tool finds each control by its form name; the
// "Frames…" dialog's are 2000 plus the row in kFramesLayout, the "Preview"
// dialog's 3000 plus the row in kPreviewLayout.

#include <array>
#include <cstddef>
#include <string_view>

#include "workflow/FramesLayout.h"
#include "workflow/PreviewLayout.h"
#include "workflow/WindowLayout.h"

namespace sparkloom::win32 {

inline constexpr int kFirstControlId = 1000;
inline constexpr int kFirstFramesControlId = 2000;
inline constexpr int kFirstPreviewControlId = 3000;
// The window class, for finding the window from another program.
inline constexpr wchar_t kWindowClass[] = L"SparkloomForm1";

// first plus name's row in layout; 0 for a name the layout does not have.
template <std::size_t N>
constexpr int ControlIdIn(const std::array<ControlLayout, N>& layout, int first,
                          std::string_view name) {
    for (std::size_t row = 0; row < layout.size(); ++row) {
        if (layout[row].name == name) {
            return first + static_cast<int>(row);
        }
    }
    return 0;
}

constexpr int ControlIdOf(std::string_view name) {
    return ControlIdIn(kWindowLayout, kFirstControlId, name);
}

constexpr int FramesControlIdOf(std::string_view name) {
    return ControlIdIn(kFramesLayout, kFirstFramesControlId, name);
}

constexpr int PreviewControlIdOf(std::string_view name) {
    return ControlIdIn(kPreviewLayout, kFirstPreviewControlId, name);
}

}  // namespace sparkloom::win32
