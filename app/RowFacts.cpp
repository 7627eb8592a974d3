#include "app/MainForm.h"

#include "app/ContextMenu.h"
#include "app/Controls.h"
#include "app/HistoryDialog.h"
#include "platform/FileSystem.h"
#include "resources/Texts.h"
#include "store/ErrorText.h"
#include "store/FileFacts.h"
#include "store/StoreQueries.h"

// The View menu, and what the status bar says of a row's program once the reader of file facts has looked at it.

namespace bw {

std::wstring TMainForm::RowStatus(int row) const {
    const Entry& entry = m_list.RowEntry(row);
    if (entry.problem != EntryProblem::None) {
        return ProblemText(entry.problem);
    }
    if (entry.switchedOffInWindows) {
        return text::kSwitchedOffInWindows;
    }
    if (IsWatcherEntry(entry, ModulePath())) {
        return text::kWatcherEntryStatus;
    }
    const SignatureVerdict& signature = entry.signature;
    if (ClaimUnconfirmed(entry)) {
        switch (signature.kind) {
        case SignatureKind::NotValid:
            return FormatMessageText(text::kClaimNotValid, {entry.publisher, SignatureReasonText(signature.status)});
        case SignatureKind::Verified:
            return FormatMessageText(text::kClaimOtherSigner, {entry.publisher, signature.signer});
        default:
            return FormatMessageText(text::kClaimNotSigned, entry.publisher);
        }
    }
    if (entry.factsKnown && signature.kind == SignatureKind::NotValid) {
        return FormatMessageText(text::kSignatureNotValid, SignatureReasonText(signature.status));
    }
    return m_list.TargetText(row);
}

void TMainForm::FactsRead() {
    const int row = m_list.Selected();
    if (row < 0) {
        return;
    }
    ShowRowDetails(row);
    std::wstring status = RowStatus(row);
    if (m_seen.IsNew(m_list.RowEntry(row))) {
        status = FormatMessageText(text::kNewEntryStatus, status);
    }
    SbSetText(m_statusBar, status);
}

void TMainForm::ShowViewMenu() {
    UniqueMenu menu(::CreatePopupMenu());
    ::AppendMenuW(menu.Get(), MF_STRING | (m_list.HidesWindows() ? MF_CHECKED : MF_UNCHECKED),
                  TToolBar::HideWindowsCommand, text::kMenuHideWindows);
    ::AppendMenuW(menu.Get(), MF_STRING, TToolBar::HistoryCommand, text::kMenuHistory);
    ::AppendMenuW(menu.Get(),
                  MF_STRING | (WatchesWhileClosed() ? MF_CHECKED : MF_UNCHECKED) | (m_door.ReadOnly() ? MF_GRAYED : 0),
                  TToolBar::WatchWhileClosedCommand, text::kMenuWatchWhileClosed);
    if (m_door.OtherOwner()) {
        ::AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu.Get(), MF_STRING, TToolBar::TakeOverCommand, text::kTakeOverStore);
    }
    const RECT button = m_toolBar.ButtonRect(ViewButton);
    const UINT command = m_desktop.ChooseFromMenu(m_window, menu.Get(), POINT{button.left, button.bottom});
    if (command == TToolBar::HideWindowsCommand) {
        HideWindowsClick();
    } else if (command == TToolBar::TakeOverCommand) {
        TakeOverClick();
    } else if (command == TToolBar::HistoryCommand) {
        ShowHistoryDialog(m_window); // reads the history file alone: the store stays free meanwhile
    } else if (command == TToolBar::WatchWhileClosedCommand) {
        WatchWhileClosedClick();
    }
}

// A store of another account or computer becomes this one's when the person says so; nothing in it changes.
void TMainForm::TakeOverClick() {
    const std::optional<StoreOwner> owner = m_door.OtherOwner();
    if (!owner || m_scheduler.InCommand() || m_scheduler.Importing()) {
        return;
    }
    {
        const TScheduler::TCommand command(m_scheduler);
        const StoreOwner me = ThisRunsOwner();
        const std::wstring question =
            FormatMessageText(text::kTakeOverQuestion, {ShownAccount(*owner), ShownMachine(*owner), ShownAccount(me)});
        if (!m_desktop.ConfirmDefaultNo(m_window, question) || m_scheduler.Closing()) {
            return;
        }
        std::wstring failure;
        try {
            const auto lock = m_scheduler.Lock();
            lock->Work().TakeOver();
        } catch (const EBootwarden& error) {
            failure = ErrorText(error);
        }
        if (!failure.empty()) {
            ShowException(FormatMessageText(text::kTakeOverFailed, failure));
            return;
        }
    }
    m_scheduler.RefreshAll(); // the entries found while the store was another's are mirrored now
}

void TMainForm::HideWindowsClick() {
    m_list.SetHideWindows(!m_list.HidesWindows());
    const int selected = m_list.Selected();
    ListSelectItem(selected, selected >= 0);
    SaveWindowSettings();
}

} // namespace bw
