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
#include "win32/LayoutControls.h"
#include "win32/Pictures.h"
#include "win32/PreviewDialog.h"
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

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance)
    : mInstance(instance), mControls(instance, kWindowLayout, kFirstControlId) {
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
    for (HBITMAP object : {mBanner, mDonation}) {
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
    return OuterSizeFor(mWindow, SIZE{kClientWidthTwips, kClientHeightTwips}, dpi);
}

// The one place the layout meets a DPI: at creation for the screen the window
// opens on, and again whenever its screen's scale changes, from the layout
// table each time, so nothing drifts from rounding.
void MainWindow::ScaleTo(UINT dpi, const RECT* suggested) {
    const bool creating = !mControls.Made();
    POINT at{};
    if (suggested != nullptr) {
        at = POINT{suggested->left, suggested->top};
    } else if (creating) {
        const SIZE outer = OuterSizeAt(dpi);
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
    SizeClientArea(mWindow, SIZE{kClientWidthTwips, kClientHeightTwips}, dpi, at);
    if (creating) {
        mControls.Create(mWindow, dpi);
    } else {
        mControls.ScaleTo(dpi);
    }
    // A dialog open over the window goes where the window goes.
    if (mOpenDialog != nullptr) {
        mOpenDialog->FollowOwner(dpi);
    }
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

HWND MainWindow::Of(WindowControl control) const {
    return mControls.Of(NameOf(control));
}

const ControlLayout* MainWindow::LayoutOf(HWND control) const {
    return mControls.LayoutOf(control);
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

template <typename Dialog, typename Model>
void MainWindow::RunDialog(Model& model) {
    if (mWindow != nullptr) {
        Dialog dialog(mInstance, mWindow, mControls.Dpi());
        mOpenDialog = &dialog;
        dialog.Run(model);
        mOpenDialog = nullptr;
    }
}

void MainWindow::ShowFramesDialog(FrameOptionsModel& model) {
    RunDialog<FramesDialog>(model);
}

void MainWindow::ShowPreviewDialog(PreviewModel& model) {
    RunDialog<PreviewDialog>(model);
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
        self->mControls.Forget();
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
            if (const UINT dpi = DpiOf(mWindow); dpi != mControls.Dpi()) {
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
    if ((layout != nullptr && layout->red) || mControls.IsRedCaption(control)) {
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
    const int width =
        banner ? box.right - box.left : MulDiv(size.cx, static_cast<int>(mControls.Dpi()), 96);
    const int height =
        banner ? box.bottom - box.top : MulDiv(size.cy, static_cast<int>(mControls.Dpi()), 96);
    HDC source = CreateCompatibleDC(item.hDC);
    HGDIOBJ previous = SelectObject(source, picture);
    SetStretchBltMode(item.hDC, HALFTONE);
    SetBrushOrgEx(item.hDC, 0, 0, nullptr);
    StretchBlt(item.hDC, box.left, box.top, width, height, source, 0, 0, size.cx, size.cy, SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
}

}  // namespace sparkloom::win32
