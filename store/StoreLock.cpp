#include "store/StoreLock.h"

#include "resources/Texts.h"
#include "platform/FileSystem.h"
#include "store/Locations.h"

namespace bw {

namespace {
// The folder that tells one store from another: its data folder, which keeps the bases and records that every
// process on the store shares. Two copies of the program whose data folders lead to one folder (version folders of
// an installer that keeps the folder across updates) work on one store. For the store of this run it is the folder
// resolved at the start of the run; for another, the name resolves its links itself (SessionNameForFolder).
std::wstring IdentityFolder(const std::wstring& programDir) {
    if (!ProgramDir().empty() && SameFileName(JoinPath(programDir, L""), ProgramDir())) {
        return StoreDataFolder();
    }
    return JoinPath(programDir, kDataFolderName);
}
} // namespace

std::wstring StoreLockName(const std::wstring& programDir) {
    return SessionNameForFolder(L"Bootwarden-Store", IdentityFolder(programDir));
}

std::wstring StoreWindowName(const std::wstring& programDir) {
    return SessionNameForFolder(L"Bootwarden-Window", IdentityFolder(programDir));
}

std::wstring StoreWatchName(const std::wstring& programDir) {
    return SessionNameForFolder(L"Bootwarden-Work", IdentityFolder(programDir));
}

TStoreWatch::TStoreWatch() : m_value(StoreWatchName(ProgramDir())), m_seen(m_value.Get()) {}

void TStoreWatch::Seen() {
    m_seen = m_value.Get() + 1;
    m_value.Set(m_seen);
}

TStoreLock::TStoreLock(Untaken) : m_mutex(StoreLockName(ProgramDir())) {}

TStoreLock::TStoreLock(DWORD waitMs) : TStoreLock(Untaken{}) {
    if (!m_mutex.Acquire(waitMs)) {
        throw EStoreBusy(text::kStoreBusy);
    }
}

std::unique_ptr<TStoreLock> TStoreLock::TryTake(DWORD waitMs) {
    std::unique_ptr<TStoreLock> lock(new TStoreLock(Untaken{}));
    if (!lock->m_mutex.Acquire(waitMs)) {
        return nullptr;
    }
    return lock;
}

} // namespace bw
