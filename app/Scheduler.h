#pragma once

#include "app/CommandWork.h"
#include "app/LiveWatch.h"
#include "app/StartImport.h"
#include "store/StoreDoor.h"
#include "store/StoreLock.h"
#include "store/StoreQueries.h"
#include "store/StoreSession.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bw {

class ProgressControl;

// How long a window that closes waits for a command's work, or its own write-back, on a place on another machine:
// one that the network holds longer is left to end by itself.
inline constexpr DWORD kCloseWorkWait = 500; // milliseconds

// When the window works on the store: the one place where it takes the store's lock, the commands under way, and
// the refresh cycle and the long import with their timers.
//
// A command (a toggle, a delete, a question, a menu, the error box) runs inside a TCommand. While one is under
// way no refresh cycle starts: a change notification, an activation or a retry that comes meanwhile (a modal
// dialog's own message loop hands them on) is taken up once the outermost command has ended. The lock is held
// for one command's work only: a command asks first, then locks, reads the entries again and acts.
class TScheduler {
public:
    struct Hooks {
        std::function<void(bool everyBox)> show;         // the session's entries into the list
        std::function<void()> showBoxes;                 // the boxes show their entries' state again
        std::function<void(const std::wstring&)> status; // the import's progress; "" once it ended
        std::function<void()> cycleEnded;                // a cycle that showed entries ended; the lock is free
        std::function<void(const std::wstring&)> notice; // a message for the user; shown once the lock is free
        std::function<bool()> listEmpty;                 // no row is listed yet (the first start)
        // The entries as the system has them, while their store links are written (the first start): called
        // with more of them each time, the first rows at once.
        std::function<void(const std::vector<Entry>&)> showSoFar;
        std::function<void(bool)> holdReaders; // the readers of the programs' facts and icons wait, or go on
    };

    // `door` is shared with a refresh's thread, which may outlive the window (TStartImport).
    TScheduler(std::shared_ptr<TStoreDoor> door, ProgressControl& progress, Hooks hooks);
    ~TScheduler();
    TScheduler(const TScheduler&) = delete;
    TScheduler& operator=(const TScheduler&) = delete;

    // Starts watching the places the list shows and the work of other processes on the store.
    void Start(HWND window);
    // The window goes: no timer runs any more, nothing is watched.
    void Stop();

    // A unit of work on the store's door as this window holds it (the lock with it); released when it goes.
    class THeld {
    public:
        THeld(TScheduler& scheduler, std::unique_ptr<TStoreDoor::TWork> work);
        ~THeld();
        THeld(const THeld&) = delete;
        THeld& operator=(const THeld&) = delete;

        // The unit of work: every change of an entry goes through it.
        TStoreDoor::TWork& Work() { return *m_work; }

    private:
        TScheduler& m_scheduler;
        std::unique_ptr<TStoreDoor::TWork> m_work;
    };
    // Begins a unit of work on the door, waiting up to `waitMs` for the lock; raises EStoreBusy when another
    // process still holds it then. The door takes in another process's work since this window's last.
    [[nodiscard]] std::unique_ptr<THeld> Lock(DWORD waitMs = kStoreLockWait);
    // The same, or null when the store is still busy after `waitMs`.
    [[nodiscard]] std::unique_ptr<THeld> TryLock(DWORD waitMs);
    bool HoldsLock() const { return m_holds > 0; }

    // What a command's locked work may read besides the store's own files, which every unit of work reads and
    // saves: the Startup folders as well (the work is on an entry of one, or adds one there), or every place (it reads
    // the entries again, or writes the store's edits back).
    enum class Reach { Store, Folders, Everything };

    // What a command's locked work acts on and what it leaves, held by the work alone: the window's thread may leave
    // it behind (RunLocked). Each command uses the parts it needs.
    struct Order {
        std::vector<Entry> entries;
        bool yes = false;                 // the user's answer: replace what starts now, use the edit
        int code = 0;                     // where a shortcut is added
        std::wstring text;                // the program to add; then the shortcut added, or the failures met
        std::optional<StartingTwin> twin; // what an entry to switch on would replace
        std::optional<BothChanged> both;  // an entry changed on both sides
        bool refused = false;             // it changed while the question was open: nothing was done
        bool read = false;                // the entries were read again (ReadAgain)
        bool changed = false;             // and differ from what the list shows
    };
    // What a command's locked work is handed: the unit of work, and the entries read again.
    class TLocked {
    public:
        TStoreDoor::TWork& Work() { return m_work; }
        // The entries as they are now, read whole (no long import); only for Reach::Everything. A work that the
        // window no longer waits for ends here (EWorkStopped) and changes nothing.
        const std::vector<Entry>& ReadAgain();
        // The tool bar's progress bar on the window's thread; none on another.
        ProgressControl* Progress() const;

    private:
        friend class TScheduler;
        TLocked(TStoreDoor::TWork& work, TScheduler* scheduler, Order& order, const std::atomic<bool>* stop)
            : m_work(work), m_scheduler(scheduler), m_order(order), m_stop(stop) {}
        TStoreDoor::TWork& m_work;
        TScheduler* m_scheduler; // null off the window's thread
        Order& m_order;
        const std::atomic<bool>* m_stop;
    };
    // A plain function, not a closure: a closure per command would bring std::function's machinery into the program
    // once for each, and the program is kept within 1 MB.
    using Act = void (*)(TLocked& locked, Order& order);
    // A command's locked work: `act` runs on `order` inside one unit of work on the door, the lock waited for up to
    // `lockWait` (EStoreBusy). Where it may read a place on another machine (`reach`), on a thread of its own
    // (TCommandWork): the window handles its messages meanwhile but takes no command and starts no cycle, as inside
    // any command. Elsewhere here, at once. Raises what `act` raised. False when the window closed meanwhile (or
    // `closing`: it closes now) and the work did not end within kCloseWorkWait: it is left to end by itself holding
    // the store (LeftRunning), and the command ends without a word.
    [[nodiscard]] bool RunLocked(Reach reach, Act act, const std::shared_ptr<Order>& order,
                                 DWORD lockWait = kStoreLockWait, bool closing = false);
    // The close's write-back of the store's edits (TStoreSession::WriteBack) through RunLocked, closing; nothing
    // where a refresh or a command left running holds the store (what it did not write stays in the store).
    void WriteBackAtClose(DWORD lockWait);
    // True when the store's folders (and the program's folder with them) lie on another machine.
    bool StoreIsRemote() const;

    // One command of the user, from its first question to its last message.
    class TCommand {
    public:
        explicit TCommand(TScheduler& scheduler);
        ~TCommand();
        TCommand(const TCommand&) = delete;
        TCommand& operator=(const TCommand&) = delete;

    private:
        TScheduler& m_scheduler;
    };
    bool InCommand() const { return m_commands > 0; }

    // The window is to close once the command under way has ended; every question still open is no answer.
    void WantClose() { m_closeWanted = true; }
    bool Closing() const { return m_closeWanted; }
    void CloseDone() { m_closeWanted = false; }

    // A refresh the user asked for: every watch is armed anew. `everyPlace` (F5, the button): every place is read
    // by its stamps, whatever the watches said; else (activation) what may have changed.
    void RefreshAll(bool everyPlace = false);
    // The refresh after a watched place changed.
    void RefreshChanged();
    // The refresh of a command, with the lock held or not: runs now, inside the command.
    // `afterToggle`: every box shows its entry again, also where nothing changed.
    void Refresh(bool writeBack, bool afterToggle = false, TLiveWatch::Scope scope = {});
    // With the lock held, after a question: the entries as they are now, read whole (no long import).
    const std::vector<Entry>& ReadAgain();

    bool Importing() const { return m_importing; }
    // Drops an import under way (the window closes); what it copied so far stays.
    void AbandonImport();
    // A refresh's thread was dropped while the network held its read: it still holds the store's lock and works on
    // the door until it ends, so this window works on neither any more (the window closes).
    bool LeftRunning() const { return m_leftRunning; }

    // WM_TIMER and the watch's message; true when the timer was one of the scheduler's.
    bool TimerFired(UINT_PTR id);
    // kStartImportMessage: the first start's import on its thread has news.
    void StartImportNews();
    void WatchChanged();
    bool Watching() const { return m_live != nullptr; }

private:
    // The refresh of a list that shows nothing yet, or one that reads a folder on another machine, as one unit of
    // work on a thread of its own (TStartImport).
    void ImportOnThread(bool writeBack, bool afterToggle, TLiveWatch::Scope scope);
    bool ReadsRemote(TLiveWatch::Scope scope) const;
    bool Remote(Reach reach) const;
    void ImportEnded();
    // The next slice of the rows so far into the list.
    void ShowMoreRows();
    void LetReadersGo();
    void ContinueImport();
    void EndCycle(bool shown, bool afterToggle);
    void LockReleased();
    void CommandEnded();
    void BusyRetry();

    std::shared_ptr<TStoreDoor> m_sharedDoor;
    TStoreDoor& m_door;
    TStoreSession& m_session;
    ProgressControl& m_progress;
    Hooks m_hooks;
    HWND m_window = nullptr;
    std::unique_ptr<TLiveWatch> m_live;
    int m_holds = 0;
    int m_commands = 0;
    bool m_closeWanted = false;
    bool m_refreshWanted = false;
    bool m_everyPlaceWanted = false; // the refresh waiting reads every place
    bool m_importing = false;
    bool m_refreshAfterImport = false;
    bool m_started = false;              // the first start's refresh has run
    std::unique_ptr<THeld> m_importLock; // held from the start of a long import to its end
    std::unique_ptr<TStartImport> m_startImport;
    bool m_leftRunning = false;
    bool m_startAfterToggle = false;
    bool m_readersHeld = false;         // the first start's import holds the readers of facts and icons
    bool m_refreshFollowsStart = false; // the next refresh reads what the first start wrote: on a thread too
    std::vector<Entry> m_rowsSoFar;     // the first start's rows, shown a slice at a time
    size_t m_rowsShown = 0;
    size_t m_rowsSlice = 0;
    int m_busyRetries = 0; // retries of a refresh since the store was last free
};

// What the window says when the store's named objects are not to be shared: the entries are only listed.
std::wstring NotSharedText(ENotShared::Reason reason, const std::wstring& name);
inline std::wstring NotSharedText(const ENotShared& error) {
    return NotSharedText(error.WhyNot(), error.Subject());
}

} // namespace bw
