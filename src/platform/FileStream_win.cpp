#include "platform/FileStream.h"

#include <string>

namespace sparkloom::platform {

std::FILE* OpenFileStream(const std::filesystem::path& path, const char* mode) {
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return ::_wfopen(path.c_str(), wideMode.c_str());
}

int64_t TellFileStream(std::FILE* stream) {
    return ::_ftelli64(stream);
}

int SeekFileStream(std::FILE* stream, int64_t offset, int whence) {
    return ::_fseeki64(stream, offset, whence);
}

}  // namespace sparkloom::platform
