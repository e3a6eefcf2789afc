#pragma once

#include <string>

namespace sparkloom::win32 {

// Texts kept for the user between runs, under HKCU\Software\Sparkloom\<key>;
// "" for one never kept or unreadable.
std::string UserSetting(const wchar_t* key, const std::string& name);
// False when the registry refused it.
bool KeepUserSetting(const wchar_t* key, const std::string& name, const std::string& value);

}  // namespace sparkloom::win32
