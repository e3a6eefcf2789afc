#pragma once

#include <QDialog>
#include <QTimer>
#include <map>
#include <string_view>

#include "workflow/FrameOptionsView.h"

namespace sparkloom {

class FrameOptionsModel;

// The "Frames…" dialog drawn with Qt from its layout table; every edit, pick
// and button goes to the model, which decides the rest.
class FramesDialog : public QDialog, private FrameOptionsView {
    Q_OBJECT
public:
    FramesDialog(FrameOptionsModel& model, QWidget* parent);

    void reject() override;

private:
    QWidget* Widget(FramesControl control) const;
    std::string Text(FramesControl control) const override;
    void SetText(FramesControl control, const std::string& text) override;
    void SetItems(FramesControl control, const std::vector<std::string>& items) override;
    void SetEnabled(FramesControl control, bool enabled) override;
    void SetRed(FramesControl control, bool red) override;
    void StartPolls(int milliseconds) override;
    void ShowWarning(const std::string& text) override;
    void EndDialog() override;

    FrameOptionsModel& mModel;
    std::map<std::string_view, QWidget*> mControls;
    QTimer mPoll;
    // The model is setting a text: that is no edit of the user's.
    bool mSetting = false;
    bool mEnding = false;
};

}  // namespace sparkloom
