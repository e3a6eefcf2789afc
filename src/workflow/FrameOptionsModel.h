#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/TempFolder.h"
#include "extract/ClipFacts.h"
#include "extract/Extraction.h"
#include "workflow/FrameOptionsView.h"
#include "workflow/FrameSamples.h"

namespace sparkloom {

// The rate, width and quality kept for the user between runs, as the dialog's
// texts; "" for none. They fill the dialog, and apply only once OK is pressed.
struct RememberedFrames {
    std::string rate;
    std::string width;
    std::string quality;
};

// What the dialog's estimate says, and what it is made of.
struct FramesEstimate {
    std::string refusal;  // why the choice cannot be used; "" when it can
    int32_t frames = 0;   // as ExpectedFrames tells; 0 when the clip's length is unknown
    int width = 0;        // of each frame written
    int height = 0;
    std::optional<int64_t> bytes;       // the frames' size, once the samples are encoded
    std::optional<int64_t> frameBytes;  // one frame's share of the package
    bool sizeUnknown = false;           // ffmpeg could not encode the samples
    std::string overRoom;               // which room is passed and by how much; "" when it fits
    std::string Line() const;           // the line the dialog shows
    bool Fits() const { return refusal.empty() && overRoom.empty(); }
};

// The estimate for options on a clip: the frames from its facts, their size
// from measure when there is one (else still being measured).
FramesEstimate EstimateOf(const ClipFacts& facts, const FrameOptions& options, int32_t frameRoom,
                          const SampleMeasure* measure);
// The same with the samples measured first, waiting for them: the converter's
// --estimate. The options must be ones FrameOptionsRefusal lets through.
FramesEstimate MeasureEstimate(const std::string& video, const ClipFacts& facts,
                               const FrameOptions& options, int32_t frameRoom,
                               const std::function<bool()>& stop = {});

// The "Frames…" dialog's workflow: the choices offered, their checks (the
// converter's own), the live estimate with its sample encodes in the
// background, Fit, OK and Cancel. A view draws it; see FrameOptionsView.
class FrameOptionsModel {
public:
    // facts: the clip's, read when it was chosen. chosen: the options in force
    // for this video; when none are, remembered fills the dialog instead.
    // frameRoom: the frames one package takes.
    FrameOptionsModel(std::string videoFile, ClipFacts facts, const FrameOptions& chosen,
                      RememberedFrames remembered, int32_t frameRoom);
    ~FrameOptionsModel();
    FrameOptionsModel(const FrameOptionsModel&) = delete;
    FrameOptionsModel& operator=(const FrameOptionsModel&) = delete;

    // Fills the built dialog and starts the first estimate.
    void Open(FrameOptionsView& view);
    // The user changed a box's text or picked an entry.
    void Changed(FramesControl control);
    // A button: cmdFit, cmdOK or cmdCancel.
    void Click(FramesControl control);
    // The view's poll, as StartPolls asked for it.
    void Poll();
    // The dialog goes without OK (its close box, Escape): as Cancel.
    void Closing();

    bool Accepted() const { return mAccepted; }
    // The options chosen, once Accepted.
    const FrameOptions& Chosen() const { return mChosen; }
    // The dialog's rate, width and quality texts, to remember once Accepted.
    RememberedFrames ToRemember() const;
    const FramesEstimate& Estimate() const { return mEstimate; }

    struct Sampling;
    struct Decoded;

private:
    // The options the dialog's texts give, or why they cannot be used.
    FrameOptions ReadChoice(std::string& refusal) const;
    void Update();
    void StartSampling();
    void StopSampling();
    void ShowEstimate();

    std::string mVideo;
    ClipFacts mFacts;
    FrameOptions mChosen;
    RememberedFrames mRemembered;
    FrameOptions mInitial;
    int32_t mFrameRoom;
    FrameOptionsView* mView = nullptr;
    FramesEstimate mEstimate;
    FrameOptions mOptions;  // those the estimate shows
    // Declared before the sampling, which writes into them until it is stopped.
    std::unique_ptr<TempFolder> mFolder;
    std::unique_ptr<Decoded> mDecoded;
    std::unique_ptr<Sampling> mSampling;
    bool mAccepted = false;
};

// The status line for options in force: "Frames: 30 a second, 1280 wide, from
// 0:05 for 0:20"; "" when none are.
std::string FramesStatusText(const FrameOptions& options);
// The notice for a clip the host plays at another pace; "" when it keeps its pace.
std::string ClipPaceNotice(const ClipFacts& facts);

}  // namespace sparkloom
