// Puts the demo set into the Wine prefix it runs in, so that a first `tools/dev run` shows Bootwarden at
// work: Run values under HKLM (and its 32-bit view) and HKCU, two shortcuts in the user's Startup folder, one of
// them switched off in Windows' own start-up settings, one shortcut in the Startup folder of all users, one value
// that a policy starts, and one entry that is already switched off, kept as a shortcut in the store beside
// Bootwarden.exe.
//
// It writes the machine's real start-up entries, so it refuses to run anywhere but under Wine; tools/dev
// starts it only in the build's own prefix, and only once for each prefix.
#include <windows.h>
#include <knownfolders.h>
#include <wincrypt.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>

namespace {

using Microsoft::WRL::ComPtr;
using UniqueHkey = std::unique_ptr<std::remove_pointer_t<HKEY>, decltype(&::RegCloseKey)>;
using UniqueCoString = std::unique_ptr<wchar_t, decltype(&::CoTaskMemFree)>;

constexpr const wchar_t* kRunKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kPolicyRunKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run";

struct RunValue {
    const wchar_t* keyPath;
    HKEY root;
    REGSAM view; // KEY_WOW64_32KEY: the 32-bit view of HKLM, where 32-bit installers write
    const wchar_t* name;
    DWORD type;
    const wchar_t* commandLine;
};

// One of each kind a user meets: a reference that only an expandable value resolves, a quoted path with
// arguments, and a program that has since been uninstalled.
// And one that a policy starts (listed, never switched off by Bootwarden).
const RunValue kRunValues[] = {
    {kRunKeyPath, HKEY_LOCAL_MACHINE, 0, L"Performance Monitor", REG_EXPAND_SZ, L"%SystemRoot%\\system32\\taskmgr.exe"},
    {kRunKeyPath, HKEY_LOCAL_MACHINE, 0, L"Backup Agent", REG_SZ,
     L"\"C:\\Program Files\\Northwind\\Backup Agent\\nwbackup.exe\" --tray --quiet"},
    {kRunKeyPath, HKEY_CURRENT_USER, 0, L"Reading List", REG_SZ,
     L"\"C:\\Program Files\\Windows NT\\Accessories\\wordpad.exe\" "
     L"\"C:\\users\\Public\\Documents\\Reading list.rtf\""},
    {kRunKeyPath, HKEY_CURRENT_USER, 0, L"Northwind Sync", REG_SZ,
     L"\"C:\\Program Files\\Northwind\\Sync\\nwsync.exe\" /background"},
    {kRunKeyPath, HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"Update Checker", REG_SZ,
     L"\"C:\\Program Files (x86)\\Internet Explorer\\iexplore.exe\" -nohome"},
    {kPolicyRunKeyPath, HKEY_LOCAL_MACHINE, 0, L"Northwind Compliance", REG_SZ,
     L"\"C:\\Program Files\\Northwind\\Sync\\nwsync.exe\" /compliance"},
};

// An entry switched off in Windows' own start-up settings: its flag under Explorer\StartupApproved says so
// (first byte odd), and the entry stays where it is.
constexpr const wchar_t* kApprovedPath =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\StartupFolder";
constexpr const wchar_t* kSwitchedOffInWindows = L"Clock.lnk";

struct Shortcut {
    const wchar_t* name;
    const wchar_t* program;
    const wchar_t* arguments;
};

const Shortcut kStartupShortcuts[] = {
    {L"Clock", L"C:\\windows\\system32\\clock.exe", L""},
    {L"To-do list", L"C:\\windows\\notepad.exe", L"C:\\users\\Public\\Documents\\To-do.txt"},
};

// In the Startup folder of all users, where many installers put theirs.
const Shortcut kCommonShortcut = {L"Team Calendar", L"C:\\windows\\system32\\winver.exe", L""};

// A HKCU value switched off: its store link in NoRun\User, whose description is the command line that
// switching it on writes back.
const Shortcut kSwitchedOff = {L"Media Player", L"C:\\Program Files\\Windows Media Player\\wmplayer.exe",
                               L"/minimized"};
constexpr const wchar_t* kSwitchedOffFolder = L"NoRun\\User\\";

// A failed step, reported by main with the system's code.
struct SeedError {
    std::wstring what;
    long code;
};

void Check(HRESULT result, const std::wstring& what) {
    if (FAILED(result)) {
        throw SeedError{what, result};
    }
}

void CheckStatus(LSTATUS status, const std::wstring& what) {
    if (status != ERROR_SUCCESS) {
        throw SeedError{what, status};
    }
}

bool RunsUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring CommandLineOf(const Shortcut& shortcut) {
    std::wstring commandLine = L"\"" + std::wstring(shortcut.program) + L"\"";
    if (*shortcut.arguments != L'\0') {
        commandLine += L" " + std::wstring(shortcut.arguments);
    }
    return commandLine;
}

void WriteRunValue(const RunValue& value) {
    HKEY opened = nullptr;
    CheckStatus(::RegCreateKeyExW(value.root, value.keyPath, 0, nullptr, 0, KEY_SET_VALUE | value.view, nullptr,
                                  &opened, nullptr),
                L"open the key for " + std::wstring(value.name));
    const UniqueHkey key(opened, &::RegCloseKey);
    const std::wstring data = value.commandLine;
    const auto size = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    CheckStatus(
        ::RegSetValueExW(key.get(), value.name, 0, value.type, reinterpret_cast<const BYTE*>(data.c_str()), size),
        L"write the Run value " + std::wstring(value.name));
}

void SaveShortcut(const Shortcut& shortcut, const std::wstring& description, const std::wstring& path) {
    ComPtr<IShellLinkW> link;
    Check(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)),
          L"create a shell link");
    Check(link->SetPath(shortcut.program), L"set the program of " + path);
    Check(link->SetArguments(shortcut.arguments), L"set the arguments of " + path);
    Check(link->SetDescription(description.c_str()), L"set the description of " + path);
    ComPtr<IPersistFile> file;
    Check(link.As(&file), L"reach the file of a shell link");
    Check(file->Save(path.c_str(), TRUE), L"save " + path);
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR raw = nullptr;
    Check(::SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &raw), L"find a Startup folder");
    const UniqueCoString folder(raw, &::CoTaskMemFree);
    return folder.get();
}

// The demo's own program (tools/demo/DemoSync.c, built beside this seeder) goes where its Run value says; its
// version resource names Northwind Traders. (Wine's own programs carry Wine's version resources.)
constexpr const wchar_t* kSyncFolder = L"C:\\Program Files\\Northwind\\Sync";

void InstallSyncProgram() {
    wchar_t self[MAX_PATH]{};
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring source(self, length);
    source = source.substr(0, source.find_last_of(L'\\') + 1) + L"nwsync.exe";
    const int created = ::SHCreateDirectoryExW(nullptr, kSyncFolder, nullptr);
    if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS) {
        throw SeedError{L"create " + std::wstring(kSyncFolder), created};
    }
    const std::wstring target = std::wstring(kSyncFolder) + L"\\nwsync.exe";
    if (!::CopyFileW(source.c_str(), target.c_str(), FALSE)) {
        throw SeedError{L"copy " + source + L" to " + target, static_cast<long>(::GetLastError())};
    }
}

// The certificate that signed the demo's program, made by the run command for this prefix alone, trusted as a root
// of the prefix's user: the window then shows the program verified, signed by Northwind Traders.
void TrustDemoSigner(const std::wstring& certificateFile) {
    const HANDLE file =
        ::CreateFileW(certificateFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw SeedError{L"read " + certificateFile, static_cast<long>(::GetLastError())};
    }
    BYTE bytes[16384];
    DWORD read = 0;
    const BOOL readOk = ::ReadFile(file, bytes, sizeof bytes, &read, nullptr);
    ::CloseHandle(file);
    if (!readOk || read == 0) {
        throw SeedError{L"read " + certificateFile, static_cast<long>(::GetLastError())};
    }
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (store == nullptr) {
        throw SeedError{L"open the user's root certificates", static_cast<long>(::GetLastError())};
    }
    const BOOL added = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, bytes, read,
                                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const long error = static_cast<long>(::GetLastError());
    ::CertCloseStore(store, 0);
    if (!added) {
        throw SeedError{L"trust " + certificateFile, error};
    }
}

void Seed(const std::wstring& programFolder) {
    InstallSyncProgram();
    for (const RunValue& value : kRunValues) {
        WriteRunValue(value);
    }
    const std::wstring startup = KnownFolder(FOLDERID_Startup);
    for (const Shortcut& shortcut : kStartupShortcuts) {
        SaveShortcut(shortcut, CommandLineOf(shortcut), startup + L"\\" + shortcut.name + L".lnk");
    }
    SaveShortcut(kCommonShortcut, CommandLineOf(kCommonShortcut),
                 KnownFolder(FOLDERID_CommonStartup) + L"\\" + kCommonShortcut.name + L".lnk");
    SaveShortcut(kSwitchedOff, CommandLineOf(kSwitchedOff),
                 programFolder + L"\\" + kSwitchedOffFolder + kSwitchedOff.name + L".lnk");

    HKEY opened = nullptr;
    CheckStatus(
        ::RegCreateKeyExW(HKEY_CURRENT_USER, kApprovedPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr),
        L"open Windows' start-up settings");
    const UniqueHkey approved(opened, &::RegCloseKey);
    const BYTE off[12] = {0x03};
    CheckStatus(::RegSetValueExW(approved.get(), kSwitchedOffInWindows, 0, REG_BINARY, off, sizeof off),
                L"switch off " + std::wstring(kSwitchedOffInWindows) + L" in Windows' start-up settings");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && argc != 3) {
        std::fwprintf(stderr, L"usage: DemoSeed <folder of Bootwarden.exe> [<certificate of the demo's signer>]\n");
        return 2;
    }
    if (!RunsUnderWine()) {
        std::fwprintf(stderr, L"DemoSeed writes start-up entries and runs only under Wine, in a build's own prefix.\n");
        return 2;
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    int result = 0;
    try {
        Seed(argv[1]);
        if (argc == 3) {
            TrustDemoSigner(argv[2]);
        }
    } catch (const SeedError& error) {
        std::fwprintf(stderr, L"DemoSeed: could not %ls (error 0x%08lx)\n", error.what.c_str(),
                      static_cast<unsigned long>(error.code));
        result = 1;
    }
    ::CoUninitialize();
    return result;
}
