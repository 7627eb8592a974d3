#pragma once

#include <windows.h>

#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace bw {

// The start-up locations. Local32 is the 32-bit view of HKLM's Run key, where 32-bit installers put their entries
// on 64-bit Windows; a system without a separate view of it has no such location. Common is the Startup folder of
// all users. The policy Run keys and the RunOnce keys are listed as they are and never changed here (ReadOnlyCause).
enum class Location {
    Local = 1,
    User = 2,
    StartUp = 3,
    Local32 = 4,
    Common = 5,
    PolicyLocal = 6,
    PolicyLocal32 = 7,
    PolicyUser = 8,
    OnceLocal = 9,
    OnceLocal32 = 10,
    OnceUser = 11,
};

// Location codes name the store folders, each location's enabled folder and its disabled twin. They stand in
// stored files (the store's record of its bases, link records) and in the list's "Found in..." text, so each
// keeps its number for good; code computes with them only through LocationInfo. A place listed read-only has one
// code and no store folder.
inline constexpr int kLocalCode = 1;
inline constexpr int kUserCode = 2;
inline constexpr int kStartUpCode = 3;
inline constexpr int kLocalOffCode = 4;
inline constexpr int kUserOffCode = 5;
inline constexpr int kStartUpOffCode = 6;
inline constexpr int kLocal32Code = 7;
inline constexpr int kLocal32OffCode = 8;
inline constexpr int kCommonCode = 9;
inline constexpr int kCommonOffCode = 10;
inline constexpr int kPolicyLocalCode = 11;
inline constexpr int kPolicyLocal32Code = 12;
inline constexpr int kPolicyUserCode = 13;
inline constexpr int kOnceLocalCode = 14;
inline constexpr int kOnceLocal32Code = 15;
inline constexpr int kOnceUserCode = 16;
inline constexpr int kFirstCode = 1;
inline constexpr int kLastCode = 16;

inline constexpr const wchar_t* kRunKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const wchar_t* kShellFoldersKeyPath =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
// What the shell reads to find the known folders; "Shell Folders" is a copy that it writes for old programs, lazily.
inline constexpr const wchar_t* kUserShellFoldersKeyPath =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
inline constexpr const wchar_t* kStartupValueName = L"Startup";
inline constexpr const wchar_t* kCommonStartupValueName = L"Common Startup"; // under HKLM's "Shell Folders"
inline constexpr const wchar_t* kPolicyRunKeyPath =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run";
inline constexpr const wchar_t* kRunOnceKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr const wchar_t* kLinkExtension = L".lnk";

// Why a place is listed but never changed here.
enum class ReadOnlyCause {
    None,    // the program switches its entries off and on
    Policy,  // a policy sets its values: one removed here would come back with the policy
    RunOnce, // Windows runs each value once at the next log-on and removes it
};

// What the program knows of one location: its two codes and store folders, where Windows keeps its entries,
// and the label the list shows.
struct LocationInfo {
    Location location;
    int code;                           // its enabled folder's code
    int disabledCode;                   // its disabled twin's code; 0 for a place listed read-only
    const wchar_t* storeFolder;         // relative to ProgramDir, ending in "\"; null for a place listed read-only
    const wchar_t* disabledStoreFolder; // the same for the disabled twin
    HKEY root;                          // the registry root of its key; null for a Startup folder
    REGSAM view;                        // the view its key is opened in (0: the program's own)
    const wchar_t* label;               // begins with a blank
    const wchar_t* keyPath;             // the key that holds its entries; null for a Startup folder
    const wchar_t* word;                // its word for scripts (bwcli's --location, ids, JSON): kept for good
    bool view32;                        // a 32-bit view's key: a location only where that view is a key of its own
    ReadOnlyCause readOnly;
};

// The one table of locations, in the order the list shows them: HKLM's Run key, its 32-bit view, HKCU's, the
// user's Startup folder, the all-users Startup folder, then the places listed read-only.
extern const LocationInfo kLocations[11];

// The row of a location, and the row of a code's location (a code of no location raises EEntryRefused).
const LocationInfo& InfoOf(Location location);
const LocationInfo& InfoOfCode(int code);

inline bool IsValidCode(int code) {
    return code >= kFirstCode && code <= kLastCode;
}
// True for a location's enabled code, false for its disabled twin and for anything else.
bool IsEnabledCode(int code);
Location LocationOf(int code);
// True for a code of a registry place (a Run key, a policy or RunOnce key), false for a Startup folder's.
bool IsRegistryCode(int code);
// True for a code of a place that is listed but never changed here (a policy or RunOnce key).
bool IsReadOnlyCode(int code);
// Why a code's place is listed read-only; None for the others and for a code of no location.
ReadOnlyCause ReadOnlyCauseOf(int code);
// Raises EEntryRefused, naming the entry and why, when the code's place is listed read-only.
void RequireChangeablePlace(int code, const std::wstring& name);
// The disabled twin of an enabled code (a place listed read-only has none: EEntryRefused saying why), and the
// enabled code of a disabled one.
int DisabledCodeOf(int code);
int EnabledCodeOf(int code);

// Every code of this system that has a store folder, in the order the list shows its folder: the enabled ones,
// then the disabled ones, each HKLM's (and its 32-bit view's), HKCU's, the user's Startup folder's, the all-users
// Startup folder's. The 32-bit view's codes are there only where that view is a key of its own (see
// RecomputeLocations).
std::vector<int> AllCodes();
// Every code whose entries the list shows: the enabled ones of AllCodes, the places listed read-only, then the
// disabled ones of AllCodes.
std::vector<int> ListedCodes();
// The place of a code's folder in that order.
int ListRankOf(int code);

// Finds out afresh whether HKLM's 32-bit view is a separate key on this system (as on 64-bit Windows), which
// makes the Local32 location one of AllCodes. Asked at the start of a run (CreateStoreFolders) and at first use.
void RecomputeLocations();
bool HasSeparate32BitView();

const wchar_t* StoreFolder(int code);
const wchar_t* LocationLabel(int code);
// The label as a sentence or a table names the place, without the list's leading " - ".
std::wstring PlainLocationLabel(int code);

// The registry root of a code of a registry location; null for the Startup folders' codes.
HKEY RegistryRoot(int code);
// The key that holds a registry code's entries; null for the Startup folders' codes.
const wchar_t* KeyPathOf(int code);
// True for a code of a Startup folder (the user's or all users'), enabled or disabled.
bool IsFolderCode(int code);
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
// ("" when that is missing or empty). Raises ERegistryException for a value of a non-string type. Reads the
// all-users Startup folder afresh as well.
void RecomputeStartupDir();

// The user's and the all-users Startup folders as they are named now, those that are known, without changing what
// StartupDir and CommonStartupDir give until the next RecomputeStartupDir. Never raises.
std::vector<std::wstring> StartupDirsNamedNow();

// The all-users Startup folder (FOLDERID_CommonStartup) without a trailing backslash, as of the last import: the
// shell's answer, else the "Common Startup" value of HKLM's "Shell Folders"; "" when neither tells.
const std::wstring& CommonStartupDir();
bool IsCommonStartupDirKnown();
// True where the last RecomputeStartupDir took the user's (`common`: all users') Startup folder from the "Shell
// Folders" copy, the shell giving no answer: that copy then names the folder. (Where the shell answers, it may
// write that copy itself while it answers.)
bool StartupDirFromShellFolders(bool common);

// The Startup folder of a folder code (enabled or disabled), and whether it is known.
const std::wstring& StartupDirOf(int code);
bool IsStartupDirKnownOf(int code);

// Raises ERightsMissing naming the entry when a change of the code's Startup folder needs rights the program
// lacks: the all-users folder takes changes from administrators only, and asks the folder itself where the
// program runs without an administrator's token. Nothing for the other codes.
void RequireRightsToChangeFolder(int code, const std::wstring& name);

// True when `name` can stand as one file name inside a folder: no path separator or other character that
// Windows forbids in file names, not "." or "..", and not a device name such as CON or COM1 (which would
// name a device, not a file). The empty name (a key's default value) is allowed and gives ".lnk".
bool IsSafeEntryName(const std::wstring& name);

// The file name, without ".lnk", that keeps an entry of this name in the store: the name itself wherever it can
// stand as a file name, otherwise a reversible encoding that begins with "=" (so every store link written
// before keeps its name). A name with a zero or another control character (a Run value's name may hold one) or
// with half of a surrogate pair standing alone is always encoded, so that it never maps to another entry's
// file. Nothing when no file name can hold it (it is too long).
std::optional<std::wstring> StoredNameOf(const std::wstring& entryName);

// The entry name that a store link's file name (without ".lnk") stands for.
std::wstring EntryNameOf(const std::wstring& storedName);

// True when a file name ends in ".lnk" (in any case). A search for "*.lnk" also matches longer extensions
// through the short names of files; those are no shortcuts.
bool HasLinkExtension(const std::wstring& fileName);

// The folder beside the store folders that keeps the store's own files (its bases, records and owner, the entries
// seen, the window's settings), so that an installer that keeps folders across updates keeps them too.
inline constexpr const wchar_t* kDataFolderName = L"Data";

// Creates whichever of the store folders (and their parents "Run" and "NoRun", and the data folder) are missing,
// none of those refused. Raises EFCreateError naming the first folder that could not be created, after trying
// every one.
void CreateStoreFolders();

// A folder of the store that PrepareStore refused, and why (a sentence of Texts.h that completes "The folder ...").
struct RefusedFolder {
    std::wstring folder; // as the program names it, below ProgramDir, without a last "\"
    const wchar_t* why;
};

// Where the store can be kept, as PrepareStore found it.
struct StoreStart {
    enum Kind {
        Usable,    // the store folders are there (made where missing)
        Temporary, // ProgramDir lies under the user's temporary folder (a program opened inside its zip): no store
        ReadOnly,  // ProgramDir cannot be written: entries are listed, nothing is changed
    } kind = Usable;
    std::vector<RefusedFolder> refusedFolders; // store folders never read, written or emptied in this run
};

// Looks at ProgramDir at the start of a run, before anything is made there. Under the user's temporary folder
// nothing is made. Each store folder, its parent "Run" or "NoRun", and the data folder may be a junction or a
// directory symbolic link (an installer that keeps them across updates makes them so): each is resolved once, here,
// and the store works in the folder it leads to for the rest of the run (StoreFolderPath, StoreDataFolder). A
// folder is refused (it leaves AllCodes for the run: none of its entries are read or listed, nothing is written into
// or removed from it) when it is a link of another kind, when where it leads cannot be told, or when it leads into
// a Startup folder or the temporary folder, holds one, or meets another folder of the store. A refused data folder
// makes the store read-only. A ProgramDir that cannot be written makes the store read-only (IsStoreReadOnly);
// otherwise the missing folders are made (CreateStoreFolders, which raises as it does).
StoreStart PrepareStore();

// True after PrepareStore found a ProgramDir that cannot be written (or refused the data folder), or while the
// store is another's (see SetStoreOfAnother); SetProgramDir and PrepareStore clear both.
bool IsStoreReadOnly();

// Makes the store read-only for the rest of the run (until the next PrepareStore or SetProgramDir) for another
// reason than a folder that cannot be written: `refusal`, with "%s" for the entry's name, is what every change is
// then refused with.
void MakeStoreReadOnly(const wchar_t* refusal);

// Makes the store read-only because it belongs to another account (first) on another or the same computer
// (second), both as people read them, which every refusal names; nothing makes it this run's again.
void SetStoreOfAnother(const std::optional<std::pair<std::wstring, std::wstring>>& owner);

// Makes the owner's places read-only because this run, elevated as another account, cannot reach the HKCU of
// `owner` (as people read the name) whose entries the store keeps: HKCU's keys would be the administrator's own, and
// so would the Startup folder. "" makes them changeable again. HKLM's keys and the all-users Startup folder stay
// changeable.
void SetOwnersPlacesUnreachable(const std::wstring& owner);

// True for a code (enabled or disabled) of the owner's places (HKCU's keys, the user's Startup folder) while they
// cannot be reached (SetOwnersPlacesUnreachable): nothing of them is read from the system, their store links stay as
// the last import left them, and no change of one of their entries is made.
bool IsUnreachablePlace(int code);
// Raises EEntryRefused naming the entry and the owner when the code's place cannot be reached.
void RequireReachablePlace(int code, const std::wstring& name);

// Where this run is elevated as another account: the Startup folder of the store's owner (an empty optional
// inside: it cannot be told, and the Startup entries are not read) stands for the shell's answer, which would be
// the administrator's own; nothing outside: the shell's answer again.
void SetOwnersStartupDir(const std::optional<std::optional<std::wstring>>& folder);

// Raises EEntryRefused naming the entry while the store is read-only; a change of any entry asks this first.
void RequireChangeableStore(const std::wstring& name);

// The code's store folder, ending in "\\": ProgramDir + its name, or where a link on the way led at the start of the
// run (PrepareStore).
std::wstring StoreFolderPath(int code);

// The store's data folder, ending in "\\" (as resolved at the start of the run, where it is a link).
const std::wstring& StoreDataFolder();
// The path of one of the store's own files: in the data folder, or beside the store folders where a store made
// before the data folder was keeps it still (until the door moves it, MoveOldDataFiles).
std::wstring StoreDataFile(const wchar_t* name);

// True when a store path is no longer than the system accepts (MAX_PATH, unless long paths are enabled).
bool StorePathFits(const std::wstring& path);

// ProgramDir + store folder of the code + the stored name + ".lnk". Raises EEntryRefused for a name that no
// file name can hold, so that no path built from a name ever leaves its folder, for a store folder that is a
// link, and for a path longer than the system accepts.
std::wstring StoreLinkPath(int code, const std::wstring& name);

// StartupDir + "\" + name + ".lnk". Raises EEntryRefused for a name that is no safe file name: the path names
// a file of the user's own, which has no encoded name.
std::wstring StartupLinkPath(const std::wstring& name);
// The same in the Startup folder of a folder code (enabled or disabled).
std::wstring StartupLinkPath(int code, const std::wstring& name);

} // namespace bw
