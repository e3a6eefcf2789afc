#include "platform/CodePage.h"

#include <windows.h>

#include "common/Text.h"
#include "platform/WideText_win.h"

namespace sparkloom::platform {

// The host editor runs on the same machine and reads entry names in the
// system's ANSI code page, so that is the one the names are written in.

std::string HostCodePageName() {
    const UINT page = GetACP();
    return page == 1252 ? "Windows-1252" : "code page " + std::to_string(page);
}

std::optional<std::string> ToHostCodePage(std::string_view utf8) {
    if (!IsUtf8(utf8)) {
        return std::nullopt;
    }
    if (utf8.empty()) {
        return std::string();
    }
    const std::wstring wide = WideOf(utf8);
    const UINT page = GetACP();
    // No best-fit letters: a name that would change is refused, never written
    // with a look-alike or a question mark.
    BOOL usedDefault = FALSE;
    const int size =
        WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                            nullptr, 0, nullptr, &usedDefault);
    if (size <= 0 || usedDefault) {
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        bytes.data(), size, nullptr, &usedDefault);
    if (usedDefault) {
        return std::nullopt;
    }
    // A name must read back as itself.
    if (FromHostCodePage(bytes) != utf8) {
        return std::nullopt;
    }
    return bytes;
}

std::string FromHostCodePage(std::string_view bytes) {
    if (bytes.empty()) {
        return {};
    }
    const UINT page = GetACP();
    const int size =
        MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size);
    return Utf8OfWide(wide);
}

}  // namespace sparkloom::platform
