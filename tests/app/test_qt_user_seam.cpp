// The real dialogs behind the user seam, driven the way a person would.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "app/QtUserSeam.h"
#include "support/GuiTestMain.h"

using namespace sparkloom;

class TestQtUserSeam : public QObject {
    Q_OBJECT

    // Runs act on the dialog once it is on screen.
    template <typename Dialog>
    static void WhenShown(std::function<void(Dialog*)> act) {
        QTimer::singleShot(0, [act] {
            Dialog* dialog = nullptr;
            QTRY_VERIFY((dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())));
            act(dialog);
        });
    }

private slots:
    void filterTextBecomesQtNameFilters() {
        QCOMPARE(
            QtNameFilters(QStringLiteral("JPG Files (*.jpg)|*.jpg|PNG Files(*.png)|*.png")),
            (QStringList{QStringLiteral("JPG Files (*.jpg)"), QStringLiteral("PNG Files(*.png)")}));
        QCOMPARE(QtNameFilters(QStringLiteral("Image Files (*.jpg)|*.jpg|(*.png)|*.png")),
                 (QStringList{QStringLiteral("Image Files (*.jpg)"), QStringLiteral("(*.png)")}));
        QCOMPARE(QtNameFilters(QStringLiteral("Videos|*.mp4")),
                 QStringList{QStringLiteral("Videos (*.mp4)")});
    }

    void folderBrowserShowsTheHighlightedPathAndReturnsTheChoice() {
        QTemporaryDir root;
        QDir(root.path()).mkpath(QStringLiteral("frames/inner"));
        const QString frames = root.path() + QStringLiteral("/frames");
        QtUserSeam seam;
        QString title, openedAt, statusSeen, statusAfterEmpty;
        bool hasStatus = false;
        // Checks run after the dialog has closed, so a failure cannot leave it open.
        WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            title = dialog->windowTitle();
            openedAt = dialog->directory().absolutePath();
            if (auto* status = dialog->findChild<QLabel*>(QStringLiteral("browseStatus"))) {
                hasStatus = true;
                emit dialog->currentChanged(frames + QStringLiteral("/inner"));
                statusSeen = status->text();
                emit dialog->currentChanged(QString());  // no path: the line keeps its text
                statusAfterEmpty = status->text();
            }
            dialog->setDirectory(root.path());
            dialog->selectFile(QStringLiteral("frames"));
            static_cast<QDialog*>(dialog)->accept();  // as the Choose button does
        });
        const QString chosen =
            seam.BrowseForFolder(nullptr, root.path(), QStringLiteral("Please select a folder:"));
        QCOMPARE(title, QStringLiteral("Please select a folder:"));
        QCOMPARE(openedAt, root.path());
        QVERIFY(hasStatus);
        QCOMPARE(statusSeen, frames + QStringLiteral("/inner"));
        QCOMPARE(statusAfterEmpty, statusSeen);
        QCOMPARE(chosen, frames);
    }

    void folderBrowserWithoutInitialFolderHasNoStatusLineAndCancelGivesNothing() {
        QtUserSeam seam;
        bool hasStatus = true;
        WhenShown<QFileDialog>([&hasStatus](QFileDialog* dialog) {
            hasStatus = dialog->findChild<QLabel*>(QStringLiteral("browseStatus")) != nullptr;
            dialog->reject();
        });
        QCOMPARE(seam.BrowseForFolder(nullptr, QString(), QStringLiteral("t")), QString());
        QVERIFY(!hasStatus);
    }

    void messageBoxesCarryTheProgramNameIconAndButtons() {
        QtUserSeam seam;
        QString title;
        QMessageBox::Icon icon = QMessageBox::Critical;
        QMessageBox::StandardButtons buttons;
        auto answerWith = [&](QMessageBox::StandardButton answer) {
            WhenShown<QMessageBox>([&, answer](QMessageBox* box) {
                title = box->windowTitle();
                icon = box->icon();
                buttons = box->standardButtons();
                box->button(answer)->click();
            });
        };
        answerWith(QMessageBox::Cancel);
        QCOMPARE(seam.ShowMessage(nullptr, QStringLiteral("Overwrite Existing File?"),
                                  MessageIcon::None, MessageButtons::OkCancel),
                 MessageAnswer::Cancel);
        QCOMPARE(title, QStringLiteral("Sparkloom"));
        QCOMPARE(icon, QMessageBox::NoIcon);
        QCOMPARE(buttons, QMessageBox::Ok | QMessageBox::Cancel);

        answerWith(QMessageBox::Ok);
        QCOMPARE(seam.ShowMessage(nullptr, QStringLiteral("w"), MessageIcon::Warning,
                                  MessageButtons::Ok),
                 MessageAnswer::Ok);
        QCOMPARE(icon, QMessageBox::Warning);
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void openDialogReturnsTheChosenFileAndCancelGivesNothing() {
        QTemporaryDir root;
        const QString picture = root.path() + QStringLiteral("/thumb.jpg");
        QFile(picture).open(QIODevice::WriteOnly);
        QtUserSeam seam;
        FileDialogRequest request;
        request.title = QStringLiteral("Select Thumbnail Image");
        request.filter = QStringLiteral("JPG Files (*.jpg)|*.jpg|PNG Files(*.png)|*.png");
        request.initialFolder = root.path();
        QString title;
        qsizetype filters = 0;
        WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            title = dialog->windowTitle();
            filters = dialog->nameFilters().size();
            dialog->selectFile(picture);
            static_cast<QDialog*>(dialog)->accept();  // as the Choose button does
        });
        QCOMPARE(seam.ChooseFile(nullptr, request), picture);
        QCOMPARE(title, request.title);
        QCOMPARE(filters, 2);
        WhenShown<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
        QCOMPARE(seam.ChooseFile(nullptr, request), QString());
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestQtUserSeam)
#include "test_qt_user_seam.moc"
