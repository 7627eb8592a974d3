#include "store/StoreOwner.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/MachineIdentity.h"
#include "platform/Registry.h"
#include "platform/Token.h"
#include "platform/UserHive.h"
#include "resources/Texts.h"
#include "store/Locations.h"
#include "store/Utf16Text.h"
#include "store/StoreData.h"

#include <windows.h>

#include <string_view>

namespace bw {

namespace {

// UTF-16 text, a first line that names the format, then one "name=value" line per field.
constexpr const wchar_t* kOwnerFileStart = L"Bootwarden store owner 1";

struct Field {
    const wchar_t* name;
    std::wstring StoreOwner::*member;
};
constexpr Field kFields[] = {{L"sid", &StoreOwner::sid},
                             {L"account", &StoreOwner::account},
                             {L"machineGuid", &StoreOwner::machineGuid},
                             {L"machine", &StoreOwner::machine}};

// A text fit for one line: line breaks and the zero cannot stand in a field.
std::wstring OneLine(std::wstring text) {
    for (wchar_t& c : text) {
        if (c == L'\r' || c == L'\n' || c == L'\0') {
            c = L' ';
        }
    }
    return text;
}

} // namespace

std::wstring StoreOwnerFile() {
    return StoreDataFile(kStoreOwnerFile);
}

std::optional<StoreOwner> RecordedStoreOwner() {
    const std::wstring path = StoreOwnerFile();
    if (!PathExists(path)) {
        return std::nullopt;
    }
    StoreOwner owner;
    const auto bytes = ReadWholeFile(path, 64u << 10);
    const auto whole = bytes ? Utf16Text(*bytes) : std::nullopt;
    if (!whole) {
        return owner; // there, but not to be read: whose it is cannot be told
    }
    const std::wstring& text = *whole;
    size_t start = 0;
    bool first = true;
    StoreOwner read;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (first) {
            if (line != kOwnerFileStart) {
                return owner;
            }
            first = false;
            continue;
        }
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) {
            continue;
        }
        for (const Field& field : kFields) {
            if (line.compare(0, equals, field.name) == 0 && std::wcslen(field.name) == equals) {
                read.*field.member = line.substr(equals + 1);
            }
        }
    }
    return first || read.sid.empty() ? owner : read;
}

void RecordStoreOwner(const StoreOwner& owner) {
    std::wstring text = kOwnerFileStart;
    text += L'\n';
    for (const Field& field : kFields) {
        text += field.name;
        text += L'=';
        text += OneLine(owner.*field.member);
        text += L'\n';
    }
    WriteFileReplacing(StoreOwnerFile(), Utf16Bytes(text));
}

StoreOwner ThisRunsOwner() {
    StoreOwner owner;
    owner.sid = DesktopUserSid();
    owner.account = DesktopAccountName();
    if (owner.sid.empty()) {
        owner.sid = ProcessUserSid();
        owner.account = ProcessAccountName();
    }
    owner.machineGuid = MachineGuid();
    owner.machine = MachineName();
    return owner;
}

bool ThisRunMayAdopt() {
    const std::wstring desktop = DesktopUserSid();
    return desktop.empty() ||
           ::CompareStringOrdinal(desktop.c_str(), -1, ProcessUserSid().c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool SameOwner(const StoreOwner& recorded, const StoreOwner& current) {
    const auto same = [](const std::wstring& a, const std::wstring& b) {
        return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
    };
    if (current.sid.empty()) {
        return true; // this run cannot tell its own account: as before stores recorded an owner
    }
    if (recorded.sid.empty() || !same(recorded.sid, current.sid)) {
        return false;
    }
    return recorded.machineGuid.empty() || current.machineGuid.empty() ||
           same(recorded.machineGuid, current.machineGuid);
}

namespace {

constexpr const wchar_t* kUserShellFoldersKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// The owner's Startup folder from HKCU (the owner's hive by now): "User Shell Folders" holds it with
// %USERPROFILE% in it, which stands for the owner's profile folder here, not this run's. Any other variable would
// be this run's, not the owner's: then the folder cannot be told.
std::optional<std::wstring> OwnersStartupFolder(const std::wstring& sid) {
    TRegistry registry;
    registry.SelectRoot(HKEY_CURRENT_USER);
    if (!registry.OpenExistingKey(kUserShellFoldersKey)) {
        return std::nullopt;
    }
    std::wstring folder;
    try {
        folder = registry.ReadText(L"Startup");
    } catch (const EBootwarden&) {
        return std::nullopt;
    }
    constexpr std::wstring_view kProfile = L"%USERPROFILE%";
    if (folder.size() >= kProfile.size() &&
        ::CompareStringOrdinal(folder.c_str(), static_cast<int>(kProfile.size()), kProfile.data(),
                               static_cast<int>(kProfile.size()), TRUE) == CSTR_EQUAL) {
        const auto profile = ProfileFolderOf(sid);
        if (!profile) {
            return std::nullopt;
        }
        folder = *profile + folder.substr(kProfile.size());
    }
    if (folder.empty() || folder.find(L'%') != std::wstring::npos) {
        return std::nullopt;
    }
    return folder;
}

} // namespace

std::wstring UseOwnersPlaces() {
    const std::wstring owner = DesktopUserSid();
    if (owner.empty() || ThisRunMayAdopt()) {
        SetOwnersStartupDir(std::nullopt);
        return {};
    }
    const UniqueHkey hive = OpenUserHive(owner);
    if (!hive || !ServeCurrentUserFrom(hive.Get())) {
        // Neither HKCU nor the shell's Startup folder is the owner's here: the folder cannot be told.
        SetOwnersStartupDir(std::optional<std::wstring>());
        const std::wstring name = DesktopAccountName();
        return name.empty() ? owner : name;
    }
    SetOwnersStartupDir(OwnersStartupFolder(owner));
    return {};
}

std::wstring ShownAccount(const StoreOwner& owner) {
    return !owner.account.empty() ? owner.account : !owner.sid.empty() ? owner.sid : text::kUnknownOwner;
}

std::wstring ShownMachine(const StoreOwner& owner) {
    return !owner.machine.empty() ? owner.machine : text::kUnknownMachine;
}

} // namespace bw
