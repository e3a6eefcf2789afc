#include "win32/LayoutControls.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/WideText_win.h"

namespace sparkloom::win32 {

using platform::WideOf;

namespace {

int ScaledAt(int twips, UINT dpi) {
    return MulDiv(twips, static_cast<int>(dpi), kTwipsPerPixelAt96Dpi * 96);
}

}  // namespace

UINT DpiOf(HWND window) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow =
        reinterpret_cast<GetDpiForWindowFunction>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr) {
        if (const UINT dpi = getDpiForWindow(window); dpi != 0) {
            return dpi;
        }
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

SIZE OuterSizeFor(HWND window, SIZE clientTwips, UINT dpi) {
    using AdjustFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = reinterpret_cast<AdjustFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    RECT frame{0, 0, ScaledAt(clientTwips.cx, dpi), ScaledAt(clientTwips.cy, dpi)};
    if (adjustForDpi != nullptr) {
        adjustForDpi(&frame, style, FALSE, exStyle, dpi);
    } else {
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    }
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

void SizeClientArea(HWND window, SIZE clientTwips, UINT dpi, POINT at) {
    const SIZE outer = OuterSizeFor(window, clientTwips, dpi);
    SetWindowPos(window, nullptr, at.x, at.y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    // Where the frame is not drawn for this DPI (Wine keeps the system's),
    // the client area is set right by what it lacks.
    RECT client{};
    GetClientRect(window, &client);
    const int wantedWidth = ScaledAt(clientTwips.cx, dpi);
    const int wantedHeight = ScaledAt(clientTwips.cy, dpi);
    if (client.right != wantedWidth || client.bottom != wantedHeight) {
        SetWindowPos(window, nullptr, 0, 0, outer.cx + wantedWidth - client.right,
                     outer.cy + wantedHeight - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

POINT CentredOver(HWND owner, SIZE outer) {
    RECT over{};
    GetWindowRect(owner, &over);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    return POINT{std::clamp<LONG>((over.left + over.right - outer.cx) / 2, work.left,
                                  std::max<LONG>(work.left, work.right - outer.cx)),
                 std::clamp<LONG>((over.top + over.bottom - outer.cy) / 2, work.top,
                                  std::max<LONG>(work.top, work.bottom - outer.cy))};
}

void KeepDialogScaling(HWND dialog) {
    // DIALOG_DPI_CHANGE_BEHAVIORS' DDC_DISABLE_ALL.
    constexpr int kDisableAll = 1;
    using SetBehaviorFunction = BOOL(WINAPI*)(HWND, int, int);
    static const auto setBehavior = reinterpret_cast<SetBehaviorFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetDialogDpiChangeBehavior")));
    if (setBehavior != nullptr) {
        setBehavior(dialog, kDisableAll, kDisableAll);
    }
}

LayoutControls::LayoutControls(HINSTANCE instance, std::span<const ControlLayout> layout,
                               int firstId, std::string_view defaultButton)
    : mInstance(instance),
      mLayout(layout),
      mFirstId(firstId),
      mDefaultButton(defaultButton),
      mControls(layout.size(), nullptr) {}

LayoutControls::~LayoutControls() {
    // The parent, and with it every control that drew with these fonts, is
    // gone by now, or going with its owner.
    for (HFONT font : {mFont, mBoldFont}) {
        if (font != nullptr) {
            DeleteObject(font);
        }
    }
}

int LayoutControls::Scaled(int twips) const {
    return ScaledAt(twips, mDpi);
}

void LayoutControls::MakeFonts() {
    const std::wstring face = WideOf(kWindowFont);
    const int height = -MulDiv(kWindowFontPoints, static_cast<int>(mDpi), 72);
    for (HFONT* font : {&mFont, &mBoldFont}) {
        *font = CreateFontW(height, 0, 0, 0, font == &mBoldFont ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                            FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face.c_str());
    }
}

const ControlLayout* LayoutControls::FrameOf(const ControlLayout& control) const {
    for (const ControlLayout& row : mLayout) {
        if (!control.frame.empty() && row.name == control.frame) {
            return &row;
        }
    }
    return nullptr;
}

RECT LayoutControls::BoxOf(const ControlLayout& control) const {
    int left = control.left;
    int top = control.top;
    if (const ControlLayout* frame = FrameOf(control)) {
        left += frame->left;
        top += frame->top;
    }
    const int x = Scaled(left);
    const int y = Scaled(top);
    int height = Scaled(top + control.height) - y;
    if (control.kind == ControlLayout::Kind::Combo) {
        // The height given is the closed box's; the list drops below it.
        height *= 8;
    }
    return RECT{x, y, Scaled(left + control.width), y + height};
}

void LayoutControls::Create(HWND parent, UINT dpi) {
    mParent = parent;
    mDpi = dpi;
    MakeFonts();
    mToolTip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, mInstance, nullptr);
    for (std::size_t row = 0; row < mLayout.size(); ++row) {
        const ControlLayout& control = mLayout[row];
        const RECT box = BoxOf(control);

        const wchar_t* windowClass = L"STATIC";
        DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
        DWORD exStyle = 0;
        using Kind = ControlLayout::Kind;
        switch (control.kind) {
            case Kind::Picture:
            case Kind::Image:
            case Kind::Canvas:
                // Drawn by the window (WM_DRAWITEM); a click comes as STN_CLICKED.
                style |= SS_OWNERDRAW | SS_NOTIFY;
                break;
            case Kind::Slider:
                windowClass = TRACKBAR_CLASSW;
                style |= WS_TABSTOP | TBS_HORZ | TBS_NOTICKS;
                break;
            case Kind::Frame:
                windowClass = WC_BUTTONW;
                style |= BS_GROUPBOX;
                break;
            case Kind::TextBox:
                windowClass = WC_EDITW;
                style |= WS_TABSTOP | ES_AUTOHSCROLL;
                exStyle |= WS_EX_CLIENTEDGE;
                break;
            case Kind::Button:
                windowClass = WC_BUTTONW;
                style |= WS_TABSTOP | (!mDefaultButton.empty() && control.name == mDefaultButton
                                           ? BS_DEFPUSHBUTTON
                                           : BS_PUSHBUTTON);
                break;
            case Kind::Combo:
                windowClass = WC_COMBOBOXW;
                style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
                break;
            case Kind::Status:
                windowClass = WC_EDITW;
                style |= ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL;
                exStyle |= WS_EX_CLIENTEDGE;
                break;
            case Kind::Progress:
                windowClass = PROGRESS_CLASSW;
                break;
            case Kind::Label:
                // A label the model fills shows its text as given, "&" and all.
                style |= SS_LEFT | (control.caption.empty() ? SS_NOPREFIX : 0);
                break;
        }
        if (!control.enabled) {
            style |= WS_DISABLED;
        }
        // A themed group box paints its caption in the theme's colour, so a red
        // caption is a label of its own over the frame's line.
        const bool redCaption = control.kind == Kind::Frame && control.red;
        const std::wstring caption = WideOf(redCaption ? std::string_view() : control.caption);
        HWND handle = CreateWindowExW(
            exStyle, windowClass, caption.c_str(), style, box.left, box.top, box.right - box.left,
            box.bottom - box.top, parent,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(mFirstId + static_cast<int>(row))),
            mInstance, nullptr);
        mControls[row] = handle;
        if (handle == nullptr) {
            continue;
        }
        SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(mFont), FALSE);
        if (redCaption) {
            AddRedCaption(row);
        } else if (control.kind == Kind::Progress) {
            SendMessageW(handle, PBM_SETRANGE32, 0, 100);
            SendMessageW(handle, PBM_SETPOS, 0, 0);
        }
        if (!control.toolTip.empty()) {
            AddToolTip(handle, control.toolTip);
        }
    }
    // New controls go under the earlier ones; the frames must lie under
    // everything they hold.
    for (std::size_t row = 0; row < mLayout.size(); ++row) {
        if (mLayout[row].kind == ControlLayout::Kind::Frame && mControls[row] != nullptr) {
            SetWindowPos(mControls[row], HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
}

void LayoutControls::ScaleTo(UINT dpi) {
    if (mParent == nullptr) {
        return;
    }
    mDpi = dpi;
    // The old fonts go only once no control draws with them any more.
    const HFONT oldFont = mFont;
    const HFONT oldBoldFont = mBoldFont;
    MakeFonts();
    for (std::size_t row = 0; row < mLayout.size(); ++row) {
        if (mControls[row] == nullptr) {
            continue;
        }
        const RECT box = BoxOf(mLayout[row]);
        SetWindowPos(mControls[row], nullptr, box.left, box.top, box.right - box.left,
                     box.bottom - box.top, SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(mControls[row], WM_SETFONT, reinterpret_cast<WPARAM>(mFont), FALSE);
    }
    for (const auto& [label, frameRow] : mRedCaptions) {
        SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(mBoldFont), FALSE);
        PlaceRedCaption(label, mLayout[frameRow]);
    }
    InvalidateRect(mParent, nullptr, TRUE);
    for (HFONT font : {oldFont, oldBoldFont}) {
        if (font != nullptr) {
            DeleteObject(font);
        }
    }
}

void LayoutControls::Forget() {
    mParent = nullptr;
    mToolTip = nullptr;
    std::fill(mControls.begin(), mControls.end(), nullptr);
    mRedCaptions.clear();
}

void LayoutControls::AddRedCaption(std::size_t frameRow) {
    const std::wstring caption = WideOf(mLayout[frameRow].caption);
    HWND label = CreateWindowExW(0, L"STATIC", caption.c_str(),
                                 WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_NOPREFIX | SS_CENTER,
                                 0, 0, 0, 0, mParent, nullptr, mInstance, nullptr);
    if (label != nullptr) {
        SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(mBoldFont), FALSE);
        PlaceRedCaption(label, mLayout[frameRow]);
        mRedCaptions.emplace_back(label, frameRow);
    }
}

void LayoutControls::PlaceRedCaption(HWND label, const ControlLayout& frame) {
    const std::wstring caption = WideOf(frame.caption);
    HDC dc = GetDC(mParent);
    HGDIOBJ previous = SelectObject(dc, mBoldFont);
    SIZE text{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
    SelectObject(dc, previous);
    ReleaseDC(mParent, dc);
    // Where a group box puts its own caption, with a little room either side
    // to break the frame's line.
    const RECT box = BoxOf(frame);
    const int margin = MulDiv(2, static_cast<int>(mDpi), 96);
    SetWindowPos(label, nullptr, box.left + MulDiv(6, static_cast<int>(mDpi), 96), box.top,
                 text.cx + 2 * margin, text.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void LayoutControls::AddToolTip(HWND control, std::string_view text) {
    if (mToolTip == nullptr) {
        return;
    }
    std::wstring wide = WideOf(text);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = mParent;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = wide.data();
    SendMessageW(mToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

HWND LayoutControls::Of(std::string_view name) const {
    for (std::size_t row = 0; row < mLayout.size(); ++row) {
        if (mLayout[row].name == name) {
            return mControls[row];
        }
    }
    return nullptr;
}

int LayoutControls::RowOf(HWND control) const {
    const int row = control == nullptr ? -1 : GetDlgCtrlID(control) - mFirstId;
    if (row < 0 || row >= static_cast<int>(mControls.size()) ||
        mControls[static_cast<std::size_t>(row)] != control) {
        return -1;
    }
    return row;
}

const ControlLayout* LayoutControls::LayoutOf(HWND control) const {
    const int row = RowOf(control);
    return row < 0 ? nullptr : &mLayout[static_cast<std::size_t>(row)];
}

bool LayoutControls::IsRedCaption(HWND control) const {
    return std::any_of(mRedCaptions.begin(), mRedCaptions.end(),
                       [control](const auto& caption) { return caption.first == control; });
}

}  // namespace sparkloom::win32
