#include "store/Locations.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"

#include <cwctype>

namespace bw {

const wchar_t* const LocationTable::StoreFolders[kLastCode + 1] = {
    L"", L"Run\\Local\\", L"Run\\User\\", L"Run\\StartUp\\", L"NoRun\\Local\\", L"NoRun\\User\\", L"NoRun\\StartUp\\",
};

const wchar_t* const LocationTable::Labels[4] = {
    L"",
    L" - Registry (HKLM)",
    L" - Registry (HKCU)",
    L" - Startup Folder",
};

HKEY LocationTable::Root(Location location) {
    switch (location) {
    case Location::Local:
        return HKEY_LOCAL_MACHINE;
    case Location::User:
        return HKEY_CURRENT_USER;
    case Location::StartUp:
        break;
    }
    return nullptr;
}

namespace {
std::wstring g_programDir;
std::wstring g_startupDir = L"c:";

int CheckedCode(int code) {
    if (!IsValidCode(code)) {
        throw EEntryRefused(L"Invalid location code");
    }
    return code;
}
} // namespace

const wchar_t* StoreFolder(int code) {
    return LocationTable::StoreFolders[CheckedCode(code)];
}

const wchar_t* LocationLabel(int code) {
    return LocationTable::Labels[static_cast<int>(LocationOf(CheckedCode(code)))];
}

HKEY RegistryRoot(int code) {
    return LocationTable::Root(LocationOf(CheckedCode(code)));
}

std::wstring LocationText(int code) {
    return std::to_wstring(CheckedCode(code)) + LocationLabel(code);
}

int CodeFromLocationText(const std::wstring& text) {
    if (text.empty() || text[0] < L'0' + kFirstCode || text[0] > L'0' + kLastCode) {
        return 0;
    }
    return text[0] - L'0';
}

const std::wstring& ProgramDir() {
    return g_programDir;
}

void SetProgramDir(const std::wstring& folder) {
    g_programDir = folder;
    if (!g_programDir.empty() && g_programDir.back() != L'\\') {
        g_programDir += L'\\';
    }
}

std::wstring ProgramDirOf(const std::wstring& executablePath) {
    return FolderPart(executablePath);
}

const std::wstring& StartupDir() {
    return g_startupDir;
}

void RecomputeStartupDir() {
    g_startupDir = L"c:";
    TRegistry registry;
    registry.SelectRoot(HKEY_CURRENT_USER);
    if (registry.OpenExistingKey(kShellFoldersKeyPath)) {
        g_startupDir = registry.ReadText(kStartupValueName);
    }
}

bool IsSafeEntryName(const std::wstring& name) {
    if (name == L"." || name == L"..") {
        return false;
    }
    for (wchar_t c : name) {
        if (c < 0x20 || std::wcschr(L"\\/:*?\"<>|", c) != nullptr) {
            return false;
        }
    }
    // Device names stay devices whatever extension follows them ("CON.lnk", "nul.x.lnk").
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') {
        stem.pop_back();
    }
    for (auto& c : stem) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices) {
        if (stem == device) {
            return false;
        }
    }
    if (stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0)) {
        const wchar_t last = stem[3];
        if ((last >= L'0' && last <= L'9') || last == L'\u00B9' || last == L'\u00B2' || last == L'\u00B3') {
            return false;
        }
    }
    return true;
}

static const std::wstring& CheckedName(const std::wstring& name) {
    if (!IsSafeEntryName(name)) {
        throw EEntryRefused(L"The name \"" + name + L"\" cannot be used as a file name");
    }
    return name;
}

void CreateStoreFolders() {
    std::wstring failed;
    const auto create = [&](const std::wstring& folder) {
        if (!DirectoryExists(folder) && !::CreateDirectoryW(folder.c_str(), nullptr) && !DirectoryExists(folder) &&
            failed.empty()) {
            failed = folder;
        }
    };
    create(ProgramDir() + L"Run");
    create(ProgramDir() + L"NoRun");
    for (int code = kFirstCode; code <= kLastCode; ++code) {
        create(StoreFolderPath(code));
    }
    if (!failed.empty()) {
        throw EFCreateError(FormatMessageText(msg::kCannotCreateFolder, failed));
    }
}

std::wstring StoreFolderPath(int code) {
    return ProgramDir() + StoreFolder(code);
}

std::wstring StoreLinkPath(int code, const std::wstring& name) {
    return StoreFolderPath(code) + CheckedName(name) + kLinkExtension;
}

std::wstring StartupLinkPath(const std::wstring& name) {
    return StartupDir() + L"\\" + CheckedName(name) + kLinkExtension;
}

} // namespace bw
