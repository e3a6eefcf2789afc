// Particle names and package names that mean something to a shell, to ffmpeg's
// numbering or to a file system. Each is either carried exactly (frame files,
// package entries, template values) or refused with a message that says why; a
// shell never sees any of them.
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>
#include <cerrno>

#include "fault/FaultSupport.h"
#include "support/GuiTestMain.h"

using namespace sparkloom;
using namespace sparkloom::test;

class TestFaultNames : public QObject {
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

    // Particle names name the frame files and the package's entries. "raw" is the
    // expected frame prefix in the package's 8-bit names; empty when the name
    // must be refused, with a message holding "refusal".
    void particleNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("quotes") << "\"Fire\" 'Ice'" << QByteArray("\"Fire\"_'Ice'") << "";
        QTest::newRow("shell") << kShellBait << kShellBait.toLatin1().replace(' ', '_') << "";
        QTest::newRow("percent") << "100% %d %05d %%" << QByteArray("100%_%d_%05d_%%") << "";
        QTest::newRow("leading dash") << "-y -i x" << QByteArray("-y_-i_x") << "";
        QTest::newRow("newline") << "Fire\nIce" << QByteArray("Fire\nIce") << "";
        QTest::newRow("CR LF") << "Fire\r\nIce" << QByteArray("Fire\r\nIce") << "";
        QTest::newRow("tab") << "Fire\tIce" << QByteArray("Fire\tIce") << "";
        QTest::newRow("Western letters") << QStringLiteral("Café Œuvre €5")
                                         << QByteArray(
                                                "Caf\xe9_\x8cuvre_\x80"
                                                "5")
                                         << "";
        QTest::newRow("245 bytes") << QString(245, u'x') << QByteArray(245, 'x') << "";
        QTest::newRow("246 bytes") << QString(246, u'x') << QByteArray() << "too long";
        QTest::newRow("246 bytes of UTF-8") << QString(123, u'é') << QByteArray() << "too long";
        QTest::newRow("non-Latin") << QStringLiteral("火花") << QByteArray() << "Western European";
        QTest::newRow("lone surrogate")
            << QString(QChar(0xD800)) + "x" << QByteArray() << "Western European";
        QTest::newRow("slash") << "a/b" << QByteArray() << "\"/\"";
        // Frames named ".…" are hidden files, which no package takes.
        QTest::newRow("leading dot") << ".Fire" << QByteArray() << "hidden";
    }
    void particleNames() {
        QFETCH(QString, name);
        QFETCH(QByteArray, raw);
        QFETCH(QString, refusal);
        const bool mayRefuse = !refusal.isEmpty();
        const bool mustRefuse = raw.isEmpty();
        ScriptedSeam seam;
        Form1 form(seam);
        seam.fileAnswers << mClip;
        Click(form, "cmdProjectFile");
        Control<QLineEdit>(form, "txtParticleName")->setText(name);
        QCOMPARE(Control<QLineEdit>(form, "txtParticleName")->text(), name);
        const QString frames = NewFolder(QStringLiteral("frames"));
        seam.folderAnswers << frames;
        Click(form, "cmdExtract");

        const bool refused =
            seam.Messages().size() == 1 && seam.shown.last().icon == MessageIcon::Warning;
        if (refused && mayRefuse) {
            QVERIFY2(seam.Messages()[0].contains(refusal), qPrintable(seam.Messages()[0]));
            QVERIFY(QDir(frames).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
            QVERIFY(!Control<QPushButton>(form, "cmdThumb")->isEnabled());
            return;
        }
        QVERIFY2(!mustRefuse, "not refused");
        QCOMPARE(seam.Messages(),
                 QStringList{QStringLiteral("Extracting Video. Please be patient!")});
        const QString prefix = QString(name).replace(u' ', u'_');
        QCOMPARE(FrameNamesIn(frames), ExpectedFrames(prefix));

        seam.fileAnswers << frames + u'/' + prefix + QStringLiteral("_00002.jpg");
        Click(form, "cmdThumb");
        seam.fileAnswers << frames + u'/' + prefix + QStringLiteral("_00001.jpg");
        Click(form, "cmdAnimImage");
        Control<QComboBox>(form, "cboType")->setCurrentIndex(0);
        Control<QComboBox>(form, "cboCat")->setCurrentIndex(1);
        const auto entries = Build(form, seam, NewFolder(QStringLiteral("out")) + "/Fire.dzp");
        const QString built = Status(form);
        if (mayRefuse && built != QStringLiteral("Success")) {
            // Refused at the build instead: a warning, no package.
            QCOMPARE(seam.Messages().size(), 1);
            QVERIFY2(seam.Messages()[0].contains(refusal), qPrintable(seam.Messages()[0]));
            return;
        }
        QCOMPARE(built, QStringLiteral("Success"));
        QCOMPARE(entries.size(), 34);
        for (int i = 1; i <= 30; ++i) {
            const QByteArray entry =
                ".\\" + raw + QStringLiteral("_%1.jpg").arg(i, 5, 10, QChar(u'0')).toLatin1();
            QVERIFY2(entries.value(entry) == ReadAll(frames + u'/' + ExpectedFrames(prefix)[i - 1]),
                     entry.constData());
        }
        QCOMPARE(AttributeOf(entries.value(".\\TitleTemplate.xml"), QStringLiteral("TEMPLATE"),
                             QStringLiteral("ALIAS")),
                 name);
        QCOMPARE(AttributeOf(entries.value(".\\TitleTemplate.clt"),
                             QStringLiteral("ParticleAttribExt"), QStringLiteral("AnimationImage")),
                 prefix + QStringLiteral("_00001.jpg"));
    }

    // The package's own name goes to the file system as it is, never to a shell.
    void packageNames() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = NewFolder(QStringLiteral("frames"));
        QCOMPARE(PrepareBuild(form, seam, mClip, frames, QStringLiteral("Fire")), QString());
        const QString out = NewFolder(QStringLiteral("out"));
        const int files = 34;  // 30 frames, 2 thumbnails, 2 templates
        for (const QString& name :
             {kShellBait, QStringLiteral("-rf \"q\" 'x' 100% %d"), QStringLiteral("a\nb"),
              QStringLiteral("火花 пакет"), QString(251, u'p')}) {
            const auto entries = Build(form, seam, out + u'/' + name);
            QVERIFY2(Status(form) == QStringLiteral("Success"), qPrintable(name));
            QVERIFY(QFileInfo(out + u'/' + name + QStringLiteral(".dzp")).isFile());
            QCOMPARE(entries.size(), files);
        }
        // One byte more and ".dzp" no longer fits the file system's 255: not written,
        // and the user is told.
        Build(form, seam, out + u'/' + QString(252, u'p'));
        QCOMPARE(Status(form), WithReason(QStringLiteral("Err -1 in OpenZip"), ENAMETOOLONG));
        QVERIFY(!seam.Messages().contains(QStringLiteral("Success!")));
        QCOMPARE(QDir(out).entryList(QDir::Files).size(), 5);
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestFaultNames)
#include "test_fault_names.moc"
