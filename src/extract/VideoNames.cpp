#include "extract/VideoNames.h"

namespace sparkloom {

QString ProjectFolderOf(const QString& fullPath, const QString& fileName) {
    if (fileName.isEmpty()) {
        return fullPath;
    }
    return QString(fullPath).remove(u'/' + fileName, Qt::CaseSensitive);
}

std::optional<QString> ParticleNameFromFile(const QString& fileName) {
    if (fileName.size() < 4) {
        return std::nullopt;
    }
    return fileName.left(fileName.size() - 4);
}

QString FramePrefixOf(const QString& particleName) {
    return QString(particleName).replace(u' ', u'_');
}

QString FramePattern(const QString& framePrefix) {
    // ffmpeg reads "%" as the start of a number field; "%%" is a literal one.
    return QString(framePrefix).replace(QStringLiteral("%"), QStringLiteral("%%")) +
           QStringLiteral("_%05d.jpg");
}

}  // namespace sparkloom
