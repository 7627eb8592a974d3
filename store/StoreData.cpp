#include "store/StoreData.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "store/Locations.h"

namespace bw {

namespace {
constexpr size_t kDataFileLimit = 64u << 20; // as large as the file of bases is ever read
} // namespace

void MoveOldDataFiles() {
    const std::wstring& folder = StoreDataFolder();
    if (folder.empty() || SameFileName(folder, ProgramDir()) || !DirectoryExists(folder)) {
        return;
    }
    for (const wchar_t* name : kDataFiles) {
        const std::wstring old = ProgramDir() + name;
        const std::wstring moved = folder + name;
        if (!FileExists(old) || IsLink(old)) {
            continue; // a link is never followed, nor removed for what it leads to
        }
        const auto bytes = ReadWholeFile(old, kDataFileLimit);
        if (!bytes) {
            continue; // held, or not to be read whole now: tried again at the next start
        }
        if (PathExists(moved)) {
            const auto there = ReadWholeFile(moved, kDataFileLimit);
            if (there && *there == *bytes) {
                (void)RemoveName(old); // the copy of a move that was stopped before the old file went
            }
            continue;
        }
        try {
            WriteFileReplacing(moved, *bytes);
        } catch (const EBootwarden&) {
            continue; // the old file is still the store's
        }
        (void)RemoveName(old); // one that stays is the same bytes: removed at the next start
    }
}

} // namespace bw
