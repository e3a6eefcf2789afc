#include "app/Form1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>

#include "app/FramesDialog.h"
#include "app/LayoutControls.h"
#include "app/PreviewDialog.h"
#include "app/QtText.h"
#include "app/RememberedFolder.h"
#include "platform/StopSignals.h"
#include "workflow/WindowLayout.h"
#include "workflow/WindowModel.h"

static void InitFormResources() {
    Q_INIT_RESOURCE(sparkloom);
}

namespace sparkloom {

std::string TextOf(const QWidget* widget) {
    if (const auto* box = qobject_cast<const QLineEdit*>(widget)) {
        return ToUtf8(box->text());
    }
    if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
        return ToUtf8(combo->currentText());
    }
    if (const auto* status = qobject_cast<const QPlainTextEdit*>(widget)) {
        return ToUtf8(status->toPlainText());
    }
    if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
        return ToUtf8(button->text());
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return ToUtf8(label->text());
    }
    return {};
}

void SetTextOf(QWidget* widget, const std::string& text) {
    if (auto* box = qobject_cast<QLineEdit*>(widget)) {
        box->setText(ToQt(text));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setEditText(ToQt(text));
    } else if (auto* status = qobject_cast<QPlainTextEdit*>(widget)) {
        status->setPlainText(ToQt(text));
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(ToQt(text));
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(ToQt(text));
    }
}

QFont DressLayoutWindow(QWidget* window, const char* objectName, std::string_view caption,
                        int widthTwips, int heightTwips) {
    window->setObjectName(QString::fromLatin1(objectName));
    window->setWindowTitle(ToQt(caption));
    QFont windowFont(ToQt(kWindowFont));
    windowFont.setPointSize(kWindowFontPoints);
    window->setFont(windowFont);
    window->setFixedSize(widthTwips / kTwipsPerPixelAt96Dpi, heightTwips / kTwipsPerPixelAt96Dpi);
    return windowFont;
}

QRect Twips(const ControlLayout& layout) {
    return QRect(layout.left / kTwipsPerPixelAt96Dpi, layout.top / kTwipsPerPixelAt96Dpi,
                 layout.width / kTwipsPerPixelAt96Dpi, layout.height / kTwipsPerPixelAt96Dpi);
}

void Colour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

QWidget* MakeControl(const ControlLayout& layout, QWidget* parent, const QFont& windowFont) {
    const QString caption = ToQt(layout.caption);
    // Children of a red, bold frame keep the window's plain font: a weight left
    // unset would be inherited from the frame.
    QFont plainFont = windowFont;
    plainFont.setBold(false);
    switch (layout.kind) {
        case ControlLayout::Kind::Picture:
        case ControlLayout::Kind::Image: {
            auto* picture = new LinkPicture(parent);
            picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            picture->setCursor(Qt::PointingHandCursor);
            return picture;
        }
        case ControlLayout::Kind::Frame: {
            auto* frame = new QGroupBox(caption, parent);
            if (layout.red) {
                Colour(frame, QPalette::WindowText, Qt::red);
                QFont font = frame->font();
                font.setBold(true);
                frame->setFont(font);
            }
            return frame;
        }
        case ControlLayout::Kind::TextBox: {
            auto* box = new QLineEdit(parent);
            if (layout.red) {
                Colour(box, QPalette::Text, Qt::red);
            }
            box->setFont(plainFont);
            return box;
        }
        case ControlLayout::Kind::Button: {
            auto* button = new QPushButton(caption, parent);
            button->setFont(plainFont);
            return button;
        }
        case ControlLayout::Kind::Combo: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(true);
            // Typed text stays typed; the list keeps its own entries.
            combo->setInsertPolicy(QComboBox::NoInsert);
            return combo;
        }
        case ControlLayout::Kind::Status: {
            auto* status = new QPlainTextEdit(parent);
            status->setReadOnly(true);
            status->setFocusPolicy(Qt::NoFocus);
            status->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            Colour(status, QPalette::Base, status->palette().color(QPalette::Button));
            return status;
        }
        case ControlLayout::Kind::Progress: {
            auto* bar = new QProgressBar(parent);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            return bar;
        }
        case ControlLayout::Kind::Label: {
            auto* label = new QLabel(caption, parent);
            label->setFont(plainFont);
            return label;
        }
        case ControlLayout::Kind::Slider:
        case ControlLayout::Kind::Canvas:
            break;  // a dialog that has them makes its own
    }
    return nullptr;
}

const QUrl Form1::kTemplatesPage(ToQt(sparkloom::kTemplatesPage));
const QUrl Form1::kDonationPage(ToQt(sparkloom::kDonationPage));

void LinkPicture::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
    QLabel::mouseReleaseEvent(event);
}

Form1::Form1(UserSeam& seam, QWidget* parent) : QWidget(parent), mSeam(seam) {
    InitFormResources();
    BuildControls();
    mModel = std::make_unique<WindowModel>(static_cast<WindowView&>(*this));
    mModel->StartUp();
    FitBannerPicture();
    setAcceptDrops(true);

    // Open centred on the screen.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }

    for (const ControlLayout& layout : kWindowLayout) {
        QWidget* control = mControls.at(layout.name);
        const auto clicked = [this, name = layout.name] { mModel->Click(name); };
        if (auto* button = qobject_cast<QPushButton*>(control)) {
            connect(button, &QPushButton::clicked, this, clicked);
        } else if (auto* picture = qobject_cast<LinkPicture*>(control)) {
            connect(picture, &LinkPicture::clicked, this, clicked);
        }
    }
    mZipperTimer.setSingleShot(true);
    connect(&mZipperTimer, &QTimer::timeout, this, [this] { mModel->Tick(); });
}

Form1::~Form1() = default;

void Form1::BuildControls() {
    const QFont windowFont =
        DressLayoutWindow(this, "Form1", kWindowCaption, kClientWidthTwips, kClientHeightTwips);

    for (const ControlLayout& layout : kWindowLayout) {
        QWidget* parent = layout.frame.empty() ? this : mControls.at(layout.frame);
        QWidget* control = MakeControl(layout, parent, windowFont);
        control->setObjectName(ToQt(layout.name));
        control->setGeometry(Twips(layout));
        control->setEnabled(layout.enabled);
        if (!layout.toolTip.empty()) {
            control->setToolTip(ToQt(layout.toolTip));
        }
        mControls.emplace(layout.name, control);
    }
    static_cast<QLabel*>(mControls.at("Image1"))
        ->setPixmap(QPixmap(QStringLiteral(":/images/donate.jpg")));
}

void Form1::FitBannerPicture() {
    if (mBannerPicture.isNull()) {
        mBannerPicture.load(QStringLiteral(":/images/banner.jpg"));
    }
    auto* banner = static_cast<QLabel*>(mControls.at("Picture1"));
    // Stretched over the whole box; the aspect ratio is not kept.
    QPixmap drawn(banner->size());
    drawn.fill(Qt::white);
    QPainter painter(&drawn);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(drawn.rect(), mBannerPicture, mBannerPicture.rect());
    painter.end();
    banner->setPixmap(drawn);
}

QWidget* Form1::Widget(WindowControl control) const {
    return mControls.at(NameOf(control));
}

ParticleProjectView Form1::Project() {
    ParticleProject& project = mModel->Project();
    return ParticleProjectView{
        ToQt(project.ProjectFolder), ToQt(project.PackageFolder), project.MaxFiles,
        ToQt(project.VideoFile),     ToQt(project.ExtractFolder), project.FrameCount,
        project.AnimationDuration};
}

Zipper& Form1::ArchiveBuilder() {
    return mModel->ArchiveBuilder();
}

double Form1::ProgressValue() const {
    return mModel->ProgressValue();
}

void Form1::SetStatus(const QString& message) {
    mModel->SetStatus(ToUtf8(message));
}

bool Form1::Extracting() const {
    return mModel->Extracting();
}

void Form1::ChooseVideo(const QString& path) {
    mModel->ChooseVideo(ToUtf8(path));
}

bool Form1::OpenGivenPaths(const QStringList& paths) {
    return mModel->OpenGivenPaths(ToUtf8(paths));
}

void Form1::CloseOnStopSignals() {
    platform::StopSignals::Install();
    const int wake = platform::StopSignals::WakeDescriptor();
    if (wake < 0 || mStopNotifier != nullptr) {
        return;
    }
    mStopNotifier = new QSocketNotifier(wake, QSocketNotifier::Read, this);
    connect(mStopNotifier, &QSocketNotifier::activated, this, [this] {
        platform::StopSignals::DrainWakeDescriptor();
        close();
    });
}

void Form1::EndWithTheSession() {
    // Only the quit that ends the session stops the work. The session
    // manager's earlier request to save comes before a log-out the user may
    // still cancel, and has nothing to save here: the work goes on, and the
    // window keeps asking and warning.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { mModel->SessionEnded(); });
}

void Form1::closeEvent(QCloseEvent* event) {
    mModel->Closing();
    QWidget::closeEvent(event);
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void Form1::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        // A web address has no local file and is refused like a folder.
        paths << (url.isLocalFile() ? url.toLocalFile() : url.toString());
    }
    event->acceptProposedAction();
    OpenGivenPaths(paths);
}

// ----- The workflow's view ------------------------------------------------------

std::string Form1::Text(WindowControl control) const {
    return TextOf(Widget(control));
}

void Form1::SetText(WindowControl control, const std::string& text) {
    SetTextOf(Widget(control), text);
}

bool Form1::Enabled(WindowControl control) const {
    return Widget(control)->isEnabled();
}

void Form1::SetEnabled(WindowControl control, bool enabled) {
    Widget(control)->setEnabled(enabled);
}

void Form1::SetVisible(WindowControl control, bool visible) {
    Widget(control)->setVisible(visible);
}

void Form1::SetItems(WindowControl control, const std::vector<std::string>& items) {
    if (auto* combo = qobject_cast<QComboBox*>(Widget(control))) {
        combo->clear();
        combo->addItems(ToQt(items));
        combo->setCurrentIndex(-1);
    }
}

void Form1::SetProgress(int percent) {
    static_cast<QProgressBar*>(Widget(WindowControl::ProgressBar1))->setValue(percent);
}

void Form1::RepaintStatus() {
    Widget(WindowControl::txtStatus)->repaint();
}

std::string Form1::ChooseFile(const FileRequest& request) {
    FileDialogRequest asked;
    asked.kind = request.kind == FileRequest::Kind::Save ? FileDialogRequest::Kind::Save
                                                         : FileDialogRequest::Kind::Open;
    asked.title = ToQt(request.title);
    asked.filter = ToQt(request.filter);
    asked.defaultExtension = ToQt(request.defaultExtension);
    asked.initialFolder = ToQt(request.initialFolder);
    asked.initialFileName = ToQt(request.initialFileName);
    return ToUtf8(mSeam.ChooseFile(this, asked));
}

std::string Form1::BrowseForFolder(const std::string& initialFolder, const std::string& title) {
    return ToUtf8(mSeam.BrowseForFolder(this, ToQt(initialFolder), ToQt(title)));
}

MessageAnswer Form1::ShowMessage(const std::string& text, MessageIcon icon,
                                 MessageButtons buttons) {
    return mSeam.ShowMessage(this, ToQt(text), icon, buttons);
}

bool Form1::OpenUrl(const std::string& url) {
    return mSeam.OpenUrl(QUrl(ToQt(url)));
}

std::string Form1::RememberedFolder() {
    return ToUtf8(ReadRememberedFolder());
}

void Form1::RememberFolder(const std::string& folder) {
    WriteRememberedFolder(ToQt(folder));
}

std::string Form1::RememberedSetting(const std::string& name) {
    return ToUtf8(ReadRememberedSetting(ToQt(name)));
}

void Form1::RememberSetting(const std::string& name, const std::string& value) {
    WriteRememberedSetting(ToQt(name), ToQt(value));
}

void Form1::ShowFramesDialog(FrameOptionsModel& model) {
    FramesDialog dialog(model, this);
    dialog.exec();
}

void Form1::ShowPreviewDialog(PreviewModel& model) {
    PreviewDialog dialog(model, this);
    dialog.exec();
}

void Form1::StartTicks(int milliseconds) {
    mZipperTimer.start(milliseconds);
}

void Form1::PumpEvents(bool withUserInput) {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::processEvents(withUserInput ? QEventLoop::AllEvents
                                                      : QEventLoop::ExcludeUserInputEvents);
    }
}

void Form1::CloseWindow() {
    close();
}

}  // namespace sparkloom
