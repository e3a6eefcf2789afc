#pragma once

#include <QByteArray>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace sparkloom::test {

// Runs a program to its end and returns its standard output ("" on failure).
inline QByteArray RunTool(const QString& program, const QStringList& arguments,
                          int* exitCode = nullptr, int timeoutMs = 120000) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted() || !process.waitForFinished(timeoutMs)) {
        if (exitCode) {
            *exitCode = -1;
        }
        return QByteArray();
    }
    if (exitCode) {
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    return process.readAllStandardOutput();
}

// A clip of ffmpeg's test pattern: seconds × 30 frames at 64×48.
inline bool MakeClip(const QString& path, int seconds = 1, const QString& size = "64x48") {
    int code = 0;
    RunTool(QStringLiteral("ffmpeg"),
            {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
             QStringLiteral("testsrc=duration=%1:size=%2:rate=30").arg(seconds).arg(size),
             "-pix_fmt", "yuv420p", path},
            &code);
    return code == 0;
}

// One archive entry as Python's zipfile (an independent reader) sees it.
struct ArchiveEntry {
    QByteArray rawName;  // the name's bytes as stored
    QByteArray data;
    int method = -1;
    quint32 externalAttr = 0;
    QList<int> dateTime;  // year, month, day, hour, minute, second
};

// Reads every entry with Python's zipfile after testzip() has checked all CRCs.
// Returns false when the archive is unreadable or a CRC is wrong.
inline bool ReadArchive(const QString& path, QList<ArchiveEntry>& entries) {
    static const char* script = R"PY(
import base64, json, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    bad = z.testzip()
    if bad is not None:
        sys.exit(3)
    out = []
    for i in z.infolist():
        raw = i.orig_filename.encode('cp437') if not (i.flag_bits & 0x800) else i.orig_filename.encode('utf-8')
        out.append({"name": base64.b64encode(raw).decode(), "data": base64.b64encode(z.read(i)).decode(),
                    "method": i.compress_type, "attr": i.external_attr, "dt": list(i.date_time)})
    print(json.dumps(out))
)PY";
    int code = 0;
    const QByteArray json =
        RunTool(QStringLiteral("python3"),
                {QStringLiteral("-c"), QString::fromLatin1(script), path}, &code);
    if (code != 0) {
        return false;
    }
    entries.clear();
    for (const QJsonValue& value : QJsonDocument::fromJson(json).array()) {
        const QJsonObject o = value.toObject();
        ArchiveEntry e;
        e.rawName = QByteArray::fromBase64(o["name"].toString().toLatin1());
        e.data = QByteArray::fromBase64(o["data"].toString().toLatin1());
        e.method = o["method"].toInt();
        e.externalAttr = static_cast<quint32>(o["attr"].toDouble());
        for (const QJsonValue& part : o["dt"].toArray()) {
            e.dateTime << part.toInt();
        }
        entries << e;
    }
    return true;
}

// `unzip -t` must report the archive free of errors.
inline bool UnzipTestsClean(const QString& path) {
    int code = 0;
    RunTool(QStringLiteral("unzip"), {QStringLiteral("-tqq"), path}, &code);
    return code == 0;
}

}  // namespace sparkloom::test
