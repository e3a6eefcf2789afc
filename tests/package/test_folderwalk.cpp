#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <limits>

#include "package/FolderWalk.h"
#include "zip/ZipInspect.h"
#include "zip/Zipper.h"

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

constexpr int32_t kMaxFiles = 2000;

bool Touch(const QString& path, const QByteArray& content = "data") {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Packs what the walk queued and returns the entry names as another reader sees them.
QList<QByteArray> PackedNames(Zipper& zipper, const QString& archive) {
    zipper.SetTickInterval(0);
    if (zipper.Zip(archive)) {
        return {"Zip failed: " + zipper.Failed().toUtf8()};
    }
    while (zipper.Zipping()) {
        zipper.Tick();
    }
    const ReadArchive read = ReadWithPython(archive);
    return read.error.isEmpty() ? read.names() : QList<QByteArray>{read.error.toUtf8()};
}

// Root reads everything; while this lives the thread gives up the capabilities
// that let it ignore file permissions (a plain user has none to give up).
class WithoutPermissionOverride {
public:
    bool ok = false;
    WithoutPermissionOverride() {
        if (syscall(SYS_capget, &mHeader, mSaved) != 0) {
            return;
        }
        __user_cap_data_struct reduced[2] = {mSaved[0], mSaved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        ok = syscall(SYS_capset, &mHeader, reduced) == 0;
    }
    ~WithoutPermissionOverride() {
        if (ok) {
            syscall(SYS_capset, &mHeader, mSaved);
        }
    }

private:
    __user_cap_header_struct mHeader{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct mSaved[2]{};
};

}  // namespace

class TestFolderWalk : public QObject {
    Q_OBJECT

private slots:
    // The cap counts ".", ".." and every listed entry; the names left out are
    // the last ones in listing order, and the walk says how many.
    void capDropsTheLastNames() {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/frames";
        QVERIFY(QDir().mkpath(folder));
        QStringList expected;
        for (int i = 2100; i >= 1; --i) {  // created in reverse, so the walk must sort
            const QString name = QStringLiteral("Fire_%1.jpg").arg(i, 5, 10, QChar(u'0'));
            QVERIFY(Touch(folder + "/" + name, name.toLatin1()));
            expected.prepend(QStringLiteral(".\\") + name);
        }
        Zipper zipper;
        WalkReport report;
        QVERIFY(AddFolderToZip(zipper, folder + "/", "", kMaxFiles, report));
        QCOMPARE(zipper.QueuedCount(), 1998);
        QCOMPARE(report.leftOut, 102);
        QCOMPARE(report.statusMessage, QString());

        QList<QByteArray> names;
        for (const QString& name : expected.mid(0, 1998)) {
            names.push_back(name.toLatin1());
        }
        QCOMPARE(PackedNames(zipper, dir.path() + "/capped.dzp"), names);

        for (int i = 1999; i <= 2100; ++i) {
            QVERIFY(
                QFile::remove(folder + QStringLiteral("/Fire_%1.jpg").arg(i, 5, 10, QChar(u'0'))));
        }
        WalkReport all;
        QVERIFY(AddFolderToZip(zipper, folder + "/", "", kMaxFiles, all));
        QCOMPARE(zipper.QueuedCount(), 1998);
        QCOMPARE(all.leftOut, 0);
    }

    void whatIsPackedAndInWhichOrder() {
        QTemporaryDir dir;
        const QString top = dir.path() + "/frames/";
        QVERIFY(QDir().mkpath(top + "A/B"));
        QVERIFY(QDir().mkpath(top + "c"));
        QVERIFY(QDir().mkpath(top + ".cache"));
        for (const char* name : {"b.jpg", "a.jpg", "A.jpg", "_x.jpg", "Thumb.png", ".hidden.jpg",
                                 "A/x.jpg", "A/B/y.jpg", "c/z.jpg", ".cache/w.jpg"}) {
            QVERIFY(Touch(top + name, name));
        }
        QVERIFY(Touch(top + "ro.jpg", "read-only"));
        QVERIFY(QFile::setPermissions(top + "ro.jpg", QFile::ReadOwner | QFile::ReadGroup));
        QVERIFY(::mkfifo(QFile::encodeName(top + "pipe").constData(), 0644) == 0);
        QVERIFY(QFile::link(top + "b.jpg", top + "linked.jpg"));
        QVERIFY(QFile::link(top + "A", top + "loop"));  // not followed
        QVERIFY(QFile::link(top + "gone", top + "dangling.jpg"));

        Zipper zipper;
        WalkReport report;
        QVERIFY(AddFolderToZip(zipper, top, "", kMaxFiles, report));
        QCOMPARE(report.leftOut, 0);
        const QString archive = dir.path() + "/order.dzp";
        QCOMPARE(PackedNames(zipper, archive),
                 (QList<QByteArray>{".\\A.jpg", ".\\a.jpg", ".\\b.jpg", ".\\linked.jpg",
                                    ".\\ro.jpg", ".\\Thumb.png", ".\\_x.jpg", ".\\A\\x.jpg",
                                    ".\\A\\B\\y.jpg", ".\\c\\z.jpg"}));
        const ReadArchive read = ReadWithPython(archive);
        QCOMPARE(read.entries[4].external, 0x21u);  // read-only kept
        QCOMPARE(read.entries[4].sha256, Sha256Hex("read-only"));
        QCOMPARE(read.entries[3].sha256, Sha256Hex("b.jpg"));
        QCOMPARE(read.entries[8].sha256, Sha256Hex("A/B/y.jpg"));
    }

    // Each folder has its own count; an empty folder adds nothing.
    void capAppliesPerFolder() {
        QTemporaryDir dir;
        const QString top = dir.path() + "/";
        QVERIFY(QDir().mkpath(top + "sub"));
        QVERIFY(QDir().mkpath(top + "zempty"));
        for (const char* name : {"1.jpg", "2.jpg", "sub/1.jpg", "sub/2.jpg", "sub/3.jpg"}) {
            QVERIFY(Touch(top + name));
        }
        Zipper zipper;
        WalkReport report;
        // Top: ".", "..", 1.jpg, 2.jpg, sub taken; zempty left out.
        QVERIFY(AddFolderToZip(zipper, top, "", 5, report));
        QCOMPARE(report.leftOut, 1);
        QTemporaryDir out;
        QCOMPARE(PackedNames(zipper, out.filePath("cap.zip")),
                 (QList<QByteArray>{".\\1.jpg", ".\\2.jpg", ".\\sub\\1.jpg", ".\\sub\\2.jpg",
                                    ".\\sub\\3.jpg"}));

        WalkReport empty;
        QVERIFY(AddFolderToZip(zipper, top + "zempty/", "", kMaxFiles, empty));
        QCOMPARE(zipper.QueuedCount(), 0);
    }

    // A file whose attributes cannot be read any more (gone, or no access) is
    // refused by AddFile and stops the whole walk; what was queued stays.
    void refusedFileStopsTheWalk() {
        QTemporaryDir dir;
        const QString top = dir.path() + "/";
        for (const char* folder : {"locked", "sub"}) {
            QVERIFY(QDir().mkpath(top + folder));
        }
        for (const char* name : {"a.jpg", "locked/x.jpg", "sub/s.jpg"}) {
            QVERIFY(Touch(top + name));
        }
        // Listable but not searchable: the names are there, their attributes are not.
        QVERIFY(QFile::setPermissions(top + "locked", QFile::ReadOwner | QFile::ReadUser));
        Zipper zipper;
        WalkReport report;
        {
            WithoutPermissionOverride asPlainUser;
            QVERIFY(asPlainUser.ok);
            QVERIFY(!AddFolderToZip(zipper, top, "", kMaxFiles, report));
        }
        QCOMPARE(report.statusMessage, QStringLiteral("AddFile failed on x.jpg"));
        QCOMPARE(zipper.QueuedCount(), 1);  // a.jpg; sub is not entered
        QVERIFY(QFile::setPermissions(top + "locked",
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        zipper.ClearFiles();

        // A byte total past 2 GiB is refused the same way, not thrown at the window.
        QFile big(top + "big.bin");
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(std::numeric_limits<int32_t>::max()));
        big.close();
        WalkReport overflow;
        QVERIFY(!AddFolderToZip(zipper, top, "", kMaxFiles, overflow));
        QCOMPARE(overflow.statusMessage, QStringLiteral("AddFile failed on big.bin"));
    }
};

QTEST_GUILESS_MAIN(TestFolderWalk)
#include "test_folderwalk.moc"
