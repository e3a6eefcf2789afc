#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "win32/LayoutControls.h"
#include "workflow/FrameOptionsView.h"
#include "workflow/FramesLayout.h"

namespace sparkloom {
class FrameOptionsModel;
}

namespace sparkloom::win32 {

// The "Frames…" dialog on Windows: kFramesLayout's controls made as the main
// window's are, in fonts of its own, every edit, pick and button handed to
// the model.
class FramesDialog final : public FrameOptionsView {
public:
    // dpi: the main window's, so that both look alike.
    FramesDialog(HINSTANCE instance, HWND owner, UINT dpi);
    FramesDialog(const FramesDialog&) = delete;
    FramesDialog& operator=(const FramesDialog&) = delete;

    // Shows the dialog over its owner, which is disabled meanwhile, and
    // returns once the model has ended it; false when the system refused.
    bool Run(FrameOptionsModel& model);
    // The owner was laid out for dpi: the dialog follows, centred over it.
    void FollowOwner(UINT dpi);

    std::string Text(FramesControl control) const override;
    void SetText(FramesControl control, const std::string& text) override;
    void SetItems(FramesControl control, const std::vector<std::string>& items) override;
    void SetEnabled(FramesControl control, bool enabled) override;
    void SetRed(FramesControl control, bool red) override;
    void StartPolls(int milliseconds) override;
    void ShowWarning(const std::string& text) override;
    void EndDialog() override;

private:
    static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Build();
    // Sizes the dialog for dpi, at suggested's corner or else centred over
    // its owner, and lays its controls out again once they are made.
    void ScaleTo(UINT dpi, const RECT* suggested);
    void OnCommand(int id, int code, HWND control);
    // The row of kFramesLayout, or -1 for a handle that is none of its controls.
    int RowOf(HWND control) const;
    HWND Of(FramesControl control) const;
    // Shows text in a combo's field, with the entry that reads the same selected.
    void ShowInCombo(HWND combo, const std::wstring& text);

    HINSTANCE mInstance;
    HWND mOwner;
    UINT mDpi;
    FrameOptionsModel* mModel = nullptr;
    HWND mDialog = nullptr;
    LayoutControls mControls;
    std::array<bool, kFramesLayout.size()> mRed{};
    // Above 0 while the dialog itself changes a text: that is no user's edit.
    int mSetting = 0;
    // The combo whose entry is being picked: its field still shows the old text.
    HWND mPicking = nullptr;
    bool mEnded = false;
};

}  // namespace sparkloom::win32
