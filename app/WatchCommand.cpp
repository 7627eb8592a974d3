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

bool TMainForm::WatchesWhileClosed() const {
    for (const Entry& entry : m_door.Entries()) {
        if (IsWatcherEntry(entry, ModulePath()) && IsEnabledCode(entry.code)) {
            return true;
        }
    }
    return false;
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
            const Entry* enabled = nullptr;
            const Entry* switchedOff = nullptr;
            for (const Entry& entry : work.Entries()) {
                if (IsWatcherEntry(entry, ModulePath())) {
                    (IsEnabledCode(entry.code) ? enabled : switchedOff) = &entry;
                }
            }
            on = enabled == nullptr;
            if (enabled != nullptr) {
                work.Delete(*enabled);
            } else if (switchedOff != nullptr) {
                work.Enable(*switchedOff, &m_toolBar.Progress()); // the copy the person switched off starts again
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
