#include "platform/FileCopy.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/UniqueHandle.h"

#include <vector>

namespace bw {

namespace {

constexpr DWORD kChunkSize = 8192;

// Puts the control back at 0 when a copy ends, however it ends. Declared before everything else the copy
// owns, so it runs after the files are closed and the buffer is freed.
class PositionReset {
public:
    explicit PositionReset(ProgressControl* progress) : m_progress(progress) {}
    ~PositionReset() {
        if (m_progress) {
            m_progress->SetPosition(0);
        }
    }
    PositionReset(const PositionReset&) = delete;
    PositionReset& operator=(const PositionReset&) = delete;

private:
    ProgressControl* m_progress;
};

// Creates `folder` and its missing parents. Failures are not reported: the destination's create then fails and
// says so with the file's path.
void CreateFolderPath(std::wstring folder) {
    if (folder.empty()) {
        return;
    }
    if (folder.back() == L'\\') {
        folder.pop_back();
    }
    // A drive ("C:") or a root is never created; a folder whose parent is itself would recurse forever.
    if (folder.size() < 3 || DirectoryExists(folder) || FolderPart(folder) == folder) {
        return;
    }
    CreateFolderPath(FolderPart(folder));
    (void)::CreateDirectoryW(folder.c_str(), nullptr); // a failure shows at the destination's create
}

// The low 32 bits of the size found by a search on `path`, or -1 when the search finds nothing or a folder.
int SizeFromSearch(const std::wstring& path) {
    WIN32_FIND_DATAW found{};
    const UniqueFind search(::FindFirstFileW(path.c_str(), &found));
    if (!search || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return -1;
    }
    return static_cast<int>(found.nFileSizeLow);
}

// Others may go on reading the source during the copy, but nobody may change it under us.
UniqueFile OpenSource(const std::wstring& source) {
    UniqueFile file = OpenBriefly(source, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (!file) {
        throw EFOpenError(Operation::FileOpen, source, ::GetLastError());
    }
    return file;
}

// Copies from the source's current position to its end, one chunk at a time, and shows the running total
// on `progress` after each chunk. A read shorter than a chunk ends the copy, so a source whose size is a
// multiple of the chunk size ends with a read of 0 bytes.
void CopyChunks(HANDLE source, HANDLE destination, std::vector<char>& buffer, ProgressControl* progress) {
    DWORD total = 0; // wraps like the size shown as the maximum: only the low 32 bits count
    for (;;) {
        DWORD count = 0;
        if (!::ReadFile(source, buffer.data(), kChunkSize, &count, nullptr)) {
            throw EReadError(Operation::StreamRead, {}, ::GetLastError());
        }
        total += count;
        if (count > 0) {
            DWORD written = 0;
            if (!::WriteFile(destination, buffer.data(), count, &written, nullptr) || written != count) {
                throw EWriteError(Operation::StreamWrite, {}, ::GetLastError());
            }
        }
        if (progress) {
            progress->SetPosition(static_cast<int>(total));
        }
        if (count < kChunkSize) {
            return;
        }
    }
}

} // namespace

void CopyWithProgress(const std::wstring& source, const std::wstring& destination, ProgressControl* progress) {
    const PositionReset resetOnExit(progress);

    // The destination is used as given, not expanded: callers pass full paths. A folder there is an error:
    // a copy "into" it would put the entry where nobody looks for it.
    if (DirectoryExists(destination)) {
        throw EFCreateError(Operation::FileCreate, destination, ERROR_DIRECTORY);
    }
    std::vector<char> buffer(kChunkSize);
    const int size = SizeFromSearch(source);
    const UniqueFile from = OpenSource(source);
    // Only a source that opened changes the control's range; the position goes back to 0 in any case.
    if (progress) {
        progress->SetMax(size);
        progress->SetMin(0);
        progress->SetPosition(0);
    }
    CreateFolderPath(FolderPart(destination));
    TReplacement to(destination);
    CopyChunks(from.Get(), to.File(), buffer, progress);

    // Set after the last write, so that no write moves it again. A copy that keeps its own time is still whole,
    // so a failure here is let pass.
    FILETIME lastWrite{};
    if (::GetFileTime(from.Get(), nullptr, nullptr, &lastWrite)) {
        (void)::SetFileTime(to.File(), nullptr, nullptr, &lastWrite);
    }
    to.Commit();
    // The temporary file goes before the source closes, then the buffer is freed, then the position is reset.
}

} // namespace bw
