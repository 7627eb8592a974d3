#include "store/StartupApproved.h"

#include "store/Locations.h"

namespace bw {

namespace {

constexpr size_t kFlagSize = 12;

} // namespace

std::optional<ApprovalPlace> ApprovalPlaceOf(int enabledCode) {
    switch (LocationOf(enabledCode)) {
    case Location::Local:
        return ApprovalPlace{HKEY_LOCAL_MACHINE, L"Run"};
    case Location::User:
        return ApprovalPlace{HKEY_CURRENT_USER, L"Run"};
    case Location::Local32:
        return ApprovalPlace{HKEY_LOCAL_MACHINE, L"Run32"};
    case Location::StartUp:
        return ApprovalPlace{HKEY_CURRENT_USER, L"StartupFolder"};
    }
    return std::nullopt;
}

std::wstring ApprovalValueName(int enabledCode, const std::wstring& entryName) {
    return LocationOf(enabledCode) == Location::StartUp ? entryName + kLinkExtension : entryName;
}

bool KeepsFromStarting(const RegistryValue& flag) {
    return flag.type == REG_BINARY && flag.data.size() == kFlagSize && (flag.data[0] & 1) != 0;
}

bool AllowToStart(int enabledCode, const std::wstring& entryName) {
    const auto place = ApprovalPlaceOf(enabledCode);
    if (!place) {
        return false;
    }
    TRegistry registry;
    registry.SelectRoot(place->root);
    if (!registry.OpenExistingKey(std::wstring(kStartupApprovedPath) + place->subkey)) {
        return false; // no flags kept: nothing keeps the entry from starting
    }
    const std::wstring name = ApprovalValueName(enabledCode, entryName);
    const auto flag = registry.Value(name);
    if (!flag || !KeepsFromStarting(*flag)) {
        return false;
    }
    // As Windows' own pages write it when an entry is switched on again.
    RegistryValue allowed{name, REG_BINARY, std::string(kFlagSize, '\0')};
    allowed.data[0] = 0x02;
    registry.WriteValue(allowed);
    return true;
}

} // namespace bw
