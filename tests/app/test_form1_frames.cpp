// The "Frames…" dialog as a person uses it in the Qt window: a 60 fps clip,
// Real speed and a width picked, the live estimate, OK, and the extraction
// that follows the choice.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/Form1.h"
#include "app/FramesDialog.h"
#include "support/GuiTestMain.h"
#include "support/ScriptedSeam.h"
#include "support/TestSupport.h"

using namespace sparkloom;
using sparkloom::test::ScriptedSeam;

class TestForm1Frames : public QObject {
    Q_OBJECT

    template <typename T>
    static T* Control(QWidget& parent, const char* name) {
        return parent.findChild<T*>(QString::fromLatin1(name));
    }

private slots:
    void realSpeedAndWidthChosenInTheDialogShapeTheFrames() {
        QTemporaryDir root;
        const QString video = root.path() + QStringLiteral("/Fast Clip.mp4");
        int code = -1;
        test::RunTool(QStringLiteral("ffmpeg"),
                      {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                       "testsrc2=size=320x240:rate=60:duration=2,noise=alls=18:allf=t+u", "-c:v",
                       "mpeg4", "-q:v", "4", video},
                      &code);
        QCOMPARE(code, 0);
        const QString frames = root.path() + QStringLiteral("/frames");
        QVERIFY(QDir().mkpath(frames));

        ScriptedSeam seam;
        Form1 form(seam);
        form.show();
        auto* framesButton = Control<QPushButton>(form, "cmdFrames");
        QVERIFY(!framesButton->isEnabled());
        QCOMPARE(framesButton->text(), QStringLiteral("Fra&mes\u2026"));
        form.ChooseVideo(video);
        QVERIFY(framesButton->isEnabled());
        QCOMPARE(Control<QPlainTextEdit>(form, "txtStatus")->toPlainText(),
                 QStringLiteral("This clip runs at 60 frames a second and the host plays 30: "
                                "Frames\u2026 \u2192 Real speed keeps its pace."));

        QString estimateShown;
        bool seen = false;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<FramesDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog != nullptr);
            seen = true;
            QCOMPARE(Control<QLabel>(*dialog, "lblClip")->text(),
                     QStringLiteral("320 \u00d7 240, 60 frames a second, 0:02.00, 120 frames"));
            Control<QComboBox>(*dialog, "cboRate")->setCurrentIndex(1);
            auto* width = Control<QComboBox>(*dialog, "cboWidth");
            width->lineEdit()->selectAll();
            QTest::keyClicks(width->lineEdit(), QStringLiteral("160"));
            auto* estimate = Control<QLabel>(*dialog, "lblEstimate");
            QTRY_VERIFY_WITH_TIMEOUT(estimate->text().contains(QStringLiteral("MB")), 60000);
            estimateShown = estimate->text();
            if (const QByteArray shot = qgetenv("SPARKLOOM_SCREENSHOT"); !shot.isEmpty()) {
                dialog->grab().save(QString::fromLocal8Bit(shot));
            }
            QTest::mouseClick(Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
        });
        QTest::mouseClick(framesButton, Qt::LeftButton);
        QVERIFY(seen);
        QVERIFY2(estimateShown.startsWith(QStringLiteral("60 frames of 160 \u00d7 120, about ")),
                 qPrintable(estimateShown));
        QVERIFY(estimateShown.endsWith(QStringLiteral("; plays 2.0 s in the host")));
        QCOMPARE(Control<QPlainTextEdit>(form, "txtStatus")->toPlainText(),
                 QStringLiteral("Frames: 30 a second, 160 wide"));

        seam.folderAnswers << frames;
        QTest::mouseClick(Control<QPushButton>(form, "cmdExtract"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!form.Extracting() && form.Project().FrameCount > 0, 60000);
        QCOMPARE(form.Project().FrameCount, 60);
        QCOMPARE(form.Project().AnimationDuration, 2000);
        const QImage first(frames + QStringLiteral("/Fast_Clip_00001.jpg"));
        QCOMPARE(first.size(), QSize(160, 120));
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestForm1Frames)
#include "test_form1_frames.moc"
