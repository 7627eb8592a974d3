#include "app/Notices.h"

#include "app/EntryOrder.h"
#include "app/WindowMessages.h"
#include "platform/FileSystem.h"
#include "platform/Token.h"
#include "resources/Texts.h"
#include "store/ErrorText.h"
#include "store/Locations.h"

#include <algorithm>
#include <memory>

namespace bw {

namespace {

bool SameEntry(const BothChanged& waiting, const Entry& entry) {
    return waiting.code == entry.code && SameFileName(waiting.name, entry.name);
}

// The entry as the system now has it still starts with what the question named.
bool StillStartsAsAsked(const BothChanged& asked, const std::vector<Entry>& entries) {
    return std::any_of(entries.begin(), entries.end(), [&](const Entry& entry) {
        return SameEntry(asked, entry) &&
               (CommandLineOf(entry) == asked.systemSide || entry.target == asked.systemSide);
    });
}

// Settles the order's entry as the user chose, where it still starts as the question said.
void SettleAct(TScheduler::TLocked& locked, TScheduler::Order& order) {
    order.refused = !StillStartsAsAsked(*order.both, locked.ReadAgain());
    if (!order.refused) {
        locked.Work().Session().Settle(*order.both, order.yes);
    }
}

} // namespace

TNotices::TNotices(TDesktop& desktop, TScheduler& scheduler, TStoreSession& session, std::function<void()> restart)
    : m_desktop(desktop), m_scheduler(scheduler), m_session(session), m_restart(std::move(restart)) {}

void TNotices::ShowError(const std::wstring& message) {
    if (m_scheduler.Closing()) {
        return; // the window closes: nobody is there to read it
    }
    if (m_scheduler.HoldsLock()) {
        m_heldBack.push_back(message); // shown from the message loop once the lock is free
        return;
    }
    // While the box is open no refresh cycle runs: it would as likely fail the same way and stack a second box
    // on the first. It runs once the box is closed.
    const TScheduler::TCommand command(m_scheduler);
    m_desktop.ShowError(m_window, ApplicationTitle(ModulePath()), ErrorBoxText(message));
}

void TNotices::ShowHeldBack() {
    if (m_scheduler.HoldsLock()) {
        return; // the next release posts again
    }
    for (const std::wstring& message : std::exchange(m_heldBack, {})) {
        ShowError(message);
    }
}

void TNotices::OfferRestart(const std::wstring& message) {
    if (RunsAsAdministrator()) {
        ShowError(message); // refused all the same: restarting would not help
        return;
    }
    if (m_scheduler.Closing() || m_scheduler.HoldsLock()) {
        ShowError(message);
        return;
    }
    bool restart = false;
    {
        const TScheduler::TCommand command(m_scheduler);
        // "No", the default, and no answer leave the window as it is; only a Yes closes it for the elevated copy.
        restart = m_desktop.ConfirmDefaultNo(m_window, FormatMessageText(text::kRestartQuestion, message)) &&
                  !m_scheduler.Closing();
    }
    if (restart) {
        m_restart();
    }
}

void TNotices::Report() {
    ReportImportProblems();
    ReportEditsNotCarried();
    ReportWriteBackFailures();
    // The cycle that a choice of the last one started asks only what is new: what the user left waiting there
    // comes again at the next cycle of its own.
    const bool askWaiting = !std::exchange(m_afterChoice, false);
    std::vector<BothChanged> ask;
    for (const BothChanged& entry : m_session.TakeBothChanged()) {
        Forget(entry);
        m_waiting.push_back(entry);
        ask.push_back(entry);
    }
    ForgetGone(m_session.Entries());
    if (askWaiting) {
        ask = m_waiting;
    }
    // Each choice is asked once in this cycle at most; no answer leaves it for the next one or the row's menu.
    bool settled = false;
    for (const BothChanged& entry : ask) {
        if (m_scheduler.Closing()) {
            break;
        }
        settled = Ask(entry) || settled;
    }
    if (settled && m_window != nullptr) {
        m_afterChoice = true;
        ::PostMessageW(m_window, kActivateMessage, 0, 0); // the entries are mirrored afresh
    }
}

void TNotices::Forget(const BothChanged& entry) {
    m_waiting.erase(std::remove_if(m_waiting.begin(), m_waiting.end(),
                                   [&](const BothChanged& known) {
                                       return known.code == entry.code && SameFileName(known.name, entry.name);
                                   }),
                    m_waiting.end());
}

void TNotices::ForgetGone(const std::vector<Entry>& entries) {
    m_waiting.erase(std::remove_if(m_waiting.begin(), m_waiting.end(),
                                   [&](const BothChanged& waiting) {
                                       return std::none_of(entries.begin(), entries.end(), [&](const Entry& entry) {
                                           return SameEntry(waiting, entry);
                                       });
                                   }),
                    m_waiting.end());
}

bool TNotices::Ask(const BothChanged& entry) {
    if (m_scheduler.HoldsLock() || m_scheduler.Closing()) {
        return false; // never while the store is held; it stays waiting
    }
    bool changedMeanwhile = false;
    {
        const TScheduler::TCommand command(m_scheduler);
        const Answer answer = m_desktop.Choose(
            m_window, FormatMessageText(text::kBothChangedQuestion, {entry.name, entry.systemSide, entry.storeSide}),
            text::kKeepStartsNow, text::kUseEdit);
        if (answer == Answer::None || m_scheduler.Closing()) {
            return false; // no answer: both sides stay as they are
        }
        // Asked first, then locked: the entry is read again, and settled only as it was when asked.
        const auto order = std::make_shared<TScheduler::Order>();
        order->both = entry;
        order->yes = answer == Answer::No; // the edit is used
        if (!m_scheduler.RunLocked(TScheduler::Reach::Everything, SettleAct, order)) {
            return false; // the window closes: the entry stays waiting
        }
        changedMeanwhile = order->refused;
    }
    Forget(entry);
    if (changedMeanwhile) {
        ShowError(FormatMessageText(text::kChangedMeanwhile, entry.name));
    }
    return true;
}

const BothChanged* TNotices::WaitingOf(const Entry& entry) const {
    const auto found = std::find_if(m_waiting.begin(), m_waiting.end(),
                                    [&](const BothChanged& waiting) { return SameEntry(waiting, entry); });
    return found == m_waiting.end() ? nullptr : &*found;
}

bool TNotices::IsWaiting(const Entry& entry) const {
    return WaitingOf(entry) != nullptr;
}

void TNotices::AskChoice(const Entry& entry) {
    const BothChanged* waiting = WaitingOf(entry);
    if (waiting == nullptr) {
        return;
    }
    const BothChanged asked = *waiting;
    if (Ask(asked) && m_window != nullptr) {
        m_afterChoice = true;
        ::PostMessageW(m_window, kActivateMessage, 0, 0);
    }
}

void TNotices::ReportWriteBackFailures() {
    std::wstring others;
    std::wstring needRights;
    for (const WriteBackFailure& failure : m_session.TakeWriteBackFailures()) {
        std::wstring& text = failure.needsRights ? needRights : others;
        text +=
            (text.empty() ? L"" : L"\n") + FormatMessageText(text::kWriteBackFailed, {failure.name, failure.message});
    }
    if (!others.empty()) {
        ShowError(others);
    }
    if (!needRights.empty()) {
        OfferRestart(needRights);
    }
}

void TNotices::ReportImportProblems() {
    const std::vector<ImportProblem> problems = m_session.TakeNewProblems();
    if (problems.empty()) {
        return;
    }
    std::wstring lines;
    for (const ImportProblem& problem : problems) {
        lines += FormatMessageText(text::kImportProblemLine, {problem.name, ProgramDir() + problem.folder});
    }
    ShowError(FormatMessageText(text::kImportProblems, lines)); // once per entry and run, never at each refresh
}

void TNotices::ReportEditsNotCarried() {
    const std::vector<EditNotCarried> edits = m_session.TakeEditsNotCarried();
    if (edits.empty()) {
        return;
    }
    std::wstring lines;
    for (const EditNotCarried& edit : edits) {
        lines += FormatMessageText(text::kEditNotCarriedLine, {edit.name, edit.storeLinkPath, edit.reason});
    }
    ShowError(FormatMessageText(text::kEditsNotCarried, lines));
}

} // namespace bw
