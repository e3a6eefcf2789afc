#include "platform/Environment.h"

#include <cstdlib>

#include "platform/WideText_win.h"

namespace sparkloom::platform {

std::optional<std::string> EnvironmentValue(const char* name) {
    const wchar_t* value = ::_wgetenv(WideOf(name).c_str());
    return value == nullptr ? std::nullopt : std::optional<std::string>(Utf8OfWide(value));
}

}  // namespace sparkloom::platform
