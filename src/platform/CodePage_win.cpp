#include "platform/CodePage.h"

#include <windows.h>

#include <algorithm>

#include "common/Text.h"
#include "platform/WideText_win.h"

namespace sparkloom::platform {

// The host editor runs on the same machine and reads entry names in the
// system's ANSI code page, so that is the one the names are written in.

namespace {

// Windows fills the slots its ANSI code pages leave undefined (0x81 in 1252,
// 0x98 in 1251) with the C1 control of the same number; no ANSI code page
// has a real use for those controls, so they count as undefined, as Linux
// counts them.
bool IsUndefinedSlot(wchar_t c) {
    return c >= 0x80 && c <= 0x9F;
}

}  // namespace

std::string HostCodePageName() {
    const UINT page = GetACP();
    if (page == CP_UTF8) {
        return "UTF-8";
    }
    return (page >= 1250 && page <= 1258 ? "Windows-" : "code page ") + std::to_string(page);
}

std::optional<std::string> ToHostCodePage(std::string_view utf8) {
    if (!IsUtf8(utf8)) {
        return std::nullopt;
    }
    const UINT page = GetACP();
    // A system set to "Unicode UTF-8 for worldwide language support" reads
    // names as UTF-8, and WideCharToMultiByte takes no used-default flag for it.
    if (utf8.empty() || page == CP_UTF8) {
        return std::string(utf8);
    }
    const std::wstring wide = WideOf(utf8);
    if (std::any_of(wide.begin(), wide.end(), IsUndefinedSlot)) {
        return std::nullopt;
    }
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
    if (page == CP_UTF8) {
        return Utf8OfWide(WideOf(bytes));  // what is not UTF-8 reads as U+FFFD
    }
    const int size =
        MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size);
    std::replace_if(wide.begin(), wide.end(), IsUndefinedSlot, L'\xFFFD');
    return Utf8OfWide(wide);
}

}  // namespace sparkloom::platform
