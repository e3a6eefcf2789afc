#pragma once

#include <string>
#include <vector>

#include "workflow/FramesLayout.h"

namespace sparkloom {

// What the "Frames…" dialog's workflow needs of a toolkit. The toolkit builds
// the controls from kFramesLayout, calls FrameOptionsModel::Open with itself,
// forwards every edit, pick and button, and runs modally until EndDialog.
class FrameOptionsView {
public:
    virtual ~FrameOptionsView() = default;

    // A combo box's text is what its edit field shows, or the entry just
    // picked (also while its selection is still changing).
    virtual std::string Text(FramesControl control) const = 0;
    // Setting a text is no edit: it is not forwarded to Changed.
    virtual void SetText(FramesControl control, const std::string& text) = 0;
    // Fills a combo box's list; its text stays as it was.
    virtual void SetItems(FramesControl control, const std::vector<std::string>& items) = 0;
    virtual void SetEnabled(FramesControl control, bool enabled) = 0;
    // A label's text in the window's red, or in the usual colour.
    virtual void SetRed(FramesControl control, bool red) = 0;
    // Calls the model's Poll() once, after milliseconds; a second call before
    // then reschedules it. The dialog must keep serving events meanwhile.
    virtual void StartPolls(int milliseconds) = 0;
    // A warning box over the dialog; the dialog stays open.
    virtual void ShowWarning(const std::string& text) = 0;
    // Closes the dialog; the toolkit's call that showed it returns.
    virtual void EndDialog() = 0;
};

}  // namespace sparkloom
