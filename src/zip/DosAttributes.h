#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sparkloom {

constexpr int32_t kDosReadOnly = 0x01;
constexpr int32_t kDosHidden = 0x02;
constexpr int32_t kDosSystem = 0x04;
constexpr int32_t kDosDirectory = 0x10;
constexpr int32_t kDosArchive = 0x20;

// The DOS attribute bits the host editor's platform would show for path: archive
// for a regular file, directory for a folder, system for anything else (fifos,
// sockets, devices), read-only when the owner cannot write, hidden for names
// starting with ".". Symbolic links are followed. Nothing when path cannot be
// examined (missing, dangling link, no access).
std::optional<int32_t> DosAttributes(const std::string& path);

}  // namespace sparkloom
