#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sparkloom {

// Archive entry names travel as 8-bit text in the host editor's code page.
// Returns nothing for text with a character outside that code page or a NUL.
std::optional<std::string> EncodeAnsi(const std::string& text);
std::string DecodeAnsi(std::string_view bytes);

}  // namespace sparkloom
