#include "platform/FileSystem.h"

#include "platform/Errors.h"
#include "platform/UniqueHandle.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace bw {

namespace {

constexpr int kBriefTries = 10;
constexpr DWORD kBriefPause = 30; // milliseconds

constexpr ULONGLONG kFatClockStep = 2ULL * 10'000'000ULL; // two seconds, in 100-nanosecond units
constexpr ULONGLONG kTickClockStep = 100ULL * 10'000ULL;  // 100 ms: the system clock's tick, with room to spare

ULONGLONG Ticks(const FILETIME& time) {
    return (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// The path that an open handle really names, in the form `volume` asks for, without the "\\?\" that the
// system puts before it ("\\?\UNC\server\share" becomes "\\server\share"); nothing when it cannot be asked.
std::optional<std::wstring> FinalPathOf(HANDLE handle, DWORD volume) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                         FILE_NAME_NORMALIZED | volume);
        if (length == 0) {
            return std::nullopt;
        }
        if (length < buffer.size()) {
            std::wstring path(buffer.data(), length);
            if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
                path = L"\\\\" + path.substr(8);
            } else if (path.compare(0, 4, L"\\\\?\\") == 0) {
                path = path.substr(4);
            }
            return path;
        }
        buffer.resize(length + 1);
    }
}

// Opens a name for its attributes only; with `follow`, a link or junction is followed to what it names, else the
// name itself is opened.
UniqueFile OpenForAttributes(const std::wstring& path, bool follow = false) {
    return UniqueFile(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
}

std::optional<DWORD> RealReparseTag(const std::wstring& path) {
    const UniqueFile file = OpenForAttributes(path);
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (file && ::GetFileInformationByHandleEx(file.Get(), FileAttributeTagInfo, &info, sizeof info)) {
        return info.ReparseTag;
    }
    // A name that cannot be opened may still be listed: the search gives the tag too.
    WIN32_FIND_DATAW found{};
    const UniqueFind search(::FindFirstFileW(path.c_str(), &found));
    if (search && (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return found.dwReserved0;
    }
    return std::nullopt;
}

std::optional<std::wstring> RealFinalPath(const std::wstring& path, bool follow, DWORD volume) {
    const UniqueFile file = OpenForAttributes(path, follow);
    if (!file) {
        return std::nullopt;
    }
    return FinalPathOf(file.Get(), volume);
}

std::wstring TrimmedFolder(std::wstring folder) {
    while (folder.size() > 3 && folder.back() == L'\\') {
        folder.pop_back();
    }
    return folder;
}

std::atomic<unsigned> g_temporaryCounter{0};

constexpr const wchar_t* kTemporaryPrefix = L"~bw";
constexpr const wchar_t* kTemporaryExtension = L".tmp";

std::wstring Hex(unsigned long long value) {
    wchar_t text[24];
    swprintf(text, 24, L"%llx", value);
    return text;
}

} // namespace

namespace seam {
TSeam<DWORD(const std::wstring&)> LinkAttributes([](const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str());
});
TSeam<std::optional<DWORD>(const std::wstring&)> ReparseTag(&RealReparseTag);
TSeam<std::optional<std::wstring>(const std::wstring&, bool, DWORD)> FinalPath(&RealFinalPath);
} // namespace seam

namespace {

bool RealFolderAcceptsWrites(const std::wstring& folder) {
    // Named as TReplacement names its files, so that a probe left by a run that was stopped is removed as theirs.
    const std::wstring probe = JoinPath(folder, kTemporaryPrefix + Hex(::GetCurrentProcessId()) + L"-" +
                                                    Hex(++g_temporaryCounter) + L"-probe" + kTemporaryExtension);
    const UniqueFile file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return static_cast<bool>(file) || ::GetLastError() == ERROR_FILE_EXISTS;
}

bool RealLongPathsAccepted() {
    // Windows 10 1607 and later, where the manifest says longPathAware and the system's setting allows them.
    using AreLongPathsEnabledFn = BOOLEAN(NTAPI*)();
    static const auto areEnabled = reinterpret_cast<AreLongPathsEnabledFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlAreLongPathsEnabled")));
    return areEnabled != nullptr && areEnabled() != 0;
}

} // namespace

namespace seam {
TSeam<DWORD(const std::wstring&, const std::wstring&, DWORD)>
    RenameFile([](const std::wstring& from, const std::wstring& to, DWORD flags) -> DWORD {
        return ::MoveFileExW(from.c_str(), to.c_str(), flags) ? ERROR_SUCCESS : ::GetLastError();
    });
TSeam<bool(const std::wstring&)> FolderAcceptsWrites(&RealFolderAcceptsWrites);
TSeam<bool()> LongPathsAccepted(&RealLongPathsAccepted);
TSeam<UINT(const std::wstring&)> DriveType([](const std::wstring& root) { return ::GetDriveTypeW(root.c_str()); });
TSeam<DWORD(const std::wstring&, DWORD)> FoundAttributes([](const std::wstring&, DWORD reported) { return reported; });
TSeam<HANDLE(const std::wstring&, WIN32_FIND_DATAW*)> FirstMatch([](const std::wstring& pattern,
                                                                    WIN32_FIND_DATAW* found) {
    return ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, found, FindExSearchNameMatch, nullptr, 0);
});
} // namespace seam

namespace {

// GetDriveTypeW of a mapped drive asks the network redirector, which may have to reach the drive's server; the
// documentation promises no answer without it (the shell's RealDriveType even takes a flag for whether it may "hit
// the net"). The type is asked on a thread of its own, and a drive whose type keeps the caller waiting longer than
// this counts as a network drive: what lies on it would keep the caller waiting too.
constexpr DWORD kDriveTypeWait = 250; // milliseconds

struct DriveTypeAnswer {
    UniqueKernelHandle given{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<UINT> type{DRIVE_UNKNOWN};
};

bool IsNetworkDrive(const std::wstring& root) {
    const auto answer = std::make_shared<DriveTypeAnswer>();
    if (!answer->given) {
        return seam::DriveType(root) == DRIVE_REMOTE;
    }
    // Detached: a thread that the network holds ends by itself once the redirector answers.
    std::thread([answer, root] {
        answer->type = seam::DriveType(root);
        ::SetEvent(answer->given.Get());
    }).detach();
    return ::WaitForSingleObject(answer->given.Get(), kDriveTypeWait) != WAIT_OBJECT_0 || answer->type == DRIVE_REMOTE;
}

} // namespace

bool IsOnNetwork(const std::wstring& path) {
    TNetworkPaths once;
    return once.Holds(path);
}

bool TNetworkPaths::Holds(const std::wstring& path) {
    const auto separator = [&](size_t i) { return i < path.size() && (path[i] == L'\\' || path[i] == L'/'); };
    std::wstring rest = path;
    if (separator(0) && separator(1) && path.size() >= 4 && (path[2] == L'?' || path[2] == L'.') && separator(3)) {
        // "\\?\" and "\\.\" name a local path or device, except "\\?\UNC\server\share".
        rest = path.substr(4);
        if (rest.size() >= 4 && FoldedName(rest.substr(0, 3)) == L"UNC" && (rest[3] == L'\\' || rest[3] == L'/')) {
            return true;
        }
    } else if (separator(0) && separator(1)) {
        return true;
    }
    if (rest.size() >= 2 && rest[1] == L':' && std::iswalpha(rest[0])) {
        const auto letter = static_cast<wchar_t>(std::towupper(rest[0]));
        const auto known = m_remote.find(letter);
        if (known != m_remote.end()) {
            return known->second;
        }
        const bool remote = IsNetworkDrive(rest.substr(0, 2) + L"\\");
        m_remote.emplace(letter, remote);
        return remote;
    }
    return false;
}

bool CanWriteIn(const std::wstring& folder) {
    return seam::FolderAcceptsWrites(folder);
}

size_t LongestPathAccepted() {
    return seam::LongPathsAccepted() ? 32767 - 1 : MAX_PATH - 1;
}

std::wstring LongPathOf(const std::wstring& path) {
    const std::wstring full = FullPath(path);
    const DWORD size = ::GetLongPathNameW(full.c_str(), nullptr, 0);
    if (size == 0) {
        return full;
    }
    std::vector<wchar_t> buffer(size);
    const DWORD length = ::GetLongPathNameW(full.c_str(), buffer.data(), size);
    return length == 0 || length >= size ? full : std::wstring(buffer.data(), length);
}

bool IsInFolder(const std::wstring& path, const std::wstring& folder) {
    const std::wstring base = TrimmedFolder(folder);
    if (base.empty() || path.size() < base.size() || !SameFileName(path.substr(0, base.size()), base)) {
        return false;
    }
    return path.size() == base.size() || base.back() == L'\\' || path[base.size()] == L'\\';
}

DWORD FileAttributes(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str());
}

bool HasAttribute(const std::wstring& path, DWORD attribute) {
    const DWORD attributes = FileAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & attribute) != 0;
}

bool DirectoryExists(const std::wstring& path) {
    return HasAttribute(path, FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::wstring& path) {
    return FileAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = FileAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FileStamp::operator==(const FileStamp& other) const {
    return ::CompareFileTime(&written, &other.written) == 0 && ::CompareFileTime(&created, &other.created) == 0 &&
           size == other.size && attributes == other.attributes;
}

// A search and an attribute query give the same fields under the same names.
template <typename Data> static FileStamp StampFrom(const Data& data) {
    FileStamp stamp;
    stamp.written = data.ftLastWriteTime;
    stamp.created = data.ftCreationTime;
    stamp.size = (ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    stamp.attributes = data.dwFileAttributes;
    return stamp;
}

FileStamp StampOf(const WIN32_FIND_DATAW& found) {
    return StampFrom(found);
}

std::optional<FileStamp> StampAt(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    return StampFrom(data);
}

FILETIME SystemTimeNow() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return now;
}

ULONGLONG FileClockStep(const std::wstring& path) {
    // FAT keeps times to two seconds (a portable copy on a stick may well keep its store there); the rest keep
    // them as the system clock ticks. What cannot be told counts as the coarser.
    const UniqueFile folder(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    wchar_t system[MAX_PATH + 1]{};
    if (!folder ||
        !::GetVolumeInformationByHandleW(folder.Get(), nullptr, 0, nullptr, nullptr, nullptr, system, MAX_PATH + 1)) {
        return kFatClockStep;
    }
    return FoldedName(system).find(L"FAT") != std::wstring::npos ? kFatClockStep : kTickClockStep;
}

bool IsWithinClockStep(const FILETIME& time, const FILETIME& readAt, ULONGLONG step) {
    return Ticks(time) + step > Ticks(readAt);
}

namespace {

// True when the final path of a name (`own`, asked in the form `volume` asks for) leaves the folder it is named
// in: the system followed a link that it does not report as one (Wine, for a host's symbolic link). The folder
// is compared by the path it resolves to, so that every file of a folder that is itself a junction (a
// redirected or synced folder) stays a file. A name whose final path cannot be asked is no link; one whose
// folder cannot be asked is compared with the path as given, and where that is no help either it cannot be told
// from a link, and is handled as one: never followed.
template <typename FinalPath>
bool LeavesFolder(const std::wstring& full, TFolderResolutions::Asker asker, FinalPath finalPath) {
    const std::wstring folder = TrimmedFolder(FolderPart(full));
    bool asked = false;
    for (DWORD volume : {VOLUME_NAME_DOS, VOLUME_NAME_NONE}) {
        const auto own = finalPath(full, false, volume);
        if (!own) {
            continue;
        }
        asked = true;
        if (const auto resolved =
                TFolderResolutions::Resolve(folder, volume, asker, [&] { return finalPath(folder, true, volume); })) {
            return !SameFileName(*own, JoinPath(*resolved, FileNamePart(full)));
        }
        if (volume == VOLUME_NAME_DOS && SameFileName(*own, full)) {
            return false;
        }
    }
    return asked;
}

} // namespace

namespace {
thread_local TFolderResolutions* g_folderResolutions = nullptr;
} // namespace

TFolderResolutions::TFolderResolutions() : m_outer(g_folderResolutions) {
    g_folderResolutions = this;
}

TFolderResolutions::~TFolderResolutions() {
    g_folderResolutions = m_outer;
}

template <typename Ask>
std::optional<std::wstring> TFolderResolutions::Resolve(const std::wstring& folder, DWORD volume, Asker asker,
                                                        Ask ask) {
    TFolderResolutions* kept = g_folderResolutions;
    if (kept == nullptr) {
        return ask();
    }
    auto key = std::make_tuple(asker, volume, folder);
    const auto known = kept->m_known.find(key);
    if (known != kept->m_known.end()) {
        return known->second;
    }
    return kept->m_known[std::move(key)] = ask();
}

bool IsLink(const std::wstring& given) {
    const std::wstring path = TrimmedFolder(given);
    const DWORD attributes = seam::LinkAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // Only a name surrogate (symbolic link, junction, mount point) names another file. Cloud files, dedup
        // and other filters carry reparse points on files that are very much their own.
        // A tag that cannot be read, or reads as none (Wine's answer for a host's link to a folder), cannot be
        // told from a link: never followed.
        const auto tag = seam::ReparseTag(path);
        return !tag || *tag == 0 || IsReparseTagNameSurrogate(*tag);
    }
    return LeavesFolder(
        FullPath(path), TFolderResolutions::Asker::Seam,
        [](const std::wstring& name, bool follow, DWORD volume) { return seam::FinalPath(name, follow, volume); });
}

// True when `file`, opened at `path`, is not the file that `path` names itself but one a link leads to, by the
// rule of IsLink. Asks the system directly: it guards against a link put in the name's place after IsLink.
static bool ReachedThroughLink(HANDLE file, const std::wstring& path) {
    return LeavesFolder(FullPath(path), TFolderResolutions::Asker::System,
                        [file](const std::wstring& name, bool follow, DWORD volume) {
                            return follow ? RealFinalPath(name, true, volume) : FinalPathOf(file, volume);
                        });
}

DWORD RetryWhileBrieflyHeld(const std::function<DWORD()>& attempt, DWORD alsoHeld) {
    for (int tries = 1;; ++tries) {
        const DWORD error = attempt();
        const bool held =
            error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || (error != 0 && error == alsoHeld);
        if (!held || tries == kBriefTries) {
            return error;
        }
        ::Sleep(kBriefPause);
    }
}

UniqueFile OpenBriefly(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    UniqueFile file;
    const DWORD error = RetryWhileBrieflyHeld([&]() -> DWORD {
        file.Reset(
            ::CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr));
        return file ? ERROR_SUCCESS : ::GetLastError();
    });
    ::SetLastError(error); // what the last try gave, for the caller's report
    return file;
}

bool RemoveName(const std::wstring& path) {
    const DWORD attributes = FileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A junction or a link to a folder goes as a name; a real folder is never removed here.
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && ::RemoveDirectoryW(path.c_str());
    }
    std::wstring target = path;
    std::optional<TReplacement> own;
    if (IsLink(path)) {
        // Wine deletes the file at the other end of a file link. A renamed file of our own takes the link's
        // name first; then what is deleted is ours.
        try {
            own.emplace(path);
            own->Commit();
        } catch (const EBootwarden&) {
            return false;
        }
    } else if (attributes & FILE_ATTRIBUTE_READONLY) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_ARCHIVE);
    }
    const DWORD error = RetryWhileBrieflyHeld([&]() -> DWORD {
        if (::DeleteFileW(target.c_str())) {
            return ERROR_SUCCESS;
        }
        const DWORD failure = ::GetLastError();
        return failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : failure;
    });
    if (error == ERROR_SUCCESS) {
        return true;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !own) {
        ::SetFileAttributesW(path.c_str(), attributes); // left as it was found
    }
    return false;
}

void ForEachMatch(const std::wstring& pattern, const std::function<void(const WIN32_FIND_DATAW&)>& visit) {
    WIN32_FIND_DATAW data{};
    UniqueFind search(seam::FirstMatch(pattern, &data));
    if (!search) {
        return;
    }
    const std::wstring folder = FolderPart(pattern);
    do {
        data.dwFileAttributes = seam::FoundAttributes(folder + data.cFileName, data.dwFileAttributes);
        visit(data);
    } while (::FindNextFileW(search.Get(), &data));
}

bool IsOnlineOnly(DWORD attributes) {
    // winnt.h of older SDKs lacks the two recall attributes.
    constexpr DWORD kRecallOnOpen = 0x00040000;       // FILE_ATTRIBUTE_RECALL_ON_OPEN
    constexpr DWORD kRecallOnDataAccess = 0x00400000; // FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS
    return (attributes & (kRecallOnOpen | kRecallOnDataAccess | FILE_ATTRIBUTE_OFFLINE)) != 0;
}

bool IsOnlineOnlyFile(const std::wstring& path) {
    bool onlineOnly = false;
    ForEachMatch(
        path, [&](const WIN32_FIND_DATAW& found) { onlineOnly = onlineOnly || IsOnlineOnly(found.dwFileAttributes); });
    return onlineOnly;
}

std::optional<std::string> ReadWholeFile(const std::wstring& path, size_t limit) {
    if (IsLink(path)) {
        return std::nullopt;
    }
    UniqueFile file = OpenBriefly(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    LARGE_INTEGER size{};
    if (!file || ReachedThroughLink(file.Get(), path) || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
        static_cast<ULONGLONG>(size.QuadPart) > limit) {
        return std::nullopt;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!::ReadFile(file.Get(), bytes.data() + done, want, &read, nullptr) || read == 0) {
            return std::nullopt; // shorter than it said: not read whole
        }
        done += read;
    }
    char extra = 0;
    DWORD read = 0;
    if (!::ReadFile(file.Get(), &extra, 1, &read, nullptr) || read != 0) {
        return std::nullopt; // longer than it said
    }
    return bytes;
}

TReplacement::TReplacement(const std::wstring& destination) : m_destination(destination) {
    // A folder at the destination makes the rename fail; it is not looked for first, which would cost a search
    // of the whole folder under Wine for every new name.
    const std::wstring folder = FolderPart(destination);
    for (int attempt = 0; attempt < 16 && m_file == INVALID_HANDLE_VALUE; ++attempt) {
        m_temporary = folder + kTemporaryPrefix + Hex(::GetCurrentProcessId()) + L"-" + Hex(++g_temporaryCounter) +
                      L"-" + Hex(::GetTickCount64() & 0xFFFFFF) + kTemporaryExtension;
        m_file =
            ::CreateFileW(m_temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (m_file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    if (m_file == INVALID_HANDLE_VALUE) {
        throw EFCreateError(Operation::FileCreate, destination, ::GetLastError());
    }
}

TReplacement::~TReplacement() {
    if (m_file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_file);
    }
    if (!m_committed) {
        ::DeleteFileW(m_temporary.c_str()); // our own file, never a link: plain deletion is right
    }
}

void TReplacement::Commit(bool replace, bool flush) {
    const auto fail = [&](DWORD error) { throw EFCreateError(Operation::FileCreate, m_destination, error); };
    // A file of its own at the destination (not a link, which goes as a name) is replaced as the same file:
    // a hidden or read-only shortcut stays so, and it keeps the time it was made.
    WIN32_FILE_ATTRIBUTE_DATA before{};
    const bool replacing = replace && ::GetFileAttributesExW(m_destination.c_str(), GetFileExInfoStandard, &before) &&
                           !(before.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                           !IsLink(m_destination);
    constexpr DWORD kKept =
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD kept = replacing ? before.dwFileAttributes & kKept : 0;
    if (replacing) {
        (void)::SetFileTime(m_file, &before.ftCreationTime, nullptr, nullptr); // a time not kept is no harm
    }
    if (flush && !::FlushFileBuffers(m_file)) {
        fail(::GetLastError());
    }
    ::CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    // No longer hidden once it has its name, unless the file it replaces was.
    ::SetFileAttributesW(m_temporary.c_str(), (kept & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_ARCHIVE);
    // Windows refuses to replace a read-only file: it is made writable for the rename, and made read-only again
    // whatever the rename's outcome.
    const bool readOnly = (kept & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) {
        (void)::SetFileAttributesW(m_destination.c_str(), before.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    }
    // A rename replaces the name: a link at the destination goes, and what it pointed at is not touched.
    const DWORD flags = (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH;
    // Explorer and virus scanners hold shortcuts open; Windows then answers access denied to a replace as
    // often as a sharing violation.
    const DWORD error = RetryWhileBrieflyHeld([&] { return seam::RenameFile(m_temporary, m_destination, flags); },
                                              replace ? ERROR_ACCESS_DENIED : ERROR_SUCCESS);
    if (error != ERROR_SUCCESS) {
        if (readOnly) {
            (void)::SetFileAttributesW(m_destination.c_str(), before.dwFileAttributes);
        }
        fail(error);
    }
    m_committed = true;
    if (readOnly) {
        (void)::SetFileAttributesW(m_destination.c_str(), kept | FILE_ATTRIBUTE_ARCHIVE);
    }
}

namespace {
// Writes all of `bytes` to `file` in pieces the system takes whole; 0, or the error of the piece that failed.
DWORD WriteAll(HANDLE file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!::WriteFile(file, bytes.data() + done, want, &written, nullptr) || written != want) {
            const DWORD error = ::GetLastError();
            return error != 0 ? error : ERROR_WRITE_FAULT;
        }
        done += written;
    }
    return 0;
}
} // namespace

void WriteFileReplacing(const std::wstring& path, const std::string& bytes, bool flush) {
    TReplacement replacement(path);
    if (const DWORD error = WriteAll(replacement.File(), bytes)) {
        throw EWriteError(Operation::StreamWrite, path, error);
    }
    replacement.Commit(true, flush);
}

void WriteNewFile(const std::wstring& path, const std::string& bytes) {
    // CREATE_NEW opens nothing that stands at the name, a link included. DELETE: a file that cannot be filled is
    // removed through its handle, never by a name that another process may have taken meanwhile.
    const UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE, nullptr));
    if (!file) {
        throw EFCreateError(Operation::FileCreate, path, ::GetLastError());
    }
    if (const DWORD error = WriteAll(file.Get(), bytes)) {
        FILE_DISPOSITION_INFO remove{TRUE};
        (void)::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &remove, sizeof remove);
        throw EWriteError(Operation::StreamWrite, path, error);
    }
}

bool IsTemporaryFileName(const std::wstring& fileName) {
    const size_t prefix = std::wcslen(kTemporaryPrefix);
    const size_t extension = std::wcslen(kTemporaryExtension);
    return fileName.size() > prefix + extension && fileName.compare(0, prefix, kTemporaryPrefix) == 0 &&
           SameFileName(fileName.substr(fileName.size() - extension), kTemporaryExtension);
}

DWORD TemporaryFileWriter(const std::wstring& fileName) {
    if (!IsTemporaryFileName(fileName)) {
        return 0;
    }
    const size_t start = std::wcslen(kTemporaryPrefix);
    const size_t dash = fileName.find(L'-', start);
    if (dash == std::wstring::npos || dash == start || dash - start > 8) {
        return 0;
    }
    DWORD id = 0;
    for (size_t at = start; at < dash; ++at) {
        const wchar_t c = fileName[at];
        const int digit = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1;
        if (digit < 0) {
            return 0;
        }
        id = id * 16 + static_cast<DWORD>(digit);
    }
    return id;
}

static size_t AfterLastSeparator(const std::wstring& path) {
    const size_t at = path.find_last_of(L"\\:");
    return at == std::wstring::npos ? 0 : at + 1;
}

std::wstring FileNamePart(const std::wstring& path) {
    return path.substr(AfterLastSeparator(path));
}

std::wstring FolderPart(const std::wstring& path) {
    return path.substr(0, AfterLastSeparator(path));
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L':')) {
        return folder + name;
    }
    return folder + L"\\" + name;
}

std::wstring FullPath(const std::wstring& path) {
    DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::vector<wchar_t> buffer(size);
    size = ::GetFullPathNameW(path.c_str(), size, buffer.data(), nullptr);
    if (size == 0 || size >= buffer.size()) {
        return path;
    }
    return std::wstring(buffer.data(), size);
}

std::wstring ModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2); // the path was cut; try a larger buffer
    }
}

std::wstring FoldedName(const std::wstring& name) {
    std::wstring folded = name;
    if (!folded.empty()) {
        ::CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    }
    return folded;
}

bool SameFileName(const std::wstring& first, const std::wstring& second) {
    return first.size() == second.size() && FoldedName(first) == FoldedName(second);
}

} // namespace bw
