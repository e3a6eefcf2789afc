#include "app/Form1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSocketNotifier>
#include <stdexcept>

#include "app/QtText.h"
#include "app/RememberedFolder.h"
#include "common/EventPump.h"
#include "common/Files.h"
#include "extract/Extraction.h"
#include "extract/VideoNames.h"
#include "package/FolderWalk.h"
#include "package/PackageCheck.h"
#include "package/PackageQueue.h"
#include "package/SavePath.h"
#include "package/Templates.h"
#include "package/Thumbnail.h"
#include "platform/StopSignals.h"
#include "zip/ZipLibrary.h"
#include "zip/Zipper.h"

static void InitFormResources() {
    Q_INIT_RESOURCE(sparkloom);
}

namespace sparkloom {

namespace {

constexpr int kMaxFiles = 2000;

// The reference layout is given in twips; 15 twips are one pixel at 96 dpi.
QRect Twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const QString& caption, QRect geometry,
                     bool redBold = false) {
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(QString::fromLatin1(name));
    frame->setGeometry(geometry);
    if (redBold) {
        QPalette palette = frame->palette();
        palette.setColor(QPalette::WindowText, Qt::red);
        frame->setPalette(palette);
        QFont font = frame->font();
        font.setBold(true);
        frame->setFont(font);
    }
    return frame;
}

// Children of a red, bold frame keep the window's plain font.
void PlainFont(QWidget* widget, QFont font) {
    font.setBold(false);
    widget->setFont(font);
}

QLineEdit* MakeTextBox(QWidget* parent, const char* name, QRect geometry, bool enabled,
                       bool redText = false) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(geometry);
    box->setEnabled(enabled);
    if (redText) {
        QPalette palette = box->palette();
        palette.setColor(QPalette::Text, Qt::red);
        box->setPalette(palette);
    }
    return box;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, QRect geometry,
                        bool enabled) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setEnabled(enabled);
    return button;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, QRect geometry) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setGeometry(geometry);
    combo->setEditable(true);
    // Typed text stays typed; the list keeps its own entries.
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

}  // namespace

const QUrl Form1::kTemplatesPage(QStringLiteral("https://example.org/sparkloom/templates"));
const QUrl Form1::kDonationPage(QStringLiteral("https://example.org/sparkloom/donate"));

void LinkPicture::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
    QLabel::mouseReleaseEvent(event);
}

Form1::Form1(UserSeam& seam, QWidget* parent) : QWidget(parent), mSeam(seam) {
    InitFormResources();
    // The core's long waits (ffmpeg, the templates) keep the window painting and clickable.
    SetEventPump([] {
        if (QCoreApplication::instance() != nullptr) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
    });
    BuildControls();
    StartUp();
    setAcceptDrops(true);
}

Form1::~Form1() {
    // Its handlers call into this window, which is going.
    mZipper->Events = {};
}

void Form1::BuildControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Sparkloom v1.0.1"));
    QFont windowFont(QStringLiteral("Tahoma"));
    windowFont.setPointSize(9);
    setFont(windowFont);
    setFixedSize(7995 / 15, 9375 / 15);

    Picture1 = new LinkPicture(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(Twips(0, 0, 7995, 1665));
    Picture1->setToolTip(QStringLiteral("Visit Us"));
    Picture1->setCursor(Qt::PointingHandCursor);

    Frame7 = MakeFrame(this, "Frame7", QStringLiteral("PARTICLE NAME"), Twips(120, 1800, 3855, 975),
                       true);
    txtParticleName =
        MakeTextBox(Frame7, "txtParticleName", Twips(120, 360, 3615, 375), true, true);
    PlainFont(txtParticleName, windowFont);

    Frame1 = MakeFrame(this, "Frame1", QStringLiteral("Select Video file"),
                       Twips(4080, 1800, 3855, 975));
    txtVideoFile = MakeTextBox(Frame1, "txtVideoFile", Twips(120, 360, 2535, 375), false);
    cmdProjectFile = MakeButton(Frame1, "cmdProjectFile", QStringLiteral("Browse"),
                                Twips(2760, 360, 975, 375), true);

    Frame8 = MakeFrame(this, "Frame8", QStringLiteral("Folder To Extract To"),
                       Twips(120, 2880, 7815, 975), true);
    txtExtractPath = MakeTextBox(Frame8, "txtExtractPath", Twips(120, 360, 5775, 375), true, true);
    cmdExtract = MakeButton(Frame8, "cmdExtract", QStringLiteral("Extract Video"),
                            Twips(6000, 360, 1695, 375), false);
    PlainFont(txtExtractPath, windowFont);
    PlainFont(cmdExtract, windowFont);

    Frame3 = MakeFrame(this, "Frame3", QStringLiteral("Select JPG Thumbnail"),
                       Twips(120, 3960, 3855, 975));
    txtJPGThumb = MakeTextBox(Frame3, "txtJPGThumb", Twips(120, 360, 2535, 375), false);
    cmdThumb =
        MakeButton(Frame3, "cmdThumb", QStringLiteral("Browse"), Twips(2760, 360, 975, 375), false);

    Frame4 = MakeFrame(this, "Frame4", QStringLiteral("Select 1st Animation Image"),
                       Twips(4080, 3960, 3855, 975));
    txtAnimImage = MakeTextBox(Frame4, "txtAnimImage", Twips(120, 360, 2535, 375), false);
    cmdAnimImage = MakeButton(Frame4, "cmdAnimImage", QStringLiteral("Browse"),
                              Twips(2760, 360, 975, 375), false);

    Frame6 = MakeFrame(this, "Frame6", QStringLiteral("Select Project Type"),
                       Twips(120, 5040, 3855, 975));
    cboType = MakeCombo(Frame6, "cboType", Twips(240, 360, 3375, 330));

    Frame2 = MakeFrame(this, "Frame2", QStringLiteral("Express Project Category"),
                       Twips(4080, 5040, 3855, 975));
    cboCat = MakeCombo(Frame2, "cboCat", Twips(240, 360, 3375, 330));

    Image1 = new LinkPicture(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(Twips(1440, 6120, 5205, 1005));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(QPixmap(QStringLiteral(":/images/donate.jpg")));
    Image1->setToolTip(QStringLiteral("Please Click Here And Surprise Me :)"));
    Image1->setCursor(Qt::PointingHandCursor);

    Command3 = MakeButton(this, "Command3", QStringLiteral("&Cancel Process"),
                          Twips(840, 7320, 1695, 495), true);
    cmdDZP = MakeButton(this, "cmdDZP", QStringLiteral("Build Particle"),
                        Twips(2880, 7320, 2535, 495), false);
    cmdExit =
        MakeButton(this, "cmdExit", QStringLiteral("E&XIT"), Twips(5760, 7320, 1335, 495), true);

    Frame5 = MakeFrame(this, "Frame5", QStringLiteral("RESULTS"), Twips(120, 8040, 7695, 855));
    txtStatus = new QPlainTextEdit(Frame5);
    txtStatus->setObjectName(QStringLiteral("txtStatus"));
    txtStatus->setGeometry(Twips(120, 240, 7335, 555));
    txtStatus->setReadOnly(true);
    txtStatus->setFocusPolicy(Qt::NoFocus);
    txtStatus->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    {
        QPalette palette = txtStatus->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Button));
        txtStatus->setPalette(palette);
    }
    txtStatus->setEnabled(false);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(Twips(120, 9000, 7695, 315));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    mZipper = std::make_unique<Zipper>();
    mZipper->SetTickInterval(Zipper::kDefaultTickInterval);
    mZipper->Events.StartFile = [this] { Zipper_StartFile(); };
    mZipper->Events.Progress = [this] { Zipper_Progress(); };
    mZipper->Events.EndFile = [this] { Zipper_EndFile(); };
    mZipper->Events.Error = [this] { Zipper_Error(); };
    mZipper->Events.Complete = [this](bool Canceled) { Zipper_Complete(Canceled); };
    mZipperTimer.setSingleShot(true);
    connect(&mZipperTimer, &QTimer::timeout, this, &Form1::ZipperTick);

    connect(cmdProjectFile, &QPushButton::clicked, this, &Form1::cmdProjectFile_Click);
    connect(cmdExtract, &QPushButton::clicked, this, &Form1::cmdExtract_Click);
    connect(cmdThumb, &QPushButton::clicked, this, &Form1::cmdThumb_Click);
    connect(cmdAnimImage, &QPushButton::clicked, this, &Form1::cmdAnimImage_Click);
    connect(cmdDZP, &QPushButton::clicked, this, &Form1::cmdDZP_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(cmdExit, &QPushButton::clicked, this, &Form1::cmdExit_Click);
    connect(Picture1, &LinkPicture::clicked, this, &Form1::Picture1_Click);
    connect(Image1, &LinkPicture::clicked, this, &Form1::Image1_Click);
}

void Form1::StartUp() {
    cboType->addItems({QStringLiteral("CUSTOM"), QStringLiteral("PRESET")});
    cboType->setCurrentIndex(-1);
    cboType->setEditText(QStringLiteral("Select"));
    cboCat->addItems(
        {QStringLiteral("Kelvane"), QStringLiteral("General"), QStringLiteral("Sports")});
    cboCat->setCurrentIndex(-1);
    cboCat->setEditText(QStringLiteral("Select"));
    mProject.MaxFiles = kMaxFiles;
    FitBannerPicture();
    SetStatus(QStringLiteral("For FREE Templates pay us a visit by clicking on our banner :)"));

    // Open centred on the screen.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

void Form1::FitBannerPicture() {
    if (mBannerPicture.isNull()) {
        mBannerPicture.load(QStringLiteral(":/images/banner.jpg"));
    }
    // Stretched over the whole box; the aspect ratio is not kept.
    QPixmap drawn(Picture1->size());
    drawn.fill(Qt::white);
    QPainter painter(&drawn);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(drawn.rect(), mBannerPicture, mBannerPicture.rect());
    painter.end();
    Picture1->setPixmap(drawn);
}

void Form1::SetStatus(const QString& message) {
    txtStatus->setPlainText(message);
}

void Form1::RepaintStatus() {
    txtStatus->repaint();
}

void Form1::SetProgress(double value) {
    mProgressValue = value;
    ProgressBar1->setValue(static_cast<int>(qBound(0.0, value, 100.0)));
}

void Form1::Warn(const QString& text) {
    mSeam.ShowMessage(this, text, MessageIcon::Warning, MessageButtons::Ok);
}

void Form1::Inform(const QString& text) {
    mSeam.ShowMessage(this, text, MessageIcon::Information, MessageButtons::Ok);
}

QString Form1::ShowOpen(const FileDialogRequest& request) {
    const QString path = mSeam.ChooseFile(this, request);
    if (!path.isEmpty()) {
        CommonDialog1.FileName = path;
        CommonDialog1.FileTitle = QFileInfo(path).fileName();
    }
    return path;
}

// ----- Video and frames -----------------------------------------------------

void Form1::cmdProjectFile_Click() {
    FileDialogRequest request;
    request.title = QStringLiteral("Select Video File");
    request.filter = QStringLiteral(
        "All Files (*.*)|*.*|AVI Files (*.avi)|*.avi|MPEG Files (*.mpg)|*.mpg|MP4 Files "
        "(*.mp4)|*.mp4|Windows Media Files (*.wmv)|*.wmv|Quicktime Files (*.mov)|*.mov");
    request.defaultExtension = QStringLiteral("*.*");
    // A cancelled dialog goes on with the video it held before, so another
    // chooser's file can never become the video.
    QString path = mSeam.ChooseFile(this, request);
    if (path.isEmpty()) {
        path = mProject.VideoFile;
    }
    ChooseVideo(path);
}

void Form1::ChooseVideo(const QString& path) {
    const QString fileName = path.isEmpty() ? QString() : QFileInfo(path).fileName();

    txtVideoFile->setText(fileName);
    if (const auto name = ParticleNameFromFile(ToUtf8(fileName))) {
        txtParticleName->setText(ToQt(*name));
    }
    mProject.ProjectFolder = ToQt(ProjectFolderOf(ToUtf8(path), ToUtf8(fileName)));
    mProject.VideoFile = path;
    cmdExtract->setEnabled(true);
}

// One extraction at a time, no build of half-written frames, no second build
// into the running queue and no extraction into a folder being packed.
bool Form1::RefusedWhileBusy() {
    if (mExtraction) {
        Warn(
            QStringLiteral("Frames are still being extracted.\r\n"
                           "Please wait until it is finished or cancel it first."));
        return true;
    }
    if (mZipper->Zipping()) {
        Warn(
            QStringLiteral("A package is still being built.\r\n"
                           "Please wait until it is finished or cancel it first."));
        return true;
    }
    return false;
}

bool Form1::OpenGivenPaths(const QStringList& paths) {
    if (paths.isEmpty()) {
        return false;
    }
    if (paths.size() > 1) {
        Warn(QStringLiteral("Please choose one Video at a time!"));
        return false;
    }
    // ProjectFolder is cut from the path, and the dialog's paths are absolute.
    const QFileInfo given(paths.first());
    if (paths.first().isEmpty() || !given.isFile()) {
        Warn(QStringLiteral("This is not a file:\r\n") + paths.first());
        return false;
    }
    ChooseVideo(QDir::cleanPath(given.absoluteFilePath()));
    return true;
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

void Form1::cmdExtract_Click() {
    if (RefusedWhileBusy()) {
        return;
    }
    const QString remembered = ReadRememberedFolder();
    mProject.ExtractFolder =
        mSeam.BrowseForFolder(this, remembered, QStringLiteral("Please select a folder:"));
    txtExtractPath->setText(mProject.ExtractFolder.isEmpty() ? QStringLiteral("Canceled")
                                                             : mProject.ExtractFolder);
    WriteRememberedFolder(mProject.ProjectFolder);
    if (mProject.ExtractFolder.isEmpty()) {
        return;  // cancelled: nothing to extract into
    }

    if (txtVideoFile->text().isEmpty()) {
        Warn(QStringLiteral("Please select a Video first!"));
        txtExtractPath->clear();
        return;
    }
    if (mProject.ExtractFolder == mProject.ProjectFolder) {
        Warn(
            QStringLiteral("You cannot Extract in the Project Folder!\r\n"
                           "Please Choose Another Destination Folder"));
        txtExtractPath->clear();
        cmdDZP->setEnabled(true);
        return;
    }

    // The frames are named after the particle; refuse names that would put them
    // elsewhere, exceed the file system's name length or could not be stored
    // in the package later.
    const std::string prefix = FramePrefixOf(ToUtf8(txtParticleName->text()));
    if (const std::string refusal = FramePrefixRefusal(prefix); !refusal.empty()) {
        Warn(ToQt(refusal));
        return;
    }

    ExtractionRequest request;
    request.video = ToUtf8(mProject.VideoFile);
    request.folder = ToUtf8(mProject.ExtractFolder);
    request.framePrefix = prefix;
    request.maxFiles = mProject.MaxFiles;
    ExtractionHooks hooks;
    hooks.replaceStale = [this, &prefix](const FrameFiles& stale) {
        return mSeam.ShowMessage(this, ToQt(StaleFramesQuestion(stale, prefix)),
                                 MessageIcon::Warning,
                                 MessageButtons::OkCancel) == MessageAnswer::Ok;
    };
    hooks.beforeCount = [this] { Inform(QStringLiteral("Extracting Video. Please be patient!")); };
    hooks.trimToLimit = [this](int32_t counted, int32_t limit) {
        return mSeam.ShowMessage(this, ToQt(TooManyFramesQuestion(counted, limit)),
                                 MessageIcon::Warning,
                                 MessageButtons::OkCancel) == MessageAnswer::Ok;
    };
    int32_t expected = 0;
    hooks.onCounted = [&expected](int32_t counted) { expected = counted; };
    hooks.onFrame = [this, &expected](int32_t frame) {
        if (expected > 0) {
            SetProgress(qMin(100.0, 100.0 * frame / expected));
        }
    };

    SetProgress(0);
    // Cancel must reach a running extraction even after a build disabled it.
    const bool cancelWasEnabled = Command3->isEnabled();
    Command3->setEnabled(true);
    mExtraction = std::make_unique<ExtractionJob>(request);
    const ExtractionOutcome outcome = mExtraction->Run(hooks);
    mExtraction.reset();
    Command3->setEnabled(cancelWasEnabled);

    using End = ExtractionOutcome::End;
    switch (outcome.end) {
        case End::Declined:
            return;
        case End::Stopped:
            SetStatus(QStringLiteral("Canceled"));
            return;
        case End::Failed:
            Warn(ToQt(outcome.error));
            return;
        case End::Done:
            break;
    }
    // The duration describes the frames that were written, whatever the clip's timing.
    mProject.FrameCount = outcome.written;
    mProject.AnimationDuration = AnimationDurationFor(mProject.FrameCount);
    mExtractedPrefix = prefix;
    SetProgress(100);
    cmdAnimImage->setEnabled(true);
    cmdThumb->setEnabled(true);
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

void Form1::closeEvent(QCloseEvent* event) {
    // Nothing may keep running that the user can no longer see or stop.
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
    QWidget::closeEvent(event);
}

// ----- First frame and thumbnail --------------------------------------------

namespace {

// Both picture choosers bear the same title; only their filters differ.
FileDialogRequest PictureRequest(const QString& filter) {
    FileDialogRequest request;
    request.title = QStringLiteral("Select Thumbnail Image");
    request.filter = filter;
    request.defaultExtension = QStringLiteral("jpg");
    return request;
}

}  // namespace

void Form1::cmdAnimImage_Click() {
    const QString path =
        ShowOpen(PictureRequest(QStringLiteral("JPG Files (*.jpg)|*.jpg|PNG Files(*.png)|*.png")));
    if (!path.isEmpty()) {
        txtAnimImage->setText(QFileInfo(path).fileName());
    }
    cmdDZP->setEnabled(true);
}

void Form1::cmdThumb_Click() {
    const QString path =
        ShowOpen(PictureRequest(QStringLiteral("Image Files (*.jpg)|*.jpg|(*.png)|*.png")));
    if (path.isEmpty()) {
        return;  // keep the previous choice; nothing to copy
    }
    if (mProject.ExtractFolder.isEmpty()) {
        Warn(QStringLiteral("Please extract the video into a folder first!"));
        return;
    }
    txtJPGThumb->setText(QFileInfo(path).fileName());
    std::string error;
    if (!CopyThumbnail(ToUtf8(path), ToUtf8(mProject.ExtractFolder), error)) {
        // An empty box makes the build ask for a thumbnail again.
        txtJPGThumb->clear();
        Warn(ToQt(error));
    }
}

// ----- Build Particle ---------------------------------------------------------

void Form1::cmdDZP_Click() {
    Command3->setEnabled(true);
    BuildParticle();
}

void Form1::BuildParticle() {
    if (RefusedWhileBusy()) {
        return;
    }
    if (mProject.ExtractFolder.isEmpty()) {
        Warn(QStringLiteral("Please extract the video into a folder first!"));
        return;
    }

    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Save;
    request.filter = QStringLiteral("DZP Files (*.dzp)|*.dzp");
    request.initialFileName = txtParticleName->text();
    QString packagePath = mSeam.ChooseFile(this, request);
    if (packagePath.isEmpty()) {
        return;
    }
    CommonDialog1.FileName = packagePath;
    CommonDialog1.FileTitle = QFileInfo(packagePath).fileName();

    if (txtParticleName->text().isEmpty()) {
        Warn(QStringLiteral("Please Enter A Particle Name!"));
        return;
    }
    if (txtJPGThumb->text().isEmpty()) {
        Warn(QStringLiteral("Please Select A Thumbnail!"));
        return;
    }
    const QString type = cboType->currentText();
    if (type.isEmpty() || type == QStringLiteral("Select")) {
        Warn(QStringLiteral("You must select the Type of Project!"));
        return;
    }
    const QString category = cboCat->currentText();
    if (category.isEmpty() || category == QStringLiteral("Select")) {
        Warn(QStringLiteral("You must select a Category!"));
        return;
    }

    mProject.PackageFolder =
        ToQt(PackageFolderOf(ToUtf8(packagePath), ToUtf8(CommonDialog1.FileTitle)));
    // Removing every "/" + name can also remove a folder of that name, so the
    // folder the package really goes to is checked as well.
    const QString savedInto = packagePath.left(packagePath.lastIndexOf(u'/'));
    if (mProject.PackageFolder == mProject.ProjectFolder ||
        mProject.PackageFolder == mProject.ExtractFolder || savedInto == mProject.ProjectFolder ||
        savedInto == mProject.ExtractFolder) {
        Warn(
            QStringLiteral("You cannot create the Installation File in the Project Folder!\r\n"
                           "Please Choose Another Destination Folder"));
        return;
    }
    if (!QFileInfo(mProject.ExtractFolder).isDir()) {
        Warn(QStringLiteral("The frames folder %1 does not exist any more.")
                 .arg(QDir::toNativeSeparators(mProject.ExtractFolder)));
        return;
    }
    if (QFileInfo(packagePath).isDir()) {
        Warn(QStringLiteral("%1 is a folder; please name the package file.")
                 .arg(QDir::toNativeSeparators(packagePath)));
        return;
    }
    const QString packageDir = QFileInfo(packagePath).absolutePath();
    if (!QFileInfo(packageDir).isDir()) {
        Warn(QStringLiteral("The folder %1 does not exist.")
                 .arg(QDir::toNativeSeparators(packageDir)));
        return;
    }

    // Entry names are stored in the host editor's 8-bit code page; refuse names
    // it cannot carry before anything is written.
    const std::string framesFolder = ToUtf8(mProject.ExtractFolder);
    if (const std::string refusal = UnstorableNamesRefusal(
            {ToUtf8(txtParticleName->text()), ToUtf8(txtAnimImage->text())}, framesFolder);
        !refusal.empty()) {
        Warn(ToQt(refusal));
        return;
    }

    ProvideZipLibrary(ToUtf8(mProject.PackageFolder));

    const TemplateWrite xml = WriteTemplateXml(
        framesFolder,
        TemplateXmlValues{ToUtf8(type), ToUtf8(category), ToUtf8(txtParticleName->text())});
    if (!xml.ok) {
        Warn(ToQt(xml.error));
        return;
    }
    const TemplateWrite clt =
        WriteTemplateClt(framesFolder, ToUtf8(txtAnimImage->text()), mProject.AnimationDuration);
    if (!clt.ok) {
        Warn(ToQt(clt.error));
        return;
    }

    packagePath = ToQt(WithPackageExtension(ToUtf8(packagePath)));
    if (FileExists(ToUtf8(packagePath))) {
        if (mSeam.ShowMessage(this, QStringLiteral("Overwrite Existing File?"), MessageIcon::None,
                              MessageButtons::OkCancel) != MessageAnswer::Ok) {
            return;
        }
        QFile existing(packagePath);
        if (!existing.remove()) {
            Warn(QStringLiteral("Could not delete the existing package %1: %2")
                     .arg(QDir::toNativeSeparators(packagePath), existing.errorString()));
            return;
        }
    }

    PackageSource source;
    source.folder = framesFolder;
    source.firstFrame = ToUtf8(txtAnimImage->text());
    source.framePrefix = mExtractedPrefix;
    source.extractedFrames = mProject.FrameCount;
    source.maxFiles = mProject.MaxFiles;
    const QueueOutcome queued = QueuePackage(*mZipper, source, [this](int leftOut) {
        const QString question = QStringLiteral(
                                     "%1 entries were left out because a folder holds more than %2 "
                                     "entries.\r\nBuild the package without them?")
                                     .arg(leftOut)
                                     .arg(mProject.MaxFiles);
        return mSeam.ShowMessage(this, question, MessageIcon::Warning, MessageButtons::OkCancel) ==
               MessageAnswer::Ok;
    });
    if (!queued.ok) {
        if (!queued.statusMessage.empty()) {
            SetStatus(ToQt(queued.statusMessage));
        } else if (!queued.refusal.empty()) {
            Warn(ToQt(queued.refusal));
        }
        return;
    }

    ProgressBar1->setVisible(true);
    if (mZipper->Zip(ToUtf8(packagePath))) {
        ProgressBar1->setVisible(false);
        SetStatus(PackingFailure());
        return;
    }
    mZipperTimer.start(mZipper->TickInterval());
}

void Form1::ZipperTick() {
    if (!mZipper->Zipping()) {
        return;  // the run was ended by hand meanwhile
    }
    mZipper->Tick();
    if (mZipper->Zipping()) {
        mZipperTimer.start(mZipper->TickInterval());
    }
}

QString Form1::PackingFailure() const {
    QString text =
        QStringLiteral("Err %1 in %2").arg(mZipper->Result()).arg(ToQt(mZipper->Failed()));
    if (const std::string reason = mZipper->Reason(); !reason.empty()) {
        text += QStringLiteral(": ") + ToQt(reason);
    }
    return text;
}

void Form1::Zipper_StartFile() {
    SetStatus(QStringLiteral("Packing ") + ToQt(mZipper->CurrentFile()->SourceFile));
    RepaintStatus();
}

void Form1::Zipper_Progress() {
    if (mZipper->BytesToZip() > 0) {
        SetProgress(static_cast<float>(static_cast<double>(mZipper->BytesZipped()) /
                                       mZipper->BytesToZip() * 100.0));
    }
}

void Form1::Zipper_EndFile() {
    SetStatus(QStringLiteral("Packed ") + ToQt(mZipper->CurrentFile()->SourceFile));
    RepaintStatus();
}

void Form1::Zipper_Error() {
    SetStatus(PackingFailure());
}

void Form1::Zipper_Complete(bool Canceled) {
    ReleaseZipLibrary(ToUtf8(mProject.PackageFolder));
    // Read back before it counts as made. The window repaints meanwhile but takes
    // no clicks, so no second build can start on the package being read.
    const std::string package = mZipper->ArchivePath();
    const PackageCheck readBack = ReadBackPackage(package, Canceled, [] {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    if (!readBack.IsWhole()) {
        const QString failure = ToQt(ReadBackFailureText(package, readBack));
        SetStatus(failure);
        Warn(failure);
    } else if (Canceled) {
        SetStatus(QStringLiteral("Canceled"));
    } else {
        SetStatus(QStringLiteral("Success"));
        Inform(QStringLiteral("Success!"));
    }
    Command3->setEnabled(false);
    cmdDZP->setEnabled(true);
}

void Form1::Command3_Click() {
    if (mExtraction) {
        mExtraction->RequestStop();
        return;
    }
    mZipper->Cancel();
}

// ----- Window -------------------------------------------------------------------

void Form1::cmdExit_Click() {
    close();
}

void Form1::Picture1_Click() {
    mSeam.OpenUrl(kTemplatesPage);
}

void Form1::Image1_Click() {
    mSeam.OpenUrl(kDonationPage);
}

}  // namespace sparkloom
