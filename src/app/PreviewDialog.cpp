#include "app/PreviewDialog.h"

#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>

#include "app/LayoutControls.h"
#include "app/QtText.h"
#include "workflow/PreviewModel.h"

namespace sparkloom {

namespace {

const QImage* ImageOf(const std::shared_ptr<const DecodedPicture>& picture) {
    const auto* decoded = dynamic_cast<const QtPicture*>(picture.get());
    return decoded == nullptr ? nullptr : &decoded->image;
}

// image drawn as large as fits in box, its aspect kept, centred.
void DrawFitted(QPainter& painter, const QImage& image, const QRect& box) {
    const QSize size = image.size().scaled(box.size(), Qt::KeepAspectRatio);
    const QRect target(box.x() + (box.width() - size.width()) / 2,
                       box.y() + (box.height() - size.height()) / 2, size.width(), size.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
}

constexpr int kCellGap = 4;

}  // namespace

// ----- The decoder ---------------------------------------------------------------

QtFrameDecoder::QtFrameDecoder(std::function<void(DecodeResult)> deliver)
    : mDeliver(std::move(deliver)) {
    // One thread a core: the model keeps no more decodes running than that.
    mPool.setMaxThreadCount(PreviewModel::kDecodesAtOnce);
}

QtFrameDecoder::~QtFrameDecoder() {
    // Results still queued are dropped with this object, their context.
    mPool.waitForDone();
}

DecodeResult QtFrameDecoder::Decode(const DecodeRequest& request) {
    DecodeResult result;
    result.frame = request.frame;
    result.strip = request.strip;
    QImageReader reader(ToQt(request.path));
    const QSize full = reader.size();
    if (full.isValid() && request.fit.width > 0 && request.fit.height > 0) {
        const QSize fitted =
            full.scaled(request.fit.width, request.fit.height, Qt::KeepAspectRatio);
        if (fitted.width() < full.width()) {
            // libjpeg decodes at an eighth, a quarter or a half: fewer pixels read.
            reader.setScaledSize(fitted);
        }
    }
    QImage image = reader.read();
    if (image.isNull()) {
        result.error = ToUtf8(reader.errorString());
        return result;
    }
    result.bytes = image.sizeInBytes();
    result.picture = std::make_shared<QtPicture>(std::move(image));
    return result;
}

void QtFrameDecoder::Start(const DecodeRequest& request) {
    mPool.start([this, request] {
        DecodeResult result = Decode(request);
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)]() mutable { mDeliver(std::move(result)); },
            Qt::QueuedConnection);
    });
}

// ----- The two canvases ------------------------------------------------------------

class FrameCanvas : public QWidget {
public:
    using QWidget::QWidget;
    std::shared_ptr<const DecodedPicture> picture;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        if (const QImage* image = ImageOf(picture)) {
            DrawFitted(painter, *image, rect());
        }
    }
};

class StripCanvas : public QWidget {
public:
    using QWidget::QWidget;
    std::vector<StripCell> cells;
    std::function<void(int cell)> clicked;

    QRect Cell(int cell) const {
        const int width = this->width() / kPreviewStripCells;
        return QRect(cell * width, 0, width, height())
            .adjusted(kCellGap, kCellGap, -kCellGap, -kCellGap);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Dark));
        for (int cell = 0; cell < static_cast<int>(cells.size()); ++cell) {
            const QRect box = Cell(cell);
            if (cells[cell].frame < 0) {
                continue;
            }
            painter.fillRect(box, Qt::black);
            if (const QImage* image = ImageOf(cells[cell].picture)) {
                DrawFitted(painter, *image, box);
            }
            if (cells[cell].current) {
                painter.setPen(QPen(palette().color(QPalette::Highlight), 3));
                painter.drawRect(box.adjusted(-2, -2, 1, 1));
            }
        }
    }
    void mousePressEvent(QMouseEvent* event) override {
        const int width = this->width() / kPreviewStripCells;
        if (event->button() == Qt::LeftButton && width > 0 && clicked) {
            clicked(static_cast<int>(event->position().x()) / width);
        }
    }
};

// ----- The dialog --------------------------------------------------------------------

PreviewDialog::PreviewDialog(PreviewModel& model, QWidget* parent)
    : QDialog(parent), mModel(model) {
    const QFont windowFont = DressLayoutWindow(this, "PreviewDialog", kPreviewCaption,
                                               kPreviewClientWidthTwips, kPreviewClientHeightTwips);

    for (const ControlLayout& layout : kPreviewLayout) {
        QWidget* control = nullptr;
        if (layout.name == NameOf(PreviewControl::picFrame)) {
            control = mPicture = new FrameCanvas(this);
        } else if (layout.name == NameOf(PreviewControl::picStrip)) {
            control = mStrip = new StripCanvas(this);
            mStrip->setCursor(Qt::PointingHandCursor);
            mStrip->clicked = [this](int cell) { mModel.StripClicked(cell); };
        } else if (layout.kind == ControlLayout::Kind::Slider) {
            control = mSlider = new QSlider(Qt::Horizontal, this);
            connect(mSlider, &QSlider::valueChanged, this, [this](int value) {
                if (!mSetting) {
                    mModel.SliderMoved(value);
                }
            });
        } else {
            control = MakeControl(layout, this, windowFont);
        }
        control->setObjectName(ToQt(layout.name));
        control->setGeometry(Twips(layout));
        control->setEnabled(layout.enabled);
        if (!layout.toolTip.empty()) {
            control->setToolTip(ToQt(layout.toolTip));
        }
        mControls.emplace(layout.name, control);
        if (auto* button = qobject_cast<QPushButton*>(control)) {
            auto which = PreviewControl::cmdClose;
            for (int c = 0; c < static_cast<int>(kPreviewLayout.size()); ++c) {
                if (NameOf(static_cast<PreviewControl>(c)) == layout.name) {
                    which = static_cast<PreviewControl>(c);
                }
            }
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, [this, which] { mModel.Click(which); });
        }
    }

    // The keys step the frames wherever the focus is, the slider included,
    // which would take Page Up forwards.
    const std::pair<QKeySequence, PreviewKey> keys[] = {
        {Qt::Key_Left, PreviewKey::Left},     {Qt::Key_Right, PreviewKey::Right},
        {Qt::Key_PageUp, PreviewKey::PageUp}, {Qt::Key_PageDown, PreviewKey::PageDown},
        {Qt::Key_Home, PreviewKey::Home},     {Qt::Key_End, PreviewKey::End}};
    for (const auto& [sequence, key] : keys) {
        auto* shortcut = new QShortcut(sequence, this);
        connect(shortcut, &QShortcut::activated, this, [this, key = key] { mModel.Key(key); });
    }

    mTick.setSingleShot(true);
    mTick.setTimerType(Qt::PreciseTimer);
    connect(&mTick, &QTimer::timeout, this, [this] { mModel.Tick(); });
    mClock.start();
    mDecoder = std::make_unique<QtFrameDecoder>(
        [this](DecodeResult result) { mModel.Decoded(std::move(result)); });
    mModel.Open(*this, *mDecoder);
}

PreviewDialog::~PreviewDialog() {
    mDecoder.reset();
}

QWidget* PreviewDialog::Widget(PreviewControl control) const {
    return mControls.at(NameOf(control));
}

int64_t PreviewDialog::Milliseconds() const {
    return mClock.elapsed();
}

PixelSize PreviewDialog::PictureArea() const {
    const qreal scale = devicePixelRatioF();
    return {static_cast<int>(mPicture->width() * scale),
            static_cast<int>(mPicture->height() * scale)};
}

PixelSize PreviewDialog::StripCellArea() const {
    const qreal scale = devicePixelRatioF();
    const QRect cell = mStrip->Cell(0);
    return {static_cast<int>(cell.width() * scale), static_cast<int>(cell.height() * scale)};
}

void PreviewDialog::ShowPicture(std::shared_ptr<const DecodedPicture> picture) {
    mPicture->picture = std::move(picture);
    mPicture->update();
}

void PreviewDialog::SetStrip(const std::vector<StripCell>& cells) {
    mStrip->cells = cells;
    mStrip->update();
}

void PreviewDialog::SetSlider(int32_t last, int32_t position) {
    mSetting = true;
    mSlider->setRange(0, last);
    mSlider->setPageStep(PreviewModel::kFramesPerSecond);
    mSlider->setValue(position);
    mSetting = false;
}

void PreviewDialog::SetText(PreviewControl control, const std::string& text) {
    SetTextOf(Widget(control), text);
}

void PreviewDialog::SetEnabled(PreviewControl control, bool enabled) {
    Widget(control)->setEnabled(enabled);
}

void PreviewDialog::StartTicks(int milliseconds) {
    mTick.start(milliseconds);
}

void PreviewDialog::ShowWarning(const std::string& text) {
    QMessageBox::warning(this, windowTitle(), ToQt(text));
}

void PreviewDialog::EndDialog() {
    mEnding = true;
    mTick.stop();
    QDialog::reject();
}

void PreviewDialog::reject() {
    // Escape and the close box: as Close.
    if (!mEnding) {
        mModel.Click(PreviewControl::cmdClose);
    }
}

}  // namespace sparkloom
