#pragma once

#include <filesystem>

namespace sparkloom::platform {

// The running program's own executable; empty when the system cannot tell.
std::filesystem::path ExecutablePath();

}  // namespace sparkloom::platform
