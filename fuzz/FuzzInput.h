#pragma once

// Shared by the fuzz targets: turns the fuzzer's bytes into the texts a user
// could type or a file system could report, and stops loudly on a broken rule.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Text.h"

namespace sparkloom::fuzz {

// A broken rule must stop both the fuzzer and the replay test, with a reason.
[[noreturn]] inline void Fail(const char* file, int line, const char* rule) {
    std::fprintf(stderr, "%s:%d: broken rule: %s\n", file, line, rule);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition)                                        \
    do {                                                             \
        if (!(condition)) {                                          \
            ::sparkloom::fuzz::Fail(__FILE__, __LINE__, #condition); \
        }                                                            \
    } while (false)

// The input split at each 0x1E byte. Seeds stay readable: one field per value.
inline std::vector<std::string> Fields(const uint8_t* data, size_t size) {
    return Split(std::string_view(reinterpret_cast<const char*>(data), size), '\x1e');
}

inline std::string FieldAt(const std::vector<std::string>& fields, size_t index) {
    return index < fields.size() ? fields[index] : std::string();
}

// The UTF-16 code units of a field that starts with 0xFE: the rest, read as
// UTF-16LE (an odd last byte is dropped).
inline std::u16string UnitsOf(std::string_view field) {
    std::u16string units;
    for (size_t i = 1; i + 1 < field.size(); i += 2) {
        const auto low = static_cast<unsigned char>(field[i]);
        const auto high = static_cast<unsigned char>(field[i + 1]);
        units += static_cast<char16_t>(low | (high << 8));
    }
    return units;
}

// UTF-8 of code units; an unpaired surrogate becomes the three bytes UTF-8
// would give it if it were a character, which no UTF-8 reader accepts.
inline std::string Utf8OfUnits(std::u16string_view units) {
    std::string text;
    const auto append = [&text](char32_t c) {
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    };
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            append(0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00));
            ++i;
        } else {
            append(c);
        }
    }
    return text;
}

// A field as text. A leading 0xFE byte makes the rest raw UTF-16LE code units,
// so NULs and unpaired surrogates (as bytes no UTF-8 reader accepts) reach the
// code under test; any other field is taken as its bytes, which need not be UTF-8,
// as a file system may report them.
inline std::string TextOf(const std::string& field) {
    if (!field.empty() && field.front() == '\xfe') {
        return Utf8OfUnits(UnitsOf(field));
    }
    return field;
}

inline std::string TextAt(const std::vector<std::string>& fields, size_t index) {
    return TextOf(FieldAt(fields, index));
}

// The same input gives the same number: it picks cuts and durations.
inline uint32_t HashOf(const uint8_t* data, size_t size) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 16777619u;
    }
    return hash;
}

// A whole decimal number in the 32-bit range, blanks allowed around it.
inline bool Int32Of(const std::string& field, int32_t& number) {
    const std::optional<int64_t> value = ParseInteger(Trimmed(field));
    if (!value || *value < INT32_MIN || *value > INT32_MAX) {
        return false;
    }
    number = static_cast<int32_t>(*value);
    return true;
}

}  // namespace sparkloom::fuzz
