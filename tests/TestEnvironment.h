#pragma once

#include "platform/ChangeWatch.h"
#include "platform/FileCopy.h"
#include "platform/FileSystem.h"
#include "platform/KnownFolders.h"
#include "platform/Registry.h"
#include "platform/UniqueHandle.h"
#include "store/ErrorText.h"
#include "store/Locations.h"
#include "store/StoreSession.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bw {
class TShellLink;
}

namespace bw::test {

// Location codes as the tests write them: each location's enabled folder and its disabled twin.
inline constexpr int kLocal = kLocalCode;
inline constexpr int kUser = kUserCode;
inline constexpr int kStartUp = kStartUpCode;
inline constexpr int kLocalOff = kLocalOffCode;
inline constexpr int kUserOff = kUserOffCode;
inline constexpr int kStartUpOff = kStartUpOffCode;
inline constexpr int kLocal32 = kLocal32Code;
inline constexpr int kLocal32Off = kLocal32OffCode;
inline constexpr int kCommon = kCommonCode;
inline constexpr int kCommonOff = kCommonOffCode;

// A fresh folder under the temporary folder, removed with everything in it (read-only files included).
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER redirected to scratch keys for the life of the object, so that
// nothing reads or writes the start-up entries of the machine the tests run on.
class ScratchRegistry {
public:
    ScratchRegistry();
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    static HKEY Root(Location location);

    void CreateKey(HKEY root, const std::wstring& path);
    void DeleteKey(HKEY root, const std::wstring& path);
    void SetValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type, const void* data,
                  DWORD size);
    void SetText(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text,
                 DWORD type = REG_SZ);

    void CreateRunKey(Location location) { CreateKey(Root(location), kRunKeyPath); }
    void DeleteRunKey(Location location) { DeleteKey(Root(location), kRunKeyPath); }
    void SetRunValue(Location location, const std::wstring& name, const std::wstring& data, DWORD type = REG_SZ) {
        SetText(Root(location), kRunKeyPath, name, data, type);
    }
    void RemoveRunValue(Location location, const std::wstring& name);

    // The value's type and text, or nothing when it does not exist.
    struct Value {
        DWORD type;
        std::wstring text;
    };
    std::optional<Value> RunValue(Location location, const std::wstring& name) const;
    std::vector<std::wstring> RunValueNames(Location location) const;

    // A Run value made, read and removed by its counted name, as another program can with NtSetValueKey: the name
    // may hold a zero character, which the registry's C-string calls would cut short ("x<NUL>hidden" beside
    // "x"). Such a value outlives `reg delete`; a test removes what it made this way.
    void SetCountedRunValue(Location location, const std::wstring& name, const std::wstring& text);
    void RemoveCountedRunValue(Location location, const std::wstring& name);
    // Every value of the Run key by its whole name, with its text, as enumeration (which counts names) gives them.
    std::map<std::wstring, std::wstring> CountedRunValues(Location location) const;

    // Points the "Startup" value of "Shell Folders" at `folder`.
    void SetStartupFolder(const std::wstring& folder);
    // Points the "Common Startup" value of HKLM's "Shell Folders" (the all-users Startup folder) at `folder`.
    void SetCommonStartupFolder(const std::wstring& folder);

    // The key below the real HKEY_CURRENT_USER that holds both scratch roots ("Machine" and "User").
    const std::wstring& ScratchPath() const { return m_scratchPath; }

private:
    std::wstring m_scratchPath;
    // The shell's own answer names the machine's real Startup folder: while the registry is a scratch one, the
    // shell cannot tell, and the "Shell Folders" value above is what the program reads.
    TSeam<std::optional<std::wstring>()>::TScope m_shellStartup{
        seam::StartupFolder.Replace([] { return std::optional<std::wstring>(); })};
    TSeam<std::optional<std::wstring>()>::TScope m_shellCommonStartup{
        seam::CommonStartupFolder.Replace([] { return std::optional<std::wstring>(); })};
};

// Windows as a standard user (or an administrator's unelevated token) sees it, for the object's life: every open
// of a key under HKLM that asks for more than reading is answered ERROR_ACCESS_DENIED (a missing key stays
// missing), the all-users Startup folder takes no file (its rights give users reading only), and the program runs
// without an administrator's rights. With `separate32BitView`, HKLM's keys
// opened in the 32-bit view are those below "Software\WOW6432Node", as on 64-bit Windows.
class StandardUser {
public:
    explicit StandardUser(bool separate32BitView = false);

private:
    TSeam<LONG(HKEY, const std::wstring&, REGSAM, HKEY*)>::TScope m_registry;
    TSeam<bool()>::TScope m_elevated;
    TSeam<bool(const std::wstring&)>::TScope m_commonFolder;
};

// A complete scratch world: ProgramDir with its store folders, a Startup folder, an all-users Startup folder, and
// both Run keys and the "Shell Folders" keys in a scratch registry.
class StoreTest : public ::testing::Test {
protected:
    StoreTest();

    std::wstring StorePath(int code, const std::wstring& name) const { return StoreLinkPath(code, name); }
    std::wstring StartupPath(const std::wstring& fileName) const { return m_startup + L"\\" + fileName; }
    std::wstring CommonPath(const std::wstring& fileName) const { return m_common + L"\\" + fileName; }

    // File names in a store folder (only names ending in ".lnk" unless `all`).
    std::vector<std::wstring> StoreNames(int code, bool all = false) const;
    std::vector<std::wstring> FolderNames(const std::wstring& folder) const;

    TempFolder m_root;
    ScratchRegistry m_registry;
    // The test folders lie under the real temporary folder; the program is told that the user's is elsewhere.
    TSeam<std::wstring()>::TScope m_temporary{seam::TempFolder.Replace([this] { return m_root / L"Temp"; })};
    std::wstring m_programDir;
    std::wstring m_startup;
    std::wstring m_common; // the all-users Startup folder
};

// StoreTest with a store session on it, as the window and the console program hold one.
class SessionTest : public StoreTest {
protected:
    // Refreshes, and returns the entries as "code name".
    std::vector<std::wstring> Listed();
    // The entry of the last refresh with that code and name (a failure when there is none).
    const Entry& Row(int code, const std::wstring& name) const;

    TStoreSession m_session;
};

// Reads the system and the store afresh and runs one whole import with no base from an earlier one, as the first
// refresh of a store that has never been imported does (nothing is written back, no base is kept).
void ImportSystemEntries();

// Keeps every call a copy makes on its progress control, in order, and the last maximum set.
class RecordingProgress : public ProgressControl {
public:
    void SetMax(int value) override {
        max = value;
        calls.push_back("max " + std::to_string(value));
    }
    void SetMin(int value) override { calls.push_back("min " + std::to_string(value)); }
    void SetPosition(int value) override { calls.push_back("pos " + std::to_string(value)); }
    std::vector<std::string> calls;
    int max = -1;
};

// The names a folder holds, without "." and "..".
std::vector<std::wstring> NamesIn(const std::wstring& folder);

// The bytes of a flag of Windows' own start-up switch: "(no key)" when its key is missing, "(none)" when the
// value is.
std::string ApprovalFlagAt(HKEY root, const wchar_t* subkey, const std::wstring& name);

// Writes a shortcut with the given target and description through the shell's link object.
void WriteShortcut(const std::wstring& path, const std::wstring& target, const std::wstring& description = {});

struct LinkContent {
    std::wstring path;
    std::wstring description;
};
LinkContent ReadShortcut(const std::wstring& path);

// For as long as the returned scope lives, no folder can be watched, as on a share whose server gives no
// notifications: FindFirstChangeNotificationW fails with ERROR_NOT_SUPPORTED.
inline auto FoldersWithoutNotifications() {
    return seam::WatchFolder.Replace([](const std::wstring&, DWORD) {
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    });
}

// The message of the error of kind E that `action` raises, or a text that no expectation matches.
template <typename E, typename Action> std::wstring MessageOf(Action action) {
    try {
        action();
    } catch (const E& error) {
        return ErrorText(error);
    }
    return L"(no error)";
}

// Edits a shortcut as the shell's property sheet does: loads it into the shell's link object, lets `edit` change
// its fields, and saves it through that object. Microsoft documents nothing about keeping a data block it does
// not know; Wine's drops them, and nothing here puts one back.
void EditShortcut(const std::wstring& path, const std::function<void(TShellLink&)>& edit);

void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);

// Makes `link` a symbolic link to the file `target`. Wine's own call creates nothing, so there the link is made
// by the host's `ln`. False when this system lets the test make no link at all.
bool MakeFileSymlink(const std::wstring& link, const std::wstring& target);

// Makes `link` lead to the folder `target`, as an installer's junction does: a directory symbolic link on Windows,
// a host's symbolic link under Wine (which reports it as a reparse point without a tag, and follows it in every
// path query). With `replace`, an existing link of that name is made to lead there instead. False when this system
// lets the test make no link at all.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target, bool replace = false);

// Copies the file `from` in `folder` to `to`, a name that differs from it only in case, through the host's file
// system, which tells such names apart (Wine on Linux): afterwards the folder holds both. False where the names
// cannot stand side by side.
bool CopyUnderOtherCase(const std::wstring& folder, const std::wstring& from, const std::wstring& to);

// Creates a file whose name Windows reads as a device (COM1.lnk): only a "\\?\" path reaches such a name.
void WriteDeviceNamedFile(const std::wstring& folder, const std::wstring& name, const std::string& bytes);

// Sets a file's last-write time (in 100-nanosecond units since 1601).
void SetLastWriteTime(const std::wstring& path, ULONGLONG time);

// A file opened so that others may read it but neither write nor delete nor rename it, for its lifetime.
UniqueFile HoldFile(const std::wstring& path, DWORD share = FILE_SHARE_READ);

} // namespace bw::test
