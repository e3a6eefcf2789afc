#include "workflow/WindowModel.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/EventPump.h"
#include "common/Files.h"
#include "common/FrameSequence.h"
#include "common/Text.h"
#include "extract/Extraction.h"
#include "extract/VideoNames.h"
#include "package/FolderWalk.h"
#include "package/PackageQueue.h"
#include "package/PendingPackage.h"
#include "package/SavePath.h"
#include "package/Templates.h"
#include "package/Thumbnail.h"
#include "workflow/FrameOptionsModel.h"
#include "workflow/PreviewModel.h"
#include "workflow/WindowLayout.h"
#include "zip/ZipLibrary.h"
#include "zip/Zipper.h"

namespace sparkloom {

namespace {

constexpr int32_t kMaxFiles = 2000;
// The frames dialog's choices kept per user, beside the remembered folder.
constexpr const char* kRememberedRate = "framerate";
constexpr const char* kRememberedWidth = "framewidth";
constexpr const char* kRememberedQuality = "framequality";

// The text before the last separator: the build compares folders as text, as
// the video's and the package's folders are cut from their paths as text.
std::string FolderOf(const std::string& path) {
    const size_t cut = path.find_last_of(kPathSeparators);
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// Both picture choosers bear the same title; only their filters differ.
FileRequest PictureRequest(const std::string& filter) {
    FileRequest request;
    request.title = "Select Thumbnail Image";
    request.filter = filter;
    request.defaultExtension = "jpg";
    return request;
}

}  // namespace

WindowModel::WindowModel(WindowView& view) : mView(view), mZipper(std::make_unique<Zipper>()) {
    // The core's long waits (ffmpeg, the templates) keep the window painting and
    // clickable, except while a build prepares its run: a click queued then
    // would start a second build inside the first.
    SetEventPump([this] { mView.PumpEvents(!mPreparingBuild); });
    mZipper->SetTickInterval(Zipper::kDefaultTickInterval);
    mZipper->Events.StartFile = [this] { Zipper_StartFile(); };
    mZipper->Events.Progress = [this] { Zipper_Progress(); };
    mZipper->Events.EndFile = [this] { Zipper_EndFile(); };
    mZipper->Events.Error = [this] { Zipper_Error(); };
    mZipper->Events.Complete = [this](bool Canceled) { Zipper_Complete(Canceled); };
}

WindowModel::~WindowModel() {
    // Both call into this model, which is going.
    mZipper->Events = {};
    SetEventPump({});
}

void WindowModel::StartUp() {
    mView.SetItems(WindowControl::cboType, {"CUSTOM", "PRESET"});
    mView.SetText(WindowControl::cboType, "Select");
    mView.SetItems(WindowControl::cboCat, {"Kelvane", "General", "Sports"});
    mView.SetText(WindowControl::cboCat, "Select");
    mProject.MaxFiles = kMaxFiles;
    SetStatus("For FREE Templates pay us a visit by clicking on our banner :)");
}

bool WindowModel::Busy() const {
    return mExtraction != nullptr || mZipper->Zipping() || mPreparingBuild;
}

void WindowModel::SetStatus(const std::string& message) {
    mView.SetText(WindowControl::txtStatus, message);
}

void WindowModel::SetProgress(double value) {
    mProgressValue = value;
    mView.SetProgress(static_cast<int>(std::clamp(value, 0.0, 100.0)));
}

void WindowModel::Warn(const std::string& text) {
    if (!mSessionEnded) {
        mView.ShowMessage(text, MessageIcon::Warning, MessageButtons::Ok);
    }
}

void WindowModel::Inform(const std::string& text) {
    if (!mSessionEnded) {
        mView.ShowMessage(text, MessageIcon::Information, MessageButtons::Ok);
    }
}

bool WindowModel::Confirmed(const std::string& question, MessageIcon icon) {
    // Nobody is left to answer once the session ends.
    return !mSessionEnded &&
           mView.ShowMessage(question, icon, MessageButtons::OkCancel) == MessageAnswer::Ok;
}

void WindowModel::RecordChosen(const std::string& path) {
    CommonDialog1.FileName = path;
    CommonDialog1.FileTitle = FileNameOf(path);
}

bool WindowModel::Click(std::string_view controlName) {
    using Handler = void (WindowModel::*)();
    static constexpr std::pair<std::string_view, Handler> kHandlers[]{
        {"cmdProjectFile", &WindowModel::cmdProjectFile_Click},
        {"cmdExtract", &WindowModel::cmdExtract_Click},
        {"cmdFrames", &WindowModel::cmdFrames_Click},
        {"cmdThumb", &WindowModel::cmdThumb_Click},
        {"cmdAnimImage", &WindowModel::cmdAnimImage_Click},
        {"cmdPreview", &WindowModel::cmdPreview_Click},
        {"cmdDZP", &WindowModel::cmdDZP_Click},
        {"Command3", &WindowModel::Command3_Click},
        {"cmdExit", &WindowModel::cmdExit_Click},
        {"Picture1", &WindowModel::Picture1_Click},
        {"Image1", &WindowModel::Image1_Click},
    };
    for (const auto& [name, handler] : kHandlers) {
        if (name == controlName) {
            (this->*handler)();
            return true;
        }
    }
    return false;
}

// ----- Video and frames -----------------------------------------------------

void WindowModel::cmdProjectFile_Click() {
    FileRequest request;
    request.title = "Select Video File";
    request.filter =
        "All Files (*.*)|*.*|AVI Files (*.avi)|*.avi|MPEG Files (*.mpg)|*.mpg|MP4 Files "
        "(*.mp4)|*.mp4|Windows Media Files (*.wmv)|*.wmv|Quicktime Files (*.mov)|*.mov";
    request.defaultExtension = "*.*";
    // A cancelled dialog goes on with the video it held before, so another
    // chooser's file can never become the video.
    std::string path = mView.ChooseFile(request);
    if (path.empty()) {
        path = mProject.VideoFile;
    }
    ChooseVideo(path);
}

void WindowModel::ChooseVideo(const std::string& path) {
    const std::string fileName = FileNameOf(path);
    mView.SetText(WindowControl::txtVideoFile, fileName);
    if (const auto name = ParticleNameFromFile(fileName)) {
        mView.SetText(WindowControl::txtParticleName, *name);
    }
    mProject.ProjectFolder = FolderOnEntry(ProjectFolderOf(path, fileName));
    // A choice of frames holds for its video; the same video again keeps it.
    const bool sameVideo = path == mProject.VideoFile && mClip.ok;
    mProject.VideoFile = path;
    mView.SetEnabled(WindowControl::cmdExtract, true);
    if (sameVideo || path.empty()) {
        return;
    }
    mFrames = {};
    mClip = ReadClipFacts(path);
    mView.SetEnabled(WindowControl::cmdFrames, !Busy());
    if (const std::string notice = ClipPaceNotice(mClip); !notice.empty()) {
        SetStatus(notice);
    }
}

void WindowModel::cmdFrames_Click() {
    if (RefusedWhileBusy() || mProject.VideoFile.empty()) {
        return;
    }
    if (!mClip.ok) {
        // It may have been read before ffmpeg was there, or the file replaced since.
        mClip = ReadClipFacts(mProject.VideoFile);
        if (!mClip.ok) {
            Warn(mClip.error);
            return;
        }
    }
    RememberedFrames remembered{mView.RememberedSetting(kRememberedRate),
                                mView.RememberedSetting(kRememberedWidth),
                                mView.RememberedSetting(kRememberedQuality)};
    FrameOptionsModel dialog(mProject.VideoFile, mClip, mFrames, remembered,
                             FramesPerPackage(mProject.MaxFiles));
    mView.ShowFramesDialog(dialog);
    dialog.Closing();
    if (!dialog.Accepted()) {
        return;
    }
    mFrames = dialog.Chosen();
    const RememberedFrames kept = dialog.ToRemember();
    mView.RememberSetting(kRememberedRate, kept.rate);
    mView.RememberSetting(kRememberedWidth, kept.width);
    mView.RememberSetting(kRememberedQuality, kept.quality);
    SetStatus(mFrames.Any() ? FramesStatusText(mFrames) : "Frames: every frame, as the clip");
}

void WindowModel::EnableFrames() {
    mView.SetEnabled(WindowControl::cmdFrames, !mProject.VideoFile.empty() && !Busy());
    mView.SetEnabled(WindowControl::cmdPreview, !mPreviewFolder.empty() && !Busy());
}

// One extraction at a time, no build of half-written frames, no second build
// into the running queue and no extraction into a folder being packed.
bool WindowModel::RefusedWhileBusy() {
    if (mExtraction) {
        Warn(
            "Frames are still being extracted.\r\n"
            "Please wait until it is finished or cancel it first.");
        return true;
    }
    if (mZipper->Zipping() || mPreparingBuild) {
        Warn(
            "A package is still being built.\r\n"
            "Please wait until it is finished or cancel it first.");
        return true;
    }
    return false;
}

bool WindowModel::OpenGivenPaths(const std::vector<std::string>& paths) {
    if (paths.empty()) {
        return false;
    }
    if (paths.size() > 1) {
        Warn("Please choose one Video at a time!");
        return false;
    }
    const std::string& given = paths.front();
    if (!IsFile(given)) {
        Warn("This is not a file:\r\n" + given);
        return false;
    }
    // ProjectFolder is cut from the path, and the dialog's paths are absolute.
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(PlainPathFromUtf8(given), error);
    if (error) {
        absolute = PathFromUtf8(given);
    }
    ChooseVideo(Utf8Of(absolute.lexically_normal().make_preferred()));
    return true;
}

void WindowModel::cmdExtract_Click() {
    if (RefusedWhileBusy()) {
        return;
    }
    const std::string remembered = mView.RememberedFolder();
    mProject.ExtractFolder =
        FolderOnEntry(mView.BrowseForFolder(remembered, "Please select a folder:"));
    mView.SetText(WindowControl::txtExtractPath,
                  mProject.ExtractFolder.empty() ? "Canceled" : mProject.ExtractFolder);
    mView.RememberFolder(mProject.ProjectFolder);
    if (mProject.ExtractFolder.empty()) {
        return;  // cancelled: nothing to extract into
    }

    if (mView.Text(WindowControl::txtVideoFile).empty()) {
        Warn("Please select a Video first!");
        mView.SetText(WindowControl::txtExtractPath, "");
        return;
    }
    if (mProject.ExtractFolder == mProject.ProjectFolder) {
        Warn(
            "You cannot Extract in the Project Folder!\r\n"
            "Please Choose Another Destination Folder");
        mView.SetText(WindowControl::txtExtractPath, "");
        mView.SetEnabled(WindowControl::cmdDZP, true);
        return;
    }
    if (const std::string refusal = ReservedNameRefusal(mProject.ExtractFolder); !refusal.empty()) {
        Warn(refusal);
        mView.SetText(WindowControl::txtExtractPath, "");
        return;
    }

    // The frames are named after the particle; refuse names that would put them
    // elsewhere, exceed the file system's name length or could not be stored
    // in the package later.
    const std::string prefix = FramePrefixOf(mView.Text(WindowControl::txtParticleName));
    if (const std::string refusal = FramePrefixRefusal(prefix); !refusal.empty()) {
        Warn(refusal);
        return;
    }

    ExtractionRequest request;
    request.video = mProject.VideoFile;
    request.folder = mProject.ExtractFolder;
    request.framePrefix = prefix;
    request.maxFiles = mProject.MaxFiles;
    request.options = mFrames;
    ExtractionHooks hooks;
    hooks.replaceStale = [this, &prefix](const FrameFiles& stale) {
        return Confirmed(StaleFramesQuestion(stale, prefix), MessageIcon::Warning);
    };
    hooks.beforeCount = [this] { Inform("Extracting Video. Please be patient!"); };
    hooks.trimToLimit = [this](int32_t counted, int32_t limit) {
        return Confirmed(TooManyFramesQuestion(counted, limit), MessageIcon::Warning);
    };
    int32_t expected = 0;
    hooks.onCounted = [&expected](int32_t counted) { expected = counted; };
    if (mFrames.Any()) {
        // The frames written are not the clip's: progress follows what is expected.
        hooks.onExpected = [&expected](int32_t frames, bool) { expected = frames; };
    }
    hooks.onFrame = [this, &expected](int32_t frame) {
        if (expected > 0) {
            SetProgress(std::min(100.0, 100.0 * frame / expected));
        }
    };

    SetProgress(0);
    // Cancel must reach a running extraction even after a build disabled it.
    const bool cancelWasEnabled = mView.Enabled(WindowControl::Command3);
    mView.SetEnabled(WindowControl::Command3, true);
    mExtraction = std::make_unique<ExtractionJob>(request);
    EnableFrames();
    const ExtractionOutcome outcome = mExtraction->Run(hooks);
    mExtraction.reset();
    EnableFrames();
    mView.SetEnabled(WindowControl::Command3, cancelWasEnabled);

    using End = ExtractionOutcome::End;
    switch (outcome.end) {
        case End::Declined:
            return;
        case End::Stopped:
            SetStatus("Canceled");
            return;
        case End::Failed:
            Warn(outcome.error);
            return;
        case End::Done:
            break;
    }
    // The duration describes the frames that were written, whatever the clip's timing.
    mProject.FrameCount = outcome.written;
    mProject.AnimationDuration = AnimationDurationFor(mProject.FrameCount);
    mExtractedPrefix = prefix;
    mPreviewFolder = mProject.ExtractFolder;
    mPreviewPrefix = prefix;
    EnableFrames();
    SetProgress(100);
    mView.SetEnabled(WindowControl::cmdAnimImage, true);
    mView.SetEnabled(WindowControl::cmdThumb, true);
}

std::string WindowModel::SessionEnding() const {
    if (mExtraction) {
        return "Sparkloom is extracting the frames of " + FileNameOf(mProject.VideoFile);
    }
    if (mPending) {
        return "Sparkloom is building " + FileNameOf(mPending->Target());
    }
    return std::string();
}

void WindowModel::SessionEnded() {
    mSessionEnded = true;
    Closing();
}

void WindowModel::Closing() {
    if (mExtraction) {
        mExtraction->RequestStop();
    }
    if (mZipper->Zipping()) {
        // A cancelled run ends within two ticks (the entry, then the archive):
        // the shorter package is closed before the window goes.
        mZipper->Cancel();
        for (int tick = 0; tick < 4 && mZipper->Zipping(); ++tick) {
            mZipper->Tick();
        }
    }
}

// ----- First frame and thumbnail --------------------------------------------

void WindowModel::cmdAnimImage_Click() {
    ChooseFirstFrame(
        mView.ChooseFile(PictureRequest("JPG Files (*.jpg)|*.jpg|PNG Files(*.png)|*.png")));
}

void WindowModel::ChooseFirstFrame(const std::string& path) {
    if (!path.empty()) {
        RecordChosen(path);
        mView.SetText(WindowControl::txtAnimImage, FileNameOf(path));
        // A numbered frame chosen in any folder gives the Preview its frames.
        if (const FrameSequence frames = FramesFrom(FileNameOf(path), {}); frames.numbered) {
            mPreviewFolder = FolderOf(path);
            mPreviewPrefix = frames.prefix;
            EnableFrames();
        }
    }
    mView.SetEnabled(WindowControl::cmdDZP, true);
}

void WindowModel::cmdThumb_Click() {
    ChooseThumbnail(mView.ChooseFile(PictureRequest("Image Files (*.jpg)|*.jpg|(*.png)|*.png")));
}

void WindowModel::ChooseThumbnail(const std::string& path) {
    if (path.empty()) {
        return;  // keep the previous choice; nothing to copy
    }
    RecordChosen(path);
    if (mProject.ExtractFolder.empty()) {
        Warn("Please extract the video into a folder first!");
        return;
    }
    mView.SetText(WindowControl::txtJPGThumb, FileNameOf(path));
    std::string error;
    if (!CopyThumbnail(path, mProject.ExtractFolder, error)) {
        // An empty box makes the build ask for a thumbnail again.
        mView.SetText(WindowControl::txtJPGThumb, "");
        Warn(error);
    }
}

void WindowModel::cmdPreview_Click() {
    if (RefusedWhileBusy() || mPreviewFolder.empty()) {
        return;
    }
    const FrameFiles found = FindFrameFiles(mPreviewFolder, mPreviewPrefix);
    if (found.names.empty()) {
        Warn("There are no frames in " + Shown(mPreviewFolder) + " any more.");
        return;
    }
    PreviewChoosers choosers;
    choosers.firstFrame = [this](const std::string& path) { ChooseFirstFrame(path); };
    choosers.thumbnail = [this](const std::string& path) { ChooseThumbnail(path); };
    PreviewModel dialog(mPreviewFolder, found.names, mView.Text(WindowControl::txtAnimImage),
                        std::move(choosers));
    mView.ShowPreviewDialog(dialog);
    dialog.Closing();
}

// ----- Build Particle ---------------------------------------------------------

void WindowModel::cmdDZP_Click() {
    mView.SetEnabled(WindowControl::Command3, true);
    if (RefusedWhileBusy()) {
        return;
    }
    mPreparingBuild = true;
    BuildParticle();
    mPreparingBuild = false;
}

void WindowModel::BuildParticle() {
    if (mProject.ExtractFolder.empty()) {
        Warn("Please extract the video into a folder first!");
        return;
    }

    const std::string particleName = mView.Text(WindowControl::txtParticleName);
    FileRequest request;
    request.kind = FileRequest::Kind::Save;
    request.filter = "DZP Files (*.dzp)|*.dzp";
    request.defaultExtension = "dzp";
    request.initialFileName = particleName;
    std::string packagePath = mView.ChooseFile(request);
    if (packagePath.empty()) {
        return;
    }
    CommonDialog1.FileName = packagePath;
    CommonDialog1.FileTitle = FileNameOf(packagePath);

    if (particleName.empty()) {
        Warn("Please Enter A Particle Name!");
        return;
    }
    if (mView.Text(WindowControl::txtJPGThumb).empty()) {
        Warn("Please Select A Thumbnail!");
        return;
    }
    const std::string type = mView.Text(WindowControl::cboType);
    if (type.empty() || type == "Select") {
        Warn("You must select the Type of Project!");
        return;
    }
    const std::string category = mView.Text(WindowControl::cboCat);
    if (category.empty() || category == "Select") {
        Warn("You must select a Category!");
        return;
    }

    mProject.PackageFolder = FolderOnEntry(PackageFolderOf(packagePath, CommonDialog1.FileTitle));
    // Removing every separator + name can also remove a folder of that name, so
    // the folder the package really goes to is checked as well.
    const std::string savedInto = FolderOnEntry(FolderOf(packagePath));
    if (mProject.PackageFolder == mProject.ProjectFolder ||
        mProject.PackageFolder == mProject.ExtractFolder || savedInto == mProject.ProjectFolder ||
        savedInto == mProject.ExtractFolder) {
        Warn(
            "You cannot create the Installation File in the Project Folder!\r\n"
            "Please Choose Another Destination Folder");
        return;
    }
    if (!IsFolder(mProject.ExtractFolder)) {
        Warn("The frames folder " + Shown(mProject.ExtractFolder) + " does not exist any more.");
        return;
    }
    if (IsFolder(packagePath) || NamesNoFile(packagePath)) {
        Warn(NamesFolderText(packagePath));
        return;
    }
    if (const std::string refusal = ReservedNameRefusal(WithPackageExtension(packagePath));
        !refusal.empty()) {
        Warn(refusal);
        return;
    }
    std::error_code absoluteError;
    const std::string packageDir = Utf8Of(
        std::filesystem::absolute(PlainPathFromUtf8(packagePath), absoluteError).parent_path());
    if (!IsFolder(packageDir)) {
        Warn("The folder " + Shown(packageDir) + " does not exist.");
        return;
    }

    // Entry names are stored in the host editor's 8-bit code page; refuse names
    // it cannot carry before anything is written.
    const std::string& framesFolder = mProject.ExtractFolder;
    const std::string firstFrame = mView.Text(WindowControl::txtAnimImage);
    if (const std::string refusal =
            UnstorableNamesRefusal({particleName, firstFrame}, framesFolder);
        !refusal.empty()) {
        Warn(refusal);
        return;
    }

    ProvideZipLibrary(mProject.PackageFolder);

    const TemplateWrite xml =
        WriteTemplateXml(framesFolder, TemplateXmlValues{type, category, particleName});
    if (!xml.ok) {
        Warn(xml.error);
        return;
    }
    const TemplateWrite clt =
        WriteTemplateClt(framesFolder, firstFrame, mProject.AnimationDuration);
    if (!clt.ok) {
        Warn(clt.error);
        return;
    }

    packagePath = WithPackageExtension(packagePath);
    if (FileExists(packagePath)) {
        // The old package stays until the new one has read back whole.
        if (!Confirmed("Overwrite Existing File?", MessageIcon::None)) {
            return;
        }
    }

    PackageSource source;
    source.folder = framesFolder;
    source.firstFrame = firstFrame;
    source.framePrefix = mExtractedPrefix;
    source.extractedFrames = mProject.FrameCount;
    source.maxFiles = mProject.MaxFiles;
    const QueueOutcome queued = QueuePackage(*mZipper, source, [this](int leftOut) {
        return Confirmed(
            std::to_string(leftOut) + " entries were left out because a folder holds more than " +
                std::to_string(mProject.MaxFiles) + " entries.\r\nBuild the package without them?",
            MessageIcon::Warning);
    });
    if (!queued.ok) {
        if (!queued.statusMessage.empty()) {
            SetStatus(queued.statusMessage);
        } else if (!queued.refusal.empty()) {
            Warn(queued.refusal);
        }
        return;
    }

    mView.SetVisible(WindowControl::ProgressBar1, true);
    mPending = std::make_unique<PendingPackage>(packagePath);
    if (mZipper->Zip(mPending->Path())) {
        mPending.reset();
        mView.SetVisible(WindowControl::ProgressBar1, false);
        SetStatus(PackingFailure());
        return;
    }
    mPending->Writing();
    EnableFrames();
    mView.StartTicks(mZipper->TickInterval());
}

void WindowModel::Tick() {
    if (!mZipper->Zipping()) {
        return;  // the run was ended by hand meanwhile
    }
    mZipper->Tick();
    if (mZipper->Zipping()) {
        mView.StartTicks(mZipper->TickInterval());
    }
}

std::string WindowModel::PackingFailure() const {
    std::string text = "Err " + std::to_string(mZipper->Result()) + " in " + mZipper->Failed();
    if (const std::string reason = mZipper->Reason(); !reason.empty()) {
        text += ": " + reason;
    }
    return text;
}

void WindowModel::Zipper_StartFile() {
    SetStatus("Packing " + mZipper->CurrentFile()->SourceFile);
    mView.RepaintStatus();
}

void WindowModel::Zipper_Progress() {
    if (mZipper->BytesToZip() > 0) {
        SetProgress(static_cast<float>(static_cast<double>(mZipper->BytesZipped()) /
                                       mZipper->BytesToZip() * 100.0));
    }
}

void WindowModel::Zipper_EndFile() {
    SetStatus("Packed " + mZipper->CurrentFile()->SourceFile);
    mView.RepaintStatus();
}

void WindowModel::Zipper_Error() {
    mPending.reset();
    SetStatus(PackingFailure());
    EnableFrames();
}

void WindowModel::Zipper_Complete(bool Canceled) {
    ReleaseZipLibrary(mProject.PackageFolder);
    // Read back before it counts as made. The window repaints meanwhile but takes
    // no clicks, so no second build can start on the package being read.
    // A cancelled run's shorter package never takes an old one's place.
    const PendingPackage::End end =
        mPending ? mPending->Finish(Canceled, [this] { mView.PumpEvents(false); })
                 : PendingPackage::End{"The package was not written."};
    const std::string target = mPending ? mPending->Target() : std::string();
    mPending.reset();
    if (!end.failure.empty()) {
        SetStatus(end.failure);
        Warn(end.failure);
    } else if (end.keptOld) {
        SetStatus("Canceled; " + OldPackageKeptText(target) + ".");
    } else if (Canceled) {
        SetStatus("Canceled");
    } else {
        SetStatus("Success");
        Inform("Success!");
    }
    mView.SetEnabled(WindowControl::Command3, false);
    mView.SetEnabled(WindowControl::cmdDZP, true);
    EnableFrames();
}

void WindowModel::Command3_Click() {
    if (mExtraction) {
        mExtraction->RequestStop();
        return;
    }
    mZipper->Cancel();
}

// ----- Window -------------------------------------------------------------------

void WindowModel::cmdExit_Click() {
    mView.CloseWindow();
}

void WindowModel::Picture1_Click() {
    mView.OpenUrl(std::string(kTemplatesPage));
}

void WindowModel::Image1_Click() {
    mView.OpenUrl(std::string(kDonationPage));
}

}  // namespace sparkloom
