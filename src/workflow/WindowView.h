#pragma once

#include <string>
#include <vector>

namespace sparkloom {

class FrameOptionsModel;
class PreviewModel;

// The window's controls the workflow reads or changes, by their form names.
enum class WindowControl {
    txtParticleName,
    txtVideoFile,
    cmdProjectFile,
    txtExtractPath,
    cmdExtract,
    txtJPGThumb,
    cmdThumb,
    txtAnimImage,
    cmdAnimImage,
    cboType,
    cboCat,
    Command3,
    cmdDZP,
    cmdExit,
    txtStatus,
    ProgressBar1,
    cmdFrames,
    cmdPreview,
};

enum class MessageIcon { None, Information, Warning };
enum class MessageButtons { Ok, OkCancel };
enum class MessageAnswer { Ok, Cancel };

struct FileRequest {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    std::string title;   // empty: the toolkit's own
    std::string filter;  // "Text (*.x)|*.x|Other (*.y)|*.y"
    std::string defaultExtension;
    std::string initialFolder;  // empty: where the system puts it
    std::string initialFileName;
};

// What the workflow needs of a window toolkit. Texts and paths are UTF-8;
// paths use the platform's separators.
class WindowView {
public:
    virtual ~WindowView() = default;

    // A combo box's text is what its edit field shows.
    virtual std::string Text(WindowControl control) const = 0;
    // Line breaks arrive as "\n" or "\r\n"; the view shows them as its toolkit wants.
    virtual void SetText(WindowControl control, const std::string& text) = 0;
    virtual bool Enabled(WindowControl control) const = 0;
    virtual void SetEnabled(WindowControl control, bool enabled) = 0;
    virtual void SetVisible(WindowControl control, bool visible) = 0;
    // Fills a combo box's list and leaves no entry selected.
    virtual void SetItems(WindowControl control, const std::vector<std::string>& items) = 0;
    // 0 to 100.
    virtual void SetProgress(int percent) = 0;
    // Paints the status box now, while the workflow holds the event loop.
    virtual void RepaintStatus() = 0;

    // Full path of the chosen file, or "" when the user cancelled.
    virtual std::string ChooseFile(const FileRequest& request) = 0;
    // Full path of the chosen folder without trailing separator, or "".
    virtual std::string BrowseForFolder(const std::string& initialFolder,
                                        const std::string& title) = 0;
    virtual MessageAnswer ShowMessage(const std::string& text, MessageIcon icon,
                                      MessageButtons buttons) = 0;
    // False when no browser could be asked to open it.
    virtual bool OpenUrl(const std::string& url) = 0;

    // The folder remembered between runs ("" when none), kept per user.
    virtual std::string RememberedFolder() = 0;
    virtual void RememberFolder(const std::string& folder) = 0;
    // Other values kept per user in the same store ("" when none): the frames
    // dialog's "framerate", "framewidth" and "framequality".
    virtual std::string RememberedSetting(const std::string& name) {
        (void)name;
        return {};
    }
    virtual void RememberSetting(const std::string& name, const std::string& value) {
        (void)name;
        (void)value;
    }

    // Shows the "Frames…" dialog modally, built from kFramesLayout, with model
    // as its workflow (model.Open first), and returns once it has closed. A
    // toolkit without it leaves the model unopened: nothing is chosen.
    virtual void ShowFramesDialog(FrameOptionsModel& model) { (void)model; }
    // Shows the "Preview" dialog modally, built from kPreviewLayout, with its
    // own FrameDecoder, calls model.Open(dialog, decoder) and returns once it
    // has closed. A toolkit without it leaves the model unopened.
    virtual void ShowPreviewDialog(PreviewModel& model) { (void)model; }

    // Calls the workflow's Tick() once, after milliseconds; a second call
    // before then reschedules it.
    virtual void StartTicks(int milliseconds) = 0;
    // Serves pending events while the workflow holds the event loop; without
    // user input, clicks and keys wait.
    virtual void PumpEvents(bool withUserInput) = 0;
    // Closes the window as its close box does.
    virtual void CloseWindow() = 0;
};

}  // namespace sparkloom
