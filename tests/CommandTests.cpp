#include "WindowTestSupport.h"

#include "app/Controls.h"
#include "platform/ShellLink.h"
#include "store/CommandLine.h"
#include "store/StartupApproved.h"
#include "store/Import.h"

namespace bw::test {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

class ToggleTest : public WindowTest {};

TEST_F(ToggleTest, ClearingAndSettingTheBoxCarriesEachLocationOutAndBack) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe -q");
    // Wine keeps a link's target in the ANSI code page only, so only the name is Unicode here (the import
    // tests carry Unicode command lines).
    m_registry.SetRunValue(Location::User, L"\u0417\u0430\u043f\u0443\u0441\u043a", L"c:\\tool.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
    Open();

    ToggleRow(RowOf(L"Agent", kLocal));
    ToggleRow(RowOf(L"\u0417\u0430\u043f\u0443\u0441\u043a", kUser));
    ToggleRow(RowOf(L"Notes", kStartUp));

    EXPECT_FALSE(m_registry.RunValue(Location::Local, L"Agent"));
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"\u0417\u0430\u043f\u0443\u0441\u043a"));
    EXPECT_FALSE(PathExists(StartupPath(L"Notes.lnk")));
    EXPECT_THAT(Rows(),
                ElementsAre(Row{L"Agent", L"Not Found", L"4 - Registry (HKLM)", false},
                            Row{L"\u0417\u0430\u043f\u0443\u0441\u043a", L"Not Found", L"5 - Registry (HKCU)", false},
                            Row{L"Notes", L"c:\\windows\\notepad.exe", L"6 - Startup Folder", false}));

    ToggleRow(RowOf(L"Agent", kLocalOff));
    ToggleRow(RowOf(L"\u0417\u0430\u043f\u0443\u0441\u043a", kUserOff));
    ToggleRow(RowOf(L"Notes", kStartUpOff));

    EXPECT_EQ(m_registry.RunValue(Location::Local, L"Agent")->text, L"c:\\agent.exe -q");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"\u0417\u0430\u043f\u0443\u0441\u043a")->text, L"c:\\tool.exe");
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).description, L"notes");
    EXPECT_THAT(Rows(),
                ElementsAre(Row{L"Agent", L"Not Found", L"1 - Registry (HKLM)", true},
                            Row{L"\u0417\u0430\u043f\u0443\u0441\u043a", L"Not Found", L"2 - Registry (HKCU)", true},
                            Row{L"Notes", L"c:\\windows\\notepad.exe", L"3 - Startup Folder", true}));
    for (int code : {kLocalOff, kUserOff, kStartUpOff}) {
        EXPECT_TRUE(StoreNames(code).empty()) << code;
    }
    EXPECT_TRUE(m_desktop.errors.empty());
    EXPECT_EQ(::SendMessageW(m_form->ProgressBar(), PBM_GETPOS, 0, 0), 0);
}

TEST_F(ToggleTest, AKeyThatDoesNotOpenMovesNothingAndTheBoxComesBack) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    Open();
    m_registry.DeleteRunKey(Location::Local); // gone, as for a user who may not open it
    ASSERT_FALSE(m_registry.RunValue(Location::Local, L"Agent"));

    ToggleRow(RowOf(L"Agent", kLocal));

    // The rebuild shows what the system holds now: the key is gone, so is the entry; nothing was moved.
    EXPECT_TRUE(StoreNames(kLocalOff).empty());
    EXPECT_TRUE(m_desktop.errors.empty());
    EXPECT_TRUE(m_form->ListReady());
}

TEST_F(ToggleTest, ExpandableCommandLinesComeBackExpandable) {
    m_registry.SetRunValue(Location::User, L"Tool", L"%SystemRoot%\\system32\\tool.exe /x", REG_EXPAND_SZ);
    Open();
    ToggleRow(RowOf(L"Tool", kUser));
    ASSERT_FALSE(m_registry.RunValue(Location::User, L"Tool"));
    ToggleRow(RowOf(L"Tool", kUserOff));
    const auto value = m_registry.RunValue(Location::User, L"Tool");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, DWORD{REG_EXPAND_SZ});
    EXPECT_EQ(value->text, L"%SystemRoot%\\system32\\tool.exe /x");
}

TEST_F(ToggleTest, ACutCommandLineIsNeitherSwitchedOffNorWrittenBack) {
    const std::wstring longLine = L"c:\\tool.exe " + std::wstring(2000, L'x');
    m_registry.SetRunValue(Location::User, L"Long", longLine);
    Open();

    ToggleRow(RowOf(L"Long", kUser));

    ASSERT_EQ(m_desktop.errors.size(), 1u);
    EXPECT_NE(m_desktop.errors[0].text.find(L"Long"), std::wstring::npos);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Long")->text, longLine);
    EXPECT_TRUE(StoreNames(kUserOff).empty());

    // Neither a refresh nor closing writes the cut text over the whole one, not even after an edit of its link.
    WriteShortcut(StorePath(kUser, L"Long"), L"c:\\tool.exe", DescriptionFor(longLine) + L"!");
    KeyUp(VK_F5);
    m_form->FormClose();
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Long")->text, longLine);
}

TEST_F(ToggleTest, AFailingEnableLosesNothing) {
    WriteShortcut(StorePath(kStartUpOff, L"Notes"), L"c:\\windows\\notepad.exe", L"notes");
    Open();
    // A file of that name that cannot be read (held open without sharing) is never replaced.
    WriteFileBytes(StartupPath(L"Notes.lnk"), "in use");
    {
        UniqueFile held(
            ::CreateFileW(StartupPath(L"Notes.lnk").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        ToggleRow(RowOf(L"Notes", kStartUpOff));
    }
    ASSERT_EQ(m_desktop.errors.size(), 1u);
    EXPECT_EQ(m_desktop.errors[0].text, L"Something named \"Notes\" that cannot be read as a command line or a "
                                        L"shortcut stands where switching it on would put it, and it is not replaced. "
                                        L"Nothing was changed.");
    EXPECT_EQ(ReadFileBytes(StartupPath(L"Notes.lnk")), "in use");
    EXPECT_THAT(StoreNames(kStartUpOff), ElementsAre(L"Notes.lnk"));
    EXPECT_EQ(ReadShortcut(StorePath(kStartUpOff, L"Notes")).description, L"notes");
    EXPECT_TRUE(m_form->ListReady());
}

TEST_F(ToggleTest, ChangesBeforeTheRebuildAndOtherChangesDoNothing) {
    m_registry.SetRunValue(Location::User, L"First", L"c:\\first.exe");
    m_registry.SetRunValue(Location::User, L"Second", L"c:\\second.exe");
    Open();

    // A second box changed before the first toggle's rebuild has run counts for nothing.
    LvSetCheck(m_form->List(), RowOf(L"First", kUser), false);
    EXPECT_FALSE(m_form->ListReady());
    LvSetCheck(m_form->List(), RowOf(L"Second", kUser), false);
    Pump();
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"First"));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Second"));
    EXPECT_TRUE(LvGetCheck(m_form->List(), RowOf(L"Second", kUser))) << "the rebuild shows the true state";

    // Texts and the selection change nothing in the system.
    Select(RowOf(L"Second", kUser));
    LvSetItemText(m_form->List(), RowOf(L"Second", kUser), 1, L"another text");
    Pump();
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Second")->text, L"c:\\second.exe");
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"First.lnk"));
}

// An entry that Windows' own switch keeps from starting shows its box clear and says why; setting the box lets it
// start and changes nothing else.
TEST_F(ToggleTest, AnEntrySwitchedOffInWindowsIsShownSoAndSwitchedOnByItsBox) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\windows\\notepad.exe");
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\windows\\regedit.exe");
    std::string off(12, '\0');
    off[0] = 0x03;
    const std::wstring approved = std::wstring(kStartupApprovedPath) + L"Run";
    m_registry.SetValue(HKEY_CURRENT_USER, approved, L"Tool", REG_BINARY, off.data(), 12);
    m_registry.SetValue(HKEY_CURRENT_USER, approved, L"Other", REG_BINARY, off.data(), 12);
    Open();
    EXPECT_FALSE(LvGetCheck(m_form->List(), RowOf(L"Tool", kUser)));
    Select(RowOf(L"Tool", kUser));
    EXPECT_EQ(SbGetText(m_form->StatusBar()), L"Switched off in Windows' startup settings");

    ToggleRow(RowOf(L"Tool", kUser));

    EXPECT_TRUE(m_desktop.errors.empty());
    EXPECT_TRUE(LvGetCheck(m_form->List(), RowOf(L"Tool", kUser)));
    EXPECT_FALSE(LvGetCheck(m_form->List(), RowOf(L"Other", kUser)));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\windows\\notepad.exe");
    EXPECT_THAT(StoreNames(kUserOff), ::testing::IsEmpty()) << "switched on, not moved";
    Select(RowOf(L"Tool", kUser));
    EXPECT_EQ(SbGetText(m_form->StatusBar()), L"c:\\windows\\notepad.exe");
}

class RefreshTest : public WindowTest {};

// What other programs changed is shown as it now is, never put back; an edit of a store link reaches the system.
TEST_F(RefreshTest, RefreshShowsOutsideChangesAndCarriesEditsIntoTheSystem) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\app\\v1\\agent.exe");
    m_registry.SetRunValue(Location::User, L"Expand", L"%TEMP%\\x.exe", REG_EXPAND_SZ);
    m_registry.SetRunValue(Location::User, L"Gone", L"c:\\gone.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
    WriteShortcut(StartupPath(L"Vanish.lnk"), L"c:\\v.exe", L"v");
    WriteShortcut(StorePath(kUserOff, L"Off"), L"c:\\off.exe", L"c:\\off.exe");
    Open();

    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\app\\v2\\agent.exe");
    m_registry.RemoveRunValue(Location::User, L"Gone");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\replaced.exe", L"replaced");
    ::DeleteFileW(StartupPath(L"Vanish.lnk").c_str());
    EditShortcut(StorePath(kUser, L"Expand"), // its comment, through its property sheet
                 [](TShellLink& link) { link.SetDescription(L"%TEMP%\\edited.exe"); });

    KeyUp(VK_F5, false, true); // Ctrl+F5 refreshes as F5 does

    EXPECT_EQ(m_registry.RunValue(Location::Local, L"Agent")->text, L"c:\\app\\v2\\agent.exe");
    EXPECT_EQ(m_form->EntryList().RowEntry(RowOf(L"Agent", kLocal)).description, L"c:\\app\\v2\\agent.exe");
    const auto expand = m_registry.RunValue(Location::User, L"Expand");
    EXPECT_EQ(expand->text, L"%TEMP%\\edited.exe");
    EXPECT_EQ(expand->type, DWORD{REG_EXPAND_SZ});
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Gone"));
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Off"));
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).description, L"replaced");
    EXPECT_FALSE(PathExists(StartupPath(L"Vanish.lnk")));
    EXPECT_EQ(RowOf(L"Gone", kUser), -1);
    EXPECT_EQ(RowOf(L"Vanish", kStartUp), -1);
    EXPECT_EQ(Rows().size(), 4u);
}

TEST_F(RefreshTest, ActivationButtonsAndClosingRefreshOrWriteBack) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();

    m_registry.SetRunValue(Location::User, L"New", L"c:\\new.exe");
    ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
    EXPECT_EQ(RowOf(L"New", kUser), -1) << "the refresh runs after the activation has been handled";
    Pump();
    EXPECT_GE(RowOf(L"New", kUser), 0);

    m_registry.SetRunValue(Location::User, L"Button", L"c:\\b.exe");
    Click(TMainForm::RefreshButton);
    EXPECT_GE(RowOf(L"Button", kUser), 0);

    // Closing carries an edit of a store link into the system.
    WriteShortcut(StorePath(kUser, L"Tool"), L"c:\\tool.exe", L"c:\\edited.exe");
    ::SendMessageW(m_form->Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindow(m_form->Handle()));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\edited.exe");
}

TEST_F(RefreshTest, AVanishedStoreLinkNoLongerWedgesRefreshOrClose) {
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
    Open();
    ::DeleteFileW(StorePath(kStartUp, L"Notes").c_str());

    KeyUp(VK_F5);
    EXPECT_TRUE(m_desktop.errors.empty());
    EXPECT_GE(RowOf(L"Notes", kStartUp), 0); // the import mirrors the shortcut again
    EXPECT_TRUE(m_form->ListReady());
}

// A write-back that fails at close says what failed and asks: No (the default) keeps the window, Yes closes it
// anyway, leaving the edit in the store; the window is never trapped.
TEST_F(RefreshTest, AFailedWriteBackOnCloseKeepsTheWindowAndASecondCloseWorks) {
    // The folders are not watched: the write-back runs at the close (or the refresh) alone, as it would on a file
    // system without notifications, not also whenever the edit's notification comes.
    const auto unwatched = FoldersWithoutNotifications();
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
    Open();
    // The store link is edited, and the shortcut it goes to cannot be replaced: it is held open.
    WriteShortcut(StorePath(kStartUp, L"Notes"), L"c:\\windows\\notepad.exe", L"edited");
    {
        UniqueFile held(
            ::CreateFileW(StartupPath(L"Notes.lnk").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        m_desktop.confirmAnswer = false;
        ::SendMessageW(m_form->Handle(), WM_CLOSE, 0, 0);
        Pump();
        EXPECT_TRUE(::IsWindow(m_form->Handle()));
        ASSERT_EQ(m_desktop.questions.size(), 1u);
        EXPECT_THAT(m_desktop.questions[0], ::testing::HasSubstr(L"Cannot create file " + StartupPath(L"Notes.lnk")));
        EXPECT_THAT(m_desktop.questions[0], ::testing::HasSubstr(L"Close Bootwarden anyway?"));
        EXPECT_TRUE(m_desktop.errors.empty());
    }
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).description, L"notes");
    ::SendMessageW(m_form->Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindow(m_form->Handle()));
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).description, L"edited");
}

TEST_F(RefreshTest, AWriteBackThatKeepsFailingCanBeClosedAnyway) {
    // The folders are not watched: the write-back runs at the close (or the refresh) alone, as it would on a file
    // system without notifications, not also whenever the edit's notification comes.
    const auto unwatched = FoldersWithoutNotifications();
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
    Open();
    WriteShortcut(StorePath(kStartUp, L"Notes"), L"c:\\windows\\notepad.exe", L"edited");
    const UniqueFile held = HoldFile(StartupPath(L"Notes.lnk"), 0);
    m_desktop.confirmAnswer = true;
    ::SendMessageW(m_form->Handle(), WM_CLOSE, 0, 0);
    Pump();
    EXPECT_FALSE(::IsWindow(m_form->Handle()));
    EXPECT_EQ(m_desktop.questions.size(), 1u);
    EXPECT_EQ(ReadShortcut(StorePath(kStartUp, L"Notes")).description, L"edited") << "the edit stays in the store";
}

// A refresh whose write-back failed is run whole again next time, though nothing changed since.
TEST_F(RefreshTest, AFailedWriteBackIsTriedAgainByTheNextRefresh) {
    // The folders are not watched: the write-back runs at the close (or the refresh) alone, as it would on a file
    // system without notifications, not also whenever the edit's notification comes.
    const auto unwatched = FoldersWithoutNotifications();
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
    Open();
    WriteShortcut(StorePath(kStartUp, L"Notes"), L"c:\\windows\\notepad.exe", L"edited");
    ::Sleep(250); // every stamp settled: the refresh below is the last to see a change
    {
        const UniqueFile held = HoldFile(StartupPath(L"Notes.lnk"), 0);
        KeyUp(VK_F5);
        ASSERT_EQ(m_desktop.errors.size(), 1u);
    }
    KeyUp(VK_F5);
    EXPECT_EQ(m_desktop.errors.size(), 1u);
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).description, L"edited");
}

class AddDeleteTest : public WindowTest {};

TEST_F(AddDeleteTest, AddPutsShortcutsUnderFreeNamesAndCancelChangesNothing) {
    Open();
    m_desktop.browseAnswer.reset();
    Click(TMainForm::AddButton);
    EXPECT_TRUE(FolderNames(m_startup).empty());

    m_desktop.browseAnswer = L"c:\\windows\\notepad.exe";
    for (int i = 0; i < 3; ++i) {
        Click(TMainForm::AddButton);
    }
    EXPECT_THAT(FolderNames(m_startup), UnorderedElementsAre(L"notepad.lnk", L"notepad(1).lnk", L"notepad(2).lnk"));
    EXPECT_EQ(ReadShortcut(StartupPath(L"notepad(1).lnk")).description, L"c:\\windows\\notepad.exe");
    EXPECT_GE(RowOf(L"notepad(2)", kStartUp), 0);
    EXPECT_EQ(m_desktop.browseCount, 4);
}

// The Add button's arrow offers the Startup folder of all users: the shortcut goes there and its row is selected.
// The button itself still adds to the user's own folder; without rights nothing is written and the restart is
// offered.
TEST_F(AddDeleteTest, TheAddButtonsArrowAddsToTheFolderOfAllUsers) {
    Open();
    const auto dropDown = [&] {
        NMTOOLBARW drop{};
        drop.hdr.code = TBN_DROPDOWN;
        drop.iItem = TMainForm::AddButton;
        ::SendMessageW(m_form->Handle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&drop));
        Pump();
    };
    m_desktop.browseAnswer = L"c:\\windows\\notepad.exe";
    m_desktop.menuAnswer = TToolBar::AddForAllUsersCommand;
    dropDown();
    ASSERT_EQ(m_desktop.menus.size(), 1u);
    ASSERT_EQ(m_desktop.menus[0].size(), 2u);
    EXPECT_EQ(m_desktop.menus[0][1].caption, L"Add to the Startup folder of &all users...");
    EXPECT_THAT(FolderNames(m_common), ElementsAre(L"notepad.lnk"));
    EXPECT_TRUE(FolderNames(m_startup).empty());
    ASSERT_GE(RowOf(L"notepad", kCommon), 0);
    EXPECT_EQ(m_form->EntryList().Selected(), RowOf(L"notepad", kCommon));

    Click(TMainForm::AddButton);
    EXPECT_THAT(FolderNames(m_startup), ElementsAre(L"notepad.lnk"));

    m_desktop.menuAnswer = 0; // the menu closed with nothing chosen
    dropDown();
    EXPECT_EQ(m_desktop.browseCount, 2);

    const StandardUser standardUser;
    m_desktop.confirmAnswer = false; // no restart
    m_desktop.menuAnswer = TToolBar::AddForAllUsersCommand;
    dropDown();
    EXPECT_THAT(FolderNames(m_common), ElementsAre(L"notepad.lnk"));
    ASSERT_FALSE(m_desktop.questions.empty());
    EXPECT_THAT(m_desktop.questions.back(), ::testing::HasSubstr(L"needs administrator rights"));
}

TEST_F(AddDeleteTest, DeleteAsksAndRemovesOnlyThatEntry) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
    WriteShortcut(StorePath(kUserOff, L"Off"), L"c:\\off.exe", L"c:\\off.exe");
    Open();

    KeyUp(VK_DELETE); // nothing selected: nothing asked
    EXPECT_TRUE(m_desktop.questions.empty());

    m_desktop.confirmAnswer = false;
    Select(RowOf(L"Tool", kUser));
    Click(TMainForm::DeleteButton);
    EXPECT_THAT(m_desktop.questions, ElementsAre(L"Are you sure you want to delete \"Tool\""));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));

    m_desktop.confirmAnswer = true;
    for (const auto& [name, code] : {std::pair{L"Tool", 2}, {L"Agent", 1}, {L"Notes", 3}, {L"Off", 5}}) {
        Select(RowOf(name, code));
        KeyUp(VK_DELETE, true);
    }
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_FALSE(m_registry.RunValue(Location::Local, L"Agent"));
    EXPECT_FALSE(PathExists(StartupPath(L"Notes.lnk")));
    EXPECT_TRUE(StoreNames(kUserOff).empty());
    EXPECT_TRUE(Rows().empty());
}

TEST_F(AddDeleteTest, ARefreshAskedForDuringTheQuestionWaitsAndDoesNotRedirectTheDelete) {
    m_registry.SetRunValue(Location::User, L"B", L"c:\\b.exe");
    m_registry.SetRunValue(Location::User, L"C", L"c:\\c.exe");
    Open();
    Select(RowOf(L"C", kUser));
    ASSERT_EQ(RowOf(L"C", kUser), 1);
    // While the question is open, other programs add entries before it and the window is activated: no cycle runs
    // inside the question (the rows stay), and the one asked for runs once the command has ended.
    m_desktop.whileDialogOpen = [&] {
        m_registry.SetRunValue(Location::Local, L"A1", L"c:\\a1.exe");
        m_registry.SetRunValue(Location::Local, L"A2", L"c:\\a2.exe");
        m_form->RefreshAll();
        ASSERT_EQ(m_form->EntryList().RowEntry(1).name, L"C");
    };
    Click(TMainForm::DeleteButton);
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"C"));
    EXPECT_TRUE(m_registry.RunValue(Location::Local, L"A1"));
    EXPECT_TRUE(m_registry.RunValue(Location::Local, L"A2"));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"B"));
    EXPECT_EQ(Rows().size(), 3u);
}

// Where the selection and the keyboard focus stand after a command: on the entry it acted on, wherever its row now
// is and scrolled into view; after a delete, on the row that took the entry's place.
class SelectionTest : public WindowTest {
protected:
    int Focused() const { return ListView_GetNextItem(m_form->List(), -1, LVNI_FOCUSED); }
    int SelectedCount() const { return ListView_GetSelectedCount(m_form->List()); }
    bool InView(int row) const {
        RECT item{};
        RECT client{};
        ListView_GetItemRect(m_form->List(), row, &item, LVIR_BOUNDS);
        ::GetClientRect(m_form->List(), &client);
        return item.top >= 0 && item.bottom <= client.bottom;
    }
    void ExpectChosen(const std::wstring& name, int code) {
        const int row = RowOf(name, code);
        ASSERT_GE(row, 0) << name << " " << code;
        EXPECT_EQ(m_form->EntryList().Selected(), row) << name;
        EXPECT_EQ(Focused(), row) << name;
        EXPECT_EQ(SelectedCount(), 1) << name;
        EXPECT_TRUE(InView(row)) << name;
    }
};

TEST_F(SelectionTest, AToggledEntryStaysSelectedInItsNewPlace) {
    // More rows than the window shows: the first HKCU entry's switched-off row is far below.
    for (int i = 0; i < 40; ++i) {
        m_registry.SetRunValue(Location::User, L"Entry" + std::to_wstring(100 + i), L"c:\\e.exe");
    }
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
    Open();
    ASSERT_FALSE(InView(RowOf(L"Notes", kStartUp)));
    Select(RowOf(L"Entry100", kUser));

    ToggleRow(RowOf(L"Entry100", kUser));
    ExpectChosen(L"Entry100", kUserOff);
    ToggleRow(RowOf(L"Entry100", kUserOff));
    ExpectChosen(L"Entry100", kUser);

    // A toggle that cannot be done leaves the entry selected where it is.
    Select(RowOf(L"Notes", kStartUp));
    {
        const UniqueFile held = HoldFile(StartupPath(L"Notes.lnk"), 0);
        ToggleRow(RowOf(L"Notes", kStartUp));
    }
    EXPECT_EQ(m_desktop.errors.size(), 1u);
    ExpectChosen(L"Notes", kStartUp);
}

TEST_F(SelectionTest, AfterAddTheNewEntryAndAfterDeleteTheRowInItsPlace) {
    for (const wchar_t* name : {L"A", L"B", L"C"}) {
        m_registry.SetRunValue(Location::User, name, L"c:\\x.exe");
    }
    Open();
    m_desktop.browseAnswer = L"c:\\windows\\notepad.exe";
    Select(RowOf(L"A", kUser));
    Click(TMainForm::AddButton);
    ExpectChosen(L"notepad", kStartUp);
    Click(TMainForm::AddButton);
    ExpectChosen(L"notepad(1)", kStartUp);

    Select(RowOf(L"B", kUser));
    Click(TMainForm::DeleteButton);
    ExpectChosen(L"C", kUser); // the row that took B's place
    Select(RowOf(L"notepad(1)", kStartUp));
    Click(TMainForm::DeleteButton);
    ExpectChosen(L"notepad", kStartUp); // the last row was deleted: the new last row

    // A delete that cannot be done leaves the entry selected.
    {
        const UniqueFile held = HoldFile(StartupPath(L"notepad.lnk"), 0);
        Click(TMainForm::DeleteButton);
    }
    EXPECT_EQ(m_desktop.errors.size(), 1u);
    ExpectChosen(L"notepad", kStartUp);
}

TEST_F(SelectionTest, ARefreshThatMovesTheSelectedRowKeepsItSelected) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_registry.SetRunValue(Location::User, L"Zed", L"c:\\zed.exe");
    Open();
    Select(RowOf(L"Tool", kUser));
    ASSERT_EQ(RowOf(L"Tool", kUser), 0);
    m_registry.SetRunValue(Location::Local, L"A1", L"c:\\a1.exe");
    m_registry.SetRunValue(Location::Local, L"A2", L"c:\\a2.exe");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe --changed");
    KeyUp(VK_F5);
    ASSERT_EQ(RowOf(L"Tool", kUser), 2) << ::testing::PrintToString(Rows()) << m_desktop.errors.size();
    ExpectChosen(L"Tool", kUser);
}

} // namespace
} // namespace bw::test
