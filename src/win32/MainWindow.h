#pragma once

#include <windows.h>

#include <array>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "win32/LayoutControls.h"
#include "workflow/WindowLayout.h"
#include "workflow/WindowView.h"

namespace sparkloom {
class WindowModel;
}

namespace sparkloom::win32 {

class LayoutDialog;

// Form1 on Windows: the layout's controls as native controls, every click
// handed to the model, and the dialogs, message boxes and timer it asks for.
class MainWindow final : public WindowView {
public:
    explicit MainWindow(HINSTANCE instance);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Makes the window and its controls, hidden and centred on its screen, at
    // the screen's scale; false when the system refused.
    bool Create(WindowModel& model);
    void Show(int showCommand);
    // Tab, the access keys and Enter on a button, as in a dialog; true when
    // message was used up.
    bool TranslateDialogKeys(MSG& message);

    std::string Text(WindowControl control) const override;
    void SetText(WindowControl control, const std::string& text) override;
    bool Enabled(WindowControl control) const override;
    void SetEnabled(WindowControl control, bool enabled) override;
    void SetVisible(WindowControl control, bool visible) override;
    void SetItems(WindowControl control, const std::vector<std::string>& items) override;
    void SetProgress(int percent) override;
    void RepaintStatus() override;
    std::string ChooseFile(const FileRequest& request) override;
    std::string BrowseForFolder(const std::string& initialFolder,
                                const std::string& title) override;
    MessageAnswer ShowMessage(const std::string& text, MessageIcon icon,
                              MessageButtons buttons) override;
    bool OpenUrl(const std::string& url) override;
    std::string RememberedFolder() override;
    void RememberFolder(const std::string& folder) override;
    std::string RememberedSetting(const std::string& name) override;
    void RememberSetting(const std::string& name, const std::string& value) override;
    void ShowFramesDialog(FrameOptionsModel& model) override;
    void ShowPreviewDialog(PreviewModel& model) override;
    void StartTicks(int milliseconds) override;
    void PumpEvents(bool withUserInput) override;
    void CloseWindow() override;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    // Lays the window out at dpi: the frame's size, the controls and the
    // fonts; at suggested's corner when given.
    void ScaleTo(UINT dpi, const RECT* suggested);
    SIZE OuterSizeAt(UINT dpi) const;
    // A dialog of Dialog's kind over the window, with model, at the window's scale.
    template <typename Dialog, typename Model>
    void RunDialog(Model& model);
    HWND Of(WindowControl control) const;
    const ControlLayout* LayoutOf(HWND control) const;
    void OnTick();
    void OnDropFiles(HDROP drop);
    void DrawPicture(const DRAWITEMSTRUCT& item);
    HBRUSH ControlColours(HWND control, HDC dc, bool edit);
    void EndFineTimer();

    HINSTANCE mInstance;
    WindowModel* mModel = nullptr;
    HWND mWindow = nullptr;
    LayoutControls mControls;
    // The dialog open over the window, if any.
    LayoutDialog* mOpenDialog = nullptr;
    HBITMAP mBanner = nullptr;
    SIZE mBannerSize{};
    HBITMAP mDonation = nullptr;
    SIZE mDonationSize{};

    // Windows was asked to wait with a log-off or shutdown for running work.
    bool mBlockingShutdown = false;
    // The builder's tick: armed by StartTicks, fired once by WM_TIMER.
    bool mTickArmed = false;
    // timeBeginPeriod(1) in force, so that a 16 ms timer is not rounded up to
    // the default 15.6 ms clock's 31 ms.
    bool mFineTimer = false;
    LARGE_INTEGER mTickAsked{};
    int mTickMilliseconds = 0;
    // SPARKLOOM_TICK_LOG names a file that gets each tick's asked and measured wait.
    std::FILE* mTickLog = nullptr;
};

}  // namespace sparkloom::win32
