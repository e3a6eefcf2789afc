#include "package/ReplaceFile.h"

#include <cerrno>
#include <random>
#include <system_error>

#include "common/Text.h"
#include "platform/FileMove.h"

namespace sparkloom {

namespace fs = std::filesystem;

std::string StreamReason(int error, const char* fallback) {
    return error != 0 ? ReasonOfErrno(error) : std::string(fallback);
}

PartialFile::PartialFile(fs::path target) : mTarget(std::move(target)) {}

PartialFile::~PartialFile() {
    if (mFile.is_open()) {
        mFile.close();
    }
    if (!mCommitted && !mPartial.empty()) {
        std::error_code ignored;
        fs::remove(mPartial, ignored);
    }
}

fs::path FreeNameBeside(const fs::path& target) {
    // A name of up to 255 bytes, as file systems allow, must still have a
    // temporary beside it: the name is cut, at a whole character, to leave room.
    // A longer one stays whole, so creating it fails at once with the system's reason.
    constexpr size_t kMostNameBytes = 255 - 8;
    std::string name = Utf8Of(target.filename());
    if (name.size() > kMostNameBytes && name.size() <= 255) {
        size_t cut = kMostNameBytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        name.resize(cut);
    }
    const std::string base = "." + name + "-";
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = base;
        for (int i = 0; i < 6; ++i) {
            name += kDigits[random() % 36];
        }
        const fs::path candidate = target.parent_path() / PathFromUtf8(name);
        std::error_code error;
        if (!fs::exists(fs::symlink_status(candidate, error))) {
            return candidate;
        }
    }
    return {};
}

bool PartialFile::Open(std::string& reason) {
    const fs::path candidate = FreeNameBeside(mTarget);
    if (candidate.empty()) {
        reason = "no free temporary name beside it";
        return false;
    }
    errno = 0;
    mFile.open(candidate, std::ios::binary | std::ios::trunc);
    if (!mFile.is_open()) {
        reason = StreamReason(errno, "the file cannot be created");
        return false;
    }
    mPartial = candidate;
    return true;
}

bool PartialFile::Write(std::string_view bytes, std::string& reason) {
    errno = 0;
    if (!mFile.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        reason = StreamReason(errno, "the data cannot be written");
        return false;
    }
    mWritten += bytes.size();
    return true;
}

bool PartialFile::Commit(std::string& reason) {
    // The flush is checked on its own: a full disk may show only there.
    errno = 0;
    if (!mFile.flush()) {
        reason = StreamReason(errno, "the data cannot be written");
        return false;
    }
    errno = 0;
    mFile.close();
    if (!mFile) {
        reason = StreamReason(errno, "the file cannot be closed");
        return false;
    }
    // A file cut short where no call failed is still no file to keep.
    std::error_code error;
    const uintmax_t size = fs::file_size(mPartial, error);
    if (error) {
        reason = ReasonOf(error);
        return false;
    }
    if (size != mWritten) {
        reason = "only " + std::to_string(size) + " of its " + std::to_string(mWritten) +
                 " bytes were written";
        return false;
    }
    // Through the system's own move, whose error names a file held open on Windows.
    if ((error = platform::MoveReplacing(mPartial, mTarget))) {
        reason = ReasonOf(error);
        return false;
    }
    mCommitted = true;
    return true;
}

}  // namespace sparkloom
