// The window as it opens, its banners, status box, cancel and exit.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "app/Form1.h"
#include "support/GuiTestMain.h"
#include "support/ScriptedSeam.h"
#include "zip/Zipper.h"

using namespace sparkloom;
using sparkloom::test::ScriptedSeam;

class TestForm1Window : public QObject {
    Q_OBJECT

    template <typename T>
    static T* Control(Form1& form, const char* name) {
        T* control = form.findChild<T*>(QString::fromLatin1(name));
        if (control == nullptr) {
            qFatal("no control %s", name);
        }
        return control;
    }

private slots:
    void startsWithOnlyTheFirstStepsEnabled() {
        ScriptedSeam seam;
        Form1 form(seam);
        form.show();
        QCOMPARE(form.windowTitle(), QStringLiteral("Sparkloom v1.0.1"));
        for (const char* name : {"cmdProjectFile", "Command3", "cmdExit"}) {
            QVERIFY2(Control<QPushButton>(form, name)->isEnabled(), name);
        }
        for (const char* name : {"cmdExtract", "cmdThumb", "cmdAnimImage", "cmdDZP"}) {
            QVERIFY2(!Control<QPushButton>(form, name)->isEnabled(), name);
        }
        QVERIFY(Control<QLineEdit>(form, "txtParticleName")->isEnabled());
        QVERIFY(Control<QLineEdit>(form, "txtExtractPath")->isEnabled());
        for (const char* name : {"txtVideoFile", "txtJPGThumb", "txtAnimImage"}) {
            QVERIFY2(!Control<QLineEdit>(form, name)->isEnabled(), name);
        }
        QVERIFY(!Control<QPlainTextEdit>(form, "txtStatus")->isEnabled());
        auto* bar = Control<QProgressBar>(form, "ProgressBar1");
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(form.Project().MaxFiles, 2000);
        QVERIFY(form.Project().VideoFile.isEmpty());
        QVERIFY(form.Project().ExtractFolder.isEmpty());
        QCOMPARE(form.Project().AnimationDuration, 0);
        QVERIFY(!form.ArchiveBuilder().Zipping());
        QCOMPARE(Control<QPlainTextEdit>(form, "txtStatus")->toPlainText(),
                 QStringLiteral("For FREE Templates pay us a visit by clicking on our banner :)"));
        QVERIFY(seam.shown.isEmpty());
    }

    void listsHoldTheirEntriesAndShowSelect() {
        ScriptedSeam seam;
        Form1 form(seam);
        auto* type = Control<QComboBox>(form, "cboType");
        auto* category = Control<QComboBox>(form, "cboCat");
        QCOMPARE(type->count(), 2);
        QCOMPARE(type->itemText(0), QStringLiteral("CUSTOM"));
        QCOMPARE(type->itemText(1), QStringLiteral("PRESET"));
        QCOMPARE(category->count(), 3);
        QCOMPARE(category->itemText(0), QStringLiteral("Kelvane"));
        QCOMPARE(category->itemText(1), QStringLiteral("General"));
        QCOMPARE(category->itemText(2), QStringLiteral("Sports"));
        for (QComboBox* box : {type, category}) {
            QVERIFY(box->isEditable());
            QCOMPARE(box->currentIndex(), -1);
            QCOMPARE(box->currentText(), QStringLiteral("Select"));
        }
        // Typed text stays as typed and does not join the list.
        category->setFocus();
        category->lineEdit()->selectAll();
        QTest::keyClicks(category->lineEdit(), QStringLiteral("Fireworks"));
        QTest::keyClick(category->lineEdit(), Qt::Key_Return);
        QCOMPARE(category->currentText(), QStringLiteral("Fireworks"));
        QCOMPARE(category->count(), 3);
    }

    void controlsSitWhereTheReferenceLayoutPutsThem() {
        ScriptedSeam seam;
        Form1 form(seam);
        QCOMPARE(form.size(), QSize(533, 625));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QCOMPARE(Control<QLabel>(form, "Picture1")->geometry(), QRect(0, 0, 533, 111));
        QCOMPARE(Control<QGroupBox>(form, "Frame7")->geometry(), QRect(8, 120, 257, 65));
        QCOMPARE(Control<QGroupBox>(form, "Frame7")->title(), QStringLiteral("PARTICLE NAME"));
        QVERIFY(Control<QGroupBox>(form, "Frame7")->font().bold());
        QCOMPARE(Control<QGroupBox>(form, "Frame8")->title(),
                 QStringLiteral("Folder To Extract To"));
        QCOMPARE(Control<QPushButton>(form, "cmdExtract")->geometry(), QRect(400, 24, 113, 25));
        QCOMPARE(Control<QPushButton>(form, "cmdExtract")->text(), QStringLiteral("Extract Video"));
        QCOMPARE(Control<QPushButton>(form, "Command3")->text(), QStringLiteral("&Cancel Process"));
        QCOMPARE(Control<QPushButton>(form, "cmdDZP")->text(), QStringLiteral("Build Particle"));
        QCOMPARE(Control<QPushButton>(form, "cmdExit")->text(), QStringLiteral("E&XIT"));
        QCOMPARE(Control<QPushButton>(form, "cmdExit")->geometry(), QRect(384, 488, 89, 33));
        QCOMPARE(Control<QProgressBar>(form, "ProgressBar1")->geometry(), QRect(8, 600, 513, 21));
        QCOMPARE(Control<QLabel>(form, "Image1")->geometry(), QRect(96, 408, 347, 67));
        QCOMPARE(Control<QLabel>(form, "Image1")->pixmap().size(), QSize(347, 67));
        QCOMPARE(Control<QLabel>(form, "Picture1")->toolTip(), QStringLiteral("Visit Us"));
        QCOMPARE(Control<QLabel>(form, "Image1")->toolTip(),
                 QStringLiteral("Please Click Here And Surprise Me :)"));
        QCOMPARE(Control<QLabel>(form, "Picture1")->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(Control<QLabel>(form, "Image1")->cursor().shape(), Qt::PointingHandCursor);
        // The 600 × 160 banner is stretched over the whole box.
        QCOMPARE(Control<QLabel>(form, "Picture1")->pixmap().size(), QSize(533, 111));
        const QImage banner = Control<QLabel>(form, "Picture1")->pixmap().toImage();
        QVERIFY(banner.pixelColor(532, 110) != QColor(Qt::white));
    }

    void childrenOfRedFramesKeepThePlainFont() {
        ScriptedSeam seam;
        Form1 form(seam);
        for (const char* name : {"txtParticleName", "txtExtractPath", "cmdExtract"}) {
            QWidget* control = Control<QWidget>(form, name);
            QVERIFY2(!control->font().bold(), name);
            QCOMPARE(control->font().family(), QStringLiteral("Tahoma"));
        }
        for (const char* name : {"txtParticleName", "txtExtractPath"}) {
            QCOMPARE(Control<QLineEdit>(form, name)->palette().color(QPalette::Text),
                     QColor(Qt::red));
        }
    }

    void bannersOpenTheirPagesAndAFailedOpenChangesNothing() {
        ScriptedSeam seam;
        Form1 form(seam);
        form.show();
        QTest::mouseClick(Control<QLabel>(form, "Picture1"), Qt::LeftButton);
        QTest::mouseClick(Control<QLabel>(form, "Image1"), Qt::LeftButton);
        QCOMPARE(seam.shown.size(), 2);
        QCOMPARE(seam.shown[0].url, Form1::kTemplatesPage);
        QCOMPARE(seam.shown[1].url, Form1::kDonationPage);

        seam.browserAvailable = false;
        const QString status = Control<QPlainTextEdit>(form, "txtStatus")->toPlainText();
        QTest::mouseClick(Control<QLabel>(form, "Picture1"), Qt::LeftButton);
        QCOMPARE(seam.Messages().size(), 0);
        QCOMPARE(Control<QPlainTextEdit>(form, "txtStatus")->toPlainText(), status);
        QVERIFY(form.isVisible());
    }

    void cancelWhileIdleDoesNothing() {
        ScriptedSeam seam;
        Form1 form(seam);
        form.show();
        const QString status = Control<QPlainTextEdit>(form, "txtStatus")->toPlainText();
        QTest::mouseClick(Control<QPushButton>(form, "Command3"), Qt::LeftButton);
        QVERIFY(Control<QPushButton>(form, "Command3")->isEnabled());
        QVERIFY(!form.ArchiveBuilder().Zipping());
        QCOMPARE(Control<QPlainTextEdit>(form, "txtStatus")->toPlainText(), status);
        QVERIFY(seam.shown.isEmpty());
    }

    void statusBoxHoldsOnlyTheLatestMessage() {
        ScriptedSeam seam;
        Form1 form(seam);
        form.SetStatus(QStringLiteral("first"));
        form.SetStatus(QStringLiteral("second"));
        QCOMPARE(Control<QPlainTextEdit>(form, "txtStatus")->toPlainText(),
                 QStringLiteral("second"));
    }

    void exitClosesTheWindow() {
        ScriptedSeam seam;
        Form1 form(seam);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::mouseClick(Control<QPushButton>(form, "cmdExit"), Qt::LeftButton);
        QVERIFY(!form.isVisible());
        QVERIFY(seam.shown.isEmpty());
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestForm1Window)
#include "test_form1_window.moc"
