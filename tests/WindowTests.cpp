#include "WindowTestSupport.h"

#include "app/Controls.h"
#include "app/WindowMessages.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/ShellLink.h"
#include "resources/Texts.h"
#include "store/Import.h"
#include "store/Locations.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace bw::test {
namespace {

using ::testing::ElementsAre;

TEST(ErrorBoxTest, TitleAndFullStopRules) {
    EXPECT_EQ(ApplicationTitle(L"C:\\Tools\\Bootwarden.exe"), L"Bootwarden");
    EXPECT_EQ(ApplicationTitle(L"C:\\Tools\\BOOTWARDEN.EXE"), L"Bootwarden");
    EXPECT_EQ(ApplicationTitle(L"D:bw.test.exe"), L"bw");
    EXPECT_EQ(ErrorBoxText(L"Cannot open file C:\\a.lnk"), L"Cannot open file C:\\a.lnk.");
    EXPECT_EQ(ErrorBoxText(L"Invalid data type for 'x'"), L"Invalid data type for 'x'"); // "'" sorts before "."
    EXPECT_EQ(ErrorBoxText(L"Done."), L"Done.");
    EXPECT_EQ(ErrorBoxText(L"Stream read error"), L"Stream read error.");
    EXPECT_EQ(ErrorBoxText(L"(1)"), L"(1)");
    EXPECT_EQ(ErrorBoxText(L""), L"");
}

class MainWindowTest : public WindowTest {};

TEST_F(MainWindowTest, ListsEveryStoreFolderInCodeOrderWithItsTexts) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"C:\\windows\\notepad.exe");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe /q");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe");
    WriteShortcut(StorePath(kLocalOff, L"OldAgent"), L"c:\\old.exe", L"c:\\old.exe");
    WriteShortcut(StorePath(kUserOff, L"Tool"), L"c:\\tool.exe", L"c:\\tool.exe");
    WriteShortcut(StorePath(kStartUpOff, L"Blank"), L"", L""); // records no target
    // Hidden, system and read-only store links are listed like any other.
    WriteShortcut(StorePath(kUserOff, L"Hidden"), L"c:\\h.exe", L"c:\\h.exe");
    ::SetFileAttributesW(StorePath(kUserOff, L"Hidden").c_str(),
                         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);

    Open();

    EXPECT_TRUE(m_form->ListReady());
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0], (Row{L"Agent", L"C:\\windows\\notepad.exe", L"1 - Registry (HKLM)", true}));
    EXPECT_EQ(rows[1], (Row{L"Tool", L"Not Found", L"2 - Registry (HKCU)", true}));
    EXPECT_EQ(rows[2], (Row{L"Notes", L"c:\\windows\\notepad.exe", L"3 - Startup Folder", true}));
    EXPECT_EQ(rows[3], (Row{L"OldAgent", L"Not Found", L"4 - Registry (HKLM)", false}));
    // The same name enabled and disabled: two rows, the same label, different digits.
    EXPECT_EQ(rows[4].location, L"5 - Registry (HKCU)");
    EXPECT_EQ(rows[5].location, L"5 - Registry (HKCU)");
    EXPECT_EQ(rows[6], (Row{L"Blank", L"Not Found", L"6 - Startup Folder", false}));

    // The row remembers its command line and its store link.
    const Entry& agent = m_form->EntryList().RowEntry(RowOf(L"Agent", kLocal));
    EXPECT_EQ(agent.description, L"C:\\windows\\notepad.exe");
    EXPECT_EQ(agent.storeLinkPath, StorePath(kLocal, L"Agent"));

    // A refresh in which nothing changed gives the same rows.
    m_form->RefreshAll();
    EXPECT_EQ(Rows(), rows);
}

// An entry changed by another program while its store link was edited is asked about once; one answer keeps what
// starts now, the other uses the edit.
TEST_F(MainWindowTest, BothSidesChangedIsAskedOnceAndAnsweredAsChosen) {
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept-1.exe");
    m_registry.SetRunValue(Location::User, L"Used", L"c:\\used-1.exe");
    Open();
    EditShortcut(StorePath(kUser, L"Kept"), [](TShellLink& link) { link.SetDescription(L"c:\\kept-mine.exe"); });
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept-theirs.exe");
    m_desktop.confirmAnswer = true;
    m_form->RefreshAll();
    Pump();
    ASSERT_EQ(m_desktop.questions.size(), 1u);
    EXPECT_EQ(m_desktop.questions[0],
              FormatMessageText(text::kBothChangedQuestion, {L"Kept", L"c:\\kept-theirs.exe", L"c:\\kept-mine.exe"}));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Kept")->text, L"c:\\kept-theirs.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Kept")).description, L"c:\\kept-theirs.exe");

    EditShortcut(StorePath(kUser, L"Used"), [](TShellLink& link) { link.SetDescription(L"c:\\used-mine.exe"); });
    m_registry.SetRunValue(Location::User, L"Used", L"c:\\used-theirs.exe");
    m_desktop.confirmAnswer = false;
    m_form->RefreshAll();
    Pump();
    ASSERT_EQ(m_desktop.questions.size(), 2u);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Used")->text, L"c:\\used-mine.exe");
    m_form->RefreshAll();
    Pump();
    EXPECT_EQ(m_desktop.questions.size(), 2u) << "asked once";
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Kept")->text, L"c:\\kept-theirs.exe");
}

// The Target column shows the program that a command line starts, as Windows finds it.
TEST_F(MainWindowTest, TargetsNameTheProgramThatStarts) {
    m_registry.SetRunValue(Location::User, L"Quoted", L"\"C:\\windows\\notepad.exe\" /min");
    m_registry.SetRunValue(Location::User, L"Slash", L"C:\\windows\\regedit.exe /min");
    m_registry.SetRunValue(Location::User, L"Expand", L"%SystemRoot%\\notepad.exe -x", REG_EXPAND_SZ);
    m_registry.SetRunValue(Location::User, L"Bare", L"notepad.exe /a");
    m_registry.SetRunValue(Location::User, L"Missing", L"\"C:\\no such folder\\tool.exe\" /b");
    Open();
    const auto target = [&](const wchar_t* name) { return Rows()[static_cast<size_t>(RowOf(name, kUser))].target; };
    EXPECT_TRUE(SameFileName(target(L"Quoted"), L"C:\\windows\\notepad.exe")) << target(L"Quoted").c_str();
    EXPECT_TRUE(SameFileName(target(L"Slash"), L"C:\\windows\\regedit.exe"));
    EXPECT_TRUE(SameFileName(target(L"Expand"), L"C:\\windows\\notepad.exe"));
    EXPECT_TRUE(SameFileName(FileNamePart(target(L"Bare")), L"notepad.exe"));
    EXPECT_EQ(target(L"Missing"), L"Not Found");
}

// In the restored window and at every size above it, all three columns are in view.
TEST_F(MainWindowTest, AllThreeColumnsStayInView) {
    m_registry.SetRunValue(Location::User, std::wstring(60, L'N'), L"\"C:\\windows\\notepad.exe\" /min");
    m_registry.SetRunValue(Location::User, L"Short", L"C:\\windows\\regedit.exe");
    Open();
    for (const SIZE size : {SIZE{544, 387}, SIZE{700, 500}, SIZE{1200, 700}}) {
        ::SetWindowPos(m_form->Handle(), nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOMOVE);
        Pump();
        RECT client{};
        ::GetClientRect(m_form->List(), &client);
        int total = 0;
        for (int column = 0; column < 3; ++column) {
            const int width = ListView_GetColumnWidth(m_form->List(), column);
            EXPECT_GT(width, 20) << column;
            total += width;
        }
        EXPECT_LE(total, client.right) << size.cx;
        // "Found in..." is as wide as its header at least.
        EXPECT_GE(ListView_GetColumnWidth(m_form->List(), 2), ListView_GetStringWidth(m_form->List(), L"Found in..."));
    }
}

TEST_F(MainWindowTest, OpensMaximisedOverItsRestoredBounds) {
    m_form = std::make_unique<TMainForm>(::GetModuleHandleW(nullptr), m_desktop, m_programDir);
    ASSERT_TRUE(m_form->Create(SW_SHOWMAXIMIZED));
    Pump();
    EXPECT_TRUE(::IsZoomed(m_form->Handle()));
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    ASSERT_TRUE(::GetWindowPlacement(m_form->Handle(), &placement));
    // 196, 122, 544 by 387 at 96 DPI, scaled for the window's own.
    HDC dc = ::GetDC(m_form->Handle());
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(m_form->Handle(), dc);
    const RECT& normal = placement.rcNormalPosition;
    EXPECT_EQ(normal.left, ::MulDiv(196, dpi, 96));
    EXPECT_EQ(normal.top, ::MulDiv(122, dpi, 96));
    EXPECT_EQ(normal.right - normal.left, ::MulDiv(196 + 544, dpi, 96) - ::MulDiv(196, dpi, 96));
    EXPECT_EQ(normal.bottom - normal.top, ::MulDiv(122 + 387, dpi, 96) - ::MulDiv(122, dpi, 96));
    EXPECT_EQ(::GetFocus(), m_form->List());
}

TEST_F(MainWindowTest, AnEmptyStoreGivesAnEmptyReadyList) {
    Open();
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(m_form->ListReady());
    EXPECT_TRUE(m_desktop.errors.empty());
    EXPECT_EQ(HwndGetText(m_form->Handle()), L"Bootwarden");
}

TEST_F(MainWindowTest, SelectionDrivesTheStatusBarAndTheRowCommands) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\windows\\notepad.exe");
    WriteShortcut(StorePath(kStartUpOff, L"Blank"), L"", L"");
    Open();
    const HWND toolBar = m_form->ToolBar();
    EXPECT_FALSE(TbIsEnabled(toolBar, TMainForm::PropButton));
    EXPECT_FALSE(TbIsEnabled(toolBar, TMainForm::DeleteButton));
    EXPECT_EQ(SbGetText(m_form->StatusBar()), L"");

    Select(RowOf(L"Tool", kUser));
    EXPECT_EQ(SbGetText(m_form->StatusBar()), L"c:\\windows\\notepad.exe");
    EXPECT_TRUE(TbIsEnabled(toolBar, TMainForm::PropButton));
    EXPECT_TRUE(TbIsEnabled(toolBar, TMainForm::DeleteButton));

    Select(RowOf(L"Blank", kStartUpOff)); // moving the selection ends with the new row
    EXPECT_EQ(SbGetText(m_form->StatusBar()), L"Not Found");
    EXPECT_TRUE(TbIsEnabled(toolBar, TMainForm::DeleteButton));

    Select(-1);
    EXPECT_EQ(SbGetText(m_form->StatusBar()), L"");
    EXPECT_FALSE(TbIsEnabled(toolBar, TMainForm::PropButton));
    EXPECT_FALSE(TbIsEnabled(toolBar, TMainForm::DeleteButton));

    // Selecting changes nothing in the system or the store.
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\windows\\notepad.exe");
    EXPECT_THAT(StoreNames(kStartUpOff), ElementsAre(L"Blank.lnk"));
}

TEST_F(MainWindowTest, PropertiesAndHelpGoToTheStoreLinkAndTheHelpPage) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    WriteShortcut(StorePath(kLocalOff, L"Old"), L"c:\\old.exe", L"c:\\old.exe");
    Open();

    Click(TMainForm::PropButton); // no selection: nothing
    EXPECT_TRUE(m_desktop.propertiesShown.empty());
    Select(RowOf(L"Old", kLocalOff));
    Click(TMainForm::PropButton);
    Select(RowOf(L"Tool", kUser));
    KeyUp(VK_RETURN);
    EXPECT_THAT(m_desktop.propertiesShown, ElementsAre(StorePath(kLocalOff, L"Old"), StorePath(kUser, L"Tool")));

    Click(TMainForm::HelpButton);
    KeyUp(VK_F1, true);
    EXPECT_THAT(m_desktop.shellOpened, ElementsAre(m_programDir + L"help.html", m_programDir + L"help.html"));
}

// Each distinct icon is one image, shared by every row that shows it; over many changes the image list stays
// bounded and every row shows its own icon.
TEST_F(MainWindowTest, ImagesAreSharedAndStayBounded) {
    m_registry.SetRunValue(Location::User, L"One", L"c:\\windows\\notepad.exe");
    m_registry.SetRunValue(Location::User, L"Two", L"c:\\windows\\notepad.exe /b");
    m_registry.SetRunValue(Location::User, L"Three", L"c:\\windows\\regedit.exe");
    WriteShortcut(StorePath(kStartUpOff, L"Blank"), L"", L"");
    Open();
    const HWND list = m_form->List();
    EXPECT_EQ(LvGetItemImage(list, RowOf(L"One", kUser)), LvGetItemImage(list, RowOf(L"Two", kUser)));
    EXPECT_NE(LvGetItemImage(list, RowOf(L"One", kUser)), LvGetItemImage(list, RowOf(L"Three", kUser)));
    EXPECT_EQ(::ImageList_GetImageCount(m_form->EntryList().Images()), 3);

    const wchar_t* programs[] = {L"notepad", L"regedit", L"winecfg", L"cmd", L"explorer", L"winhlp32"};
    for (int i = 0; i < 60; ++i) {
        m_registry.SetRunValue(Location::User, L"Two",
                               std::wstring(L"c:\\windows\\") + programs[i % 6] + L".exe " + std::to_wstring(i));
        m_form->RefreshAll();
    }
    EXPECT_LE(::ImageList_GetImageCount(m_form->EntryList().Images()), 3 * 2 + 16 + 1);
    for (int row = 0; row < 4; ++row) {
        EXPECT_LT(LvGetItemImage(list, row), ::ImageList_GetImageCount(m_form->EntryList().Images()));
    }
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(m_form->EntryList().DefIcon(), &info)) << "the default icon was destroyed";
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
}

// True when the image draws anything at all on a white ground.
bool ImageShowsSomething(HIMAGELIST images, int index) {
    int width = 0;
    int height = 0;
    ::ImageList_GetIconSize(images, &width, &height);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = ::CreateCompatibleDC(nullptr);
    UniqueBitmap canvas(::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    const HGDIOBJ old = ::SelectObject(dc, canvas.Get());
    RECT all{0, 0, width, height};
    ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::ImageList_Draw(images, index, dc, 0, 0, ILD_NORMAL);
    ::GdiFlush();
    const auto* pixels = static_cast<const DWORD*>(bits);
    const bool drawn = std::any_of(pixels, pixels + width * height, [](DWORD p) { return (p & 0xFFFFFF) != 0xFFFFFF; });
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    return drawn;
}

TEST_F(MainWindowTest, EveryRowKeepsAVisibleIconWhenRowsMove) {
    m_registry.SetRunValue(Location::User, L"Notepad", L"c:\\windows\\notepad.exe");
    m_registry.SetRunValue(Location::User, L"Nowhere", L"c:\\no such program.exe");
    Open();
    // A new first row moves every other row, and with it the icon each must show.
    m_registry.SetRunValue(Location::Local, L"First", L"c:\\windows\\regedit.exe");
    KeyUp(VK_F5);
    ASSERT_EQ(Rows().size(), 3u);
    for (int item = 0; item < 3; ++item) {
        EXPECT_TRUE(ImageShowsSomething(m_form->EntryList().Images(), LvGetItemImage(m_form->List(), item))) << item;
    }
    m_registry.RemoveRunValue(Location::Local, L"First");
    KeyUp(VK_F5);
    for (int item = 0; item < 2; ++item) {
        EXPECT_TRUE(ImageShowsSomething(m_form->EntryList().Images(), LvGetItemImage(m_form->List(), item))) << item;
    }
    EXPECT_LE(::ImageList_GetImageCount(m_form->EntryList().Images()), 3);
}

TEST_F(MainWindowTest, MissingStoreFoldersAreMadeAtStart) {
    ::RemoveDirectoryW(StoreFolderPath(kUserOff).c_str());
    ::RemoveDirectoryW(StoreFolderPath(kLocal).c_str());
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    Open();
    EXPECT_TRUE(DirectoryExists(StoreFolderPath(kUserOff)));
    EXPECT_EQ(Rows().size(), 1u);
    EXPECT_TRUE(m_desktop.errors.empty());
}

TEST_F(MainWindowTest, AStoreFolderThatCannotBeMadeIsNamedInTheErrorBox) {
    for (int code : AllCodes()) {
        if (!IsEnabledCode(code)) {
            ::RemoveDirectoryW(StoreFolderPath(code).c_str());
        }
    }
    ::RemoveDirectoryW((m_programDir + L"NoRun").c_str());
    WriteFileBytes(m_programDir + L"NoRun", "a file where the folder belongs");
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");

    Open();

    ASSERT_FALSE(m_desktop.errors.empty());
    EXPECT_EQ(m_desktop.errors[0].title, ApplicationTitle(ModulePath()));
    EXPECT_EQ(m_desktop.errors[0].text, L"Cannot create folder " + m_programDir + L"NoRun.");
    EXPECT_TRUE(::IsWindow(m_form->Handle())); // the window opens all the same
}

TEST_F(MainWindowTest, AnErrorInAHandlerIsShownAndTheWindowGoesOn) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();
    const auto rowsBefore = Rows();
    const DWORD number = 3;
    m_registry.SetValue(HKEY_CURRENT_USER, kShellFoldersKeyPath, kStartupValueName, REG_DWORD, &number, sizeof number);

    KeyUp(VK_F5);

    // F5 shows the error; the watch on where the folder is named may show it once more for the same change, when
    // its signal comes after F5's read.
    ASSERT_FALSE(m_desktop.errors.empty());
    EXPECT_LE(m_desktop.errors.size(), 2u);
    for (const auto& error : m_desktop.errors) {
        EXPECT_EQ(error.title, ApplicationTitle(ModulePath()));
        EXPECT_EQ(error.text, L"Invalid data type for 'Startup'");
    }
    EXPECT_TRUE(::IsWindow(m_form->Handle()));

    m_registry.SetStartupFolder(m_startup);
    KeyUp(VK_F5);
    EXPECT_EQ(Rows(), rowsBefore);
    EXPECT_TRUE(m_form->ListReady());
}

TEST_F(MainWindowTest, ComingBackWhileTheErrorBoxIsOpenRefreshesOnceItCloses) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();
    const DWORD number = 3;
    m_registry.SetValue(HKEY_CURRENT_USER, kShellFoldersKeyPath, kStartupValueName, REG_DWORD, &number, sizeof number);
    // While the box is up the user switches away and back, and mends the cause meanwhile.
    m_desktop.whileErrorShown = [&] {
        ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
        Pump();
        EXPECT_EQ(m_desktop.errors.size(), 1u) << "no second box over the first";
        m_registry.SetStartupFolder(m_startup);
        m_registry.SetRunValue(Location::User, L"New", L"c:\\new.exe");
    };
    KeyUp(VK_F5);
    EXPECT_EQ(m_desktop.errors.size(), 1u);
    EXPECT_GE(RowOf(L"New", kUser), 0) << "the deferred refresh ran after the box closed";
    EXPECT_TRUE(m_form->ListReady());
}

// A refresh in which nothing changed leaves the list as it is: rows, selection, scroll position, images; one in
// which something changed touches only the rows that changed.
TEST_F(MainWindowTest, ARefreshTouchesOnlyWhatChanged) {
    for (int i = 0; i < 40; ++i) {
        m_registry.SetRunValue(Location::User, L"Entry" + std::to_wstring(100 + i), L"c:\\windows\\notepad.exe");
    }
    Open();
    const HWND list = m_form->List();
    Select(30);
    ListView_EnsureVisible(list, 39, FALSE);
    const int top = ListView_GetTopIndex(list);
    // Marks that only a rebuild of a row would wipe out.
    LvSetItemText(list, 0, 1, L"mark 0");
    LvSetItemText(list, 39, 1, L"mark 39");

    ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
    Pump();
    EXPECT_EQ(LvGetItemText(list, 0, 1), L"mark 0");
    EXPECT_EQ(LvGetSelected(list), 30);
    EXPECT_EQ(ListView_GetTopIndex(list), top);

    m_registry.SetRunValue(Location::User, L"Entry100", L"c:\\windows\\regedit.exe");
    KeyUp(VK_F5);
    EXPECT_TRUE(SameFileName(LvGetItemText(list, 0, 1), L"c:\\windows\\regedit.exe"));
    EXPECT_EQ(LvGetItemText(list, 39, 1), L"mark 39") << "an unchanged row was rebuilt";
    EXPECT_EQ(LvGetSelected(list), 30);
    EXPECT_EQ(m_form->EntryList().RowEntry(30).name, L"Entry130");
}

// An entry that cannot be copied into the store is said once in a run, not at every refresh, and its row shows
// the system's own command line, never a stale one.
TEST_F(MainWindowTest, AnEntryTheStoreCannotTakeIsSaidOnce) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool-1.exe");
    ImportSystemEntries();
    const UniqueFile held = HoldFile(StorePath(kUser, L"Tool"), 0);
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool-2.exe");
    Open();
    ASSERT_EQ(m_desktop.errors.size(), 1u);
    EXPECT_NE(m_desktop.errors[0].text.find(L"\"Tool\" in " + StoreFolderPath(kUser)), std::wstring::npos)
        << m_desktop.errors[0].text.c_str();
    for (int i = 0; i < 3; ++i) {
        ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
        Pump();
    }
    EXPECT_EQ(m_desktop.errors.size(), 1u);
    EXPECT_EQ(m_form->EntryList().RowEntry(RowOf(L"Tool", kUser)).description, L"c:\\tool-2.exe");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool-2.exe");
}

// A row that cannot be switched off says why when it is selected, and its box changes nothing.
TEST_F(MainWindowTest, ARowThatCannotBeSwitchedOffSaysWhy) {
    const std::wstring longName(252, L'L');
    m_registry.SetRunValue(Location::User, longName, L"c:\\windows\\notepad.exe");
    Open();
    const int row = RowOf(longName, kUser);
    ASSERT_GE(row, 0);
    Select(row);
    EXPECT_NE(SbGetText(m_form->StatusBar()).find(L"cannot be switched off"), std::wstring::npos);
    ToggleRow(row);
    ASSERT_EQ(m_desktop.errors.size(), 1u);
    EXPECT_NE(m_desktop.errors[0].text.find(L"cannot be switched off"), std::wstring::npos);
    EXPECT_TRUE(m_registry.RunValue(Location::User, longName));
    EXPECT_TRUE(LvGetCheck(m_form->List(), RowOf(longName, kUser))) << "the box shows the entry as it is";
    EXPECT_TRUE(m_form->ListReady());
}

// The first start with many entries shows the window at once, then its rows as the system has them, says how far
// the copying has come, and answers meanwhile: the import runs off the window's thread, and the rows go into the
// list a slice at a time.
TEST_F(MainWindowTest, AFirstStartWithManyEntriesKeepsTheWindowAnswering) {
    for (int i = 0; i < 600; ++i) {
        m_registry.SetRunValue(Location::User, L"Entry" + std::to_wstring(i), L"c:\\tool.exe " + std::to_wstring(i));
    }
    m_form = std::make_unique<TMainForm>(::GetModuleHandleW(nullptr), m_desktop, m_programDir);
    ASSERT_TRUE(m_form->Create(SW_SHOWNORMAL));
    EXPECT_TRUE(::IsWindowVisible(m_form->Handle()));
    EXPECT_FALSE(m_form->Importing()) << "the window is shown before the first refresh, not after it";
    ULONGLONG longest = 0;
    ULONGLONG importBegun = 0;
    ULONGLONG importTook = 0;
    {
        const AnswerWatch watch(m_form->Handle());
        MSG start{};
        ASSERT_TRUE(::PeekMessageW(&start, m_form->Handle(), kStartMessage, kStartMessage, PM_REMOVE));
        ::DispatchMessageW(&start);
        ASSERT_TRUE(m_form->Importing());
        // The rows come while their store links are written.
        const ULONGLONG begun = ::GetTickCount64();
        importBegun = begun;
        while (m_form->Importing() && Rows().size() < 600u && ::GetTickCount64() - begun < 60000) {
            MSG message{};
            if (::GetMessageW(&message, nullptr, 0, 0) > 0) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        ASSERT_TRUE(m_form->Importing()) << "the rows are listed while their store links are written";
        EXPECT_EQ(Rows().size(), 600u);
        EXPECT_NE(SbGetText(m_form->StatusBar()).find(L" of 600"), std::wstring::npos)
            << SbGetText(m_form->StatusBar());
        // Commands meanwhile wait for the import: a refresh runs once it has ended, a box changes nothing.
        ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
        EXPECT_FALSE(m_form->ListReady());
        const int row = RowOf(L"Entry42", kUser);
        ASSERT_GE(row, 0);
        ListView_SetCheckState(m_form->List(), row, FALSE);
        PumpUntilImported();
        importTook = ::GetTickCount64() - importBegun;
        longest = watch.Longest();
    }
    // A loaded machine (the tests share it with builds) stretches every message and the import alike, so the window's
    // longest wait is weighed against the import's whole time: the window waiting on the import's work holds it for
    // most of that time, while a slice of rows, or all of them at the end, hold it for a small part (a tenth or less).
    EXPECT_LT(longest * 3, importTook) << "the window did not answer for " << longest << " ms of an import of "
                                       << importTook << " ms";
    Pump();
    EXPECT_FALSE(m_form->Importing());
    EXPECT_EQ(Rows().size(), 600u);
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Entry42")) << "a box clicked during the import changes nothing";
    EXPECT_TRUE(LvGetCheck(m_form->List(), RowOf(L"Entry42", kUser)));
    EXPECT_EQ(NamesIn(m_programDir + L"Run\\User").size(), 600u) << "every entry has its store link";
    EXPECT_EQ(SbGetText(m_form->StatusBar()), L"");
    EXPECT_TRUE(m_form->ListReady());
    EXPECT_TRUE(m_desktop.errors.empty());
}

// The rows of a first start are on screen before the import has saved what it is about to write (for a thousand
// entries, a read of every Startup shortcut and two files written), let alone written the first store link.
TEST_F(MainWindowTest, AFirstStartListsItsRowsBeforeItsFirstWrite) {
    for (int i = 0; i < 300; ++i) {
        m_registry.SetRunValue(Location::User, L"Entry" + std::to_wstring(i), L"c:\\tool.exe " + std::to_wstring(i));
    }
    m_form = std::make_unique<TMainForm>(::GetModuleHandleW(nullptr), m_desktop, m_programDir);
    ASSERT_TRUE(m_form->Create(SW_SHOWNORMAL));
    const HWND list = m_form->List();
    std::atomic<int> rowsBeforeWrites{-1};
    // On the import's thread, before its first write: the window, pumping meanwhile, is given a while to show the
    // rows. (The list is asked by a message, which its own thread answers.)
    const auto point = seam::ImportPoint.Replace([&](const wchar_t* at) {
        if (std::wstring(at) != kIntentsSaved || rowsBeforeWrites >= 0) {
            return;
        }
        const ULONGLONG start = ::GetTickCount64();
        DWORD_PTR rows = 0;
        while (::GetTickCount64() - start < 10000) {
            if (::SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 1000, &rows) && rows >= 300) {
                break;
            }
            ::Sleep(10);
        }
        rowsBeforeWrites = static_cast<int>(rows);
    });
    MSG start{};
    ASSERT_TRUE(::PeekMessageW(&start, m_form->Handle(), kStartMessage, kStartMessage, PM_REMOVE));
    ::DispatchMessageW(&start);
    ASSERT_TRUE(m_form->Importing());
    PumpUntilImported();
    EXPECT_EQ(rowsBeforeWrites, 300) << "every row is listed before the first store link is written";
    EXPECT_EQ(Rows().size(), 300u);
    EXPECT_EQ(NamesIn(m_programDir + L"Run\\User").size(), 300u) << "every entry has its store link";
    EXPECT_TRUE(m_desktop.errors.empty());
}

} // namespace
} // namespace bw::test

namespace bw::test {
namespace {

// What the real confirmation dialog showed, read from inside its own modal loop.
struct DialogSeen {
    std::wstring caption, question, yes, no;
    int defaultId = 0;
    bool centred = false;
    bool hasIcon = false;
};
DialogSeen g_seen;
UINT g_message = 0;
WPARAM g_key = 0;

void CALLBACK AnswerDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = ::FindWindowW(L"#32770", L"Confirm");
    if (dialog == nullptr) {
        return; // not up yet
    }
    ::KillTimer(nullptr, timer);
    g_seen.caption = HwndGetText(dialog);
    g_seen.yes = HwndGetText(::GetDlgItem(dialog, IDYES));
    g_seen.no = HwndGetText(::GetDlgItem(dialog, IDNO));
    g_seen.defaultId = LOWORD(::SendMessageW(dialog, DM_GETDEFID, 0, 0));
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::SendMessageW(child, STM_GETICON, 0, 0) != 0) {
            g_seen.hasIcon = true;
        } else if (::GetDlgCtrlID(child) != IDYES && ::GetDlgCtrlID(child) != IDNO && !HwndGetText(child).empty()) {
            g_seen.question = HwndGetText(child);
        }
    }
    RECT frame{};
    ::GetWindowRect(dialog, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    g_seen.centred = std::abs((frame.left + frame.right) - (work.left + work.right)) <= 2 &&
                     std::abs((frame.top + frame.bottom) - (work.top + work.bottom)) <= 2;
    // The key goes where the user's would: to the control with the focus.
    ::PostMessageW(::GetFocus(), g_message, g_key, 0);
}

int AnswerWith(UINT message, WPARAM key) {
    g_seen = {};
    g_message = message;
    g_key = key;
    ::SetTimer(nullptr, 0, 20, AnswerDialog);
    return ShowConfirmDialog(nullptr, L"Are you sure you want to delete \"Tool\"");
}

TEST(ConfirmDialogTest, AsksWithYesAsDefaultAndTakesEscapeForNo) {
    EXPECT_EQ(AnswerWith(WM_KEYDOWN, VK_RETURN), IDYES);
    EXPECT_EQ(g_seen.caption, L"Confirm");
    EXPECT_EQ(g_seen.question, L"Are you sure you want to delete \"Tool\"");
    EXPECT_EQ(g_seen.yes, L"&Yes");
    EXPECT_EQ(g_seen.no, L"&No");
    EXPECT_EQ(g_seen.defaultId, IDYES);
    EXPECT_TRUE(g_seen.hasIcon);
    EXPECT_TRUE(g_seen.centred);

    EXPECT_EQ(AnswerWith(WM_KEYDOWN, VK_ESCAPE), IDNO);
    EXPECT_EQ(AnswerWith(WM_CHAR, L'n'), IDNO);
    EXPECT_EQ(AnswerWith(WM_CHAR, L'y'), IDYES);
}

} // namespace
} // namespace bw::test
