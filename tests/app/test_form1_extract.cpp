// From video to frames through the window: the video chooser, the folder
// browser, the remembered folder and a real ffmpeg extraction.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/Form1.h"
#include "app/RememberedFolder.h"
#include "support/GuiTestMain.h"
#include "support/ScriptedSeam.h"
#include "support/TestSupport.h"

using namespace sparkloom;
using sparkloom::test::ScriptedSeam;
using Kind = ScriptedSeam::Shown::Kind;

class TestForm1Extract : public QObject {
    Q_OBJECT

    QTemporaryDir mRoot;
    QString mClips;  // folder of the test videos
    QString mVideo;  // ".../Clips/My Clip.mp4"

    template <typename T>
    static T* Control(Form1& form, const char* name) {
        return form.findChild<T*>(QString::fromLatin1(name));
    }
    static void Click(Form1& form, const char* name) {
        auto* button = Control<QPushButton>(form, name);
        QVERIFY2(button->isEnabled(), name);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QString NewFolder(const QString& name) {
        const QString path = mRoot.path() + u'/' + name;
        QDir().mkpath(path);
        return path;
    }
    static QStringList Frames(const QString& folder) {
        return QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    }

private slots:
    void initTestCase() {
        QVERIFY(mRoot.isValid());
        mClips = NewFolder(QStringLiteral("Clips"));
        mVideo = mClips + QStringLiteral("/My Clip.mp4");
        QVERIFY(test::MakeClip(mVideo));
    }

    void init() {
        qunsetenv("SPARKLOOM_FFMPEG");
        WriteRememberedFolder(QString());
    }

    void videoChooserFillsNameFolderAndEnablesExtract() {
        ScriptedSeam seam;
        Form1 form(seam);
        seam.fileAnswers << mVideo;
        Click(form, "cmdProjectFile");
        QCOMPARE(seam.shown.size(), 1);
        QCOMPARE(seam.shown[0].fileRequest.title, QStringLiteral("Select Video File"));
        QVERIFY(
            seam.shown[0].fileRequest.filter.startsWith(QStringLiteral("All Files (*.*)|*.*|AVI")));
        QCOMPARE(Control<QLineEdit>(form, "txtVideoFile")->text(), QStringLiteral("My Clip.mp4"));
        QCOMPARE(Control<QLineEdit>(form, "txtParticleName")->text(), QStringLiteral("My Clip"));
        QCOMPARE(form.Project().ProjectFolder, mClips);
        QCOMPARE(form.Project().VideoFile, mVideo);
        QVERIFY(Control<QPushButton>(form, "cmdExtract")->isEnabled());
    }

    void cancelledVideoChooserWithNothingChosenLeavesNamesEmpty() {
        ScriptedSeam seam;
        Form1 form(seam);
        Control<QLineEdit>(form, "txtParticleName")->setText(QStringLiteral("Typed"));
        Click(form, "cmdProjectFile");  // cancelled
        QVERIFY(Control<QLineEdit>(form, "txtVideoFile")->text().isEmpty());
        QVERIFY(form.Project().VideoFile.isEmpty());
        QVERIFY(form.Project().ProjectFolder.isEmpty());
        QCOMPARE(Control<QLineEdit>(form, "txtParticleName")->text(), QStringLiteral("Typed"));
        QVERIFY(Control<QPushButton>(form, "cmdExtract")->isEnabled());
    }

    void extractWithoutVideoOpensTheBrowserFirstThenWarns() {
        WriteRememberedFolder(QStringLiteral("/somewhere/else"));
        ScriptedSeam seam;
        Form1 form(seam);
        Click(form, "cmdProjectFile");  // cancelled: no video
        seam.folderAnswers << NewFolder(QStringLiteral("out-novideo"));
        Click(form, "cmdExtract");
        QCOMPARE(seam.Kinds(), (QList<Kind>{Kind::File, Kind::Folder, Kind::Message}));
        QCOMPARE(seam.shown[1].title, QStringLiteral("Please select a folder:"));
        QCOMPARE(seam.shown[1].initialFolder, QStringLiteral("/somewhere/else"));
        QCOMPARE(seam.shown[2].text, QStringLiteral("Please select a Video first!"));
        QCOMPARE(seam.shown[2].icon, MessageIcon::Warning);
        QVERIFY(Control<QLineEdit>(form, "txtExtractPath")->text().isEmpty());
        QVERIFY(ReadRememberedFolder().isEmpty());
        QVERIFY(!Control<QPushButton>(form, "cmdThumb")->isEnabled());
    }

    void cancelledBrowseShowsCanceledAndStoresTheVideoFolder() {
        ScriptedSeam seam;
        Form1 form(seam);
        seam.fileAnswers << mVideo;
        Click(form, "cmdProjectFile");
        Click(form, "cmdExtract");  // browser cancelled
        QCOMPARE(Control<QLineEdit>(form, "txtExtractPath")->text(), QStringLiteral("Canceled"));
        QVERIFY(form.Project().ExtractFolder.isEmpty());
        QCOMPARE(ReadRememberedFolder(), mClips);
        // Nothing is counted or extracted after a cancel.
        QVERIFY(seam.Messages().isEmpty());
        QCOMPARE(form.Project().FrameCount, 0);
        QVERIFY(!Control<QPushButton>(form, "cmdThumb")->isEnabled());

        // The next browse opens at the remembered folder.
        Click(form, "cmdExtract");
        QCOMPARE(seam.shown.last().initialFolder, mClips);
    }

    void theVideosOwnFolderIsRefused() {
        ScriptedSeam seam;
        Form1 form(seam);
        seam.fileAnswers << mVideo;
        Click(form, "cmdProjectFile");
        seam.folderAnswers << mClips;
        Click(form, "cmdExtract");
        QCOMPARE(seam.Messages(),
                 QStringList{QStringLiteral("You cannot Extract in the Project Folder!\r\n"
                                            "Please Choose Another Destination Folder")});
        QVERIFY(Control<QLineEdit>(form, "txtExtractPath")->text().isEmpty());
        QCOMPARE(form.Project().ExtractFolder, mClips);
        QVERIFY(Control<QPushButton>(form, "cmdDZP")->isEnabled());
        QVERIFY(!Control<QPushButton>(form, "cmdThumb")->isEnabled());
        QVERIFY(Frames(mClips).isEmpty());
    }

    void aFolderDifferingOnlyInCaseIsAcceptedAndFramesAreExtracted() {
        ScriptedSeam seam;
        Form1 form(seam);
        seam.fileAnswers << mVideo;
        Click(form, "cmdProjectFile");
        const QString target = NewFolder(QStringLiteral("clips"));
        seam.folderAnswers << target;
        // The window must stay live while ffmpeg runs.
        int ticks = 0;
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, [&ticks] { ++ticks; });
        heartbeat.start(5);
        Click(form, "cmdExtract");
        heartbeat.stop();

        QCOMPARE(seam.Messages(),
                 QStringList{QStringLiteral("Extracting Video. Please be patient!")});
        QCOMPARE(seam.shown.last().icon, MessageIcon::Information);
        QCOMPARE(Control<QLineEdit>(form, "txtExtractPath")->text(), target);
        QCOMPARE(form.Project().ExtractFolder, target);
        QCOMPARE(form.Project().FrameCount, 30);
        QCOMPARE(form.Project().AnimationDuration, 1000);
        const QStringList frames = Frames(target);
        QCOMPARE(frames.size(), 30);
        QCOMPARE(frames.first(), QStringLiteral("My_Clip_00001.jpg"));
        QCOMPARE(frames.last(), QStringLiteral("My_Clip_00030.jpg"));
        QVERIFY(Control<QPushButton>(form, "cmdThumb")->isEnabled());
        QVERIFY(Control<QPushButton>(form, "cmdAnimImage")->isEnabled());
        QVERIFY(!Control<QPushButton>(form, "cmdDZP")->isEnabled());
        QCOMPARE(Control<QProgressBar>(form, "ProgressBar1")->value(), 100);
        QVERIFY2(ticks > 0, "no event was served while ffmpeg ran");
    }

    void theParticleNameAtExtractionNamesTheFrames() {
        ScriptedSeam seam;
        Form1 form(seam);
        seam.fileAnswers << mVideo;
        Click(form, "cmdProjectFile");
        Control<QLineEdit>(form, "txtParticleName")->setText(QStringLiteral("50% Fire"));
        const QString target = NewFolder(QStringLiteral("percent"));
        seam.folderAnswers << target;
        Click(form, "cmdExtract");
        const QStringList frames = Frames(target);
        QCOMPARE(frames.size(), 30);
        QCOMPARE(frames.first(), QStringLiteral("50%_Fire_00001.jpg"));
    }

    void namesThatCannotNameTheFramesAreRefusedBeforeExtraction() {
        ScriptedSeam seam;
        Form1 form(seam);
        seam.fileAnswers << mVideo;
        Click(form, "cmdProjectFile");
        const QString target = NewFolder(QStringLiteral("refused-names"));
        const QString nameOf = QStringLiteral("The particle name names the frame files and ");
        for (const auto& [name, refusal] :
             {std::pair{QStringLiteral("a/b"), nameOf + QStringLiteral("cannot contain \"/\".")},
              std::pair{QStringLiteral("火花"),
                        nameOf + QStringLiteral("can only hold Western European letters:\r\n火花")},
              std::pair{
                  QString(250, u'x'),
                  QStringLiteral("The particle name is too long to name the frame files.")}}) {
            seam.shown.clear();
            Control<QLineEdit>(form, "txtParticleName")->setText(name);
            seam.folderAnswers << target;
            Click(form, "cmdExtract");
            QCOMPARE(seam.Messages(), QStringList{refusal});
            QCOMPARE(seam.shown.last().icon, MessageIcon::Warning);
            QVERIFY(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
            QVERIFY(!Control<QPushButton>(form, "cmdThumb")->isEnabled());
        }
        // Quotes, "$", backticks and a leading "-" are only characters here.
        seam.shown.clear();
        Control<QLineEdit>(form, "txtParticleName")->setText(QStringLiteral("-\"q\" $HOME `x`"));
        seam.folderAnswers << target;
        Click(form, "cmdExtract");
        QCOMPARE(Frames(target).size(), 30);
        QCOMPARE(Frames(target).first(), QStringLiteral("-\"q\"_$HOME_`x`_00001.jpg"));
    }

    void missingFfmpegIsReportedAndEnablesNothing() {
        qputenv("SPARKLOOM_FFMPEG", QByteArray("/nonexistent/ffmpeg"));
        ScriptedSeam seam;
        Form1 form(seam);
        seam.fileAnswers << mVideo;
        Click(form, "cmdProjectFile");
        seam.folderAnswers << NewFolder(QStringLiteral("no-ffmpeg"));
        Click(form, "cmdExtract");
        // No "be patient" notice for work that cannot start.
        QCOMPARE(seam.Messages(),
                 QStringList{QStringLiteral("ffmpeg was not found beside Sparkloom nor on the "
                                            "PATH. Please install ffmpeg.")});
        QCOMPARE(seam.shown.last().icon, MessageIcon::Warning);
        QVERIFY(!Control<QPushButton>(form, "cmdThumb")->isEnabled());
        QVERIFY(!Control<QPushButton>(form, "cmdAnimImage")->isEnabled());
        // Still usable: the next attempt with ffmpeg present works.
        qunsetenv("SPARKLOOM_FFMPEG");
        const QString target = NewFolder(QStringLiteral("after-missing"));
        seam.folderAnswers << target;
        Click(form, "cmdExtract");
        QCOMPARE(Frames(target).size(), 30);
        QVERIFY(Control<QPushButton>(form, "cmdThumb")->isEnabled());
    }

    void aVideoOfRandomBytesIsReported() {
        const QString junk = mClips + QStringLiteral("/junk.mp4");
        {
            QFile file(junk);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QByteArray bytes(64 * 1024, '\0');
            for (int i = 0; i < bytes.size(); ++i) {
                bytes[i] = static_cast<char>((i * 7919 + 13) % 251);
            }
            file.write(bytes);
        }
        ScriptedSeam seam;
        Form1 form(seam);
        seam.fileAnswers << junk;
        Click(form, "cmdProjectFile");
        const QString target = NewFolder(QStringLiteral("junk-out"));
        seam.folderAnswers << target;
        Click(form, "cmdExtract");
        QCOMPARE(seam.Messages().size(), 2);
        QVERIFY2(seam.Messages()[1].startsWith(QStringLiteral("The video could not be read.\n") +
                                               junk + QStringLiteral(": ")),
                 qPrintable(seam.Messages()[1]));
        QCOMPARE(seam.shown.last().icon, MessageIcon::Warning);
        QVERIFY(Frames(target).isEmpty());
        QVERIFY(!Control<QPushButton>(form, "cmdThumb")->isEnabled());
    }

    // The two questions before any frame is written: frames of this name left by
    // an earlier extraction, and a clip longer than a package holds (here 10
    // frames, with MaxFiles 16). Cancel writes nothing; OK goes on as asked.
    void questionsBeforeExtracting_data() {
        QTest::addColumn<bool>("stale");
        QTest::addColumn<bool>("agree");
        QTest::addColumn<int>("framesAfter");
        QTest::newRow("stale frames, OK") << true << true << 30;
        QTest::newRow("stale frames, Cancel") << true << false << 45;
        QTest::newRow("too many frames, OK") << false << true << 10;
        QTest::newRow("too many frames, Cancel") << false << false << 0;
    }
    void questionsBeforeExtracting() {
        QFETCH(bool, stale);
        QFETCH(bool, agree);
        QFETCH(int, framesAfter);
        ScriptedSeam seam;
        Form1 form(seam);
        if (!stale) {
            form.Project().MaxFiles = 16;
        }
        const QString target = NewFolder(QStringLiteral("asked-%1").arg(QTest::currentDataTag()));
        if (stale) {
            for (int frame = 1; frame <= 45; ++frame) {
                QVERIFY(test::WriteFile(
                    target + QStringLiteral("/My_Clip_%1.jpg").arg(frame, 5, 10, QChar(u'0')),
                    "old"));
            }
            QVERIFY(test::WriteFile(target + QStringLiteral("/notes.txt"), "mine"));
        }
        seam.fileAnswers << mVideo;
        Click(form, "cmdProjectFile");
        seam.messageAnswers << MessageAnswer::Ok  // "be patient" comes after the stale question
                            << (agree ? MessageAnswer::Ok : MessageAnswer::Cancel);
        if (stale) {
            seam.messageAnswers.swapItemsAt(0, 1);
        }
        seam.folderAnswers << target;
        Click(form, "cmdExtract");

        const QStringList messages = seam.Messages();
        const QString question =
            stale ? QStringLiteral(
                        "This folder already holds 45 frames named My_Clip_#####.jpg "
                        "from an earlier extraction.\r\nThey will be deleted before "
                        "the new frames are written.\r\nThe 1 other files in the "
                        "folder are kept and will be packed with the new frames.")
                  : QStringLiteral(
                        "The video has 30 frames, but a package holds at most 10.\r\n"
                        "Extract only the first 10 frames?");
        QCOMPARE(messages.value(stale ? 0 : 1), question);
        QCOMPARE(messages.size(), stale && !agree ? 1 : 2);
        QCOMPARE(Frames(target).size(), framesAfter);
        QCOMPARE(Control<QPushButton>(form, "cmdThumb")->isEnabled(), agree);
        if (agree) {
            QVERIFY(test::ReadAll(target + QStringLiteral("/My_Clip_00001.jpg"))
                        .startsWith("\xFF\xD8"));
            QCOMPARE(form.Project().FrameCount, framesAfter);
            QCOMPARE(form.Project().AnimationDuration, framesAfter == 10 ? 333 : 1000);
        } else if (stale) {
            QCOMPARE(test::ReadAll(target + QStringLiteral("/My_Clip_00001.jpg")),
                     QByteArray("old"));
        }
        if (stale) {
            QCOMPARE(test::ReadAll(target + QStringLiteral("/notes.txt")), QByteArray("mine"));
        }
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestForm1Extract)
#include "test_form1_extract.moc"
