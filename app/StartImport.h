#pragma once

#include "store/Entry.h"
#include "store/StoreDoor.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace bw {

// The first start's refresh as one unit of work of the store's door on a thread of its own, so that the window
// answers while thousands of store links are written. The thread takes the store's lock itself (the lock belongs
// to the thread that takes it), reads the system and the store, and hands the entries as the system has them to
// the window at once; then it imports, and ends its unit of work (bases and records saved, the lock released)
// before it says that it is done. It asks nothing and shows nothing: the window reads what it left once it is done.
//
// While it runs, the window touches neither the door nor its session; a command waits for it, as for any import.
class TStartImport {
public:
    // Starts the thread. It posts kStartImportMessage to `window` whenever it has news: the rows so far, its
    // progress, its end.
    TStartImport(TStoreDoor& door, HWND window, bool writeBack, bool readSystem, bool readStore);
    // Stops the import where it stands (what it copied so far stays, as when the window closes) and waits for
    // the thread.
    ~TStartImport();
    TStartImport(const TStartImport&) = delete;
    TStartImport& operator=(const TStartImport&) = delete;

    // The entries as the system has them, once, while their store links are still being written.
    std::optional<std::vector<Entry>> TakeRowsSoFar();
    size_t Done() const { return m_done; }
    size_t Total() const { return m_total; }

    // True once the unit of work has ended and the thread is gone (after waiting for it).
    bool Ended();
    // After Ended: whether the store could be locked at all, whether anything had changed (the refresh did
    // anything), and what the work raised, if it raised.
    bool Locked() const { return m_locked; }
    bool Changed() const { return m_changed; }
    std::exception_ptr Failure() const { return m_failure; }

private:
    void Run(bool writeBack, bool readSystem, bool readStore);
    void Tell();

    TStoreDoor& m_door;
    HWND m_window;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    std::atomic<size_t> m_done{0};
    std::atomic<size_t> m_total{0};
    std::mutex m_rowsLock;
    std::optional<std::vector<Entry>> m_rows;
    bool m_locked = false;
    bool m_changed = false;
    std::exception_ptr m_failure;
    std::thread m_thread;
};

} // namespace bw
