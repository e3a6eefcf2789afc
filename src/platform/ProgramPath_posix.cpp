#include "platform/ProgramPath.h"

#include <system_error>

namespace sparkloom::platform {

std::filesystem::path ExecutablePath() {
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : program;
}

}  // namespace sparkloom::platform
