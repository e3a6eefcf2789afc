#include "zip/AnsiText.h"

#include <iconv.h>
#include <QtEndian>
#include <array>

namespace sparkloom {

namespace {

constexpr const char* kAnsi = "WINDOWS-1252";
constexpr const char* kUtf16 =
    QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE";

// Converts all of in without transliteration. Returns nothing when a character
// has no form in the target set or the input is malformed (a lone surrogate,
// one of the bytes cp1252 leaves undefined). out must be large enough.
std::optional<QByteArray> Convert(const char* to, const char* from, const char* in, size_t size,
                                  size_t outSize) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    QByteArray out(static_cast<qsizetype>(outSize), Qt::Uninitialized);
    char* src = const_cast<char*>(in);
    char* dst = out.data();
    size_t srcLeft = size;
    size_t dstLeft = outSize;
    const size_t done = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1) || srcLeft != 0) {
        return std::nullopt;
    }
    out.truncate(static_cast<qsizetype>(outSize - dstLeft));
    return out;
}

// cp1252 is one byte per character, so decoding is a table lookup; the table
// comes from iconv once.
const std::array<char16_t, 256>& DecodeTable() {
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (int b = 0; b < 256; ++b) {
            const char byte = static_cast<char>(b);
            const auto unit = Convert(kUtf16, kAnsi, &byte, 1, 4);
            t[b] = unit && unit->size() == 2 ? qFromUnaligned<char16_t>(unit->constData())
                                             : char16_t(QChar::ReplacementCharacter);
        }
        return t;
    }();
    return table;
}

}  // namespace

std::optional<QByteArray> EncodeAnsi(const QString& text) {
    if (text.contains(QChar(u'\0'))) {
        return std::nullopt;
    }
    const size_t bytes = static_cast<size_t>(text.size()) * sizeof(char16_t);
    return Convert(kAnsi, kUtf16, reinterpret_cast<const char*>(text.utf16()), bytes, bytes + 1);
}

QString DecodeAnsi(const QByteArray& bytes) {
    const auto& table = DecodeTable();
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        text[i] = QChar(table[static_cast<uchar>(bytes[i])]);
    }
    return text;
}

}  // namespace sparkloom
