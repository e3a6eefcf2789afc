#include "extract/VideoNames.h"

#include <QFile>

#include "zip/AnsiText.h"

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
    QString name = fileName.left(fileName.size() - 4);
    // A character outside the BMP is two code units; half of one is no letter
    // and could never name a frame file.
    if (!name.isEmpty() && name.back().isHighSurrogate() &&
        fileName[name.size()].isLowSurrogate()) {
        name.chop(1);
    }
    return name;
}

QString FramePrefixOf(const QString& particleName) {
    return QString(particleName).replace(u' ', u'_');
}

QString FramePattern(const QString& framePrefix) {
    // ffmpeg reads "%" as the start of a number field; "%%" is a literal one.
    return QString(framePrefix).replace(QStringLiteral("%"), QStringLiteral("%%")) +
           QStringLiteral("_%05d.jpg");
}

QString FramePrefixRefusal(const QString& framePrefix) {
    if (framePrefix.contains(u'/') || framePrefix.contains(QChar(u'\0'))) {
        return QStringLiteral("The particle name names the frame files and cannot contain \"/\".");
    }
    if (framePrefix.startsWith(u'.')) {
        return QStringLiteral(
            "The particle name names the frame files and cannot start with \".\": such frames "
            "would be hidden files, which no package takes.");
    }
    if (QFile::encodeName(framePrefix).size() + 10 > 255) {  // + "_00001.jpg"
        return QStringLiteral("The particle name is too long to name the frame files.");
    }
    if (!EncodeAnsi(framePrefix)) {
        return QStringLiteral(
                   "The particle name names the frame files and can only hold "
                   "Western European letters:\r\n") +
               framePrefix;
    }
    return QString();
}

}  // namespace sparkloom
