#include "store/Import.h"

#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/ShellLink.h"
#include "store/Locations.h"

#include <algorithm>
#include <cwctype>
#include <functional>
#include <set>
#include <vector>

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

namespace {

// A name in the form file names are compared in: without regard to case, as the file system does.
std::wstring Folded(const std::wstring& name) {
    std::wstring folded = name;
    if (!folded.empty()) {
        ::CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    }
    return folded;
}

// The file names an import has just made or confirmed in one enabled folder.
class KeptNames {
public:
    void Add(const std::wstring& name) { m_names.insert(Folded(name)); }
    bool Contains(const std::wstring& name) const { return m_names.count(Folded(name)) != 0; }

private:
    std::set<std::wstring> m_names;
};

// The file names a folder holds, as the file system spells them.
class FolderNames {
public:
    explicit FolderNames(const std::wstring& folder) {
        ForEachMatch(JoinPath(folder, L"*.lnk"),
                     [&](const WIN32_FIND_DATAW& found) { m_names.insert(found.cFileName); });
    }
    // True when the folder holds exactly this name, in this case.
    bool HasExactly(const std::wstring& name) const { return m_names.count(name) != 0; }

private:
    std::set<std::wstring> m_names;
};

bool EmptyDirectoryExcept(const std::wstring& folder, const KeptNames& keep) {
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
            allDeleted = EmptyDirectoryExcept(path, KeptNames()) && allDeleted;
            return;
        }
        if (keep.Contains(name)) {
            return;
        }
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_ARCHIVE);
        }
        allDeleted = DeleteFileAt(path) && allDeleted;
    });
    return allDeleted;
}

// A store link that the import may keep as it is: a plain file, as the import itself writes them.
bool IsPlainFile(const std::wstring& path) {
    const DWORD attributes = FileAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY |
                                                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

// Clears the way for a new store link: whatever stands at its path goes first, read-only or not.
void ClearWay(const std::wstring& path) {
    if (FileExists(path)) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_ARCHIVE);
        (void)DeleteFileAt(path); // what cannot be deleted makes the save fail, as a missing folder would
    }
}

void ImportRunKey(int code, TShellLink& reader, KeptNames& kept) {
    const FolderNames existing(StoreFolderPath(code));
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
        const std::wstring description = DescriptionFor(commandLine);
        const std::wstring path = StoreLinkPath(code, name);
        kept.Add(name + kLinkExtension);
        // The link that the last import wrote for this value still says the same under the same name (in its
        // case, too): making it anew would cost far more (the shell resolves every target it is given) and
        // give the same file.
        if (existing.HasExactly(name + kLinkExtension) && IsPlainFile(path) && reader.Load(path) &&
            reader.Description() == description) {
            continue;
        }
        ClearWay(path);
        TShellLink link;
        (void)link.SetDescription(description);
        (void)link.SetPath(commandLine);
        (void)link.Save(path); // a name the file system refuses simply has no store link
    }
}

void ImportStartupFolder(KeptNames& kept) {
    const std::wstring startupDir = StartupDir();
    const std::wstring storeFolder = StoreFolderPath(static_cast<int>(Location::StartUp));
    const FolderNames existing(storeFolder);
    ForEachMatch(startupDir + L"\\*.lnk", [&](const WIN32_FIND_DATAW& found) {
        const std::wstring fileName = found.cFileName;
        if (!HasLinkExtension(fileName) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return; // a folder named like a shortcut starts nothing
        }
        const std::wstring shortcut = startupDir + L"\\" + fileName;
        const std::wstring storeLink = storeFolder + fileName;
        kept.Add(fileName);
        if (existing.HasExactly(fileName) && IsPlainFile(storeLink) && FilesHoldSameBytes(shortcut, storeLink)) {
            return; // already the mirror of this shortcut
        }
        ClearWay(storeLink);
        TShellLink link;
        (void)link.Load(shortcut); // a damaged shortcut is saved as the load left it
        (void)link.Save(storeLink);
    });
}

} // namespace

bool EmptyDirectory(const std::wstring& folder) {
    return EmptyDirectoryExcept(folder, KeptNames());
}

void ImportSystemEntries() {
    // Each enabled folder ends up holding exactly the mirror of its location: links that already mirror
    // an entry are kept, the others are written anew, and every other file is removed.
    RecomputeStartupDir();
    TShellLink reader;
    KeptNames kept[kFirstDisabledCode];
    const auto mirror = [&](int code, const std::function<void()>& fill) {
        if (!DirectoryExists(StoreFolderPath(code))) {
            return; // nothing is created; the location simply shows no entries
        }
        fill();
        (void)EmptyDirectoryExcept(StoreFolderPath(code), kept[code]); // what cannot be deleted stays
    };
    const int local = static_cast<int>(Location::Local);
    const int user = static_cast<int>(Location::User);
    const int startUp = static_cast<int>(Location::StartUp);
    mirror(local, [&] { ImportRunKey(local, reader, kept[local]); });
    mirror(user, [&] { ImportRunKey(user, reader, kept[user]); });
    mirror(startUp, [&] { ImportStartupFolder(kept[startUp]); });
}

} // namespace bw
