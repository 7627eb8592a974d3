#include "tools/soak/SoakWorld.h"

#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/ShellLink.h"
#include "platform/UniqueHandle.h"
#include "store/CommandLine.h"
#include "store/Import.h"
#include "store/StartupApproved.h"
#include "store/StoreLock.h"
#include "store/StoreReader.h"

#include <shlobj.h>

#include <cstring>
#include <stdexcept>

namespace soak {

namespace {

int EnabledCode(bw::Location location) {
    return location == bw::Location::Local32 ? bw::kLocal32Code : static_cast<int>(location);
}

std::string TextBytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

// A value's data as text: byte for byte, less the one terminating zero that a string value carries.
Content ValueContent(const bw::RegistryValue& value) {
    std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) {
        std::memcpy(&text[0], value.data.data(), text.size() * sizeof(wchar_t));
    }
    if (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    if (value.data.size() % sizeof(wchar_t) != 0) {
        text += L"<odd byte>";
    }
    return {value.type, text};
}

bw::UniqueHkey CreateKey(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    const LONG result =
        ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE | view, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create a key of the soak's world");
    }
    return bw::UniqueHkey(key);
}

// Another program can give a value a name that holds a zero character, through ntdll's calls that take the name
// with its length; the registry's C-string calls would act on the value named by its first part. The world makes
// and removes such values as that program would.
struct CountedName {
    USHORT length;
    USHORT maximumLength;
    const wchar_t* buffer;
};

template <typename Fn> Fn NtCall(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}

CountedName Counted(const std::wstring& name) {
    const auto bytes = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    return {bytes, bytes, name.data()};
}

bool HoldsZero(const std::wstring& name) {
    return name.find(L'\0') != std::wstring::npos;
}

bool IsTemporary(const std::wstring& fileName) {
    if (bw::IsTemporaryFileName(fileName)) {
        return true;
    }
    return fileName.size() > 4 && bw::FoldedName(fileName.substr(fileName.size() - 4)) == bw::FoldedName(L".tmp");
}

// Sentinel files in the Startup folder that are no shortcuts of anyone's, and one that only looks like a
// temporary file of the program's.
constexpr const wchar_t* kStartupSentinels[] = {L"notes.txt", L"~bwnotours.tmp", L"desktop.ini"};
constexpr const wchar_t* kSentinelKey = L"Software\\BootwardenSoak\\Sentinel";
constexpr const wchar_t* kRunOnceKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

bool IsStartupSentinel(const std::wstring& fileName) {
    for (const wchar_t* name : kStartupSentinels) {
        if (fileName == name) {
            return true;
        }
    }
    return false;
}

void AddKeyDigests(std::map<std::wstring, std::uint64_t>& digests, HKEY root, const std::wstring& path,
                   const std::wstring& label) {
    bw::TRegistry registry;
    registry.SelectRoot(root);
    if (!registry.OpenExistingKey(path)) {
        digests[label] = 0;
        return;
    }
    for (const bw::RegistryValue& value : registry.ListValues()) {
        digests[label + L"\\" + value.name] = bw::BytesDigest(value.data) ^ value.type;
    }
}

void AddFileDigests(std::map<std::wstring, std::uint64_t>& digests, const std::wstring& folder,
                    bool (*wanted)(const std::wstring&)) {
    bw::ForEachMatch(bw::JoinPath(folder, L"*"), [&](const WIN32_FIND_DATAW& found) {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !wanted(name)) {
            return;
        }
        const auto bytes = bw::ReadWholeFile(bw::JoinPath(folder, name), 64u << 20);
        digests[bw::JoinPath(folder, name)] = bytes ? bw::BytesDigest(*bytes) : 0;
    });
}

} // namespace

std::wstring Describe(const Content& content) {
    std::wstring type = content.type == 0               ? L"shortcut"
                        : content.type == REG_SZ        ? L"REG_SZ"
                        : content.type == REG_EXPAND_SZ ? L"REG_EXPAND_SZ"
                                                        : L"type " + std::to_wstring(content.type);
    std::wstring text = content.text;
    if (text.size() > 120) {
        text = text.substr(0, 100) + L"...(" + std::to_wstring(text.size()) + L" characters)";
    }
    return type + L" \"" + text + L"\"";
}

Content ShortcutContent(const std::wstring& target, const std::wstring& arguments) {
    return {0, bw::FoldedName(target) + L" | " + arguments};
}

EntryKey KeyOf(bw::Location location, const std::wstring& name) {
    return {static_cast<int>(location), IsFolder(location) ? name : bw::FoldedName(name)};
}

TWorld::TWorld(const std::wstring& programDir) : m_programDir(programDir) {
    bw::SetProgramDir(programDir);
    bw::RecomputeLocations();
    m_hasLocal32 = bw::HasSeparate32BitView();
    bw::RecomputeStartupDir();
    if (!bw::IsStartupDirKnown()) {
        throw std::runtime_error("the soak prefix has no Startup folder");
    }
    m_startupDir = bw::StartupDir();
    ::SHCreateDirectoryExW(nullptr, m_startupDir.c_str(), nullptr);
    if (!bw::IsCommonStartupDirKnown()) {
        throw std::runtime_error("the soak prefix has no Startup folder of all users");
    }
    m_commonDir = bw::CommonStartupDir();
    ::SHCreateDirectoryExW(nullptr, m_commonDir.c_str(), nullptr);
    std::wstring parent = programDir;
    parent.pop_back();
    m_sentinelDir = bw::FolderPart(parent) + L"\\sentinel";
}

std::vector<bw::Location> TWorld::Locations() const {
    std::vector<bw::Location> locations{bw::Location::Local, bw::Location::User, bw::Location::StartUp,
                                        bw::Location::Common};
    if (m_hasLocal32) {
        locations.push_back(bw::Location::Local32);
    }
    return locations;
}

void TWorld::Clear() {
    for (bw::Location location : Locations()) {
        if (IsFolder(location)) {
            continue;
        }
        const int code = EnabledCode(location);
        const bw::UniqueHkey key = CreateKey(bw::RegistryRoot(code), bw::kRunKeyPath, bw::RegistryView(code));
        bw::TRegistry registry;
        registry.SelectRoot(bw::RegistryRoot(code));
        if (registry.OpenExistingKey(bw::kRunKeyPath, bw::RegistryView(code), bw::KeyAccess::Write)) {
            for (const std::wstring& name : registry.ListValueNames()) {
                (void)registry.RemoveValue(name);
            }
        }
    }
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        std::wstring path = bw::kStartupApprovedPath;
        path.pop_back();
        (void)::RegDeleteTreeW(root, path.c_str()); // a key not there is fine
    }
    for (const std::wstring& folder : {m_startupDir, m_commonDir}) {
        bw::ForEachMatch(bw::JoinPath(folder, L"*"), [&](const WIN32_FIND_DATAW& found) {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                (void)bw::RemoveName(bw::JoinPath(folder, found.cFileName));
            }
        });
    }
}

void TWorld::WriteValue(bw::Location location, const std::wstring& name, const Content& content) {
    const int code = EnabledCode(location);
    const bw::UniqueHkey key = CreateKey(bw::RegistryRoot(code), bw::kRunKeyPath, bw::RegistryView(code));
    const std::string data = TextBytes(content.text);
    if (HoldsZero(name)) {
        using SetFn = LONG(NTAPI*)(HANDLE, const CountedName*, ULONG, ULONG, const void*, ULONG);
        const CountedName counted = Counted(name);
        if (const auto set = NtCall<SetFn>("NtSetValueKey")) {
            (void)set(key.Get(), &counted, 0, content.type, data.data(), static_cast<ULONG>(data.size()));
        }
        return;
    }
    (void)::RegSetValueExW(key.Get(), name.c_str(), 0, content.type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size()));
}

bool TWorld::RemoveValue(bw::Location location, const std::wstring& name) {
    const int code = EnabledCode(location);
    const bw::UniqueHkey key = CreateKey(bw::RegistryRoot(code), bw::kRunKeyPath, bw::RegistryView(code));
    if (HoldsZero(name)) {
        using DeleteFn = LONG(NTAPI*)(HANDLE, const CountedName*);
        const CountedName counted = Counted(name);
        const auto remove = NtCall<DeleteFn>("NtDeleteValueKey");
        return remove != nullptr && remove(key.Get(), &counted) >= 0;
    }
    return ::RegDeleteValueW(key.Get(), name.c_str()) == ERROR_SUCCESS;
}

std::optional<Content> TWorld::ReadValue(bw::Location location, const std::wstring& name) const {
    const int code = EnabledCode(location);
    bw::TRegistry registry;
    registry.SelectRoot(bw::RegistryRoot(code));
    if (!registry.OpenExistingKey(bw::kRunKeyPath, bw::RegistryView(code))) {
        return std::nullopt;
    }
    const auto value = registry.Value(name);
    return value ? std::optional<Content>(ValueContent(*value)) : std::nullopt;
}

void TWorld::WriteShortcut(bw::Location location, const std::wstring& name, const Content& content) {
    const size_t bar = content.text.find(L" | ");
    bw::TShellLink link;
    (void)link.SetPath(content.text.substr(0, bar));
    (void)link.SetArguments(content.text.substr(bar + 3));
    (void)link.Save(bw::JoinPath(FolderOf(location), name + bw::kLinkExtension));
}

bool TWorld::RemoveShortcut(bw::Location location, const std::wstring& name) {
    return ::DeleteFileW(bw::JoinPath(FolderOf(location), name + bw::kLinkExtension).c_str()) != FALSE;
}

void TWorld::SetSwitchedOffInWindows(bw::Location location, const std::wstring& name) {
    const int code = EnabledCode(location);
    const auto place = bw::ApprovalPlaceOf(code);
    if (!place) {
        return;
    }
    const bw::UniqueHkey key = CreateKey(place->root, std::wstring(bw::kStartupApprovedPath) + place->subkey, 0);
    const BYTE flag[12] = {3, 0, 0, 0, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x01};
    const std::wstring flagName = bw::ApprovalValueName(code, name);
    (void)::RegSetValueExW(key.Get(), flagName.c_str(), 0, REG_BINARY, flag, sizeof flag);
}

void TWorld::WriteSwitchedOff(bw::Location location, const std::wstring& name, const Content& content) {
    const int code = bw::DisabledCodeOf(EnabledCode(location));
    bw::TShellLink link;
    std::string bytes;
    if (IsFolder(location)) {
        const size_t bar = content.text.find(L" | ");
        (void)link.SetPath(content.text.substr(0, bar));
        (void)link.SetArguments(content.text.substr(bar + 3));
        bytes = link.SaveBytes();
    } else {
        bw::RegistryValue value;
        value.name = name;
        value.type = content.type;
        value.data = TextBytes(content.text);
        bytes = bw::RegistryStoreLinkBytes(link, value);
    }
    bw::WriteFileReplacing(bw::StoreLinkPath(code, name), bytes);
}

std::optional<Content> TWorld::EditStoreLink(const std::wstring& path, bw::Location location, const std::wstring& text,
                                             bool arguments) {
    bw::ComPtr<IShellLinkW> link;
    bw::ComPtr<IPersistFile> file;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) ||
        FAILED(link.As(&file)) || FAILED(file->Load(path.c_str(), STGM_READWRITE))) {
        return std::nullopt;
    }
    const HRESULT set =
        IsFolder(location) || arguments ? link->SetArguments(text.c_str()) : link->SetDescription(text.c_str());
    if (FAILED(set) || FAILED(file->Save(path.c_str(), TRUE))) {
        return std::nullopt;
    }
    // What the edited link now stands for, read as the program reads it, with its records as the program last saved
    // them: under the store's lock, which a running program takes while it writes them.
    const std::unique_ptr<bw::TStoreLock> lock = bw::TStoreLock::TryTake(30000);
    const auto bytes = bw::ReadWholeFile(path, bw::kLinkFileLimit);
    if (!bytes) {
        return std::nullopt;
    }
    bw::StoreLink stored;
    stored.code = EnabledCode(location);
    stored.path = path;
    stored.bytes = *bytes;
    bw::TShellLink loader;
    if (!bw::ParseStoreLink(loader, stored)) {
        return std::nullopt;
    }
    bw::StoreRecords().TakeIn(); // the program's records of its links, as it last saved them
    bw::TakeStoreRecord(stored);
    if (IsFolder(location)) {
        return ShortcutContent(stored.linkTarget, stored.arguments);
    }
    const bw::RegistryLinkReading reading = bw::ReadRegistryLink(stored);
    return Content{reading.record.type, reading.commandLine};
}

std::vector<std::pair<std::wstring, bw::Location>> TWorld::EnabledStoreLinks() const {
    std::vector<std::pair<std::wstring, bw::Location>> links;
    for (bw::Location location : Locations()) {
        const std::wstring folder = bw::StoreFolderPath(EnabledCode(location));
        bw::ForEachMatch(bw::JoinPath(folder, L"*.lnk"), [&](const WIN32_FIND_DATAW& found) {
            if (bw::HasLinkExtension(found.cFileName)) {
                links.emplace_back(bw::JoinPath(folder, found.cFileName), location);
            }
        });
    }
    return links;
}

Observation TWorld::Observe() const {
    Observation seen;
    for (bw::Location location : Locations()) {
        if (IsFolder(location)) {
            continue;
        }
        const int code = EnabledCode(location);
        bw::TRegistry registry;
        registry.SelectRoot(bw::RegistryRoot(code));
        if (!registry.OpenExistingKey(bw::kRunKeyPath, bw::RegistryView(code))) {
            continue;
        }
        for (const bw::RegistryValue& value : registry.ListValues()) {
            seen.instances.push_back({location, value.name, Place::System, ValueContent(value), L""});
        }
    }
    for (const bw::Location location : {bw::Location::StartUp, bw::Location::Common}) {
        const std::wstring& folder = FolderOf(location);
        bw::ForEachMatch(bw::JoinPath(folder, L"*.lnk"), [&](const WIN32_FIND_DATAW& found) {
            const std::wstring fileName = found.cFileName;
            if (!bw::HasLinkExtension(fileName) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                return;
            }
            const std::wstring path = bw::JoinPath(folder, fileName);
            bw::TShellLink link;
            Instance instance{location, fileName.substr(0, fileName.size() - 4), Place::System, {}, path};
            if (link.Load(path)) {
                instance.content = ShortcutContent(link.Path(), link.Arguments());
            }
            seen.instances.push_back(instance);
        });
    }

    bw::StoreRecords().TakeIn(); // the program's records of its links, as it last saved them
    bw::TStoreReader store;
    (void)store.Read(bw::AllCodes());
    std::map<int, std::map<EntryKey, int>> counts;
    for (const auto& link : store.Links()) {
        const bw::Location location = bw::LocationOf(link->code);
        Instance instance{
            location, link->name, bw::IsEnabledCode(link->code) ? Place::Mirror : Place::Switched, {}, link->path};
        if (link->readWhole) {
            if (IsFolder(location)) {
                instance.content = ShortcutContent(link->linkTarget, link->arguments);
            } else {
                const bw::RegistryLinkReading reading = bw::ReadRegistryLink(*link);
                instance.content = Content{reading.record.type, reading.commandLine};
                if (reading.record.cut) {
                    instance.content->text += L" <cut>";
                }
            }
        }
        seen.instances.push_back(instance);
        if (++counts[link->code][KeyOf(location, link->name)] == 2) {
            seen.duplicates[link->code].push_back(link->name);
        }
    }

    std::vector<std::wstring> folders{m_programDir, bw::JoinPath(m_programDir, bw::kDataFolderName), m_startupDir,
                                      m_commonDir};
    for (int code : bw::AllCodes()) {
        folders.push_back(bw::StoreFolderPath(code));
    }
    for (const std::wstring& folder : folders) {
        bw::ForEachMatch(bw::JoinPath(folder, L"*"), [&](const WIN32_FIND_DATAW& found) {
            const std::wstring name = found.cFileName;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsTemporary(name) &&
                !(folder == m_startupDir && IsStartupSentinel(name))) {
                seen.temporaryFiles.push_back(bw::JoinPath(folder, name));
            }
        });
    }
    return seen;
}

void TWorld::PlantSentinels(std::mt19937& random) {
    auto bytes = [&](size_t size) {
        std::string text(size, '\0');
        for (char& c : text) {
            c = static_cast<char>(random());
        }
        return text;
    };
    ::SHCreateDirectoryExW(nullptr, m_sentinelDir.c_str(), nullptr);
    for (int i = 0; i < 4; ++i) {
        bw::WriteFileReplacing(bw::JoinPath(m_sentinelDir, L"keep" + std::to_wstring(i) + L".dat"),
                               bytes(100 + random() % 5000));
    }
    for (const wchar_t* name : kStartupSentinels) {
        bw::WriteFileReplacing(bw::JoinPath(m_startupDir, name), bytes(50 + random() % 500));
    }
    const bw::UniqueHkey key = CreateKey(HKEY_CURRENT_USER, kSentinelKey, 0);
    for (int i = 0; i < 4; ++i) {
        const std::string data = TextBytes(L"sentinel " + std::to_wstring(random()));
        (void)::RegSetValueExW(key.Get(), (L"Value" + std::to_wstring(i)).c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    }
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const bw::UniqueHkey once = CreateKey(root, kRunOnceKey, 0);
        const std::string data = TextBytes(L"C:\\windows\\notepad.exe sentinel");
        (void)::RegSetValueExW(once.Get(), L"SoakSentinel", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                               static_cast<DWORD>(data.size()));
    }
}

std::map<std::wstring, std::uint64_t> TWorld::Sentinels() const {
    std::map<std::wstring, std::uint64_t> digests;
    AddFileDigests(digests, m_sentinelDir, [](const std::wstring&) { return true; });
    AddFileDigests(digests, m_startupDir, [](const std::wstring& name) { return IsStartupSentinel(name); });
    // The program's own files; its settings, its file of bases, its records of its links, its record of the entries
    // seen, its owner, its history and its temporary files are its to write.
    AddFileDigests(digests, m_programDir, [](const std::wstring& name) {
        const std::wstring folded = bw::FoldedName(name);
        return !IsTemporary(name) && folded != bw::FoldedName(L"Bootwarden.ini") &&
               folded != bw::FoldedName(L"StoreBase.dat") && folded != bw::FoldedName(L"SeenEntries.dat") &&
               folded != bw::FoldedName(L"StoreRecords.dat") && folded != bw::FoldedName(L"StoreOwner.dat") &&
               folded != bw::FoldedName(L"History.dat");
    });
    AddKeyDigests(digests, HKEY_CURRENT_USER, kSentinelKey, L"HKCU\\Sentinel");
    AddKeyDigests(digests, HKEY_CURRENT_USER, kRunOnceKey, L"HKCU\\RunOnce");
    AddKeyDigests(digests, HKEY_LOCAL_MACHINE, kRunOnceKey, L"HKLM\\RunOnce");
    return digests;
}

} // namespace soak
