#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace sparkloom::test {

// One entry as Python's zipfile reads it.
struct ReadEntry {
    QByteArray name;  // raw bytes as stored
    int method = -1;
    QDateTime time;  // the DOS stamp, as local time
    quint32 external = 0;
    int system = -1;
    quint32 flags = 0;
    qint64 size = -1;
    QByteArray sha256;  // hex
    QByteArray comment;
    quint32 crc = 0;
    QByteArray rawSha256;  // hex, of the bytes as stored (compressed)
};

struct ReadArchive {
    QString error;  // empty when the whole archive read cleanly, CRCs included
    QList<ReadEntry> entries;
    QList<QByteArray> names() const;
};

ReadArchive ReadWithPython(const QString& archive);
// `unzip -t`'s verdict: true when every entry tests OK.
bool UnzipTestsOk(const QString& archive, QString* output = nullptr);

QByteArray Sha256Hex(const QByteArray& data);
QByteArray FileSha256Hex(const QString& path, qint64 limit = -1);
// A file of size bytes of varied content.
bool WriteFile(const QString& path, qint64 size, char seed = 1);

}  // namespace sparkloom::test
