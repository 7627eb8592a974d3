#include "app/Scheduler.h"

#include "app/WindowMessages.h"
#include "resources/Texts.h"
#include "store/ErrorText.h"
#include "store/Locations.h"

namespace bw {

namespace {

// A long import runs in parts of this length from a timer, so that the window answers in between. (A timer,
// not posted messages: those would come before the user's input every time.)
constexpr DWORD kFirstImportPart = 200; // milliseconds; most refreshes end within it
constexpr DWORD kImportPart = 60;

// While another process (bwcli) works on the store, a refresh waits this long for it, and otherwise runs again
// from a timer after a while, a bounded number of times; then the window says so and waits for the user.
constexpr DWORD kRefreshLockWait = 250;
constexpr DWORD kBusyRetry = 500;
constexpr int kBusyRetries = 40; // about half a minute

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

TScheduler::TScheduler(TStoreDoor& door, ProgressControl& progress, Hooks hooks)
    : m_door(door), m_session(door.Session()), m_progress(progress), m_hooks(std::move(hooks)) {}

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
    if (m_window != nullptr && ::IsWindow(m_window)) {
        for (UINT_PTR timer : {kImportTimer, kBusyTimer}) {
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
    if (m_importing) {
        m_refreshAfterImport = true; // one more once the import under way has ended
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
        m_hooks.showSoFar();
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

void TScheduler::AbandonImport() {
    if (!m_importing) {
        return;
    }
    if (m_window != nullptr) {
        ::KillTimer(m_window, kImportTimer);
    }
    m_importing = false;
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
