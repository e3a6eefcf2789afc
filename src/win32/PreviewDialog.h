#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "win32/LayoutDialog.h"
#include "workflow/FrameDecoder.h"
#include "workflow/PreviewLayout.h"
#include "workflow/PreviewView.h"

namespace sparkloom {
class PreviewModel;
}

namespace sparkloom::win32 {

// Frames decoded by WIC on threads of their own, as many as the model runs
// at once; each result is posted to a window as message, and taken there
// with Collect on the window's thread.
class WicFrameDecoder final : public FrameDecoder {
public:
    WicFrameDecoder(HWND window, UINT message, int threads);
    // Waits for the running decodes and drops their results.
    ~WicFrameDecoder() override;
    WicFrameDecoder(const WicFrameDecoder&) = delete;
    WicFrameDecoder& operator=(const WicFrameDecoder&) = delete;

    void Start(const DecodeRequest& request) override;
    // The results finished since the last call, in the order they finished.
    std::vector<DecodeResult> Collect();

private:
    void Work();

    HWND mWindow;
    UINT mMessage;
    std::mutex mMutex;
    std::condition_variable mWake;
    std::deque<DecodeRequest> mWaiting;
    std::vector<DecodeResult> mDone;
    bool mStopping = false;
    std::vector<std::thread> mThreads;
};

// The "Preview" dialog on Windows: kPreviewLayout's controls, the big picture
// and the strip drawn from WIC's decodes, the buttons, the slider, the strip's
// clicks and the keys handed to the model.
class PreviewDialog final : public LayoutDialog, public PreviewView {
public:
    // dpi: the main window's, so that both look alike.
    PreviewDialog(HINSTANCE instance, HWND owner, UINT dpi);
    ~PreviewDialog() override;

    // Shows the dialog over its owner, which is disabled meanwhile, and
    // returns once the model has ended it; false when the system refused.
    bool Run(PreviewModel& model);

    int64_t Milliseconds() const override;
    PixelSize PictureArea() const override;
    PixelSize StripCellArea() const override;
    void ShowPicture(std::shared_ptr<const DecodedPicture> picture) override;
    void SetStrip(const std::vector<StripCell>& cells) override;
    void SetSlider(int32_t last, int32_t position) override;
    void SetText(PreviewControl control, const std::string& text) override;
    void SetEnabled(PreviewControl control, bool enabled) override;
    void StartTicks(int milliseconds) override;
    void ShowWarning(const std::string& text) override;
    void EndDialog() override;

private:
    void Opened() override;
    void Timer() override;
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnCommand(int code, HWND control);
    void OnSlider(int code);
    void Draw(const DRAWITEMSTRUCT& item);
    void DrawStrip(HDC dc, const RECT& box);
    // The strip's cell at i, in the strip's own coordinates.
    RECT CellBox(int i) const;
    HWND Of(PreviewControl control) const;
    // Left, Right, Page Up, Page Down, Home and End go to the model wherever
    // the focus is in the dialog.
    static LRESULT CALLBACK KeyFilter(int code, WPARAM wParam, LPARAM lParam);
    void Log(const char* format, ...);

    PreviewModel* mModel = nullptr;
    std::unique_ptr<WicFrameDecoder> mDecoder;
    std::shared_ptr<const DecodedPicture> mPicture;
    std::vector<StripCell> mStrip;
    // Above 0 while the dialog itself moves the slider: that is no user's move.
    int mSetting = 0;
    bool mTickPosted = false;
    HHOOK mKeyHook = nullptr;
    LARGE_INTEGER mFrequency{};
    int64_t mOpenedAt = 0;
    bool mFirstShown = false;
    // SPARKLOOM_PREVIEW_LOG names a file that gets the first picture's time
    // and each decode's.
    std::FILE* mLog = nullptr;
};

}  // namespace sparkloom::win32
