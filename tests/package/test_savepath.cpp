#include "package/SavePath.h"

#include <QtTest>

using namespace sparkloom;

class TestSavePath : public QObject {
    Q_OBJECT

private slots:
    void extension_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("bare name") << "/out/Fire"
                                   << "/out/Fire.dzp";
        QTest::newRow("has .dzp") << "/out/Fire.dzp"
                                  << "/out/Fire.dzp";
        QTest::newRow("other extension") << "/out/Fire.zip"
                                         << "/out/Fire.zip";
        QTest::newRow("dot in folder") << "/tmp/My.Work/Fire"
                                       << "/tmp/My.Work/Fire";
        QTest::newRow("leading blank") << " Fire"
                                       << " Fire";
        QTest::newRow("trailing blank") << "Fire "
                                        << "Fire ";
        QTest::newRow("inner blank") << "/out/My Fire"
                                     << "/out/My Fire.dzp";
        QTest::newRow("case kept") << "/out/Fire.DZP"
                                   << "/out/Fire.DZP";
    }
    void extension() {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(WithPackageExtension(path), expected);
    }

    void packageFolder_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ordinary") << "/out/Fire.dzp"
                                  << "Fire.dzp"
                                  << "/out";
        QTest::newRow("folder named as the file") << "/out/Fire.dzp/Fire.dzp"
                                                  << "Fire.dzp"
                                                  << "/out";
        QTest::newRow("case differs") << "/out/fire.dzp"
                                      << "Fire.dzp"
                                      << "/out/fire.dzp";
        QTest::newRow("name without its slash stays") << "/outFire.dzp"
                                                      << "Fire.dzp"
                                                      << "/outFire.dzp";
    }
    void packageFolder() {
        QFETCH(QString, path);
        QFETCH(QString, fileName);
        QFETCH(QString, expected);
        QCOMPARE(PackageFolderOf(path, fileName), expected);
    }
};

QTEST_GUILESS_MAIN(TestSavePath)
#include "test_savepath.moc"
