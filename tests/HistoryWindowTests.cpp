#include "WindowTestSupport.h"

#include "app/Controls.h"
#include "app/HistoryDialog.h"
#include "app/ToolBar.h"
#include "resources/Texts.h"
#include "store/History.h"

namespace bw::test {
namespace {

using ::testing::ElementsAre;

// What the History dialog showed: its rows as "change|by|name" before and after the filter was typed.
struct Seen {
    std::vector<std::wstring> all;
    std::vector<std::wstring> filtered;
    bool found = false;
};
Seen g_seen;
std::wstring g_filter;

std::vector<std::wstring> RowsOf(HWND list) {
    std::vector<std::wstring> rows;
    for (int row = 0; row < LvGetItemCount(list); ++row) {
        rows.push_back(LvGetItemText(list, row, 1) + L"|" + LvGetItemText(list, row, 2) + L"|" +
                       LvGetItemText(list, row, 4));
    }
    return rows;
}

// Runs inside the dialog's own message loop: reads the list, types the filter, reads it again and closes the dialog
// with Escape's command, as a person would.
void CALLBACK LookAtDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    const HWND dialog = ::FindWindowW(L"#32770", text::kHistoryTitle);
    if (dialog == nullptr) {
        return;
    }
    ::KillTimer(nullptr, timer);
    g_seen.found = true;
    const HWND list = ::GetDlgItem(dialog, kHistoryListId);
    g_seen.all = RowsOf(list);
    ::SetWindowTextW(::GetDlgItem(dialog, kHistoryFilterId), g_filter.c_str()); // EN_CHANGE, as typing gives
    g_seen.filtered = RowsOf(list);
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

class HistoryWindowTest : public WindowTest {};

} // namespace

// The View menu's History lists every change kept, newest first, by who made it (a switch in this window, another
// program's change that the refresh saw); typing in its filter box keeps the rows that hold the text in any letter
// case; Escape closes it and nothing else changes.
TEST_F(HistoryWindowTest, TheHistoryDialogListsChangesNewestFirstAndFilters) {
    m_registry.SetRunValue(Location::User, L"Agent", L"c:\\agent.exe");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();
    ToggleRow(RowOf(L"Agent", kUser));
    Pump();
    m_registry.SetRunValue(Location::User, L"Updater", L"c:\\updater.exe");
    ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
    Pump();

    g_seen = {};
    g_filter = L"AGENT";
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, LookAtDialog);
    m_desktop.menuAnswer = TToolBar::HistoryCommand;
    ::SendMessageW(m_form->Handle(), WM_COMMAND, TMainForm::ViewButton, 0);
    ::KillTimer(nullptr, timer);
    Pump();
    ASSERT_TRUE(g_seen.found) << "the dialog was shown";
    EXPECT_THAT(g_seen.all, ElementsAre(L"Added|Another program|Updater", L"Switched off|Bootwarden|Agent"));
    EXPECT_THAT(g_seen.filtered, ElementsAre(L"Switched off|Bootwarden|Agent"));
    EXPECT_EQ(::FindWindowW(L"#32770", text::kHistoryTitle), nullptr) << "closed";
    EXPECT_TRUE(m_desktop.askedWhileLocked.empty());
}

} // namespace bw::test
