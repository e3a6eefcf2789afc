#pragma once

#include <QLabel>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <map>
#include <memory>
#include <string_view>

#include "app/ParticleProject.h"
#include "app/UserSeam.h"
#include "workflow/WindowView.h"

class QSocketNotifier;

namespace sparkloom {

class Zipper;
class WindowModel;

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

// The program's one window, drawn with Qt: it builds the controls from the
// shared layout and hands every click to the workflow, which decides the rest.
class Form1 : public QWidget, private WindowView {
    Q_OBJECT
public:
    static const QUrl kTemplatesPage;
    static const QUrl kDonationPage;

    explicit Form1(UserSeam& seam, QWidget* parent = nullptr);
    ~Form1() override;

    ParticleProjectView Project();
    Zipper& ArchiveBuilder();
    // The progress bar's value as set, fractions included.
    double ProgressValue() const;
    void SetStatus(const QString& message);
    // True while frames are being extracted.
    bool Extracting() const;
    // SIGTERM and SIGINT close the window as E&XIT does, so running work stops with it.
    void CloseOnStopSignals();
    // A log-out or shutdown stops running work as closing does, so a package
    // being built is closed whole: at the session manager's request to save,
    // and when the application is told to quit.
    void EndWithTheSession();

    // Takes path as the video, exactly as the video "Browse" does once its
    // dialog has closed.
    void ChooseVideo(const QString& path);
    // Videos named on the command line or dropped on the window; true when a video was taken.
    bool OpenGivenPaths(const QStringList& paths);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildControls();
    void FitBannerPicture();
    QWidget* Widget(WindowControl control) const;

    std::string Text(WindowControl control) const override;
    void SetText(WindowControl control, const std::string& text) override;
    bool Enabled(WindowControl control) const override;
    void SetEnabled(WindowControl control, bool enabled) override;
    void SetVisible(WindowControl control, bool visible) override;
    void SetItems(WindowControl control, const std::vector<std::string>& items) override;
    void SetProgress(int percent) override;
    void RepaintStatus() override;
    std::string ChooseFile(const FileRequest& request) override;
    std::string BrowseForFolder(const std::string& initialFolder,
                                const std::string& title) override;
    MessageAnswer ShowMessage(const std::string& text, MessageIcon icon,
                              MessageButtons buttons) override;
    bool OpenUrl(const std::string& url) override;
    std::string RememberedFolder() override;
    void RememberFolder(const std::string& folder) override;
    std::string RememberedSetting(const std::string& name) override;
    void RememberSetting(const std::string& name, const std::string& value) override;
    void ShowFramesDialog(FrameOptionsModel& model) override;
    void ShowPreviewDialog(PreviewModel& model) override;
    void StartTicks(int milliseconds) override;
    void PumpEvents(bool withUserInput) override;
    void CloseWindow() override;

    UserSeam& mSeam;
    // By form name, as the layout lists them.
    std::map<std::string_view, QWidget*> mControls;
    // Drives the builder: single shot, restarted by the workflow after each tick.
    QTimer mZipperTimer;
    QSocketNotifier* mStopNotifier = nullptr;
    QPixmap mBannerPicture;
    std::unique_ptr<WindowModel> mModel;
};

}  // namespace sparkloom
