#pragma once

#include <windows.h>

#include <cstddef>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "workflow/WindowLayout.h"

namespace sparkloom::win32 {

// The native controls of one layout table on one window, made the same way
// for the main window and each dialog: classes and styles from the rows'
// kinds, the window font, tooltips, and positions from twips at the window's
// DPI. The fonts belong to it, so a window rescaled never draws with a font
// another window has let go.
class LayoutControls {
public:
    // Control IDs are firstId plus the row; defaultButton, if named, is the
    // button Enter presses.
    LayoutControls(HINSTANCE instance, std::span<const ControlLayout> layout, int firstId,
                   std::string_view defaultButton = {});
    ~LayoutControls();
    LayoutControls(const LayoutControls&) = delete;
    LayoutControls& operator=(const LayoutControls&) = delete;

    // Makes every row's control on parent, laid out for dpi, in the table's
    // order, which is the tab order.
    void Create(HWND parent, UINT dpi);
    // Lays the controls out again for dpi, from the table, with fonts of that size.
    void ScaleTo(UINT dpi);
    // The parent is being destroyed, and its controls with it.
    void Forget();

    // Create has made the controls, and the parent is still there.
    bool Made() const { return mParent != nullptr; }
    UINT Dpi() const { return mDpi; }
    HFONT Font() const { return mFont; }
    int Scaled(int twips) const;
    // A row's box in the parent's client area, pixels at the current DPI.
    RECT BoxOf(const ControlLayout& control) const;
    // nullptr for a name the table does not have, or before Create.
    HWND Of(std::string_view name) const;
    // -1 for a handle that is none of the table's controls.
    int RowOf(HWND control) const;
    const ControlLayout* LayoutOf(HWND control) const;
    // One of the labels that stand in for a red frame's caption.
    bool IsRedCaption(HWND control) const;

private:
    void MakeFonts();
    void AddToolTip(HWND control, std::string_view text);
    void AddRedCaption(std::size_t frameRow);
    void PlaceRedCaption(HWND label, const ControlLayout& frame);
    const ControlLayout* FrameOf(const ControlLayout& control) const;

    HINSTANCE mInstance;
    std::span<const ControlLayout> mLayout;
    int mFirstId;
    std::string_view mDefaultButton;
    HWND mParent = nullptr;
    UINT mDpi = 96;
    std::vector<HWND> mControls;
    // The red frame captions, labels over their frames' lines, with their frames' rows.
    std::vector<std::pair<HWND, std::size_t>> mRedCaptions;
    HWND mToolTip = nullptr;
    HFONT mFont = nullptr;
    HFONT mBoldFont = nullptr;
};

// WM_GETDPISCALEDSIZE, Windows 10 1703 on; the headers name it for newer targets only.
inline constexpr UINT kGetDpiScaledSize = 0x02E4;

// The screen's scale for window: per monitor where Windows has it (10 1607
// on), the system's otherwise.
UINT DpiOf(HWND window);
// The outer size window needs, with its own styles, for a client area of
// clientTwips at dpi.
SIZE OuterSizeFor(HWND window, SIZE clientTwips, UINT dpi);
// Gives window a client area of clientTwips at dpi, its corner at at.
void SizeClientArea(HWND window, SIZE clientTwips, UINT dpi, POINT at);
// The corner of a window of outer size centred over owner, kept on owner's screen.
POINT CentredOver(HWND owner, SIZE outer);
// Leaves a dialog's scaling to its own WM_DPICHANGED: Windows (10 1703 on)
// would otherwise rescale the fonts and boxes of a dialog template, which
// has none, over what the dialog lays out itself.
void KeepDialogScaling(HWND dialog);

}  // namespace sparkloom::win32
