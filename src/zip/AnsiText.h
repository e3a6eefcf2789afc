#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace sparkloom {

// Archive entry names travel as Windows-1252 text, the host editor's code page.
// Returns nothing for text with a character outside that code page or a NUL.
std::optional<QByteArray> EncodeAnsi(const QString& text);
QString DecodeAnsi(const QByteArray& bytes);

}  // namespace sparkloom
