#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/ZipFileIo.h"

namespace sparkloom {

// One ZIP archive being written through minizip: at most one open archive and,
// inside it, at most one open entry. Every call returns true when it failed or
// was refused; the reason is then in Result(), and Reason() holds the system's
// words for it when the failure came from the file system.
class ZipWriter {
public:
    static constexpr int32_t kSuccess = 0;
    static constexpr int32_t kCannotOpenArchive = -1;
    static constexpr int32_t kNothingOpen = -666;
    static constexpr int32_t kAlreadyOpen = -667;
    // An entry name or comment has no Windows-1252 form (or holds a NUL); the
    // entry is not opened rather than written with a substitute character.
    static constexpr int32_t kNameNotEncodable = -668;

    ZipWriter();
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    int32_t Result() const { return mResult; }
    // Why the last call failed as the system says it ("No space left on
    // device"); empty after a success or when no system call failed.
    std::string Reason() const { return mReason; }
    bool IsArchiveOpen() const { return mHandle != nullptr; }
    bool IsFileOpen() const { return mFileOpen; }

    // FilePath and entry names are UTF-8.
    bool OpenZip(const std::string& FilePath, int32_t AppendMode = 0);
    bool OpenFileInZip(const std::string& FileName, int32_t ZMethod = 8, int32_t ZLevel = -1,
                       int32_t Attrs = 0, const std::string& Comment = {});
    // Throws std::out_of_range for an empty span: nothing is written and
    // Result() keeps its value.
    bool WriteBytes(std::span<const char> Bytes);
    bool CloseFileInZip();
    bool CloseZip();

    // An entry whose data is written already deflated (raw deflate, as minizip
    // makes it for method 8); closing it records the source's CRC and size.
    bool OpenDeflatedFileInZip(const std::string& FileName, int32_t ZLevel, int32_t Attrs,
                               const std::string& Comment);
    bool CloseDeflatedFileInZip(uint32_t Crc, uint32_t Size);

private:
    bool Open(const std::string& FileName, int32_t ZMethod, int32_t ZLevel, int32_t Attrs,
              const std::string& Comment, bool raw);
    // Sets Result() and Reason() from a minizip return; true when it failed.
    bool Failed(int32_t result);
    // A call refused before minizip was asked: Result() is result, no reason.
    bool Refused(int32_t result);

    bool mFileOpen = false;
    bool mRaw = false;  // the open entry takes deflated data
    void* mHandle = nullptr;
    int32_t mResult = 0;
    std::string mReason;
    platform::ZipFileIo mIo;  // outlives mHandle: members go after the destructor's body
};

}  // namespace sparkloom
