#include "win32/PreviewDialog.h"

#include <commctrl.h>
#include <objbase.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdarg>
#include <utility>

#include "common/Text.h"
#include "platform/Environment.h"
#include "platform/FileStream.h"
#include "platform/WideText_win.h"
#include "win32/ControlIds.h"
#include "win32/Controls.h"
#include "win32/Dialogs.h"
#include "win32/WicPictures.h"
#include "workflow/PreviewModel.h"

namespace sparkloom::win32 {

using platform::WideOf;

namespace {

// A tick asked for at once; a decode finished.
constexpr UINT kTickMessage = WM_APP + 1;
constexpr UINT kDecodedMessage = WM_APP + 2;
// Room around a strip cell's picture, at 96 dpi, for the current one's mark.
constexpr int kCellMargin = 3;

// What WIC gave, as the dialog draws it.
struct WicPicture final : DecodedPicture {
    ScreenPicture pixels;
    double milliseconds = 0;  // the decode took
};

const WicPicture* PixelsOf(const std::shared_ptr<const DecodedPicture>& picture) {
    return static_cast<const WicPicture*>(picture.get());
}

// Where a picture of size lands fitted into box, centred, its aspect kept.
RECT FittedBox(SIZE size, const RECT& box) {
    const SIZE fitted = FittedSize(size, SIZE{box.right - box.left, box.bottom - box.top});
    const LONG left = box.left + (box.right - box.left - fitted.cx) / 2;
    const LONG top = box.top + (box.bottom - box.top - fitted.cy) / 2;
    return RECT{left, top, left + fitted.cx, top + fitted.cy};
}

SIZE SizeOf(const ScreenPicture& pixels) {
    return SIZE{pixels.width, pixels.height};
}

void DrawPixels(HDC dc, const RECT& at, const ScreenPicture& pixels) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = pixels.width;
    info.bmiHeader.biHeight = -pixels.height;  // top down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchDIBits(dc, at.left, at.top, at.right - at.left, at.bottom - at.top, 0, 0, pixels.width,
                  pixels.height, pixels.pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
}

// The dialog whose keys KeyFilter hands on: one at a time, on the window's thread.
PreviewDialog* gKeysFor = nullptr;

constexpr std::pair<WPARAM, PreviewKey> kKeys[] = {
    {VK_LEFT, PreviewKey::Left},     {VK_RIGHT, PreviewKey::Right}, {VK_PRIOR, PreviewKey::PageUp},
    {VK_NEXT, PreviewKey::PageDown}, {VK_HOME, PreviewKey::Home},   {VK_END, PreviewKey::End},
};

const ControlLayout& LayoutOf(PreviewControl control) {
    return kPreviewLayout[static_cast<std::size_t>(PreviewControlIdOf(NameOf(control)) -
                                                   kFirstPreviewControlId)];
}

}  // namespace

// ----- Decoding ------------------------------------------------------------------

WicFrameDecoder::WicFrameDecoder(HWND window, UINT message, int threads)
    : mWindow(window), mMessage(message) {
    for (int i = 0; i < threads; ++i) {
        mThreads.emplace_back([this] { Work(); });
    }
}

WicFrameDecoder::~WicFrameDecoder() {
    {
        std::lock_guard lock(mMutex);
        mStopping = true;
        mWaiting.clear();
    }
    mWake.notify_all();
    for (std::thread& thread : mThreads) {
        thread.join();
    }
}

void WicFrameDecoder::Start(const DecodeRequest& request) {
    {
        std::lock_guard lock(mMutex);
        mWaiting.push_back(request);
    }
    mWake.notify_one();
}

std::vector<DecodeResult> WicFrameDecoder::Collect() {
    std::lock_guard lock(mMutex);
    return std::exchange(mDone, {});
}

void WicFrameDecoder::Work() {
    // Each thread its own factory, in a multithreaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        const WicDecoder decoder;
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        for (;;) {
            DecodeRequest request;
            {
                std::unique_lock lock(mMutex);
                mWake.wait(lock, [this] { return mStopping || !mWaiting.empty(); });
                if (mStopping) {
                    break;
                }
                request = std::move(mWaiting.front());
                mWaiting.pop_front();
            }
            LARGE_INTEGER started{};
            LARGE_INTEGER ended{};
            QueryPerformanceCounter(&started);
            auto picture = std::make_shared<WicPicture>();
            DecodeResult result;
            result.frame = request.frame;
            result.strip = request.strip;
            // The form the system's file calls take: a long path as "\\?\".
            if (decoder.Decode(PathFromUtf8(request.path).wstring(),
                               SIZE{request.fit.width, request.fit.height}, picture->pixels,
                               result.error)) {
                QueryPerformanceCounter(&ended);
                picture->milliseconds = 1000.0 *
                                        static_cast<double>(ended.QuadPart - started.QuadPart) /
                                        static_cast<double>(frequency.QuadPart);
                result.bytes =
                    static_cast<int64_t>(picture->pixels.pixels.size() * sizeof(std::uint32_t));
                result.picture = std::move(picture);
            }
            {
                std::lock_guard lock(mMutex);
                if (mStopping) {
                    break;
                }
                mDone.push_back(std::move(result));
            }
            PostMessageW(mWindow, mMessage, 0, 0);
        }
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
}

// ----- The dialog ----------------------------------------------------------------

PreviewDialog::PreviewDialog(HINSTANCE instance, HWND owner, UINT dpi)
    : LayoutDialog(instance, owner, dpi,
                   Table{kPreviewLayout,
                         kFirstPreviewControlId,
                         SIZE{kPreviewClientWidthTwips, kPreviewClientHeightTwips},
                         kPreviewCaption,
                         {}}) {
    QueryPerformanceFrequency(&mFrequency);
    if (const auto logPath = platform::EnvironmentValue("SPARKLOOM_PREVIEW_LOG");
        logPath && !logPath->empty()) {
        mLog = platform::OpenFileStream(PathFromUtf8(*logPath), "a");
    }
}

PreviewDialog::~PreviewDialog() {
    if (mLog != nullptr) {
        std::fclose(mLog);
    }
}

void PreviewDialog::Log(const char* format, ...) {
    if (mLog == nullptr) {
        return;
    }
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(mLog, format, arguments);
    va_end(arguments);
    std::fflush(mLog);
}

bool PreviewDialog::Run(PreviewModel& model) {
    mModel = &model;
    // A 33 ms frame wants a timer finer than the default 15.6 ms clock.
    const bool fineTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
    mKeyHook =
        SetWindowsHookExW(WH_MSGFILTER, &PreviewDialog::KeyFilter, nullptr, GetCurrentThreadId());
    gKeysFor = this;
    const bool shown = RunModal();
    gKeysFor = nullptr;
    if (mKeyHook != nullptr) {
        UnhookWindowsHookEx(mKeyHook);
    }
    // The decodes still running end here; their results are dropped.
    mDecoder.reset();
    if (fineTimer) {
        timeEndPeriod(1);
    }
    const PlaybackCounts& counts = model.Counts();
    Log("played %lld frames due, %lld on time\n", static_cast<long long>(counts.due),
        static_cast<long long>(counts.onTime));
    return shown;
}

void PreviewDialog::Opened() {
    mOpenedAt = Milliseconds();
    Log("opened\n");
    mDecoder =
        std::make_unique<WicFrameDecoder>(mDialog, kDecodedMessage, PreviewModel::kDecodesAtOnce);
    mModel->Open(*this, *mDecoder);
}

LRESULT CALLBACK PreviewDialog::KeyFilter(int code, WPARAM wParam, LPARAM lParam) {
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (code == MSGF_DIALOGBOX && gKeysFor != nullptr && gKeysFor->mDialog != nullptr &&
        message->message == WM_KEYDOWN &&
        (message->hwnd == gKeysFor->mDialog || IsChild(gKeysFor->mDialog, message->hwnd))) {
        for (const auto& [virtualKey, key] : kKeys) {
            if (message->wParam == virtualKey) {
                gKeysFor->mModel->Key(key);
                return TRUE;
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

HWND PreviewDialog::Of(PreviewControl control) const {
    return mControls.Of(NameOf(control));
}

// ----- What the model reads and changes --------------------------------------

int64_t PreviewDialog::Milliseconds() const {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000 / mFrequency.QuadPart;
}

PixelSize PreviewDialog::PictureArea() const {
    const RECT box = mControls.BoxOf(LayoutOf(PreviewControl::picFrame));
    return PixelSize{box.right - box.left, box.bottom - box.top};
}

RECT PreviewDialog::CellBox(int i) const {
    const RECT strip = mControls.BoxOf(LayoutOf(PreviewControl::picStrip));
    const int width = strip.right - strip.left;
    return RECT{width * i / kPreviewStripCells, 0, width * (i + 1) / kPreviewStripCells,
                strip.bottom - strip.top};
}

PixelSize PreviewDialog::StripCellArea() const {
    const RECT cell = CellBox(0);
    const int margin = 2 * MulDiv(kCellMargin, static_cast<int>(mControls.Dpi()), 96);
    return PixelSize{std::max(1, static_cast<int>(cell.right - cell.left) - margin),
                     std::max(1, static_cast<int>(cell.bottom - cell.top) - margin)};
}

void PreviewDialog::ShowPicture(std::shared_ptr<const DecodedPicture> picture) {
    mPicture = std::move(picture);
    if (!mFirstShown && mPicture) {
        mFirstShown = true;
        Log("first picture %lld ms after opening\n",
            static_cast<long long>(Milliseconds() - mOpenedAt));
    }
    if (HWND canvas = Of(PreviewControl::picFrame)) {
        // Drawn now, so what the model counts as shown is on the screen.
        InvalidateRect(canvas, nullptr, FALSE);
        UpdateWindow(canvas);
    }
}

void PreviewDialog::SetStrip(const std::vector<StripCell>& cells) {
    mStrip = cells;
    if (HWND canvas = Of(PreviewControl::picStrip)) {
        InvalidateRect(canvas, nullptr, FALSE);
    }
}

void PreviewDialog::SetSlider(int32_t last, int32_t position) {
    HWND slider = Of(PreviewControl::sldFrame);
    if (slider == nullptr) {
        return;
    }
    ++mSetting;
    SendMessageW(slider, TBM_SETRANGEMIN, FALSE, 0);
    SendMessageW(slider, TBM_SETRANGEMAX, FALSE, std::max(last, 0));
    SendMessageW(slider, TBM_SETPAGESIZE, 0, PreviewModel::kFramesPerSecond);
    SendMessageW(slider, TBM_SETPOS, TRUE, position);
    --mSetting;
}

void PreviewDialog::SetText(PreviewControl control, const std::string& text) {
    if (HWND handle = Of(control)) {
        SetWindowTextW(handle, WithCrLf(text).c_str());
    }
}

void PreviewDialog::SetEnabled(PreviewControl control, bool enabled) {
    if (HWND handle = Of(control)) {
        EnableKeepingKeyboard(mDialog, handle, enabled);
    }
}

void PreviewDialog::StartTicks(int milliseconds) {
    if (milliseconds > 0) {
        StartTimer(milliseconds);
    } else if (!mTickPosted && mDialog != nullptr && !Ended()) {
        // At once, after the events waiting: no timer's 10 ms at the least.
        mTickPosted = PostMessageW(mDialog, kTickMessage, 0, 0) != 0;
    }
}

void PreviewDialog::Timer() {
    mModel->Tick();
}

void PreviewDialog::ShowWarning(const std::string& text) {
    Warn(text);
}

void PreviewDialog::EndDialog() {
    End();
}

// ----- Messages -------------------------------------------------------------------

INT_PTR PreviewDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL) {
                // Escape or the close box: as Close.
                if (!Ended()) {
                    mModel->Click(PreviewControl::cmdClose);
                    EndDialog();
                }
            } else {
                OnCommand(HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            }
            return TRUE;
        case WM_HSCROLL:
            if (reinterpret_cast<HWND>(lParam) == Of(PreviewControl::sldFrame)) {
                OnSlider(LOWORD(wParam));
            }
            return TRUE;
        case kTickMessage:
            mTickPosted = false;
            if (!Ended()) {
                mModel->Tick();
            }
            return TRUE;
        case kDecodedMessage:
            if (mDecoder != nullptr) {
                for (DecodeResult& result : mDecoder->Collect()) {
                    if (const WicPicture* picture = PixelsOf(result.picture)) {
                        Log("decoded %s %dx%d in %.1f ms\n", result.strip ? "small" : "large",
                            picture->pixels.width, picture->pixels.height, picture->milliseconds);
                    }
                    mModel->Decoded(std::move(result));
                }
            }
            return TRUE;
        case WM_DRAWITEM:
            Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            SetWindowLongPtrW(mDialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        default:
            return FALSE;
    }
}

void PreviewDialog::OnCommand(int code, HWND control) {
    const ControlLayout* layout = mControls.LayoutOf(control);
    PreviewControl named{};
    if (layout == nullptr || Ended() ||
        !ControlNamed(layout->name, PreviewControl::cmdClose, named)) {
        return;
    }
    if (layout->kind == ControlLayout::Kind::Button && code == BN_CLICKED) {
        mModel->Click(named);
    } else if (named == PreviewControl::picStrip && code == STN_CLICKED) {
        const DWORD at = GetMessagePos();
        POINT point{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
        ScreenToClient(control, &point);
        for (int i = 0; i < kPreviewStripCells; ++i) {
            if (const RECT cell = CellBox(i); point.x >= cell.left && point.x < cell.right) {
                mModel->StripClicked(i);
                break;
            }
        }
    }
}

void PreviewDialog::OnSlider(int code) {
    // The end of a drag, after the moves it made, moves nothing.
    if (mSetting > 0 || Ended() || code == TB_ENDTRACK) {
        return;
    }
    const LRESULT position = SendMessageW(Of(PreviewControl::sldFrame), TBM_GETPOS, 0, 0);
    mModel->SliderMoved(static_cast<int32_t>(position));
}

void PreviewDialog::Draw(const DRAWITEMSTRUCT& item) {
    // Off the screen first, so that playing does not flicker.
    const RECT& box = item.rcItem;
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    HDC dc = CreateCompatibleDC(item.hDC);
    HBITMAP bitmap = CreateCompatibleBitmap(item.hDC, width, height);
    if (dc == nullptr || bitmap == nullptr) {
        if (bitmap != nullptr) {
            DeleteObject(bitmap);
        }
        if (dc != nullptr) {
            DeleteDC(dc);
        }
        return;
    }
    HGDIOBJ previous = SelectObject(dc, bitmap);
    const RECT whole{0, 0, width, height};
    if (item.hwndItem == Of(PreviewControl::picFrame)) {
        FillRect(dc, &whole, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        if (const WicPicture* picture = PixelsOf(mPicture)) {
            DrawPixels(dc, FittedBox(SizeOf(picture->pixels), whole), picture->pixels);
        }
    } else {
        DrawStrip(dc, whole);
    }
    BitBlt(item.hDC, box.left, box.top, width, height, dc, 0, 0, SRCCOPY);
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

void PreviewDialog::DrawStrip(HDC dc, const RECT& box) {
    FillRect(dc, &box, GetSysColorBrush(COLOR_BTNFACE));
    const int margin = MulDiv(kCellMargin, static_cast<int>(mControls.Dpi()), 96);
    // A cell not yet decoded is a dark box of the frames' shape.
    const WicPicture* big = PixelsOf(mPicture);
    const SIZE shape = big != nullptr ? SizeOf(big->pixels) : SIZE{1600, 900};
    for (std::size_t i = 0; i < mStrip.size(); ++i) {
        const StripCell& cell = mStrip[i];
        if (cell.frame < 0) {
            continue;  // beyond either end
        }
        const RECT outer = CellBox(static_cast<int>(i));
        const RECT inner{outer.left + margin, outer.top + margin, outer.right - margin,
                         outer.bottom - margin};
        const WicPicture* picture = PixelsOf(cell.picture);
        const RECT at = FittedBox(picture != nullptr ? SizeOf(picture->pixels) : shape, inner);
        if (cell.current) {
            const RECT mark{at.left - margin, at.top - margin, at.right + margin,
                            at.bottom + margin};
            FillRect(dc, &mark, GetSysColorBrush(COLOR_HIGHLIGHT));
        }
        if (picture != nullptr) {
            DrawPixels(dc, at, picture->pixels);
        } else {
            FillRect(dc, &at, GetSysColorBrush(COLOR_3DDKSHADOW));
        }
    }
}

}  // namespace sparkloom::win32
