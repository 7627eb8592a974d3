#pragma once

#include "platform/Seam.h"
#include "platform/UniqueHandle.h"

#include <windows.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>

namespace bw {

// Attributes of a path, or INVALID_FILE_ATTRIBUTES when they cannot be read (a missing path counts the same).
DWORD FileAttributes(const std::wstring& path);

// True when the path has the attribute: its attributes can be read and include `attribute`.
bool HasAttribute(const std::wstring& path, DWORD attribute);

bool DirectoryExists(const std::wstring& path);

// True when anything, file or folder, stands at the path.
bool PathExists(const std::wstring& path);

// True for an existing path that is not a directory.
bool FileExists(const std::wstring& path);

// What a directory search tells of a file: enough to see that it changed without opening it.
struct FileStamp {
    FILETIME written{};
    FILETIME created{};
    ULONGLONG size = 0;
    DWORD attributes = 0;

    bool operator==(const FileStamp& other) const;
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};
FileStamp StampOf(const WIN32_FIND_DATAW& found);
std::optional<FileStamp> StampAt(const std::wstring& path);

// The system time now, on the clock that stamps files and registry keys.
FILETIME SystemTimeNow();

// File systems and the registry stamp changes with a clock that moves in steps (NTFS and the registry about
// 15.6 ms, FAT two seconds). A stamp read within such a step of the change it records does not yet prove that
// nothing changed since: a second change in the same step would carry the very same stamp.
// The steps are given with room to spare, in 100-nanosecond units.
inline constexpr ULONGLONG kRegistryClockStep = 100ULL * 10'000ULL; // 100 ms
ULONGLONG FileClockStep(const std::wstring& path);                  // of the files at `path`

// True when `time` lies within `step` of `readAt`, or after it.
bool IsWithinClockStep(const FILETIME& time, const FILETIME& readAt, ULONGLONG step);

// True when the name at `path` (a file or a folder) is a link rather than a file or folder of its own: the file
// system names it one (a reparse point whose tag is a name surrogate: symbolic link, junction, mount point), or
// it reports no reparse point at all for the name (as Wine does for a host's symbolic link) and the name's final
// path leaves its folder, compared by the path the folder resolves to. A reparse point of another kind (a cloud
// file of a synced folder) is no link; a name whose final path cannot be asked is none; a tag that cannot be
// read, or a final path that cannot be compared, is handled as a link: never followed. False for a path that
// does not exist.
bool IsLink(const std::wstring& path);

namespace seam {
// What IsLink asks the system: a name's attributes, its reparse tag, and its final path (opened as the name
// itself, or with `follow` through a link to what it names, in the form VOLUME_NAME_DOS or VOLUME_NAME_NONE
// asks for, without "\\?\"). Tests answer as Windows does for a cloud file, a share or a junction.
extern TSeam<DWORD(const std::wstring&)> LinkAttributes;
extern TSeam<std::optional<DWORD>(const std::wstring&)> ReparseTag;
extern TSeam<std::optional<std::wstring>(const std::wstring&, bool follow, DWORD volume)> FinalPath;
// MoveFileExW: the error it gives (ERROR_SUCCESS when the rename was done). Tests answer access denied as
// Windows does for a read-only destination or one that a scanner holds.
extern TSeam<DWORD(const std::wstring& from, const std::wstring& to, DWORD flags)> RenameFile;
// Whether a new file can be made in a folder (tried with a temporary file of ours, removed at once).
extern TSeam<bool(const std::wstring& folder)> FolderAcceptsWrites;
// Whether this process may use paths longer than MAX_PATH (the manifest's longPathAware, and the system's
// LongPathsEnabled setting).
extern TSeam<bool()> LongPathsAccepted;
// GetDriveTypeW of a drive's root ("C:\\"). Tests answer DRIVE_REMOTE, as Windows does for a mapped network drive.
extern TSeam<UINT(const std::wstring& root)> DriveType;
// The attributes of a file as a directory search (ForEachMatch) reports them, given its path and what the search
// said. Tests answer FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS, as Windows does for an online-only file of a folder
// that OneDrive keeps (Wine never reports it).
extern TSeam<DWORD(const std::wstring& path, DWORD reported)> FoundAttributes;
// FindFirstFileExW of a search pattern (the basic information only), as ForEachMatch starts its search. On a share
// that went away it returns only once the network's timeout has passed (tens of seconds); tests hold it that long.
extern TSeam<HANDLE(const std::wstring& pattern, WIN32_FIND_DATAW* found)> FirstMatch;
} // namespace seam

// True when `path` lies on another machine: a UNC path ("\\server\share\...", also in its "\\?\UNC\" form), or a
// drive letter that names a network drive. The drive's type is asked aside and waited for a quarter of a second at
// most: a drive whose type does not come by then counts as a network drive.
bool IsOnNetwork(const std::wstring& path);

// IsOnNetwork for many paths: the type of each drive is asked once for the object's life (a query of the drive's
// type takes a round trip to the system's mount manager), so a drive mapped later is seen by the next object.
class TNetworkPaths {
public:
    bool Holds(const std::wstring& path);

private:
    std::map<wchar_t, bool> m_remote; // by drive letter, in upper case
};

// True when a new file can be made in `folder`.
bool CanWriteIn(const std::wstring& folder);

// The longest full path that the file functions accept here, in characters.
size_t LongestPathAccepted();

// `path` in full and with the long form of every name that has one ("C:\Users\ADMINI~1" becomes
// "C:\Users\Administrator"); the full path as given where the long form cannot be asked.
std::wstring LongPathOf(const std::wstring& path);

// True when `path` is `folder` or lies below it (compared by name, without regard to case).
bool IsInFolder(const std::wstring& path, const std::wstring& folder);

// Runs `attempt` (which gives ERROR_SUCCESS or the error of its failure) again while what it works on is held only
// briefly: scanners, indexers and the shell open new files for a few milliseconds. A sharing or lock violation is
// such a hold, and so is `alsoHeld` where it is given. Up to ten tries, 30 ms apart: a file held for longer counts
// as held, and nothing hangs on it. Returns the error of the last try.
DWORD RetryWhileBrieflyHeld(const std::function<DWORD()>& attempt, DWORD alsoHeld = ERROR_SUCCESS);

// Opens a file (CreateFileW with these arguments and `flags` beside FILE_ATTRIBUTE_NORMAL), waiting while someone
// else holds it briefly. An owner without a handle when it cannot; GetLastError then tells why.
UniqueFile OpenBriefly(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags = 0);

// Removes the file at `path`: a read-only file is made writable first, and a link is removed itself, never
// what it points at. True when nothing stands at `path` afterwards. Never throws; folders are left alone.
bool RemoveName(const std::wstring& path);

// Calls `visit` for every match of a search pattern (with every attribute admitted), in the order the
// file system returns them. The search handle is closed on every exit, also when `visit` throws.
void ForEachMatch(const std::wstring& pattern, const std::function<void(const WIN32_FIND_DATAW&)>& visit);

// True when a file's attributes, as a directory search reports them, say that its data is not on this machine: a
// cloud file that is online-only (FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS, FILE_ATTRIBUTE_RECALL_ON_OPEN) or one that
// lies in offline storage (FILE_ATTRIBUTE_OFFLINE). Opening or reading such a file has it downloaded; the search
// that reports the attributes does not.
bool IsOnlineOnly(DWORD attributes);
// The same for the file at `path`, asked through a directory search (the file is not opened). False where there is
// no such file.
bool IsOnlineOnlyFile(const std::wstring& path);

// While one lives on a thread, the link checks of IsLink and ReadWholeFile on that thread ask the system once for
// the path that each folder resolves to, and keep it: a reader of many files of one folder (an import reading a
// Startup folder) then asks for the files alone. A file's own final path is still asked each time, so a kept
// answer can only let through a file that lies, by its handle, right in the folder as it resolved earlier in the
// reader's work (a folder moved since makes its files look like links: refused). One lives as long as one read
// of a folder's files, never across a wait for the user.
class TFolderResolutions {
public:
    TFolderResolutions();
    ~TFolderResolutions();
    TFolderResolutions(const TFolderResolutions&) = delete;
    TFolderResolutions& operator=(const TFolderResolutions&) = delete;

    // Who asks: IsLink through its seam, or the check of an open file, which asks the system itself.
    enum class Asker { Seam, System };
    // The answer of `ask` for `folder` in the form `volume` asks for: kept from an earlier ask by the same asker
    // where one lives on this thread.
    template <typename Ask>
    static std::optional<std::wstring> Resolve(const std::wstring& folder, DWORD volume, Asker asker, Ask ask);

private:
    TFolderResolutions* m_outer;
    std::map<std::tuple<Asker, DWORD, std::wstring>, std::optional<std::wstring>> m_known;
};

// The whole content of a file, read through one handle that shares reading only, so that no writer can change
// it meanwhile. Nothing when the file cannot be opened or read whole, is a link, or holds more than `limit`
// bytes. Waits a moment for a file that someone holds only briefly.
std::optional<std::string> ReadWholeFile(const std::wstring& path, size_t limit);

// Puts `bytes` at `path` in one step: they go to a temporary file in the same folder, which then replaces
// whatever file (or link, as a name) stands at `path`. On any failure `path` is as it was and no temporary
// file is left. A folder at `path` is an error. Raises EFCreateError or EWriteError, naming `path`.
// `flush`: the bytes reach the disk before they take the name, so that not even a power cut can leave the name
// holding less than the old file or the new one. A file that can be made again at any time (a mirror of the
// system) may skip that, which makes it many times quicker.
void WriteFileReplacing(const std::wstring& path, const std::string& bytes, bool flush = true);

// Makes a file at `path`, where nothing stood, holding `bytes`: one create and one write, without a temporary file
// or a rename. Raises EFCreateError naming `path` (ERROR_FILE_EXISTS where a file, a folder or a link stands there;
// what stands there is never opened) or EWriteError; a file it made and could not fill is removed. Not in one step:
// a kill or a power cut during the write may leave the file with part of the bytes, so it suits only a file that
// its caller makes again when it finds it so.
void WriteNewFile(const std::wstring& path, const std::string& bytes);

// A temporary file of ours: created hidden beside `destination` (in its folder) and removed when the object
// goes, unless Commit() has renamed it over the destination. Raises EFCreateError naming `destination`.
class TReplacement {
public:
    explicit TReplacement(const std::wstring& destination);
    ~TReplacement();
    TReplacement(const TReplacement&) = delete;
    TReplacement& operator=(const TReplacement&) = delete;

    HANDLE File() const { return m_file; }
    const std::wstring& TemporaryPath() const { return m_temporary; }

    // Flushes (with `flush`) and closes the temporary file and renames it over the destination, replacing a file
    // or a link (the link itself, never what it points at). A file replaced keeps its attributes (read-only,
    // hidden, system) and its creation time; a new file is plain and visible. A destination held open a moment
    // (access denied or a sharing violation) is waited for briefly. Raises EFCreateError naming the destination
    // when the destination is a folder or cannot be replaced (held open), or, with `replace` false, when anything
    // stands there; it is then as it was.
    void Commit(bool replace = true, bool flush = true);

private:
    std::wstring m_destination;
    std::wstring m_temporary;
    HANDLE m_file = INVALID_HANDLE_VALUE;
    bool m_committed = false;
};

// True for a file name that TReplacement gives its temporary files; such a file is a leftover of a run that
// was stopped between writing and renaming it.
bool IsTemporaryFileName(const std::wstring& fileName);

// The id of the process that named a temporary file of TReplacement's, read from its name; 0 when the name is
// none of those or holds no id.
DWORD TemporaryFileWriter(const std::wstring& fileName);

// The part of a path after its last "\" or ":".
std::wstring FileNamePart(const std::wstring& path);

// The part of a path up to and including its last "\" or ":" (empty when there is none).
std::wstring FolderPart(const std::wstring& path);

// Joins a folder and a name with "\" unless the folder already ends in "\" or ":".
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// The full path of `path` (relative to the current directory, "." and ".." resolved).
std::wstring FullPath(const std::wstring& path);

// The executable's own full path.
std::wstring ModulePath();

// Compares two names as the file system does: without regard to case.
bool SameFileName(const std::wstring& first, const std::wstring& second);

// A name in the form in which the file system compares names: in upper case.
std::wstring FoldedName(const std::wstring& name);

} // namespace bw
