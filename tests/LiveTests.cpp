#include "WindowTestSupport.h"

#include "app/CommandWork.h"
#include "app/Controls.h"
#include "app/StartImport.h"
#include "app/WindowMessages.h"
#include "platform/ChangeWatch.h"
#include "platform/FileSystem.h"
#include "platform/KnownFolders.h"
#include "platform/Registry.h"
#include "platform/ShellLink.h"
#include "resources/Texts.h"
#include "store/Locations.h"
#include "store/SeenEntries.h"
#include "store/StartupApproved.h"
#include "store/StoreDoor.h"
#include "store/StoreLock.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>

namespace bw::test {
namespace {

constexpr int kLocal = 1;
constexpr int kUser = 2;
constexpr int kStartUp = 3;
constexpr int kUserOff = 5;
constexpr const wchar_t* kRun32Path = L"Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";

// The main window left alone, as a user who is doing something else leaves it: its messages are handled as they
// come, and no key is pressed.
class LiveListTest : public WindowTest {
protected:
    // Runs the message loop until `done` holds or `milliseconds` have passed; true when it holds.
    template <typename Done> bool PumpUntil(Done done, DWORD milliseconds = 3000) {
        const ULONGLONG start = ::GetTickCount64();
        while (!done()) {
            if (::GetTickCount64() - start >= milliseconds) {
                return false;
            }
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            Pump();
        }
        return true;
    }
    void PumpFor(DWORD milliseconds) {
        (void)PumpUntil([] { return false; }, milliseconds);
    }
    // Lets the notifications of what the window itself wrote at its start arrive and pass.
    void Settle() { PumpFor(400); }

    std::wstring Title() const {
        wchar_t title[256]{};
        ::GetWindowTextW(m_form->Handle(), title, 256);
        return title;
    }
    // Asks the list to draw `row` as it asks the window before it paints it; true when the row comes in bold.
    bool DrawnBold(int row) {
        const HWND list = m_form->List();
        HDC dc = ::GetDC(list);
        const HGDIOBJ before = ::GetCurrentObject(dc, OBJ_FONT);
        NMLVCUSTOMDRAW draw{};
        draw.nmcd.hdr.hwndFrom = list;
        draw.nmcd.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(list));
        draw.nmcd.hdr.code = NM_CUSTOMDRAW;
        draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
        draw.nmcd.hdc = dc;
        draw.nmcd.dwItemSpec = static_cast<DWORD_PTR>(row);
        const LRESULT result =
            ::SendMessageW(m_form->Handle(), WM_NOTIFY, draw.nmcd.hdr.idFrom, reinterpret_cast<LPARAM>(&draw));
        LOGFONTW font{};
        ::GetObjectW(::GetCurrentObject(dc, OBJ_FONT), sizeof font, &font);
        ::SelectObject(dc, before);
        ::ReleaseDC(list, dc);
        return result == CDRF_NEWFONT && font.lfWeight >= FW_BOLD;
    }
    std::wstring SeenFile() const { return m_programDir + kDataFolderName + L"\\" + kSeenEntriesFile; }
    void Reopen() {
        m_form.reset();
        Open();
    }

    // Every read of the system (each refresh that reads asks where the Startup folder is) is counted here.
    int m_reads = 0;
    TSeam<std::optional<std::wstring>()>::TScope m_countReads{seam::StartupFolder.Replace([this] {
        ++m_reads;
        return std::optional<std::wstring>(); // as the scratch registry has it: the "Shell Folders" value tells
    })};
};

TEST_F(LiveListTest, EachWatchedPlaceBringsItsChangeIntoTheListByItself) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_registry.CreateKey(HKEY_CURRENT_USER, std::wstring(kStartupApprovedPath) + L"Run");
    Open();
    Settle();

    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Agent", kLocal) >= 0; })) << "HKLM's Run key";
    m_registry.SetRunValue(Location::User, L"Helper", L"c:\\helper.exe");
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Helper", kUser) >= 0; })) << "HKCU's Run key";
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe");
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Notes", kStartUp) >= 0; })) << "the Startup folder";
    WriteShortcut(StorePath(kUserOff, L"Old"), L"c:\\old.exe", L"c:\\old.exe");
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Old", kUserOff) >= 0; })) << "a store folder";

    // Windows' own switch, flipped in its settings: the entry is shown as kept from starting.
    const BYTE off[12] = {3};
    m_registry.SetValue(HKEY_CURRENT_USER, std::wstring(kStartupApprovedPath) + L"Run", L"Tool", REG_BINARY, off,
                        sizeof off);
    EXPECT_TRUE(PumpUntil([&] {
        const int row = RowOf(L"Tool", kUser);
        return row >= 0 && m_form->EntryList().RowEntry(row).switchedOffInWindows;
    })) << "StartupApproved";

    // A store link edited in its property sheet: the value changes as soon as the sheet has saved it.
    EditShortcut(StorePath(kUser, L"Tool"), [](TShellLink& link) { link.SetArguments(L"-quiet"); });
    EXPECT_TRUE(PumpUntil([&] { return m_registry.RunValue(Location::User, L"Tool")->text == L"c:\\tool.exe -quiet"; }))
        << m_registry.RunValue(Location::User, L"Tool")->text;
}

// The scratch registry has one HKLM key for both views; here the 32-bit view is a key of its own, as on 64-bit
// Windows (the keys below "Software\WOW6432Node"), so that its watch is shown apart from the native view's.
TEST_F(LiveListTest, BothViewsOfHklmAreWatched) {
    m_registry.CreateKey(HKEY_LOCAL_MACHINE, kRun32Path);
    const StandardUser standardUser(true);
    RecomputeLocations();
    ASSERT_TRUE(HasSeparate32BitView());
    CreateStoreFolders();
    Open();
    Settle();

    m_registry.SetText(HKEY_LOCAL_MACHINE, kRun32Path, L"Updater32", L"c:\\x86\\update.exe");
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Updater32", kLocal32Code) >= 0; })) << "the 32-bit view";
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Agent", kLocal) >= 0; })) << "the native view";
    m_form.reset();
    RecomputeLocations(); // back to the scratch registry's single view for what comes after
}

TEST_F(LiveListTest, WhatTheWindowWroteItselfStartsNoSecondCycle) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\other.exe");
    Open();
    Settle();

    // Switched off and on again: store links written and moved, a value removed and written.
    for (int round = 0; round < 2; ++round) {
        const int row = RowOf(L"Tool", round == 0 ? kUser : kUserOff);
        ASSERT_GE(row, 0);
        ToggleRow(row);
        ASSERT_GE(RowOf(L"Tool", round == 0 ? kUserOff : kUser), 0);
        // Every cycle sets the status bar for the row selected; one that finds nothing new leaves it be.
        SbSetText(m_form->StatusBar(), L"untouched");
        PumpFor(600);
        EXPECT_EQ(StatusPart(0), L"untouched") << "a cycle ran again after round " << round;
        EXPECT_EQ(Title(), text::kCaption) << "nothing of ours is new";
    }
}

// A first start writes hundreds of store links from its own thread. The watch on the store folders says so once,
// not once per link, each word of which took the window's thread from the list; and what someone else writes into
// the store meanwhile, or after, is still heard.
TEST_F(LiveListTest, AFirstStartHearsItsOwnStoreLinksOnceAndTheStoreAfterwards) {
    for (int i = 0; i < 300; ++i) {
        m_registry.SetRunValue(Location::User, L"Entry" + std::to_wstring(i), L"c:\\tool.exe " + std::to_wstring(i));
    }
    // Written from the import's thread as another program would, before the import's own first link.
    const auto point = seam::ImportPoint.Replace([&](const wchar_t* at) {
        if (std::wstring(at) == kIntentsSaved && !std::filesystem::exists(StorePath(kUserOff, L"Meanwhile"))) {
            WriteShortcut(StorePath(kUserOff, L"Meanwhile"), L"c:\\meanwhile.exe", L"c:\\meanwhile.exe");
        }
    });
    m_form = std::make_unique<TMainForm>(::GetModuleHandleW(nullptr), m_desktop, m_programDir);
    ASSERT_TRUE(m_form->Create(SW_SHOWNORMAL));
    MSG start{};
    ASSERT_TRUE(::PeekMessageW(&start, m_form->Handle(), kStartMessage, kStartMessage, PM_REMOVE));
    ::DispatchMessageW(&start);
    ASSERT_TRUE(m_form->Importing());
    int words = 0;
    const ULONGLONG begun = ::GetTickCount64();
    while (m_form->Importing() && ::GetTickCount64() - begun < 60000) {
        MSG message{};
        if (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            words += message.message == kWatchChangedMessage ? 1 : 0;
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    ASSERT_FALSE(m_form->Importing());
    // One word for each store folder written (the import's own, and the one written meanwhile), where a word for
    // each link made hundreds.
    EXPECT_LE(words, 4);
    EXPECT_EQ(NamesIn(m_programDir + L"Run\\User").size(), 300u);
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Meanwhile", kUserOff) >= 0; })) << "written during the import";
    Settle();
    WriteShortcut(StorePath(kUserOff, L"Later"), L"c:\\later.exe", L"c:\\later.exe");
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Later", kUserOff) >= 0; })) << "written once the import had ended";
    EXPECT_TRUE(m_desktop.errors.empty());
}

TEST_F(LiveListTest, ABurstOfChangesGivesOneCycle) {
    Open();
    Settle();
    m_reads = 0;
    // An installer writing its values one after another, while the window handles each notification as it
    // comes: each would be a cycle of its own if the burst were not gathered. (A slow burst may be cut in two by
    // the longest wait for its end, never into one cycle per value.)
    for (int i = 0; i < 10; ++i) {
        m_registry.SetRunValue(Location::User, L"Part" + std::to_wstring(i), L"c:\\setup\\part.exe");
        PumpFor(10);
    }
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Part9", kUser) >= 0; }));
    PumpFor(300);
    EXPECT_GE(m_reads, 1);
    EXPECT_LE(m_reads, 2);
    EXPECT_EQ(m_form->EntryList().TotalCount(), 10);
}

TEST_F(LiveListTest, RefreshReadsNothingWhenNothingChanged) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();
    Settle();
    m_reads = 0;
    ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
    Pump();
    EXPECT_EQ(m_reads, 0) << "an activation reads nothing that no watch or stamp says changed";
    // F5 and the button read every place by its stamps, and find nothing to show anew.
    SbSetText(m_form->StatusBar(), L"untouched");
    KeyUp(VK_F5);
    Click(TMainForm::RefreshButton);
    EXPECT_EQ(m_reads, 2);
    EXPECT_EQ(StatusPart(0), L"untouched") << "the list was built again";

    // A change whose notification the window has not handled yet is read all the same.
    m_registry.SetRunValue(Location::User, L"Helper", L"c:\\helper.exe");
    m_form->RefreshAll();
    EXPECT_GE(RowOf(L"Helper", kUser), 0);
}

// A network folder whose server gives no notifications: the folder cannot be watched, and is read at each
// refresh as before; the places that can be watched still bring their changes by themselves.
TEST_F(LiveListTest, APlaceThatCannotBeWatchedIsReadAtEachRefresh) {
    const auto noNotifications = seam::WatchFolder.Replace([this](const std::wstring& folder, DWORD filter) {
        if (!SameFileName(folder, m_startup)) {
            return seam::WatchFolder.Real(folder, filter);
        }
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    });
    Open();
    Settle();
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe");
    m_registry.SetRunValue(Location::User, L"Helper", L"c:\\helper.exe");
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Helper", kUser) >= 0; }));
    KeyUp(VK_F5);
    EXPECT_GE(RowOf(L"Notes", kStartUp), 0);
    m_reads = 0;
    KeyUp(VK_F5);
    EXPECT_EQ(m_reads, 1) << "read at each refresh";
    PumpFor(500);
    EXPECT_EQ(m_reads, 1) << "and never by a timer";
}

// A folder that is not there yet is watched through the folder above it; made, it is watched itself.
TEST_F(LiveListTest, AFolderMadeLaterIsWatchedOnceMade) {
    ASSERT_TRUE(::RemoveDirectoryW(m_startup.c_str()));
    Open();
    Settle();
    m_reads = 0;
    ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
    Pump();
    EXPECT_EQ(m_reads, 0) << "a missing folder that is watched from above needs no reading";
    ASSERT_TRUE(::CreateDirectoryW(m_startup.c_str(), nullptr));
    PumpFor(300);
    WriteShortcut(StartupPath(L"First.lnk"), L"c:\\windows\\notepad.exe");
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"First", kStartUp) >= 0; }));
    ASSERT_TRUE(::DeleteFileW(StartupPath(L"First.lnk").c_str()));
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"First", kStartUp) < 0; }));
}

TEST_F(LiveListTest, NewEntriesAreMarkedUntilSelectedAndAcrossRuns) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();
    Settle();
    EXPECT_EQ(Title(), L"Bootwarden") << "without a record, everything listed at the start is seen";
    EXPECT_FALSE(DrawnBold(RowOf(L"Tool", kUser)));

    m_registry.SetRunValue(Location::User, L"Helper", L"c:\\helper.exe");
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    ASSERT_TRUE(PumpUntil([&] { return RowOf(L"Helper", kUser) >= 0 && RowOf(L"Agent", kLocal) >= 0; }));
    Settle();
    EXPECT_EQ(Title(), L"Bootwarden - 2 new");
    EXPECT_TRUE(DrawnBold(RowOf(L"Helper", kUser)));
    EXPECT_FALSE(DrawnBold(RowOf(L"Tool", kUser)));

    // Selected: seen. The status bar says what it was.
    Select(RowOf(L"Helper", kUser));
    EXPECT_EQ(StatusPart(0),
              FormatMessageText(text::kNewEntryStatus, m_form->EntryList().TargetText(RowOf(L"Helper", kUser))));
    EXPECT_EQ(Title(), L"Bootwarden - 1 new");
    EXPECT_FALSE(DrawnBold(RowOf(L"Helper", kUser)));
    // Switching an entry off and on is no news.
    ToggleRow(RowOf(L"Tool", kUser));
    EXPECT_EQ(Title(), L"Bootwarden - 1 new");

    // Closed, an entry comes meanwhile: at the next start it is new, and the one not yet seen still is.
    m_form.reset();
    m_registry.SetRunValue(Location::User, L"Later", L"c:\\later.exe");
    Open();
    EXPECT_EQ(Title(), L"Bootwarden - 2 new");
    EXPECT_TRUE(DrawnBold(RowOf(L"Later", kUser)));
    EXPECT_TRUE(DrawnBold(RowOf(L"Agent", kLocal)));
    EXPECT_FALSE(DrawnBold(RowOf(L"Helper", kUser)));
    Select(RowOf(L"Helper", kUser));
    EXPECT_EQ(StatusPart(0).rfind(text::kNewEntryStatusAlone, 0), std::wstring::npos) << "seen before";

    // An entry that goes takes its mark with it.
    m_registry.RemoveRunValue(Location::Local, L"Agent");
    EXPECT_TRUE(PumpUntil([&] { return Title() == L"Bootwarden - 1 new"; })) << Title();
}

TEST_F(LiveListTest, AMissingOrDamagedRecordMeansEverythingSeenAndNoError) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    for (const std::string& bytes : {std::string("garbage"), std::string("B\0o\0", 4), std::string(3, '\xff')}) {
        WriteFileBytes(SeenFile(), bytes);
        Reopen();
        EXPECT_EQ(Title(), L"Bootwarden");
        EXPECT_FALSE(DrawnBold(RowOf(L"Tool", kUser)));
    }
    m_form.reset();
    ASSERT_TRUE(::DeleteFileW(SeenFile().c_str()));
    Open();
    EXPECT_EQ(Title(), L"Bootwarden");
    EXPECT_TRUE(m_desktop.errors.empty());

    // The record written then holds the entries; one that comes while closed is new, whatever its name holds.
    m_form.reset();
    const std::wstring odd = L"Odd: name\nwith a line break";
    m_registry.SetRunValue(Location::User, odd, L"c:\\odd.exe");
    Open();
    EXPECT_EQ(Title(), L"Bootwarden - 1 new");
    Reopen();

    EXPECT_EQ(Title(), L"Bootwarden - 1 new") << "read back whole";
    EXPECT_TRUE(DrawnBold(RowOf(odd, kUser)));
}

// A watch whose notification never comes: on Windows a key deleted and made again is a new key, and the watch
// registered on the old one never tells of it (nor does a folder redirected to a share whose server sends none).
// Here every key's watch is registered as dead while `m_dead` holds: RegNotifyChangeKeyValue answers
// ERROR_SUCCESS and its event is never signalled.
class DeadWatchTest : public LiveListTest {
protected:
    bool m_dead = true;
    TSeam<LONG(HKEY, HANDLE)>::TScope m_deadKeys{seam::WatchKey.Replace([this](HKEY key, HANDLE event) {
        return m_dead ? static_cast<LONG>(ERROR_SUCCESS) : seam::WatchKey.Real(key, event);
    })};
};

TEST_F(DeadWatchTest, F5ReadsEveryPlaceAndWatchesItAgain) {
    Open();
    Settle();
    m_registry.SetRunValue(Location::User, L"Quiet", L"c:\\quiet.exe");
    PumpFor(300);
    ASSERT_LT(RowOf(L"Quiet", kUser), 0) << "the notification came after all";

    m_dead = false; // the key watched from now on is the one that is there
    KeyUp(VK_F5);
    EXPECT_GE(RowOf(L"Quiet", kUser), 0) << "F5 read only where a notification came";
    m_registry.SetRunValue(Location::User, L"Later", L"c:\\later.exe");
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Later", kUser) >= 0; })) << "F5 left the dead watch in place";

    // The Refresh button does as F5 does.
    m_dead = true;
    Click(TMainForm::RefreshButton);
    m_registry.SetRunValue(Location::User, L"Button", L"c:\\button.exe");
    PumpFor(300);
    ASSERT_LT(RowOf(L"Button", kUser), 0);
    m_dead = false;
    Click(TMainForm::RefreshButton);
    EXPECT_GE(RowOf(L"Button", kUser), 0);
}

// A shortcut in the Startup folder edited in place (its property sheet saves over it) moves no stamp of the folder:
// where the folder's watch died (here FindFirstChangeNotificationW on the Startup folder watches a folder nobody
// writes, as a watch of a share whose server sends no notifications would), only F5's read of every place finds it.
TEST_F(DeadWatchTest, F5FindsAShortcutEditedInPlaceUnderADeadFolderWatch) {
    const TempFolder quiet;
    const auto deadFolder = seam::WatchFolder.Replace([&](const std::wstring& folder, DWORD filter) {
        return seam::WatchFolder.Real(m_dead && SameFileName(folder, m_startup) ? quiet.Path() : folder, filter);
    });
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe");
    Open();
    Settle();
    const auto target = [&] { return LvGetItemText(m_form->List(), RowOf(L"Notes", kStartUp), 1); };
    ASSERT_EQ(target(), L"c:\\windows\\notepad.exe");
    EditShortcut(StartupPath(L"Notes.lnk"), [](TShellLink& link) { link.SetPath(L"c:\\windows\\write.exe"); });
    ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
    PumpFor(300);
    ASSERT_EQ(target(), L"c:\\windows\\notepad.exe") << "the edit was told of after all";

    KeyUp(VK_F5);
    EXPECT_EQ(target(), L"c:\\windows\\write.exe") << "F5 read only where a watch or a stamp told of a change";
    m_form.reset(); // the watches go before the folder the dead one watches
}

TEST_F(DeadWatchTest, ARunKeyMadeAgainIsReadAndWatchedAgainOnActivation) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();
    Settle();
    // Deleted and made again by another program: its new values reach no watch.
    m_registry.DeleteRunKey(Location::User);
    m_registry.SetRunValue(Location::User, L"Again", L"c:\\again.exe");
    PumpFor(300);
    ASSERT_LT(RowOf(L"Again", kUser), 0) << "the notification came after all";

    m_dead = false;
    ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
    Pump();
    EXPECT_GE(RowOf(L"Again", kUser), 0) << "the key's stamp moved, and the activation did not read it";
    EXPECT_LT(RowOf(L"Tool", kUser), 0);
    m_registry.SetRunValue(Location::User, L"Later", L"c:\\later.exe");
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Later", kUser) >= 0; })) << "the activation left the dead watch";
}

// Asked for a known folder, the shell writes the "Shell Folders" copy of it for old programs (each time, as
// Windows does where the copy names another folder than the known folder). Here it answers from "User Shell
// Folders" as the shell does, and writes the copy. On Windows each such write tells the key's watchers, also of
// data equal to what was there; Wine passes over a write of equal data and tells no one, so here the copy is
// removed and written again, which tells the watchers under both.
TEST_F(LiveListTest, TheShellsOwnWritesStartNoCycleAndUserShellFoldersIsWatched) {
    const auto shell = [this](HKEY root, const wchar_t* name, const std::wstring& fallback) {
        ++m_reads;
        std::wstring folder = fallback;
        TRegistry registry;
        registry.SelectRoot(root);
        if (registry.OpenExistingKey(kUserShellFoldersKeyPath) && registry.HasValue(name)) {
            folder = registry.ReadText(name);
        }
        (void)::RegDeleteKeyValueW(root, kShellFoldersKeyPath, name); // a first query finds none: fine
        m_registry.SetText(root, kShellFoldersKeyPath, name, folder);
        return std::optional<std::wstring>(folder);
    };
    const auto user = seam::StartupFolder.Replace([&] { return shell(HKEY_CURRENT_USER, L"Startup", m_startup); });
    const auto common =
        seam::CommonStartupFolder.Replace([&] { return shell(HKEY_LOCAL_MACHINE, L"Common Startup", m_common); });
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();
    Settle();
    m_reads = 0;
    PumpFor(1000);
    EXPECT_EQ(m_reads, 0) << "the list refreshes again and again";
    ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
    KeyUp(VK_F5);
    m_reads = 0;
    PumpFor(500);
    EXPECT_EQ(m_reads, 0) << "a refresh asked for starts cycles after it";

    // The user moves the Startup folder (Explorer's Location tab writes "User Shell Folders"): the list follows.
    const std::wstring moved = m_root / L"Moved Startup";
    ASSERT_TRUE(::CreateDirectoryW(moved.c_str(), nullptr));
    WriteShortcut(moved + L"\\Notes.lnk", L"c:\\windows\\notepad.exe");
    m_registry.SetText(HKEY_CURRENT_USER, kUserShellFoldersKeyPath, L"Startup", moved, REG_EXPAND_SZ);
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Notes", kStartUp) >= 0; })) << "\"User Shell Folders\" unwatched";
    Settle(); // the folder watched from now on is read once more
    m_reads = 0;
    PumpFor(500);
    EXPECT_EQ(m_reads, 0);
}

// A Startup folder on a network drive whose share went away: FindFirstChangeNotificationW on it (and the query of
// its stamp) returns only once the network's timeout has passed. Here the drive of the test's folders is one that
// Windows reports as a network drive (GetDriveType: DRIVE_REMOTE), and every watch armed on the Startup folder is
// held for up to 5 s, until the test lets the share answer. Whatever the window is asked meanwhile (its start, F5,
// the Refresh button, an activation, a change elsewhere) it handles well within a second; the folder is watched
// from the moment the share answers.
TEST_F(LiveListTest, AShareThatWentAwayNeverHoldsTheWindow) {
    const std::wstring drive = FoldedName(m_startup.substr(0, 2));
    const auto remote = seam::DriveType.Replace([&](const std::wstring& root) {
        return FoldedName(root.substr(0, 2)) == drive ? static_cast<UINT>(DRIVE_REMOTE) : seam::DriveType.Real(root);
    });
    UniqueKernelHandle shareAnswers(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<int> held{0};
    const auto slow = seam::WatchFolder.Replace([&](const std::wstring& folder, DWORD filter) {
        if (SameFileName(folder, m_startup) && ::WaitForSingleObject(shareAnswers.Get(), 0) != WAIT_OBJECT_0) {
            ++held;
            ::WaitForSingleObject(shareAnswers.Get(), 5000);
        }
        return seam::WatchFolder.Real(folder, filter);
    });
    constexpr ULONGLONG kBound = 1000; // milliseconds; a window that arms the share itself waits 5000
    const auto took = [](auto step) {
        const ULONGLONG start = ::GetTickCount64();
        step();
        return ::GetTickCount64() - start;
    };
    m_waitForFacts = false; // the programs' facts are none of this test's
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");

    EXPECT_LT(took([&] { Open(); }), kBound) << "the start";
    EXPECT_LT(took([&] { Settle(); }), kBound + 400) << "the start's own changes";
    EXPECT_GT(held.load(), 0) << "the Startup folder was never armed";
    EXPECT_LT(took([&] { KeyUp(VK_F5); }), kBound) << "F5";
    EXPECT_LT(took([&] { Click(TMainForm::RefreshButton); }), kBound) << "the Refresh button";
    EXPECT_LT(took([&] {
                  ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
                  Pump();
              }),
              kBound)
        << "an activation";
    m_registry.SetRunValue(Location::User, L"Helper", L"c:\\helper.exe");
    EXPECT_LT(took([&] { EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Helper", kUser) >= 0; })); }), kBound)
        << "a change elsewhere";

    // The share answers: the folder's watch is armed off the window's thread, and tells of the folder's changes.
    ::SetEvent(shareAnswers.Get());
    Settle();
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe");
    EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Notes", kStartUp) >= 0; })) << "the Startup folder is not watched";
    Settle();
    m_reads = 0;
    PumpFor(500);
    EXPECT_EQ(m_reads, 0) << "a watch armed off the window's thread starts cycle after cycle";
    m_form.reset(); // the threads that call the seams above end before the seams go back
}

// Where the share of a Startup folder went away, FindFirstFileExW on it returns only once the network's timeout has
// passed. Here the test folders' drive is one that Windows reports as a network drive (GetDriveType: DRIVE_REMOTE),
// and every search of the Startup folder is held for up to 5 s while the share is away. F5, the Refresh button, an
// activation and a Run value changed elsewhere each read the Startup folder: the read runs off the window's thread,
// the window answers meanwhile, and what the folder holds is listed once the share answers. A window closed while
// such a read hangs ends at once, without waiting for the read or for the store's lock that the read holds.
TEST_F(LiveListTest, AFolderOnAShareThatWentAwayIsNeverReadOnTheWindowsThread) {
    const std::wstring drive = FoldedName(m_startup.substr(0, 2));
    const auto remote = seam::DriveType.Replace([&](const std::wstring& root) {
        return FoldedName(root.substr(0, 2)) == drive ? static_cast<UINT>(DRIVE_REMOTE) : seam::DriveType.Real(root);
    });
    UniqueKernelHandle shareAnswers(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    std::atomic<int> held{0};
    const auto slow = seam::FirstMatch.Replace([&](const std::wstring& pattern, WIN32_FIND_DATAW* found) {
        if (IsInFolder(pattern, m_startup) && ::WaitForSingleObject(shareAnswers.Get(), 0) != WAIT_OBJECT_0) {
            ++held;
            ::WaitForSingleObject(shareAnswers.Get(), 5000);
        }
        return seam::FirstMatch.Real(pattern, found);
    });
    m_waitForFacts = false; // the programs' facts are none of this test's
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();
    Settle();
    const HWND window = m_form->Handle();
    const auto keyUp = [&](WPARAM key) {
        ::SendMessageW(m_form->List(), WM_KEYDOWN, key, 0x00000001);
        ::SendMessageW(m_form->List(), WM_KEYUP, key, 0xC0000001);
    };

    ::ResetEvent(shareAnswers.Get()); // the share goes away
    {
        const AnswerWatch watch(window);
        keyUp(VK_F5);
        PumpFor(200);
        ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(TMainForm::RefreshButton, BN_CLICKED),
                       reinterpret_cast<LPARAM>(m_form->ToolBar()));
        PumpFor(200);
        ::SendMessageW(window, WM_ACTIVATEAPP, TRUE, 0);
        PumpFor(200);
        m_registry.SetRunValue(Location::User, L"Helper", L"c:\\helper.exe");
        WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe");
        PumpFor(300);
        EXPECT_GT(held.load(), 0) << "the Startup folder was never read";
        ::SetEvent(shareAnswers.Get()); // the share answers
        EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Helper", kUser) >= 0 && RowOf(L"Notes", kStartUp) >= 0; }, 15000))
            << "what the share holds is not listed";
        Settle();
        EXPECT_LT(watch.Longest(), 1000u) << "the window waited for the share";
        std::printf("longest wait while the share was away: %llu ms\n", watch.Longest());
    }

    // Closed while the share holds a read: the window ends without it, and the store is free once the read ends.
    ::ResetEvent(shareAnswers.Get());
    held = 0;
    // (The messages are handled here as the message loop handles them; Pump would wait for the read.)
    const auto handleUntil = [](auto done) { return HandleMessagesUntil(done, 10000); };
    keyUp(VK_F5);
    EXPECT_TRUE(handleUntil([&] { return held > 0; })) << "F5 read no folder on the share";
    EXPECT_TRUE(m_form->Importing());
    const ULONGLONG closing = ::GetTickCount64();
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(handleUntil([&] { return !::IsWindow(window); }));
    const ULONGLONG closed = ::GetTickCount64() - closing;
    EXPECT_LT(closed, 1500u) << "the close waited for the share";
    std::printf("closed in %llu ms while the share held a read\n", closed);
    m_form.reset();
    ::SetEvent(shareAnswers.Get());
    EXPECT_TRUE(TStartImport::WaitForLeftRunning(10000)) << "the read never ended";
    EXPECT_NE(TStoreLock::TryTake(0), nullptr) << "the read left the store locked";
}

// A Startup folder on a network drive (GetDriveType: DRIVE_REMOTE for the test folders' drive) whose share goes away
// when the test says so: from then on each search of the folder and each look at a file in it (FindFirstFileExW,
// GetFileAttributesW) is held, as the network holds it until its timeout, for kHang at most; the first read that
// waited the whole hang brings the share back. The commands of the window that read or change that folder run their
// work off the window's thread: the window answers meanwhile, and takes no new command.
class ShareCommandTest : public LiveListTest {
protected:
    static constexpr DWORD kHang = 3000; // milliseconds; the window answers within a small part of it

    void SetUp() override {
        LiveListTest::SetUp();
        m_waitForFacts = false; // the programs' facts are none of these tests'
        WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe");
        m_shortcut = *ReadWholeFile(StartupPath(L"Notes.lnk"), 1 << 20);
        Open();
        Settle();
        ASSERT_GE(RowOf(L"Notes", kStartUp), 0);
    }
    void TearDown() override {
        ::SetEvent(m_shareAnswers.Get());
        m_form.reset(); // the threads that call the seams below end before the seams go back
        EXPECT_TRUE(TCommandWork::WaitForLeftRunning(2 * kHang)) << "a command's work never ended";
        LiveListTest::TearDown();
    }
    void ShareGoesAway(DWORD hang = kHang) {
        m_hangFor = hang;
        m_held = 0;
        ::ResetEvent(m_shareAnswers.Get());
    }
    // Whether the shortcut is whole in exactly one place: the Startup folder, or the store folder of switched-off
    // Startup entries.
    bool WholeOnOneSide() const {
        const auto there = ReadWholeFile(StartupPath(L"Notes.lnk"), 1 << 20);
        const auto off = ReadWholeFile(StorePath(DisabledCodeOf(kStartUp), L"Notes"), 1 << 20);
        return there.has_value() != off.has_value() && (there ? *there : *off) == m_shortcut;
    }

    std::string m_shortcut;
    UniqueKernelHandle m_shareAnswers{::CreateEventW(nullptr, TRUE, TRUE, nullptr)};
    std::atomic<int> m_held{0};
    std::atomic<DWORD> m_hangFor{kHang};

private:
    void Hold(const std::wstring& path) {
        if (IsInFolder(path, m_startup) && ::WaitForSingleObject(m_shareAnswers.Get(), 0) != WAIT_OBJECT_0) {
            ++m_held;
            if (::WaitForSingleObject(m_shareAnswers.Get(), m_hangFor) == WAIT_TIMEOUT) {
                ::SetEvent(m_shareAnswers.Get()); // the share is back
            }
        }
    }
    const std::wstring m_drive = FoldedName(m_startup.substr(0, 2));
    TSeam<UINT(const std::wstring&)>::TScope m_remote{seam::DriveType.Replace([this](const std::wstring& root) {
        return FoldedName(root.substr(0, 2)) == m_drive ? static_cast<UINT>(DRIVE_REMOTE) : seam::DriveType.Real(root);
    })};
    TSeam<HANDLE(const std::wstring&, WIN32_FIND_DATAW*)>::TScope m_slowSearch{
        seam::FirstMatch.Replace([this](const std::wstring& pattern, WIN32_FIND_DATAW* found) {
            Hold(pattern);
            return seam::FirstMatch.Real(pattern, found);
        })};
    TSeam<DWORD(const std::wstring&)>::TScope m_slowLook{seam::LinkAttributes.Replace([this](const std::wstring& path) {
        Hold(path);
        return seam::LinkAttributes.Real(path);
    })};
};

TEST_F(ShareCommandTest, ASwitchOffByTheCheckBoxLeavesTheWindowAnswering) {
    ShareGoesAway();
    {
        const AnswerWatch watch(m_form->Handle());
        ToggleRow(RowOf(L"Notes", kStartUp)); // handled to its end: the share answers after kHang
        EXPECT_GT(m_held.load(), 0) << "the switch-off read nothing on the share";
        EXPECT_LT(watch.Longest(), kHang / 3) << "the window waited for the share";
        std::printf("longest wait while the share was away: %llu ms of %lu\n", watch.Longest(), kHang);
    }
    EXPECT_GE(RowOf(L"Notes", DisabledCodeOf(kStartUp)), 0) << "the list does not show the entry switched off";
    EXPECT_LT(RowOf(L"Notes", kStartUp), 0);
    EXPECT_FALSE(PathExists(StartupPath(L"Notes.lnk")));
    EXPECT_TRUE(WholeOnOneSide());
}

TEST_F(ShareCommandTest, ADeleteLeavesTheWindowAnsweringAndTakesNoOtherCommandMeanwhile) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    PumpUntil([&] { return RowOf(L"Tool", kUser) >= 0; });
    Select(RowOf(L"Notes", kStartUp));
    ShareGoesAway();
    // A second delete, asked for while the first one's work waits for the share (a timer of the window's thread
    // fires meanwhile), counts for nothing.
    static TMainForm* form = nullptr;
    static int tool = -1;
    form = m_form.get();
    tool = RowOf(L"Tool", kUser);
    const UINT_PTR timer = ::SetTimer(nullptr, 0, kHang / 3, [](HWND, UINT, UINT_PTR id, DWORD) {
        ::KillTimer(nullptr, id);
        ListView_SetItemState(form->List(), -1, 0, LVIS_SELECTED);
        ListView_SetItemState(form->List(), tool, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ::SendMessageW(form->Handle(), WM_COMMAND, MAKEWPARAM(TMainForm::DeleteButton, BN_CLICKED), 0);
    });
    ASSERT_NE(timer, 0u);
    {
        const AnswerWatch watch(m_form->Handle());
        Click(TMainForm::DeleteButton);
        EXPECT_GT(m_held.load(), 0) << "the delete read nothing on the share";
        EXPECT_LT(watch.Longest(), kHang / 3) << "the window waited for the share";
        std::printf("longest wait while the share was away: %llu ms of %lu\n", watch.Longest(), kHang);
    }
    EXPECT_EQ(m_desktop.questions.size(), 1u) << "a command was taken while another one's work ran";
    EXPECT_LT(RowOf(L"Notes", kStartUp), 0) << "the list still shows the entry deleted";
    EXPECT_FALSE(PathExists(StartupPath(L"Notes.lnk")));
    EXPECT_GE(RowOf(L"Tool", kUser), 0);
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool").has_value());
}

// Closed while a switch-off waits for the share: the window ends within a bound far below the hang, without the
// work; the work ends once the share answers, and leaves the shortcut whole on one side, the store's lock free.
TEST_F(ShareCommandTest, AWindowClosedWhileACommandWaitsForTheShareEndsWithoutIt) {
    constexpr DWORD kLongHang = 4 * kHang;
    ShareGoesAway(kLongHang);
    const HWND window = m_form->Handle();
    const HWND list = m_form->List();
    const ULONGLONG start = ::GetTickCount64();
    LvSetCheck(list, RowOf(L"Notes", kStartUp), false); // the toggle is posted, then the close
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(HandleMessagesUntil([&] { return !::IsWindow(window); }, 2 * kLongHang));
    const ULONGLONG closed = ::GetTickCount64() - start;
    EXPECT_GT(m_held.load(), 0) << "the switch-off read nothing on the share";
    EXPECT_LT(closed, kLongHang / 4) << "the close waited for the share";
    std::printf("closed in %llu ms while a command's work waited %lu ms for the share\n", closed, kLongHang);
    m_form.reset();
    ::SetEvent(m_shareAnswers.Get()); // the share answers
    EXPECT_TRUE(TCommandWork::WaitForLeftRunning(2 * kLongHang)) << "the work never ended";
    EXPECT_NE(TStoreLock::TryTake(0), nullptr) << "the work left the store locked";
    EXPECT_TRUE(WholeOnOneSide());
}

// Closed while a delete reads the entries again on the share: the window ends without the work, which, once the share
// answers, finds nobody waiting for it and deletes nothing: the user's Yes was to a window that is gone.
TEST_F(ShareCommandTest, ADeleteLeftRunningByAClosedWindowDeletesNothing) {
    constexpr DWORD kLongHang = 4 * kHang;
    Select(RowOf(L"Notes", kStartUp));
    ShareGoesAway(kLongHang);
    const HWND window = m_form->Handle();
    ::PostMessageW(window, WM_CLOSE, 0, 0); // handled while the delete's work waits for the share
    Click(TMainForm::DeleteButton);
    EXPECT_TRUE(HandleMessagesUntil([&] { return !::IsWindow(window); }, 2 * kLongHang));
    EXPECT_GT(m_held.load(), 0) << "the delete read nothing on the share";
    m_form.reset();
    ::SetEvent(m_shareAnswers.Get());
    EXPECT_TRUE(TCommandWork::WaitForLeftRunning(2 * kLongHang)) << "the work never ended";
    EXPECT_TRUE(ReadWholeFile(StartupPath(L"Notes.lnk"), 1 << 20) == m_shortcut) << "deleted after its window had gone";
    EXPECT_NE(TStoreLock::TryTake(0), nullptr) << "the work left the store locked";
}

// Closed with an edit of a store link not yet written back into the Startup folder, while the share holds that
// folder's reads: the close's write-back waits for the share off the window's thread, and the window ends within the
// bound. Once the share answers, the shortcut is whole, edited or as it was, and the store is free.
TEST_F(ShareCommandTest, ACloseWhoseWriteBackWaitsForTheShareEndsWithinTheBound) {
    constexpr DWORD kLongHang = 4 * kHang;
    const HWND window = m_form->Handle();
    EditShortcut(StorePath(kStartUp, L"Notes"), [](TShellLink& link) { link.SetArguments(L"-quiet"); });
    ShareGoesAway(kLongHang);
    const ULONGLONG start = ::GetTickCount64();
    ::SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(HandleMessagesUntil([&] { return !::IsWindow(window); }, 2 * kLongHang));
    const ULONGLONG closed = ::GetTickCount64() - start;
    EXPECT_GT(m_held.load(), 0) << "the write-back read nothing on the share";
    EXPECT_LT(closed, kLongHang / 4) << "the close waited for the share";
    std::printf("closed in %llu ms while its write-back waited %lu ms for the share\n", closed, kLongHang);
    m_form.reset();
    ::SetEvent(m_shareAnswers.Get());
    EXPECT_TRUE(TCommandWork::WaitForLeftRunning(2 * kLongHang)) << "the write-back never ended";
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).path, L"c:\\windows\\notepad.exe");
    EXPECT_NE(TStoreLock::TryTake(0), nullptr) << "the write-back left the store locked";
}

// The record of the entries seen lies beside the program, here on the share: a look after each cycle and each row
// the user selects write it anew, where the window does not wait for the share; the newest record is the one kept.
TEST_F(ShareCommandTest, TheRecordOfEntriesSeenNeverHoldsTheWindow) {
    const std::wstring record = SeenFile();
    UniqueKernelHandle recordWritten(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<int> held{0};
    const auto slowWrite =
        seam::RenameFile.Replace([&](const std::wstring& from, const std::wstring& to, DWORD flags) {
            if (SameFileName(to, record) && ::WaitForSingleObject(recordWritten.Get(), 0) != WAIT_OBJECT_0) {
                ++held;
                ::WaitForSingleObject(recordWritten.Get(), kHang);
            }
            return seam::RenameFile.Real(from, to, flags);
        });
    m_registry.SetRunValue(Location::User, L"Helper", L"c:\\helper.exe");
    m_registry.SetRunValue(Location::User, L"Agent", L"c:\\agent.exe");
    {
        const AnswerWatch watch(m_form->Handle());
        ASSERT_TRUE(PumpUntil([&] { return RowOf(L"Helper", kUser) >= 0 && RowOf(L"Agent", kUser) >= 0; }));
        Settle();
        EXPECT_EQ(Title(), L"Bootwarden - 2 new");
        Select(RowOf(L"Helper", kUser));
        Select(RowOf(L"Agent", kUser));
        PumpFor(200);
        EXPECT_EQ(Title(), L"Bootwarden");
        EXPECT_GT(held.load(), 0) << "the record was never written";
        ::SetEvent(recordWritten.Get());
        EXPECT_TRUE(TCommandWork::WaitForLeftRunning(2 * kHang));
        EXPECT_LT(watch.Longest(), kHang / 3) << "the window waited for the record to be written";
    }
    Reopen();
    EXPECT_EQ(Title(), L"Bootwarden") << "the record kept is not the newest";
}

// On a folder that a sync engine keeps (OneDrive), the engine sets and clears attributes of a file after each
// write (pinned, unpinned, in sync), and FindFirstChangeNotificationW with FILE_NOTIFY_CHANGE_ATTRIBUTES tells of
// each: the store folders, which the program writes itself, are watched without it. Wine never sets those
// attributes, so the filters asked for are what the test looks at.
TEST_F(LiveListTest, StoreFoldersAreWatchedWithoutAttributeChanges) {
    std::map<std::wstring, DWORD> filters;
    const auto recorded = seam::WatchFolder.Replace([&](const std::wstring& folder, DWORD filter) {
        filters[FoldedName(folder)] = filter;
        return seam::WatchFolder.Real(folder, filter);
    });
    Open();
    Settle();
    for (int code : AllCodes()) {
        std::wstring folder = StoreFolderPath(code);
        folder.pop_back();
        const auto found = filters.find(FoldedName(folder));
        ASSERT_NE(found, filters.end()) << "not watched: " << testing::PrintToString(folder);
        EXPECT_EQ(found->second & FILE_NOTIFY_CHANGE_ATTRIBUTES, 0u) << testing::PrintToString(folder);
        EXPECT_NE(found->second & FILE_NOTIFY_CHANGE_LAST_WRITE, 0u) << "a property sheet's edit of a store link";
    }
    const auto startup = filters.find(FoldedName(m_startup));
    ASSERT_NE(startup, filters.end());
    EXPECT_NE(startup->second & FILE_NOTIFY_CHANGE_ATTRIBUTES, 0u) << "a shortcut hidden in the Startup folder";
}

// The Startup folder redirected to a share (Folder Redirection, or moved by hand in its properties) whose server
// went away: the cycle that the new name starts reads it off the window's thread, though no watch of it was armed
// yet. The share is a folder on another drive that Windows reports as a network drive (GetDriveType:
// DRIVE_REMOTE), and every search of it is held for up to 5 s until it answers.
TEST_F(LiveListTest, AStartupFolderMovedToAShareIsReadOffTheWindowsThreadFromItsFirstCycle) {
    const std::wstring other = FoldedName(ModulePath().substr(0, 2));
    if (other == FoldedName(m_startup.substr(0, 2)) || other[1] != L':') {
        GTEST_SKIP() << "no second drive for the share";
    }
    const std::wstring share = other + L"\\tmp\\bw-share-" + std::to_wstring(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryW(share.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
    const auto remote = seam::DriveType.Replace([&](const std::wstring& root) {
        return FoldedName(root.substr(0, 2)) == other ? static_cast<UINT>(DRIVE_REMOTE) : seam::DriveType.Real(root);
    });
    UniqueKernelHandle shareAnswers(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<int> held{0};
    const auto slow = seam::FirstMatch.Replace([&](const std::wstring& pattern, WIN32_FIND_DATAW* found) {
        if (IsInFolder(pattern, share) && ::WaitForSingleObject(shareAnswers.Get(), 0) != WAIT_OBJECT_0) {
            ++held;
            ::WaitForSingleObject(shareAnswers.Get(), 5000);
        }
        return seam::FirstMatch.Real(pattern, found);
    });
    WriteShortcut(share + L"\\Shared.lnk", L"c:\\windows\\notepad.exe");
    m_waitForFacts = false;
    Open();
    Settle();
    {
        const AnswerWatch watch(m_form->Handle());
        m_registry.SetStartupFolder(share);
        EXPECT_TRUE(PumpUntil([&] { return held > 0; }, 5000)) << "the new Startup folder was never read";
        PumpFor(300);
        ::SetEvent(shareAnswers.Get());
        EXPECT_TRUE(PumpUntil([&] { return RowOf(L"Shared", kStartUp) >= 0; }, 15000)) << "the share's shortcut";
        EXPECT_LT(watch.Longest(), 1000u) << "the window waited for the share";
        std::printf("longest wait while the new folder was read: %llu ms\n", watch.Longest());
    }
    m_form.reset(); // the threads that call the seams above end before the seams go back
    m_registry.SetStartupFolder(m_startup);
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(share), ignored);
}

} // namespace
} // namespace bw::test
