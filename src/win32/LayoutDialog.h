#pragma once

#include <windows.h>

#include <span>
#include <string>
#include <string_view>

#include "win32/LayoutControls.h"
#include "workflow/WindowLayout.h"

namespace sparkloom::win32 {

// What the dialogs of a layout table share: a modal dialog over the main
// window with a client area of the table's size and the table's controls,
// centred over its owner, in fonts of its own, laid out again when its
// screen's scale changes or its owner's does.
class LayoutDialog {
public:
    struct Table {
        std::span<const ControlLayout> layout;
        int firstId;       // the first control's ID
        SIZE clientTwips;  // the client area
        std::string_view caption;
        std::string_view defaultButton;  // the button Enter presses, if any
    };

    // dpi: the owner's, so that both look alike.
    LayoutDialog(HINSTANCE instance, HWND owner, UINT dpi, const Table& table);
    virtual ~LayoutDialog() = default;
    LayoutDialog(const LayoutDialog&) = delete;
    LayoutDialog& operator=(const LayoutDialog&) = delete;

    // The owner was laid out for dpi: the dialog follows, centred over it.
    void FollowOwner(UINT dpi);

protected:
    // Shows the dialog over its owner, which is disabled meanwhile, and
    // returns once it has ended; false when the system refused.
    bool RunModal();
    // Ends the dialog once, and its timer with it.
    void End();
    bool Ended() const { return mEnded; }
    // Calls Timer() once, after milliseconds; a second call before then
    // reschedules it.
    void StartTimer(int milliseconds);
    // A warning box over the dialog; the dialog stays open.
    void Warn(const std::string& text);

    // The controls are made: the model may fill them.
    virtual void Opened() = 0;
    // The dialog was laid out for a new DPI.
    virtual void Rescaled() {}
    // What StartTimer asked for, while the dialog is still open.
    virtual void Timer() {}
    // Every message but the layout's own; as a dialog procedure answers.
    virtual INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam) = 0;

    HINSTANCE mInstance;
    HWND mOwner;
    HWND mDialog = nullptr;
    LayoutControls mControls;

private:
    static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Layout(UINT message, WPARAM wParam, LPARAM lParam);
    // Sizes the dialog for dpi, at suggested's corner or else centred over
    // its owner, and lays its controls out again once they are made.
    void ScaleTo(UINT dpi, const RECT* suggested);

    Table mTable;
    UINT mDpi;
    bool mEnded = false;
};

}  // namespace sparkloom::win32
