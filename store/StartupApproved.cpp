#include "store/StartupApproved.h"

#include "platform/Errors.h"
#include "resources/Texts.h"
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
    case Location::Common:
        return ApprovalPlace{HKEY_LOCAL_MACHINE, L"StartupFolder"};
    case Location::PolicyLocal:
    case Location::PolicyLocal32:
    case Location::PolicyUser:
    case Location::OnceLocal:
    case Location::OnceLocal32:
    case Location::OnceUser:
        break; // Windows' own pages keep no switch for these
    }
    return std::nullopt;
}

std::wstring ApprovalValueName(int enabledCode, const std::wstring& entryName) {
    return IsFolderCode(enabledCode) ? entryName + kLinkExtension : entryName;
}

bool KeepsFromStarting(const RegistryValue& flag) {
    return flag.type == REG_BINARY && flag.data.size() == kFlagSize && (flag.data[0] & 1) != 0;
}

namespace {

// Opens the key of the entry's flag for writing when the flag keeps the entry from starting; false when no flag
// keeps it. Raises ERightsMissing when the user may not change that key (HKLM's, for a standard user).
bool OpenFlagToAllow(TRegistry& registry, int enabledCode, const std::wstring& entryName) {
    const auto place = ApprovalPlaceOf(enabledCode);
    if (!place) {
        return false;
    }
    registry.SelectRoot(place->root);
    const std::wstring path = std::wstring(kStartupApprovedPath) + place->subkey;
    if (!registry.OpenExistingKey(path)) {
        return false; // no flags kept: nothing keeps the entry from starting
    }
    const auto flag = registry.Value(ApprovalValueName(enabledCode, entryName));
    if (!flag || !KeepsFromStarting(*flag)) {
        return false;
    }
    if (!registry.OpenExistingKey(path, 0, KeyAccess::Write)) {
        if (registry.Refused()) {
            throw ERightsMissing(FormatMessageText(text::kNeedsAdministrator, entryName));
        }
        return false; // gone meanwhile
    }
    return true;
}

} // namespace

void CheckRightsToAllow(int enabledCode, const std::wstring& entryName) {
    TRegistry registry;
    (void)OpenFlagToAllow(registry, enabledCode, entryName);
}

bool AllowToStart(int enabledCode, const std::wstring& entryName) {
    TRegistry registry;
    if (!OpenFlagToAllow(registry, enabledCode, entryName)) {
        return false;
    }
    // As Windows' own pages write it when an entry is switched on again.
    RegistryValue allowed{ApprovalValueName(enabledCode, entryName), REG_BINARY, std::string(kFlagSize, '\0')};
    allowed.data[0] = 0x02;
    registry.WriteValue(allowed);
    return true;
}

} // namespace bw
