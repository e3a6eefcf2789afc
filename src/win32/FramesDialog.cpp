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

FramesDialog::FramesDialog(HINSTANCE instance, HWND owner, HFONT font, UINT dpi)
    : mInstance(instance), mOwner(owner), mFont(font), mDpi(dpi) {}

bool FramesDialog::Run(FrameOptionsModel& model) {
    mModel = &model;
    EmptyDialog empty{};
    empty.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    empty.header.dwExtendedStyle = WS_EX_CONTROLPARENT;
    return DialogBoxIndirectParamW(mInstance, &empty.header, mOwner, &FramesDialog::Procedure,
                                   reinterpret_cast<LPARAM>(this)) != -1;
}

int FramesDialog::Scaled(int twips) const {
    return MulDiv(twips, static_cast<int>(mDpi), kTwipsPerPixelAt96Dpi * 96);
}

void FramesDialog::Place() {
    // The frame around a client area of the layout's size, centred over the
    // main window and kept on its screen.
    RECT outer{};
    RECT client{};
    GetWindowRect(mDialog, &outer);
    GetClientRect(mDialog, &client);
    const int width = Scaled(kFramesClientWidthTwips) + (outer.right - outer.left) - client.right;
    const int height =
        Scaled(kFramesClientHeightTwips) + (outer.bottom - outer.top) - client.bottom;
    RECT owner{};
    GetWindowRect(mOwner, &owner);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(mOwner, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const int left = std::clamp<int>((owner.left + owner.right - width) / 2, work.left,
                                     std::max<int>(work.left, work.right - width));
    const int top = std::clamp<int>((owner.top + owner.bottom - height) / 2, work.top,
                                    std::max<int>(work.top, work.bottom - height));
    SetWindowPos(mDialog, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void FramesDialog::Build() {
    SetWindowTextW(mDialog, WideOf(kFramesCaption).c_str());
    mToolTip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, mDialog, nullptr, mInstance, nullptr);
    // Made in the table's order, which is the tab order; a label's access key
    // moves to the box made after it.
    for (std::size_t row = 0; row < kFramesLayout.size(); ++row) {
        const ControlLayout& control = kFramesLayout[row];
        const int x = Scaled(control.left);
        const int y = Scaled(control.top);
        const int width = Scaled(control.left + control.width) - x;
        int height = Scaled(control.top + control.height) - y;

        const wchar_t* windowClass = L"STATIC";
        DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
        DWORD exStyle = 0;
        using Kind = ControlLayout::Kind;
        switch (control.kind) {
            case Kind::TextBox:
                windowClass = WC_EDITW;
                style |= WS_TABSTOP | ES_AUTOHSCROLL;
                exStyle |= WS_EX_CLIENTEDGE;
                break;
            case Kind::Button:
                windowClass = WC_BUTTONW;
                style |=
                    WS_TABSTOP | (control.name == NameOf(FramesControl::cmdOK) ? BS_DEFPUSHBUTTON
                                                                               : BS_PUSHBUTTON);
                break;
            case Kind::Combo:
                windowClass = WC_COMBOBOXW;
                style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
                // The height given is the closed box's; the list drops below it.
                height *= 8;
                break;
            default:
                // A label the model fills shows its text as given, "&" and all.
                style |= SS_LEFT | (control.caption.empty() ? SS_NOPREFIX : 0);
                break;
        }
        if (!control.enabled) {
            style |= WS_DISABLED;
        }
        const int id = kFirstFramesControlId + static_cast<int>(row);
        HWND handle = CreateWindowExW(
            exStyle, windowClass, WideOf(control.caption).c_str(), style, x, y, width, height,
            mDialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), mInstance, nullptr);
        mControls[row] = handle;
        if (handle == nullptr) {
            continue;
        }
        SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(mFont), FALSE);
        if (!control.toolTip.empty()) {
            AddToolTip(handle, control.toolTip);
        }
    }
    // Enter presses OK wherever the focus is, as in any dialog.
    SendMessageW(mDialog, DM_SETDEFID, FramesControlIdOf(NameOf(FramesControl::cmdOK)), 0);
}

void FramesDialog::AddToolTip(HWND control, std::string_view text) {
    if (mToolTip == nullptr) {
        return;
    }
    std::wstring wide = WideOf(text);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = mDialog;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = wide.data();
    SendMessageW(mToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

int FramesDialog::RowOf(HWND control) const {
    const int row = GetDlgCtrlID(control) - kFirstFramesControlId;
    if (control == nullptr || row < 0 || row >= static_cast<int>(kFramesLayout.size()) ||
        mControls[static_cast<std::size_t>(row)] != control) {
        return -1;
    }
    return row;
}

HWND FramesDialog::Of(FramesControl control) const {
    const int id = FramesControlIdOf(NameOf(control));
    return id == 0 ? nullptr : mControls[static_cast<std::size_t>(id - kFirstFramesControlId)];
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
        self->mToolTip = nullptr;
        self->mControls.fill(nullptr);
        return FALSE;
    }
    return self->Handle(message, wParam, lParam);
}

INT_PTR FramesDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            Place();
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
