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

constexpr wchar_t kProgramName[] = L"Sparkloom";
constexpr UINT_PTR kPollTimer = 1;
constexpr COLORREF kRed = RGB(255, 0, 0);

// A dialog without controls of its own: they are made from the layout, in
// pixels, once it exists.
struct alignas(DWORD) EmptyDialog {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    WORD title;
};
static_assert(offsetof(EmptyDialog, menu) == 18, "a dialog template's arrays follow its header");

// The control the model knows by this name, if it knows it.
bool ControlNamed(std::string_view name, FramesControl& control) {
    for (int i = 0; i <= static_cast<int>(FramesControl::cmdCancel); ++i) {
        if (NameOf(static_cast<FramesControl>(i)) == name) {
            control = static_cast<FramesControl>(i);
            return true;
        }
    }
    return false;
}

}  // namespace

FramesDialog::FramesDialog(HINSTANCE instance, HWND owner, UINT dpi)
    : mInstance(instance),
      mOwner(owner),
      mDpi(dpi),
      mControls(instance, kFramesLayout, kFirstFramesControlId, NameOf(FramesControl::cmdOK)) {}

bool FramesDialog::Run(FrameOptionsModel& model) {
    mModel = &model;
    EmptyDialog empty{};
    empty.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    empty.header.dwExtendedStyle = WS_EX_CONTROLPARENT;
    return DialogBoxIndirectParamW(mInstance, &empty.header, mOwner, &FramesDialog::Procedure,
                                   reinterpret_cast<LPARAM>(this)) != -1;
}

void FramesDialog::ScaleTo(UINT dpi, const RECT* suggested) {
    mDpi = dpi;
    const SIZE client{kFramesClientWidthTwips, kFramesClientHeightTwips};
    const POINT at = suggested != nullptr ? POINT{suggested->left, suggested->top}
                                          : CentredOver(mOwner, OuterSizeFor(mDialog, client, dpi));
    SizeClientArea(mDialog, client, dpi, at);
    if (mControls.Made()) {
        mControls.ScaleTo(dpi);
    }
}

void FramesDialog::FollowOwner(UINT dpi) {
    if (mDialog != nullptr && !mEnded && dpi != mDpi) {
        ScaleTo(dpi, nullptr);
    }
}

void FramesDialog::Build() {
    SetWindowTextW(mDialog, WideOf(kFramesCaption).c_str());
    // Made in the table's order, which is the tab order; a label's access key
    // moves to the box made after it.
    mControls.Create(mDialog, mDpi);
    // Enter presses OK wherever the focus is, as in any dialog.
    SendMessageW(mDialog, DM_SETDEFID, FramesControlIdOf(NameOf(FramesControl::cmdOK)), 0);
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
    // The same ID again replaces a pending timer: the poll is rescheduled.
    if (mDialog != nullptr && !mEnded) {
        SetTimer(mDialog, kPollTimer, static_cast<UINT>(std::max(milliseconds, 0)), nullptr);
    }
}

void FramesDialog::ShowWarning(const std::string& text) {
    if (mDialog != nullptr) {
        MessageBoxW(mDialog, WithCrLf(text).c_str(), kProgramName, MB_OK | MB_ICONWARNING);
    }
}

void FramesDialog::EndDialog() {
    if (mDialog == nullptr || mEnded) {
        return;
    }
    mEnded = true;
    KillTimer(mDialog, kPollTimer);
    ::EndDialog(mDialog, 0);
}

// ----- Messages -------------------------------------------------------------------

INT_PTR CALLBACK FramesDialog::Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<FramesDialog*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        self->mDialog = dialog;
    }
    auto* self = reinterpret_cast<FramesDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(dialog, DWLP_USER, 0);
        self->mDialog = nullptr;
        self->mControls.Forget();
        return FALSE;
    }
    return self->Handle(message, wParam, lParam);
}

INT_PTR FramesDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            KeepDialogScaling(mDialog);
            ScaleTo(mDpi, nullptr);
            Build();
            mModel->Open(*this);
            if (HWND first = GetNextDlgTabItem(mDialog, nullptr, FALSE)) {
                SetFocus(first);
            }
            // The focus is set.
            return FALSE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        case WM_TIMER:
            if (wParam == kPollTimer) {
                KillTimer(mDialog, kPollTimer);
                if (!mEnded) {
                    mModel->Poll();
                }
                return TRUE;
            }
            return FALSE;
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
        case kGetDpiScaledSize:
            // So the rectangle Windows suggests with WM_DPICHANGED is exact.
            *reinterpret_cast<SIZE*>(lParam) = OuterSizeFor(
                mDialog, SIZE{kFramesClientWidthTwips, kFramesClientHeightTwips}, LOWORD(wParam));
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
            return FALSE;
        case WM_DESTROY:
            KillTimer(mDialog, kPollTimer);
            return FALSE;
        default:
            return FALSE;
    }
}

void FramesDialog::OnCommand(int id, int code, HWND control) {
    if (id == IDCANCEL) {
        // Escape or the close box: the model stops its work and, as for
        // Cancel, ends the dialog; it goes in any case.
        if (!mEnded) {
            mModel->Closing();
            EndDialog();
        }
        return;
    }
    const int row = RowOf(control);
    FramesControl named{};
    if (row < 0 || mSetting > 0 || mEnded ||
        !ControlNamed(kFramesLayout[static_cast<std::size_t>(row)].name, named)) {
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
