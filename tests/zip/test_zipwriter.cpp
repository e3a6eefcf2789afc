#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <stdexcept>

#include "zip/AnsiText.h"
#include "zip/ZipInspect.h"
#include "zip/ZipWriter.h"

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

std::span<const char> Span(const QByteArray& bytes) {
    return {bytes.constData(), size_t(bytes.size())};
}

}  // namespace

class TestZipWriter : public QObject {
    Q_OBJECT

    QTemporaryDir mDir;
    QString Path(const QString& name) const { return mDir.filePath(name); }

private slots:
    void windows1252Text() {
        QCOMPARE(EncodeAnsi(QStringLiteral("é")).value(), QByteArray("\xE9"));
        QCOMPARE(EncodeAnsi(QStringLiteral("€ ñ.jpg")).value(), QByteArray("\x80 \xF1.jpg"));
        QCOMPARE(EncodeAnsi(QString()).value(), QByteArray());
        QVERIFY(!EncodeAnsi(QStringLiteral("名.jpg")));
        QVERIFY(!EncodeAnsi(QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b")));
        QVERIFY(!EncodeAnsi(QString(QChar(0xD800))));  // a lone surrogate

        QCOMPARE(DecodeAnsi("\xE9\x80\x9F"), QStringLiteral("é€Ÿ"));
        QCOMPARE(DecodeAnsi("\x81"), QString(QChar(QChar::ReplacementCharacter)));
        for (int b = 1; b < 256; ++b) {
            const QByteArray byte(1, char(b));
            const QString text = DecodeAnsi(byte);
            if (text != QChar(QChar::ReplacementCharacter)) {
                QCOMPARE(EncodeAnsi(text).value(), byte);
            }
        }
    }

    // Names, data, method, time stamp and attributes as another reader sees them.
    void entriesAsReadByOthers() {
        const QString archive = Path("entries.dzp");
        const QByteArray thumb = QByteArray("\x89PNG\r\n") + QByteArray(5000, 'x');
        const QByteArray frame = QByteArray("JFIF frame data ").repeated(300);
        ZipWriter writer;
        QVERIFY(!writer.OpenZip(archive));
        const QDateTime before = QDateTime::currentDateTime();
        QVERIFY(!writer.OpenFileInZip(QStringLiteral(".\\Thumb.png"), 8, -1, 0x31));
        const QDateTime after = QDateTime::currentDateTime();
        QVERIFY(!writer.WriteBytes(Span(thumb)));
        QVERIFY(!writer.CloseFileInZip());
        QVERIFY(!writer.OpenFileInZip(QStringLiteral(".\\A\\B\\y.jpg"), 8, -1, 0x20));
        QVERIFY(!writer.WriteBytes(Span(frame.left(1000))));
        QVERIFY(!writer.WriteBytes(Span(frame.mid(1000))));
        QVERIFY(!writer.CloseFileInZip());
        QVERIFY(
            !writer.OpenFileInZip(QStringLiteral("é.jpg"), 8, -1, 0xFFFF, QStringLiteral("café")));
        QVERIFY(!writer.WriteBytes(Span("1")));
        QVERIFY(!writer.CloseZip());
        QCOMPARE(writer.Result(), 0);

        const ReadArchive read = ReadWithPython(archive);
        QCOMPARE(read.error, QString());
        QCOMPARE(read.names(), (QList<QByteArray>{".\\Thumb.png", ".\\A\\B\\y.jpg", "\xE9.jpg"}));
        QCOMPARE(read.entries[0].sha256, Sha256Hex(thumb));
        QCOMPARE(read.entries[1].sha256, Sha256Hex(frame));
        QCOMPARE(read.entries[1].size, frame.size());
        QCOMPARE(read.entries[2].comment, QByteArray("caf\xE9"));
        for (const ReadEntry& entry : read.entries) {
            QCOMPARE(entry.method, 8);
            QCOMPARE(entry.system, 0);          // DOS attributes
            QCOMPARE(entry.flags & 0x800, 0u);  // no UTF-8 marking
        }
        QCOMPARE(read.entries[0].external, 0x21u);
        QCOMPARE(read.entries[1].external, 0x20u);
        QCOMPARE(read.entries[2].external, 0x27u);
        // DOS stamps have 2 s steps and are cut, not rounded.
        QVERIFY2(read.entries[0].time >= before.addSecs(-2) && read.entries[0].time <= after,
                 qPrintable(read.entries[0].time.toString(Qt::ISODate)));
        QString unzip;
        QVERIFY2(UnzipTestsOk(archive, &unzip), qPrintable(unzip));
    }

    void refusalsKeepTheState() {
        ZipWriter writer;
        QVERIFY(writer.OpenFileInZip(QStringLiteral("a")));
        QCOMPARE(writer.Result(), ZipWriter::kNothingOpen);
        QVERIFY(writer.WriteBytes(Span("x")));
        QCOMPARE(writer.Result(), ZipWriter::kNothingOpen);
        QVERIFY(writer.CloseFileInZip());
        QVERIFY(writer.CloseZip());
        QCOMPARE(writer.Result(), ZipWriter::kNothingOpen);

        QVERIFY(!writer.OpenZip(Path("first.zip")));
        QVERIFY(writer.OpenZip(Path("second.zip")));
        QCOMPARE(writer.Result(), ZipWriter::kAlreadyOpen);
        QVERIFY(!QFile::exists(Path("second.zip")));
        QVERIFY(writer.CloseFileInZip());
        QCOMPARE(writer.Result(), ZipWriter::kNothingOpen);
        QVERIFY(writer.WriteBytes(Span("x")));
        QCOMPARE(writer.Result(), ZipWriter::kNothingOpen);

        QVERIFY(!writer.OpenFileInZip(QStringLiteral("one")));
        QVERIFY(writer.OpenFileInZip(QStringLiteral("two")));
        QCOMPARE(writer.Result(), ZipWriter::kAlreadyOpen);
        QVERIFY(!writer.WriteBytes(Span("still one")));

        // An empty span is a caller's fault: it throws and leaves Result alone.
        QVERIFY(writer.OpenFileInZip(QStringLiteral("three")));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, writer.WriteBytes({}));
        QCOMPARE(writer.Result(), ZipWriter::kAlreadyOpen);

        // A subrange is written from its first element, and only it.
        const QByteArray bytes("0123456789");
        QVERIFY(!writer.WriteBytes(Span(bytes).subspan(5, 5)));
        // Closing the archive with its entry open completes both.
        QVERIFY(!writer.CloseZip());
        QVERIFY(!writer.IsArchiveOpen() && !writer.IsFileOpen());

        const ReadArchive read = ReadWithPython(Path("first.zip"));
        QCOMPARE(read.error, QString());
        QCOMPARE(read.names(), QList<QByteArray>{"one"});
        QCOMPARE(read.entries[0].sha256, Sha256Hex("still one56789"));

        // The same writer starts a new archive after a close.
        QVERIFY(!writer.OpenZip(Path("again.zip")));
        QVERIFY(!writer.CloseZip());
        QCOMPARE(ReadWithPython(Path("again.zip")).error, QString());
    }

    // A name with no Windows-1252 form is refused, never written with "?".
    void unencodableNameRefused() {
        ZipWriter writer;
        QVERIFY(!writer.OpenZip(Path("names.zip")));
        QVERIFY(writer.OpenFileInZip(QStringLiteral("名.jpg")));
        QCOMPARE(writer.Result(), ZipWriter::kNameNotEncodable);
        QVERIFY(!writer.IsFileOpen());
        QVERIFY(writer.OpenFileInZip(QStringLiteral("a.jpg"), 8, -1, 0, QStringLiteral("✓")));
        QCOMPARE(writer.Result(), ZipWriter::kNameNotEncodable);
        QVERIFY(!writer.OpenFileInZip(QStringLiteral("a.jpg")));
        QVERIFY(!writer.CloseZip());
        QCOMPARE(ReadWithPython(Path("names.zip")).names(), QList<QByteArray>{"a.jpg"});
    }

    void archivePaths() {
        ZipWriter writer;
        QVERIFY(writer.OpenZip(Path("missing/folder/x.zip")));
        QCOMPARE(writer.Result(), ZipWriter::kCannotOpenArchive);
        QVERIFY(!writer.IsArchiveOpen());

        // The archive path is the file system's own (UTF-8), not cp1252.
        QVERIFY(QDir(mDir.path()).mkdir(QStringLiteral("Fläche 名")));
        const QString archive = Path(QStringLiteral("Fläche 名/ö.dzp"));
        QVERIFY(!writer.OpenZip(archive));
        QCOMPARE(writer.Result(), 0);
        QVERIFY(!writer.CloseZip());
        QVERIFY(QFileInfo::exists(archive));
        QCOMPARE(ReadWithPython(archive).error, QString());
    }

    void destructionClosesEntryThenArchive() {
        const QString archive = Path("destroyed.zip");
        {
            ZipWriter writer;
            QVERIFY(!writer.OpenZip(archive));
            QVERIFY(!writer.OpenFileInZip(QStringLiteral("done")));
            QVERIFY(!writer.WriteBytes(Span("complete")));
            QVERIFY(!writer.CloseFileInZip());
            QVERIFY(!writer.OpenFileInZip(QStringLiteral("cut")));
            QVERIFY(!writer.WriteBytes(Span("so far")));
        }
        const ReadArchive read = ReadWithPython(archive);
        QCOMPARE(read.error, QString());
        QCOMPARE(read.names(), (QList<QByteArray>{"done", "cut"}));
        QCOMPARE(read.entries[1].sha256, Sha256Hex("so far"));
    }

    // minizip ends an entry, and frees the archive, even when closing fails; the
    // writer must follow, or it would stay "open" for good (or touch freed memory).
    void failedClosesLeaveNothingOpen() {
        if (!QFileInfo(QStringLiteral("/dev/full")).isWritable()) {
            QSKIP("needs /dev/full");
        }
        ZipWriter writer;
        QVERIFY(!writer.OpenZip(QStringLiteral("/dev/full")));
        QVERIFY(!writer.OpenFileInZip(QStringLiteral("a")));
        QVERIFY(!writer.WriteBytes(Span("lost")));
        QVERIFY(writer.CloseFileInZip());
        QVERIFY(writer.Result() != 0);
        QVERIFY(!writer.IsFileOpen());
        QVERIFY(writer.CloseZip());
        QVERIFY(writer.Result() != 0);
        QVERIFY(!writer.IsArchiveOpen());
        QVERIFY(!writer.OpenZip(Path("after.zip")));
        QVERIFY(!writer.CloseZip());
    }
};

QTEST_GUILESS_MAIN(TestZipWriter)
#include "test_zipwriter.moc"
