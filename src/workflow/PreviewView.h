#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "workflow/FrameDecoder.h"
#include "workflow/PreviewLayout.h"

namespace sparkloom {

// One cell of the strip of small frames.
struct StripCell {
    int32_t frame = -1;  // the frame it shows; -1 for a cell beyond either end
    std::shared_ptr<const DecodedPicture> picture;  // null until decoded
    bool current = false;                           // the frame the big picture shows
};

// What the "Preview" dialog's workflow needs of a toolkit. The toolkit builds
// the controls from kPreviewLayout, calls PreviewModel::Open with itself and
// its FrameDecoder, forwards the buttons, the slider, the keys and the strip's
// clicks, and runs modally until EndDialog.
class PreviewView {
public:
    virtual ~PreviewView() = default;

    // A steady clock in milliseconds: what "on time" is measured with.
    virtual int64_t Milliseconds() const = 0;
    // What the big picture and a strip cell show a frame in, in pixels as the
    // screen has them: the decodes are scaled to fit these.
    virtual PixelSize PictureArea() const = 0;
    virtual PixelSize StripCellArea() const = 0;

    // The big picture; null leaves it blank. The view keeps it until the next.
    virtual void ShowPicture(std::shared_ptr<const DecodedPicture> picture) = 0;
    // kPreviewStripCells cells, left to right.
    virtual void SetStrip(const std::vector<StripCell>& cells) = 0;
    // The slider's range is 0 to last; setting it is no move of the user's.
    virtual void SetSlider(int32_t last, int32_t position) = 0;
    // A label's or a button's text.
    virtual void SetText(PreviewControl control, const std::string& text) = 0;
    virtual void SetEnabled(PreviewControl control, bool enabled) = 0;
    // Calls the model's Tick() once, after milliseconds (0: as soon as the
    // events waiting are served); a second call before then reschedules it.
    // The dialog keeps serving events meanwhile.
    virtual void StartTicks(int milliseconds) = 0;
    // A warning box over the dialog; the dialog stays open.
    virtual void ShowWarning(const std::string& text) = 0;
    // Closes the dialog; the toolkit's call that showed it returns.
    virtual void EndDialog() = 0;
};

}  // namespace sparkloom
