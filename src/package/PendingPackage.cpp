#include "package/PendingPackage.h"

#include <chrono>
#include <filesystem>
#include <future>
#include <system_error>
#include <thread>

#include "common/Files.h"
#include "common/Text.h"
#include "package/PackageCheck.h"
#include "package/ReplaceFile.h"
#include "platform/Disk.h"
#include "platform/FileIdentity.h"
#include "platform/FileMove.h"
#include "platform/WriterLock.h"

namespace sparkloom {

namespace fs = std::filesystem;

namespace {

// As long as a scanner or a preview pane usually holds a file it has just seen.
constexpr auto kHeldWait = std::chrono::seconds(3);
constexpr auto kHeldRetry = std::chrono::milliseconds(100);

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

// ".NAME.dzp-XXXXXX", as FreeNameBeside names a package's temporary.
bool IsPackageTemporary(const std::string& name) {
    constexpr size_t kTail = 7;  // "-" and six letters or digits
    if (name.size() < 1 + 4 + kTail || name.front() != '.' || name[name.size() - kTail] != '-') {
        return false;
    }
    for (size_t i = name.size() - kTail + 1; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) {
            return false;
        }
    }
    return AsciiLower(name.substr(name.size() - kTail - 4, 4)) == ".dzp";
}

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

}  // namespace

std::string OldPackageKeptText(const std::string& target) {
    return "the old package " + Shown(target) + " is kept";
}

int RemoveAbandonedPackages(const std::string& folder) {
    const fs::path where = PathFromUtf8(folder);
    std::error_code error;
    int removed = 0;
    for (const platform::FolderEntry& entry : platform::ListFolder(where, error)) {
        if (entry.kind == platform::FolderEntry::Kind::File && IsPackageTemporary(entry.name) &&
            platform::RemoveIfAbandoned(where / PathFromUtf8(entry.name))) {
            ++removed;
        }
    }
    return removed;
}

std::string NextFreeName(const std::string& path) {
    const fs::path given = PathFromUtf8(path);
    const std::string stem = Utf8Of(given.stem());
    const std::string extension = Utf8Of(given.extension());
    for (int number = 2; number < 1000; ++number) {
        const fs::path candidate =
            given.parent_path() /
            PathFromUtf8(stem + " (" + std::to_string(number) + ")" + extension);
        if (!Exists(candidate)) {
            return Utf8Of(candidate);
        }
    }
    return std::string();
}

PendingPackage::PendingPackage(std::string target)
    : mTarget(std::move(target)),
      mPlace(Utf8Of(WrittenThrough(PathFromUtf8(mTarget)))),
      mLock(std::make_unique<platform::WriterLock>()) {
    const fs::path place = PathFromUtf8(mPlace);
    RemoveAbandonedPackages(Utf8Of(place.parent_path()));
    // The lock comes with the file, so a cleaner in another run never takes a
    // temporary that is still being written for one that was left.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const fs::path candidate = FreeNameBeside(place);
        if (candidate.empty()) {
            return;
        }
        const std::error_code error = mLock->Create(candidate);
        if (error == std::errc::file_exists) {
            continue;
        }
        // When it cannot be created, the writer's own try says why.
        mPath = Utf8Of(candidate);
        return;
    }
}

PendingPackage::~PendingPackage() {
    Discard();
}

void PendingPackage::Writing() {
    if (!mPath.empty()) {
        platform::SetHidden(PathFromUtf8(mPath), true);
    }
}

bool PendingPackage::OldPackageThere() const {
    return IsFile(mPlace);
}

bool PendingPackage::Discard() {
    if (!mPath.empty()) {
        std::error_code ignored;
        fs::remove(PathFromUtf8(mPath), ignored);
        mPath.clear();
    }
    mLock->Release();
    return OldPackageThere();
}

PendingPackage::End PendingPackage::Finish(bool canceled, const std::function<void()>& pulse) {
    End end;
    if (canceled && OldPackageThere()) {
        end.keptOld = Discard();
        return end;
    }
    const PackageCheck readBack = ReadBackPackage(mPath, canceled, pulse);
    if (!readBack.IsWhole()) {
        Discard();
        end.failure = ReadBackFailureText(mTarget, readBack);
        return end;
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
    if (const std::error_code error = flushed.get()) {
        Discard();
        end.failure = "Could not save the package " + Shown(mTarget) + ": " + ReasonOf(error);
        return end;
    }
    end.failure = Place(pulse);
    Discard();  // the lock, and the temporary unless it found a name
    return end;
}

std::string PendingPackage::Place(const std::function<void()>& pulse) {
    const fs::path from = PathFromUtf8(mPath);
    const fs::path to = PathFromUtf8(mPlace);
    // The name it takes shows it again, and a hidden file passes its hiding on.
    platform::SetHidden(from, false);
    const auto giveUp = std::chrono::steady_clock::now() + kHeldWait;
    std::error_code error;
    // Windows says "access denied" of a folder in the way too, which no wait mends.
    const auto held = [&] { return platform::IsHeldError(error) && IsFile(mPlace); };
    while ((error = platform::MoveReplacing(from, to)) && held() &&
           std::chrono::steady_clock::now() < giveUp) {
        const auto next = std::chrono::steady_clock::now() + kHeldRetry;
        while (std::chrono::steady_clock::now() < next) {
            if (pulse) {
                pulse();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (!error) {
        mPath.clear();
        return std::string();
    }
    std::string text = "Could not save the package " + Shown(mTarget) + ": " + ReasonOf(error);
    if (!held()) {
        return text;
    }
    // The new package is good: it is kept under a name of its own, never lost
    // to a file some other program would not let go of.
    const std::vector<std::string> holders = platform::HoldersOf(to);
    const auto facts = platform::FactsOf(to);
    text += "\r\n";
    if (!holders.empty()) {
        text += "It is held open by " + Join(holders, ", ") + "; ";
    } else if (facts && facts->readOnly) {
        text += "It is read-only; ";
    } else {
        text += "Another program may hold it open; ";
    }
    const std::string aside = NextFreeName(mPlace);
    if (!aside.empty() && !platform::MoveToFreeName(from, PathFromUtf8(aside))) {
        text += "the new package is saved as " + Shown(aside) + ".";
    } else {
        text += "the new package is kept as " + Shown(mPath) + ".";
    }
    mPath.clear();
    return text;
}

}  // namespace sparkloom
