#include "zip/AnsiText.h"

#include "platform/CodePage.h"

namespace sparkloom {

std::optional<std::string> EncodeAnsi(const std::string& text) {
    if (text.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return platform::ToHostCodePage(text);
}

std::string DecodeAnsi(std::string_view bytes) {
    return platform::FromHostCodePage(bytes);
}

}  // namespace sparkloom
