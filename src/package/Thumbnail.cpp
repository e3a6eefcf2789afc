#include "package/Thumbnail.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <cstdio>

namespace sparkloom {

bool CopyThumbnail(const QString& source, const QString& framesFolder, QString& error) {
    for (const QString& name : {QStringLiteral("Thumb.jpg"), QStringLiteral("Thumb.png")}) {
        const QString target = framesFolder + u'/' + name;
        QTemporaryFile partial(framesFolder + QStringLiteral("/.Thumb-XXXXXX"));
        QFile input(source);
        bool copied = partial.open() && input.open(QIODevice::ReadOnly);
        while (copied && !input.atEnd()) {
            const QByteArray chunk = input.read(1 << 20);
            copied = input.error() == QFileDevice::NoError && partial.write(chunk) == chunk.size();
        }
        copied = copied && partial.flush();
        if (copied) {
            partial.setAutoRemove(false);
            partial.close();
            if (std::rename(QFile::encodeName(partial.fileName()).constData(),
                            QFile::encodeName(target).constData()) != 0) {
                QFile::remove(partial.fileName());
                copied = false;
            }
        }
        if (!copied) {
            QString reason =
                input.error() != QFileDevice::NoError ? input.errorString() : partial.errorString();
            if (reason.isEmpty()) {
                reason = QStringLiteral("the file could not be replaced");
            }
            error = QStringLiteral("Could not copy the thumbnail to %1: %2")
                        .arg(QDir::toNativeSeparators(target), reason);
            return false;
        }
    }
    return true;
}

}  // namespace sparkloom
