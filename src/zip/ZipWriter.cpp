#include "zip/ZipWriter.h"

#include <zip.h>
#include <QFile>
#include <algorithm>
#include <ctime>
#include <stdexcept>

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

bool ZipWriter::OpenZip(const QString& FilePath, int32_t AppendMode) {
    if (mHandle != nullptr) {
        mResult = kAlreadyOpen;
        return true;
    }
    // The archive path goes to the file system in its own encoding, not cp1252.
    mHandle = zipOpen(QFile::encodeName(FilePath).constData(), AppendMode);
    mResult = mHandle == nullptr ? kCannotOpenArchive : kSuccess;
    return mHandle == nullptr;
}

bool ZipWriter::OpenFileInZip(const QString& FileName, int32_t ZMethod, int32_t ZLevel,
                              int32_t Attrs, const QString& Comment) {
    return Open(FileName, ZMethod, ZLevel, Attrs, Comment, false);
}

bool ZipWriter::OpenDeflatedFileInZip(const QString& FileName, int32_t ZLevel, int32_t Attrs,
                                      const QString& Comment) {
    return Open(FileName, Z_DEFLATED, ZLevel, Attrs, Comment, true);
}

bool ZipWriter::Open(const QString& FileName, int32_t ZMethod, int32_t ZLevel, int32_t Attrs,
                     const QString& Comment, bool raw) {
    if (mHandle == nullptr) {
        mResult = kNothingOpen;
        return true;
    }
    if (mFileOpen) {
        mResult = kAlreadyOpen;
        return true;
    }
    const auto name = EncodeAnsi(FileName);
    const auto comment = EncodeAnsi(Comment);
    if (!name || !comment) {
        mResult = kNameNotEncodable;
        return true;
    }

    // One clock reading per entry; minizip builds the DOS stamp from the fields
    // (full year, month from 0) because dosDate is 0.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
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

    mResult = zipOpenNewFileInZip2(Handle(mHandle), name->constData(), &info, nullptr, 0, nullptr,
                                   0, comment->constData(), ZMethod, ZLevel, raw ? 1 : 0);
    mRaw = raw;
    mFileOpen = mResult == ZIP_OK;
    return !mFileOpen;
}

bool ZipWriter::WriteBytes(std::span<const char> Bytes) {
    if (mHandle == nullptr || !mFileOpen) {
        mResult = kNothingOpen;
        return true;
    }
    if (Bytes.empty()) {
        throw std::out_of_range("ZipWriter::WriteBytes: no bytes given");
    }
    // minizip takes an unsigned length; larger spans go in pieces.
    constexpr size_t kMaxPiece = 1u << 30;
    for (size_t done = 0; done < Bytes.size(); done += kMaxPiece) {
        const auto piece = static_cast<unsigned>(std::min(kMaxPiece, Bytes.size() - done));
        mResult = zipWriteInFileInZip(Handle(mHandle), Bytes.data() + done, piece);
        if (mResult != ZIP_OK) {
            return true;
        }
    }
    return false;
}

bool ZipWriter::CloseFileInZip() {
    if (!mFileOpen) {
        mResult = kNothingOpen;
        return true;
    }
    // minizip ends the entry even when closing it fails (a retry would only get
    // ZIP_PARAMERROR), so the entry counts as closed either way.
    mResult = zipCloseFileInZip(Handle(mHandle));
    mFileOpen = false;
    return mResult != ZIP_OK;
}

bool ZipWriter::CloseDeflatedFileInZip(uint32_t Crc, uint32_t Size) {
    if (!mFileOpen || !mRaw) {
        mResult = kNothingOpen;
        return true;
    }
    mResult = zipCloseFileInZipRaw(Handle(mHandle), Size, Crc);
    mFileOpen = false;
    return mResult != ZIP_OK;
}

bool ZipWriter::CloseZip() {
    if (mHandle == nullptr) {
        mResult = kNothingOpen;
        return true;
    }
    if (mFileOpen && CloseFileInZip()) {
        // The entry is gone in minizip but the archive is still open: a second
        // CloseZip finishes it.
        return true;
    }
    // zipClose frees the handle whatever it returns; keeping it would invite a
    // use after free, so a failed close still leaves no archive open.
    mResult = zipClose(Handle(mHandle), nullptr);
    mHandle = nullptr;
    return mResult != ZIP_OK;
}

}  // namespace sparkloom
