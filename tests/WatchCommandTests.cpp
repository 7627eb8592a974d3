#include "WindowTestSupport.h"

#include "app/ToolBar.h"
#include "platform/FileSystem.h"
#include "resources/Texts.h"
#include "store/History.h"
#include "store/StoreQueries.h"

namespace bw::test {
namespace {

class WatchCommandTest : public WindowTest {
protected:
    // The View menu's command as the person sees it (enabled, checked) and then chosen.
    FakeDesktop::MenuItem ChooseWatchCommand() {
        m_desktop.menuAnswer = TToolBar::WatchWhileClosedCommand;
        ::SendMessageW(m_form->Handle(), WM_COMMAND, TMainForm::ViewButton, 0);
        Pump();
        for (const auto& item : m_desktop.menus.back()) {
            if (item.command == TToolBar::WatchWhileClosedCommand) {
                return item;
            }
        }
        ADD_FAILURE() << "the View menu has no command to watch while closed";
        return {};
    }
};

} // namespace

// "Watch start-up while Bootwarden is closed" adds the watcher's entry to the user's Run key, naming the program by
// the path it runs from, and starts the watcher; the entry is listed as the program's own; chosen again (checked
// now), it removes the entry. Switched off in the list meanwhile, the command switches that very copy on again
// rather than adding a second. An entry of the same name that starts another program is not taken for the
// program's own. Each change is kept in the history as the window's.
TEST_F(WatchCommandTest, TheCommandAddsAndRemovesTheWatchersOwnEntryAndStartsTheWatcher) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();
    const std::wstring line = WatcherCommandLine(ModulePath());

    FakeDesktop::MenuItem item = ChooseWatchCommand();
    EXPECT_TRUE(item.enabled);
    EXPECT_FALSE(item.checked);
    ASSERT_TRUE(m_registry.RunValue(Location::User, kWatcherEntryName));
    EXPECT_EQ(m_registry.RunValue(Location::User, kWatcherEntryName)->text, line);
    ASSERT_FALSE(m_desktop.shellOpened.empty());
    EXPECT_EQ(m_desktop.shellOpened.back(), ModulePath());
    EXPECT_EQ(m_desktop.shellParameters.back(), kWatchSwitch);
    const int row = RowOf(kWatcherEntryName, kUser);
    ASSERT_GE(row, 0);
    Select(row);
    EXPECT_THAT(StatusPart(0), ::testing::HasSubstr(text::kWatcherEntryStatus));

    ToggleRow(row); // switched off in the list: the command is no longer checked
    Pump();
    EXPECT_FALSE(m_registry.RunValue(Location::User, kWatcherEntryName));
    item = ChooseWatchCommand();
    EXPECT_FALSE(item.checked);
    EXPECT_EQ(m_registry.RunValue(Location::User, kWatcherEntryName)->text, line);
    EXPECT_LT(RowOf(kWatcherEntryName, kUserOff), 0) << "the switched-off copy started again, no second one";

    item = ChooseWatchCommand();
    EXPECT_TRUE(item.checked);
    EXPECT_FALSE(m_registry.RunValue(Location::User, kWatcherEntryName));
    EXPECT_LT(RowOf(kWatcherEntryName, kUser), 0);
    EXPECT_TRUE(m_desktop.errors.empty());

    // Another program's entry under the name is not the program's: the command adds nothing over it.
    m_registry.SetRunValue(Location::User, kWatcherEntryName, L"c:\\elsewhere\\Bootwarden.exe --watch");
    ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
    Pump();
    Select(RowOf(kWatcherEntryName, kUser));
    EXPECT_THAT(StatusPart(0), ::testing::Not(::testing::HasSubstr(text::kWatcherEntryStatus)));
    item = ChooseWatchCommand();
    EXPECT_FALSE(item.checked);
    EXPECT_EQ(m_registry.RunValue(Location::User, kWatcherEntryName)->text, L"c:\\elsewhere\\Bootwarden.exe --watch");
    ASSERT_EQ(m_desktop.errors.size(), 1u) << "refused, and said so";

    std::vector<std::wstring> kept;
    for (const HistoryLine& line : ReadHistory()) {
        if (line.name == kWatcherEntryName && line.by == HistoryActor::Window) {
            kept.push_back(HistoryChangeWord(line.change));
        }
    }
    EXPECT_THAT(kept, ::testing::ElementsAre(L"deleted", L"switched-on", L"switched-off", L"added"));
    EXPECT_TRUE(m_desktop.askedWhileLocked.empty());
}

} // namespace bw::test
