#pragma once

#include "platform/Seam.h"
#include "platform/UniqueHandle.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bw {

namespace detail {
inline void CloseChangeNotification(HANDLE h) {
    ::FindCloseChangeNotification(h);
}
} // namespace detail
using UniqueChangeNotification = UniqueHandle<HANDLE, detail::CloseChangeNotification, detail::InvalidHandle>;

// One place that the system tells of its changes: a folder (an entry of it added, removed, renamed or written, and,
// where asked, given other attributes; not its subfolders' contents) or a registry key (a value set or removed, a
// subkey added or removed). Handle() is signalled once after Arm for the first change since; Arm again to hear of
// the next.
class TChangeWatch {
public:
    // `attributes`: a change of an entry's attributes alone is news too. (A sync engine sets and clears attributes
    // of the files it keeps after every write; a folder we write into is best watched without them.)
    static TChangeWatch Folder(std::wstring folder, bool attributes = true);
    static TChangeWatch Key(HKEY root, std::wstring path, REGSAM view);

    TChangeWatch(TChangeWatch&&) noexcept = default;
    TChangeWatch& operator=(TChangeWatch&&) noexcept = default;

    // Watches the place anew: it is opened again each time, so that a folder or key deleted and made again is
    // the one watched. A place that does not exist is watched through the nearest folder or key above it that
    // does, until it is made. False when it cannot be watched now (not readable, or a file system that gives no
    // notifications); Handle() is then null.
    bool Arm();
    // The same place, not armed. (Closing a key that is watched signals its event: a watch armed anew is best
    // made as a fresh one, and the old one closed only once nothing waits on its handle.)
    TChangeWatch Unarmed() const;
    // After its handle was signalled: a folder that is still there, watched itself, goes on being watched through
    // the same handle (FindNextChangeNotification), and true. False where the place must be armed anew (a key, a
    // folder gone or watched through the one above it).
    bool Continue();
    // Stops watching; Handle() is null until the next Arm.
    void Disarm();
    HANDLE Handle() const;
    bool Armed() const { return Handle() != nullptr; }
    // True while the place is missing and watched through a folder or key above it.
    bool WatchingParent() const { return m_watchingParent; }
    // The place as a person would name it ("HKEY_CURRENT_USER\...\Run", a folder's path), for messages.
    const std::wstring& Name() const { return m_name; }
    const std::wstring& Path() const { return m_path; }
    bool IsKey() const { return m_isKey; }
    // The place's own stamp when it was last armed or continued (a key's last write time, a folder's creation and
    // last write times); empty where it could not be asked. A watch that died without a signal (its key deleted
    // and made again) is told by a stamp that moved since.
    const std::wstring& Stamp() const { return m_stamp; }

private:
    TChangeWatch() = default;
    DWORD ArmFolder(const std::wstring& folder);
    DWORD ArmKey(const std::wstring& path);

    void TakeStamp(const std::wstring& watched);

    bool m_isKey = false;
    bool m_attributes = true;
    std::wstring m_stamp;
    std::wstring m_name;
    std::wstring m_path;
    HKEY m_root = nullptr;
    REGSAM m_view = 0;
    bool m_watchingParent = false;
    UniqueChangeNotification m_folder;
    UniqueHkey m_key;
    UniqueKernelHandle m_event;
};

// Waits for any of a set of handles, by slot, and tells `message` to its window when one is signalled.
class IChangeWaiter {
public:
    virtual ~IChangeWaiter() = default;
    // The handles to wait on, by slot (null: nothing in that slot). A slot stands for the same place in every call;
    // a slot signalled is left out of the wait until the next call, whose caller has re-armed its place. Once it
    // returns, the caller may close the handles of the set before.
    virtual void Wait(const std::vector<HANDLE>& handles) = 0;
    // The slots signalled since the last call. A message posted after this call tells of later ones.
    virtual std::vector<size_t> TakeSignalled() = 0;
};

// Waits on a thread of its own for any of a set of handles and posts `message` to `window` when one is
// signalled; at most one such message waits in the window's queue at a time. A handle that was signalled is
// not waited for again until the next Wait (whose caller has re-armed its place), so that a handle that stays
// signalled cannot post without end. Modal loops dispatch the message as the main loop does.
class TChangeWaiter final : public IChangeWaiter {
public:
    TChangeWaiter(HWND window, UINT message);
    ~TChangeWaiter();
    TChangeWaiter(const TChangeWaiter&) = delete;
    TChangeWaiter& operator=(const TChangeWaiter&) = delete;

    // At most kMaxHandles slots. Returns once the thread waits on these (which must stay open until the next Wait
    // or the waiter's end).
    void Wait(const std::vector<HANDLE>& handles) override;
    std::vector<size_t> TakeSignalled() override;

    static constexpr size_t kMaxHandles = MAXIMUM_WAIT_OBJECTS - 2;

private:
    void Run();

    HWND m_window;
    UINT m_message;
    UniqueKernelHandle m_stop;
    UniqueKernelHandle m_wake;
    UniqueKernelHandle m_taken; // the thread took the set of the last Wait
    static constexpr DWORD kTakeWait = 2000;
    std::mutex m_lock;
    std::vector<HANDLE> m_next; // the set handed over by Wait, not yet taken by the thread
    bool m_hasNext = false;
    std::vector<bool> m_signalled;
    std::atomic<bool> m_posted{false};
    std::thread m_thread;
};

// Waits on the handles in its thread's message loop, which calls WaitForInput where it would wait for a message:
// no thread of its own. While a modal loop runs instead (a menu, a message box) nothing waits on them; a handle
// signalled meanwhile stays so (a key's event is reset by hand, a folder's until it is continued), and the loop's
// next WaitForInput tells of it.
class TLoopWaiter final : public IChangeWaiter {
public:
    TLoopWaiter(HWND window, UINT message) : m_window(window), m_message(message) {}

    // At most kMaxHandles slots: those beyond are not waited on.
    void Wait(const std::vector<HANDLE>& handles) override;
    std::vector<size_t> TakeSignalled() override;
    // Returns when a message is in the thread's queue (one seen and left there counts) or a handle of the set is
    // signalled: its slot is then taken out of the wait and `message` posted, unless one is posted already and not
    // yet answered by TakeSignalled. True when a handle was signalled; false for a message, or once `timeout` passed.
    bool WaitForInput(DWORD timeout = INFINITE);

    static constexpr size_t kMaxHandles = MAXIMUM_WAIT_OBJECTS - 1; // the last one is the queue's

private:
    HWND m_window;
    UINT m_message;
    std::vector<HANDLE> m_handles; // by slot; null where nothing is waited on
    std::vector<bool> m_signalled;
    bool m_posted = false;
};

// Arms watches on a thread of its own, for places where arming may keep the caller waiting: on a share that went
// away, FindFirstChangeNotificationW and the stamp's query return only once the network's timeout has passed. Posts
// `message` to `window` when a watch is armed (or could not be); TakeArmed hands it over. The thread lives as long
// as the armer: Windows cancels the I/O a thread issued when the thread ends, and a change handle whose
// notification was cancelled is signalled for nothing. Watches handed back (Close) are closed there too.
class TWatchArmer {
public:
    TWatchArmer(HWND window, UINT message);
    // Waits a little for a watch being armed; one held by the network is left to its thread, which ends after it.
    ~TWatchArmer();
    TWatchArmer(const TWatchArmer&) = delete;
    TWatchArmer& operator=(const TWatchArmer&) = delete;

    // Arms `watch` (an unarmed one) on the thread; `ticket` comes back with it.
    void Arm(size_t ticket, TChangeWatch watch);
    // Closes `watch` on the thread.
    void Close(TChangeWatch watch);
    struct Armed {
        size_t ticket;
        TChangeWatch watch;
    };
    // The watches armed since the last call.
    std::vector<Armed> TakeArmed();

private:
    struct Shared;
    static constexpr unsigned kEndWait = 500; // milliseconds
    std::shared_ptr<Shared> m_shared;
};

namespace seam {
// FindFirstChangeNotificationW for a folder's entries, with the FILE_NOTIFY_CHANGE_* `filter`.
// INVALID_HANDLE_VALUE where the folder cannot be watched: missing, or on a network share whose server gives no
// notifications (ERROR_NOT_SUPPORTED, ERROR_INVALID_FUNCTION). On a share that went away it returns only once
// the network's timeout has passed.
extern TSeam<HANDLE(const std::wstring&, DWORD filter)> WatchFolder;
// RegNotifyChangeKeyValue for a key's values and subkeys, signalling `event` once.
extern TSeam<LONG(HKEY, HANDLE)> WatchKey;
} // namespace seam

} // namespace bw
