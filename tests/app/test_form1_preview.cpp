// The "Preview" dialog as a person uses it in the Qt window: the frames play,
// keys and the strip step through them, the thumbnail and the first frame are
// picked there instead of in the file dialogs, and the package built carries
// exactly those, read back by an independent reader.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/PreviewDialog.h"
#include "support/GuiTestMain.h"
#include "support/TestSupport.h"
#include "support/WindowDriver.h"

using namespace sparkloom;
using namespace sparkloom::test;

class TestForm1Preview : public QObject {
    Q_OBJECT

private slots:
    void framesPlayAndThePicksBuildThePackage() {
        QTemporaryDir root;
        QVERIFY(QDir().mkpath(root.path() + QStringLiteral("/Clips")));
        const QString video = root.path() + QStringLiteral("/Clips/Fire.mp4");
        QVERIFY(MakeClip(video, 2, QStringLiteral("320x180")));
        const QString frames = root.path() + QStringLiteral("/frames");
        const QString out = root.path() + QStringLiteral("/out");
        QVERIFY(QDir().mkpath(frames) && QDir().mkpath(out));

        ScriptedSeam seam;
        Form1 form(seam);
        form.show();
        auto* preview = Control<QPushButton>(form, "cmdPreview");
        QCOMPARE(preview->text(), QStringLiteral("Pre&view\u2026"));
        seam.fileAnswers << video;
        Click(form, "cmdProjectFile");
        QVERIFY(!preview->isEnabled());
        seam.folderAnswers << frames;
        Click(form, "cmdExtract");
        QCOMPARE(form.Project().FrameCount, 60);
        QVERIFY(preview->isEnabled());

        bool seen = false;
        QTimer::singleShot(0, this, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            QVERIFY(qobject_cast<PreviewDialog*>(dialog) != nullptr);
            seen = true;
            auto* line = Control<QLabel>(*dialog, "lblFrame");
            auto* picture = Control<QWidget>(*dialog, "picFrame");
            QCOMPARE(line->text(), QStringLiteral("Fire_00001.jpg, 0:00.00 of 0:02.00"));
            // The first frame is drawn: the middle of the test pattern is not black.
            QTRY_VERIFY(picture->grab().toImage().pixelColor(picture->rect().center()) !=
                        QColor(Qt::black));

            Click(*dialog, "cmdPlay");
            QCOMPARE(Control<QPushButton>(*dialog, "cmdPlay")->text(), QStringLiteral("&Pause"));
            QTRY_VERIFY(
                line->text().startsWith(QStringLiteral("Fire_0001")));  // a third of a second
            Click(*dialog, "cmdPlay");
            QCOMPARE(Control<QPushButton>(*dialog, "cmdPlay")->text(), QStringLiteral("&Play"));

            for (const Qt::Key key : {Qt::Key_End, Qt::Key_Left, Qt::Key_Left}) {
                QTest::keyClick(dialog, key);
            }
            QCOMPARE(line->text(), QStringLiteral("Fire_00058.jpg, 0:01.90 of 0:02.00"));
            QCOMPARE(Control<QSlider>(*dialog, "sldFrame")->value(), 57);
            Click(*dialog, "cmdThumbnail");

            QTest::keyClick(dialog, Qt::Key_Home);
            QTest::keyClick(dialog, Qt::Key_PageDown);
            QCOMPARE(line->text(), QStringLiteral("Fire_00031.jpg, 0:01.00 of 0:02.00"));
            // The strip's fifth cell stands a stride after the frame's own.
            auto* strip = Control<QWidget>(*dialog, "picStrip");
            const int cell = strip->width() / kPreviewStripCells;
            QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(cell * 4 + cell / 2, 20));
            QCOMPARE(line->text(), QStringLiteral("Fire_00036.jpg, 0:01.17 of 0:02.00"));
            QTRY_VERIFY(strip->grab().toImage().pixelColor(strip->rect().center()) !=
                        QColor(Qt::black));
            Click(*dialog, "cmdFirstFrame");
            if (const QByteArray shot = qgetenv("SPARKLOOM_SCREENSHOT"); !shot.isEmpty()) {
                dialog->grab().save(QString::fromLocal8Bit(shot));
            }
            Click(*dialog, "cmdClose");
        });
        Click(form, "cmdPreview");
        QVERIFY(seen);
        QVERIFY(!QApplication::activeModalWidget());

        // As the choosers leave it after picking those two files.
        QCOMPARE(Control<QLineEdit>(form, "txtJPGThumb")->text(), QStringLiteral("Fire_00058.jpg"));
        QCOMPARE(Control<QLineEdit>(form, "txtAnimImage")->text(),
                 QStringLiteral("Fire_00036.jpg"));
        const QByteArray thumbnail = ReadAll(frames + QStringLiteral("/Fire_00058.jpg"));
        QCOMPARE(ReadAll(frames + QStringLiteral("/Thumb.jpg")), thumbnail);
        QCOMPARE(ReadAll(frames + QStringLiteral("/Thumb.png")), thumbnail);
        QVERIFY(Control<QPushButton>(form, "cmdDZP")->isEnabled());

        Control<QComboBox>(form, "cboType")->setCurrentIndex(0);
        Control<QComboBox>(form, "cboCat")->setCurrentIndex(1);
        seam.fileAnswers << out + QStringLiteral("/Fire");
        Click(form, "cmdDZP");
        QVERIFY(WaitUntilIdle(form));
        QCOMPARE(Status(form), QStringLiteral("Success"));
        QList<ArchiveEntry> entries;
        QVERIFY(ReadArchive(out + QStringLiteral("/Fire.dzp"), entries));
        QByteArray thumbEntry, clt;
        for (const ArchiveEntry& entry : entries) {
            if (entry.rawName == ".\\Thumb.jpg") {
                thumbEntry = entry.data;
            } else if (entry.rawName == ".\\TitleTemplate.clt") {
                clt = entry.data;
            }
        }
        QCOMPARE(thumbEntry, thumbnail);
        QCOMPARE(
            AttributeOf(clt, QStringLiteral("ParticleAttribExt"), QStringLiteral("AnimationImage")),
            QStringLiteral("Fire_00036.jpg"));
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestForm1Preview)
#include "test_form1_preview.moc"
