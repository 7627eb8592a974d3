// The list as Windows users expect it: who made each program, sorting by a header, the filter, the context
// menu, and a window that remembers its place.
#include "WindowTestSupport.h"

#include "app/ContextMenu.h"
#include "app/Controls.h"
#include "app/EntryOrder.h"
#include "app/Settings.h"
#include "platform/FileSystem.h"
#include "store/KeptOff.h"

namespace bw::test {
namespace {

using ::testing::ElementsAre;

// This test program carries Bootwarden's own version resource.
std::wstring Ours() {
    return ModulePath();
}
constexpr const wchar_t* kOurPublisher = L"Bootwarden developers";
constexpr const wchar_t* kOurDescription = L"Bootwarden - start-up entries";

class ListTest : public WindowTest {
protected:
    std::vector<std::wstring> Names() const {
        std::vector<std::wstring> names;
        for (const Row& row : Rows()) {
            names.push_back(row.name);
        }
        return names;
    }
    std::wstring Cell(int row, int column) const { return LvGetItemText(m_form->List(), row, column); }
    int HeaderFormat(int column) const {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        Header_GetItem(ListView_GetHeader(m_form->List()), column, &item);
        return item.fmt & (HDF_SORTUP | HDF_SORTDOWN);
    }
    void Filter(const std::wstring& text) {
        HwndSetText(m_form->FilterBox(), text);
        Pump();
    }
};

TEST_F(ListTest, PublisherAndDescriptionComeFromTheProgramThatStarts) {
    m_registry.SetRunValue(Location::User, L"Ours", L"\"" + Ours() + L"\" /tray");
    m_registry.SetRunValue(Location::User, L"Gone", L"c:\\no such folder\\gone.exe");
    WriteShortcut(StartupPath(L"Linked.lnk"), Ours());
    Open();

    // Shown after Name: Name, Publisher, Signer, Description, Target, "Found in...".
    int order[kColumnCount]{};
    ASSERT_TRUE(ListView_GetColumnOrderArray(m_form->List(), kColumnCount, order));
    EXPECT_THAT(
        order, ElementsAre(NameColumn, PublisherColumn, SignerColumn, DescriptionColumn, TargetColumn, LocationColumn));
    const int ours = RowOf(L"Ours", kUser);
    EXPECT_EQ(Cell(ours, PublisherColumn), kOurPublisher);
    EXPECT_EQ(Cell(ours, DescriptionColumn), kOurDescription);
    EXPECT_EQ(Cell(RowOf(L"Linked", kStartUp), PublisherColumn), kOurPublisher);
    EXPECT_EQ(Cell(RowOf(L"Gone", kUser), PublisherColumn), L"Program not found");
    EXPECT_EQ(Cell(RowOf(L"Gone", kUser), DescriptionColumn), L"");

    // The status bar: the target, and beside it what the program says of itself.
    Select(ours);
    // The test program claims its publisher without a signature: the first part says so instead of the target.
    EXPECT_EQ(StatusPart(0), std::wstring(L"Claims to be from ") + kOurPublisher + L", but the program is not signed");
    EXPECT_EQ(StatusPart(1), std::wstring(kOurDescription) + L" (" + kOurPublisher + L")");
    Select(RowOf(L"Gone", kUser));
    EXPECT_EQ(StatusPart(1), L"Program not found");
    EXPECT_EQ(StatusPart(2), L"3 entries");
}

// A value that another program named "x", a zero and more is a row of its own whose name shows the zero, and its
// check box switches it alone: "x" keeps starting.
TEST_F(ListTest, ANameWithAZeroIsShownWithItsSymbolAndSwitchedAlone) {
    const std::wstring hidden(L"x\0hidden", 8);
    m_registry.SetRunValue(Location::User, L"x", L"c:\\x.exe");
    m_registry.SetCountedRunValue(Location::User, hidden, L"c:\\hidden.exe");
    Open();
    const int row = RowOf(hidden, kUser);
    ASSERT_GE(row, 0);
    EXPECT_EQ(Cell(row, NameColumn), L"x\u2400hidden");
    EXPECT_EQ(Cell(RowOf(L"x", kUser), NameColumn), L"x");

    ToggleRow(row);
    Pump();
    using Values = std::map<std::wstring, std::wstring>;
    EXPECT_EQ(m_registry.CountedRunValues(Location::User), (Values{{L"x", L"c:\\x.exe"}}));
    EXPECT_GE(RowOf(hidden, kUserOff), 0);
    EXPECT_FALSE(LvGetCheck(m_form->List(), RowOf(hidden, kUserOff)));
    EXPECT_TRUE(LvGetCheck(m_form->List(), RowOf(L"x", kUser)));
    m_registry.RemoveCountedRunValue(Location::User, hidden); // should the toggle have left it
}

// At every size, all five columns are in view and none is squeezed to nothing.
TEST_F(ListTest, AllFiveColumnsStayInView) {
    m_registry.SetRunValue(Location::User, std::wstring(60, L'N'), L"\"" + Ours() + L"\" /min");
    m_registry.SetRunValue(Location::User, L"Short", L"C:\\windows\\regedit.exe");
    Open();
    for (const SIZE size : {SIZE{544, 387}, SIZE{900, 500}, SIZE{1200, 700}}) {
        ::SetWindowPos(m_form->Handle(), nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOMOVE);
        Pump();
        RECT client{};
        ::GetClientRect(m_form->List(), &client);
        int total = 0;
        for (int column = 0; column < kColumnCount; ++column) {
            total += ListView_GetColumnWidth(m_form->List(), column);
        }
        EXPECT_LE(total, client.right) << size.cx;
        EXPECT_GE(ListView_GetColumnWidth(m_form->List(), TargetColumn), 100) << size.cx;
        if (size.cx >= 900) {
            EXPECT_GE(ListView_GetColumnWidth(m_form->List(), PublisherColumn),
                      ListView_GetStringWidth(m_form->List(), kOurPublisher));
        }
    }
}

// Rows put in or taken out while the list does not redraw show or hide its vertical scroll bar only when it redraws
// again; the columns fill the width left beside that bar, so no horizontal bar comes with it and no gap is left.
TEST_F(ListTest, ColumnsFillTheWidthBesideTheScrollBarThatTheRowsBring) {
    m_registry.SetRunValue(Location::User, L"Short", L"C:\\windows\\regedit.exe");
    Open();
    const auto columnsFillTheList = [&](const char* when) {
        EXPECT_FALSE(::GetWindowLongPtrW(m_form->List(), GWL_STYLE) & WS_HSCROLL) << when;
        RECT client{};
        ::GetClientRect(m_form->List(), &client);
        int total = 0;
        for (int column = 0; column < kColumnCount; ++column) {
            total += ListView_GetColumnWidth(m_form->List(), column);
        }
        EXPECT_EQ(total, client.right) << when;
    };
    ASSERT_FALSE(::GetWindowLongPtrW(m_form->List(), GWL_STYLE) & WS_VSCROLL);
    columnsFillTheList("one row");

    // The rows come in at once (a refresh, as the first start's slices do); what the list shows before anything
    // else runs counts.
    for (int i = 0; i < 40; ++i) {
        m_registry.SetRunValue(Location::User, L"Entry " + std::to_wstring(i), L"C:\\windows\\regedit.exe");
    }
    m_form->RefreshAll();
    ASSERT_TRUE(::GetWindowLongPtrW(m_form->List(), GWL_STYLE) & WS_VSCROLL) << "fewer than 40 rows are meant to fit";
    columnsFillTheList("41 rows");

    for (int i = 0; i < 40; ++i) {
        m_registry.RemoveRunValue(Location::User, L"Entry " + std::to_wstring(i));
    }
    m_form->RefreshAll();
    ASSERT_FALSE(::GetWindowLongPtrW(m_form->List(), GWL_STYLE) & WS_VSCROLL);
    columnsFillTheList("one row again");
}

TEST_F(ListTest, AHeaderClickSortsOneWayThenTheOtherWithItsArrow) {
    m_registry.SetRunValue(Location::Local, L"beta", L"c:\\windows\\regedit.exe");
    m_registry.SetRunValue(Location::User, L"Alpha", L"\"" + Ours() + L"\"");
    m_registry.SetRunValue(Location::User, L"gamma", L"c:\\windows\\notepad.exe");
    WriteShortcut(StorePath(kLocalOff, L"Delta"), L"c:\\gone.exe", L"c:\\gone.exe");
    Open();
    // The default: by location, then name; the arrow on "Found in...".
    EXPECT_THAT(Names(), ElementsAre(L"beta", L"Alpha", L"gamma", L"Delta"));
    EXPECT_EQ(HeaderFormat(LocationColumn), HDF_SORTUP);
    EXPECT_EQ(HeaderFormat(NameColumn), 0);

    ClickHeader(NameColumn);
    EXPECT_THAT(Names(), ElementsAre(L"Alpha", L"beta", L"Delta", L"gamma")); // without regard to case
    EXPECT_EQ(HeaderFormat(NameColumn), HDF_SORTUP);
    EXPECT_EQ(HeaderFormat(LocationColumn), 0);
    ClickHeader(NameColumn);
    EXPECT_THAT(Names(), ElementsAre(L"gamma", L"Delta", L"beta", L"Alpha"));
    EXPECT_EQ(HeaderFormat(NameColumn), HDF_SORTDOWN);

    ClickHeader(PublisherColumn); // "", "Bootwarden developers", "Program not found"
    EXPECT_EQ(Names().at(3), L"Delta");
    EXPECT_EQ(Cell(3, PublisherColumn), L"Program not found");
    EXPECT_EQ(m_form->EntryList().Sort(), (SortOrder{PublisherColumn, false}));
}

TEST_F(ListTest, OrderSelectionAndScrollSurviveARefreshThatMovesARow) {
    for (int i = 0; i < 40; ++i) {
        wchar_t name[16];
        swprintf(name, 16, L"Entry%02d", i);
        m_registry.SetRunValue(Location::User, name, i % 2 ? L"c:\\windows\\notepad.exe" : L"c:\\windows\\regedit.exe");
    }
    m_registry.SetRunValue(Location::User, L"Mover", L"c:\\windows\\notepad.exe");
    Open();
    ClickHeader(TargetColumn);
    ClickHeader(TargetColumn); // regedit first, then notepad
    const auto targetsInOrder = [&] {
        std::vector<std::wstring> targets;
        for (const Row& row : Rows()) {
            targets.push_back(FoldedName(row.target));
        }
        return std::is_sorted(targets.rbegin(), targets.rend());
    };
    ASSERT_TRUE(targetsInOrder());
    Select(RowOf(L"Mover", kUser));
    ListView_EnsureVisible(m_form->List(), LvGetItemCount(m_form->List()) - 1, FALSE);
    Pump();
    const int top = ListView_GetTopIndex(m_form->List());
    ASSERT_GT(top, 0);

    // Another program changes the selected entry so that it sorts among the others: it moves, still selected.
    m_registry.SetRunValue(Location::User, L"Mover", L"c:\\windows\\regedit.exe");
    m_form->RefreshAll();
    Pump();
    EXPECT_TRUE(targetsInOrder());
    EXPECT_EQ(m_form->EntryList().Sort(), (SortOrder{TargetColumn, true}));
    EXPECT_EQ(m_form->EntryList().SelectedRows(), std::vector<int>{RowOf(L"Mover", kUser)});
    EXPECT_LT(RowOf(L"Mover", kUser), 21);
    EXPECT_EQ(ListView_GetTopIndex(m_form->List()), top);

    // A toggle keeps the order too.
    ToggleRow(RowOf(L"Entry03", kUser));
    EXPECT_NE(RowOf(L"Entry03", kUserOff), -1);
    EXPECT_TRUE(targetsInOrder());
    EXPECT_EQ(HeaderFormat(TargetColumn), HDF_SORTDOWN);
}

TEST_F(ListTest, TheFilterMatchesEveryFieldInAnyCase) {
    m_registry.SetRunValue(Location::User, L"Alpha", L"c:\\windows\\notepad.exe /Quiet");
    m_registry.SetRunValue(Location::User, L"Beta", L"\"" + Ours() + L"\"");
    m_registry.SetRunValue(Location::User, L"\u0414\u0435\u043b\u044c\u0442\u0430",
                           L"c:\\tools\\\u041f\u0443\u0441\u043a.exe");
    WriteShortcut(StartupPath(L"Gamma.lnk"), L"c:\\windows\\regedit.exe");
    Open();
    EXPECT_EQ(StatusPart(2), L"4 entries");

    const auto shown = [&](const std::wstring& filter) {
        Filter(filter);
        return Names();
    };
    EXPECT_THAT(shown(L"ALP"), ElementsAre(L"Alpha"));                // name
    EXPECT_THAT(shown(L"notepad.exe /quiet"), ElementsAre(L"Alpha")); // command line
    EXPECT_THAT(shown(L"DEVELOPERS"), ElementsAre(L"Beta"));          // publisher
    EXPECT_THAT(shown(L"start-up ENTRIES"), ElementsAre(L"Beta"));    // description
    EXPECT_THAT(shown(L"Regedit.EXE"), ElementsAre(L"Gamma"));        // a shortcut's target
    EXPECT_THAT(shown(L"\u0434\u0415\u043b\u042c"), ElementsAre(L"\u0414\u0435\u043b\u044c\u0442\u0430")); // Cyrillic
    EXPECT_THAT(shown(L"\u043f\u0423\u0441\u043a"), ElementsAre(L"\u0414\u0435\u043b\u044c\u0442\u0430"));
    EXPECT_EQ(StatusPart(2), L"1 of 4 entries shown");
    EXPECT_TRUE(shown(L"nothing like it").empty());
    EXPECT_EQ(StatusPart(2), L"0 of 4 entries shown");

    // Esc in the box clears it; Ctrl+F in the list puts the focus in the box.
    Filter(L"alpha");
    ::SendMessageW(m_form->FilterBox(), WM_KEYDOWN, VK_ESCAPE, 1);
    Pump();
    EXPECT_EQ(HwndGetText(m_form->FilterBox()), L"");
    EXPECT_EQ(Names().size(), 4u);
    EXPECT_EQ(StatusPart(2), L"4 entries");
    ::SetFocus(m_form->List());
    KeyUp('F', false, true);
    EXPECT_EQ(::GetFocus(), m_form->FilterBox());
    // Filtered rows stay filtered across a refresh that changes something.
    Filter(L"gamma");
    m_registry.SetRunValue(Location::User, L"Gamma two", L"c:\\windows\\notepad.exe");
    m_form->RefreshAll();
    EXPECT_THAT(Names(), ElementsAre(L"Gamma two", L"Gamma"));
}

TEST(EntryOrderTest, AShortcutsCommandLineIsItsTargetAndArguments) {
    Entry shortcut;
    shortcut.code = kStartUp;
    shortcut.target = L"C:\\Program Files\\Tool\\tool.exe";
    shortcut.arguments = L"--tray";
    shortcut.description = L"a description nobody starts";
    EXPECT_EQ(CommandLineOf(shortcut), L"\"C:\\Program Files\\Tool\\tool.exe\" --tray");
    EXPECT_FALSE(MatchesFilter(shortcut, FilterKeyOf(L"nobody")));
    EXPECT_TRUE(MatchesFilter(shortcut, FilterKeyOf(L"TOOL.EXE\" --TR")));
    Entry value;
    value.code = kUserOff;
    value.description = L"c:\\a.exe /x";
    EXPECT_EQ(CommandLineOf(value), L"c:\\a.exe /x");
}

class ContextMenuTest : public ListTest {
protected:
    std::vector<std::wstring> EnabledItems() const {
        std::vector<std::wstring> enabled;
        for (const auto& item : m_desktop.menus.back()) {
            if (item.enabled) {
                enabled.push_back(item.caption);
            }
        }
        return enabled;
    }
    void Choose(UINT command, LPARAM at = -1) {
        m_desktop.menuAnswer = command;
        ::SendMessageW(m_form->List(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_form->List()), at);
        Pump();
    }
};

TEST_F(ContextMenuTest, EachCommandActsOnTheRowItWasOpenedFor) {
    m_registry.SetRunValue(Location::User, L"Tool", L"\"" + Ours() + L"\" /tray");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe");
    WriteShortcut(StorePath(kLocalOff, L"Old"), L"c:\\old.exe", L"c:\\old.exe /q");
    Open();

    Select(RowOf(L"Tool", kUser));
    Choose(0);
    ASSERT_EQ(m_desktop.menus.size(), 1u);
    EXPECT_THAT(EnabledItems(), ElementsAre(L"Switch o&ff", L"&Properties", L"&Delete", L"Open file &location",
                                            L"Open in &Registry Editor", L"&Copy command line"));
    Choose(CopyCommandLineCommand);
    EXPECT_THAT(m_desktop.copied, ElementsAre(L"\"" + Ours() + L"\" /tray"));
    Choose(OpenFileLocationCommand);
    ASSERT_EQ(m_desktop.foldersShown.size(), 1u);
    EXPECT_TRUE(SameFileName(m_desktop.foldersShown[0], Ours()));
    Choose(OpenInRegistryEditorCommand);
    EXPECT_THAT(m_desktop.registryKeysOpened,
                ElementsAre(L"Computer\\HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
    Choose(PropertiesCommand);
    EXPECT_THAT(m_desktop.propertiesShown, ElementsAre(StorePath(kUser, L"Tool")));

    // A Startup entry opens in its folder, the shortcut selected.
    Select(RowOf(L"Notes", kStartUp));
    Choose(OpenInRegistryEditorCommand);
    EXPECT_EQ(m_desktop.foldersShown.back(), StartupPath(L"Notes.lnk"));

    // A switched-off entry whose program is gone: neither a key nor a file location to open.
    Select(RowOf(L"Old", kLocalOff));
    Choose(OpenInRegistryEditorCommand);
    EXPECT_THAT(EnabledItems(), ElementsAre(L"Switch &on", L"&Keep it switched off", L"&Properties", L"&Delete",
                                            L"&Copy command line"));
    EXPECT_EQ(m_desktop.registryKeysOpened.size(), 1u);
    EXPECT_EQ(m_desktop.foldersShown.size(), 2u);
    // Keeping it switched off is a mark in the store that the same command takes away again.
    Choose(KeepOffCommand);
    EXPECT_TRUE(IsKeptOff(kLocalOff, L"Old"));
    Choose(KeepOffCommand);
    EXPECT_FALSE(IsKeptOff(kLocalOff, L"Old"));

    // With nothing selected there is no menu.
    Select(-1);
    Choose(DeleteCommand);
    EXPECT_EQ(m_desktop.menus.size(), 9u);
    EXPECT_TRUE(m_desktop.questions.empty());
}

TEST_F(ContextMenuTest, SwitchingSeveralGoesTheWayOfTheirBoxes) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe -q");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
    m_registry.SetRunValue(Location::User, L"Stays", L"c:\\stays.exe");
    Open();
    Select(RowOf(L"Agent", kLocal));
    SelectAlso(RowOf(L"Tool", kUser));
    SelectAlso(RowOf(L"Notes", kStartUp));
    Choose(SwitchOffCommand);

    EXPECT_FALSE(m_registry.RunValue(Location::Local, L"Agent"));
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_FALSE(PathExists(StartupPath(L"Notes.lnk")));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Stays"));
    EXPECT_THAT(StoreNames(kLocalOff), ElementsAre(L"Agent.lnk"));
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"Tool.lnk"));
    EXPECT_THAT(StoreNames(kStartUpOff), ElementsAre(L"Notes.lnk"));
    EXPECT_FALSE(LvGetCheck(m_form->List(), RowOf(L"Tool", kUserOff)));

    Select(RowOf(L"Agent", kLocalOff));
    SelectAlso(RowOf(L"Tool", kUserOff));
    SelectAlso(RowOf(L"Notes", kStartUpOff));
    SelectAlso(RowOf(L"Stays", kUser)); // already on: left alone
    Choose(SwitchOnCommand);
    EXPECT_EQ(m_registry.RunValue(Location::Local, L"Agent")->text, L"c:\\agent.exe -q");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe");
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).description, L"notes");
    for (int code = kLocalOff; code <= kStartUpOff; ++code) {
        EXPECT_TRUE(StoreNames(code).empty()) << code;
    }
    EXPECT_TRUE(LvGetCheck(m_form->List(), RowOf(L"Stays", kUser)));
    EXPECT_TRUE(m_desktop.errors.empty());
}

TEST_F(ContextMenuTest, DeletingSeveralAsksOnceNamingTheCount) {
    m_registry.SetRunValue(Location::User, L"One", L"c:\\one.exe");
    m_registry.SetRunValue(Location::User, L"Two", L"c:\\two.exe");
    WriteShortcut(StorePath(kUserOff, L"Three"), L"c:\\three.exe", L"c:\\three.exe");
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept.exe");
    Open();
    Select(RowOf(L"One", kUser));
    SelectAlso(RowOf(L"Two", kUser));
    SelectAlso(RowOf(L"Three", kUserOff));

    m_desktop.confirmAnswer = false;
    Choose(DeleteCommand);
    EXPECT_THAT(m_desktop.questions, ElementsAre(L"Are you sure you want to delete these 3 entries"));
    EXPECT_EQ(Rows().size(), 4u);

    // The Delete button asks the same for the same selection; one answer removes all three.
    m_desktop.confirmAnswer = true;
    Click(TMainForm::DeleteButton);
    EXPECT_EQ(m_desktop.questions.size(), 2u);
    EXPECT_EQ(m_desktop.questions.back(), L"Are you sure you want to delete these 3 entries");
    EXPECT_THAT(m_registry.RunValueNames(Location::User), ElementsAre(L"Kept"));
    EXPECT_TRUE(StoreNames(kUserOff).empty());
    EXPECT_THAT(Names(), ElementsAre(L"Kept"));
}

// The keyboard and the mouse open the same menu: the Menu key and Shift+F10 as the system turns them into the
// menu's message, and a right click on a row, which selects it first.
TEST_F(ContextMenuTest, RightClickMenuKeyAndShiftF10OpenIt) {
    m_registry.SetRunValue(Location::User, L"One", L"c:\\one.exe");
    m_registry.SetRunValue(Location::User, L"Two", L"c:\\two.exe");
    Open();
    Select(RowOf(L"One", kUser));
    ::SetFocus(m_form->List());
    KeyUp(VK_APPS);
    ASSERT_EQ(m_desktop.menus.size(), 1u); // (without it, the F10 below would open the window menu and wait)
    // Shift+F10 comes as a system key.
    BYTE state[256]{};
    ::GetKeyboardState(state);
    BYTE held[256];
    std::copy(std::begin(state), std::end(state), std::begin(held));
    held[VK_SHIFT] = 0x80;
    ::SetKeyboardState(held);
    ::SendMessageW(m_form->List(), WM_SYSKEYDOWN, VK_F10, 0x00000001);
    ::SendMessageW(m_form->List(), WM_SYSKEYUP, VK_F10, 0xC0000001);
    ::SetKeyboardState(state);
    Pump();
    EXPECT_EQ(m_desktop.menus.size(), 2u);

    RECT bounds{};
    ListView_GetItemRect(m_form->List(), RowOf(L"Two", kUser), &bounds, LVIR_LABEL);
    const LPARAM at = MAKELPARAM(bounds.left + 4, (bounds.top + bounds.bottom) / 2);
    m_desktop.menuAnswer = CopyCommandLineCommand;
    // The list view follows the button until it is released: the release waits in the queue.
    ::PostMessageW(m_form->List(), WM_RBUTTONUP, 0, at);
    ::SendMessageW(m_form->List(), WM_RBUTTONDOWN, MK_RBUTTON, at);
    Pump();
    EXPECT_EQ(m_desktop.menus.size(), 3u);
    EXPECT_THAT(m_desktop.copied, ElementsAre(L"c:\\two.exe"));
}

class SettingsTest : public ListTest {
protected:
    std::wstring SettingsFile() const { return m_programDir + L"Data\\Bootwarden.ini"; }
};

TEST(WindowSettingsTest, WhatIsWrittenIsReadAndDamageMeansDefaults) {
    WindowSettings settings;
    settings.bounds = RECT{-20, 30, 700, 540};
    settings.maximized = true;
    settings.columnWidths = {100, 200, 120, 90, 150};
    settings.sort = SortOrder{PublisherColumn, true};
    settings.hideWindows = true;
    const WindowSettings read = ParseSettings(FormatSettings(settings));
    EXPECT_TRUE(read.hideWindows);
    ASSERT_TRUE(read.bounds);
    EXPECT_TRUE(::EqualRect(&*read.bounds, &*settings.bounds));
    EXPECT_TRUE(read.maximized);
    EXPECT_EQ(read.columnWidths, settings.columnWidths);
    EXPECT_EQ(read.sort, settings.sort);

    // Each damaged line is left out, the rest stands.
    const WindowSettings damaged = ParseSettings("window=10,20,x,400\nmaximized=1\ncolumns=1,2,3\nsort=9,up\n"
                                                 "window=500,20,100,400\ncolumns=1,2,3,4,99999\nsort=1,sideways");
    EXPECT_FALSE(damaged.bounds);
    EXPECT_TRUE(damaged.maximized);
    EXPECT_TRUE(damaged.columnWidths.empty());
    EXPECT_FALSE(damaged.sort);
    const WindowSettings garbage = ParseSettings(std::string("\0\xff\xfe=\n==\nwindow", 14));
    EXPECT_FALSE(garbage.bounds);
    EXPECT_FALSE(garbage.maximized);
}

TEST(WindowSettingsTest, LinesAndNumbersAreSplitAsWritten) {
    // A file saved by Notepad has CRLF line ends, and its last line may have none.
    const WindowSettings crlf = ParseSettings("window=10,20,300,400\r\nmaximized=1\r\nsort=3,down");
    ASSERT_TRUE(crlf.bounds);
    EXPECT_EQ(crlf.bounds->right, 300);
    EXPECT_TRUE(crlf.maximized);
    ASSERT_TRUE(crlf.sort);
    EXPECT_EQ(crlf.sort->column, PublisherColumn);
    // A number left out between two commas is damage; a line that is only a line end is nothing.
    const WindowSettings gap = ParseSettings("\n\nwindow=10,,20,300,400\ncolumns=1,2,3,4,5\n\n");
    EXPECT_FALSE(gap.bounds);
    EXPECT_EQ(gap.columnWidths, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(WindowSettingsTest, AWindowOffTheMonitorIsBroughtBack) {
    const RECT work{0, 0, 1280, 760};
    const auto same = [](const RECT& a, const RECT& b) { return ::EqualRect(&a, &b) != FALSE; };
    const RECT inside{100, 100, 700, 500};
    EXPECT_TRUE(same(KeepOnWorkArea(inside, work), inside));
    const RECT partly{1000, 500, 1600, 900}; // the title still in reach
    EXPECT_TRUE(same(KeepOnWorkArea(partly, work), partly));
    EXPECT_TRUE(same(KeepOnWorkArea(RECT{5000, 4000, 5600, 4400}, work), (RECT{680, 360, 1280, 760})));
    EXPECT_TRUE(same(KeepOnWorkArea(RECT{100, -390, 700, 10}, work), (RECT{100, 0, 700, 400}))); // title above
    EXPECT_TRUE(same(KeepOnWorkArea(RECT{-100, -100, 3000, 3000}, work), work)); // larger than the monitor
}

TEST_F(SettingsTest, SizePlaceMaximisedColumnsAndSortComeBack) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\windows\\notepad.exe");
    Open();
    EXPECT_TRUE(m_desktop.errors.empty()); // no file yet: the defaults, and nothing said of it
    ::SetWindowPos(m_form->Handle(), nullptr, 40, 50, 800, 520, SWP_NOZORDER);
    ClickHeader(NameColumn);
    ClickHeader(NameColumn);
    Close();
    ASSERT_TRUE(FileExists(SettingsFile()));

    Open();
    const RECT bounds = NormalBounds();
    EXPECT_EQ(bounds.left, 40);
    EXPECT_EQ(bounds.top, 50);
    EXPECT_EQ(bounds.right - bounds.left, 800);
    EXPECT_EQ(bounds.bottom - bounds.top, 520);
    EXPECT_FALSE(::IsZoomed(m_form->Handle()));
    EXPECT_EQ(m_form->EntryList().Sort(), (SortOrder{NameColumn, true}));
    EXPECT_EQ(HeaderFormat(NameColumn), HDF_SORTDOWN);
    EXPECT_FALSE(m_form->EntryList().ColumnsSizedByUser());

    ::ShowWindow(m_form->Handle(), SW_MAXIMIZE);
    Pump();
    Close();
    Open();
    EXPECT_TRUE(::IsZoomed(m_form->Handle()));
    EXPECT_EQ(NormalBounds().left, 40);

    // Widths the user gave the columns stay as given; a file written before the Signer column (one width less)
    // leaves that column its default.
    Close();
    WriteFileBytes(SettingsFile(), "window=40,50,840,570\r\ncolumns=90,150,110,80,70\r\n");
    Open();
    EXPECT_TRUE(m_form->EntryList().ColumnsSizedByUser());
    EXPECT_EQ(m_form->EntryList().ColumnWidths(), (std::vector<int>{90, 150, 110, 80, 70, 100}));
    Close();
    EXPECT_NE(ReadFileBytes(SettingsFile()).find("columns=90,150,110,80,70,100"), std::string::npos);
}

TEST_F(SettingsTest, ADamagedFileOrAnUnplacedWindowMeansDefaultsAndNoBox) {
    WriteFileBytes(SettingsFile(), std::string("\xff\xfe\0window=1,2", 14));
    m_form = std::make_unique<TMainForm>(::GetModuleHandleW(nullptr), m_desktop, m_programDir);
    ASSERT_TRUE(m_form->Create(SW_SHOWNORMAL));
    Pump();
    EXPECT_TRUE(m_desktop.errors.empty());
    HDC dc = ::GetDC(m_form->Handle());
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(m_form->Handle(), dc);
    EXPECT_EQ(NormalBounds().left, ::MulDiv(196, dpi, 96));
    EXPECT_EQ(m_form->EntryList().Sort(), SortOrder{});
    Close();

    // Closed on a monitor that is no longer there: it opens where it can be reached.
    WriteFileBytes(SettingsFile(), "window=5000,4000,5600,4400\nmaximized=0\n");
    Open();
    RECT window{};
    ::GetWindowRect(m_form->Handle(), &window);
    RECT screen{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    RECT visible{};
    EXPECT_TRUE(::IntersectRect(&visible, &window, &screen));
    EXPECT_EQ(window.right - window.left, 600);
    EXPECT_TRUE(m_desktop.errors.empty());
}

} // namespace
} // namespace bw::test
