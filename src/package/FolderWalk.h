#pragma once

#include <QString>
#include <cstdint>

namespace sparkloom {

class Zipper;

struct WalkReport {
    // Set when the walk stopped on a refused file: "AddFile failed on " + name.
    QString statusMessage;
    // Files and folders not taken because a folder held more than maxFiles entries.
    int leftOut = 0;
};

// Queues every file under sFolder (which ends with the platform separator) into
// zipper, files of a folder before its subfolders, names sorted case-insensitively.
// Entry names are ".\" + sEntryPrefix + name with "\" between folders. Returns
// false when the zipper refused a file (report.statusMessage says which).
bool AddFolderToZip(Zipper& zipper, const QString& sFolder, const QString& sEntryPrefix,
                    int32_t maxFiles, WalkReport& report);

}  // namespace sparkloom
