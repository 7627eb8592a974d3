#include "store/Import.h"

#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/ShellLink.h"
#include "store/Locations.h"

#include <cwctype>

namespace bw {

std::wstring DescriptionFor(const std::wstring& commandLine) {
    return commandLine.substr(0, kLinkDescriptionLimit);
}

bool IsCarriedWhole(const std::wstring& description) {
    return description.size() < kLinkDescriptionLimit;
}

bool HasLinkExtension(const std::wstring& fileName) {
    const size_t length = std::wcslen(kLinkExtension);
    if (fileName.size() < length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (std::towlower(fileName[fileName.size() - length + i]) != kLinkExtension[i]) {
            return false;
        }
    }
    return true;
}

bool EmptyDirectory(const std::wstring& folder) {
    if (!DirectoryExists(folder)) {
        return false;
    }
    bool allDeleted = true;
    ForEachMatch(JoinPath(folder, L"*.*"), [&](const WIN32_FIND_DATAW& found) {
        const std::wstring name = found.cFileName;
        if (name.empty() || name[0] == L'.') {
            return; // ".", ".." and every other dot-name stay
        }
        const std::wstring path = JoinPath(folder, name);
        const DWORD attributes = found.dwFileAttributes;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A junction or link may lead out of the store; what it points at is not ours to delete.
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                allDeleted = DeleteFileAt(path) && allDeleted; // removes the link itself, not its target
            }
            return;
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            allDeleted = EmptyDirectory(path) && allDeleted;
            return;
        }
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_ARCHIVE);
        }
        allDeleted = DeleteFileAt(path) && allDeleted;
    });
    return allDeleted;
}

namespace {

void ImportRunKey(int code) {
    TRegistry registry;
    registry.SelectRoot(RegistryRoot(code));
    if (!registry.OpenExistingKey(kRunKeyPath)) {
        return; // a key that cannot be opened gives no entries
    }
    for (const std::wstring& name : registry.ListValueNames()) {
        if (!IsSafeEntryName(name)) {
            continue; // its store link would land outside the store folder or nowhere
        }
        const auto type = registry.ValueType(name);
        if (!type) {
            continue; // gone since the names were listed
        }
        if (*type != REG_SZ && *type != REG_EXPAND_SZ && registry.ValueSize(name) > 0) {
            continue; // Windows does not start a value of another type either
        }
        const std::wstring commandLine = registry.ReadText(name);
        TShellLink link;
        (void)link.SetDescription(DescriptionFor(commandLine));
        (void)link.SetPath(commandLine);
        (void)link.Save(StoreLinkPath(code, name)); // a name the file system refuses simply has no store link
    }
}

void ImportStartupFolder() {
    const std::wstring startupDir = StartupDir();
    const std::wstring storeFolder = StoreFolderPath(static_cast<int>(Location::StartUp));
    ForEachMatch(startupDir + L"\\*.lnk", [&](const WIN32_FIND_DATAW& found) {
        const std::wstring fileName = found.cFileName;
        if (!HasLinkExtension(fileName)) {
            return;
        }
        TShellLink link;
        (void)link.Load(startupDir + L"\\" + fileName); // a damaged shortcut is saved as the load left it
        (void)link.Save(storeFolder + fileName);
    });
}

} // namespace

void ImportSystemEntries() {
    for (int code = 1; code < kFirstDisabledCode; ++code) {
        (void)EmptyDirectory(StoreFolderPath(code)); // what cannot be deleted stays; the import goes on
    }
    RecomputeStartupDir();
    ImportRunKey(static_cast<int>(Location::Local));
    ImportRunKey(static_cast<int>(Location::User));
    ImportStartupFolder();
}

} // namespace bw
