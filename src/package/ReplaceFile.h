#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace sparkloom {

// A file written beside its target under a hidden temporary name, which
// replaces the target only once every write, the flush and the close have
// succeeded, so a failure (a full disk) never leaves a half-written file.
// Until Commit succeeds the temporary is removed again when this goes.
class PartialFile {
public:
    explicit PartialFile(std::filesystem::path target);
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    // Each returns false with the system's reason in reason.
    bool Open(std::string& reason);
    bool Write(std::string_view bytes, std::string& reason);
    bool Commit(std::string& reason);

private:
    std::filesystem::path mTarget;
    std::filesystem::path mPartial;  // empty until created
    std::ofstream mFile;
    uintmax_t mWritten = 0;
    bool mCommitted = false;
};

// A hidden name beside target that nothing has yet ("" when none was found),
// for a file that takes target's place once it is whole. Hidden, so the folder
// walk never packs one a crash left behind.
std::filesystem::path FreeNameBeside(const std::filesystem::path& target);

// The system's reason for the last failed stream operation, or fallback when
// it left none.
std::string StreamReason(int error, const char* fallback);

}  // namespace sparkloom
