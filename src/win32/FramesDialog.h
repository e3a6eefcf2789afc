#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "win32/LayoutDialog.h"
#include "workflow/FrameOptionsView.h"
#include "workflow/FramesLayout.h"

namespace sparkloom {
class FrameOptionsModel;
}

namespace sparkloom::win32 {

// The "Frames…" dialog on Windows: kFramesLayout's controls made as the main
// window's are, in fonts of its own, every edit, pick and button handed to
// the model.
class FramesDialog final : public LayoutDialog, public FrameOptionsView {
public:
    // dpi: the main window's, so that both look alike.
    FramesDialog(HINSTANCE instance, HWND owner, UINT dpi);

    // Shows the dialog over its owner, which is disabled meanwhile, and
    // returns once the model has ended it; false when the system refused.
    bool Run(FrameOptionsModel& model);

    std::string Text(FramesControl control) const override;
    void SetText(FramesControl control, const std::string& text) override;
    void SetItems(FramesControl control, const std::vector<std::string>& items) override;
    void SetEnabled(FramesControl control, bool enabled) override;
    void SetRed(FramesControl control, bool red) override;
    void StartPolls(int milliseconds) override;
    void ShowWarning(const std::string& text) override;
    void EndDialog() override;

private:
    void Opened() override;
    void Timer() override;
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnCommand(int id, int code, HWND control);
    // The row of kFramesLayout, or -1 for a handle that is none of its controls.
    int RowOf(HWND control) const;
    HWND Of(FramesControl control) const;
    // Shows text in a combo's field, with the entry that reads the same selected.
    void ShowInCombo(HWND combo, const std::wstring& text);

    FrameOptionsModel* mModel = nullptr;
    std::array<bool, kFramesLayout.size()> mRed{};
    // Above 0 while the dialog itself changes a text: that is no user's edit.
    int mSetting = 0;
    // The combo whose entry is being picked: its field still shows the old text.
    HWND mPicking = nullptr;
};

}  // namespace sparkloom::win32
