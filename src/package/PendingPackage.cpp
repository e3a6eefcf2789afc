#include "package/PendingPackage.h"

#include <chrono>
#include <filesystem>
#include <future>
#include <system_error>

#include "common/Files.h"
#include "common/Text.h"
#include "package/PackageCheck.h"
#include "package/ReplaceFile.h"
#include "platform/FileIdentity.h"

namespace sparkloom {

namespace fs = std::filesystem;

namespace {

// Where writing to path would write: a link is followed to what it names, even
// when that does not exist (yet), so the package goes there and the link stays.
fs::path WrittenThrough(fs::path path) {
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error))) {
            break;
        }
        const fs::path next = fs::read_symlink(path, error);
        if (error) {
            break;
        }
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return path;
}

}  // namespace

PendingPackage::PendingPackage(std::string target)
    : mTarget(std::move(target)),
      mPlace(Utf8Of(WrittenThrough(PathFromUtf8(mTarget)))),
      mPath(Utf8Of(FreeNameBeside(PathFromUtf8(mPlace)))) {}

PendingPackage::~PendingPackage() {
    Discard();
}

void PendingPackage::Discard() {
    if (!mPath.empty()) {
        std::error_code ignored;
        fs::remove(PathFromUtf8(mPath), ignored);
    }
}

std::string PendingPackage::Finish(bool canceled, const std::function<void()>& pulse) {
    const PackageCheck readBack = ReadBackPackage(mPath, canceled, pulse);
    if (!readBack.IsWhole()) {
        Discard();
        return ReadBackFailureText(mTarget, readBack);
    }
    // On the disk before the name points at it. That can take a while for a
    // large package, so the window keeps being served meanwhile.
    const fs::path written = PathFromUtf8(mPath);
    std::future<std::error_code> flushed =
        std::async(std::launch::async, [written] { return platform::FlushToDisk(written); });
    while (flushed.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        if (pulse) {
            pulse();
        }
    }
    std::error_code error = flushed.get();
    if (!error) {
        fs::rename(PathFromUtf8(mPath), PathFromUtf8(mPlace), error);
    }
    if (error) {
        Discard();
        return "Could not save the package " + Shown(mTarget) + ": " + ReasonOf(error);
    }
    mPath.clear();
    return std::string();
}

}  // namespace sparkloom
