#include "app/StartImport.h"

#include "app/WindowMessages.h"
#include "platform/UniqueHandle.h"

#include <objbase.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

namespace bw {

namespace {

// How long the thread waits for another process (bwcli) to finish with the store before the window tries again
// later, as a refresh does.
constexpr DWORD kLockWait = 250;
// The import runs in parts of this length, between which the thread looks whether it is to stop and says how far
// it has come.
constexpr DWORD kPart = 50;
// How long a window that goes waits for its thread to stop: a part of the import and one store link's write. A read
// held by the network is not waited for.
constexpr DWORD kStopWait = 500;

// The threads that have not ended yet, whether or not their window still waits for them.
std::atomic<int> g_running{0};

} // namespace

struct TStartImport::Shared {
    std::shared_ptr<TStoreDoor> door;
    HWND window = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false}; // set last: what the thread left is then the window's to read
    std::atomic<size_t> done{0};
    std::atomic<size_t> total{0};
    std::mutex rowsLock;
    std::optional<std::vector<Entry>> rows;
    bool locked = false;
    bool changed = false;
    std::exception_ptr failure;
    UniqueKernelHandle ended{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

    void Tell() const { ::PostMessageW(window, kStartImportMessage, 0, 0); }
    void Run(bool writeBack, bool readSystem, bool readStore, bool handRows);
};

TStartImport::TStartImport(std::shared_ptr<TStoreDoor> door, HWND window, bool writeBack, bool readSystem,
                           bool readStore, bool handRows)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->door = std::move(door);
    m_shared->window = window;
    ++g_running;
    // The thread keeps what it works on: a window that goes does not wait for a read the network holds.
    std::thread([shared = m_shared, writeBack, readSystem, readStore, handRows]() mutable {
        shared->Run(writeBack, readSystem, readStore, handRows);
        shared.reset(); // the door too, where the window has gone before
        --g_running;
    }).detach();
}

TStartImport::~TStartImport() {
    (void)Stop();
}

bool TStartImport::Stop() {
    m_shared->stop = true;
    if (!m_stopped) {
        m_stopped = true;
        (void)::WaitForSingleObject(m_shared->ended.Get(), kStopWait);
    }
    return m_shared->finished;
}

bool TStartImport::WaitForLeftRunning(DWORD waitMs) {
    const ULONGLONG until = ::GetTickCount64() + waitMs;
    while (g_running > 0 && ::GetTickCount64() < until) {
        ::Sleep(10);
    }
    return g_running == 0;
}

std::optional<std::vector<Entry>> TStartImport::TakeRowsSoFar() {
    const std::lock_guard<std::mutex> lock(m_shared->rowsLock);
    return std::exchange(m_shared->rows, std::nullopt);
}

size_t TStartImport::Done() const {
    return m_shared->done;
}

size_t TStartImport::Total() const {
    return m_shared->total;
}

bool TStartImport::Ended() const {
    return m_shared->finished;
}

bool TStartImport::Locked() const {
    return m_shared->locked;
}

bool TStartImport::Changed() const {
    return m_shared->changed;
}

std::exception_ptr TStartImport::Failure() const {
    return m_shared->failure;
}

void TStartImport::Shared::Run(bool writeBack, bool readSystem, bool readStore, bool handRows) {
    // The shell's link objects want an apartment on the thread that uses them.
    const HRESULT apartment = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    try {
        const std::unique_ptr<TStoreDoor::TWork> work = door->TryBeginWork(kLockWait);
        if (work) {
            locked = true;
            TStoreSession& session = work->Session();
            // No progress control: the window's controls are not this thread's to drive.
            changed = session.BeginRefresh(writeBack, nullptr, readSystem, readStore);
            if (changed) {
                total = session.ImportTotal();
                if (total > 0 && handRows) {
                    // The rows go to the window at once, as the system has the entries, before the first store link
                    // is written (and before the intents of all of them are saved): their links follow.
                    std::vector<Entry> soFar = session.EntriesSoFar();
                    {
                        const std::lock_guard<std::mutex> lock(rowsLock);
                        rows = std::move(soFar);
                    }
                    Tell();
                }
                bool complete = false;
                while (!complete && !stop) {
                    complete = session.ContinueRefresh(kPart);
                    done = session.ImportDone();
                    Tell();
                }
                if (!complete) {
                    session.AbandonRefresh(); // what it copied so far stays; the next refresh runs whole
                }
            }
        } // the unit of work ends here: bases and records saved, other processes told, the lock released
    } catch (...) {
        failure = std::current_exception();
        door->Session().AbandonRefresh();
    }
    // The link objects made here belong to this thread's apartment, which ends with it.
    door->Session().ReleaseLinkObjects();
    if (SUCCEEDED(apartment)) {
        ::CoUninitialize();
    }
    finished = true;
    ::SetEvent(ended.Get());
    Tell();
}

} // namespace bw
