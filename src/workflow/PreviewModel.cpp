#include "workflow/PreviewModel.h"

#include <algorithm>
#include <cstdio>

#include "common/Text.h"

namespace sparkloom {

namespace {

// Frames decoded ahead before the strip's: a few frames' slack for playing.
constexpr int32_t kUrgentAhead = 6;
// At most two seconds ahead: enough to ride out a slow decode, no more.
constexpr int32_t kMostAhead = 2 * PreviewModel::kFramesPerSecond;
// The strip's cells are this many frames apart: its seven span a second.
constexpr int32_t kStripStride = 5;

// When step s after the anchor falls due, rounded up to the millisecond.
int64_t StepTime(int64_t step) {
    return (step * 1000 + PreviewModel::kFramesPerSecond - 1) / PreviewModel::kFramesPerSecond;
}

}  // namespace

std::string HostTimeText(int32_t frames) {
    const int64_t hundredths = (int64_t{frames} * 100 * 2 + PreviewModel::kFramesPerSecond) /
                               (2 * PreviewModel::kFramesPerSecond);
    char text[32];
    std::snprintf(
        text, sizeof text, "%lld:%02lld.%02lld", static_cast<long long>(hundredths / 6000),
        static_cast<long long>(hundredths / 100 % 60), static_cast<long long>(hundredths % 100));
    return text;
}

PreviewModel::PreviewModel(std::string folder, std::vector<std::string> frames,
                           const std::string& firstFrame, PreviewChoosers choosers,
                           int64_t cacheBytes)
    : mFolder(std::move(folder)),
      mFrames(std::move(frames)),
      mChoosers(std::move(choosers)),
      mCacheBytes(cacheBytes) {
    const auto chosen = std::find(mFrames.begin(), mFrames.end(), firstFrame);
    mLoopStart = chosen == mFrames.end() ? 0 : static_cast<int32_t>(chosen - mFrames.begin());
    mCurrent = mLoopStart;
}

PreviewModel::~PreviewModel() = default;

std::string PreviewModel::PathOf(int32_t frame) const {
    return Utf8Of(PlainPathFromUtf8(mFolder) / PlainPathFromUtf8(mFrames.at(frame)));
}

std::string PreviewModel::FrameLine(int32_t frame) const {
    return mFrames.at(frame) + ", " + HostTimeText(frame) + " of " + HostTimeText(FrameCount());
}

bool PreviewModel::Cached(int32_t frame, bool strip) const {
    return mCache.contains(Slot{frame, strip});
}

void PreviewModel::Open(PreviewView& view, FrameDecoder& decoder) {
    mView = &view;
    mDecoder = &decoder;
    if (mFrames.empty()) {
        mView->SetEnabled(PreviewControl::cmdPlay, false);
        return;
    }
    mView->SetText(PreviewControl::cmdPlay, std::string(kPlayCaption));
    mView->SetEnabled(PreviewControl::cmdFirstFrame, true);
    mView->SetEnabled(PreviewControl::cmdThumbnail, true);
    GoTo(mCurrent);
}

// ----- What the user does ------------------------------------------------------

void PreviewModel::Click(PreviewControl control) {
    if (mClosed) {
        return;
    }
    switch (control) {
        case PreviewControl::cmdPlay:
            if (!mFrames.empty()) {
                SetPlaying(!mPlaying);
            }
            break;
        case PreviewControl::cmdFirstFrame:
        case PreviewControl::cmdThumbnail: {
            if (mFrames.empty()) {
                break;
            }
            // What is picked is what stands still on the screen.
            SetPlaying(false);
            const std::string path = PathOf(mCurrent);
            if (control == PreviewControl::cmdFirstFrame) {
                mLoopStart = mCurrent;  // the host starts there now, and loops back there
                mChoosers.firstFrame(path);
            } else {
                mChoosers.thumbnail(path);
            }
            break;
        }
        case PreviewControl::cmdClose:
            Closing();
            mView->EndDialog();
            break;
        default:
            break;
    }
}

void PreviewModel::SliderMoved(int32_t frame) {
    if (!mClosed && !mFrames.empty()) {
        GoTo(frame);
    }
}

void PreviewModel::Key(PreviewKey key) {
    if (mClosed || mFrames.empty()) {
        return;
    }
    switch (key) {
        case PreviewKey::Left:
            GoTo(mCurrent - 1);
            break;
        case PreviewKey::Right:
            GoTo(mCurrent + 1);
            break;
        case PreviewKey::PageUp:
            GoTo(mCurrent - kFramesPerSecond);
            break;
        case PreviewKey::PageDown:
            GoTo(mCurrent + kFramesPerSecond);
            break;
        case PreviewKey::Home:
            GoTo(0);
            break;
        case PreviewKey::End:
            GoTo(FrameCount() - 1);
            break;
    }
}

void PreviewModel::StripClicked(int cell) {
    if (mClosed || mFrames.empty() || cell < 0 || cell >= kPreviewStripCells) {
        return;
    }
    if (const int32_t frame = StripFrame(cell); frame >= 0) {
        GoTo(frame);
    }
}

void PreviewModel::Closing() {
    if (mClosed) {
        return;
    }
    mClosed = true;
    mPlaying = false;
    // The pictures go with the dialog; decodes still running are dropped on arrival.
    mCache.clear();
    mCachedBytes = 0;
    mShown.reset();
}

// ----- Playing -------------------------------------------------------------------

int32_t PreviewModel::Next(int32_t frame, int32_t steps) const {
    const int64_t ahead = int64_t{frame} + steps;
    if (ahead < FrameCount()) {
        return static_cast<int32_t>(ahead);
    }
    // Past the last frame the host starts again at the first frame.
    const int64_t loop = FrameCount() - mLoopStart;
    return static_cast<int32_t>(mLoopStart + (ahead - FrameCount()) % loop);
}

void PreviewModel::SetPlaying(bool playing) {
    mPlaying = playing;
    mView->SetText(PreviewControl::cmdPlay, std::string(playing ? kPauseCaption : kPlayCaption));
    if (playing) {
        mAnchorTime = mView->Milliseconds();
        mAnchorFrame = mCurrent;
        mStepsShown = 0;
    }
    DropUnwanted(Wanted());
    StartDecodes();
    ScheduleTick();
}

void PreviewModel::GoTo(int32_t frame) {
    mCurrent = std::clamp(frame, 0, FrameCount() - 1);
    if (mPlaying) {
        // Playing goes on from the frame gone to.
        mAnchorTime = mView->Milliseconds();
        mAnchorFrame = mCurrent;
        mStepsShown = 0;
    }
    mView->SetSlider(FrameCount() - 1, mCurrent);
    ShowCurrent();
    ShowStrip();
    DropUnwanted(Wanted());
    StartDecodes();
    ScheduleTick();
}

void PreviewModel::Tick() {
    if (mClosed || mFrames.empty() || !mPlaying) {
        return;
    }
    const int64_t step = (mView->Milliseconds() - mAnchorTime) * kFramesPerSecond / 1000;
    if (step > mStepsShown) {
        // Frames whose time passed between two ticks were due and never shown.
        mCounts.due += step - mStepsShown;
        mStepsShown = step;
        mCurrent = Next(mAnchorFrame, static_cast<int32_t>(step % (int64_t{1} << 30)));
        mView->SetSlider(FrameCount() - 1, mCurrent);
        if (ShowCurrent()) {
            ++mCounts.onTime;
        }
        ShowStrip();
        DropUnwanted(Wanted());
        StartDecodes();
    }
    ScheduleTick();
}

void PreviewModel::ScheduleTick() {
    if (!mPlaying || mClosed) {
        return;
    }
    const int64_t wait = mAnchorTime + StepTime(mStepsShown + 1) - mView->Milliseconds();
    mView->StartTicks(static_cast<int>(std::max<int64_t>(0, wait)));
}

// ----- Showing -------------------------------------------------------------------

bool PreviewModel::ShowCurrent() {
    mView->SetText(PreviewControl::lblFrame, FrameLine(mCurrent));
    const auto cached = mCache.find(Slot{mCurrent, false});
    if (cached == mCache.end()) {
        return false;  // the last picture stays until this one is decoded
    }
    if (!cached->second.error.empty()) {
        mView->SetText(PreviewControl::lblFrame, FrameLine(mCurrent) + ": " + cached->second.error);
    }
    mShownFrame = mCurrent;
    mShown = cached->second.picture;
    mView->ShowPicture(mShown);
    return true;
}

int32_t PreviewModel::StripFrame(int cell) const {
    // The cells stand still while the frame moves within one of them, so
    // playing decodes one new small frame a stride, not seven a frame.
    const int32_t base = mCurrent - mCurrent % kStripStride;
    const int64_t frame = int64_t{base} + int64_t{cell - kPreviewStripCells / 2} * kStripStride;
    return frame < 0 || frame >= FrameCount() ? -1 : static_cast<int32_t>(frame);
}

void PreviewModel::ShowStrip() {
    std::vector<StripCell> cells(kPreviewStripCells);
    for (int cell = 0; cell < kPreviewStripCells; ++cell) {
        cells[cell].frame = StripFrame(cell);
        cells[cell].current = cell == kPreviewStripCells / 2;
        if (const auto cached = mCache.find(Slot{cells[cell].frame, true});
            cells[cell].frame >= 0 && cached != mCache.end()) {
            cells[cell].picture = cached->second.picture;
        }
    }
    mView->SetStrip(cells);
}

// ----- Decoding ahead ------------------------------------------------------------

std::vector<PreviewModel::Slot> PreviewModel::Wanted() const {
    std::vector<Slot> wanted;
    if (mFrames.empty() || mClosed) {
        return wanted;
    }
    const auto add = [&wanted](Slot slot) {
        if (slot.frame >= 0 &&
            std::none_of(wanted.begin(), wanted.end(), [&slot](const Slot& other) {
                return other.frame == slot.frame && other.strip == slot.strip;
            })) {
            wanted.push_back(slot);
        }
    };
    const int32_t most = std::min(kMostAhead, FrameCount() - 1);
    // Before any picture's size is known only the nearest are asked for.
    const int64_t stripBytes = int64_t{mStripBytes} * kPreviewStripCells;
    const int64_t room =
        mPictureBytes > 0 ? (mCacheBytes - stripBytes) / mPictureBytes - 1 : kUrgentAhead;
    const int32_t ahead = static_cast<int32_t>(std::clamp<int64_t>(room, 0, most));
    // Playing, a frame whose time ends before its decode could would come too
    // late: those already there are kept, no others asked for.
    int32_t lead = 0;
    const int64_t now = mView->Milliseconds();
    while (mPlaying && lead < ahead &&
           mAnchorTime + StepTime(mStepsShown + lead + 1) <= now + mDecodeMs) {
        const Slot late{Next(mCurrent, lead++), false};
        if (mCache.contains(late) || mRunning.contains(late)) {
            add(late);
        }
    }
    for (int32_t step = lead; step <= std::min(ahead, lead + kUrgentAhead); ++step) {
        add({Next(mCurrent, step), false});
    }
    // The strip from the middle outwards.
    for (int offset = 0; offset <= kPreviewStripCells / 2; ++offset) {
        add({StripFrame(kPreviewStripCells / 2 + offset), true});
        add({StripFrame(kPreviewStripCells / 2 - offset), true});
    }
    if (mPlaying) {
        for (int32_t step = lead + kUrgentAhead + 1; step <= ahead; ++step) {
            add({Next(mCurrent, step), false});
        }
    } else if (ahead > kUrgentAhead && mCurrent > 0) {
        add({mCurrent - 1, false});  // a step back
    }
    return wanted;
}

void PreviewModel::DropUnwanted(const std::vector<Slot>& wanted) {
    for (auto entry = mCache.begin(); entry != mCache.end();) {
        const Slot& slot = entry->first;
        if (std::none_of(wanted.begin(), wanted.end(), [&slot](const Slot& other) {
                return other.frame == slot.frame && other.strip == slot.strip;
            })) {
            mCachedBytes -= entry->second.bytes;
            entry = mCache.erase(entry);
        } else {
            ++entry;
        }
    }
}

void PreviewModel::StartDecodes() {
    if (mClosed || mDecoder == nullptr) {
        return;
    }
    for (const Slot& slot : Wanted()) {
        if (static_cast<int>(mRunning.size()) >= kDecodesAtOnce) {
            break;
        }
        if (mCache.contains(slot) || mRunning.contains(slot)) {
            continue;
        }
        mRunning.emplace(slot, mView->Milliseconds());
        DecodeRequest request;
        request.frame = slot.frame;
        request.strip = slot.strip;
        request.path = PathOf(slot.frame);
        request.fit = slot.strip ? mView->StripCellArea() : mView->PictureArea();
        mDecoder->Start(request);
    }
}

void PreviewModel::Decoded(DecodeResult result) {
    const Slot slot{result.frame, result.strip};
    const auto running = mRunning.find(slot);
    if (running == mRunning.end()) {
        return;  // not asked for by this model
    }
    const int64_t took = mView->Milliseconds() - running->second;
    if (mClosed) {
        mRunning.erase(running);
        return;
    }
    if (!slot.strip && result.picture) {
        mDecodeMs = took;
    }
    if (result.picture) {
        (result.strip ? mStripBytes : mPictureBytes) = result.bytes;
    }
    // Asked while it is still running: a frame too near to ask for now is
    // kept once it is here.
    const std::vector<Slot> wanted = Wanted();
    mRunning.erase(running);
    const bool stillWanted = std::any_of(wanted.begin(), wanted.end(), [&slot](const Slot& other) {
        return other.frame == slot.frame && other.strip == slot.strip;
    });
    if (stillWanted && !mCache.contains(slot)) {
        Entry entry;
        entry.picture = std::move(result.picture);
        entry.bytes = entry.picture ? result.bytes : 0;
        entry.error = entry.picture ? std::string() : result.error;
        mCachedBytes += entry.bytes;
        mCache.emplace(slot, std::move(entry));
        if (!slot.strip && slot.frame == mCurrent && mShownFrame != mCurrent) {
            // Late, but still within its time while playing: that counts.
            const bool inTime =
                mPlaying &&
                (mView->Milliseconds() - mAnchorTime) * kFramesPerSecond / 1000 == mStepsShown;
            if (ShowCurrent() && inTime && mStepsShown > 0) {
                ++mCounts.onTime;
            }
        } else if (slot.strip) {
            ShowStrip();
        }
    }
    // A new size known may let more, or fewer, frames be kept.
    DropUnwanted(Wanted());
    StartDecodes();
}

}  // namespace sparkloom
