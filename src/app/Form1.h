#pragma once

#include <QLabel>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <memory>
#include <string>

#include "app/ParticleProject.h"
#include "app/UserSeam.h"

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSocketNotifier;

namespace sparkloom {

class Zipper;
class ExtractionJob;

// A picture that opens a web page when clicked and shows the hand cursor.
class LinkPicture : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The shared open/save dialog: it keeps the last chosen file between uses.
struct CommonDialog {
    QString FileName;   // full path
    QString FileTitle;  // name without folder
};

// The program's one window: each button drives one step of the conversion
// from video to package; the logic of each step lives in the core library.
class Form1 : public QWidget {
    Q_OBJECT
public:
    static const QUrl kTemplatesPage;
    static const QUrl kDonationPage;

    explicit Form1(UserSeam& seam, QWidget* parent = nullptr);
    ~Form1() override;

    ParticleProject& Project() { return mProject; }
    Zipper& ArchiveBuilder() { return *mZipper; }
    // The progress bar's value as set, fractions included.
    double ProgressValue() const { return mProgressValue; }
    void SetStatus(const QString& message);
    // True while frames are being extracted.
    bool Extracting() const { return mExtraction != nullptr; }
    // SIGTERM and SIGINT close the window as E&XIT does, so running work stops with it.
    void CloseOnStopSignals();

    // Takes path as the video, exactly as the video "Browse" does once its
    // dialog has closed.
    void ChooseVideo(const QString& path);
    // Videos named on the command line or dropped on the window: one existing
    // file becomes the video; anything else is refused with a warning and
    // changes nothing. No paths: nothing happens. True when a video was taken.
    bool OpenGivenPaths(const QStringList& paths);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private slots:
    void cmdProjectFile_Click();
    void cmdExtract_Click();
    void cmdThumb_Click();
    void cmdAnimImage_Click();
    void cmdDZP_Click();
    void Command3_Click();
    void cmdExit_Click();
    void Picture1_Click();
    void Image1_Click();

private:
    // The builder's events; it calls them from inside Tick.
    void Zipper_StartFile();
    void Zipper_Progress();
    void Zipper_EndFile();
    void Zipper_Error();
    void Zipper_Complete(bool Canceled);

    void BuildControls();
    void StartUp();
    void FitBannerPicture();
    void BuildParticle();
    bool RefusedWhileBusy();
    void SetProgress(double value);
    void RepaintStatus();
    // One tick of the running package, then the next one is timed.
    void ZipperTick();
    // "Err N in STEP", and the system's reason when the builder knows it.
    QString PackingFailure() const;

    void Warn(const QString& text);
    void Inform(const QString& text);
    QString ShowOpen(const FileDialogRequest& request);

    UserSeam& mSeam;
    ParticleProject mProject;
    CommonDialog CommonDialog1;
    std::unique_ptr<Zipper> mZipper;
    // Drives the builder: single shot, restarted after each tick while it zips.
    QTimer mZipperTimer;
    QSocketNotifier* mStopNotifier = nullptr;
    double mProgressValue = 0;
    // The running extraction, so Cancel and closing can stop it.
    std::unique_ptr<ExtractionJob> mExtraction;
    // What the last completed extraction wrote; the build counts its frames.
    std::string mExtractedPrefix;
    QPixmap mBannerPicture;

    LinkPicture* Picture1 = nullptr;
    QGroupBox* Frame7 = nullptr;
    QLineEdit* txtParticleName = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLineEdit* txtVideoFile = nullptr;
    QPushButton* cmdProjectFile = nullptr;
    QGroupBox* Frame8 = nullptr;
    QLineEdit* txtExtractPath = nullptr;
    QPushButton* cmdExtract = nullptr;
    QGroupBox* Frame3 = nullptr;
    QLineEdit* txtJPGThumb = nullptr;
    QPushButton* cmdThumb = nullptr;
    QGroupBox* Frame4 = nullptr;
    QLineEdit* txtAnimImage = nullptr;
    QPushButton* cmdAnimImage = nullptr;
    QGroupBox* Frame6 = nullptr;
    QComboBox* cboType = nullptr;
    QGroupBox* Frame2 = nullptr;
    QComboBox* cboCat = nullptr;
    LinkPicture* Image1 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* cmdDZP = nullptr;
    QPushButton* cmdExit = nullptr;
    QGroupBox* Frame5 = nullptr;
    QPlainTextEdit* txtStatus = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
};

}  // namespace sparkloom
