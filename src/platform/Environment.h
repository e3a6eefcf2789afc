#pragma once

#include <optional>
#include <string>

namespace sparkloom::platform {

// An environment variable as UTF-8 text; nothing when it is not set. Read wide
// on Windows, so a PATH entry in any letters survives.
std::optional<std::string> EnvironmentValue(const char* name);

}  // namespace sparkloom::platform
