#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "extract/ClipFacts.h"
#include "extract/Extraction.h"
#include "workflow/WindowView.h"

namespace sparkloom {

class Zipper;
class ExtractionJob;
class PendingPackage;

// The working state of one conversion. Nothing resets it between conversions:
// each field keeps its value until its writer runs again.
struct ParticleProject {
    std::string ProjectFolder;  // the video's folder, no trailing separator
    std::string PackageFolder;  // the package's folder, no trailing separator
    int32_t MaxFiles = 0;       // most directory entries taken from one folder
    std::string VideoFile;      // full path of the chosen video
    std::string ExtractFolder;  // folder receiving the frames; "" after a cancelled browse
    int32_t FrameCount = 0;
    int32_t AnimationDuration = 0;  // milliseconds
};

// The shared open/save dialog: it keeps the last chosen file between uses.
struct CommonDialog {
    std::string FileName;   // full path
    std::string FileTitle;  // name without folder
};

// The window's whole workflow, for any toolkit: what each control does, in
// which order its checks run, every message and question, what is enabled
// when, and what Cancel and closing stop. A view builds the controls from
// WindowLayout, forwards each click here and calls Tick when asked to.
class WindowModel {
public:
    explicit WindowModel(WindowView& view);
    ~WindowModel();
    WindowModel(const WindowModel&) = delete;
    WindowModel& operator=(const WindowModel&) = delete;

    // Fills the lists, sets MaxFiles and the first status; once, before the
    // window is first shown.
    void StartUp();

    ParticleProject& Project() { return mProject; }
    Zipper& ArchiveBuilder() { return *mZipper; }
    // The progress bar's value as set, fractions included.
    double ProgressValue() const { return mProgressValue; }
    void SetStatus(const std::string& message);
    // True while frames are being extracted.
    bool Extracting() const { return mExtraction != nullptr; }
    // True while frames are extracted or a package is built or prepared.
    bool Busy() const;

    // Takes path as the video, exactly as the video "Browse" does once its
    // dialog has closed.
    void ChooseVideo(const std::string& path);
    // Videos named on the command line or dropped on the window: one existing
    // file becomes the video; anything else is refused with a warning and
    // changes nothing. No paths: nothing happens. True when a video was taken.
    bool OpenGivenPaths(const std::vector<std::string>& paths);

    // A click on the control of that form name, as the layout names it: the
    // buttons and the two banners. False for a control that takes no clicks.
    bool Click(std::string_view controlName);

    void cmdProjectFile_Click();
    void cmdExtract_Click();
    // The "Frames…" dialog: what the next extractions of this video write.
    void cmdFrames_Click();
    void cmdThumb_Click();
    void cmdAnimImage_Click();
    // The "Preview" dialog over the frames: after an extraction, or once a
    // first frame has been chosen in a folder of frames.
    void cmdPreview_Click();
    // What the two picture choosers do with the file chosen ("" when their
    // dialog was cancelled), whether it came from their Browse or from the
    // Preview dialog.
    void ChooseFirstFrame(const std::string& path);
    void ChooseThumbnail(const std::string& path);
    void cmdDZP_Click();
    void Command3_Click();
    void cmdExit_Click();
    void Picture1_Click();
    void Image1_Click();

    // One tick of the running package; the next one is asked of the view.
    void Tick();
    // The frames options in force for this video; none until the dialog's OK.
    const FrameOptions& FramesChosen() const { return mFrames; }
    // What the chosen video's header said when it was chosen.
    const ClipFacts& Clip() const { return mClip; }

    // The window is closing: nothing may keep running that the user can no
    // longer see or stop. A cancelled package is closed before this returns.
    void Closing();
    // The session is ending (log off, restart, an update): what still runs, as
    // the reason to show while the system waits ("Sparkloom is building
    // Fire.dzp"); "" when nothing runs.
    std::string SessionEnding() const;
    // The session ends now: the work stops as closing stops it, without a
    // question or a message, and a package being built is closed whole.
    void SessionEnded();

private:
    void Zipper_StartFile();
    void Zipper_Progress();
    void Zipper_EndFile();
    void Zipper_Error();
    void Zipper_Complete(bool Canceled);

    void BuildParticle();
    bool RefusedWhileBusy();
    // "Frames…" takes clicks once a video is chosen, and not while work runs.
    void EnableFrames();
    void SetProgress(double value);
    // "Err N in STEP", and the system's reason when the builder knows it.
    std::string PackingFailure() const;
    void Warn(const std::string& text);
    void Inform(const std::string& text);
    bool Confirmed(const std::string& question, MessageIcon icon);
    // The shared dialog keeps the file chosen last, by whichever way it was chosen.
    void RecordChosen(const std::string& path);

    WindowView& mView;
    ParticleProject mProject;
    CommonDialog CommonDialog1;
    std::unique_ptr<Zipper> mZipper;
    double mProgressValue = 0;
    // The running extraction, so Cancel and closing can stop it.
    std::unique_ptr<ExtractionJob> mExtraction;
    // What the last completed extraction wrote; the build counts its frames.
    std::string mExtractedPrefix;
    // The package being built, until it has taken the chosen name.
    std::unique_ptr<PendingPackage> mPending;
    // From the click on "Build Particle" until its run has started.
    bool mPreparingBuild = false;
    bool mSessionEnded = false;
    ClipFacts mClip;
    FrameOptions mFrames;
    // The frames the Preview dialog plays: their folder and name prefix; ""
    // until there are any.
    std::string mPreviewFolder;
    std::string mPreviewPrefix;
};

}  // namespace sparkloom
