#include "common/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace sparkloom {

bool FileExists(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(u'\0'))) {
        return false;
    }
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !info.fileName().startsWith(u'.');
}

QString Shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString ProgramFolder() {
    if (QCoreApplication::instance() == nullptr) {
        return QString();
    }
    return QCoreApplication::applicationDirPath();
}

}  // namespace sparkloom
