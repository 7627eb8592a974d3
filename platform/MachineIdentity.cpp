#include "platform/MachineIdentity.h"

#include "platform/UniqueHandle.h"

#include <windows.h>

namespace bw {

namespace {

std::wstring RealMachineGuid() {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                        &opened) != ERROR_SUCCESS) {
        return {};
    }
    const UniqueHkey key(opened);
    wchar_t text[64] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t); // room for a terminating zero the data may lack
    DWORD type = 0;
    const LONG result =
        ::RegQueryValueExW(key.Get(), L"MachineGuid", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    if (result != ERROR_SUCCESS || type != REG_SZ) {
        return {};
    }
    return std::wstring(text, ::wcsnlen(text, size / sizeof(wchar_t)));
}

std::wstring RealMachineName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    return ::GetComputerNameW(name, &length) ? std::wstring(name, length) : std::wstring();
}

} // namespace

namespace seam {
TSeam<std::wstring()> MachineGuid(&RealMachineGuid);
TSeam<std::wstring()> MachineName(&RealMachineName);
} // namespace seam

std::wstring MachineGuid() {
    return seam::MachineGuid();
}

std::wstring MachineName() {
    return seam::MachineName();
}

} // namespace bw
