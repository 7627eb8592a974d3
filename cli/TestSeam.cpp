#include "cli/TestSeam.h"

#include "platform/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <vector>

namespace bw::cli {

bool UseScratchRegistry() {
    std::vector<wchar_t> buffer(1024);
    const DWORD length =
        ::GetEnvironmentVariableW(L"BOOTWARDEN_TEST_REGISTRY", buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        return false;
    }
    const std::wstring scratch(buffer.data(), length);
    UniqueHkey machine;
    UniqueHkey user;
    // Both are opened before either root is redirected: the second open must not land inside the first.
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, (scratch + L"\\Machine").c_str(), 0, KEY_ALL_ACCESS, machine.Put()) !=
            ERROR_SUCCESS ||
        ::RegOpenKeyExW(HKEY_CURRENT_USER, (scratch + L"\\User").c_str(), 0, KEY_ALL_ACCESS, user.Put()) !=
            ERROR_SUCCESS) {
        return false;
    }
    return ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine.Get()) == ERROR_SUCCESS &&
           ::RegOverridePredefKey(HKEY_CURRENT_USER, user.Get()) == ERROR_SUCCESS;
}

} // namespace bw::cli
