#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sparkloom::test {

// One entry as Python's zipfile reads it.
struct ReadEntry {
    std::string name;  // raw bytes as stored
    int method = -1;
    std::vector<int> time;  // the DOS stamp: year, month, day, hour, minute, second
    uint32_t external = 0;
    int system = -1;
    uint32_t flags = 0;
    int64_t size = -1;
    std::string sha256;  // hex
    std::string comment;
    uint32_t crc = 0;
    std::string rawSha256;  // hex, of the bytes as stored (compressed)
};

// support/CoreTest.h has a function of this name: where both are seen, name the
// type as `struct ReadArchive` or take it with `auto`.
struct ReadArchive {
    std::string error;  // empty when the whole archive read cleanly, CRCs included
    std::vector<ReadEntry> entries;
    std::vector<std::string> names() const;
};

struct ReadArchive ReadWithPython(const std::string& archive);
// `unzip -t`'s verdict: true when every entry tests OK.
bool UnzipTestsOk(const std::string& archive, std::string* output = nullptr);

std::string Sha256Hex(std::string_view data);
// Of the first limit bytes, or of all when limit is negative; "" when unreadable.
std::string FileSha256Hex(const std::string& path, int64_t limit = -1);
// A file of size bytes of varied content.
bool WriteFile(const std::string& path, int64_t size, char seed = 1);

}  // namespace sparkloom::test
