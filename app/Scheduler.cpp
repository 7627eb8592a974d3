#include "app/Scheduler.h"

#include "app/WindowMessages.h"
#include "resources/Texts.h"
#include "store/ErrorText.h"
#include "store/Locations.h"

#include <algorithm>

namespace bw {

namespace {

// A long import runs in parts of this length from a timer, so that the window answers in between. (A timer,
// not posted messages: those would come before the user's input every time.)
constexpr DWORD kFirstImportPart = 200; // milliseconds; most refreshes end within it
constexpr DWORD kImportPart = 60;

// The first start's rows go into the list in slices that take about this long each, the first of them a screenful;
// the list paints between them, and the window answers.
constexpr ULONGLONG kRowsSliceMs = 40;
constexpr size_t kFirstRows = 50;
constexpr size_t kLeastSlice = 100;

// While another process (bwcli) works on the store, a refresh waits this long for it, and otherwise runs again
// from a timer after a while, a bounded number of times; then the window says so and waits for the user.
constexpr DWORD kRefreshLockWait = 250;
constexpr DWORD kBusyRetry = 500;
constexpr int kBusyRetries = 40; // about half a minute

constexpr bool kBoundedNow = true;

} // namespace

TScheduler::THeld::THeld(TScheduler& scheduler, std::unique_ptr<TStoreDoor::TWork> work)
    : m_scheduler(scheduler), m_work(std::move(work)) {
    ++m_scheduler.m_holds;
}

TScheduler::THeld::~THeld() {
    m_work.reset();
    if (--m_scheduler.m_holds == 0) {
        m_scheduler.LockReleased();
    }
}

TScheduler::TCommand::TCommand(TScheduler& scheduler) : m_scheduler(scheduler) {
    ++m_scheduler.m_commands;
}

TScheduler::TCommand::~TCommand() {
    if (--m_scheduler.m_commands == 0) {
        m_scheduler.CommandEnded();
    }
}

TScheduler::TScheduler(std::shared_ptr<TStoreDoor> door, ProgressControl& progress, Hooks hooks)
    : m_sharedDoor(std::move(door)), m_door(*m_sharedDoor), m_session(m_door.Session()), m_progress(progress),
      m_hooks(std::move(hooks)) {}

TScheduler::~TScheduler() {
    Stop();
}

void TScheduler::Start(HWND window) {
    m_window = window;
    m_live = std::make_unique<TLiveWatch>(window);
}

std::wstring NotSharedText(ENotShared::Reason reason, const std::wstring& name) {
    return reason == ENotShared::AccessDenied ? FormatMessageText(text::kAnotherCopyWorks, ProgramDir())
                                              : FormatMessageText(text::kNameTaken, name);
}

void TScheduler::Stop() {
    if (m_startImport) {
        AbandonImport(); // its thread stops where it stands and ends its unit of work
    }
    if (m_window != nullptr && ::IsWindow(m_window)) {
        for (UINT_PTR timer : {kImportTimer, kBusyTimer, kRowsTimer}) {
            ::KillTimer(m_window, timer);
        }
    }
    m_importing = false;
    m_importLock.reset();
    m_live.reset();
}

std::unique_ptr<TScheduler::THeld> TScheduler::Lock(DWORD waitMs) {
    return std::make_unique<THeld>(*this, m_door.BeginWork(waitMs));
}

std::unique_ptr<TScheduler::THeld> TScheduler::TryLock(DWORD waitMs) {
    std::unique_ptr<TStoreDoor::TWork> work = m_door.TryBeginWork(waitMs);
    if (!work) {
        return nullptr;
    }
    return std::make_unique<THeld>(*this, std::move(work));
}

void TScheduler::LockReleased() {
    // Messages that came while the lock was held are shown from the message loop, never inside the work.
    if (m_window != nullptr) {
        ::PostMessageW(m_window, kNoticesMessage, 0, 0);
    }
}

void TScheduler::CommandEnded() {
    if (m_window == nullptr) {
        return;
    }
    if (m_closeWanted) {
        ::PostMessageW(m_window, WM_CLOSE, 0, 0);
        return;
    }
    if (std::exchange(m_refreshWanted, false)) {
        ::PostMessageW(m_window, kActivateMessage, 0, 0);
    }
}

void TScheduler::RefreshAll(bool everyPlace) {
    everyPlace = everyPlace || std::exchange(m_everyPlaceWanted, false);
    if (m_importing) {
        m_refreshAfterImport = true; // one more once the import under way has ended
        m_everyPlaceWanted = everyPlace;
        return;
    }
    if (InCommand() || m_closeWanted) {
        m_refreshWanted = true; // once the command has ended
        m_everyPlaceWanted = everyPlace;
        return;
    }
    // A watch can die without a word (a key deleted and made again, a share that reconnected): every one is armed
    // anew, and a place whose stamp moved meanwhile counts as changed.
    if (m_live) {
        m_live->RearmAll();
    }
    // Where every place is watched and none changed since a cycle that ran to its end, there is nothing to read.
    // (A refresh that left something to try again, or an entry settled since, reads everything; so does the one the
    // user asks for with F5 or the button, which reads each place by its stamps, notification or not.)
    const TLiveWatch::Scope scope =
        m_live && m_session.Settled() && !everyPlace ? m_live->MustRead(true) : TLiveWatch::Scope{};
    if (scope.Any()) {
        Refresh(true, false, scope);
    }
}

void TScheduler::RefreshChanged() {
    if (!m_live) {
        return;
    }
    if (m_importing) {
        m_refreshAfterImport = true;
        return;
    }
    if (InCommand() || m_closeWanted) {
        m_refreshWanted = true;
        return;
    }
    const TLiveWatch::Scope scope = m_live->MustRead(false);
    if (scope.Any()) {
        Refresh(true, false, scope);
    }
}

void TScheduler::Refresh(bool writeBack, bool afterToggle, TLiveWatch::Scope scope) {
    if (m_leftRunning) {
        return; // a work left running holds the door: the window closes
    }
    if (m_importing) {
        m_refreshAfterImport = true; // one more once the import under way has ended
        return;
    }
    // The first start: the window answers while its thread reads and copies the entries, however many there are.
    // So it does while a folder on another machine is read: where its share went away, the read waits for the
    // network's timeout. (A command's own refresh, with the lock held, runs here: the lock is this thread's.)
    // So does the refresh asked for while the first start ran (its activation, the watch's word of the links it
    // wrote): it reads back thousands of store links just written, and mostly finds them as they were.
    const bool followsStart = std::exchange(m_refreshFollowsStart, false);
    if (m_window != nullptr && !HoldsLock() && (!m_started || followsStart || ReadsRemote(scope))) {
        ImportOnThread(writeBack, afterToggle, scope);
        return;
    }
    std::unique_ptr<THeld> lock = TryLock(kRefreshLockWait);
    if (!lock) {
        m_everyPlaceWanted = m_everyPlaceWanted || (scope.system && scope.store); // the retry reads as much
        BusyRetry();
        if (afterToggle) {
            m_hooks.showBoxes(); // the box clicked shows its entry's state again
        }
        return;
    }
    m_busyRetries = 0;
    if (m_live) {
        m_live->CycleStarts(scope);
    }
    if (!m_session.BeginRefresh(writeBack, &m_progress, scope.system, scope.store)) {
        // Nothing changed: the list stays as it is.
        if (afterToggle) {
            m_hooks.showBoxes();
        }
        if (m_live) {
            m_live->CycleEnds(m_session.Settled());
        }
        return;
    }
    // A first start lists its rows soon rather than all at once, and keeps the window answering meanwhile.
    const bool firstStart = m_hooks.listEmpty();
    if (m_session.ContinueRefresh(firstStart ? kImportPart : kFirstImportPart)) {
        if (m_live) {
            m_live->CycleEnds(m_session.Settled());
        }
        m_hooks.show(afterToggle);
        lock.reset();
        m_hooks.cycleEnded();
        return;
    }
    // Many entries to copy (the first start with a large system): the window answers meanwhile, and no
    // command reaches the store until the import has ended.
    m_importing = true;
    m_importLock = std::move(lock);
    if (firstStart) {
        // The rows are there at once, as the system has the entries; the boxes wait for the import's end, as every
        // command does.
        m_hooks.showSoFar(m_session.EntriesSoFar());
    }
    m_hooks.status(FormatMessageText(
        text::kImportProgress, {std::to_wstring(m_session.ImportDone()), std::to_wstring(m_session.ImportTotal())}));
    ::SetTimer(m_window, kImportTimer, 1, nullptr);
}

const std::vector<Entry>& TScheduler::ReadAgain() {
    const TLiveWatch::Scope everything{};
    if (m_live) {
        m_live->CycleStarts(everything);
    }
    if (m_session.BeginRefresh(false, &m_progress)) {
        (void)m_session.ContinueRefresh(0);
        m_hooks.show(false); // what was read is what the list shows, also where the command then changes nothing
    }
    if (m_live) {
        m_live->CycleEnds(m_session.Settled());
    }
    return m_session.Entries();
}

const std::vector<Entry>& TScheduler::TLocked::ReadAgain() {
    if (m_scheduler != nullptr) {
        return m_scheduler->ReadAgain();
    }
    // Off the window's thread: only the reading. The list and the watches are the window's to tell afterwards.
    TStoreSession& session = m_work.Session();
    if (session.BeginRefresh(false, nullptr)) {
        (void)session.ContinueRefresh(0);
        m_order.changed = true;
    }
    m_order.read = true;
    if (*m_stop) {
        throw EWorkStopped(); // the network held the read past the window's close: nothing is changed now
    }
    return session.Entries();
}

ProgressControl* TScheduler::TLocked::Progress() const {
    return m_scheduler != nullptr ? &m_scheduler->m_progress : nullptr;
}

bool TScheduler::Remote(Reach reach) const {
    return m_live && m_live->ReadsRemote({reach != Reach::Store, true});
}

bool TScheduler::StoreIsRemote() const {
    return Remote(Reach::Store);
}

bool TScheduler::RunLocked(Reach reach, Act act, const std::shared_ptr<Order>& order, DWORD lockWait, bool closing) {
    if (m_leftRunning) {
        return false; // the door is no longer this window's: it closes
    }
    if (!Remote(reach)) {
        const auto lock = Lock(lockWait);
        TLocked locked(lock->Work(), this, *order, nullptr);
        act(locked, *order);
        return true;
    }
    if (reach == Reach::Everything && m_live) {
        m_live->CycleStarts({}); // what changes from here on is news of a later cycle, as for ReadAgain here
    }
    // The lock belongs to the thread that takes it: the work's thread takes it itself, and holds the store for the
    // window meanwhile (nothing is asked or shown).
    ++m_holds;
    TCommandWork work([door = m_sharedDoor, act, order, lockWait](const std::atomic<bool>& stop) {
        try {
            {
                const std::unique_ptr<TStoreDoor::TWork> unit = door->BeginWork(lockWait);
                TLocked locked(*unit, nullptr, *order, &stop);
                if (!stop) {
                    act(locked, *order);
                }
            }
            door->Session().ReleaseLinkObjects(); // they belong to this thread's apartment
        } catch (...) {
            door->Session().ReleaseLinkObjects();
            throw;
        }
    });
    // The close's own work is bounded from its start; a command's from the moment the window is closed.
    const bool& bounded = closing || m_closeWanted ? kBoundedNow : m_closeWanted;
    const bool ended = work.Wait(bounded, kCloseWorkWait);
    // A work that did not end still holds the store: this window no longer works on it (it closes).
    m_leftRunning = !ended;
    if (--m_holds == 0) {
        LockReleased();
    }
    if (!ended) {
        return false;
    }
    if (order->read) {
        if (order->changed) {
            m_hooks.show(false); // what was read is what the list shows, also where the command then changed nothing
        }
        if (m_live) {
            m_live->CycleEnds(m_session.Settled());
        }
    }
    if (work.Failure()) {
        std::rethrow_exception(work.Failure());
    }
    return true;
}

void TScheduler::WriteBackAtClose(DWORD lockWait) {
    const auto writeBack = [](TLocked& locked, Order&) { locked.Work().Session().WriteBack(locked.Progress()); };
    (void)RunLocked(Reach::Everything, writeBack, std::make_shared<Order>(), lockWait, true);
}

void TScheduler::BusyRetry() {
    if (m_window == nullptr) {
        return;
    }
    if (++m_busyRetries <= kBusyRetries) {
        ::SetTimer(m_window, kBusyTimer, kBusyRetry, nullptr);
        return;
    }
    // Said once; the next refresh the user asks for tries again.
    m_busyRetries = 0;
    m_hooks.notice(text::kStoreStaysBusy);
}

void TScheduler::ContinueImport() {
    if (!m_importing) {
        ::KillTimer(m_window, kImportTimer);
        return;
    }
    bool done = false;
    try {
        done = m_session.ContinueRefresh(kImportPart);
    } catch (...) {
        AbandonImport();
        throw;
    }
    if (!done) {
        m_hooks.status(FormatMessageText(text::kImportProgress, {std::to_wstring(m_session.ImportDone()),
                                                                 std::to_wstring(m_session.ImportTotal())}));
        return;
    }
    ::KillTimer(m_window, kImportTimer);
    m_importing = false;
    if (m_live) {
        m_live->CycleEnds(m_session.Settled());
    }
    m_hooks.status(L"");
    m_hooks.show(true); // commands waited meanwhile, but a box may have been clicked
    m_importLock.reset();
    m_hooks.cycleEnded();
    if (std::exchange(m_refreshAfterImport, false)) {
        ::PostMessageW(m_window, kActivateMessage, 0, 0);
    }
}

void TScheduler::ImportOnThread(bool writeBack, bool afterToggle, TLiveWatch::Scope scope) {
    m_importing = true;
    ++m_holds; // the store is held, by the import's thread: nothing is asked or shown meanwhile
    m_startAfterToggle = afterToggle;
    if (m_live) {
        m_live->CycleStarts(scope);
    }
    // Only a list that shows nothing yet takes the rows before their store links are written. Its programs' facts
    // and icons are read once the links are written: on a machine of two cores, the readers would take half the
    // time of the writes, and the rows come first.
    const bool first = m_hooks.listEmpty();
    if (first && m_hooks.holdReaders) {
        m_readersHeld = true;
        m_hooks.holdReaders(true);
    }
    m_startImport = std::make_unique<TStartImport>(m_sharedDoor, m_window, writeBack, scope.system, scope.store, first);
}

bool TScheduler::ReadsRemote(TLiveWatch::Scope scope) const {
    // A refresh after one that left something to try again reads every place, whatever its scope.
    const bool whole = !m_session.Settled();
    return m_live && m_live->ReadsRemote({scope.system || whole, scope.store || whole});
}

void TScheduler::StartImportNews() {
    if (!m_startImport) {
        return; // news of an import already ended or dropped
    }
    if (auto rows = m_startImport->TakeRowsSoFar()) {
        m_rowsSoFar = std::move(*rows);
        m_rowsShown = 0;
        m_rowsSlice = kFirstRows;
        ShowMoreRows();
    } else if (!m_rowsSoFar.empty()) {
        ShowMoreRows(); // the thread's news come often, the timer only when nothing else waits
    }
    if (!m_startImport->Ended()) {
        if (m_startImport->Total() > 0) {
            m_hooks.status(FormatMessageText(text::kImportProgress, {std::to_wstring(m_startImport->Done()),
                                                                     std::to_wstring(m_startImport->Total())}));
        }
        return;
    }
    ImportEnded();
}

void TScheduler::ShowMoreRows() {
    if (m_rowsSoFar.empty() || !m_importing) {
        ::KillTimer(m_window, kRowsTimer);
        return;
    }
    // Each slice puts the next rows in among those shown (the list keeps its own order); a screenful comes first.
    const ULONGLONG start = ::GetTickCount64();
    m_rowsShown = std::min(m_rowsSoFar.size(), m_rowsShown + m_rowsSlice);
    m_hooks.showSoFar(
        std::vector<Entry>(m_rowsSoFar.begin(), m_rowsSoFar.begin() + static_cast<std::ptrdiff_t>(m_rowsShown)));
    if (m_rowsShown >= m_rowsSoFar.size()) {
        ::KillTimer(m_window, kRowsTimer);
        m_rowsSoFar.clear();
        return;
    }
    // The next slice as large as fits in its time, growing at most twofold (a slice also costs what is shown).
    const ULONGLONG took = std::max<ULONGLONG>(1, ::GetTickCount64() - start);
    m_rowsSlice =
        std::clamp<size_t>(static_cast<size_t>(m_rowsSlice * kRowsSliceMs / took), kLeastSlice, 2 * m_rowsSlice);
    // A timer, so that input and painting come first.
    ::SetTimer(m_window, kRowsTimer, 1, nullptr);
}

void TScheduler::LetReadersGo() {
    if (std::exchange(m_readersHeld, false)) {
        m_hooks.holdReaders(false);
    }
}

void TScheduler::ImportEnded() {
    ::KillTimer(m_window, kRowsTimer);
    const std::unique_ptr<TStartImport> import = std::move(m_startImport);
    const bool firstStart = !m_started;
    m_importing = false;
    m_rowsSoFar.clear();
    // Its unit of work has ended on its thread: the lock is free.
    if (--m_holds == 0) {
        LockReleased();
    }
    if (!import->Locked()) {
        LetReadersGo();
        if (m_live) {
            m_live->CycleEnds(false);
        }
        BusyRetry();
        if (m_startAfterToggle) {
            m_hooks.showBoxes();
        }
        return;
    }
    m_started = true;
    m_busyRetries = 0;
    if (m_live) {
        m_live->CycleEnds(m_session.Settled());
    }
    m_hooks.status(L"");
    if (import->Failure()) {
        LetReadersGo();
        std::rethrow_exception(import->Failure());
    }
    if (import->Changed()) {
        // The readers go on once the list holds what the import left: they are told of its programs once, not
        // first of the rows listed so far and then again of all.
        try {
            m_hooks.show(true); // commands waited meanwhile, but a box may have been clicked
        } catch (...) {
            LetReadersGo();
            throw;
        }
        LetReadersGo();
        m_hooks.cycleEnded();
    } else {
        LetReadersGo();
        if (m_startAfterToggle) {
            m_hooks.showBoxes();
        }
    }
    if (std::exchange(m_refreshAfterImport, false)) {
        m_refreshFollowsStart = firstStart;
        ::PostMessageW(m_window, kActivateMessage, 0, 0);
    }
}

void TScheduler::AbandonImport() {
    if (!m_importing) {
        return;
    }
    if (m_window != nullptr) {
        ::KillTimer(m_window, kImportTimer);
        ::KillTimer(m_window, kRowsTimer);
    }
    m_importing = false;
    if (m_startImport) {
        LetReadersGo();
        // It stops where it stands and ends its unit of work on its own thread; one the network holds is left to it.
        m_leftRunning = !m_startImport->Stop() || m_leftRunning;
        m_startImport.reset();
        m_rowsSoFar.clear();
        if (--m_holds == 0) {
            LockReleased();
        }
        return;
    }
    m_importLock.reset();
    m_session.AbandonRefresh();
}

bool TScheduler::TimerFired(UINT_PTR id) {
    if (m_live && m_live->TimerFired(id)) {
        RefreshChanged();
        return true;
    }
    switch (id) {
    case kImportTimer:
        ContinueImport();
        return true;
    case kRowsTimer:
        ShowMoreRows();
        return true;
    case kBusyTimer:
        ::KillTimer(m_window, kBusyTimer);
        if (InCommand() || m_closeWanted) {
            m_refreshWanted = true;
            return true;
        }
        RefreshAll();
        return true;
    default:
        return false;
    }
}

void TScheduler::WatchChanged() {
    if (m_live) {
        m_live->Changed();
    }
}

} // namespace bw
