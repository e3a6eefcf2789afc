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

    QTemporaryDir mRoot;
    QString mClip;
    QString mWorking;  // the working folder ffmpeg inherits
    int mCase = 0;

    QString NewFolder(const QString& name) {
        const QString path = mRoot.path() + QStringLiteral("/%1/%2").arg(++mCase).arg(name);
        QDir().mkpath(path);
        return path;
    }

    // Builds the prepared window into package; the package's entries by raw name.
    static QMap<QByteArray, QByteArray> Build(Form1& form, ScriptedSeam& seam,
                                              const QString& package) {
        seam.shown.clear();
        seam.fileAnswers << package;
        Click(form, "cmdDZP");
        QMap<QByteArray, QByteArray> entries;
        QList<ArchiveEntry> read;
        if (WaitUntilIdle(form) && Status(form) == QStringLiteral("Success") &&
            ReadArchive(WithPackageName(package), read)) {
            for (const ArchiveEntry& entry : read) {
                entries.insert(entry.rawName, entry.data);
            }
        }
        return entries;
    }

    static QString WithPackageName(const QString& path) {
        return path.contains(u'.') ? path : path + QStringLiteral(".dzp");
    }

private slots:
    void initTestCase() {
        QVERIFY(mRoot.isValid());
        mClip = NewFolder(QStringLiteral("clip")) + QStringLiteral("/clip.mp4");
        QVERIFY(MakeClip(mClip));
        mWorking = NewFolder(QStringLiteral("working"));
        QVERIFY(QDir::setCurrent(mWorking));
    }

    void cleanupTestCase() {
        // Not one of the baits was run, anywhere.
        QDirIterator all(mRoot.path(), {QStringLiteral("canary*")}, QDir::Files,
                         QDirIterator::Subdirectories);
        QVERIFY2(!all.hasNext(), qPrintable(all.hasNext() ? all.next() : QString()));
        QVERIFY(QDir(mWorking).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
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
