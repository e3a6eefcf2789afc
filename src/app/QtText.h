#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sparkloom {

// The core speaks UTF-8 in std::string, the window QString: these are the only
// crossings between them. A lone surrogate has no UTF-8 form and crosses as
// U+FFFD, which the core then refuses like any other letter it cannot store.
inline QString ToQt(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

inline std::string ToUtf8(const QString& text) {
    // Qt would write "?" for it, which passes for a letter the package can store.
    QString whole = text;
    for (qsizetype i = 0; i < whole.size(); ++i) {
        const QChar c = std::as_const(whole)[i];
        if (c.isHighSurrogate() && i + 1 < whole.size() && whole.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            whole[i] = QChar(QChar::ReplacementCharacter);
        }
    }
    return whole.toStdString();
}

inline QStringList ToQt(const std::vector<std::string>& texts) {
    QStringList list;
    list.reserve(static_cast<qsizetype>(texts.size()));
    for (const std::string& text : texts) {
        list << ToQt(text);
    }
    return list;
}

inline std::vector<std::string> ToUtf8(const QStringList& texts) {
    std::vector<std::string> list;
    list.reserve(static_cast<size_t>(texts.size()));
    for (const QString& text : texts) {
        list.push_back(ToUtf8(text));
    }
    return list;
}

}  // namespace sparkloom
