#include "win32/MainWindow.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "common/Text.h"
#include "platform/Environment.h"
#include "platform/FileStream.h"
#include "platform/WideText_win.h"
#include "win32/ControlIds.h"
#include "win32/Controls.h"
#include "win32/Dialogs.h"
#include "win32/FramesDialog.h"
#include "win32/Pictures.h"
#include "win32/Resources.h"
#include "win32/Settings.h"
#include "workflow/WindowModel.h"

namespace sparkloom::win32 {

using platform::Utf8OfWide;
using platform::WideOf;

namespace {

// Message boxes carry the program's name, not the window's caption.
constexpr wchar_t kProgramName[] = L"Sparkloom";
// Under HKCU\Software\Sparkloom: the folder in "folders", other values in "settings".
constexpr wchar_t kFoldersKey[] = L"folders";
constexpr wchar_t kSettingsKey[] = L"settings";
constexpr UINT_PTR kTickTimer = 1;
constexpr COLORREF kRed = RGB(255, 0, 0);
// A fixed layout: no sizing border, no maximize box.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES;
// WM_GETDPISCALEDSIZE, Windows 10 1703 on; the headers name it for newer targets only.
constexpr UINT kGetDpiScaledSize = 0x02E4;

const ControlLayout* FrameOf(const ControlLayout& control) {
    for (const ControlLayout& row : kWindowLayout) {
        if (!control.frame.empty() && row.name == control.frame) {
            return &row;
        }
    }
    return nullptr;
}

// Per-monitor scale where Windows has it (10 1607 on), the system's otherwise.
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

RECT FrameFor(SIZE client, DWORD style, DWORD exStyle, UINT dpi) {
    using AdjustFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = reinterpret_cast<AdjustFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    RECT frame{0, 0, client.cx, client.cy};
    if (adjustForDpi != nullptr) {
        adjustForDpi(&frame, style, FALSE, exStyle, dpi);
    } else {
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    }
    return frame;
}

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : mInstance(instance) {
    if (const auto logPath = platform::EnvironmentValue("SPARKLOOM_TICK_LOG");
        logPath && !logPath->empty()) {
        mTickLog = platform::OpenFileStream(PathFromUtf8(*logPath), "a");
    }
}

MainWindow::~MainWindow() {
    if (mWindow != nullptr) {
        DestroyWindow(mWindow);
    }
    EndFineTimer();
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(mFont), static_cast<HGDIOBJ>(mBoldFont),
                           static_cast<HGDIOBJ>(mBanner), static_cast<HGDIOBJ>(mDonation)}) {
        if (object != nullptr) {
            DeleteObject(object);
        }
    }
    if (mTickLog != nullptr) {
        std::fclose(mTickLog);
    }
}

bool MainWindow::Create(WindowModel& model) {
    mModel = &model;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &MainWindow::Procedure;
    windowClass.hInstance = mInstance;
    windowClass.hIcon = static_cast<HICON>(
        LoadImageW(mInstance, MAKEINTRESOURCEW(SPARKLOOM_ICON), IMAGE_ICON,
                   GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageW(mInstance, MAKEINTRESOURCEW(SPARKLOOM_ICON), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return false;
    }

    const std::wstring caption = WideOf(kWindowCaption);
    mWindow = CreateWindowExW(kExStyle, kWindowClass, caption.c_str(), kStyle, CW_USEDEFAULT,
                              CW_USEDEFAULT, 100, 100, nullptr, nullptr, mInstance, this);
    if (mWindow == nullptr) {
        return false;
    }
    mBanner = LoadJpegResource(mInstance, SPARKLOOM_BANNER_JPEG, mBannerSize);
    mDonation = LoadJpegResource(mInstance, SPARKLOOM_DONATION_JPEG, mDonationSize);
    ScaleTo(DpiOf(mWindow), nullptr);
    DragAcceptFiles(mWindow, TRUE);
    return true;
}

SIZE MainWindow::OuterSizeAt(UINT dpi) const {
    const auto scaled = [dpi](int twips) {
        return MulDiv(twips, static_cast<int>(dpi), kTwipsPerPixelAt96Dpi * 96);
    };
    const RECT frame = FrameFor(SIZE{scaled(kClientWidthTwips), scaled(kClientHeightTwips)}, kStyle,
                                kExStyle, dpi);
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

// The one place the layout meets a DPI: at creation for the screen the window
// opens on, and again whenever its screen's scale changes, from the layout
// table each time, so nothing drifts from rounding.
void MainWindow::ScaleTo(UINT dpi, const RECT* suggested) {
    const bool creating = mFont == nullptr;
    mDpi = dpi;
    const HFONT oldFont = mFont;
    const HFONT oldBoldFont = mBoldFont;
    const std::wstring face = WideOf(kWindowFont);
    const int height = -MulDiv(kWindowFontPoints, static_cast<int>(mDpi), 72);
    for (HFONT* font : {&mFont, &mBoldFont}) {
        *font = CreateFontW(height, 0, 0, 0, font == &mBoldFont ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                            FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face.c_str());
    }

    const SIZE outer = OuterSizeAt(mDpi);
    POINT at{};
    if (suggested != nullptr) {
        at = POINT{suggested->left, suggested->top};
    } else if (creating) {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(mWindow, MONITOR_DEFAULTTOPRIMARY), &monitor);
        const RECT& work = monitor.rcWork;
        at.x = work.left + std::max(0L, (work.right - work.left - outer.cx) / 2);
        at.y = work.top + std::max(0L, (work.bottom - work.top - outer.cy) / 2);
    } else {
        RECT now{};
        GetWindowRect(mWindow, &now);
        at = POINT{now.left, now.top};
    }
    SetWindowPos(mWindow, nullptr, at.x, at.y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    // Where the frame is not drawn for this DPI (Wine keeps the system's),
    // the client area is set right by what it lacks.
    RECT client{};
    GetClientRect(mWindow, &client);
    const int wantedWidth = Scaled(kClientWidthTwips);
    const int wantedHeight = Scaled(kClientHeightTwips);
    if (client.right != wantedWidth || client.bottom != wantedHeight) {
        SetWindowPos(mWindow, nullptr, 0, 0, outer.cx + wantedWidth - client.right,
                     outer.cy + wantedHeight - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    if (creating) {
        CreateControls();
    } else {
        for (std::size_t row = 0; row < kWindowLayout.size(); ++row) {
            if (mControls[row] == nullptr) {
                continue;
            }
            const RECT box = BoxOf(kWindowLayout[row]);
            SetWindowPos(mControls[row], nullptr, box.left, box.top, box.right - box.left,
                         box.bottom - box.top, SWP_NOZORDER | SWP_NOACTIVATE);
            SendMessageW(mControls[row], WM_SETFONT, reinterpret_cast<WPARAM>(mFont), FALSE);
        }
        for (const auto& [label, frameRow] : mRedCaptions) {
            SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(mBoldFont), FALSE);
            PlaceRedCaption(label, kWindowLayout[frameRow]);
        }
        InvalidateRect(mWindow, nullptr, TRUE);
    }
    for (HFONT font : {oldFont, oldBoldFont}) {
        if (font != nullptr) {
            DeleteObject(font);
        }
    }
}

RECT MainWindow::BoxOf(const ControlLayout& control) const {
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

void MainWindow::CreateControls() {
    mToolTip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, mWindow, nullptr, mInstance, nullptr);
    for (std::size_t row = 0; row < kWindowLayout.size(); ++row) {
        const ControlLayout& control = kWindowLayout[row];
        const RECT box = BoxOf(control);

        const wchar_t* windowClass = L"STATIC";
        DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
        DWORD exStyle = 0;
        using Kind = ControlLayout::Kind;
        switch (control.kind) {
            case Kind::Picture:
            case Kind::Image:
                style |= SS_OWNERDRAW | SS_NOTIFY;
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
                style |= WS_TABSTOP | BS_PUSHBUTTON;
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
            box.bottom - box.top, mWindow,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + static_cast<int>(row))),
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
    for (std::size_t row = 0; row < kWindowLayout.size(); ++row) {
        if (kWindowLayout[row].kind == ControlLayout::Kind::Frame && mControls[row] != nullptr) {
            SetWindowPos(mControls[row], HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
}

void MainWindow::AddRedCaption(std::size_t frameRow) {
    const std::wstring caption = WideOf(kWindowLayout[frameRow].caption);
    HWND label = CreateWindowExW(0, L"STATIC", caption.c_str(),
                                 WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_NOPREFIX | SS_CENTER,
                                 0, 0, 0, 0, mWindow, nullptr, mInstance, nullptr);
    if (label != nullptr) {
        SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(mBoldFont), FALSE);
        PlaceRedCaption(label, kWindowLayout[frameRow]);
        mRedCaptions.emplace_back(label, frameRow);
    }
}

void MainWindow::PlaceRedCaption(HWND label, const ControlLayout& frame) {
    const std::wstring caption = WideOf(frame.caption);
    HDC dc = GetDC(mWindow);
    HGDIOBJ previous = SelectObject(dc, mBoldFont);
    SIZE text{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
    SelectObject(dc, previous);
    ReleaseDC(mWindow, dc);
    // Where a group box puts its own caption, with a little room either side
    // to break the frame's line.
    const RECT box = BoxOf(frame);
    const int margin = MulDiv(2, static_cast<int>(mDpi), 96);
    SetWindowPos(label, nullptr, box.left + MulDiv(6, static_cast<int>(mDpi), 96), box.top,
                 text.cx + 2 * margin, text.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::AddToolTip(HWND control, std::string_view text) {
    if (mToolTip == nullptr) {
        return;
    }
    std::wstring wide = WideOf(text);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = mWindow;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = wide.data();
    SendMessageW(mToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void MainWindow::Show(int showCommand) {
    ShowWindow(mWindow, showCommand);
    UpdateWindow(mWindow);
    if (HWND first = GetNextDlgTabItem(mWindow, nullptr, FALSE)) {
        SetFocus(first);
    }
}

bool MainWindow::TranslateDialogKeys(MSG& message) {
    return mWindow != nullptr && IsDialogMessageW(mWindow, &message);
}

int MainWindow::Scaled(int twips) const {
    return MulDiv(twips, static_cast<int>(mDpi), kTwipsPerPixelAt96Dpi * 96);
}

HWND MainWindow::Of(WindowControl control) const {
    const int id = ControlIdOf(NameOf(control));
    return id == 0 ? nullptr : mControls[static_cast<std::size_t>(id - kFirstControlId)];
}

const ControlLayout* MainWindow::LayoutOf(HWND control) const {
    const int row = GetDlgCtrlID(control) - kFirstControlId;
    if (row < 0 || row >= static_cast<int>(kWindowLayout.size()) ||
        mControls[static_cast<std::size_t>(row)] != control) {
        return nullptr;
    }
    return &kWindowLayout[static_cast<std::size_t>(row)];
}

// ----- What the model reads and changes --------------------------------------

std::string MainWindow::Text(WindowControl control) const {
    HWND handle = Of(control);
    return handle == nullptr ? std::string() : Utf8OfWide(WindowText(handle));
}

void MainWindow::SetText(WindowControl control, const std::string& text) {
    if (HWND handle = Of(control)) {
        SetWindowTextW(handle, WithCrLf(text).c_str());
    }
}

bool MainWindow::Enabled(WindowControl control) const {
    HWND handle = Of(control);
    return handle != nullptr && IsWindowEnabled(handle);
}

void MainWindow::SetEnabled(WindowControl control, bool enabled) {
    HWND handle = Of(control);
    if (handle == nullptr) {
        return;
    }
    EnableKeepingKeyboard(mWindow, handle, enabled);
}

void MainWindow::SetVisible(WindowControl control, bool visible) {
    if (HWND handle = Of(control)) {
        ShowWindow(handle, visible ? SW_SHOWNA : SW_HIDE);
    }
}

void MainWindow::SetItems(WindowControl control, const std::vector<std::string>& items) {
    HWND handle = Of(control);
    if (handle == nullptr) {
        return;
    }
    const std::wstring shown = ReplaceComboItems(handle, items);
    SendMessageW(handle, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SetWindowTextW(handle, shown.c_str());
}

void MainWindow::SetProgress(int percent) {
    if (HWND handle = Of(WindowControl::ProgressBar1)) {
        SendMessageW(handle, PBM_SETPOS, static_cast<WPARAM>(std::clamp(percent, 0, 100)), 0);
    }
}

void MainWindow::RepaintStatus() {
    if (HWND handle = Of(WindowControl::txtStatus)) {
        RedrawWindow(handle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
}

// ----- Dialogs, pages and the remembered folder -----------------------------

std::string MainWindow::ChooseFile(const FileRequest& request) {
    // Nothing opens for a window that is already gone.
    return mWindow == nullptr ? std::string() : ChooseFileNative(mWindow, request);
}

std::string MainWindow::BrowseForFolder(const std::string& initialFolder,
                                        const std::string& title) {
    return mWindow == nullptr ? std::string()
                              : BrowseForFolderNative(mWindow, initialFolder, title);
}

MessageAnswer MainWindow::ShowMessage(const std::string& text, MessageIcon icon,
                                      MessageButtons buttons) {
    if (mWindow == nullptr) {
        return MessageAnswer::Cancel;
    }
    UINT style = buttons == MessageButtons::OkCancel ? MB_OKCANCEL : MB_OK;
    if (icon == MessageIcon::Warning) {
        style |= MB_ICONWARNING;
    } else if (icon == MessageIcon::Information) {
        style |= MB_ICONINFORMATION;
    }
    return MessageBoxW(mWindow, WithCrLf(text).c_str(), kProgramName, style) == IDOK
               ? MessageAnswer::Ok
               : MessageAnswer::Cancel;
}

bool MainWindow::OpenUrl(const std::string& url) {
    const HINSTANCE result =
        ShellExecuteW(nullptr, L"open", WideOf(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

std::string MainWindow::RememberedFolder() {
    return UserSetting(kFoldersKey, "lastfolder");
}

void MainWindow::RememberFolder(const std::string& folder) {
    KeepUserSetting(kFoldersKey, "lastfolder", folder);
}

std::string MainWindow::RememberedSetting(const std::string& name) {
    return UserSetting(kSettingsKey, name);
}

void MainWindow::RememberSetting(const std::string& name, const std::string& value) {
    KeepUserSetting(kSettingsKey, name, value);
}

void MainWindow::ShowFramesDialog(FrameOptionsModel& model) {
    if (mWindow != nullptr) {
        FramesDialog(mInstance, mWindow, mFont, mDpi).Run(model);
    }
}

// ----- Ticks and the event loop -------------------------------------------------

void MainWindow::StartTicks(int milliseconds) {
    if (mWindow == nullptr) {
        return;
    }
    if (!mFineTimer) {
        mFineTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
    }
    mTickArmed = true;
    mTickMilliseconds = milliseconds;
    QueryPerformanceCounter(&mTickAsked);
    // The same ID again replaces a pending timer: the tick is rescheduled.
    SetTimer(mWindow, kTickTimer, static_cast<UINT>(std::max(milliseconds, 0)), nullptr);
}

void MainWindow::OnTick() {
    KillTimer(mWindow, kTickTimer);
    if (!mTickArmed) {
        return;
    }
    mTickArmed = false;
    if (mTickLog != nullptr) {
        std::fprintf(mTickLog, "%d %.2f\n", mTickMilliseconds, MillisecondsSince(mTickAsked));
        std::fflush(mTickLog);
    }
    mModel->Tick();
    // The work Windows was asked to wait for is done: it need wait no longer.
    if (mBlockingShutdown && mModel->SessionEnding().empty()) {
        ShutdownBlockReasonDestroy(mWindow);
        mBlockingShutdown = false;
    }
    // No next tick asked for: the package is done and the clock may slow again.
    if (!mTickArmed) {
        EndFineTimer();
    }
}

void MainWindow::EndFineTimer() {
    if (mFineTimer) {
        timeEndPeriod(1);
        mFineTimer = false;
    }
}

void MainWindow::PumpEvents(bool withUserInput) {
    // Without user input, clicks and keys stay queued: only paint, posted and
    // sent messages (the timer's among them) are served.
    const UINT remove =
        withUserInput ? PM_REMOVE : PM_REMOVE | PM_QS_PAINT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, remove)) {
        if (message.message == WM_QUIT) {
            // Left for the main loop, which ends on it.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (!TranslateDialogKeys(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void MainWindow::CloseWindow() {
    // Posted, so the click that asked for it has returned before the window goes.
    if (mWindow != nullptr) {
        PostMessageW(mWindow, WM_CLOSE, 0, 0);
    }
}

// ----- Messages -------------------------------------------------------------------

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->mWindow = window;
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->mWindow = nullptr;
        self->mControls.fill(nullptr);
        self->mToolTip = nullptr;
        self->mRedCaptions.clear();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->Handle(message, wParam, lParam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (const ControlLayout* control = LayoutOf(reinterpret_cast<HWND>(lParam))) {
                // Buttons and banners (SS_NOTIFY) both report a click as code 0.
                if (control->kind != ControlLayout::Kind::Combo && HIWORD(wParam) == BN_CLICKED) {
                    mModel->Click(control->name);
                } else if (control->kind == ControlLayout::Kind::Combo &&
                           HIWORD(wParam) == CBN_KILLFOCUS) {
                    // Wine keeps a combo's text highlighted after it lost the focus.
                    SendMessageW(reinterpret_cast<HWND>(lParam), CB_SETEDITSEL, 0,
                                 MAKELPARAM(-1, 0));
                }
            }
            return 0;
        case WM_TIMER:
            if (wParam == kTickTimer) {
                OnTick();
                return 0;
            }
            break;
        case WM_DRAWITEM:
            DrawPicture(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_SETCURSOR:
            if (const ControlLayout* control = LayoutOf(reinterpret_cast<HWND>(wParam))) {
                if (control->kind == ControlLayout::Kind::Picture ||
                    control->kind == ControlLayout::Kind::Image) {
                    SetCursor(LoadCursorW(nullptr, IDC_HAND));
                    return TRUE;
                }
            }
            break;
        case WM_CTLCOLOREDIT:
            return reinterpret_cast<LRESULT>(ControlColours(reinterpret_cast<HWND>(lParam),
                                                            reinterpret_cast<HDC>(wParam), true));
        case WM_CTLCOLORSTATIC:
            return reinterpret_cast<LRESULT>(ControlColours(reinterpret_cast<HWND>(lParam),
                                                            reinterpret_cast<HDC>(wParam), false));
        case WM_DROPFILES:
            OnDropFiles(reinterpret_cast<HDROP>(wParam));
            return 0;
        case kGetDpiScaledSize: {
            // So the rectangle Windows suggests with WM_DPICHANGED is exact.
            const SIZE outer = OuterSizeAt(LOWORD(wParam));
            *reinterpret_cast<SIZE*>(lParam) = outer;
            return TRUE;
        }
        case WM_DPICHANGED:
            ScaleTo(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_DISPLAYCHANGE:
        case WM_SETTINGCHANGE:
            // The system's scale changed where no per-monitor notice comes.
            if (const UINT dpi = DpiOf(mWindow); dpi != mDpi) {
                ScaleTo(dpi, nullptr);
            }
            break;
        case WM_QUERYENDSESSION:
            // Windows shows the reason and lets the user wait or end anyway.
            if (mModel != nullptr) {
                if (const std::string running = mModel->SessionEnding(); !running.empty()) {
                    mBlockingShutdown =
                        ShutdownBlockReasonCreate(mWindow, WideOf(running).c_str()) != 0;
                    return FALSE;
                }
            }
            return TRUE;
        case WM_ENDSESSION:
            if (mBlockingShutdown) {
                ShutdownBlockReasonDestroy(mWindow);
                mBlockingShutdown = false;
            }
            // The process may be ended as soon as this returns.
            if (wParam != FALSE && mModel != nullptr) {
                mModel->SessionEnded();
            }
            return 0;
        case WM_CLOSE:
            // Nothing may keep running that the user can no longer see or stop.
            if (mModel != nullptr) {
                mModel->Closing();
            }
            DestroyWindow(mWindow);
            return 0;
        case WM_DESTROY:
            KillTimer(mWindow, kTickTimer);
            mTickArmed = false;
            EndFineTimer();
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(mWindow, message, wParam, lParam);
}

void MainWindow::OnDropFiles(HDROP drop) {
    std::vector<std::string> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        path.resize(DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
        paths.push_back(Utf8OfWide(path));
    }
    DragFinish(drop);
    mModel->OpenGivenPaths(paths);
}

HBRUSH MainWindow::ControlColours(HWND control, HDC dc, bool edit) {
    const ControlLayout* layout = LayoutOf(control);
    const int background = edit ? COLOR_WINDOW : COLOR_BTNFACE;
    if ((layout != nullptr && layout->red) ||
        std::any_of(mRedCaptions.begin(), mRedCaptions.end(),
                    [control](const auto& caption) { return caption.first == control; })) {
        SetTextColor(dc, kRed);
    }
    SetBkColor(dc, GetSysColor(background));
    return GetSysColorBrush(background);
}

void MainWindow::DrawPicture(const DRAWITEMSTRUCT& item) {
    const ControlLayout* layout = LayoutOf(item.hwndItem);
    if (layout == nullptr) {
        return;
    }
    const RECT& box = item.rcItem;
    FillRect(item.hDC, &box, GetSysColorBrush(COLOR_BTNFACE));
    const bool banner = layout->kind == ControlLayout::Kind::Picture;
    HBITMAP picture = banner ? mBanner : mDonation;
    const SIZE size = banner ? mBannerSize : mDonationSize;
    if (picture == nullptr) {
        return;
    }
    // The top banner is stretched over its whole box; the lower one keeps its
    // own size, scaled as the rest of the window is.
    const int width = banner ? box.right - box.left : MulDiv(size.cx, static_cast<int>(mDpi), 96);
    const int height = banner ? box.bottom - box.top : MulDiv(size.cy, static_cast<int>(mDpi), 96);
    HDC source = CreateCompatibleDC(item.hDC);
    HGDIOBJ previous = SelectObject(source, picture);
    SetStretchBltMode(item.hDC, HALFTONE);
    SetBrushOrgEx(item.hDC, 0, 0, nullptr);
    StretchBlt(item.hDC, box.left, box.top, width, height, source, 0, 0, size.cx, size.cy, SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
}

}  // namespace sparkloom::win32
