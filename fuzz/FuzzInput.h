#pragma once

// Shared by the fuzz targets: turns the fuzzer's bytes into the texts a user
// could type or a file system could report, and stops loudly on a broken rule.

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

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
inline std::vector<QByteArray> Fields(const uint8_t* data, size_t size) {
    const QByteArray all(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    std::vector<QByteArray> fields;
    for (const QByteArray& field : all.split('\x1e')) {
        fields.push_back(field);
    }
    return fields;
}

inline QByteArray FieldAt(const std::vector<QByteArray>& fields, size_t index) {
    return index < fields.size() ? fields[index] : QByteArray();
}

// A field as text. A leading 0xFE byte makes the rest raw UTF-16LE code units,
// so lone surrogates and NULs reach the code under test; otherwise it is UTF-8.
inline QString TextOf(const QByteArray& field) {
    if (field.startsWith('\xfe')) {
        QString text;
        for (qsizetype i = 1; i + 1 < field.size(); i += 2) {
            const auto low = static_cast<uchar>(field[i]);
            const auto high = static_cast<uchar>(field[i + 1]);
            text.append(QChar(static_cast<char16_t>(low | (high << 8))));
        }
        return text;
    }
    return QString::fromUtf8(field);
}

inline QString TextAt(const std::vector<QByteArray>& fields, size_t index) {
    return TextOf(FieldAt(fields, index));
}

// True when text holds no unpaired surrogate.
inline bool IsWellFormedUtf16(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text[i + 1].isLowSurrogate()) {
                return false;
            }
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

}  // namespace sparkloom::fuzz
