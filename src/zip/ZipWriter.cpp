#include "zip/ZipWriter.h"

#include <zip.h>
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "common/Text.h"
#include "zip/AnsiText.h"

namespace sparkloom {

namespace {

zipFile Handle(void* handle) {
    return static_cast<zipFile>(handle);
}

}  // namespace

ZipWriter::ZipWriter() = default;

ZipWriter::~ZipWriter() {
    if (mFileOpen) {
        zipCloseFileInZip(Handle(mHandle));
    }
    if (mHandle != nullptr) {
        zipClose(Handle(mHandle), nullptr);
    }
}

bool ZipWriter::Refused(int32_t result) {
    mResult = result;
    mReason.clear();
    return true;
}

bool ZipWriter::Failed(int32_t result) {
    mResult = result;
    if (result == ZIP_OK || !mIo.Error()) {
        mReason.clear();
    } else {
        // The first system error since the archive was opened is what broke it;
        // minizip's later steps only fail after it.
        mReason = ReasonOf(mIo.Error());
    }
    return result != ZIP_OK;
}

bool ZipWriter::OpenZip(const std::string& FilePath, int32_t AppendMode) {
    if (mHandle != nullptr) {
        return Refused(kAlreadyOpen);
    }
    // The archive path goes to the file system as a path, not as cp1252 text;
    // minizip hands it on untouched to the open function.
    const std::filesystem::path path = PathFromUtf8(FilePath);
    zlib_filefunc64_def files{};
    mIo.Fill(files);
    mIo.ClearError();
    mHandle = zipOpen2_64(&path, AppendMode, nullptr, &files);
    return Failed(mHandle == nullptr ? kCannotOpenArchive : kSuccess);
}

bool ZipWriter::OpenFileInZip(const std::string& FileName, int32_t ZMethod, int32_t ZLevel,
                              int32_t Attrs, const std::string& Comment) {
    return Open(FileName, ZMethod, ZLevel, Attrs, Comment, false);
}

bool ZipWriter::OpenDeflatedFileInZip(const std::string& FileName, int32_t ZLevel, int32_t Attrs,
                                      const std::string& Comment) {
    return Open(FileName, Z_DEFLATED, ZLevel, Attrs, Comment, true);
}

bool ZipWriter::Open(const std::string& FileName, int32_t ZMethod, int32_t ZLevel, int32_t Attrs,
                     const std::string& Comment, bool raw) {
    if (mHandle == nullptr) {
        return Refused(kNothingOpen);
    }
    if (mFileOpen) {
        return Refused(kAlreadyOpen);
    }
    const auto name = EncodeAnsi(FileName);
    const auto comment = EncodeAnsi(Comment);
    if (!name || !comment) {
        return Refused(kNameNotEncodable);
    }
    // The format keeps both lengths in 16 bits. A minizip without the fix for
    // CVE-2023-45853 would write past its header buffer; a fixed one says
    // ZIP_PARAMERROR, and so does this, whichever minizip is linked.
    if (name->size() > 0xFFFF || comment->size() > 0xFFFF) {
        return Refused(ZIP_PARAMERROR);
    }

    // One clock reading per entry; minizip builds the DOS stamp from the fields
    // (full year, month from 0) because dosDate is 0.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);  // the C runtime's reentrant form, arguments swapped
#else
    localtime_r(&now, &local);
#endif
    zip_fileinfo info{};
    info.tmz_date.tm_sec = static_cast<uInt>(std::min(local.tm_sec, 59));  // no leap second
    info.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
    info.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
    info.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
    info.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
    info.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
    info.dosDate = 0;
    info.internal_fa = 0;
    info.external_fa = static_cast<uLong>(Attrs & 0x27);

    const bool failed =
        Failed(zipOpenNewFileInZip2(Handle(mHandle), name->c_str(), &info, nullptr, 0, nullptr, 0,
                                    comment->c_str(), ZMethod, ZLevel, raw ? 1 : 0));
    mRaw = raw;
    mFileOpen = !failed;
    return failed;
}

bool ZipWriter::WriteBytes(std::span<const char> Bytes) {
    if (mHandle == nullptr || !mFileOpen) {
        return Refused(kNothingOpen);
    }
    if (Bytes.empty()) {
        throw std::out_of_range("ZipWriter::WriteBytes: no bytes given");
    }
    // minizip takes an unsigned length; larger spans go in pieces.
    constexpr size_t kMaxPiece = 1u << 30;
    for (size_t done = 0; done < Bytes.size(); done += kMaxPiece) {
        const auto piece = static_cast<unsigned>(std::min(kMaxPiece, Bytes.size() - done));
        if (Failed(zipWriteInFileInZip(Handle(mHandle), Bytes.data() + done, piece))) {
            return true;
        }
    }
    return false;
}

bool ZipWriter::CloseFileInZip() {
    if (!mFileOpen) {
        return Refused(kNothingOpen);
    }
    // minizip ends the entry even when closing it fails (a retry would only get
    // ZIP_PARAMERROR), so the entry counts as closed either way.
    mFileOpen = false;
    return Failed(zipCloseFileInZip(Handle(mHandle)));
}

bool ZipWriter::CloseDeflatedFileInZip(uint32_t Crc, uint32_t Size) {
    if (!mFileOpen || !mRaw) {
        return Refused(kNothingOpen);
    }
    mFileOpen = false;
    return Failed(zipCloseFileInZipRaw(Handle(mHandle), Size, Crc));
}

bool ZipWriter::CloseZip() {
    if (mHandle == nullptr) {
        return Refused(kNothingOpen);
    }
    if (mFileOpen && CloseFileInZip()) {
        // The entry is gone in minizip but the archive is still open: a second
        // CloseZip finishes it.
        return true;
    }
    // zipClose frees the handle whatever it returns; keeping it would invite a
    // use after free, so a failed close still leaves no archive open.
    void* handle = mHandle;
    mHandle = nullptr;
    return Failed(zipClose(Handle(handle), nullptr));
}

}  // namespace sparkloom
