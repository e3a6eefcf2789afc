// "Build Particle" through the window, from the frames folder to a package
// that an independent reader (Python's zipfile) checks entry by entry.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include "app/Form1.h"
#include "package/Templates.h"
#include "support/GuiTestMain.h"
#include "support/ScriptedSeam.h"
#include "support/TestSupport.h"
#include "support/WindowDriver.h"
#include "zip/Zipper.h"

using namespace sparkloom;
using namespace sparkloom::test;
using Kind = ScriptedSeam::Shown::Kind;

class TestForm1Build : public QObject {
    Q_OBJECT

    QTemporaryDir mRoot;
    QString mVideo;
    int mFolderNumber = 0;

    QString NewFolder(const QString& name) {
        const QString path = mRoot.path() + QStringLiteral("/%1-%2").arg(name).arg(++mFolderNumber);
        QDir().mkpath(path);
        return path;
    }

    // The road up to "Build Particle" into a new frames folder, which it returns.
    QString Prepare(Form1& form, ScriptedSeam& seam) {
        const QString frames = NewFolder(QStringLiteral("frames"));
        if (const QString why = PrepareBuild(form, seam, mVideo, frames); !why.isEmpty()) {
            qWarning() << why;
            return QString();
        }
        return frames;
    }

private slots:
    void initTestCase() {
        QVERIFY(mRoot.isValid());
        QDir().mkpath(mRoot.path() + QStringLiteral("/Clips"));
        mVideo = mRoot.path() + QStringLiteral("/Clips/My Clip.mp4");
        QVERIFY(test::MakeClip(mVideo));
    }

    void choosersShowNamesCopyTheThumbnailAndEnableBuild() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = NewFolder(QStringLiteral("choosers"));
        seam.fileAnswers << mVideo;
        Click(form, "cmdProjectFile");
        seam.folderAnswers << frames;
        Click(form, "cmdExtract");
        seam.shown.clear();

        // A PNG picture is stored under both names, content unchanged.
        const QString png = NewFolder(QStringLiteral("pictures")) + QStringLiteral("/logo.png");
        QVERIFY(WriteFile(png, QByteArray("\x89PNG\r\n\x1a\n-not-converted-", 24)));
        seam.fileAnswers << png;
        Click(form, "cmdThumb");
        QCOMPARE(seam.shown[0].fileRequest.title, QStringLiteral("Select Thumbnail Image"));
        QCOMPARE(seam.shown[0].fileRequest.filter,
                 QStringLiteral("Image Files (*.jpg)|*.jpg|(*.png)|*.png"));
        QCOMPARE(seam.shown[0].fileRequest.defaultExtension, QStringLiteral("jpg"));
        QCOMPARE(Control<QLineEdit>(form, "txtJPGThumb")->text(), QStringLiteral("logo.png"));
        QCOMPARE(ReadAll(frames + QStringLiteral("/Thumb.jpg")), ReadAll(png));
        QCOMPARE(ReadAll(frames + QStringLiteral("/Thumb.png")), ReadAll(png));
        QVERIFY(!Control<QPushButton>(form, "cmdDZP")->isEnabled());

        // A cancelled dialog keeps the previous choice and copies nothing.
        QFile::remove(frames + QStringLiteral("/Thumb.png"));
        Click(form, "cmdThumb");
        QCOMPARE(Control<QLineEdit>(form, "txtJPGThumb")->text(), QStringLiteral("logo.png"));
        QVERIFY(!QFile::exists(frames + QStringLiteral("/Thumb.png")));

        // Choosing the copy itself as the thumbnail must not destroy it.
        seam.fileAnswers << frames + QStringLiteral("/Thumb.jpg");
        Click(form, "cmdThumb");
        QCOMPARE(ReadAll(frames + QStringLiteral("/Thumb.jpg")), ReadAll(png));
        QCOMPARE(ReadAll(frames + QStringLiteral("/Thumb.png")), ReadAll(png));

        seam.fileAnswers << frames + QStringLiteral("/My_Clip_00001.jpg");
        Click(form, "cmdAnimImage");
        QCOMPARE(seam.shown.last().fileRequest.filter,
                 QStringLiteral("JPG Files (*.jpg)|*.jpg|PNG Files(*.png)|*.png"));
        QCOMPARE(Control<QLineEdit>(form, "txtAnimImage")->text(),
                 QStringLiteral("My_Clip_00001.jpg"));
        QVERIFY(Control<QPushButton>(form, "cmdDZP")->isEnabled());
        Click(form, "cmdAnimImage");  // cancelled
        QCOMPARE(Control<QLineEdit>(form, "txtAnimImage")->text(),
                 QStringLiteral("My_Clip_00001.jpg"));
    }

    void wholeRoadGivesACompletePackage() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = Prepare(form, seam);
        QVERIFY(!frames.isEmpty());
        Control<QLineEdit>(form, "txtParticleName")->setText(QStringLiteral("Fire & Ice"));
        const QString out = NewFolder(QStringLiteral("out"));
        seam.fileAnswers << out + QStringLiteral("/Fire");
        Click(form, "cmdDZP");
        QCOMPARE(seam.shown.size(), 1);
        QCOMPARE(seam.shown[0].fileRequest.kind, FileDialogRequest::Kind::Save);
        QCOMPARE(seam.shown[0].fileRequest.filter, QStringLiteral("DZP Files (*.dzp)|*.dzp"));
        QCOMPARE(seam.shown[0].fileRequest.defaultExtension, QStringLiteral("dzp"));
        QCOMPARE(seam.shown[0].fileRequest.initialFileName, QStringLiteral("Fire & Ice"));
        QVERIFY(form.ArchiveBuilder().Zipping());
        QVERIFY(Control<QProgressBar>(form, "ProgressBar1")->isVisibleTo(&form));
        QVERIFY(WaitUntilIdle(form));

        QCOMPARE(Status(form), QStringLiteral("Success"));
        QCOMPARE(seam.Messages(), QStringList{QStringLiteral("Success!")});
        QCOMPARE(seam.shown.last().icon, MessageIcon::Information);
        QVERIFY(!Control<QPushButton>(form, "Command3")->isEnabled());
        QVERIFY(Control<QPushButton>(form, "cmdDZP")->isEnabled());
        QCOMPARE(form.ProgressValue(), 100.0);
        QCOMPARE(form.Project().PackageFolder, out);
        // Nothing but the package is left beside it.
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("Fire.dzp")});

        const QString package = out + QStringLiteral("/Fire.dzp");
        QVERIFY(test::UnzipTestsClean(package));
        QList<ArchiveEntry> entries;
        QVERIFY(test::ReadArchive(package, entries));
        QStringList expected;
        for (int i = 1; i <= 30; ++i) {
            expected << QStringLiteral("My_Clip_%1.jpg").arg(i, 5, 10, QChar(u'0'));
        }
        expected << QStringLiteral("Thumb.jpg") << QStringLiteral("Thumb.png")
                 << QStringLiteral("TitleTemplate.clt") << QStringLiteral("TitleTemplate.xml");
        QCOMPARE(entries.size(), expected.size());
        for (int i = 0; i < entries.size(); ++i) {
            QCOMPARE(entries[i].rawName, (QStringLiteral(".\\") + expected[i]).toLatin1());
            QCOMPARE(entries[i].data, ReadAll(frames + u'/' + expected[i]));
            QCOMPARE(entries[i].method, 8);
        }
        const QByteArray xml = entries.last().data;
        const QByteArray clt = entries[entries.size() - 2].data;
        const QString filledXml = ToQt(FilledTemplateXml({"CUSTOM", "General", "Fire & Ice"}));
        QCOMPARE(xml, QByteArray("\xFF\xFE", 2) +
                          QByteArray(reinterpret_cast<const char*>(filledXml.utf16()),
                                     filledXml.size() * 2));
        QCOMPARE(AttributeOf(xml, QStringLiteral("TEMPLATE"), QStringLiteral("ALIAS")),
                 QStringLiteral("Fire & Ice"));
        QCOMPARE(AttributeOf(xml, QStringLiteral("TEMPLATE"), QStringLiteral("TYPE")),
                 QStringLiteral("CUSTOM"));
        QCOMPARE(AttributeOf(xml, QStringLiteral("TEMPLATE"), QStringLiteral("CATEGORY")),
                 QStringLiteral("General"));
        QCOMPARE(AttributeOf(clt, QStringLiteral("Extension"), QStringLiteral("ReferencePath")),
                 frames + u'/');
        QCOMPARE(
            AttributeOf(clt, QStringLiteral("ParticleAttribExt"), QStringLiteral("AnimationImage")),
            QStringLiteral("My_Clip_00001.jpg"));
        QCOMPARE(AttributeOf(clt, QStringLiteral("ParticleAttribExt"),
                             QStringLiteral("AnimationDuration")),
                 QStringLiteral("1000"));
    }

    void inputsAreCheckedInOrder() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = Prepare(form, seam);
        QVERIFY(!frames.isEmpty());
        const QString out = NewFolder(QStringLiteral("checks"));
        auto buildOnce = [&]() {
            seam.shown.clear();
            seam.fileAnswers << out + QStringLiteral("/Fire.dzp");
            Click(form, "cmdDZP");
            return seam.Messages();
        };
        auto* name = Control<QLineEdit>(form, "txtParticleName");
        auto* type = Control<QComboBox>(form, "cboType");
        auto* category = Control<QComboBox>(form, "cboCat");

        name->clear();
        type->setCurrentIndex(-1);
        type->setEditText(QStringLiteral("Select"));
        QCOMPARE(buildOnce(), QStringList{QStringLiteral("Please Enter A Particle Name!")});
        QVERIFY(seam.shown[0].fileRequest.initialFileName.isEmpty());
        QCOMPARE(seam.shown.last().icon, MessageIcon::Warning);
        name->setText(QStringLiteral("Fire"));
        QCOMPARE(buildOnce(), QStringList{QStringLiteral("You must select the Type of Project!")});
        type->setEditText(QStringLiteral("select"));  // exact comparison: passes
        category->setCurrentIndex(-1);
        category->setEditText(QString());
        QCOMPARE(buildOnce(), QStringList{QStringLiteral("You must select a Category!")});
        QVERIFY(!QFile::exists(out + QStringLiteral("/Fire.dzp")));
        QVERIFY(!QFile::exists(frames + QStringLiteral("/TitleTemplate.xml")));
        QVERIFY(Control<QPushButton>(form, "cmdDZP")->isEnabled());
        QVERIFY(Control<QPushButton>(form, "Command3")->isEnabled());

        // A cancelled save dialog ends the command silently.
        seam.shown.clear();
        Click(form, "cmdDZP");
        QCOMPARE(seam.Kinds(), QList<Kind>{Kind::File});
    }

    void missingThumbnailIsTheSecondCheck() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = NewFolder(QStringLiteral("nothumb"));
        seam.fileAnswers << mVideo;
        Click(form, "cmdProjectFile");
        seam.folderAnswers << frames;
        Click(form, "cmdExtract");
        seam.fileAnswers << frames + QStringLiteral("/My_Clip_00001.jpg");
        Click(form, "cmdAnimImage");
        seam.shown.clear();
        seam.fileAnswers << NewFolder(QStringLiteral("o")) + QStringLiteral("/x.dzp");
        Click(form, "cmdDZP");
        QCOMPARE(seam.Messages(), QStringList{QStringLiteral("Please Select A Thumbnail!")});
    }

    void packageFolderMayNotBeTheVideoOrFramesFolder() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = Prepare(form, seam);
        const QString refusal = QStringLiteral(
            "You cannot create the Installation File in the Project Folder!\r\n"
            "Please Choose Another Destination Folder");
        for (const QString& folder : {form.Project().ProjectFolder, frames}) {
            seam.shown.clear();
            seam.fileAnswers << folder + QStringLiteral("/Fire.dzp");
            Click(form, "cmdDZP");
            QCOMPARE(seam.Messages(), QStringList{refusal});
            QCOMPARE(form.Project().PackageFolder, folder);
            QVERIFY(!QFile::exists(folder + QStringLiteral("/Fire.dzp")));
        }
        QVERIFY(!QFile::exists(frames + QStringLiteral("/TitleTemplate.xml")));

        // A subfolder of the frames folder is accepted and packed too.
        const QString inside = frames + QStringLiteral("/Package");
        QDir().mkpath(inside);
        QVERIFY(WriteFile(inside + QStringLiteral("/note.txt"), "note"));
        seam.shown.clear();
        seam.fileAnswers << inside + QStringLiteral("/Fire.dzp");
        Click(form, "cmdDZP");
        QVERIFY(WaitUntilIdle(form));
        QCOMPARE(Status(form), QStringLiteral("Success"));
        QList<ArchiveEntry> entries;
        QVERIFY(test::ReadArchive(inside + QStringLiteral("/Fire.dzp"), entries));
        QCOMPARE(entries.last().rawName, QByteArray(".\\Package\\note.txt"));
    }

    void overwriteQuestionCancelKeepsTheOldPackageAndOkReplacesIt() {
        ScriptedSeam seam;
        Form1 form(seam);
        QVERIFY(!Prepare(form, seam).isEmpty());
        const QString out = NewFolder(QStringLiteral("overwrite"));
        const QString package = out + QStringLiteral("/Fire.dzp");
        QVERIFY(WriteFile(package, "old package"));
        form.SetStatus(QStringLiteral("before"));

        seam.fileAnswers << package;
        seam.messageAnswers << MessageAnswer::Cancel;
        Click(form, "cmdDZP");
        QCOMPARE(seam.Messages(), QStringList{QStringLiteral("Overwrite Existing File?")});
        QCOMPARE(seam.shown.last().icon, MessageIcon::None);
        QCOMPARE(seam.shown.last().buttons, MessageButtons::OkCancel);
        QCOMPARE(ReadAll(package), QByteArray("old package"));
        QCOMPARE(Status(form), QStringLiteral("before"));
        QVERIFY(!form.ArchiveBuilder().Zipping());

        seam.shown.clear();
        seam.fileAnswers << out + QStringLiteral("/Fire");  // the extension is added
        seam.messageAnswers << MessageAnswer::Ok;
        Click(form, "cmdDZP");
        QVERIFY(WaitUntilIdle(form));
        QCOMPARE(Status(form), QStringLiteral("Success"));
        QVERIFY(test::UnzipTestsClean(package));
    }

    void otherExtensionsAreKept() {
        ScriptedSeam seam;
        Form1 form(seam);
        QVERIFY(!Prepare(form, seam).isEmpty());
        const QString out = NewFolder(QStringLiteral("ext"));
        seam.fileAnswers << out + QStringLiteral("/Fire.zip");
        Click(form, "cmdDZP");
        QVERIFY(WaitUntilIdle(form));
        QVERIFY(QFile::exists(out + QStringLiteral("/Fire.zip")));
        QVERIFY(!QFile::exists(out + QStringLiteral("/Fire.zip.dzp")));
    }

    void cancelDuringPackingLeavesAReadablePartialPackage() {
        ScriptedSeam seam;
        Form1 form(seam);
        QVERIFY(!Prepare(form, seam).isEmpty());
        const QString out = NewFolder(QStringLiteral("cancel"));
        seam.fileAnswers << out + QStringLiteral("/Fire.dzp");
        Click(form, "cmdDZP");
        QVERIFY(form.ArchiveBuilder().Zipping());
        form.ArchiveBuilder().Tick();
        form.ArchiveBuilder().Tick();
        Click(form, "Command3");
        QVERIFY(WaitUntilIdle(form));
        QCOMPARE(Status(form), QStringLiteral("Canceled"));
        QVERIFY(seam.Messages().isEmpty());
        QVERIFY(!Control<QPushButton>(form, "Command3")->isEnabled());
        QVERIFY(Control<QPushButton>(form, "cmdDZP")->isEnabled());
        QList<ArchiveEntry> entries;
        QVERIFY(test::ReadArchive(out + QStringLiteral("/Fire.dzp"), entries));
        QVERIFY(entries.size() < 34);

        // A second build afterwards works.
        seam.fileAnswers << out + QStringLiteral("/Again.dzp");
        Click(form, "cmdDZP");
        QVERIFY(WaitUntilIdle(form));
        QCOMPARE(Status(form), QStringLiteral("Success"));
        QVERIFY(test::ReadArchive(out + QStringLiteral("/Again.dzp"), entries));
        QCOMPARE(entries.size(), 34);
    }

    // A template rewritten while it waits to be packed (same size, so packing goes on)
    // does not read back as a template: the status and a warning say so instead of
    // "Success", and nothing is left under the chosen name.
    void aPackageThatDoesNotReadBackIsNoSuccess() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = Prepare(form, seam);
        QVERIFY(!frames.isEmpty());
        const QString package = NewFolder(QStringLiteral("out")) + QStringLiteral("/Fire.dzp");
        seam.fileAnswers << package;
        Click(form, "cmdDZP");
        QVERIFY(form.ArchiveBuilder().Zipping());
        const QString clt = frames + QStringLiteral("/TitleTemplate.clt");
        QVERIFY(WriteFile(clt, QByteArray(QFileInfo(clt).size(), 'x')));
        QVERIFY(WaitUntilIdle(form));

        const QString failure = QStringLiteral(
                                    "The package %1 was written but does not read back whole:\r\n"
                                    ".\\TitleTemplate.clt: it is not UTF-16LE text with a "
                                    "byte-order mark")
                                    .arg(QDir::toNativeSeparators(package));
        QCOMPARE(Status(form),
                 QString(failure).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        QCOMPARE(seam.Messages(), QStringList{failure});
        QCOMPARE(seam.shown.last().icon, MessageIcon::Warning);
        QVERIFY(!QFile::exists(package));
        QCOMPARE(QDir(QFileInfo(package).path())
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{});
        QVERIFY(!Control<QPushButton>(form, "Command3")->isEnabled());
        QVERIFY(Control<QPushButton>(form, "cmdDZP")->isEnabled());
    }

    void aBuildWhilePackingIsRefusedBeforeTheSaveDialog() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = Prepare(form, seam);
        const QString out = NewFolder(QStringLiteral("twice"));
        seam.fileAnswers << out + QStringLiteral("/First.dzp");
        Click(form, "cmdDZP");
        QVERIFY(form.ArchiveBuilder().Zipping());
        const int queued = form.ArchiveBuilder().QueuedCount();
        const QByteArray xml = ReadAll(frames + QStringLiteral("/TitleTemplate.xml"));
        Control<QLineEdit>(form, "txtParticleName")->setText(QStringLiteral("Other"));
        seam.shown.clear();
        Click(form, "cmdDZP");
        QCOMPARE(seam.Kinds(), QList<Kind>{Kind::Message});
        QCOMPARE(seam.Messages(), QStringList{QStringLiteral("A package is still being built.\r\n"
                                                             "Please wait until it is finished or "
                                                             "cancel it first.")});
        QCOMPARE(seam.shown[0].icon, MessageIcon::Warning);
        QCOMPARE(form.ArchiveBuilder().QueuedCount(), queued);
        QCOMPARE(ReadAll(frames + QStringLiteral("/TitleTemplate.xml")), xml);
        QVERIFY(WaitUntilIdle(form));
        QCOMPARE(Status(form), QStringLiteral("Success"));
    }

    void aBuildWithoutFramesFolderIsRefused() {
        ScriptedSeam seam;
        Form1 form(seam);
        seam.fileAnswers << mVideo;
        Click(form, "cmdProjectFile");
        seam.folderAnswers << form.Project().ProjectFolder;  // refused, enables Build
        Click(form, "cmdExtract");
        Click(form, "cmdExtract");  // cancelled: no frames folder
        QVERIFY(form.Project().ExtractFolder.isEmpty());
        seam.shown.clear();
        Click(form, "cmdDZP");
        QCOMPARE(seam.Kinds(), QList<Kind>{Kind::Message});
        QCOMPARE(seam.Messages(),
                 QStringList{QStringLiteral("Please extract the video into a folder first!")});
        QCOMPARE(seam.shown[0].icon, MessageIcon::Warning);
    }

    // The walk takes ".", ".." and 10 files of 34: frames named before "Thumb"
    // would push the package's own files out, frames named after them are cut
    // and the duration follows what is packed.
    void leftOutEntries_data() {
        QTest::addColumn<QString>("particle");
        QTest::addColumn<bool>("refused");
        QTest::newRow("frames first: refused") << QStringLiteral("My Clip") << true;
        QTest::newRow("frames last: asked, cut") << QStringLiteral("Zap") << false;
    }
    void leftOutEntries() {
        QFETCH(QString, particle);
        QFETCH(bool, refused);
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = NewFolder(QStringLiteral("cap-frames"));
        QVERIFY2(PrepareBuild(form, seam, mVideo, frames, particle).isEmpty(), "prepared");
        form.Project().MaxFiles = 12;
        const QString out = NewFolder(QStringLiteral("cap"));
        seam.fileAnswers << out + QStringLiteral("/Fire.dzp");
        seam.messageAnswers << MessageAnswer::Cancel;
        Click(form, "cmdDZP");
        QCOMPARE(seam.Messages().size(), 1);
        QVERIFY(!form.ArchiveBuilder().Zipping());
        QCOMPARE(form.ArchiveBuilder().QueuedCount(), 0);
        QVERIFY(!QFile::exists(out + QStringLiteral("/Fire.dzp")));
        if (refused) {
            QCOMPARE(seam.Messages()[0],
                     QStringLiteral("The package would lack Thumb.jpg, Thumb.png, "
                                    "TitleTemplate.clt, TitleTemplate.xml, which the host editor "
                                    "needs:\r\nthe frames folder holds more than 12 entries. "
                                    "Remove other files from %1, or extract fewer frames, and "
                                    "build again.")
                         .arg(frames));
            QCOMPARE(seam.shown.last().buttons, MessageButtons::Ok);
            return;
        }
        QVERIFY2(seam.Messages()[0].startsWith(QStringLiteral("24 ")),
                 qPrintable(seam.Messages()[0]));
        QCOMPARE(seam.shown.last().buttons, MessageButtons::OkCancel);

        seam.shown.clear();
        seam.fileAnswers << out + QStringLiteral("/Fire.dzp");
        Click(form, "cmdDZP");  // OK this time
        QVERIFY(WaitUntilIdle(form));
        QCOMPARE(Status(form), QStringLiteral("Success"));
        QList<ArchiveEntry> entries;
        QVERIFY(test::ReadArchive(out + QStringLiteral("/Fire.dzp"), entries));
        QCOMPARE(entries.size(), 10);
        QCOMPARE(entries.last().rawName, QByteArray(".\\Zap_00006.jpg"));
        // Six frames are packed, so the animation lasts six frames, not thirty.
        const QByteArray clt = ReadAll(frames + QStringLiteral("/TitleTemplate.clt"));
        QCOMPARE(test::AttributeOf(clt, QStringLiteral("ParticleAttribExt"),
                                   QStringLiteral("AnimationDuration")),
                 QStringLiteral("200"));
    }

    void failuresBeforePackingStopTheBuildWithAMessage() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = Prepare(form, seam);
        const QString out = NewFolder(QStringLiteral("fail"));

        // A template that cannot be written.
        QDir().mkpath(frames + QStringLiteral("/TitleTemplate.clt"));
        seam.fileAnswers << out + QStringLiteral("/Fire.dzp");
        Click(form, "cmdDZP");
        QCOMPARE(seam.Messages().size(), 1);
        QVERIFY2(
            seam.Messages()[0].startsWith(
                QStringLiteral("Cannot write %1: ")
                    .arg(QDir::toNativeSeparators(frames + QStringLiteral("/TitleTemplate.clt")))),
            qPrintable(seam.Messages()[0]));
        QVERIFY(!form.ArchiveBuilder().Zipping());
        QVERIFY(!QFile::exists(out + QStringLiteral("/Fire.dzp")));
        QDir(frames + QStringLiteral("/TitleTemplate.clt")).removeRecursively();

        // A name the package's 8-bit names cannot carry.
        seam.shown.clear();
        Control<QLineEdit>(form, "txtParticleName")->setText(QStringLiteral("火花"));
        seam.fileAnswers << out + QStringLiteral("/Fire.dzp");
        Click(form, "cmdDZP");
        QCOMPARE(seam.Messages(), QStringList{QStringLiteral(
                                      "These names cannot be stored in the package (only Western "
                                      "European letters are possible):\r\n火花")});
        QVERIFY(!QFile::exists(out + QStringLiteral("/Fire.dzp")));

        // A destination folder that has gone away.
        seam.shown.clear();
        Control<QLineEdit>(form, "txtParticleName")->setText(QStringLiteral("Fire"));
        seam.fileAnswers << out + QStringLiteral("/gone/Fire.dzp");
        Click(form, "cmdDZP");
        QCOMPARE(seam.Messages(), QStringList{QStringLiteral("The folder %1/gone does not exist.")
                                                  .arg(QDir::toNativeSeparators(out))});
        QCOMPARE(seam.shown.last().icon, MessageIcon::Warning);
        QVERIFY(Status(form) != QStringLiteral("Success"));
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestForm1Build)
#include "test_form1_build.moc"
