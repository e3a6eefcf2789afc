#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QThreadPool>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string_view>

#include "workflow/FrameDecoder.h"
#include "workflow/PreviewView.h"

class QSlider;

namespace sparkloom {

class PreviewModel;
class FrameCanvas;
class StripCanvas;

// A frame as Qt decoded it.
class QtPicture : public DecodedPicture {
public:
    explicit QtPicture(QImage decoded) : image(std::move(decoded)) {}
    QImage image;
};

// QImageReader on a pool of its own, scaled while decoding; each result comes
// back to the window's thread through the event queue.
class QtFrameDecoder : public QObject, public FrameDecoder {
    Q_OBJECT
public:
    explicit QtFrameDecoder(std::function<void(DecodeResult)> deliver);
    ~QtFrameDecoder() override;
    void Start(const DecodeRequest& request) override;

    // The decode itself, on any thread.
    static DecodeResult Decode(const DecodeRequest& request);

private:
    std::function<void(DecodeResult)> mDeliver;
    QThreadPool mPool;
};

// The "Preview" dialog drawn with Qt from its layout table; the buttons, the
// slider, the keys and the strip's clicks go to the model.
class PreviewDialog : public QDialog, private PreviewView {
    Q_OBJECT
public:
    PreviewDialog(PreviewModel& model, QWidget* parent);
    ~PreviewDialog() override;

    void reject() override;

private:
    QWidget* Widget(PreviewControl control) const;
    int64_t Milliseconds() const override;
    PixelSize PictureArea() const override;
    PixelSize StripCellArea() const override;
    void ShowPicture(std::shared_ptr<const DecodedPicture> picture) override;
    void SetStrip(const std::vector<StripCell>& cells) override;
    void SetSlider(int32_t last, int32_t position) override;
    void SetText(PreviewControl control, const std::string& text) override;
    void SetEnabled(PreviewControl control, bool enabled) override;
    void StartTicks(int milliseconds) override;
    void ShowWarning(const std::string& text) override;
    void EndDialog() override;

    PreviewModel& mModel;
    std::map<std::string_view, QWidget*> mControls;
    FrameCanvas* mPicture = nullptr;
    StripCanvas* mStrip = nullptr;
    QSlider* mSlider = nullptr;
    QTimer mTick;
    QElapsedTimer mClock;
    bool mSetting = false;
    bool mEnding = false;
    // Last, so it goes first: its running decodes end before the rest does.
    std::unique_ptr<QtFrameDecoder> mDecoder;
};

}  // namespace sparkloom
