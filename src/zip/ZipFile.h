#pragma once

#include <cstdint>
#include <string>

namespace sparkloom {

// One queued archive entry. Texts are UTF-8.
class ZipFile {
public:
    std::string SourceFile;
    std::string AsFile;
    int32_t ZMethod = 8;
    int32_t ZLevel = -1;
    int32_t Attrs = 0;
    std::string Comment;
    int32_t ByteCount = 0;
};

}  // namespace sparkloom
