// The file-existence test and the remembered folder.
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "app/QtText.h"
#include "app/RememberedFolder.h"
#include "common/Files.h"

using namespace sparkloom;

class TestAppFiles : public QObject {
    Q_OBJECT
    QTemporaryDir mDir;

    QString Touch(const QString& name) {
        QFile file(mDir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write("x");
        return file.fileName();
    }

    // The window asks about the paths it holds, which cross to the core as UTF-8.
    static bool FileExists(const QString& path) { return sparkloom::FileExists(ToUtf8(path)); }

private slots:
    void fileExistsOnlyForOrdinaryVisibleFiles() {
        QVERIFY(FileExists(Touch(QStringLiteral("frame.jpg"))));
        QVERIFY(!FileExists(Touch(QStringLiteral(".hidden.jpg"))));
        QVERIFY(!FileExists(mDir.path()));
        QVERIFY(!FileExists(mDir.filePath(QStringLiteral("missing.jpg"))));
        QVERIFY(!FileExists(QString()));
        QVERIFY(!FileExists(mDir.filePath(QStringLiteral("frame.jpg")) + QChar(u'\0') + u'x'));
        QVERIFY(!FileExists(mDir.filePath(QStringLiteral("frame.jpg/inside"))));
        QVERIFY(QFile::link(mDir.filePath(QStringLiteral("frame.jpg")),
                            mDir.filePath(QStringLiteral("link.jpg"))));
        QVERIFY(FileExists(mDir.filePath(QStringLiteral("link.jpg"))));
    }

    void rememberedFolderRoundTripsAndDefaultsToEmpty() {
        QTemporaryDir home;
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
        QVERIFY(ReadRememberedFolder().isEmpty());
        WriteRememberedFolder(QStringLiteral("/videos/Clips été"));
        QCOMPARE(ReadRememberedFolder(), QStringLiteral("/videos/Clips été"));
        // Kept under the program's name, group "folders", key "lastfolder".
        const QString stored = home.path() + QStringLiteral("/test_app_files.ini");
        QVERIFY2(QFile::exists(stored), qPrintable(QDir(home.path()).entryList().join(u',')));
        QSettings raw(stored, QSettings::IniFormat);
        QCOMPARE(raw.value(QStringLiteral("folders/lastfolder")).toString(),
                 QStringLiteral("/videos/Clips été"));
        WriteRememberedFolder(QString());
        QVERIFY(ReadRememberedFolder().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAppFiles)
#include "test_app_files.moc"
