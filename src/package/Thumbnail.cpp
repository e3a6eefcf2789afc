#include "package/Thumbnail.h"

#include <cerrno>
#include <fstream>
#include <vector>

#include "common/Files.h"
#include "common/Text.h"
#include "package/ReplaceFile.h"

namespace sparkloom {

bool CopyThumbnail(const std::string& source, const std::string& framesFolder, std::string& error) {
    std::vector<char> chunk(1 << 20);
    for (const char* name : {"Thumb.jpg", "Thumb.png"}) {
        const std::string target = framesFolder + '/' + name;
        PartialFile partial(PathFromUtf8(target));
        std::string reason;
        bool copied = partial.Open(reason);
        std::ifstream input;
        if (copied) {
            errno = 0;
            input.open(PathFromUtf8(source), std::ios::binary);
            if (!input.is_open()) {
                reason = StreamReason(errno, "the file cannot be opened");
                copied = false;
            }
        }
        while (copied && input) {
            errno = 0;
            input.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            if (input.bad()) {
                reason = StreamReason(errno, "the file cannot be read");
                copied = false;
            } else {
                copied = partial.Write(std::string_view(chunk.data(), input.gcount()), reason);
            }
        }
        copied = copied && partial.Commit(reason);
        if (!copied) {
            if (reason.empty()) {
                reason = "the file could not be replaced";
            }
            error = "Could not copy the thumbnail to " + Shown(target) + ": " + reason;
            return false;
        }
    }
    return true;
}

}  // namespace sparkloom
