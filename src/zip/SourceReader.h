#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace sparkloom {

// A queued file read back for packing, through its UTF-8 path. Its length is
// measured on the open file, so a file replaced at its path after opening is
// still the one read.
class SourceReader {
public:
    // False when the file cannot be opened; Reason() says why.
    bool Open(const std::string& path);
    // The open file's length now; -1 when it cannot be told.
    int64_t Size();
    // Exactly size bytes into data; false on a read error or an early end.
    bool Read(char* data, int64_t size);
    // The system's words for the last failure; empty when none is known.
    const std::string& Reason() const { return mReason; }

private:
    std::ifstream mStream;
    std::string mReason;
};

}  // namespace sparkloom
