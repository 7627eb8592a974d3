#pragma once

#include "platform/Errors.h"
#include "platform/NamedObjects.h"

#include <windows.h>

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

// The name of the store's lock for the store beside `programDir`.
std::wstring StoreLockName(const std::wstring& programDir);

// The name under which the window of the store beside `programDir` makes itself known to a second start.
std::wstring StoreWindowName(const std::wstring& programDir);

} // namespace bw
