#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sparkloom::platform {

// The 8-bit code page the host editor reads archive entry names in. Every
// conversion to and from it goes through here, for the writer, the read-back
// and the package check alike.

// A name for messages ("Windows-1252").
std::string HostCodePageName();
// The UTF-8 text in the host's code page; nothing when a character has no form
// there (no substitute is ever made) or the text is not UTF-8.
std::optional<std::string> ToHostCodePage(std::string_view utf8);
// The bytes read in the host's code page, as UTF-8; a byte the code page leaves
// undefined reads as U+FFFD.
std::string FromHostCodePage(std::string_view bytes);

}  // namespace sparkloom::platform
