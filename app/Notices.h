#pragma once

#include "app/Desktop.h"
#include "app/Scheduler.h"
#include "store/StoreSession.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace bw {

// What the window tells the user and asks after the work: the error box, the problems an import met, the edits it
// could not carry, the write-backs that failed, the refusals that rights could mend, and the entries changed on
// both sides. Nothing is shown while the store's lock is held: a message that comes then waits until the lock is
// free, and every question is asked before a command locks.
//
// An entry changed on both sides keeps both sides until the user chooses: it is asked about once per cycle at
// most, and from the row's menu; no answer (Escape, the close box, "later", the window closing) leaves it waiting.
class TNotices {
public:
    // `restart`: starts the program anew as administrator (the user said Yes to the offer).
    TNotices(TDesktop& desktop, TScheduler& scheduler, TStoreSession& session, std::function<void()> restart);

    void Attach(HWND window) { m_window = window; }

    // The error box with `message`; held back while the lock is held, and dropped once the window closes.
    void ShowError(const std::wstring& message);
    // The messages held back while the lock was held.
    void ShowHeldBack();
    // A change needed rights the program lacks: says so, and offers to start the program anew as administrator
    // (only where it does not run as one already).
    void OfferRestart(const std::wstring& message);

    // After a cycle, with the lock free: what the session has to tell, then the choices waiting.
    void Report();

    // True when `entry` was changed on both sides and waits for the user's choice.
    bool IsWaiting(const Entry& entry) const;
    // Asks which change to keep for a waiting entry (the row's menu).
    void AskChoice(const Entry& entry);

private:
    void ReportImportProblems();
    void ReportEditsNotCarried();
    void ReportWriteBackFailures();
    // Asks about one entry changed on both sides; true when a choice was made.
    bool Ask(const BothChanged& entry);
    const BothChanged* WaitingOf(const Entry& entry) const;
    void Forget(const BothChanged& entry);
    void ForgetGone(const std::vector<Entry>& entries);

    TDesktop& m_desktop;
    TScheduler& m_scheduler;
    TStoreSession& m_session;
    std::function<void()> m_restart;
    HWND m_window = nullptr;
    std::vector<std::wstring> m_heldBack;
    std::vector<BothChanged> m_waiting;
    bool m_afterChoice = false; // the next cycle is the one a choice started
};

} // namespace bw
