#include "zip/SourceReader.h"

#include <cerrno>

#include "common/Text.h"
#include "platform/FileIdentity.h"

namespace sparkloom {

namespace {

std::string ReasonNow() {
    return errno != 0 ? ReasonOfErrno(errno) : std::string();
}

}  // namespace

bool SourceReader::Open(const std::string& path) {
    // Reads go straight to the caller's buffer: the chunks are large already.
    mStream.rdbuf()->pubsetbuf(nullptr, 0);
    errno = 0;
    const std::filesystem::path file = PathFromUtf8(path);
    mStream.open(file, std::ios::in | std::ios::binary);
    mReason = mStream.is_open() ? std::string() : ReasonNow();
    // A stream opens a folder without complaint here, and only its reads fail.
    if (const auto facts = platform::FactsOf(file);
        mStream.is_open() && facts && facts->kind == platform::FileFacts::Kind::Directory) {
        mStream.close();
        mReason = ReasonOfErrno(EISDIR);
    }
    return mStream.is_open();
}

int64_t SourceReader::Size() {
    mStream.clear();
    const std::streampos at = mStream.tellg();
    mStream.seekg(0, std::ios::end);
    const std::streampos end = mStream.tellg();
    mStream.seekg(at);
    if (at < 0 || end < 0 || !mStream) {
        mStream.clear();
        return -1;
    }
    return static_cast<int64_t>(end);
}

bool SourceReader::Read(char* data, int64_t size) {
    errno = 0;
    mStream.read(data, static_cast<std::streamsize>(size));
    if (mStream.gcount() == static_cast<std::streamsize>(size)) {
        return true;
    }
    mReason = mStream.bad() ? ReasonNow() : std::string();
    return false;
}

}  // namespace sparkloom
