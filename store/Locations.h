#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace bw {

// The start-up locations, in their fixed order. Local32 is the 32-bit view of HKLM's Run key, where 32-bit
// installers put their entries on 64-bit Windows; a system without a separate view of it has no such location.
enum class Location { Local = 1, User = 2, StartUp = 3, Local32 = 4 };

// Location codes name the store folders: 1 to 3 the enabled folders of Local, User and StartUp, 4 to 6 the
// disabled folders of the same locations; 7 and 8 the enabled and the disabled folder of Local32.
inline constexpr int kFirstCode = 1;
inline constexpr int kLastCode = 8;
inline constexpr int kLocal32Code = 7;
inline constexpr int kLocal32OffCode = 8;

inline constexpr const wchar_t* kRunKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const wchar_t* kShellFoldersKeyPath =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline constexpr const wchar_t* kStartupValueName = L"Startup";
inline constexpr const wchar_t* kLinkExtension = L".lnk";

// The constant table of store folders, location labels and registry roots.
struct LocationTable {
    // Indexed by location code 1 to 8 (index 0 unused); relative to ProgramDir, ending in "\".
    static const wchar_t* const StoreFolders[kLastCode + 1];
    // Indexed by location 1 to 4 (index 0 unused); each begins with a blank.
    static const wchar_t* const Labels[5];
    // The registry root of a registry location (Local, User, Local32); null for StartUp.
    static HKEY Root(Location location);
    // The view of the registry that a registry location's Run key is opened in.
    static REGSAM View(Location location);
};

inline bool IsValidCode(int code) {
    return code >= kFirstCode && code <= kLastCode;
}
inline bool IsEnabledCode(int code) {
    return (code >= kFirstCode && code <= 3) || code == kLocal32Code;
}
inline Location LocationOf(int code) {
    return code >= kLocal32Code ? Location::Local32 : static_cast<Location>((code - 1) % 3 + 1);
}
inline bool IsRegistryCode(int code) {
    return IsValidCode(code) && LocationOf(code) != Location::StartUp;
}
inline int DisabledCodeOf(int code) {
    return code == kLocal32Code ? kLocal32OffCode : code + 3;
}
inline int EnabledCodeOf(int code) {
    return code == kLocal32OffCode ? kLocal32Code : code - 3;
}

// Every code of this system, in the order the list shows its folder: the enabled ones, then the disabled
// ones, each HKLM's (and its 32-bit view's), HKCU's, the Startup folder's. The 32-bit view's codes are there only
// where that view is a key of its own (see RecomputeLocations).
std::vector<int> AllCodes();
// The place of a code's folder in that order.
int ListRankOf(int code);

// Finds out afresh whether HKLM's 32-bit view is a separate key on this system (as on 64-bit Windows), which
// makes the Local32 location one of AllCodes. Asked at the start of a run (CreateStoreFolders) and at first use.
void RecomputeLocations();
bool HasSeparate32BitView();

const wchar_t* StoreFolder(int code);
const wchar_t* LocationLabel(int code);

// The registry root of a code of a registry location; null for StartUp codes.
HKEY RegistryRoot(int code);
// The view of the registry that the code's Run key is opened in (0: the program's own).
REGSAM RegistryView(int code);

// The list's location text: the code's digit followed by its label ("2 - Registry (HKCU)").
std::wstring LocationText(int code);

// The executable's folder, with a trailing backslash; set once at start (tests point it elsewhere).
const std::wstring& ProgramDir();
void SetProgramDir(const std::wstring& folder);
std::wstring ProgramDirOf(const std::wstring& executablePath);

// The current user's Startup folder without a trailing backslash, as of the last import.
const std::wstring& StartupDir();

// False when the last import found no Startup folder to use: the "Shell Folders" key could not be opened
// (StartupDir is then "c:") or its "Startup" value is missing or empty (StartupDir is ""). Nothing is then
// read from or written into a folder that merely stands in for it.
bool IsStartupDirKnown();

// Reads StartupDir afresh: "c:" when the "Shell Folders" key cannot be opened, else its "Startup" value
// ("" when that is missing or empty). Raises ERegistryException for a value of a non-string type.
void RecomputeStartupDir();

// True when `name` can stand as one file name inside a folder: no path separator or other character that
// Windows forbids in file names, not "." or "..", and not a device name such as CON or COM1 (which would
// name a device, not a file). The empty name (a key's default value) is allowed and gives ".lnk".
bool IsSafeEntryName(const std::wstring& name);

// The file name, without ".lnk", that keeps an entry of this name in the store: the name itself wherever it can
// stand as a file name, otherwise a reversible encoding that begins with "=" (so every store link written
// before keeps its name). Nothing when no file name can hold it (it is too long).
std::optional<std::wstring> StoredNameOf(const std::wstring& entryName);

// The entry name that a store link's file name (without ".lnk") stands for.
std::wstring EntryNameOf(const std::wstring& storedName);

// True when a file name ends in ".lnk" (in any case). A search for "*.lnk" also matches longer extensions
// through the short names of files; those are no shortcuts.
bool HasLinkExtension(const std::wstring& fileName);

// Creates whichever of the store folders (and their parents "Run" and "NoRun") are missing, none inside a folder
// that is a link. Raises EFCreateError naming the first folder that could not be created, after trying every one.
void CreateStoreFolders();

// Where the store can be kept, as PrepareStore found it.
struct StoreStart {
    enum Kind {
        Usable,    // the store folders are there (made where missing)
        Temporary, // ProgramDir lies under the user's temporary folder (a program opened inside its zip): no store
        ReadOnly,  // ProgramDir cannot be written: entries are listed, nothing is changed
    } kind = Usable;
    std::vector<std::wstring> linkedFolders; // store folders that are links: never read, written or emptied
};

// Looks at ProgramDir at the start of a run, before anything is made there. Under the user's temporary folder
// nothing is made. A store folder (or its parent "Run" or "NoRun") that is a link or junction leaves AllCodes for
// the run: none of its entries are read or listed, nothing is written into or removed from it. A ProgramDir that
// cannot be written makes the store read-only (IsStoreReadOnly); otherwise the missing store folders are made
// (CreateStoreFolders, which raises as it does).
StoreStart PrepareStore();

// True after PrepareStore found a ProgramDir that cannot be written; SetProgramDir clears it.
bool IsStoreReadOnly();

// Raises EEntryRefused naming the entry while the store is read-only; a change of any entry asks this first.
void RequireChangeableStore(const std::wstring& name);

// ProgramDir + the code's store folder.
std::wstring StoreFolderPath(int code);

// True when a store path is no longer than the system accepts (MAX_PATH, unless long paths are enabled).
bool StorePathFits(const std::wstring& path);

// ProgramDir + store folder of the code + the stored name + ".lnk". Raises EEntryRefused for a name that no
// file name can hold, so that no path built from a name ever leaves its folder, for a store folder that is a
// link, and for a path longer than the system accepts.
std::wstring StoreLinkPath(int code, const std::wstring& name);

// StartupDir + "\" + name + ".lnk". Raises EEntryRefused for a name that is no safe file name: the path names
// a file of the user's own, which has no encoded name.
std::wstring StartupLinkPath(const std::wstring& name);

} // namespace bw
