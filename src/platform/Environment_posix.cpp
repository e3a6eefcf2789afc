#include "platform/Environment.h"

#include <cstdlib>

namespace sparkloom::platform {

std::optional<std::string> EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

}  // namespace sparkloom::platform
