#include "platform/FileStream.h"

#include <sys/types.h>

namespace sparkloom::platform {

std::FILE* OpenFileStream(const std::filesystem::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

int64_t TellFileStream(std::FILE* stream) {
    return static_cast<int64_t>(::ftello(stream));
}

int SeekFileStream(std::FILE* stream, int64_t offset, int whence) {
    return ::fseeko(stream, static_cast<off_t>(offset), whence);
}

}  // namespace sparkloom::platform
