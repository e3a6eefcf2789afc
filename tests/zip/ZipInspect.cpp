#include "zip/ZipInspect.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace sparkloom::test {

QList<QByteArray> ReadArchive::names() const {
    QList<QByteArray> result;
    for (const ReadEntry& entry : entries) {
        result.push_back(entry.name);
    }
    return result;
}

ReadArchive ReadWithPython(const QString& archive) {
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral(ZIP_INSPECT_SCRIPT), archive});
    ReadArchive result;
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        result.error = QStringLiteral("python3 failed: ") + python.readAllStandardError();
        return result;
    }
    const QJsonObject root = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    result.error = root.value(u"error").toString(QStringLiteral("no JSON from the reader"));
    for (const QJsonValue& value : root.value(u"entries").toArray()) {
        const QJsonObject o = value.toObject();
        const QJsonArray t = o.value(u"time").toArray();
        ReadEntry entry;
        entry.name = QByteArray::fromHex(o.value(u"name").toString().toLatin1());
        entry.method = o.value(u"method").toInt();
        entry.time = QDateTime(QDate(t[0].toInt(), t[1].toInt(), t[2].toInt()),
                               QTime(t[3].toInt(), t[4].toInt(), t[5].toInt()));
        entry.external = static_cast<quint32>(o.value(u"external").toDouble());
        entry.system = o.value(u"system").toInt();
        entry.flags = static_cast<quint32>(o.value(u"flags").toInt());
        entry.size = static_cast<qint64>(o.value(u"size").toDouble());
        entry.sha256 = o.value(u"sha256").toString().toLatin1();
        entry.comment = QByteArray::fromHex(o.value(u"comment").toString().toLatin1());
        entry.crc = static_cast<quint32>(o.value(u"crc").toDouble());
        entry.rawSha256 = o.value(u"raw").toString().toLatin1();
        result.entries.push_back(entry);
    }
    return result;
}

bool UnzipTestsOk(const QString& archive, QString* output) {
    QProcess unzip;
    unzip.setProcessChannelMode(QProcess::MergedChannels);
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-t"), archive});
    const bool finished = unzip.waitForFinished(60000);
    if (output != nullptr) {
        *output = QString::fromLocal8Bit(unzip.readAll());
    }
    return finished && unzip.exitStatus() == QProcess::NormalExit && unzip.exitCode() == 0;
}

QByteArray Sha256Hex(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

QByteArray FileSha256Hex(const QString& path, qint64 limit) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 left = limit < 0 ? file.size() : limit;
    while (left > 0) {
        const QByteArray block = file.read(std::min<qint64>(left, 1 << 20));
        if (block.isEmpty()) {
            return {};
        }
        hash.addData(block);
        left -= block.size();
    }
    return hash.result().toHex();
}

bool WriteFile(const QString& path, qint64 size, char seed) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    QByteArray block(1 << 16, Qt::Uninitialized);
    quint32 state = static_cast<uchar>(seed) * 2654435761u + 1;
    for (qint64 done = 0; done < size; done += block.size()) {
        for (char& c : block) {
            state = state * 1103515245u + 12345u;
            c = static_cast<char>((state >> 16) % 48 + 'A');  // compressible but not trivial
        }
        const qint64 n = std::min<qint64>(block.size(), size - done);
        if (file.write(block.constData(), n) != n) {
            return false;
        }
    }
    return file.flush();
}

}  // namespace sparkloom::test
