#include "win32/FramesDialog.h"

#include <commctrl.h>

#include <algorithm>
#include <cstddef>

#include "platform/WideText_win.h"
#include "win32/ControlIds.h"
#include "win32/Controls.h"
#include "win32/Dialogs.h"
#include "workflow/FrameOptionsModel.h"

namespace sparkloom::win32 {

using platform::Utf8OfWide;
using platform::WideOf;

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);

}  // namespace

FramesDialog::FramesDialog(HINSTANCE instance, HWND owner, UINT dpi)
    : LayoutDialog(instance, owner, dpi,
                   Table{kFramesLayout, kFirstFramesControlId,
                         SIZE{kFramesClientWidthTwips, kFramesClientHeightTwips}, kFramesCaption,
                         NameOf(FramesControl::cmdOK)}) {}

bool FramesDialog::Run(FrameOptionsModel& model) {
    mModel = &model;
    return RunModal();
}

void FramesDialog::Opened() {
    mModel->Open(*this);
}

int FramesDialog::RowOf(HWND control) const {
    return mControls.RowOf(control);
}

HWND FramesDialog::Of(FramesControl control) const {
    return mControls.Of(NameOf(control));
}

// ----- What the model reads and changes --------------------------------------

std::string FramesDialog::Text(FramesControl control) const {
    HWND handle = Of(control);
    if (handle == nullptr) {
        return {};
    }
    if (handle == mPicking) {
        const LRESULT picked = SendMessageW(handle, CB_GETCURSEL, 0, 0);
        const LRESULT length = picked == CB_ERR ? CB_ERR
                                                : SendMessageW(handle, CB_GETLBTEXTLEN,
                                                               static_cast<WPARAM>(picked), 0);
        if (length != CB_ERR) {
            std::wstring entry(static_cast<std::size_t>(length) + 1, L'\0');
            SendMessageW(handle, CB_GETLBTEXT, static_cast<WPARAM>(picked),
                         reinterpret_cast<LPARAM>(entry.data()));
            entry.resize(static_cast<std::size_t>(length));
            return Utf8OfWide(entry);
        }
    }
    return Utf8OfWide(WindowText(handle));
}

void FramesDialog::ShowInCombo(HWND combo, const std::wstring& text) {
    // Up and Down then move on from the entry shown; selecting none empties
    // the field, so the text is set after.
    const LRESULT entry = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(entry == CB_ERR ? -1 : entry), 0);
    SetWindowTextW(combo, text.c_str());
}

void FramesDialog::SetText(FramesControl control, const std::string& text) {
    HWND handle = Of(control);
    if (handle == nullptr) {
        return;
    }
    ++mSetting;
    const int row = RowOf(handle);
    if (kFramesLayout[static_cast<std::size_t>(row)].kind == ControlLayout::Kind::Combo) {
        ShowInCombo(handle, WideOf(text));
    } else {
        SetWindowTextW(handle, WithCrLf(text).c_str());
    }
    --mSetting;
}

void FramesDialog::SetItems(FramesControl control, const std::vector<std::string>& items) {
    HWND handle = Of(control);
    if (handle == nullptr) {
        return;
    }
    ++mSetting;
    ShowInCombo(handle, ReplaceComboItems(handle, items));
    --mSetting;
}

void FramesDialog::SetEnabled(FramesControl control, bool enabled) {
    HWND handle = Of(control);
    if (handle == nullptr) {
        return;
    }
    EnableKeepingKeyboard(mDialog, handle, enabled);
}

void FramesDialog::SetRed(FramesControl control, bool red) {
    HWND handle = Of(control);
    const int row = RowOf(handle);
    if (row < 0 || mRed[static_cast<std::size_t>(row)] == red) {
        return;
    }
    mRed[static_cast<std::size_t>(row)] = red;
    InvalidateRect(handle, nullptr, TRUE);
}

void FramesDialog::StartPolls(int milliseconds) {
    StartTimer(milliseconds);
}

void FramesDialog::ShowWarning(const std::string& text) {
    Warn(text);
}

void FramesDialog::EndDialog() {
    End();
}

void FramesDialog::Timer() {
    mModel->Poll();
}

// ----- Messages -------------------------------------------------------------------

INT_PTR FramesDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        case WM_CTLCOLORSTATIC: {
            const int row = RowOf(reinterpret_cast<HWND>(lParam));
            if (row < 0 || !mRed[static_cast<std::size_t>(row)]) {
                return FALSE;
            }
            auto* dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, kRed);
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        }
        default:
            return FALSE;
    }
}

void FramesDialog::OnCommand(int id, int code, HWND control) {
    if (id == IDCANCEL) {
        // Escape or the close box: the model stops its work and, as for
        // Cancel, ends the dialog; it goes in any case.
        if (!Ended()) {
            mModel->Closing();
            EndDialog();
        }
        return;
    }
    const int row = RowOf(control);
    FramesControl named{};
    if (row < 0 || mSetting > 0 || Ended() ||
        !ControlNamed(kFramesLayout[static_cast<std::size_t>(row)].name, FramesControl::cmdCancel,
                      named)) {
        return;
    }
    using Kind = ControlLayout::Kind;
    switch (kFramesLayout[static_cast<std::size_t>(row)].kind) {
        case Kind::Button:
            if (code == BN_CLICKED) {
                mModel->Click(named);
            }
            break;
        case Kind::TextBox:
            if (code == EN_CHANGE) {
                mModel->Changed(named);
            }
            break;
        case Kind::Combo:
            if (code == CBN_EDITCHANGE) {
                mModel->Changed(named);
            } else if (code == CBN_SELCHANGE) {
                mPicking = control;
                mModel->Changed(named);
                mPicking = nullptr;
            } else if (code == CBN_KILLFOCUS) {
                // Wine keeps a combo's text highlighted after it lost the focus.
                SendMessageW(control, CB_SETEDITSEL, 0, MAKELPARAM(-1, 0));
            }
            break;
        default:
            break;
    }
}

}  // namespace sparkloom::win32
