// The video and the frames folder under names that mean something to a shell,
// to ffmpeg (its numbering, its protocols, its options) or to XML: extracted,
// packed and written into the templates exactly; a shell never sees them.
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include "fault/FaultSupport.h"
#include "support/GuiTestMain.h"

using namespace sparkloom;
using namespace sparkloom::test;

class TestFaultPaths : public QObject {
    Q_OBJECT

    BaitSandbox mSandbox;
    QString mClip;

    QString NewFolder(const QString& name) { return mSandbox.NewFolder(name); }
    static QMap<QByteArray, QByteArray> Build(Form1& form, ScriptedSeam& seam,
                                              const QString& package) {
        return BuildAndRead(form, seam, package);
    }

private slots:
    void initTestCase() {
        QCOMPARE(mSandbox.Prepare(), QString());
        mClip = mSandbox.Clip();
    }

    void cleanupTestCase() {
        // Not one of the baits was run, anywhere.
        QCOMPARE(mSandbox.BaitsThatRan(), QString());
    }

    // The video and the frames folder under names full of meaning elsewhere:
    // frames named exactly, a complete package, the folder written back exactly.
    void videoAndFolderPaths_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("file");
        QTest::newRow("quotes") << "say \"it\" 'now'"
                                << "-lead \"q\" 'x'.mp4";
        QTest::newRow("shell") << kShellBait << kShellBait + QStringLiteral(".mp4");
        QTest::newRow("percent") << "100% %d %05d %%"
                                 << "50% %s %n %d.mp4";
        QTest::newRow("line ends") << "new\nline\r"
                                   << "a\nb\r\nc.mp4";
        QTest::newRow("non-Latin") << "火花 ščř"
                                   << "видео 動画.mp4";
        QTest::newRow("protocol-like") << "file:"
                                       << "concat:http:x|y.mp4";
        QTest::newRow("dashes") << "-"
                                << "-i.mp4";
        QTest::newRow("250 bytes") << QString(250, u'd') << QString(246, u'v') + ".mp4";
        QTest::newRow("XML") << "<a> & \"b\""
                             << "<c>&amp;.mp4";
    }
    void videoAndFolderPaths() {
        QFETCH(QString, folder);
        QFETCH(QString, file);
        const QString video = NewFolder(folder) + u'/' + file;
        QVERIFY(QFile::copy(mClip, video));
        const QString frames = NewFolder(folder);
        ScriptedSeam seam;
        Form1 form(seam);
        QCOMPARE(PrepareBuild(form, seam, video, frames, QStringLiteral("Fire")), QString());
        QCOMPARE(form.Project().FrameCount, 30);
        QCOMPARE(FrameNamesIn(frames), ExpectedFrames(QStringLiteral("Fire")));

        const auto entries = Build(form, seam, NewFolder(folder) + QStringLiteral("/Fire"));
        QCOMPARE(Status(form), QStringLiteral("Success"));
        const Snapshot sources = SnapshotOf(frames);
        QCOMPARE(entries.size(), sources.size());
        for (auto it = sources.cbegin(); it != sources.cend(); ++it) {
            QVERIFY2(entries.value(EntryNameOf(it.key())) == it.value(), qPrintable(it.key()));
        }
        QCOMPARE(AttributeOf(entries.value(".\\TitleTemplate.clt"), QStringLiteral("Extension"),
                             QStringLiteral("ReferencePath")),
                 frames + u'/');
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestFaultPaths)
#include "test_fault_paths.moc"
