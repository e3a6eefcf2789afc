// The package check on packages our own Zipper packs from a generated frames
// folder, and on packages Python's zipfile makes with one thing broken each.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include "extract/Extraction.h"
#include "package/FolderWalk.h"
#include "package/FrameSequence.h"
#include "package/PackageCheck.h"
#include "package/Templates.h"
#include "support/TestSupport.h"
#include "zip/Zipper.h"

using namespace sparkloom;
using sparkloom::test::ReadAll;
using sparkloom::test::WriteFile;

Q_DECLARE_METATYPE(PackageCheckLevel)

namespace {

constexpr int kFrames = 30;

// Writes a package from (name, file) pairs with Python's zipfile, then applies
// "flip NAME" (one byte of that entry's stored data inverted).
const char* kMakeZip = R"PY(
import json, struct, sys, zipfile
job = json.loads(sys.argv[1])
method = zipfile.ZIP_STORED if job["stored"] else zipfile.ZIP_DEFLATED
with zipfile.ZipFile(job["out"], "w", method) as z:
    for name, path in job["entries"]:
        z.write(path, name)
if job["flip"]:
    with zipfile.ZipFile(job["out"]) as z:
        info = z.getinfo(job["flip"])
    with open(job["out"], "r+b") as f:
        f.seek(info.header_offset + 26)
        name_len, extra_len = struct.unpack("<HH", f.read(4))
        at = info.header_offset + 30 + name_len + extra_len + info.compress_size // 2
        f.seek(at)
        byte = f.read(1)[0]
        f.seek(at)
        f.write(bytes([byte ^ 0xFF]))
)PY";

QByteArray Utf16File(const QString& text) {
    QStringEncoder toUtf16(QStringConverter::Utf16LE);
    return QByteArray("\xFF\xFE") + QByteArray(toUtf16.encode(text));
}

QString Utf16Text(const QByteArray& bytes) {
    return QStringDecoder(QStringConverter::Utf16LE).decode(bytes.mid(2));
}

}  // namespace

class TestPackageCheck : public QObject {
    Q_OBJECT

    QTemporaryDir mRoot;
    QString mFrames;  // the frames folder as the road leaves it
    int mCase = 0;

    QString Fresh(const QString& name) {
        return mRoot.filePath(QStringLiteral("%1-%2").arg(++mCase).arg(name));
    }

    // The folder packed by the core's walk and Zipper, as the window and the converter pack it.
    bool PackWithZipper(const QString& folder, const QString& package) {
        Zipper zipper;
        zipper.SetTickInterval(0);
        WalkReport walk;
        if (!AddFolderToZip(zipper, folder + u'/', QString(), 2000, walk)) {
            return false;
        }
        QSignalSpy complete(&zipper, &Zipper::Complete);
        QSignalSpy error(&zipper, &Zipper::Error);
        if (zipper.Zip(package)) {
            return false;
        }
        return complete.wait(30000) && error.isEmpty();
    }

    // The frames folder's files, top level first, as (entry name, path).
    QList<std::pair<QString, QString>> Entries() const {
        QList<std::pair<QString, QString>> entries;
        for (const QString& name : QDir(mFrames).entryList(QDir::Files, QDir::Name)) {
            entries << std::pair{QStringLiteral(".\\") + name, mFrames + u'/' + name};
        }
        return entries;
    }

    // One edit of the road's files, then packed by Python. Edits: "drop NAME",
    // "add NAME", "utf8 NAME" (a template as UTF-8), "set NAME FROM TO" (in a
    // template's text), "big N" (N entries of 1 MiB), "stored", "flip NAME", "none"
    // (no entries).
    bool PackWithPython(const QStringList& edits, const QString& package) {
        QList<std::pair<QString, QString>> entries = Entries();
        bool stored = false;
        QString flip;
        auto replace = [&](const QString& name, const QByteArray& bytes) {
            const QString path = Fresh(QStringLiteral("edited"));
            for (auto& entry : entries) {
                if (entry.first == name) {
                    entry.second = path;
                }
            }
            return WriteFile(path, bytes);
        };
        auto pathOf = [&](const QString& name) {
            for (const auto& entry : entries) {
                if (entry.first == name) {
                    return entry.second;
                }
            }
            return QString();
        };
        for (const QString& edit : edits) {
            const QStringList words = edit.split(u' ');
            const QString& verb = words[0];
            if (verb == u"drop") {
                entries.removeIf([&](const auto& entry) { return entry.first == words[1]; });
            } else if (verb == u"add") {
                const QString path = Fresh(QStringLiteral("added"));
                if (!WriteFile(path, "extra")) {
                    return false;
                }
                entries << std::pair{words[1], path};
            } else if (verb == u"utf8") {
                const QByteArray text = Utf16Text(ReadAll(pathOf(words[1]))).toUtf8();
                if (!replace(words[1], QByteArray("\xEF\xBB\xBF") + text)) {
                    return false;
                }
            } else if (verb == u"set") {
                QString text = Utf16Text(ReadAll(pathOf(words[1])));
                if (!text.contains(words[2])) {
                    return false;
                }
                text.replace(words[2], words.value(3));
                if (!replace(words[1], Utf16File(text))) {
                    return false;
                }
            } else if (verb == u"big") {
                // Enough data for the check to split the reading between two threads.
                for (int n = 1; n <= words[1].toInt(); ++n) {
                    const QString path = Fresh(QStringLiteral("noise"));
                    if (!test::WriteNoise(path, 1 << 20, n)) {
                        return false;
                    }
                    entries << std::pair{QStringLiteral(".\\Noise%1.bin").arg(n), path};
                }
            } else if (verb == u"stored") {
                stored = true;
            } else if (verb == u"flip") {
                flip = words[1];
            } else if (verb == u"none") {
                entries.clear();
            } else {
                return false;
            }
        }
        QJsonArray list;
        for (const auto& [name, path] : entries) {
            list.append(QJsonArray{name, path});
        }
        const QJsonObject job{
            {"out", package}, {"stored", stored}, {"flip", flip}, {"entries", list}};
        int code = 0;
        test::RunTool(QStringLiteral("python3"),
                      {QStringLiteral("-W"), QStringLiteral("ignore"), QStringLiteral("-c"),
                       QString::fromLatin1(kMakeZip),
                       QString::fromUtf8(QJsonDocument(job).toJson(QJsonDocument::Compact))},
                      &code);
        return code == 0;
    }

    static bool Cut(const QString& package, double fraction, qint64 fromEnd) {
        QFile file(package);
        const qint64 size = file.size();
        return file.resize(fromEnd > 0 ? size - fromEnd : static_cast<qint64>(size * fraction));
    }

private slots:
    void initTestCase() {
        QVERIFY(mRoot.isValid());
        mFrames = mRoot.filePath(QStringLiteral("Fire frames"));
        QVERIFY(QDir().mkpath(mFrames));
        for (int n = 1; n <= kFrames; ++n) {
            QVERIFY(test::WriteNoise(mFrames + u'/' + FrameName(QStringLiteral("Fire"), n),
                                     2000 + n * 37, n));
        }
        QVERIFY(test::WriteNoise(mFrames + QStringLiteral("/Thumb.jpg"), 3000, 99));
        QVERIFY(QFile::copy(mFrames + QStringLiteral("/Thumb.jpg"),
                            mFrames + QStringLiteral("/Thumb.png")));
        QVERIFY(WriteTemplateXml(mFrames, {QStringLiteral("CUSTOM"), QStringLiteral("General"),
                                           QStringLiteral("Fire")})
                    .ok);
        QVERIFY(WriteTemplateClt(mFrames, QStringLiteral("Fire_00001.jpg"),
                                 AnimationDurationFor(kFrames))
                    .ok);
    }

    // Each row: how the package is made, the level checked, and what must be
    // found: a fault line holding `fault` (none at all when it is empty), and a
    // note holding `note` (none when empty).
    void check_data() {
        QTest::addColumn<QString>("made");  // "zipper", "python", "bytes", "missing"
        QTest::addColumn<QStringList>("edits");
        QTest::addColumn<PackageCheckLevel>("level");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("note");
        const auto whole = PackageCheckLevel::Whole;
        const auto needed = PackageCheckLevel::NeededFiles;
        const auto archive = PackageCheckLevel::Archive;
        const QString clt = QStringLiteral(".\\TitleTemplate.clt");
        const QString xml = QStringLiteral(".\\TitleTemplate.xml");

        QTest::newRow("our road") << "zipper" << QStringList() << whole << ""
                                  << "";
        QTest::newRow("our road, extra files and a subfolder")
            << "zipper" << QStringList{"extras"} << whole << ""
            << "1 file in a subfolder, which the particle does not use: .\\Sub\\x.jpg";
        QTest::newRow("python, deflated") << "python" << QStringList() << whole << ""
                                          << "";
        QTest::newRow("python, stored") << "python" << QStringList{"stored"} << whole << ""
                                        << "";
        QTest::newRow("extra top-level file is a note")
            << "python" << QStringList{"add .\\ReadMe.txt"} << whole << ""
            << "1 extra file, which the particle does not use: .\\ReadMe.txt";
        QTest::newRow("no such file")
            << "missing" << QStringList() << whole << "there is no such file"
            << "";
        QTest::newRow("empty file") << "bytes" << QStringList{"empty"} << whole
                                    << "the file is empty: it is not a ZIP archive"
                                    << "";
        QTest::newRow("not a ZIP")
            << "bytes" << QStringList{"text"} << whole << "the file is not a ZIP archive"
            << "";
        for (const double fraction : {0.1, 0.5, 0.9}) {
            QTest::addRow("cut at %d%%", static_cast<int>(fraction * 100))
                << "zipper" << QStringList{QStringLiteral("cut %1").arg(fraction)} << archive
                << "the archive is cut short or damaged"
                << "";
        }
        QTest::newRow("cut by 1 byte")
            << "zipper" << QStringList{"cut -1"} << archive << "the archive is cut short"
            << "";
        QTest::newRow("cut by its end record")
            << "zipper" << QStringList{"cut -22"} << archive << "cut short or damaged"
            << "";
        QTest::newRow("a frame's bytes flipped")
            << "python" << QStringList{"flip .\\Fire_00003.jpg"} << archive
            << ".\\Fire_00003.jpg: its data do not match their CRC"
            << "";
        QTest::newRow("a template's bytes flipped")
            << "python" << QStringList{"flip .\\TitleTemplate.xml"} << archive << xml + ": its"
            << "";
        QTest::newRow("a stored entry's bytes flipped")
            << "python" << QStringList{"stored", "flip .\\Thumb.png"} << archive
            << ".\\Thumb.png: its data do not match their CRC"
            << "";
        QTest::newRow("large, read by two threads")
            << "python" << QStringList{"big 12"} << whole << ""
            << "12 extra files, which the particle does not use: .\\Noise1.bin";
        QTest::newRow("large, flipped late")
            << "python" << QStringList{"big 12", "flip .\\Noise12.bin"} << needed
            << ".\\Noise12.bin: its data do not match their CRC"
            << "";
        QTest::newRow("large, flipped early")
            << "python" << QStringList{"big 12", "flip .\\Fire_00002.jpg"} << needed
            << ".\\Fire_00002.jpg: its data do not match their CRC"
            << "";
        QTest::newRow("record not UTF-16") << "python" << QStringList{"utf8 .\\TitleTemplate.xml"}
                                           << whole << xml + ": it is not UTF-16 text"
                                           << "";
        QTest::newRow("script not UTF-16 fails the read-back too")
            << "python" << QStringList{"utf8 .\\TitleTemplate.clt"} << needed
            << clt + ": it is not UTF-16 text"
            << "";
        QTest::newRow("script not well-formed")
            << "python" << QStringList{"set .\\TitleTemplate.clt </CTemplate>"} << needed
            << clt + ": it is not well-formed XML"
            << "";
        QTest::newRow("script with its placeholder")
            << "python" << QStringList{"set .\\TitleTemplate.clt Fire_00001.jpg {{FIRSTFILENAME}}"}
            << needed
            << clt + ": its AnimationImage \"{{FIRSTFILENAME}}\" still holds a placeholder"
            << "";
        QTest::newRow("record without ALIAS")
            << "python" << QStringList{"set .\\TitleTemplate.xml ALIAS= NAME="} << whole
            << xml + ": it has no ALIAS in <TEMPLATE>"
            << "";
        QTest::newRow("record with an empty CATEGORY")
            << "python" << QStringList{"set .\\TitleTemplate.xml \"General\" \"\""} << whole
            << xml + ": its CATEGORY is empty"
            << "";
        QTest::newRow("missing first frame")
            << "python" << QStringList{"drop .\\Fire_00001.jpg"} << needed
            << ".\\Fire_00001.jpg: it is missing: it is the first frame the script names"
            << "";
        QTest::newRow("missing thumbnail") << "python" << QStringList{"drop .\\Thumb.png"} << needed
                                           << ".\\Thumb.png: it is missing"
                                           << "";
        QTest::newRow("missing script") << "python" << QStringList{"drop .\\TitleTemplate.clt"}
                                        << needed << clt + ": it is missing"
                                        << "";
        QTest::newRow("0 entries")
            << "python" << QStringList{"none"} << needed << "the archive holds no entries"
            << "";
        QTest::newRow("0 entries read back after a cancel")
            << "python" << QStringList{"none"} << archive << ""
            << "";
        QTest::newRow("gap in the frames")
            << "python" << QStringList{"drop .\\Fire_00010.jpg"} << whole
            << ".\\Fire_00010.jpg: it is missing: the frames run from .\\Fire_00001.jpg to "
               ".\\Fire_00030.jpg"
            << "";
        QTest::newRow("gap is no fault of the read-back")
            << "python" << QStringList{"drop .\\Fire_00010.jpg"} << needed << ""
            << "";
        QTest::newRow("duration not of the frames")
            << "python"
            << QStringList{"set .\\TitleTemplate.clt AnimationDuration=\"1000\" "
                           "AnimationDuration=\"1100\""}
            << whole
            << clt + ": its AnimationDuration is 1100 ms, but the 30 frames from "
                     ".\\Fire_00001.jpg on last 1000 ms"
            << "";
        QTest::newRow("frames beyond the last counted")
            << "python" << QStringList{"add .\\Fire_00031.jpg"} << whole
            << clt + ": its AnimationDuration is 1000 ms, but the 31 frames"
            << "";
        QTest::newRow("frames before the first are a note")
            << "python"
            << QStringList{"set .\\TitleTemplate.clt Fire_00001.jpg Fire_00002.jpg",
                           "set .\\TitleTemplate.clt \"1000\" \"967\""}
            << whole << ""
            << "1 frame numbered before the first frame .\\Fire_00002.jpg, not part of the "
               "animation";
        QTest::newRow("name without .\\") << "python" << QStringList{"add Notes.txt"} << whole
                                          << "Notes.txt: its name does not start with .\\"
                                          << "";
        QTest::newRow("name marked UTF-8")
            << "python" << QStringList{QStringLiteral("add .\\Caf\u00e9.jpg")} << whole
            << QStringLiteral(".\\Caf\u00e9.jpg: its name is marked as UTF-8") << "";
        QTest::newRow("name with /") << "python" << QStringList{"add .\\Sub/Notes.txt"} << whole
                                     << ".\\Sub/Notes.txt: its name holds \"/\""
                                     << "";
        QTest::newRow("entry twice") << "python" << QStringList{"add .\\Thumb.jpg"} << whole
                                     << ".\\Thumb.jpg: it is in the archive 2 times"
                                     << "";
    }

    void check() {
        QFETCH(QString, made);
        QFETCH(QStringList, edits);
        QFETCH(PackageCheckLevel, level);
        QFETCH(QString, fault);
        QFETCH(QString, note);

        const QString package = Fresh(QStringLiteral("Fire.dzp"));
        if (made == u"zipper") {
            QString folder = mFrames;
            if (edits.contains(QStringLiteral("extras"))) {
                folder = Fresh(QStringLiteral("frames"));
                QVERIFY(QDir().mkpath(folder + QStringLiteral("/Sub")));
                for (const auto& [name, path] : Entries()) {
                    QVERIFY(QFile::copy(path, folder + u'/' + name.mid(2)));
                }
                QVERIFY(WriteFile(folder + QStringLiteral("/Sub/x.jpg"), "x"));
            }
            QVERIFY(PackWithZipper(folder, package));
            QVERIFY(test::UnzipTestsClean(package));
            for (const QString& edit : edits) {
                if (edit.startsWith(QStringLiteral("cut "))) {
                    const double at = edit.mid(4).toDouble();
                    QVERIFY(Cut(package, at, at < 0 ? static_cast<qint64>(-at) : 0));
                }
            }
        } else if (made == u"python") {
            QVERIFY(PackWithPython(edits, package));
        } else if (made == u"bytes") {
            QVERIFY(WriteFile(package, edits.contains(QStringLiteral("text"))
                                           ? QByteArray("just some text\n")
                                           : QByteArray()));
        }

        const PackageCheck check = CheckPackage(package, level);
        const QString lines = check.FaultLines().join(u'\n');
        if (fault.isEmpty()) {
            QVERIFY2(check.IsWhole(), qPrintable(lines));
        } else {
            QVERIFY2(lines.contains(fault), qPrintable(lines));
        }
        for (const PackageFault& each : check.faults) {
            QVERIFY(!each.text.isEmpty());
        }
        const QString notes = check.notes.join(u'\n');
        if (note.isEmpty()) {
            QVERIFY2(check.notes.isEmpty(), qPrintable(notes));
        } else {
            QVERIFY2(notes.contains(note), qPrintable(notes));
        }
    }

    // The read-back a build runs: the needed files, or after a cancel the archive alone,
    // and its message names the fault.
    void readBack() {
        const QString package = Fresh(QStringLiteral("Fire.dzp"));
        QVERIFY(PackWithPython({QStringLiteral("drop .\\Thumb.jpg")}, package));
        QVERIFY(ReadBackPackage(package, true).IsWhole());
        const PackageCheck check = ReadBackPackage(package, false);
        QCOMPARE(check.FaultLines(), QStringList{QStringLiteral(".\\Thumb.jpg: it is missing")});
        const QString text = ReadBackFailureText(package, check);
        QVERIFY2(text.startsWith(QStringLiteral("The package ")) &&
                     text.endsWith(QStringLiteral(" was written but does not read back whole:\r\n"
                                                  ".\\Thumb.jpg: it is missing")),
                 qPrintable(text));
    }

    void frames_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("numbered");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("missingCount");
        QTest::addColumn<int>("earlier");
        const QStringList three{"A_00001.jpg", "A_00002.jpg", "A_00003.jpg"};
        QTest::newRow("unbroken") << "A_00001.jpg" << three << true << 3 << 3 << 0 << 0;
        QTest::newRow("from the second on") << "A_00002.jpg" << three << true << 2 << 3 << 0 << 1;
        QTest::newRow("a gap") << "A_00001.jpg"
                               << QStringList{"A_00001.jpg", "A_00004.jpg", "Thumb.png"} << true
                               << 2 << 4 << 2 << 0;
        QTest::newRow("other spellings are not frames")
            << "A_00001.jpg" << QStringList{"A_00001.jpg", "A_0002.jpg",  "A_000003.jpg",
                                            "a_00002.jpg", "A_00002.JPG", "B_00002.jpg"}
            << true << 1 << 1 << 0 << 0;
        QTest::newRow("beyond five digits")
            << "A_99999.jpg" << QStringList{"A_99999.jpg", "A_100000.jpg"} << true << 2 << 100000
            << 0 << 0;
        QTest::newRow("prefix with blanks and _")
            << "My_Clip_2_00001.jpg" << QStringList{"My_Clip_2_00001.jpg", "My_Clip_2_00002.jpg"}
            << true << 2 << 2 << 0 << 0;
        QTest::newRow("first frame not numbered")
            << "still.jpg" << QStringList{"still.jpg"} << false << 0 << 0 << 0 << 0;
        QTest::newRow("a far-off number")
            << "A_00001.jpg" << QStringList{"A_00001.jpg", "A_2000000000.jpg"} << true << 2
            << 2000000000 << 1999999998 << 0;
    }

    void frames() {
        QFETCH(QString, first);
        QFETCH(QStringList, names);
        const FrameSequence frames = FramesFrom(first, names);
        QTEST(frames.numbered, "numbered");
        QTEST(static_cast<int>(frames.count), "count");
        QTEST(static_cast<int>(frames.last), "last");
        QTEST(static_cast<int>(frames.missingCount), "missingCount");
        QTEST(static_cast<int>(frames.earlier), "earlier");
        QVERIFY(frames.missing.size() <= kMissingFramesKept);
        QCOMPARE(frames.Unbroken(),
                 frames.numbered && frames.missingCount == 0 && frames.count > 0);
    }
};

QTEST_GUILESS_MAIN(TestPackageCheck)
#include "test_packagecheck.moc"
