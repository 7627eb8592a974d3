#include "platform/UserHive.h"

#include <windows.h>

#include <vector>

namespace bw {

namespace {

HKEY RealUserHive(const std::wstring& sid) {
    HKEY opened = nullptr;
    if (sid.empty() || ::RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_READ | KEY_WRITE, &opened) != ERROR_SUCCESS) {
        return nullptr;
    }
    return opened;
}

} // namespace

namespace seam {
TSeam<HKEY(const std::wstring&)> UserHive(&RealUserHive);
} // namespace seam

UniqueHkey OpenUserHive(const std::wstring& sid) {
    return UniqueHkey(seam::UserHive(sid));
}

bool ServeCurrentUserFrom(HKEY hive) {
    return ::RegOverridePredefKey(HKEY_CURRENT_USER, hive) == ERROR_SUCCESS;
}

std::optional<std::wstring> ProfileFolderOf(const std::wstring& sid) {
    if (sid.empty()) {
        return std::nullopt;
    }
    const std::wstring key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid;
    constexpr DWORD kFlags = RRF_RT_ANY | RRF_NOEXPAND | RRF_SUBKEY_WOW6464KEY;
    DWORD type = 0;
    DWORD size = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ProfileImagePath", kFlags, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ProfileImagePath", kFlags, &type, text.data(), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::wstring folder(text.data());
    if (type == REG_EXPAND_SZ) { // "%SystemDrive%\\Users\\name": the same for every account of the computer
        const DWORD length = ::ExpandEnvironmentStringsW(folder.c_str(), nullptr, 0);
        std::vector<wchar_t> expanded(length + 1);
        if (length == 0 ||
            ::ExpandEnvironmentStringsW(folder.c_str(), expanded.data(), static_cast<DWORD>(expanded.size())) == 0) {
            return std::nullopt;
        }
        folder = expanded.data();
    }
    return folder.empty() ? std::nullopt : std::optional<std::wstring>(folder);
}

} // namespace bw
