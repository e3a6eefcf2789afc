#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "workflow/FrameDecoder.h"
#include "workflow/PreviewView.h"

namespace sparkloom {

// What "Use as first frame" and "Use as thumbnail" do with a frame's full
// path: the window's own choosers, as their Browse buttons do once the file
// dialog has closed.
struct PreviewChoosers {
    std::function<void(const std::string& path)> firstFrame;
    std::function<void(const std::string& path)> thumbnail;
};

enum class PreviewKey { Left, Right, PageUp, PageDown, Home, End };

// How playback kept pace: a frame is on time when it was shown while it was
// still the one due.
struct PlaybackCounts {
    int64_t due = 0;     // frames whose time came while playing
    int64_t onTime = 0;  // of those, shown in their time
};

// The "Preview" dialog's workflow: which frame shows when, at the host's 30 a
// second, looping back to the first frame; stepping and scrubbing; which
// frames to decode ahead and which to drop, within a bound of memory; and the
// two choices it hands to the window. A view draws it; see PreviewView.
class PreviewModel {
public:
    static constexpr int kFramesPerSecond = 30;
    static constexpr int64_t kDefaultCacheBytes = int64_t{96} << 20;
    // Decodes running at once: one a core of a small machine.
    static constexpr int kDecodesAtOnce = 2;

    // folder: the frames' folder; frames: their names, in play order;
    // firstFrame: the chosen first frame's name, "" or a name not among them
    // for none. cacheBytes bounds the decoded pictures kept.
    PreviewModel(std::string folder, std::vector<std::string> frames, const std::string& firstFrame,
                 PreviewChoosers choosers, int64_t cacheBytes = kDefaultCacheBytes);
    ~PreviewModel();
    PreviewModel(const PreviewModel&) = delete;
    PreviewModel& operator=(const PreviewModel&) = delete;

    // Fills the built dialog, shows the first frame and starts decoding.
    void Open(PreviewView& view, FrameDecoder& decoder);
    // A button: cmdPlay, cmdFirstFrame, cmdThumbnail or cmdClose.
    void Click(PreviewControl control);
    // The user moved the slider to frame.
    void SliderMoved(int32_t frame);
    void Key(PreviewKey key);
    // A click on the strip's cell, 0 to kPreviewStripCells - 1.
    void StripClicked(int cell);
    // A decode started by this model has finished.
    void Decoded(DecodeResult result);
    // The view's tick, as StartTicks asked for it.
    void Tick();
    // The dialog goes (its close box, Escape): nothing more is started.
    void Closing();

    int32_t FrameCount() const { return static_cast<int32_t>(mFrames.size()); }
    // The frame the big picture stands at.
    int32_t Current() const { return mCurrent; }
    // Where playing starts and where it loops back to.
    int32_t LoopStart() const { return mLoopStart; }
    bool Playing() const { return mPlaying; }
    const PlaybackCounts& Counts() const { return mCounts; }
    // Decoded pictures kept, big and small.
    int64_t CachedBytes() const { return mCachedBytes; }
    bool Cached(int32_t frame, bool strip) const;
    // The frame's full path.
    std::string PathOf(int32_t frame) const;
    // "Fire_00120.jpg, 0:03.97 of 0:40.00": the name and its time in the host.
    std::string FrameLine(int32_t frame) const;

private:
    struct Slot {
        int32_t frame;
        bool strip;
        bool operator<(const Slot& other) const {
            return strip != other.strip ? strip < other.strip : frame < other.frame;
        }
    };
    struct Entry {
        std::shared_ptr<const DecodedPicture> picture;  // null: could not be read
        int64_t bytes = 0;
        std::string error;
    };

    void GoTo(int32_t frame);
    void SetPlaying(bool playing);
    // Shows the current frame's picture when it is decoded; true then.
    bool ShowCurrent();
    void ShowStrip();
    // What should be kept decoded now, most needed first.
    std::vector<Slot> Wanted() const;
    void DropUnwanted(const std::vector<Slot>& wanted);
    void StartDecodes();
    void ScheduleTick();
    int32_t Next(int32_t frame, int32_t steps) const;
    int32_t StripFrame(int cell) const;

    std::string mFolder;
    std::vector<std::string> mFrames;
    PreviewChoosers mChoosers;
    int64_t mCacheBytes;
    PreviewView* mView = nullptr;
    FrameDecoder* mDecoder = nullptr;
    bool mClosed = false;

    int32_t mCurrent = 0;
    int32_t mLoopStart = 0;
    bool mPlaying = false;
    // Playing: frame mAnchorFrame was due at mAnchorTime; each next one a
    // 30th of a second later.
    int64_t mAnchorTime = 0;
    int32_t mAnchorFrame = 0;
    int64_t mStepsShown = 0;  // steps from the anchor already due
    PlaybackCounts mCounts;

    std::map<Slot, Entry> mCache;
    std::map<Slot, int64_t> mRunning;  // and when each started
    // How long the last picture took: playing asks for none due sooner.
    int64_t mDecodeMs = 0;
    int64_t mCachedBytes = 0;
    // The last decoded size of each kind: what a frame not yet decoded will take.
    int64_t mPictureBytes = 0;
    int64_t mStripBytes = 0;
    std::shared_ptr<const DecodedPicture> mShown;
    int32_t mShownFrame = -1;
};

// m:ss.hh, the way the dialog tells a time in the host.
std::string HostTimeText(int32_t frames);

}  // namespace sparkloom
