#include "package/Templates.h"

#include <cerrno>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <utility>

#include "common/EventPump.h"
#include "common/Files.h"
#include "common/Text.h"
#include "package/ReplaceFile.h"
#include "platform/FileIdentity.h"

namespace sparkloom {

namespace embedded {
// The template files as built into the program (a source CMake generates).
std::string_view TemplateXml();
std::string_view TemplateClt();
}  // namespace embedded

namespace {

// The UTF-8 byte-order mark of the resources, read one character per byte.
const std::string kBomAsAnsi = "\u00EF\u00BB\u00BF";

// A value ends at its first NUL, as the text it is written into would.
std::string UpToNul(std::string value) {
    return StripNulls(value);
}

// Values go between double quotes, so "<", ">", "&" and '"' would break the file;
// a tab or line end would read back as a blank, so those go as references too.
std::string XmlEscaped(const std::string& value) {
    std::string escaped;
    for (const char c : UpToNul(value)) {
        switch (c) {
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '&':
                escaped += "&amp;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\t':
                escaped += "&#9;";
                break;
            case '\n':
                escaped += "&#10;";
                break;
            case '\r':
                escaped += "&#13;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

// The first character of text XML 1.0 has no form for at all, escaped or not:
// the other control characters, surrogates, U+FFFE and U+FFFF. -1 when there
// is none, -2 when the text is not UTF-8 at all.
int32_t UncarriableCode(const std::string& value) {
    const std::string text = UpToNul(value);
    const auto byte = [&text](std::size_t at) {
        return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
    };
    for (std::size_t i = 0; i < text.size();) {
        // A surrogate written as if it were a character (three bytes ED A0..BF xx) is
        // the UTF-8 form of an unpaired one.
        if (byte(i) == 0xED && byte(i + 1) >= 0xA0 && byte(i + 1) <= 0xBF &&
            (byte(i + 2) & 0xC0) == 0x80) {
            return 0xD000 | ((byte(i + 1) & 0x3F) << 6) | (byte(i + 2) & 0x3F);
        }
        std::size_t length = byte(i) < 0x80 ? 1 : byte(i) < 0xE0 ? 2 : byte(i) < 0xF0 ? 3 : 4;
        if (!IsUtf8(std::string_view(text).substr(i, length))) {
            return -2;
        }
        int32_t c = byte(i) & (length == 1 ? 0x7F : length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
        for (std::size_t k = 1; k < length; ++k) {
            c = (c << 6) | (byte(i + k) & 0x3F);
        }
        const bool carried = c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c <= 0xD7FF) ||
                             (c >= 0xE000 && c <= 0xFFFD) || c >= 0x10000;
        if (!carried) {
            return c;
        }
        i += length;
    }
    return -1;
}

std::string Hex4(int32_t code) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (; code > 0; code >>= 4) {
        hex.insert(hex.begin(), kDigits[code & 0xF]);
    }
    return std::string(hex.size() < 4 ? 4 - hex.size() : 0, '0') + hex;
}

// Refuses the write when one of the values cannot go into the file; "" when all can.
std::string Uncarriable(const std::string& fileName,
                        std::initializer_list<std::pair<const char*, const std::string*>> values) {
    for (const auto& [what, value] : values) {
        const int32_t code = UncarriableCode(*value);
        if (code == -2) {
            return "The " + std::string(what) + " holds bytes that are not UTF-8 text, which " +
                   fileName + " needs.";
        }
        if (code >= 0) {
            return "The " + std::string(what) + " holds a character (U+" + Hex4(code) + ") that " +
                   fileName + " cannot carry.";
        }
    }
    return {};
}

// The resource as UTF-8 text, one character per byte. It holds only ASCII and the
// BOM bytes, where Windows-1252 and Latin-1 agree.
std::string TemplateText(const std::string& name) {
    PumpEvents();
    std::string text;
    for (const char c : TemplateResource(name)) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return text;
}

// Drops the closing NULs and the BOM characters, wherever they came from.
std::string Finished(std::string text) {
    StripNulls(text);
    return ReplaceAll(text, kBomAsAnsi, "");
}

TemplateWrite WriteUtf16(const std::string& sFolder, const std::string& fileName,
                         const std::string& text) {
    TemplateWrite result;
    result.path = sFolder + '/' + fileName;
    const auto fail = [&result](const std::string& reason) {
        result.error = "Cannot write " + Shown(result.path) + ": " + reason;
        return result;
    };
    const std::optional<std::u16string> utf16 = Utf16FromUtf8(text);
    if (!utf16) {
        return fail("the text is not UTF-8");
    }
    std::string bytes("\xFF\xFE");
    bytes.reserve(2 + utf16->size() * 2);
    for (const char16_t unit : *utf16) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }

    // A path holding a NUL would name another file to the system.
    if (result.path.find('\0') != std::string::npos) {
        return fail(ReasonOfErrno(EINVAL));
    }
    const std::filesystem::path target = PathFromUtf8(result.path);
    // A read-only file keeps its contents, though the folder would let it be replaced.
    if (const auto facts = platform::FactsOf(target);
        facts && facts->kind == platform::FileFacts::Kind::Regular && facts->readOnly) {
        return fail("Existing file " + Shown(result.path) + " is not writable");
    }
    PartialFile file(target);
    std::string reason;
    if (!file.Open(reason) || !file.Write(bytes, reason) || !file.Commit(reason)) {
        return fail(reason);
    }
    result.ok = true;
    return result;
}

}  // namespace

std::string& StripNulls(std::string& OriginalStr) {
    const std::size_t nul = OriginalStr.find('\0');
    if (nul != std::string::npos) {
        OriginalStr.resize(nul);
    }
    return OriginalStr;
}

std::string TemplateResource(const std::string& name) {
    const std::string upper = [&name] {
        std::string text = name;
        for (char& c : text) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
        return text;
    }();
    if (upper == "XML") {
        return std::string(embedded::TemplateXml());
    }
    if (upper == "CLT") {
        return std::string(embedded::TemplateClt());
    }
    return {};
}

std::string FilledTemplateXml(const TemplateXmlValues& values) {
    std::string text = TemplateText("XML");
    text = ReplaceAll(text, "{{TYPE}}", XmlEscaped(values.type));
    text = ReplaceAll(text, "{{CATEGORY}}", XmlEscaped(values.category));
    text = ReplaceAll(text, "{{PARTICLENAME}}", XmlEscaped(values.particleName));
    return Finished(text);
}

std::string FilledTemplateClt(const std::string& sFolder, const std::string& sFirstFile,
                              int32_t lDuration) {
    const std::string firstFile = ReplaceAll(UpToNul(sFirstFile), " ", "_");
    std::string text = TemplateText("CLT");
    // The folder goes in first, so placeholder text inside it is filled by the later steps.
    text = ReplaceAll(text, "{{SOURCEDIRECTORYPATH}}", XmlEscaped(UpToNul(sFolder) + '/'));
    text = ReplaceAll(text, "{{FIRSTFILENAME}}", XmlEscaped(firstFile));
    text = ReplaceAll(text, "{{ANIMATIONDURATION}}", std::to_string(lDuration));
    return Finished(text);
}

TemplateWrite WriteTemplateXml(const std::string& sFolder, const TemplateXmlValues& values) {
    const std::string fileName = "TitleTemplate.xml";
    const std::string refusal = Uncarriable(fileName, {{"type", &values.type},
                                                       {"category", &values.category},
                                                       {"particle name", &values.particleName}});
    if (!refusal.empty()) {
        return TemplateWrite{false, sFolder + '/' + fileName, refusal};
    }
    return WriteUtf16(sFolder, fileName, FilledTemplateXml(values));
}

TemplateWrite WriteTemplateClt(const std::string& sFolder, const std::string& sFirstFile,
                               int32_t lDuration) {
    const std::string fileName = "TitleTemplate.clt";
    const std::string refusal = Uncarriable(
        fileName, {{"frames folder's path", &sFolder}, {"first frame's name", &sFirstFile}});
    if (!refusal.empty()) {
        return TemplateWrite{false, sFolder + '/' + fileName, refusal};
    }
    return WriteUtf16(sFolder, fileName, FilledTemplateClt(sFolder, sFirstFile, lDuration));
}

}  // namespace sparkloom
