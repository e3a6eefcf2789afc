#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>
#include <algorithm>

namespace sparkloom::test {

inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// size bytes that deflate cannot shrink, the same for the same seed.
inline bool WriteNoise(const QString& path, qint64 size, quint64 seed) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    QByteArray block(1 << 20, Qt::Uninitialized);
    quint64 state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (qint64 left = size; left > 0;) {
        auto* words = reinterpret_cast<quint64*>(block.data());
        for (qsizetype i = 0; i < block.size() / 8; ++i) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            words[i] = state;
        }
        const qint64 piece = std::min<qint64>(left, block.size());
        if (file.write(block.constData(), piece) != piece) {
            return false;
        }
        left -= piece;
    }
    return true;
}

// The value of one attribute of the first element called element, in a template.
inline QString AttributeOf(const QByteArray& utf16File, const QString& element,
                           const QString& name) {
    QXmlStreamReader reader(utf16File);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == element) {
            return reader.attributes().value(name).toString();
        }
    }
    return QStringLiteral("<missing: %1>").arg(reader.errorString());
}

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
