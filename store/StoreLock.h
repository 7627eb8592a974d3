#pragma once

#include "platform/Errors.h"
#include "platform/NamedObjects.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace bw {

// Another process works on the store and did not finish within the wait.
class EStoreBusy : public EBootwarden {
public:
    using EBootwarden::EBootwarden;
};

// How long a process waits for another one to finish with the store before it gives up.
inline constexpr DWORD kStoreLockWait = 5000;

// The lock of the store beside ProgramDir. Every process that changes the store (the window around each command
// and refresh, the console program around its command) holds it while it works, so that no two of them read,
// decide and write on one store at the same moment: one's view of what the other just imported would otherwise
// pass for an edit. It is a mutex of the user's session named after the store's folder, so it goes when the
// process that holds it dies, and leaves nothing in the folder. A thread that holds it may take it again.
class TStoreLock {
public:
    // Waits up to `waitMs` for the lock. Raises EStoreBusy when another process still holds it then, and
    // EBootwarden when the lock cannot be made at all.
    explicit TStoreLock(DWORD waitMs = kStoreLockWait);

    // The lock, or null when another process still holds it after `waitMs`.
    static std::unique_ptr<TStoreLock> TryTake(DWORD waitMs);

private:
    struct Untaken {};
    explicit TStoreLock(Untaken);
    TNamedMutex m_mutex;
};

// What one process knows of the work of others on the store beside ProgramDir: a count, shared by every process
// that has the store open, that each one moves on when it has worked on the store. A window that finds it moved
// since its own last refresh knows that another process (bwcli) imported meanwhile, so a store link that differs
// from what the window's last import left may be that import rather than an edit. Used with the lock held.
class TStoreWatch {
public:
    TStoreWatch();

    // True when another process moved the count on since this one last called Seen.
    bool OthersWorked() const { return m_value.Get() != m_seen; }

    // Moves the count on (this process worked on the store) and remembers where it stands.
    void Seen();

private:
    TNamedValue m_value;
    std::uint64_t m_seen = 0;
};

// The names of the store's objects are made from the folder the store's data folder resolves to (links followed), so
// that every copy of the program whose folders lead to one store shares them.

// The name of the store's lock for the store beside `programDir`.
std::wstring StoreLockName(const std::wstring& programDir);

// The name of the count of TStoreWatch for the store beside `programDir`.
std::wstring StoreWatchName(const std::wstring& programDir);

// The name under which the window of the store beside `programDir` makes itself known to a second start.
std::wstring StoreWindowName(const std::wstring& programDir);

} // namespace bw
