#pragma once

#include "store/Entry.h"
#include "store/StoreDoor.h"

#include <windows.h>

#include <exception>
#include <memory>
#include <optional>
#include <vector>

namespace bw {

// A refresh as one unit of work of the store's door on a thread of its own, for the refreshes that may keep the
// window waiting: the first start's (thousands of store links written) and every one that reads a folder on another
// machine (where its share went away, a read waits for the network's timeout). The thread takes the store's lock
// itself (the lock belongs to the thread that takes it), reads the system and the store, hands the entries as the
// system has them to the window at once where asked, imports, and ends its unit of work (bases and records saved,
// the lock released) before it says that it is done. It asks nothing and shows nothing: the window reads what it
// left once it is done.
//
// While it runs, the window touches neither the door nor its session; a command waits for it, as for any import.
// The thread shares the door with the window, so that a thread left running when the window goes (held by the
// network) works on a door that is still there until it ends.
class TStartImport {
public:
    // Starts the thread. It posts kStartImportMessage to `window` whenever it has news: the rows so far (only with
    // `handRows`), its progress, its end.
    TStartImport(std::shared_ptr<TStoreDoor> door, HWND window, bool writeBack, bool readSystem, bool readStore,
                 bool handRows);
    // Stops the import where it stands (what it copied so far stays, as when the window closes) and waits a little
    // for the thread: one held by the network is left to end by itself (LeftRunning).
    ~TStartImport();
    TStartImport(const TStartImport&) = delete;
    TStartImport& operator=(const TStartImport&) = delete;

    // The same, saying whether the thread ended within the wait. False: it still holds its unit of work, so the
    // store's lock and the door are not this window's until it ends.
    bool Stop();

    // The entries as the system has them, once, while their store links are still being written.
    std::optional<std::vector<Entry>> TakeRowsSoFar();
    size_t Done() const;
    size_t Total() const;

    // True once the unit of work has ended and the thread has said its last word.
    bool Ended() const;
    // After Ended: whether the store could be locked at all, whether anything had changed (the refresh did
    // anything), and what the work raised, if it raised.
    bool Locked() const;
    bool Changed() const;
    std::exception_ptr Failure() const;

    // Waits up to `waitMs` for the threads that were left running when their window went; true when none runs any
    // more. The process ends without those still held by the network.
    static bool WaitForLeftRunning(DWORD waitMs);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    bool m_stopped = false;
};

} // namespace bw
