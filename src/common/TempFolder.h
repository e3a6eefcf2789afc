#pragma once

#include <filesystem>
#include <string>

#include "platform/WriterLock.h"

namespace sparkloom {

// A folder of this process's own under the program's folder in the system's
// temporary folder ("sparkloom"), held by a lock file beside it for as long as
// it lives, and removed with it.
class TempFolder {
public:
    TempFolder() = default;
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Makes a new folder whose name starts with prefix; false when it cannot.
    bool Create(const std::string& prefix);
    const std::filesystem::path& Path() const { return mPath; }

    // The program's folder in the system's temporary folder.
    static std::filesystem::path Root();
    // Removes what a process that ended without cleaning up (a crash) left
    // there: folders whose lock no process holds any more.
    static void RemoveStale();

private:
    std::filesystem::path mPath;
    platform::WriterLock mLock;
};

}  // namespace sparkloom
