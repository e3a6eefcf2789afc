#pragma once

// What the template fuzz targets expect of a value once it has been written
// into a template file and read back.

#include <QString>

#include "package/Templates.h"

namespace sparkloom::fuzz {

inline const QString kBomAsAnsi = QStringLiteral(u"\u00EF\u00BB\u00BF");

// What XML 1.0 can carry at all, escaped or not.
inline bool IsXmlText(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
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

inline QString CutAtNul(QString text) {
    return StripNulls(text);
}

// A value as it should read back from the file: cut at a NUL, the UTF-8 byte
// order mark's three characters taken out.
inline QString ReadBack(const QString& value) {
    return CutAtNul(value).remove(kBomAsAnsi);
}

}  // namespace sparkloom::fuzz
