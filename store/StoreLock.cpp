#include "store/StoreLock.h"

#include "resources/Texts.h"
#include "store/Locations.h"

namespace bw {

std::wstring StoreLockName(const std::wstring& programDir) {
    return SessionNameForFolder(L"Bootwarden-Store", programDir);
}

std::wstring StoreWindowName(const std::wstring& programDir) {
    return SessionNameForFolder(L"Bootwarden-Window", programDir);
}

std::wstring StoreWatchName(const std::wstring& programDir) {
    return SessionNameForFolder(L"Bootwarden-Work", programDir);
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
