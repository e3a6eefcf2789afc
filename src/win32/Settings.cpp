#include "win32/Settings.h"

#include <windows.h>

#include <cwchar>

#include "platform/WideText_win.h"

namespace sparkloom::win32 {

using platform::Utf8OfWide;
using platform::WideOf;

namespace {

std::wstring KeyPath(const wchar_t* key) {
    return std::wstring(L"Software\\Sparkloom\\") + key;
}

}  // namespace

std::string UserSetting(const wchar_t* key, const std::string& name) {
    const std::wstring path = KeyPath(key);
    const std::wstring value = WideOf(name);
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), value.c_str(), RRF_RT_REG_SZ, nullptr,
                     nullptr, &bytes) != ERROR_SUCCESS ||
        bytes < sizeof(wchar_t)) {
        return {};
    }
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), value.c_str(), RRF_RT_REG_SZ, nullptr,
                     text.data(), &bytes) != ERROR_SUCCESS) {
        return {};
    }
    text.resize(std::wcslen(text.c_str()));
    return Utf8OfWide(text);
}

bool KeepUserSetting(const wchar_t* key, const std::string& name, const std::string& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &handle, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring text = WideOf(value);
    const bool kept =
        RegSetValueExW(handle, WideOf(name).c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return kept;
}

}  // namespace sparkloom::win32
