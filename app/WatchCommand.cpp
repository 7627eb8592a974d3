#include "app/MainForm.h"

#include "app/WatchCommand.h"
#include "platform/FileSystem.h"
#include "resources/Texts.h"
#include "store/ErrorText.h"
#include "store/Locations.h"
#include "store/StoreQueries.h"

// "Watch start-up while Bootwarden is closed": the watcher's own entry in the user's Run key, and the watcher
// itself, started and ended with it.

namespace bw {

namespace {

// The watcher's own entry among `entries`: the copy that starts, and the copy kept switched off (each may be null).
struct WatcherEntries {
    const Entry* enabled = nullptr;
    const Entry* switchedOff = nullptr;
};
WatcherEntries FindWatcherEntries(const std::vector<Entry>& entries) {
    WatcherEntries found;
    const std::wstring program = ModulePath();
    for (const Entry& entry : entries) {
        if (IsWatcherEntry(entry, program)) {
            (IsEnabledCode(entry.code) ? found.enabled : found.switchedOff) = &entry;
        }
    }
    return found;
}

} // namespace

bool TMainForm::WatchesWhileClosed() const {
    return FindWatcherEntries(m_door.Entries()).enabled != nullptr;
}

void TMainForm::WatchWhileClosedClick() {
    if (m_scheduler.InCommand() || m_scheduler.Importing() || m_door.ReadOnly()) {
        return;
    }
    bool on = !WatchesWhileClosed();
    std::wstring failure;
    {
        const TScheduler::TCommand command(m_scheduler);
        try {
            const auto lock = m_scheduler.Lock();
            TStoreDoor::TWork& work = lock->Work();
            work.Refresh(false); // another program may have changed the entry since the menu was shown
            const WatcherEntries found = FindWatcherEntries(work.Entries());
            on = found.enabled == nullptr;
            if (found.enabled != nullptr) {
                work.Delete(*found.enabled);
            } else if (found.switchedOff != nullptr) {
                work.Enable(*found.switchedOff, &m_toolBar.Progress()); // the copy switched off starts again
            } else {
                // Named by the path the program was started from (an installer's link to its current version),
                // never by a folder that an update takes away.
                work.AddRunValue(kUserCode, kWatcherEntryName, WatcherCommandLine(ModulePath()));
            }
        } catch (const EBootwarden& error) {
            failure = ErrorText(error);
        }
    }
    if (!failure.empty()) {
        ShowException(FormatMessageText(text::kWatchWhileClosedFailed,
                                        {on ? text::kWatchTurnedOn : text::kWatchTurnedOff, failure}));
        m_scheduler.RefreshAll();
        return;
    }
    if (on) {
        (void)OpenWithShell(ModulePath(), kWatchSwitch, ProgramDir(), SW_SHOWNORMAL); // a second one ends at once
    } else if (const HWND watcher = ::FindWindowW(kWatcherWindowClass, nullptr)) {
        ::PostMessageW(watcher, WM_CLOSE, 0, 0);
    }
    m_scheduler.RefreshAll();
}

} // namespace bw
