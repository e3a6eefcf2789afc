// Entry names in the package's 8-bit code page: every name that converts comes
// back unchanged, and a name is refused only when the code page lacks one of
// its characters, it holds a NUL or it is no UTF-8 at all.
#include <set>
#include <string>

#include "FuzzInput.h"
#include "common/Text.h"
#include "zip/AnsiText.h"

using namespace sparkloom;

namespace {

const std::string kReplacement = "\uFFFD";

// What the code page can show: the characters its 256 bytes decode to.
const std::set<char16_t>& Representable() {
    static const std::set<char16_t> set = [] {
        std::string all;
        for (int b = 1; b < 256; ++b) {
            all += static_cast<char>(b);
        }
        std::set<char16_t> chars;
        for (const char16_t c : Utf16FromUtf8(DecodeAnsi(all)).value_or(std::u16string())) {
            if (c != 0xFFFD) {
                chars.insert(c);
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
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);

    if (data[0] & 1) {
        // Bytes as stored in an archive: one character each, and back.
        const std::string text = DecodeAnsi(rest);
        FUZZ_CHECK(IsUtf8(text));
        FUZZ_CHECK(Utf16Length(text) == rest.size());
        const auto again = EncodeAnsi(text);
        const bool storable =
            rest.find('\0') == std::string::npos && text.find(kReplacement) == std::string::npos;
        FUZZ_CHECK(again.has_value() == storable);
        if (again) {
            FUZZ_CHECK(*again == rest);
        }
    } else {
        // A name as typed: converted one byte per character and read back whole,
        // or refused for a reason the name really has.
        const std::u16string units = fuzz::UnitsOf(std::string(1, '\xfe') + rest);
        const std::string text = fuzz::Utf8OfUnits(units);
        const auto bytes = EncodeAnsi(text);
        bool storable = true;
        for (const char16_t c : units) {
            storable = storable && c != 0 && Representable().contains(c);
        }
        FUZZ_CHECK(bytes.has_value() == storable);
        if (bytes) {
            FUZZ_CHECK(bytes->size() == units.size());
            FUZZ_CHECK(bytes->find('\0') == std::string::npos);
            FUZZ_CHECK(DecodeAnsi(*bytes) == text);
        }
        // The same bytes taken as a name a file system reported: no UTF-8, no name.
        if (!IsUtf8(rest)) {
            FUZZ_CHECK(!EncodeAnsi(rest).has_value());
        }
    }
    return 0;
}
