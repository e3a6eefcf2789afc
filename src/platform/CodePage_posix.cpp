#include "platform/CodePage.h"

#include <array>

#include "common/Text.h"

namespace sparkloom::platform {

// Here the host's code page is Windows-1252, whatever the locale says: the
// packages made here go to the host editor on a Western Windows system.

namespace {

// 0x80 to 0x9F of Windows-1252; 0 marks the five bytes it leaves undefined.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t CharacterOf(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        const char16_t c = kHighControls[byte - 0x80];
        return c == 0 ? char16_t(0xFFFD) : c;
    }
    return byte;
}

}  // namespace

std::string HostCodePageName() {
    return "Windows-1252";
}

std::optional<std::string> ToHostCodePage(std::string_view utf8) {
    const std::optional<std::u16string> text = Utf16FromUtf8(utf8);
    if (!text) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(text->size());
    for (const char16_t c : *text) {
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            bytes += static_cast<char>(c);
            continue;
        }
        int found = -1;
        for (int k = 0; k < 32; ++k) {
            if (kHighControls[k] != 0 && kHighControls[k] == c) {
                found = k;
            }
        }
        if (found < 0) {
            return std::nullopt;
        }
        bytes += static_cast<char>(0x80 + found);
    }
    return bytes;
}

std::string FromHostCodePage(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        text += CharacterOf(static_cast<unsigned char>(byte));
    }
    return Utf8FromUtf16(text).value_or(std::string());
}

}  // namespace sparkloom::platform
