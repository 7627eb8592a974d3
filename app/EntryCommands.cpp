#include "app/MainForm.h"

#include "app/ContextMenu.h"
#include "app/Controls.h"
#include "app/EntryOrder.h"
#include "app/SingleInstance.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "resources/Texts.h"
#include "store/ErrorText.h"
#include "store/Locations.h"
#include "store/StoreQueries.h"

#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <memory>

// The main window's commands on entries. Each asks what it must ask first, with the store free, then takes the
// lock through the scheduler, and acts only on what it asked about.

namespace bw {

namespace {

using TLocked = TScheduler::TLocked;
using Order = TScheduler::Order;

// The commands' locked work, each on its order's entries as the command took them before its question.

void AllowToStartAct(TLocked& locked, Order& order) {
    locked.Work().AllowToStart(order.entries[0]); // a box set on an entry that Windows kept from starting
}

void DisableAct(TLocked& locked, Order& order) {
    locked.Work().Disable(order.entries[0]);
}

void FindTwinAct(TLocked&, Order& order) {
    order.twin = StartingTwinOf(order.entries[0]);
}

void EnableAct(TLocked& locked, Order& order) {
    const Entry& entry = order.entries[0];
    const auto& twin = order.twin;
    const auto twinNow = StartingTwinOf(entry);
    if (twin.has_value() != twinNow.has_value() ||
        (twin && (twin->startsNow != twinNow->startsNow || twin->switchedOff != twinNow->switchedOff))) {
        throw EEntryRefused(FormatMessageText(text::kChangedMeanwhile, entry.name));
    }
    locked.Work().Enable(entry, locked.Progress(), twin.has_value());
}

void AddAct(TLocked& locked, Order& order) {
    // Under a free name, never over a file that came meanwhile.
    order.text = locked.Work().AddStartupShortcut(order.text, std::nullopt, order.code);
}

// Each entry is removed or left as it was; one that cannot be removed does not keep the others. One that changed
// while the question was open is not what the user said Yes to: it stays.
void DeleteAct(TLocked& locked, Order& order) {
    const std::vector<Entry>& now = locked.ReadAgain();
    for (const Entry& entry : order.entries) {
        const auto same = std::find_if(now.begin(), now.end(), [&](const Entry& read) {
            return read.code == entry.code && read.name == entry.name && CommandLineOf(read) == CommandLineOf(entry) &&
                   SameFileName(read.storeLinkPath, entry.storeLinkPath);
        });
        try {
            if (same == now.end()) {
                throw EEntryRefused(FormatMessageText(text::kChangedMeanwhile, entry.name));
            }
            locked.Work().Delete(entry);
        } catch (const EBootwarden& error) {
            order.text += (order.text.empty() ? L"" : L"\n") + ErrorText(error);
        }
    }
}

void KeepOffAct(TLocked& locked, Order& order) {
    const Entry& entry = order.entries[0];
    const std::vector<Entry>& now = locked.ReadAgain();
    const auto same = std::find_if(
        now.begin(), now.end(), [&](const Entry& read) { return read.code == entry.code && read.name == entry.name; });
    if (same == now.end()) {
        throw EEntryRefused(FormatMessageText(text::kChangedMeanwhile, entry.name));
    }
    locked.Work().KeepOff(*same, !IsKeptOff(same->code, same->name)); // the command's check mark turns
}

std::shared_ptr<Order> OrderFor(std::vector<Entry> entries) {
    auto order = std::make_shared<Order>();
    order->entries = std::move(entries);
    return order;
}

} // namespace

void TMainForm::RestartAsAdministrator() {
    if (m_scheduler.InCommand() || m_scheduler.Importing()) {
        return; // a question or an import under way: the restart waits for the user's next click
    }
    // The same program, on the same store. The store is this window's until it ends: its close work first, then
    // the new copy, told which process to wait for.
    if (!FormClose()) {
        return;
    }
    const std::wstring parameters = HandOverArguments(::GetCurrentProcessId());
    if (m_desktop.RunAsAdministrator(m_window, ModulePath(), ProgramDir(), parameters)) {
        ::DestroyWindow(m_window);
    }
    // Declined: the window goes on as it was; what the close work wrote back is what a refresh would have.
}

void TMainForm::RefreshAndSelect(bool writeBack, bool afterToggle, RowChoice choice) {
    if (m_scheduler.Closing()) {
        return; // the window closes once the command has ended: nothing more to show
    }
    m_rowChoice = std::move(choice);
    try {
        m_scheduler.Refresh(writeBack, afterToggle);
    } catch (...) {
        if (!m_scheduler.Importing()) {
            m_rowChoice.reset(); // the list was not rebuilt; what was selected stays so
        }
        throw;
    }
    if (!m_scheduler.Importing()) {
        ApplyRowChoice();
    }
}

void TMainForm::ApplyRowChoice() {
    if (!m_rowChoice) {
        return;
    }
    const RowChoice choice = *std::exchange(m_rowChoice, std::nullopt);
    int row = -1;
    for (const int code : choice.codes) {
        row = m_list.FindRow(choice.name, code);
        if (row >= 0) {
            break;
        }
    }
    if (row < 0 && choice.fallbackRow >= 0 && m_list.Count() > 0) {
        row = std::min(choice.fallbackRow, m_list.Count() - 1);
    }
    if (row >= 0) {
        m_list.SelectRow(row);
    }
}

void TMainForm::ListChange(int row, bool checked) {
    if (m_pendingToggle || m_scheduler.Importing() || m_scheduler.InCommand()) {
        // Another command is under way: the click counts for nothing, and its box shows its entry again once the
        // message loop gets to it.
        ::PostMessageW(m_window, kToggleMessage, 0, 0);
        return;
    }
    // The list must not change inside its own notification: the toggle runs as soon as the notification has
    // returned. Until then, further changes count for nothing.
    m_pendingToggle = PendingToggle{m_list.RowEntry(row), checked};
    m_list.HoldToggles();
    ::PostMessageW(m_window, kToggleMessage, 0, 0);
}

void TMainForm::ToggleEntry() {
    if (!m_pendingToggle) {
        if (!m_scheduler.InCommand() && !m_scheduler.Importing()) {
            m_list.MakeList(m_session.Entries(), true); // a click that counted for nothing
        }
        return;
    }
    const TScheduler::TCommand command(m_scheduler);
    const PendingToggle toggle = *std::exchange(m_pendingToggle, std::nullopt);
    // The entry stays selected in its new place (its old one when the toggle changed nothing), so that the
    // next press of space undoes what this one did.
    RowChoice choice{toggle.entry.name, {toggle.entry.code}};
    std::exception_ptr failure;
    try {
        SwitchEntry(toggle, choice);
    } catch (...) {
        failure = std::current_exception();
    }
    if (m_scheduler.LeftRunning()) {
        return; // its work still holds the store, and the window closes
    }
    // Whatever became of it, the list shows the store and the system as they now are.
    try {
        RefreshAndSelect(false, true, std::move(choice));
    } catch (...) {
        failure = failure ? failure : std::current_exception();
    }
    // The click held the boxes back until the list shows its entries again; a refresh that could not run (the store
    // busy, a read that failed) must not leave them held.
    if (!m_list.ListReady() && !m_scheduler.Importing()) {
        m_list.MakeList(m_session.Entries(), true);
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TMainForm::SwitchEntry(const PendingToggle& toggle, RowChoice& choice) {
    const int code = toggle.entry.code;
    // An entry of a Startup folder is read and changed there; one of a Run key in the registry and the store.
    const auto reach = IsRegistryCode(code) ? TScheduler::Reach::Store : TScheduler::Reach::Folders;
    const auto order = OrderFor({toggle.entry});
    if (toggle.enable && IsEnabledCode(code)) {
        (void)m_scheduler.RunLocked(reach, AllowToStartAct, order);
        return;
    }
    if (!toggle.enable) {
        RequireChangeablePlace(code, toggle.entry.name); // says why an entry of a policy or RunOnce key stays
        choice.codes.insert(choice.codes.begin(), DisabledCodeOf(code));
        (void)m_scheduler.RunLocked(reach, DisableAct, order);
        return;
    }
    choice.codes.insert(choice.codes.begin(), EnabledCodeOf(code));
    // A different entry of that name that starts now is replaced only when the user says so; "No", the default,
    // and no answer change nothing. Asked with the lock free, and acted on only as it was asked.
    if (!m_scheduler.RunLocked(reach, FindTwinAct, order)) {
        return;
    }
    const auto& twin = order->twin;
    if (twin && !(m_desktop.ConfirmDefaultNo(
                      m_window, FormatMessageText(text::kEnableReplaceQuestion,
                                                  {toggle.entry.name, twin->startsNow, twin->switchedOff})) &&
                  !m_scheduler.Closing())) {
        return;
    }
    (void)m_scheduler.RunLocked(reach, EnableAct, order);
}

void TMainForm::ShowAddMenu() {
    UniqueMenu menu(::CreatePopupMenu());
    ::AppendMenuW(menu.Get(), MF_STRING, TToolBar::AddForMeCommand, text::kMenuAddForMe);
    ::AppendMenuW(menu.Get(), MF_STRING, TToolBar::AddForAllUsersCommand, text::kMenuAddForAllUsers);
    ::SetMenuDefaultItem(menu.Get(), TToolBar::AddForMeCommand, FALSE);
    const RECT button = m_toolBar.ButtonRect(AddButton);
    const UINT command = m_desktop.ChooseFromMenu(m_window, menu.Get(), POINT{button.left, button.bottom});
    if (command == TToolBar::AddForMeCommand || command == TToolBar::AddForAllUsersCommand) {
        AddButtonClick(command == TToolBar::AddForAllUsersCommand ? kCommonCode : kStartUpCode);
    }
}

void TMainForm::AddButtonClick(int code) {
    if (m_scheduler.InCommand() || m_scheduler.Importing()) {
        return; // no command reaches the store while another or an import is under way
    }
    const TScheduler::TCommand command(m_scheduler);
    const auto program = m_desktop.BrowseForProgram(m_window);
    if (!program || m_scheduler.Closing()) {
        return; // cancelled: nothing changes, no refresh
    }
    const auto order = OrderFor({});
    order->text = *program;
    order->code = code;
    if (!m_scheduler.RunLocked(TScheduler::Reach::Folders, AddAct, order)) {
        return;
    }
    const std::wstring& shortcut = order->text;
    // The new entry is selected: its name is the shortcut's file name without ".lnk".
    const size_t slash = shortcut.find_last_of(L'\\');
    std::wstring name = slash == std::wstring::npos ? shortcut : shortcut.substr(slash + 1);
    name.resize(name.size() >= 4 ? name.size() - 4 : 0);
    RefreshAndSelect(true, false, RowChoice{name, {code}});
}

void TMainForm::DeleteButtonClick() {
    // The entries are taken (copied) before the question: a refresh while the dialog is open may change the
    // rows, and whatever row then stands at this place is not what the user was asked about.
    DeleteEntries(SelectedEntries());
}

void TMainForm::DeleteEntries(const std::vector<Entry>& entries) {
    if (entries.empty() || m_scheduler.InCommand() || m_scheduler.Importing()) {
        return;
    }
    const TScheduler::TCommand command(m_scheduler);
    const std::wstring question = entries.size() == 1
                                      ? FormatMessageText(text::kDeleteQuestion, entries[0].name)
                                      : FormatMessageText(text::kDeleteManyQuestion, std::to_wstring(entries.size()));
    // "No", the default, and no answer delete nothing: a hasty Enter must not lose an entry.
    if (!m_desktop.ConfirmDefaultNo(m_window, question) || m_scheduler.Closing()) {
        return;
    }
    // The row that takes the (first) entry's place is selected afterwards (the last row, when it was the last); a
    // delete that failed leaves the entry itself selected.
    const int row = m_list.FindRow(entries[0].name, entries[0].code);
    RowChoice choice{entries[0].name, {entries[0].code}, row >= 0 ? row : m_list.Selected()};
    const auto order = OrderFor(entries);
    if (!m_scheduler.RunLocked(TScheduler::Reach::Everything, DeleteAct, order)) {
        return;
    }
    RefreshAndSelect(true, false, std::move(choice));
    if (!order->text.empty()) {
        ShowException(order->text); // what could not be removed, and why
    }
}

std::vector<Entry> TMainForm::SelectedEntries() const {
    std::vector<Entry> entries;
    for (int row : m_list.SelectedRows()) {
        entries.push_back(m_list.RowEntry(row));
    }
    return entries;
}

void TMainForm::ShowContextMenu(LPARAM at) {
    if (m_scheduler.Importing() || m_pendingToggle || m_scheduler.InCommand()) {
        return; // no command reaches the store while an import, a toggle or another command is under way
    }
    // The entries are taken before the menu opens, as for a question: the command acts on what it was shown for.
    const std::vector<Entry> entries = SelectedEntries();
    if (entries.empty()) {
        return;
    }
    POINT point{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    if (at == -1) {
        // From the keyboard: below the focused row, or the first selected one.
        const HWND list = m_list.Handle();
        int row = ListView_GetNextItem(list, -1, LVNI_FOCUSED | LVNI_SELECTED);
        row = row >= 0 ? row : m_list.Selected();
        ListView_EnsureVisible(list, row, FALSE);
        RECT bounds{};
        ListView_GetItemRect(list, row, &bounds, LVIR_LABEL);
        point = {bounds.left, bounds.bottom};
        ::ClientToScreen(list, &point);
    }
    const bool choiceWaiting = entries.size() == 1 && m_notices.IsWaiting(entries[0]);
    UINT chosen = 0;
    {
        // The menu's own message loop is a command's: no refresh runs inside it.
        const TScheduler::TCommand command(m_scheduler);
        const UniqueMenu menu = MakeEntryMenu(entries, choiceWaiting);
        chosen = m_desktop.ChooseFromMenu(m_window, menu.Get(), point);
    }
    if (m_scheduler.Closing() || !MenuCommandApplies(chosen, entries, choiceWaiting)) {
        return; // nothing chosen, a greyed command, or the window closing
    }
    RunMenuCommand(chosen, entries);
}

void TMainForm::RunMenuCommand(UINT command, const std::vector<Entry>& entries) {
    switch (command) {
    case ChooseChangeCommand:
        m_notices.AskChoice(entries[0]);
        break;
    case SwitchOnCommand:
    case SwitchOffCommand:
        SwitchEntries(entries, command == SwitchOnCommand);
        break;
    case PropertiesCommand:
        ShowEntryProperties(entries[0]);
        break;
    case DeleteCommand:
        DeleteEntries(entries);
        break;
    case OpenFileLocationCommand:
        m_desktop.ShowInFolder(m_window, entries[0].target);
        break;
    case OpenInRegistryEditorCommand:
        OpenInRegistryEditor(entries[0]);
        break;
    case CopyCommandLineCommand:
        m_desktop.CopyText(m_window, CommandLinesOf(entries));
        break;
    case KeepOffCommand:
        KeepEntryOff(entries[0]);
        break;
    }
}

void TMainForm::KeepEntryOff(const Entry& entry) {
    if (m_scheduler.InCommand() || m_scheduler.Importing()) {
        return;
    }
    const TScheduler::TCommand command(m_scheduler);
    std::wstring failure;
    try {
        (void)m_scheduler.RunLocked(TScheduler::Reach::Everything, KeepOffAct, OrderFor({entry}));
    } catch (const EBootwarden& error) {
        failure = ErrorText(error);
    }
    if (!failure.empty()) {
        ShowException(failure);
    }
}

void TMainForm::SwitchEntries(const std::vector<Entry>& entries, bool on) {
    // Each entry goes the way a click on its box sends it, one after the other; each is switched or left as it
    // was, and one that fails does not keep the others.
    std::wstring failures;
    for (const Entry& entry : entries) {
        const bool starts = IsEnabledCode(entry.code) && !entry.switchedOffInWindows;
        if (starts == on || (!on && entry.problem != EntryProblem::None) || m_scheduler.Importing() ||
            m_scheduler.Closing()) {
            continue;
        }
        m_pendingToggle = PendingToggle{entry, on};
        try {
            ToggleEntry();
        } catch (const EBootwarden& error) {
            failures += (failures.empty() ? L"" : L"\n") + ErrorText(error);
        }
    }
    if (!failures.empty()) {
        ShowException(failures);
    }
}

void TMainForm::OpenInRegistryEditor(const Entry& entry) {
    if (IsRegistryCode(entry.code)) {
        m_desktop.OpenRegistryEditor(m_window, RegistryEditorKeyOf(entry));
    } else {
        m_desktop.ShowInFolder(m_window, StartupLinkPath(entry.code, entry.name)); // its folder, the shortcut selected
    }
}

} // namespace bw
