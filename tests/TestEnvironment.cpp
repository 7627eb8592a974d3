#include "TestEnvironment.h"

#include "store/CommandLine.h"
#include "store/StartupApproved.h"

#include "platform/FileSystem.h"
#include "platform/ShellLink.h"
#include "platform/Token.h"
#include "platform/UniqueHandle.h"

#include <atomic>
#include <functional>
#include <stdexcept>

namespace bw::test {

namespace {

void RemoveTree(const std::wstring& folder) {
    ForEachMatch(folder + L"\\*", [&](const WIN32_FIND_DATAW& found) {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            return;
        }
        const std::wstring path = folder + L"\\" + name;
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            RemoveTree(path);
        } else if (!::DeleteFileW(path.c_str())) {
            ::RemoveDirectoryW(path.c_str()); // a link to a folder goes as a folder does, never what it leads to
        }
    });
    ::RemoveDirectoryW(folder.c_str());
}

std::atomic<int> g_counter{0};

std::wstring UniqueSuffix() {
    return std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount64()) + L"-" +
           std::to_wstring(++g_counter);
}

void Check(LONG status, const char* what) {
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error(std::string(what) + " failed with " + std::to_string(status));
    }
}

} // namespace

TempFolder::TempFolder() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    std::wstring base(temp, length);
    if (!base.empty() && base.back() == L'\\') {
        base.pop_back();
    }
    m_path = base + L"\\bw-test-" + UniqueSuffix();
    if (!::CreateDirectoryW(m_path.c_str(), nullptr)) {
        throw std::runtime_error("cannot create a temporary folder");
    }
}

TempFolder::~TempFolder() {
    RemoveTree(m_path);
}

ScratchRegistry::ScratchRegistry() {
    m_scratchPath = L"Software\\BootwardenTests\\" + UniqueSuffix();
    UniqueHkey machine;
    UniqueHkey user;
    // Both scratch roots live below the real HKEY_CURRENT_USER (the test prefix's, never the user's own
    // machine root); they must be made before that root is redirected.
    Check(::RegCreateKeyExW(HKEY_CURRENT_USER, (m_scratchPath + L"\\Machine").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, machine.Put(), nullptr),
          "RegCreateKeyEx");
    Check(::RegCreateKeyExW(HKEY_CURRENT_USER, (m_scratchPath + L"\\User").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, user.Put(), nullptr),
          "RegCreateKeyEx");
    Check(::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine.Get()), "RegOverridePredefKey");
    Check(::RegOverridePredefKey(HKEY_CURRENT_USER, user.Get()), "RegOverridePredefKey");
}

ScratchRegistry::~ScratchRegistry() {
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, m_scratchPath.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, m_scratchPath.c_str());
}

HKEY ScratchRegistry::Root(Location location) {
    return InfoOf(location).root;
}

void ScratchRegistry::CreateKey(HKEY root, const std::wstring& path) {
    UniqueHkey key;
    Check(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr),
          "RegCreateKeyEx");
}

void ScratchRegistry::DeleteKey(HKEY root, const std::wstring& path) {
    ::RegDeleteTreeW(root, path.c_str());
    ::RegDeleteKeyW(root, path.c_str());
}

void ScratchRegistry::SetValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                               const void* data, DWORD size) {
    UniqueHkey key;
    Check(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr),
          "RegCreateKeyEx");
    Check(::RegSetValueExW(key.Get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size), "RegSetValueEx");
}

void ScratchRegistry::SetText(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text,
                              DWORD type) {
    SetValue(root, path, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void ScratchRegistry::RemoveRunValue(Location location, const std::wstring& name) {
    UniqueHkey key;
    if (::RegOpenKeyExW(Root(location), kRunKeyPath, 0, KEY_ALL_ACCESS, key.Put()) == ERROR_SUCCESS) {
        ::RegDeleteValueW(key.Get(), name.c_str());
    }
}

std::optional<ScratchRegistry::Value> ScratchRegistry::RunValue(Location location, const std::wstring& name) const {
    UniqueHkey key;
    if (::RegOpenKeyExW(Root(location), kRunKeyPath, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    const LSTATUS read =
        ::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    if (read == ERROR_FILE_NOT_FOUND) {
        return std::nullopt; // deleted between the two queries (a watcher at work beside the test)
    }
    Check(read, "RegQueryValueEx");
    data.resize(size / sizeof(wchar_t));
    while (!data.empty() && data.back() == L'\0') {
        data.pop_back();
    }
    return Value{type, data};
}

std::vector<std::wstring> ScratchRegistry::RunValueNames(Location location) const {
    std::vector<std::wstring> names;
    UniqueHkey key;
    if (::RegOpenKeyExW(Root(location), kRunKeyPath, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[16384];
    for (DWORD index = 0;; ++index) {
        DWORD length = 16384;
        if (::RegEnumValueW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    return names;
}

namespace {

struct CountedName {
    USHORT length;
    USHORT maximumLength;
    const wchar_t* buffer;
};

template <typename Fn> Fn NtCall(const char* name) {
    const auto call =
        reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
    if (call == nullptr) {
        throw std::runtime_error(std::string("ntdll has no ") + name);
    }
    return call;
}

CountedName Counted(const std::wstring& name) {
    const auto bytes = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    return {bytes, bytes, name.data()};
}

} // namespace

void ScratchRegistry::SetCountedRunValue(Location location, const std::wstring& name, const std::wstring& text) {
    using SetFn = LONG(NTAPI*)(HANDLE, const CountedName*, ULONG, ULONG, const void*, ULONG);
    UniqueHkey key;
    Check(::RegOpenKeyExW(Root(location), kRunKeyPath, 0, KEY_ALL_ACCESS, key.Put()), "RegOpenKeyEx");
    const CountedName counted = Counted(name);
    const LONG status = NtCall<SetFn>("NtSetValueKey")(key.Get(), &counted, 0, REG_SZ, text.c_str(),
                                                       static_cast<ULONG>((text.size() + 1) * sizeof(wchar_t)));
    if (status < 0) {
        throw std::runtime_error("NtSetValueKey failed");
    }
}

void ScratchRegistry::RemoveCountedRunValue(Location location, const std::wstring& name) {
    using DeleteFn = LONG(NTAPI*)(HANDLE, const CountedName*);
    UniqueHkey key;
    if (::RegOpenKeyExW(Root(location), kRunKeyPath, 0, KEY_ALL_ACCESS, key.Put()) == ERROR_SUCCESS) {
        const CountedName counted = Counted(name);
        (void)NtCall<DeleteFn>("NtDeleteValueKey")(key.Get(), &counted); // a value already gone is fine
    }
}

std::map<std::wstring, std::wstring> ScratchRegistry::CountedRunValues(Location location) const {
    std::map<std::wstring, std::wstring> values;
    UniqueHkey key;
    if (::RegOpenKeyExW(Root(location), kRunKeyPath, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
        return values;
    }
    std::vector<wchar_t> name(16384);
    std::vector<wchar_t> data(32768);
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        if (::RegEnumValueW(key.Get(), index, name.data(), &length, nullptr, nullptr,
                            reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
            break;
        }
        std::wstring text(data.data(), size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0') {
            text.pop_back();
        }
        values[std::wstring(name.data(), length)] = text;
    }
    return values;
}

void ScratchRegistry::SetStartupFolder(const std::wstring& folder) {
    SetText(HKEY_CURRENT_USER, kShellFoldersKeyPath, kStartupValueName, folder);
}

void ScratchRegistry::SetCommonStartupFolder(const std::wstring& folder) {
    SetText(HKEY_LOCAL_MACHINE, kShellFoldersKeyPath, kCommonStartupValueName, folder);
}

StandardUser::StandardUser(bool separate32BitView)
    : m_registry(seam::OpenRegistryKey.Replace(
          [separate32BitView](HKEY root, const std::wstring& path, REGSAM access, HKEY* key) {
              std::wstring target = path;
              constexpr size_t kSoftware = 9; // "Software\"
              if (separate32BitView && root == HKEY_LOCAL_MACHINE && (access & KEY_WOW64_32KEY) &&
                  path.size() > kSoftware && SameFileName(path.substr(0, kSoftware), L"Software\\")) {
                  target = L"Software\\WOW6432Node\\" + path.substr(kSoftware);
              }
              const REGSAM beyondReading = access & ~(KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY);
              if (root == HKEY_LOCAL_MACHINE && beyondReading != 0) {
                  // A missing key is missing for everyone; one that is there refuses the change.
                  UniqueHkey probe;
                  const LONG status = seam::OpenRegistryKey.Real(root, target, access & ~beyondReading, probe.Put());
                  return status == ERROR_SUCCESS ? static_cast<LONG>(ERROR_ACCESS_DENIED) : status;
              }
              return seam::OpenRegistryKey.Real(root, target, access, key);
          })),
      m_elevated(seam::Elevated.Replace([] { return false; })),
      m_commonFolder(seam::FolderAcceptsWrites.Replace([](const std::wstring& folder) {
          return !SameFileName(folder, CommonStartupDir()) && seam::FolderAcceptsWrites.Real(folder);
      })) {}

StoreTest::StoreTest() {
    m_programDir = m_root / L"Program\\";
    ::CreateDirectoryW((m_root / L"Program").c_str(), nullptr);
    ::CreateDirectoryW((m_programDir + L"Run").c_str(), nullptr);
    ::CreateDirectoryW((m_programDir + L"NoRun").c_str(), nullptr);
    ::CreateDirectoryW((m_programDir + kDataFolderName).c_str(), nullptr);
    SetProgramDir(m_programDir);
    RecomputeLocations(); // the scratch registry's HKLM has no separate 32-bit view
    for (int code : AllCodes()) {
        ::CreateDirectoryW(StoreFolderPath(code).c_str(), nullptr);
    }
    m_startup = m_root / L"Startup";
    ::CreateDirectoryW(m_startup.c_str(), nullptr);
    m_registry.CreateRunKey(Location::Local);
    m_registry.CreateRunKey(Location::User);
    m_registry.SetStartupFolder(m_startup);
    m_common = m_root / L"Common Startup";
    ::CreateDirectoryW(m_common.c_str(), nullptr);
    m_registry.SetCommonStartupFolder(m_common);
}

std::vector<std::wstring> StoreTest::FolderNames(const std::wstring& folder) const {
    return NamesIn(folder);
}

std::vector<std::wstring> StoreTest::StoreNames(int code, bool all) const {
    std::vector<std::wstring> names;
    for (const auto& name : FolderNames(StoreFolderPath(code))) {
        if (all || (name.size() >= 4 && name.compare(name.size() - 4, 4, L".lnk") == 0)) {
            names.push_back(name);
        }
    }
    return names;
}

std::vector<std::wstring> NamesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    ForEachMatch(folder + L"\\*", [&](const WIN32_FIND_DATAW& found) {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    });
    return names;
}

std::string ApprovalFlagAt(HKEY root, const wchar_t* subkey, const std::wstring& name) {
    TRegistry registry;
    registry.SelectRoot(root);
    if (!registry.OpenExistingKey(std::wstring(kStartupApprovedPath) + subkey)) {
        return "(no key)";
    }
    const auto value = registry.Value(name);
    return value ? value->data : "(none)";
}

void ImportSystemEntries() {
    TSystemReader system;
    (void)system.Read();
    TStoreReader store;
    (void)store.Read(AllCodes());
    TMirror mirror;
    TImportJob job(system.Last(), store, mirror);
    (void)job.Step(0);
}

void WriteShortcut(const std::wstring& path, const std::wstring& target, const std::wstring& description) {
    TShellLink link;
    link.SetPath(target);
    link.SetDescription(description);
    if (!link.Save(path)) {
        throw std::runtime_error("cannot write a shortcut");
    }
}

LinkContent ReadShortcut(const std::wstring& path) {
    TShellLink link;
    if (!link.Load(path)) {
        throw std::runtime_error("cannot read a shortcut");
    }
    return {link.Path(), link.Description()};
}

void EditShortcut(const std::wstring& path, const std::function<void(TShellLink&)>& edit) {
    const std::string bytes = ReadFileBytes(path);
    TShellLink link;
    ASSERT_TRUE(link.LoadBytes(bytes));
    edit(link);
    // Saved as the shell's link object saves it: a data block it does not know may be gone (Wine's drops it), and
    // nothing puts it back.
    WriteFileBytes(path, link.SaveBytes());
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        throw std::runtime_error("cannot create a file");
    }
    DWORD written = 0;
    if (!bytes.empty() && !::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        throw std::runtime_error("cannot write a file");
    }
}

std::string ReadFileBytes(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        throw std::runtime_error("cannot open a file");
    }
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    return bytes;
}

namespace {

// The host's path of a Wine path; "" outside Wine.
std::wstring HostPath(const std::wstring& path) {
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr) {
        return {};
    }
    char* name = unixName(path.c_str());
    std::string text = name != nullptr ? name : "";
    ::HeapFree(::GetProcessHeap(), 0, name);
    return std::wstring(text.begin(), text.end()); // the test folders are plain ASCII
}

// Runs a host program under Wine and waits until `done` says that it did its work (false when it never does).
bool RunOnHost(std::wstring command, const std::function<bool()>& done) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    UniqueFile processHandle(process.hProcess);
    UniqueFile threadHandle(process.hThread);
    // The handle of a host program may be signalled before the program has run: wait for the file itself.
    ::WaitForSingleObject(process.hProcess, 10000);
    for (int i = 0; i < 200 && !done(); ++i) {
        ::Sleep(10);
    }
    return done();
}

} // namespace

bool MakeFileSymlink(const std::wstring& link, const std::wstring& target) {
    if (::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        PathExists(link)) {
        return true;
    }
    const std::wstring hostTarget = HostPath(target);
    const std::wstring hostLink = HostPath(link);
    return !hostLink.empty() &&
           RunOnHost(L"/bin/ln -s \"" + hostTarget + L"\" \"" + hostLink + L"\"", [&] { return PathExists(link); });
}

bool MakeFolderLink(const std::wstring& link, const std::wstring& target, bool replace) {
    if (replace) {
        (void)::RemoveDirectoryW(link.c_str()); // a link to a folder goes as a folder does on Windows
    }
    if (!PathExists(link) &&
        ::CreateSymbolicLinkW(link.c_str(), target.c_str(),
                              SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        DirectoryExists(link)) {
        return true;
    }
    const std::wstring hostTarget = HostPath(target);
    const std::wstring hostLink = HostPath(link);
    // Done once the name leads to the target: an earlier link of that name led elsewhere.
    const auto leadsThere = [&] {
        const auto reached = seam::FinalPath.Real(link, true, VOLUME_NAME_DOS);
        const auto wanted = seam::FinalPath.Real(target, true, VOLUME_NAME_DOS);
        return reached && wanted && SameFileName(*reached, *wanted);
    };
    return !hostLink.empty() && RunOnHost(L"/bin/ln -sfn \"" + hostTarget + L"\" \"" + hostLink + L"\"", leadsThere);
}

bool CopyUnderOtherCase(const std::wstring& folder, const std::wstring& from, const std::wstring& to) {
    const std::wstring hostFolder = HostPath(folder);
    if (hostFolder.empty()) {
        return false;
    }
    // Wine finds either name under the other, so the copy is told by the folder's listing, which spells both.
    const auto listed = [&] {
        bool found = false;
        ForEachMatch(folder + L"\\*", [&](const WIN32_FIND_DATAW& file) { found = found || to == file.cFileName; });
        return found;
    };
    return RunOnHost(L"/bin/cp \"" + hostFolder + L"/" + from + L"\" \"" + hostFolder + L"/" + to + L"\"", listed);
}

std::vector<std::wstring> SessionTest::Listed() {
    m_session.Refresh(true, nullptr);
    std::vector<std::wstring> rows;
    for (const Entry& entry : m_session.Entries()) {
        rows.push_back(std::to_wstring(entry.code) + L" " + entry.name);
    }
    return rows;
}

const Entry& SessionTest::Row(int code, const std::wstring& name) const {
    for (const Entry& entry : m_session.Entries()) {
        if (entry.code == code && entry.name == name) {
            return entry;
        }
    }
    static const Entry none;
    ADD_FAILURE() << "no entry " << code;
    return none;
}

void WriteDeviceNamedFile(const std::wstring& folder, const std::wstring& name, const std::string& bytes) {
    WriteFileBytes(L"\\\\?\\" + FullPath(folder) + L"\\" + name, bytes);
}

void SetLastWriteTime(const std::wstring& path, ULONGLONG time) {
    UniqueFile file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    const FILETIME value{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    ASSERT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, &value));
}

UniqueFile HoldFile(const std::wstring& path, DWORD share) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        throw std::runtime_error("cannot hold a file open");
    }
    return file;
}

} // namespace bw::test
