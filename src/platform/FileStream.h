#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace sparkloom::platform {

// stdio streams over a std::filesystem::path with 64-bit offsets. Opening goes
// by the path itself (its UTF-16 on Windows), never by 8-bit text of it.
std::FILE* OpenFileStream(const std::filesystem::path& path, const char* mode);
int64_t TellFileStream(std::FILE* stream);
int SeekFileStream(std::FILE* stream, int64_t offset, int whence);

}  // namespace sparkloom::platform
