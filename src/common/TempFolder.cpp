#include "common/TempFolder.h"

#include <atomic>
#include <chrono>
#include <system_error>
#include <vector>

#include "common/Text.h"

namespace sparkloom {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLockSuffix = ".lock";

fs::path LockOf(const fs::path& folder) {
    return fs::path(folder).concat(kLockSuffix);
}

}  // namespace

fs::path TempFolder::Root() {
    std::error_code error;
    const fs::path temp = fs::temp_directory_path(error);
    return error ? fs::path() : temp / "sparkloom";
}

// The lock is taken before the folder exists, so a cleaner never finds a
// folder of a live owner without its lock.
bool TempFolder::Create(const std::string& prefix) {
    static std::atomic<uint64_t> made = 0;
    const fs::path root = Root();
    std::error_code error;
    if (root.empty() || (!fs::create_directories(root, error) && error)) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path folder =
        root / PathFromUtf8(prefix + "-" + std::to_string(now) + "-" + std::to_string(++made));
    if (mLock.Create(LockOf(folder))) {
        return false;
    }
    if (!fs::create_directory(folder, error)) {
        mLock.Release();
        fs::remove(LockOf(folder), error);
        return false;
    }
    mPath = folder;
    return true;
}

TempFolder::~TempFolder() {
    if (!mPath.empty()) {
        std::error_code error;
        fs::remove_all(mPath, error);
        mLock.Release();
        fs::remove(LockOf(mPath), error);
    }
}

void TempFolder::RemoveStale() {
    const fs::path root = Root();
    std::error_code error;
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(root, error)) {
        entries.push_back(entry.path());
    }
    for (const fs::path& entry : entries) {
        const bool isLock = entry.extension() == kLockSuffix;
        const fs::path folder = isLock ? fs::path(entry).replace_extension() : entry;
        if (!isLock && fs::exists(LockOf(folder), error)) {
            continue;  // taken with its lock, below
        }
        // A folder without its lock file is what a cleaner stopped halfway left.
        if (isLock && !platform::RemoveIfAbandoned(entry)) {
            continue;  // its owner runs
        }
        fs::remove_all(folder, error);
    }
}

}  // namespace sparkloom
