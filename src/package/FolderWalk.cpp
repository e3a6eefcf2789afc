#include "package/FolderWalk.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <stdexcept>

#include "zip/AnsiText.h"
#include "zip/Zipper.h"

namespace sparkloom {

namespace {

// The folder's entries as the host editor's platform lists them: "." and ".."
// first, then the names in the order of their upper-cased forms (NTFS's order,
// so "_" comes after the letters), equal forms case-sensitively. Hidden names
// (starting with ".") and system entries (fifos, sockets, devices, dangling
// links) are not listed. Links to folders are left out as well: following them
// could walk in circles.
QStringList ListFolder(const QString& folder) {
    const QFileInfoList infos =
        QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    struct Named {
        QString upper;
        QString name;
    };
    std::vector<Named> named;
    named.reserve(static_cast<size_t>(infos.size()));
    for (const QFileInfo& info : infos) {
        if (!(info.isSymLink() && info.isDir())) {
            named.push_back({info.fileName().toUpper(), info.fileName()});
        }
    }
    std::sort(named.begin(), named.end(), [](const Named& a, const Named& b) {
        const int order = QString::compare(a.upper, b.upper, Qt::CaseSensitive);
        return order != 0 ? order < 0 : QString::compare(a.name, b.name, Qt::CaseSensitive) < 0;
    });
    QStringList names{QStringLiteral("."), QStringLiteral("..")};
    for (Named& entry : named) {
        names.push_back(std::move(entry.name));
    }
    return names;
}

// False when the zipper refuses the file: its attributes cannot be read (also
// when it has gone since the listing), or the queued total would pass 2 GiB.
bool Queue(Zipper& zipper, const QString& path, const QString& entryName) {
    try {
        return !zipper.AddFile(path, entryName);
    } catch (const std::overflow_error&) {
        return false;
    }
}

}  // namespace

bool AddFolderToZip(Zipper& zipper, const QString& sFolder, const QString& sEntryPrefix,
                    int32_t maxFiles, WalkReport& report) {
    const QStringList names = ListFolder(sFolder);
    QStringList subfolders;
    int32_t count = 0;
    for (const QString& name : names) {
        ++count;
        // "." and ".." are folders by name: a folder that can be listed but not
        // searched would fail a stat of them.
        if (name == u"." || name == u"..") {
        } else if (QFileInfo(sFolder + name).isDir()) {
            subfolders.push_back(name);
        } else if (!Queue(zipper, sFolder + name, QStringLiteral(".\\") + sEntryPrefix + name)) {
            report.statusMessage = QStringLiteral("AddFile failed on ") + name;
            return false;
        } else if (sEntryPrefix.isEmpty()) {
            report.topLevelFiles << name;
        }
        if (count == maxFiles) {
            report.leftOut += static_cast<int>(names.size()) - count;
            break;
        }
    }
    for (const QString& sub : subfolders) {
        if (!AddFolderToZip(zipper, sFolder + sub + u'/', sEntryPrefix + sub + u'\\', maxFiles,
                            report)) {
            return false;
        }
    }
    return true;
}

QString UnstorableNamesRefusal(const QStringList& names, const QString& folder) {
    QStringList unstorable;
    for (const QString& name : names) {
        if (!EncodeAnsi(name)) {
            unstorable << name;
        }
    }
    QDirIterator files(folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                       QDirIterator::Subdirectories);
    while (files.hasNext() && unstorable.size() < 5) {
        files.next();
        if (!EncodeAnsi(files.fileName())) {
            unstorable << QDir::toNativeSeparators(files.filePath());
        }
    }
    if (unstorable.isEmpty()) {
        return QString();
    }
    return QStringLiteral(
               "These names cannot be stored in the package "
               "(only Western European letters are possible):\r\n") +
           unstorable.join(QStringLiteral("\r\n"));
}

}  // namespace sparkloom
