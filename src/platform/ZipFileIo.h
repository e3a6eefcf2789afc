#pragma once

#include <filesystem>
#include <system_error>

struct zlib_filefunc64_def_s;

namespace sparkloom::platform {

// minizip's file functions over a std::filesystem::path, so the archive's name
// reaches the system as the path it is and not as 8-bit text. The pathname
// handed to zipOpen2_64 must be a const std::filesystem::path*. The functions
// remember the first system error they meet, since minizip only says that a
// write, seek or close failed, never why.
class ZipFileIo {
public:
    ZipFileIo() = default;
    ZipFileIo(const ZipFileIo&) = delete;
    ZipFileIo& operator=(const ZipFileIo&) = delete;

    // Fills def with functions bound to this object, which must outlive every
    // archive opened through them.
    void Fill(zlib_filefunc64_def_s& def);

    // The first failure since ClearError; empty when there was none.
    std::error_code Error() const { return mError; }
    void ClearError() { mError.clear(); }

    // For the file functions.
    void Note(std::error_code error) {
        if (!mError) {
            mError = error;
        }
    }

private:
    std::error_code mError;
};

}  // namespace sparkloom::platform
