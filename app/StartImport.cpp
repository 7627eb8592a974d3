#include "app/StartImport.h"

#include "app/WindowMessages.h"

#include <objbase.h>

#include <utility>

namespace bw {

namespace {

// How long the thread waits for another process (bwcli) to finish with the store before the window tries again
// later, as a refresh does.
constexpr DWORD kLockWait = 250;
// The import runs in parts of this length, between which the thread looks whether it is to stop and says how far
// it has come.
constexpr DWORD kPart = 50;

} // namespace

TStartImport::TStartImport(TStoreDoor& door, HWND window, bool writeBack, bool readSystem, bool readStore)
    : m_door(door), m_window(window) {
    m_thread = std::thread([this, writeBack, readSystem, readStore] { Run(writeBack, readSystem, readStore); });
}

TStartImport::~TStartImport() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join(); // at most one store link's write away
    }
}

std::optional<std::vector<Entry>> TStartImport::TakeRowsSoFar() {
    const std::lock_guard<std::mutex> lock(m_rowsLock);
    return std::exchange(m_rows, std::nullopt);
}

bool TStartImport::Ended() {
    if (!m_finished) {
        return false;
    }
    if (m_thread.joinable()) {
        m_thread.join(); // it has said its last word: it is ending
    }
    return true;
}

void TStartImport::Tell() {
    ::PostMessageW(m_window, kStartImportMessage, 0, 0);
}

void TStartImport::Run(bool writeBack, bool readSystem, bool readStore) {
    // The shell's link objects want an apartment on the thread that uses them.
    const HRESULT apartment = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    try {
        const std::unique_ptr<TStoreDoor::TWork> work = m_door.TryBeginWork(kLockWait);
        if (work) {
            m_locked = true;
            TStoreSession& session = work->Session();
            // No progress control: the window's controls are not this thread's to drive.
            m_changed = session.BeginRefresh(writeBack, nullptr, readSystem, readStore);
            if (m_changed) {
                m_total = session.ImportTotal();
                if (m_total > 0) {
                    // The rows go to the window at once, as the system has the entries, before the first store link
                    // is written (and before the intents of all of them are saved): their links follow.
                    std::vector<Entry> soFar = session.EntriesSoFar();
                    {
                        const std::lock_guard<std::mutex> lock(m_rowsLock);
                        m_rows = std::move(soFar);
                    }
                    Tell();
                }
                bool done = false;
                while (!done && !m_stop) {
                    done = session.ContinueRefresh(kPart);
                    m_done = session.ImportDone();
                    Tell();
                }
                if (!done) {
                    session.AbandonRefresh(); // what it copied so far stays; the next refresh runs whole
                }
            }
        } // the unit of work ends here: bases and records saved, other processes told, the lock released
    } catch (...) {
        m_failure = std::current_exception();
        m_door.Session().AbandonRefresh();
    }
    // The link objects made here belong to this thread's apartment, which ends with it.
    m_door.Session().ReleaseLinkObjects();
    if (SUCCEEDED(apartment)) {
        ::CoUninitialize();
    }
    m_finished = true;
    Tell();
}

} // namespace bw
