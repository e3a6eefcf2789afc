#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sparkloom {

class Zipper;

struct WalkReport {
    // Set when the walk stopped on a refused file: "AddFile failed on " + name,
    // then ": " and the reason when one is known.
    std::string statusMessage;
    // Files and folders not taken because a folder held more than maxFiles entries.
    int leftOut = 0;
    // The files queued from the top folder, by name: the package's own files and
    // its frames live there.
    std::vector<std::string> topLevelFiles;
};

// Queues every file under sFolder (which ends with the platform separator) into
// zipper, files of a folder before its subfolders, names sorted case-insensitively.
// Entry names are ".\" + sEntryPrefix + name with "\" between folders. Returns
// false when the zipper refused a file (report.statusMessage says which).
bool AddFolderToZip(Zipper& zipper, const std::string& sFolder, const std::string& sEntryPrefix,
                    int32_t maxFiles, WalkReport& report);

// The refusal to show when one of names, or of the names under folder, has no
// form in the package's 8-bit entry names; "" when all of them do.
std::string UnstorableNamesRefusal(const std::vector<std::string>& names,
                                   const std::string& folder);

}  // namespace sparkloom
