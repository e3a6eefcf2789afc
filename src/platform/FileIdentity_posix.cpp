#include "platform/FileIdentity.h"

#include <sys/stat.h>

namespace sparkloom::platform {

std::optional<FileFacts> FactsOf(const std::filesystem::path& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    FileFacts facts;
    facts.kind = S_ISREG(st.st_mode)   ? FileFacts::Kind::Regular
                 : S_ISDIR(st.st_mode) ? FileFacts::Kind::Directory
                                       : FileFacts::Kind::Other;
    facts.readOnly = (st.st_mode & S_IWUSR) == 0;
    facts.volume = static_cast<uint64_t>(st.st_dev);
    facts.file = static_cast<uint64_t>(st.st_ino);
    return facts;
}

}  // namespace sparkloom::platform
