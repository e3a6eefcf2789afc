// How long the window's event loop goes without a turn while it does its two
// long jobs: extracting a 10 s 640×360 clip through ffmpeg, and packing a
// frames folder of about 250 MB. A 0 ms timer fires on every turn of the loop;
// the longest time between two of its firings is the longest the window could
// not repaint or take a click. The aim is under 100 ms; the test fails only
// above 250 ms, which a loaded machine must never reach.
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>

#include "app/Form1.h"
#include "support/GuiTestMain.h"
#include "support/Processes.h"
#include "support/ScriptedSeam.h"
#include "support/TestSupport.h"
#include "support/WindowDriver.h"
#include "zip/Zipper.h"

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

constexpr double kLimitMs = 250;

// Records the time between consecutive turns of the event loop.
class LoopTurns : public QObject {
public:
    LoopTurns() {
        mTimer.setInterval(0);
        connect(&mTimer, &QTimer::timeout, this, &LoopTurns::Turn);
    }
    void Start() {
        mGaps.clear();
        mClock.start();
        mLast = 0;
        mTimer.start();
    }
    void Stop() {
        Turn();
        mTimer.stop();
    }
    double MaxMs() const {
        return mGaps.isEmpty() ? 0 : *std::max_element(mGaps.begin(), mGaps.end()) / 1e6;
    }
    double PercentileMs(double p) const {
        QList<qint64> sorted = mGaps;
        std::sort(sorted.begin(), sorted.end());
        return sorted.isEmpty()
                   ? 0
                   : sorted[qMin(sorted.size() - 1, qsizetype(p * sorted.size()))] / 1e6;
    }
    qsizetype Turns() const { return mGaps.size(); }
    QString Summary() const {
        return QStringLiteral("%1 turns, longest gap %2 ms, 99th percentile %3 ms, in %4 s")
            .arg(Turns())
            .arg(MaxMs(), 0, 'f', 1)
            .arg(PercentileMs(0.99), 0, 'f', 1)
            .arg(mClock.elapsed() / 1000.0, 0, 'f', 1);
    }

private:
    void Turn() {
        const qint64 now = mClock.nsecsElapsed();
        mGaps << now - mLast;
        mLast = now;
    }
    QTimer mTimer;
    QElapsedTimer mClock;
    qint64 mLast = 0;
    QList<qint64> mGaps;
};

}  // namespace

class TestResponsiveness : public QObject {
    Q_OBJECT

    QTemporaryDir mRoot;

private slots:
    void extractingAndPackingKeepTheWindowLive() {
        QVERIFY(mRoot.isValid());
        const QString video = mRoot.path() + QStringLiteral("/Clip.mp4");
        QVERIFY(test::MakeClip(video, 10, QStringLiteral("640x360")));
        const QString frames = mRoot.path() + QStringLiteral("/frames");
        const QString out = mRoot.path() + QStringLiteral("/out");
        QVERIFY(QDir().mkpath(frames) && QDir().mkpath(out));

        ScriptedSeam seam;
        Form1 form(seam);
        form.show();  // painting counts: the window repaints while it works
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        LoopTurns turns;

        seam.fileAnswers << video;
        Click(form, "cmdProjectFile");
        seam.folderAnswers << frames;
        turns.Start();
        Click(form, "cmdExtract");
        turns.Stop();
        const double extracting = turns.MaxMs();
        qInfo("extracting 300 frames of 640x360: %s", qPrintable(turns.Summary()));
        QCOMPARE(form.Project().FrameCount, 300);
        QVERIFY(Control<QPushButton>(form, "cmdThumb")->isEnabled());

        // 24 files of 10 MB besides the frames: about 250 MB to read, deflate and write.
        for (int i = 0; i < 24; ++i) {
            QVERIFY(WriteNoise(frames + QStringLiteral("/Noise%1.bin").arg(i, 2, 10, QChar(u'0')),
                               10 << 20, i + 1));
        }
        seam.fileAnswers << frames + QStringLiteral("/Clip_00002.jpg");
        Click(form, "cmdThumb");
        seam.fileAnswers << frames + QStringLiteral("/Clip_00001.jpg");
        Click(form, "cmdAnimImage");
        Control<QComboBox>(form, "cboType")->setCurrentIndex(0);
        Control<QComboBox>(form, "cboCat")->setCurrentIndex(1);

        QEventLoop packing;
        ZipperEventLog events(form.ArchiveBuilder());
        events.onEnd = [&packing] { packing.quit(); };
        QTimer::singleShot(120000, &packing, &QEventLoop::quit);
        seam.fileAnswers << out + QStringLiteral("/Clip.dzp");
        turns.Start();
        Click(form, "cmdDZP");  // the walk and the templates run inside the click
        if (form.ArchiveBuilder().Zipping()) {
            packing.exec();
        }
        turns.Stop();
        const double packed = turns.MaxMs();
        const double megabytes = QFileInfo(out + QStringLiteral("/Clip.dzp")).size() / 1048576.0;
        qInfo("packing %.0f MB: %s", megabytes, qPrintable(turns.Summary()));
        QCOMPARE(Control<QPlainTextEdit>(form, "txtStatus")->toPlainText(),
                 QStringLiteral("Success"));
        QVERIFY(megabytes > 240);

        QVERIFY2(extracting < kLimitMs, qPrintable(QString::number(extracting)));
        QVERIFY2(packed < kLimitMs, qPrintable(QString::number(packed)));
    }

    // From the Cancel click, or the close, to ffmpeg being gone: the aims are
    // 1 s and 2 s; the test fails only above 5 s. The loop keeps turning meanwhile.
    void stoppingAnExtractionIsQuick_data() {
        QTest::addColumn<bool>("close");
        QTest::newRow("Cancel") << false;
        QTest::newRow("close") << true;
    }
    void stoppingAnExtractionIsQuick() {
        QFETCH(bool, close);
        const QString video = mRoot.path() + QStringLiteral("/Clip.mp4");
        if (!QFileInfo::exists(video)) {
            QVERIFY(test::MakeClip(video, 10, QStringLiteral("640x360")));
        }
        const QString slow = mRoot.path() + QStringLiteral("/slow-ffmpeg");
        QVERIFY(WriteSlowFfmpeg(slow));
        qputenv("SPARKLOOM_FFMPEG", QFile::encodeName(slow));
        const QString frames = mRoot.path() + (close ? QStringLiteral("/closed") : "/cancelled");
        QVERIFY(QDir().mkpath(frames));

        ScriptedSeam seam;
        Form1 form(seam);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        seam.fileAnswers << video;
        Click(form, "cmdProjectFile");
        LoopTurns turns;
        QElapsedTimer sinceStop;
        QTimer actor;
        connect(&actor, &QTimer::timeout, [&] {
            if (ExtractingChild() != 0 && QDir(frames).count() > 5) {
                actor.stop();
                turns.Start();
                sinceStop.start();
                close ? (void)form.close() : Click(form, "Command3");
            }
        });
        actor.start(5);
        seam.folderAnswers << frames;
        Click(form, "cmdExtract");
        const qint64 goneMs = sinceStop.isValid() ? sinceStop.elapsed() : -1;
        turns.Stop();
        qunsetenv("SPARKLOOM_FFMPEG");
        qInfo("%s: ffmpeg gone %lld ms after the stop; %s", close ? "close" : "Cancel", goneMs,
              qPrintable(turns.Summary()));
        QVERIFY2(goneMs >= 0, "ffmpeg was not seen extracting");
        QCOMPARE(ExtractingChild(), 0);
        QVERIFY2(goneMs < 5000, qPrintable(QString::number(goneMs)));
        QVERIFY2(turns.MaxMs() < kLimitMs, qPrintable(QString::number(turns.MaxMs())));
        QCOMPARE(Status(form), QStringLiteral("Canceled"));
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestResponsiveness)
#include "test_responsiveness.moc"
