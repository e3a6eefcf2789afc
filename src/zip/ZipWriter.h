#pragma once

#include <QString>
#include <cstdint>
#include <span>

namespace sparkloom {

// One ZIP archive being written through minizip: at most one open archive and,
// inside it, at most one open entry. Every call returns true when it failed or
// was refused; the reason is then in Result().
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
    bool IsArchiveOpen() const { return mHandle != nullptr; }
    bool IsFileOpen() const { return mFileOpen; }

    bool OpenZip(const QString& FilePath, int32_t AppendMode = 0);
    bool OpenFileInZip(const QString& FileName, int32_t ZMethod = 8, int32_t ZLevel = -1,
                       int32_t Attrs = 0, const QString& Comment = QString());
    // Throws std::out_of_range for an empty span: nothing is written and
    // Result() keeps its value.
    bool WriteBytes(std::span<const char> Bytes);
    bool CloseFileInZip();
    bool CloseZip();

private:
    bool mFileOpen = false;
    void* mHandle = nullptr;
    int32_t mResult = 0;
};

}  // namespace sparkloom
