// Entry names in the package's 8-bit code page: every name that converts comes
// back unchanged, and a name is refused only when the code page lacks one of
// its characters or it holds a NUL.
#include <QByteArray>
#include <QSet>

#include "FuzzInput.h"
#include "zip/AnsiText.h"

using namespace sparkloom;

namespace {

// What the code page can show: the characters its 256 bytes decode to.
const QSet<char16_t>& Representable() {
    static const QSet<char16_t> set = [] {
        QByteArray all;
        for (int b = 1; b < 256; ++b) {
            all += static_cast<char>(b);
        }
        const QString decoded = DecodeAnsi(all);
        QSet<char16_t> chars;
        for (const QChar c : decoded) {
            if (c != QChar::ReplacementCharacter) {
                chars.insert(c.unicode());
            }
        }
        return chars;
    }();
    return set;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    FUZZ_CHECK(Representable().size() >= 250);
    const QByteArray rest(reinterpret_cast<const char*>(data + 1),
                          static_cast<qsizetype>(size - 1));

    if (data[0] & 1) {
        // Bytes as stored in an archive: one character each, and back.
        const QString text = DecodeAnsi(rest);
        FUZZ_CHECK(text.size() == rest.size());
        const auto again = EncodeAnsi(text);
        const bool storable = !rest.contains('\0') && !text.contains(QChar::ReplacementCharacter);
        FUZZ_CHECK(again.has_value() == storable);
        if (again) {
            FUZZ_CHECK(*again == rest);
        }
    } else {
        // A name as typed: converted one byte per character and read back whole,
        // or refused for a reason the name really has.
        const QString text = fuzz::TextOf(QByteArray(1, '\xfe') + rest);
        const auto bytes = EncodeAnsi(text);
        bool storable = true;
        for (const QChar c : text) {
            storable = storable && c.unicode() != 0 && Representable().contains(c.unicode());
        }
        FUZZ_CHECK(bytes.has_value() == storable);
        if (bytes) {
            FUZZ_CHECK(bytes->size() == text.size());
            FUZZ_CHECK(!bytes->contains('\0'));
            FUZZ_CHECK(DecodeAnsi(*bytes) == text);
        }
    }
    return 0;
}
