#include "package/FolderWalk.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "common/Files.h"
#include "common/Text.h"
#include "platform/Disk.h"
#include "zip/AnsiText.h"
#include "zip/Zipper.h"

namespace sparkloom {

namespace fs = std::filesystem;

namespace {

// Appends c to key as UTF-16, upper-cased when upper is set. The upper case
// is the one Windows-1252's letters have (ASCII, Latin-1 and Latin
// Extended-A, with "ß" as "SS"), which covers every name a package can hold;
// other characters stand for themselves.
void AppendKey(std::u16string& key, char32_t c, bool upper) {
    if (upper) {
        if ((c >= U'a' && c <= U'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
            c -= 0x20;
        } else if (c == 0xDF) {  // ß
            key += u"SS";
            return;
        } else if (c == 0xB5) {  // µ, the micro sign
            c = 0x39C;
        } else if (c == 0xFF) {  // ÿ
            c = 0x178;
        } else if (c == 0x131) {  // ı
            c = U'I';
        } else if (c == 0x17F) {  // ſ
            c = U'S';
        } else if (c == 0x149) {  // ŉ
            key += u"\u02BCN";
            return;
        } else if (c >= 0x100 && c <= 0x17E && c != 0x138) {
            // Latin Extended-A pairs capital and small letter, the small one odd
            // before U+0138 and from U+014A on, even between and after U+0178.
            const bool oddSmall = (c < 0x138) || (c >= 0x14A && c < 0x178);
            if (oddSmall ? (c % 2 == 1) : (c % 2 == 0 && c != 0x178)) {
                c -= 1;
            }
        }
    }
    if (c >= 0x10000) {
        key += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        key += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
        key += static_cast<char16_t>(c);
    }
}

// The name as the UTF-16 text a listing compares, a byte that is no UTF-8
// counting as U+FFFD.
std::u16string SortKey(const std::string& name, bool upper) {
    std::u16string key;
    for (std::size_t i = 0; i < name.size();) {
        const auto lead = static_cast<unsigned char>(name[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const std::string_view one = std::string_view(name).substr(i, length);
        if (one.size() == length && IsUtf8(one)) {
            char32_t c = length == 1 ? lead
                                     : lead & (length == 2   ? 0x1F
                                               : length == 3 ? 0x0F
                                                             : 0x07);
            for (std::size_t k = 1; k < length; ++k) {
                c = (c << 6) | (static_cast<unsigned char>(one[k]) & 0x3F);
            }
            AppendKey(key, c, upper);
            i += length;
        } else {
            AppendKey(key, 0xFFFD, upper);
            ++i;
        }
    }
    return key;
}

// The folder's entries as the host editor's platform lists them: "." and ".."
// first, then the names in the order of their upper-cased forms (NTFS's order,
// so "_" comes after the letters), equal forms case-sensitively. Hidden names
// (starting with ".", or on Windows with the hidden or system attribute, as
// desktop.ini) and system entries (fifos, sockets, devices, dangling links) are
// not listed. Links to folders are left out as well: following them could walk
// in circles.
std::vector<std::string> ListFolder(const std::string& folder) {
    struct Named {
        std::u16string upper;
        std::u16string exact;
        std::string name;
    };
    std::vector<Named> named;
    std::error_code error;
    using Kind = platform::FolderEntry::Kind;
    for (platform::FolderEntry& entry : platform::ListFolder(PathFromUtf8(folder), error)) {
        const bool listed = entry.kind == Kind::File || entry.kind == Kind::Folder ||
                            entry.kind == Kind::LinkToFile;
        if (listed && !entry.hidden && !entry.name.starts_with('.')) {
            named.push_back(
                {SortKey(entry.name, true), SortKey(entry.name, false), std::move(entry.name)});
        }
    }
    std::sort(named.begin(), named.end(), [](const Named& a, const Named& b) {
        return a.upper != b.upper ? a.upper < b.upper : a.exact < b.exact;
    });
    std::vector<std::string> names{".", ".."};
    names.reserve(named.size() + 2);
    for (Named& entry : named) {
        names.push_back(std::move(entry.name));
    }
    return names;
}

// Nothing when the zipper queued the file, else why it refused ("" when the
// reason is unknown): the file's attributes cannot be read (also when it has
// gone since the listing), or the queued total would pass 2 GiB.
std::optional<std::string> Queue(Zipper& zipper, const std::string& path,
                                 const std::string& entryName) {
    try {
        if (!zipper.AddFile(path, entryName)) {
            return std::nullopt;
        }
    } catch (const std::overflow_error& error) {
        return std::string(error.what());
    }
    // The zipper says only that it refused; the system says why it could not
    // look at the file.
    std::error_code error;
    (void)fs::status(PathFromUtf8(path), error);
    return error ? ReasonOf(error) : std::string();
}

}  // namespace

bool AddFolderToZip(Zipper& zipper, const std::string& sFolder, const std::string& sEntryPrefix,
                    int32_t maxFiles, WalkReport& report) {
    const std::vector<std::string> names = ListFolder(sFolder);
    std::vector<std::string> subfolders;
    int32_t count = 0;
    for (const std::string& name : names) {
        ++count;
        std::error_code error;
        // "." and ".." are folders by name: a folder that can be listed but not
        // searched would fail a stat of them.
        if (name == "." || name == "..") {
        } else if (fs::is_directory(PathFromUtf8(sFolder + name), error)) {
            subfolders.push_back(name);
        } else if (const auto refused =
                       Queue(zipper, sFolder + name, ".\\" + sEntryPrefix + name)) {
            report.statusMessage = "AddFile failed on " + name;
            if (!refused->empty()) {
                report.statusMessage += ": " + *refused;
            }
            return false;
        } else if (sEntryPrefix.empty()) {
            report.topLevelFiles.push_back(name);
        }
        if (count == maxFiles) {
            report.leftOut += static_cast<int>(names.size()) - count;
            break;
        }
    }
    for (const std::string& sub : subfolders) {
        if (!AddFolderToZip(zipper, sFolder + sub + '/', sEntryPrefix + sub + '\\', maxFiles,
                            report)) {
            return false;
        }
    }
    return true;
}

std::string UnstorableNamesRefusal(const std::vector<std::string>& names,
                                   const std::string& folder) {
    std::vector<std::string> unstorable;
    for (const std::string& name : names) {
        if (!EncodeAnsi(name)) {
            unstorable.push_back(name);
        }
    }
    // Every name under folder as a listing shows them: not hidden ones, nor
    // system entries, nor what lies in hidden folders or behind links.
    std::error_code error;
    fs::recursive_directory_iterator it(PathFromUtf8(folder),
                                        fs::directory_options::skip_permission_denied, error);
    for (const fs::recursive_directory_iterator end; !error && it != end && unstorable.size() < 5;
         it.increment(error)) {
        const std::string name = Utf8Of(it->path().filename());
        std::error_code ignored;
        const bool link = it->is_symlink(ignored);
        const fs::file_status status = it->status(ignored);
        if (name.starts_with('.') || link) {
            it.disable_recursion_pending();
        }
        if (name.starts_with('.') || !(fs::is_regular_file(status) || fs::is_directory(status))) {
            continue;
        }
        if (!EncodeAnsi(name)) {
            unstorable.push_back(Shown(Utf8Of(it->path())));
        }
    }
    if (unstorable.empty()) {
        return {};
    }
    return "These names cannot be stored in the package "
           "(only Western European letters are possible):\r\n" +
           Join(unstorable, "\r\n");
}

}  // namespace sparkloom
