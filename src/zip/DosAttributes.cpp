#include "zip/DosAttributes.h"

#include "common/Text.h"
#include "platform/FileIdentity.h"

namespace sparkloom {

std::optional<int32_t> DosAttributes(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    const std::filesystem::path file = PathFromUtf8(path);
    const std::optional<platform::FileFacts> facts = platform::FactsOf(file);
    if (!facts) {
        return std::nullopt;
    }
    using Kind = platform::FileFacts::Kind;
    int32_t attrs = facts->kind == Kind::Regular     ? kDosArchive
                    : facts->kind == Kind::Directory ? kDosDirectory
                                                     : kDosSystem;
    if (facts->readOnly) {
        attrs |= kDosReadOnly;
    }
    if (Utf8Of(file.filename()).starts_with('.')) {
        attrs |= kDosHidden;
    }
    return attrs;
}

}  // namespace sparkloom
