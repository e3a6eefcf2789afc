#include "platform/FileIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

std::optional<FileFacts::Kind> KindOf(const std::filesystem::path& path) {
    const auto facts = FactsOf(path);
    return facts ? std::optional(facts->kind) : std::nullopt;
}

std::error_code FlushToDisk(const std::filesystem::path& path) {
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return {errno, std::generic_category()};
    }
    std::error_code error;
    if (::fsync(file) != 0) {
        error = {errno, std::generic_category()};
    }
    ::close(file);
    return error;
}

}  // namespace sparkloom::platform
