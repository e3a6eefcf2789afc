#pragma once

// What the template fuzz targets expect of a value once it has been written
// into a template file and read back.

#include <string>
#include <string_view>

#include "common/Text.h"
#include "package/Templates.h"

namespace sparkloom::fuzz {

// U+00EF U+00BB U+00BF, the UTF-8 byte-order mark read one character per byte.
inline const std::string kBomAsAnsi = "\u00EF\u00BB\u00BF";

// What XML 1.0 can carry at all, escaped or not; nothing that is not UTF-8.
inline bool IsXmlText(std::string_view text) {
    if (!IsUtf8(text)) {
        return false;
    }
    const std::optional<std::u16string> units = Utf16FromUtf8(text);
    for (size_t i = 0; i < units->size(); ++i) {
        const char16_t c = (*units)[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            ++i;  // well-formed UTF-8: the pair is whole
            continue;
        }
        const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                             (c >= 0xE000 && c <= 0xFFFD);
        if (!allowed) {
            return false;
        }
    }
    return true;
}

inline std::string CutAtNul(std::string text) {
    return StripNulls(text);
}

// A value as it should read back from the file: cut at a NUL, the UTF-8 byte
// order mark's three characters taken out.
inline std::string ReadBack(const std::string& value) {
    return ReplaceAll(CutAtNul(value), kBomAsAnsi, "");
}

// The file's bytes exactly as the writer stores them: UTF-16LE with a byte-order mark.
inline std::string FileBytes(const std::string& text) {
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : Utf16FromUtf8(text).value_or(std::u16string())) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

}  // namespace sparkloom::fuzz
