#include "win32/LayoutDialog.h"

#include <algorithm>
#include <cstddef>

#include "platform/WideText_win.h"
#include "win32/Dialogs.h"

namespace sparkloom::win32 {

namespace {

constexpr wchar_t kProgramName[] = L"Sparkloom";
constexpr UINT_PTR kTimer = 1;

// A dialog without controls of its own: they are made from the layout, in
// pixels, once it exists.
struct alignas(DWORD) EmptyDialog {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    WORD title;
};
static_assert(offsetof(EmptyDialog, menu) == 18, "a dialog template's arrays follow its header");

}  // namespace

LayoutDialog::LayoutDialog(HINSTANCE instance, HWND owner, UINT dpi, const Table& table)
    : mInstance(instance),
      mOwner(owner),
      mControls(instance, table.layout, table.firstId, table.defaultButton),
      mTable(table),
      mDpi(dpi) {}

bool LayoutDialog::RunModal() {
    EmptyDialog empty{};
    empty.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    empty.header.dwExtendedStyle = WS_EX_CONTROLPARENT;
    return DialogBoxIndirectParamW(mInstance, &empty.header, mOwner, &LayoutDialog::Procedure,
                                   reinterpret_cast<LPARAM>(this)) != -1;
}

void LayoutDialog::End() {
    if (mDialog == nullptr || mEnded) {
        return;
    }
    mEnded = true;
    KillTimer(mDialog, kTimer);
    ::EndDialog(mDialog, 0);
}

void LayoutDialog::StartTimer(int milliseconds) {
    // The same ID again replaces a pending timer.
    if (mDialog != nullptr && !mEnded) {
        SetTimer(mDialog, kTimer, static_cast<UINT>(std::max(milliseconds, 0)), nullptr);
    }
}

void LayoutDialog::Warn(const std::string& text) {
    if (mDialog != nullptr) {
        MessageBoxW(mDialog, WithCrLf(text).c_str(), kProgramName, MB_OK | MB_ICONWARNING);
    }
}

void LayoutDialog::ScaleTo(UINT dpi, const RECT* suggested) {
    mDpi = dpi;
    const POINT at = suggested != nullptr
                         ? POINT{suggested->left, suggested->top}
                         : CentredOver(mOwner, OuterSizeFor(mDialog, mTable.clientTwips, dpi));
    SizeClientArea(mDialog, mTable.clientTwips, dpi, at);
    if (mControls.Made()) {
        mControls.ScaleTo(dpi);
        Rescaled();
    }
}

void LayoutDialog::FollowOwner(UINT dpi) {
    if (mDialog != nullptr && !mEnded && dpi != mDpi) {
        ScaleTo(dpi, nullptr);
    }
}

INT_PTR CALLBACK LayoutDialog::Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<LayoutDialog*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        self->mDialog = dialog;
    }
    auto* self = reinterpret_cast<LayoutDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(dialog, DWLP_USER, 0);
        self->mDialog = nullptr;
        self->mControls.Forget();
        return FALSE;
    }
    return self->Layout(message, wParam, lParam);
}

INT_PTR LayoutDialog::Layout(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            KeepDialogScaling(mDialog);
            ScaleTo(mDpi, nullptr);
            SetWindowTextW(mDialog, platform::WideOf(mTable.caption).c_str());
            // Made in the table's order, which is the tab order; a label's
            // access key moves to the box made after it.
            mControls.Create(mDialog, mDpi);
            if (HWND button = mControls.Of(mTable.defaultButton)) {
                // Enter presses it wherever the focus is, as in any dialog.
                SendMessageW(mDialog, DM_SETDEFID, static_cast<WPARAM>(GetDlgCtrlID(button)), 0);
            }
            Opened();
            if (HWND first = GetNextDlgTabItem(mDialog, nullptr, FALSE)) {
                SetFocus(first);
            }
            // The focus is set.
            return FALSE;
        case kGetDpiScaledSize:
            // So the rectangle Windows suggests with WM_DPICHANGED is exact.
            *reinterpret_cast<SIZE*>(lParam) =
                OuterSizeFor(mDialog, mTable.clientTwips, LOWORD(wParam));
            SetWindowLongPtrW(mDialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_DPICHANGED:
            ScaleTo(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return TRUE;
        case WM_DISPLAYCHANGE:
        case WM_SETTINGCHANGE:
            // The system's scale changed where no per-monitor notice comes.
            if (const UINT dpi = DpiOf(mDialog); dpi != mDpi) {
                ScaleTo(dpi, nullptr);
            }
            return Handle(message, wParam, lParam);
        case WM_TIMER:
            if (wParam != kTimer) {
                return Handle(message, wParam, lParam);
            }
            KillTimer(mDialog, kTimer);
            if (!mEnded) {
                Timer();
            }
            return TRUE;
        case WM_DESTROY:
            KillTimer(mDialog, kTimer);
            return Handle(message, wParam, lParam);
        default:
            return Handle(message, wParam, lParam);
    }
}

}  // namespace sparkloom::win32
