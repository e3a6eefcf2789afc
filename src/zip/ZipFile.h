#pragma once

#include <QString>
#include <cstdint>

namespace sparkloom {

// One queued archive entry.
class ZipFile {
public:
    QString SourceFile;
    QString AsFile;
    int32_t ZMethod = 8;
    int32_t ZLevel = -1;
    int32_t Attrs = 0;
    QString Comment;
    int32_t ByteCount = 0;
};

}  // namespace sparkloom
