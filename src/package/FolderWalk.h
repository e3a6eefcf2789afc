#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace sparkloom {

class Zipper;

struct WalkReport {
    // Set when the walk stopped on a refused file: "AddFile failed on " + name.
    QString statusMessage;
    // Files and folders not taken because a folder held more than maxFiles entries.
    int leftOut = 0;
    // The files queued from the top folder, by name: the package's own files and
    // its frames live there.
    QStringList topLevelFiles;
};

// Queues every file under sFolder (which ends with the platform separator) into
// zipper, files of a folder before its subfolders, names sorted case-insensitively.
// Entry names are ".\" + sEntryPrefix + name with "\" between folders. Returns
// false when the zipper refused a file (report.statusMessage says which).
bool AddFolderToZip(Zipper& zipper, const QString& sFolder, const QString& sEntryPrefix,
                    int32_t maxFiles, WalkReport& report);

// The refusal to show when one of names, or of the names under folder, has no
// form in the package's 8-bit entry names; "" when all of them do.
QString UnstorableNamesRefusal(const QStringList& names, const QString& folder);

}  // namespace sparkloom
