// A video given on the command line or dropped on the window is taken as the
// video "Browse" takes it; anything else is refused with a warning.
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "app/Form1.h"
#include "support/GuiTestMain.h"
#include "support/ScriptedSeam.h"
#include "support/TestSupport.h"
#include "support/WindowDriver.h"

using namespace sparkloom;
using sparkloom::test::Control;
using sparkloom::test::ScriptedSeam;
using Kind = ScriptedSeam::Shown::Kind;

namespace {

// What the window shows and holds of the chosen video.
struct VideoState {
    QString videoBox;
    QString particleName;
    QString projectFolder;
    QString videoFile;
    bool extractEnabled = false;

    static VideoState Of(Form1& form) {
        return {Control<QLineEdit>(form, "txtVideoFile")->text(),
                Control<QLineEdit>(form, "txtParticleName")->text(), form.Project().ProjectFolder,
                form.Project().VideoFile, Control<QPushButton>(form, "cmdExtract")->isEnabled()};
    }
    bool operator==(const VideoState&) const = default;
};

char* toString(const VideoState& state) {
    return QTest::toString(
        QStringLiteral("[%1|%2|%3|%4|%5]")
            .arg(state.videoBox, state.particleName, state.projectFolder, state.videoFile)
            .arg(state.extractEnabled));
}

// Drags urls over the window and drops them, as a file manager does.
bool DropOn(Form1& form, const QList<QUrl>& urls) {
    if (!form.acceptDrops()) {
        return false;  // the desktop would never deliver the drop
    }
    QMimeData mime;
    mime.setUrls(urls);
    const QPoint where = form.rect().center();
    QDragEnterEvent enter(where, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(QPointF(where), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);
    return drop.isAccepted();
}

QList<QUrl> FileUrls(const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls << QUrl::fromLocalFile(path);
    }
    return urls;
}

}  // namespace

class TestForm1Open : public QObject {
    Q_OBJECT

    QTemporaryDir mRoot;
    QString mClips;       // ".../Clips"
    QString mVideo;       // ".../Clips/My Clip.mp4"
    QString mOther;       // ".../Clips/Other.mp4"
    VideoState mBrowsed;  // the window after the video "Browse" chose mVideo

    void Open(Form1& form, ScriptedSeam& seam, const QString& way, const QStringList& paths) {
        if (way == QLatin1String("argument")) {
            form.OpenGivenPaths(paths);
        } else if (way == QLatin1String("drop")) {
            QVERIFY(DropOn(form, FileUrls(paths)));
        } else {
            seam.fileAnswers << paths;
            test::Click(form, "cmdProjectFile");
        }
    }

private slots:
    void initTestCase() {
        QVERIFY(mRoot.isValid());
        mClips = mRoot.path() + QStringLiteral("/Clips");
        QVERIFY(QDir().mkpath(mClips));
        mVideo = mClips + QStringLiteral("/My Clip.mp4");
        mOther = mClips + QStringLiteral("/Other.mp4");
        QVERIFY(test::MakeClip(mVideo));
        QVERIFY(QFile::copy(mVideo, mOther));

        ScriptedSeam seam;
        Form1 form(seam);
        seam.fileAnswers << mVideo;
        test::Click(form, "cmdProjectFile");
        mBrowsed = VideoState::Of(form);
        QCOMPARE(mBrowsed.videoBox, QStringLiteral("My Clip.mp4"));
        QCOMPARE(mBrowsed.projectFolder, mClips);
    }

    void aGivenVideoIsTakenAsBrowseTakesIt_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QString>("path");
        QTest::newRow("argument") << "argument" << mVideo;
        QTest::newRow("argument relative to the working folder") << "argument"
                                                                 << "My Clip.mp4";
        QTest::newRow("argument with dot segments")
            << "argument" << mClips + "/../Clips/./My Clip.mp4";
        QTest::newRow("dropped file") << "drop" << mVideo;
    }
    void aGivenVideoIsTakenAsBrowseTakesIt() {
        QFETCH(QString, way);
        QFETCH(QString, path);
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(mClips));
        ScriptedSeam seam;
        Form1 form(seam);
        Open(form, seam, way, {path});
        QDir::setCurrent(before);
        QCOMPARE(VideoState::Of(form), mBrowsed);
        QVERIFY2(seam.shown.isEmpty(), qPrintable(seam.Messages().join(u'|')));
    }

    void refusedPathsWarnAndChangeNothing_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QString>("warning");
        const QString oneAtATime = QStringLiteral("Please choose one Video at a time!");
        const QString notAFile = QStringLiteral("This is not a file:\r\n");
        QTest::newRow("argument: a folder")
            << "argument" << QStringList{mClips} << notAFile + mClips;
        QTest::newRow("argument: missing")
            << "argument" << QStringList{mClips + "/gone.mp4"} << notAFile + mClips + "/gone.mp4";
        QTest::newRow("argument: empty") << "argument" << QStringList{QString()} << notAFile;
        QTest::newRow("argument: two videos")
            << "argument" << QStringList{mOther, mOther} << oneAtATime;
        QTest::newRow("drop: a folder") << "drop" << QStringList{mClips} << notAFile + mClips;
        QTest::newRow("drop: two videos") << "drop" << QStringList{mOther, mVideo} << oneAtATime;
    }
    void refusedPathsWarnAndChangeNothing() {
        QFETCH(QString, way);
        QFETCH(QStringList, paths);
        QFETCH(QString, warning);
        ScriptedSeam seam;
        Form1 form(seam);
        Open(form, seam, QStringLiteral("browse"), {mVideo});
        seam.shown.clear();
        Open(form, seam, way, paths);
        QCOMPARE(seam.Kinds(), QList<Kind>{Kind::Message});
        QCOMPARE(seam.shown[0].text, warning);
        QCOMPARE(seam.shown[0].icon, MessageIcon::Warning);
        QCOMPARE(VideoState::Of(form), mBrowsed);
    }

    void aDroppedWebAddressIsRefused() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QUrl page(QStringLiteral("https://example.org/clip.mp4"));
        QVERIFY(DropOn(form, {page}));
        QCOMPARE(seam.Messages(), QStringList{"This is not a file:\r\n" + page.toString()});
        QVERIFY(!Control<QPushButton>(form, "cmdExtract")->isEnabled());
    }

    void aDragWithoutFilesIsNotAccepted() {
        ScriptedSeam seam;
        Form1 form(seam);
        QMimeData text;
        text.setText(QStringLiteral("My Clip.mp4"));
        QDragEnterEvent enter(form.rect().center(), Qt::CopyAction, &text, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        QVERIFY(!enter.isAccepted());
    }

    void noPathsChangeNothing() {
        ScriptedSeam seam;
        Form1 form(seam);
        const VideoState atStart = VideoState::Of(form);
        QVERIFY(!form.OpenGivenPaths({}));
        QCOMPARE(VideoState::Of(form), atStart);
        QVERIFY(!atStart.extractEnabled);
        QVERIFY(seam.shown.isEmpty());
    }

    // The road goes on from a given video as from a browsed one.
    void aGivenVideoIsExtracted() {
        ScriptedSeam seam;
        Form1 form(seam);
        QVERIFY(form.OpenGivenPaths({mVideo}));
        const QString frames = mRoot.path() + QStringLiteral("/frames");
        QVERIFY(QDir().mkpath(frames));
        seam.folderAnswers << frames;
        test::Click(form, "cmdExtract");
        QVERIFY2(Control<QPushButton>(form, "cmdThumb")->isEnabled(),
                 qPrintable(seam.Messages().join(u'|')));
        QCOMPARE(form.Project().FrameCount, 30);
        QVERIFY(QFile::exists(frames + QStringLiteral("/My_Clip_00030.jpg")));
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestForm1Open)
#include "test_form1_open.moc"
