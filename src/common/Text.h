#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace sparkloom {

// Text is UTF-8 in std::string everywhere in the core; these are the only
// crossings to paths and to UTF-16.

// The path named by UTF-8 text. A path built from a plain narrow string would be
// read in the C locale's code page on some platforms, never as UTF-8. It is the
// form the system's file calls take (on Windows a long one gets the "\\?\" form).
std::filesystem::path PathFromUtf8(std::string_view utf8);
// The same path for path arithmetic (absolute, lexically_normal, is_absolute):
// never in the "\\?\" form, which std::filesystem does not read as a root.
std::filesystem::path PlainPathFromUtf8(std::string_view utf8);
// The path as UTF-8 text, with the separators it holds, as the user writes it.
std::string Utf8Of(const std::filesystem::path& path);

// UTF-16 of UTF-8 text; nothing for bytes that are not UTF-8.
std::optional<std::u16string> Utf16FromUtf8(std::string_view utf8);
// UTF-8 of UTF-16 text; nothing for an unpaired surrogate.
std::optional<std::string> Utf8FromUtf16(std::u16string_view utf16);
// Whether bytes are well-formed UTF-8 (no surrogates, no overlong forms).
bool IsUtf8(std::string_view bytes);

// The number of UTF-16 code units text takes (what a UTF-16 toolkit counts
// as its length); invalid bytes count one each.
std::size_t Utf16Length(std::string_view utf8);

// ASCII letters folded to lower case; other bytes unchanged.
std::string AsciiLower(std::string_view text);
// Without the blanks (space, tab, CR, LF, FF, VT) at either end.
std::string_view Trimmed(std::string_view text);
std::vector<std::string> Split(std::string_view text, char separator);
std::string Join(const std::vector<std::string>& parts, std::string_view separator);
// Every occurrence of from (not empty) replaced by to.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
// A decimal integer taking the whole text; nothing otherwise.
std::optional<int64_t> ParseInteger(std::string_view text);

// The system's words for why an operation failed ("No space left on device").
std::string ReasonOf(const std::error_code& error);
std::string ReasonOfErrno(int error);

}  // namespace sparkloom
