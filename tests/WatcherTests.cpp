// The watcher run as a process (WatcherUnderTest.exe, the program's watcher on this test's scratch registry and
// store), its notices read from what it asked of the notification area.
#include "TestEnvironment.h"

#include "app/EntrySelection.h"
#include "platform/ChangeWatch.h"
#include "platform/FileSystem.h"
#include "platform/UniqueHandle.h"
#include "store/History.h"
#include "store/StoreData.h"
#include "store/StoreDoor.h"
#include "watch/StartingEntries.h"
#include "watch/Watcher.h"

#include <shellapi.h>

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace bw::test {
namespace {

using namespace std::chrono_literals;

class WatcherTest : public StoreTest {
protected:
    WatcherTest() {
        m_exe = m_programDir + L"Bootwarden.exe";
        if (!::CopyFileW((FolderPart(ModulePath()) + L"WatcherUnderTest.exe").c_str(), m_exe.c_str(), FALSE)) {
            throw std::runtime_error("cannot copy WatcherUnderTest.exe beside the scratch store");
        }
        m_record = m_root / L"notices.txt";
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_REGISTRY", m_registry.ScratchPath().c_str());
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_TEMP", (m_root / L"Temp").c_str());
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_NOTICES", m_record.c_str());
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_SIGNERS", (m_root / L"signers.txt").c_str());
    }
    ~WatcherTest() override {
        for (UniqueKernelHandle& process : m_processes) {
            if (::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) {
                ::TerminateProcess(process.Get(), 9);
                ::WaitForSingleObject(process.Get(), 5000);
            }
        }
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_REGISTRY", nullptr);
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_TEMP", nullptr);
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_NOTICES", nullptr);
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_SIGNERS", nullptr);
    }

    HANDLE Start() {
        std::wstring commandLine = L"\"" + m_exe + L"\" --watch";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(m_exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process)) {
            throw std::runtime_error("cannot start the watcher");
        }
        UniqueKernelHandle thread(process.hThread);
        m_processes.emplace_back(process.hProcess);
        return process.hProcess;
    }

    // What the watcher asked of the notification area so far, one request a line.
    std::vector<std::wstring> Requests() const {
        const std::string bytes = ReadWholeFile(m_record, 1 << 20).value_or(std::string());
        const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        std::vector<std::wstring> lines;
        size_t at = 0;
        for (size_t end; (end = text.find(L'\n', at)) != std::wstring::npos; at = end + 1) {
            lines.push_back(text.substr(at, end - at));
        }
        return lines;
    }
    std::vector<std::wstring> Notices() const {
        std::vector<std::wstring> notices;
        for (const std::wstring& line : Requests()) {
            if (line.rfind(L"modify\t", 0) == 0) {
                notices.push_back(line.substr(7));
            }
        }
        return notices;
    }
    size_t Count(const std::wstring& request) const {
        size_t count = 0;
        for (const std::wstring& line : Requests()) {
            count += line == request ? 1 : 0;
        }
        return count;
    }

    // Waits up to `limit` for `done`; the time it took, or nothing.
    template <class Done> std::optional<std::chrono::milliseconds> Within(std::chrono::milliseconds limit, Done done) {
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            const auto took =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            if (done()) {
                return took;
            }
            if (took > limit) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(20ms);
        }
    }

    // Starts the watcher and waits until it watches (its icon is added once every place is watched).
    HANDLE StartWatching() {
        const HANDLE process = Start();
        if (!Within(20s, [&] { return Count(L"add") > 0; })) {
            throw std::runtime_error("the watcher put no icon up");
        }
        return process;
    }

    // The watcher's hidden window, which hears the icon's events and takes the menu's commands.
    static HWND Window() { return ::FindWindowW(L"BootwardenWatcher", nullptr); }
    // A command of the icon's menu, as if the person chose it (posted: a command may ask its question).
    static void Choose(UINT command) { ::PostMessageW(Window(), kWatcherMenuMessage, command, 0); }
    static void ChooseForEntry(size_t index, UINT command) {
        Choose(WatcherEntryCommands + static_cast<UINT>(index) * kCommandsPerEntry + command);
    }
    // What the watcher asked the shell to start, as Bootwarden's window reads its arguments.
    std::vector<StartArguments> Starts() const {
        std::vector<StartArguments> starts;
        for (const std::wstring& line : Requests()) {
            if (line.rfind(L"start\t", 0) == 0) {
                starts.push_back(ReadStartArguments(L"Bootwarden.exe " + line.substr(6)));
            }
        }
        return starts;
    }
    // The program's signer as the catalog stands in for Windows: a line of the file the watcher reads at its start.
    void SignInCatalog(const std::wstring& path, const std::wstring& signer) {
        const std::wstring line = path + L"\t" + signer + L"\n";
        const std::string before = ReadWholeFile(m_root / L"signers.txt", 1 << 20).value_or(std::string());
        WriteFileReplacing(m_root / L"signers.txt",
                           before + std::string(reinterpret_cast<const char*>(line.data()), line.size() * 2));
    }
    // The entries of the store as they are now, read through the door.
    std::vector<Entry> StoreEntries() {
        TStoreDoor door;
        return door.Work([](TStoreDoor::TWork& work) {
            (void)work.Refresh(false);
            return std::vector<Entry>(work.Entries());
        });
    }
    std::optional<Entry> StoreEntry(int code, const std::wstring& name) {
        for (const Entry& entry : StoreEntries()) {
            if (entry.code == code && entry.name == name) {
                return entry;
            }
        }
        return std::nullopt;
    }

    // Through the window's door, as the person would: every entry switched off and kept off.
    static void SwitchOffAndKeepOffEveryEntry() {
        TStoreDoor door;
        door.Work([&](TStoreDoor::TWork& work) {
            (void)work.Refresh(false);
            for (const Entry& entry : std::vector<Entry>(work.Entries())) {
                work.Disable(entry);
            }
            (void)work.Refresh(false);
            for (const Entry& entry : std::vector<Entry>(work.Entries())) {
                work.KeepOff(entry, true);
            }
        });
    }

    // The history's lines by another program for `name`.
    size_t OutsideLines(HistoryChange change, const std::wstring& name) const {
        size_t count = 0;
        for (const HistoryLine& line : ReadHistory()) {
            count += line.by == HistoryActor::Outside && line.change == change && line.name == name ? 1 : 0;
        }
        return count;
    }

    std::wstring m_exe;
    std::wstring m_record;
    std::vector<UniqueKernelHandle> m_processes;
};

TEST_F(WatcherTest, EachOutsideChangeGivesOneNoticeAndOneHistoryLineWithinTwoSeconds) {
    m_registry.SetRunValue(Location::User, L"Known", L"c:\\known\\known.exe");
    StartWatching();
    EXPECT_TRUE(Notices().empty()) << "what started before the watch is not news";

    m_registry.SetRunValue(Location::User, L"Updater", L"\"c:\\Program Files\\Up\\upd.exe\" --tray");
    const auto added = Within(2000ms, [&] { return Notices().size() == 1; });
    ASSERT_TRUE(added) << "no notice within 2 s of an outside Run value";
    EXPECT_THAT(Notices()[0], ::testing::HasSubstr(L"added to start-up: Updater"));
    EXPECT_THAT(Notices()[0], ::testing::HasSubstr(L"upd.exe\" --tray"));
    EXPECT_THAT(Notices()[0], ::testing::HasSubstr(L"In: Registry (HKCU)|")) << "the place as a sentence names it";
    EXPECT_THAT(Notices()[0], ::testing::HasSubstr(L"Signer: "));
    EXPECT_TRUE(Within(2000ms, [&] { return OutsideLines(HistoryChange::Added, L"Updater") == 1; }));
    std::printf("notice after %lld ms\n", static_cast<long long>(added->count()));

    WriteShortcut(StartupPath(L"Helper.lnk"), L"c:\\helper\\helper.exe");
    ASSERT_TRUE(Within(2000ms, [&] { return Notices().size() == 2; })) << "no notice for a new Startup shortcut";
    EXPECT_THAT(Notices()[1], ::testing::HasSubstr(L"added to start-up: Helper"));
    EXPECT_TRUE(Within(2000ms, [&] { return OutsideLines(HistoryChange::Added, L"Helper") == 1; }));

    m_registry.SetRunValue(Location::User, L"Known", L"c:\\elsewhere\\known.exe");
    ASSERT_TRUE(Within(2000ms, [&] { return Notices().size() == 3; })) << "no notice for a changed command line";
    EXPECT_THAT(Notices()[2], ::testing::HasSubstr(L"was changed: Known"));
    EXPECT_THAT(Notices()[2], ::testing::HasSubstr(L"c:\\elsewhere\\known.exe"));
    EXPECT_TRUE(Within(2000ms, [&] { return OutsideLines(HistoryChange::Changed, L"Known") == 1; }));

    // Each change was told once: nothing more comes of them.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(3u, Notices().size());
}

// What the person does in Bootwarden (the window, bwcli) is no news; a program that puts back what the person
// switched off there is.
TEST_F(WatcherTest, WhatIsDoneInBootwardenGivesNoNotice) {
    for (const wchar_t* name : {L"Mine", L"Scripted", L"Nagger"}) {
        m_registry.SetRunValue(Location::User, name, std::wstring(L"c:\\tools\\") + name + L".exe");
    }
    TStoreDoor window(HistoryActor::Window);
    TStoreDoor cli(HistoryActor::Cli);
    const auto switchOff = [](TStoreDoor& door, const std::wstring& name) {
        door.Work([&](TStoreDoor::TWork& work) {
            (void)work.Refresh(false);
            for (const Entry& entry : std::vector<Entry>(work.Entries())) {
                if (entry.name == name) {
                    work.Disable(entry);
                }
            }
        });
    };
    const auto switchOn = [](TStoreDoor& door, const std::wstring& name) {
        door.Work([&](TStoreDoor::TWork& work) {
            (void)work.Refresh(false);
            for (const Entry& entry : std::vector<Entry>(work.Entries())) {
                if (entry.name == name && !IsEnabledCode(entry.code)) {
                    work.Enable(entry, nullptr);
                }
            }
        });
    };
    switchOff(window, L"Mine");
    switchOff(cli, L"Scripted");
    switchOff(window, L"Nagger");
    StartWatching();

    switchOn(window, L"Mine");
    switchOn(cli, L"Scripted");
    m_registry.SetRunValue(Location::User, L"Nagger", L"c:\\tools\\Nagger.exe");
    ASSERT_TRUE(Within(2000ms, [&] { return !Notices().empty(); }));
    std::this_thread::sleep_for(1500ms);
    ASSERT_EQ(1u, Notices().size()) << "a notice for what was switched on in Bootwarden";
    EXPECT_THAT(Notices()[0], ::testing::HasSubstr(L"added to start-up: Nagger"));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Mine"));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Scripted"));
}

TEST_F(WatcherTest, ABurstOfWritesGivesOneNoticeThatCountsThem) {
    StartWatching();
    // An installer writes its entries one after another, with pauses longer than the watch's own gathering: the
    // notice waits for the burst to end.
    for (int i = 0; i < 100; ++i) {
        if (i % 10 == 9) {
            std::this_thread::sleep_for(40ms);
        }
        m_registry.SetRunValue(Location::User, L"Burst " + std::to_wstring(i),
                               L"c:\\burst\\b.exe " + std::to_wstring(i));
    }
    ASSERT_TRUE(Within(2000ms, [&] { return !Notices().empty(); }));
    std::this_thread::sleep_for(1500ms);
    ASSERT_EQ(1u, Notices().size());
    EXPECT_THAT(Notices()[0], ::testing::HasSubstr(L"100 start-up entries"));
}

TEST_F(WatcherTest, OneWatcherPerSessionAndItsIconComesBackWithTheTaskbar) {
    const HANDLE first = StartWatching();
    const HANDLE second = Start();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(second, 10000)) << "a second watcher kept running";
    DWORD code = 99;
    ::GetExitCodeProcess(second, &code);
    EXPECT_EQ(0u, code);
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(first, 0));
    EXPECT_EQ(1u, Count(L"add"));

    // Explorer restarted: the taskbar tells every top-level window, and the icon is added to the new one.
    const HWND window = ::FindWindowW(L"BootwardenWatcher", nullptr);
    ASSERT_NE(nullptr, window);
    ::SendMessageW(window, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_EQ(2u, Count(L"add"));

    // Log-off: the watcher takes its icon away and ends.
    ::SendMessageW(window, WM_QUERYENDSESSION, 0, 0);
    ::SendMessageW(window, WM_ENDSESSION, TRUE, 0);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(first, 10000));
    EXPECT_EQ(L"delete", Requests().back()) << "the icon was left behind";
}

// The store's folders moved away while the watcher runs (the program's folder cleared by hand, or by an uninstall
// that left the running watcher behind): nothing is left to keep, and the watcher ends by itself at its next cycle,
// taking its icon with it and changing nothing. (Windows lets a watched folder go and signals its watch; Wine keeps
// a watched folder until its watch is closed and signals nothing, so here the folders are renamed and the next
// cycle is started by a change elsewhere.)
TEST_F(WatcherTest, TheWatcherEndsWhenTheStoreGoesAway) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool\\tool.exe");
    const HANDLE watcher = StartWatching();
    for (const auto& item : std::filesystem::directory_iterator(std::filesystem::path(m_programDir))) {
        if (item.is_directory()) {
            const std::wstring folder = item.path().wstring();
            ASSERT_TRUE(::MoveFileW(folder.c_str(), (folder + L".gone").c_str())) << ::GetLastError();
        }
    }
    m_registry.SetRunValue(Location::User, L"Updater", L"c:\\up\\up.exe");
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(watcher, 10000)) << "the watcher outlived its store";
    DWORD code = 99;
    ::GetExitCodeProcess(watcher, &code);
    EXPECT_EQ(0u, code);
    EXPECT_EQ(L"delete", Requests().back()) << "the icon was left behind";
    EXPECT_TRUE(Notices().empty());
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_FALSE(DirectoryExists(m_programDir + L"Run")) << "the store was made again";
}

// An entry kept switched off that its program puts back with the same command line leaves Windows again within
// 2 s, its switched-off copy kept as it was; back with another command line, it is only told of.
TEST_F(WatcherTest, AnEntryKeptOffThatIsPutBackIsSwitchedOffAgain) {
    m_registry.SetRunValue(Location::User, L"Nagger", L"\"c:\\nag\\nag.exe\" --tray");
    m_registry.SetRunValue(Location::User, L"Updater", L"c:\\up\\1.0\\up.exe");
    SwitchOffAndKeepOffEveryEntry();
    const std::string copy = ReadFileBytes(StorePath(kUserOff, L"Nagger"));
    StartWatching();

    m_registry.SetRunValue(Location::User, L"Nagger", L"\"c:\\nag\\nag.exe\" --tray");
    const auto again = Within(2000ms, [&] { return !m_registry.RunValue(Location::User, L"Nagger"); });
    ASSERT_TRUE(again) << "the entry put back still starts";
    ASSERT_TRUE(Within(2000ms, [&] { return Notices().size() == 1; }));
    EXPECT_THAT(Notices()[0], ::testing::HasSubstr(L"Switched off again: Nagger"));
    EXPECT_EQ(ReadFileBytes(StorePath(kUserOff, L"Nagger")), copy);
    std::printf("switched off again after %lld ms\n", static_cast<long long>(again->count()));

    m_registry.SetRunValue(Location::User, L"Updater", L"c:\\up\\1.1\\up.exe");
    ASSERT_TRUE(Within(2000ms, [&] { return Notices().size() == 2; }));
    EXPECT_THAT(Notices()[1], ::testing::HasSubstr(L"another command line: Updater"));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Updater")) << "another command line is never taken out unasked";
    EXPECT_TRUE(PathExists(StorePath(kUserOff, L"Updater")));
}

// A click on a notice opens the window with the notice's entry selected, and so does the entry's "Show" in the
// icon's menu; the name reaches the window whole, whatever it holds. A notice of several opens on the first.
TEST_F(WatcherTest, ANoticesClickOpensTheWindowWithItsEntrySelected) {
    StartWatching();
    const std::wstring name = L"Say \"hi\" --watch --after 12 \\\\";
    m_registry.SetRunValue(Location::User, name, L"c:\\say\\say.exe");
    ASSERT_TRUE(Within(2000ms, [&] { return Notices().size() == 1; }));

    ::SendMessageW(Window(), kWatcherIconMessage, 0, MAKELPARAM(NIN_BALLOONUSERCLICK, 1));
    ASSERT_TRUE(Within(2000ms, [&] { return Starts().size() == 1; }));
    StartArguments start = Starts().back();
    EXPECT_EQ(start.head, L"") << "the name is not read as a switch";
    EXPECT_EQ(start.selection, (EntrySelection{kUserCode, name}));

    ChooseForEntry(0, EntryShowCommand);
    ASSERT_TRUE(Within(2000ms, [&] { return Starts().size() == 2; }));
    EXPECT_EQ(Starts().back().selection, (EntrySelection{kUserCode, name}));

    // The icon itself opens the window as it is.
    ::SendMessageW(Window(), kWatcherIconMessage, 0, MAKELPARAM(NIN_SELECT, 1));
    ASSERT_TRUE(Within(2000ms, [&] { return Starts().size() == 3; }));
    EXPECT_FALSE(Starts().back().selection);
}

// Pause notices for an hour tells nothing while it holds, and chosen again it ends; "Don't tell me about this entry
// again" silences that entry only; Keep leaves the entry as it is; Stop watching ends the watcher and takes its
// icon away.
TEST_F(WatcherTest, TheIconMenusCommandsPauseSilenceKeepAndStop) {
    m_registry.SetRunValue(Location::User, L"Known", L"c:\\known\\known.exe");
    const HANDLE process = StartWatching();
    Choose(WatcherPauseCommand);
    m_registry.SetRunValue(Location::User, L"During", L"c:\\pause\\during.exe");
    ASSERT_TRUE(Within(5000ms, [&] { return OutsideLines(HistoryChange::Added, L"During") == 1; }))
        << ReadHistory().size() << " lines; requests " << Requests().size();
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(Notices().empty()) << "a notice during the pause";

    Choose(WatcherPauseCommand);
    m_registry.SetRunValue(Location::User, L"Loud", L"c:\\loud\\loud.exe");
    ASSERT_TRUE(Within(2000ms, [&] { return Notices().size() == 1; })) << "the pause did not end";
    EXPECT_THAT(Notices()[0], ::testing::HasSubstr(L"Loud"));

    // Loud is the newest of the menu's entries, During (told in the menu, not in a notice) the next.
    ChooseForEntry(0, EntryQuietCommand);
    ASSERT_TRUE(Within(2000ms, [&] { return PathExists(StoreDataFile(kQuietEntriesFile)); }));
    m_registry.SetRunValue(Location::User, L"Loud", L"c:\\loud\\louder.exe");
    ASSERT_TRUE(Within(2000ms, [&] { return OutsideLines(HistoryChange::Changed, L"Loud") == 1; }));
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\other\\other.exe");
    ASSERT_TRUE(Within(2000ms, [&] { return Notices().size() == 2; })) << "another entry is still told";
    std::this_thread::sleep_for(1000ms);
    ASSERT_EQ(Notices().size(), 2u) << "the silenced entry was told";
    EXPECT_THAT(Notices()[1], ::testing::HasSubstr(L"Other"));

    // Other, During: Keep During, then Other's own Keep.
    ChooseForEntry(1, EntryKeepCommand);
    ChooseForEntry(0, EntryKeepCommand);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"During")->text, L"c:\\pause\\during.exe");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Other")->text, L"c:\\other\\other.exe");
    EXPECT_FALSE(PathExists(StorePath(kUserOff, L"During")));
    // Both answered: the menu offers no entry any more, so an entry's command does nothing.
    ChooseForEntry(0, EntrySwitchOffCommand);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Other"));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"During"));

    Choose(WatcherStopCommand);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process, 10000)) << "the watcher did not stop";
    EXPECT_EQ(L"delete", Requests().back()) << "the icon was left behind";
}

// While the icon's menu is open its own loop runs, and nothing waits on the places: a change made then is told once
// the menu has closed.
TEST_F(WatcherTest, AChangeWhileTheIconsMenuIsOpenIsToldOnceItCloses) {
    StartWatching();
    ::PostMessageW(Window(), kWatcherIconMessage, 0, WM_CONTEXTMENU);
    const auto menu = [] {
        const HWND found = ::FindWindowW(L"#32768", nullptr);
        return found != nullptr && ::IsWindowVisible(found) ? found : nullptr;
    };
    ASSERT_TRUE(Within(5000ms, [&] { return menu() != nullptr; })) << "the menu did not open";
    m_registry.SetRunValue(Location::User, L"Meanwhile", L"c:\\meanwhile\\meanwhile.exe");
    std::this_thread::sleep_for(500ms);
    ::PostMessageW(menu(), WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(Within(5000ms, [&] { return menu() == nullptr; })) << "the menu did not close";
    ASSERT_TRUE(Within(2000ms, [&] { return Notices().size() == 1; }));
    EXPECT_THAT(Notices()[0], ::testing::HasSubstr(L"Meanwhile"));
}

// An entry kept off comes back with another command line: the watcher changes nothing, and its menu's "Switch off,
// replacing the kept copy" switches the new one off and keeps it in the store in place of the old. When the new one
// cannot leave Windows (its shortcut is held open), the old copy is put back as it was.
TEST_F(WatcherTest, SwitchOffReplacingTheKeptCopyFromTheNoticesMenu) {
    m_registry.SetRunValue(Location::User, L"Updater", L"c:\\up\\1.0\\up.exe");
    WriteShortcut(StartupPath(L"Helper.lnk"), L"c:\\helper\\1.0\\helper.exe");
    SwitchOffAndKeepOffEveryEntry();
    const std::string helperCopy = ReadFileBytes(StorePath(kStartUpOff, L"Helper"));
    StartWatching();

    m_registry.SetRunValue(Location::User, L"Updater", L"c:\\up\\1.1\\up.exe");
    ASSERT_TRUE(Within(2000ms, [&] { return Notices().size() == 1; }));
    EXPECT_THAT(Notices()[0], ::testing::HasSubstr(L"another command line: Updater"));
    ChooseForEntry(0, EntrySwitchOffCommand);
    ASSERT_TRUE(Within(3000ms, [&] { return !m_registry.RunValue(Location::User, L"Updater"); }))
        << "the new command line still starts";
    const auto updater = StoreEntry(kUserOff, L"Updater");
    ASSERT_TRUE(updater);
    EXPECT_EQ(StartOf(*updater), L"c:\\up\\1.1\\up.exe") << "the store kept the old copy";

    WriteShortcut(StartupPath(L"Helper.lnk"), L"c:\\helper\\1.1\\helper.exe");
    ASSERT_TRUE(Within(2000ms, [&] { return Notices().size() == 2; }));
    EXPECT_THAT(Notices()[1], ::testing::HasSubstr(L"another command line: Helper"));
    {
        // Held open by another program that lets nobody delete it: the shortcut cannot leave the folder.
        UniqueFile held(::CreateFileW(StartupPath(L"Helper.lnk").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        ChooseForEntry(0, EntrySwitchOffCommand);
        ASSERT_TRUE(Within(3000ms, [&] { return ::FindWindowW(L"#32770", nullptr) != nullptr; }))
            << "the watcher did not say why";
    }
    EXPECT_TRUE(PathExists(StartupPath(L"Helper.lnk")));
    EXPECT_EQ(ReadFileBytes(StorePath(kStartUpOff, L"Helper")), helperCopy) << "the kept copy was not put back";
}

// The watcher idles with no thread it can do without: under Wine each thread keeps about 1 MB of the process's
// private memory for good. Where every watched place is local, the waiter for change notifications is the only
// thread beside the window's own; the armer of watches on other machines is not made. (Windows adds worker threads
// of its loader for a while, so the count is taken under Wine only.)
TEST_F(WatcherTest, IdlesOnItsWindowsThreadAloneWhereEveryPlaceIsLocal) {
    if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr) {
        GTEST_SKIP() << "Windows' loader runs threads of its own";
    }
    m_registry.SetRunValue(Location::User, L"Known", L"c:\\known\\known.exe");
    const DWORD id = ::GetProcessId(StartWatching());
    const auto threads = [id] {
        UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
        THREADENTRY32 thread{};
        thread.dwSize = sizeof thread;
        size_t count = 0;
        for (BOOL more = ::Thread32First(snapshot.Get(), &thread); more; more = ::Thread32Next(snapshot.Get(), &thread)) {
            count += thread.th32OwnerProcessID == id ? 1 : 0;
        }
        return count;
    };
    // A thread that asked a drive's type ends once it has the answer.
    EXPECT_TRUE(Within(5000ms, [&] { return threads() == 1; })) << threads() << " threads";
}

// The notice names the signer that Windows confirms, never the publisher a program claims for itself.
TEST_F(WatcherTest, ANoticeNamesTheConfirmedSignerNotTheClaimedPublisher) {
    const std::wstring signedProgram = m_root / L"Signed.exe";
    const std::wstring claiming = m_root / L"Claims.exe";
    ASSERT_TRUE(
        ::CopyFileW((FolderPart(ModulePath()) + L"FixtureOneLanguage.dll").c_str(), signedProgram.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW((FolderPart(ModulePath()) + L"FixtureOneLanguage.dll").c_str(), claiming.c_str(), FALSE));
    SignInCatalog(signedProgram, L"Northwind Traders");
    StartWatching();

    m_registry.SetRunValue(Location::User, L"Signed", L"\"" + signedProgram + L"\" --tray");
    ASSERT_TRUE(Within(2000ms, [&] { return Notices().size() == 1; }));
    EXPECT_THAT(Notices()[0], ::testing::HasSubstr(L"Signer: Northwind Traders"));

    m_registry.SetRunValue(Location::User, L"Claims", L"\"" + claiming + L"\"");
    ASSERT_TRUE(Within(2000ms, [&] { return Notices().size() == 2; }));
    EXPECT_THAT(Notices()[1], ::testing::HasSubstr(L"Signer: Not signed"));
    EXPECT_THAT(Notices()[1], ::testing::Not(::testing::HasSubstr(L"Fabrikam")));
}


Entry StartingEntry(int code, const std::wstring& name, const std::wstring& start) {
    Entry entry;
    entry.code = code;
    entry.name = name;
    if (code == kStartUpCode) {
        entry.target = start;
    } else {
        entry.description = start;
    }
    return entry;
}

// What the watcher keeps of the last cycle tells each entry as new, changed or the same, by its place, its exact name
// and what it starts, and never by an entry switched off.
TEST(StartingEntries, TellAnEntryAddedChangedOrTheSameByItsPlaceNameAndStart) {
    TStartingEntries starting;
    starting.Take({StartingEntry(kUserCode, L"Updater", L"C:\\u.exe /quiet"),
                   StartingEntry(kStartUpCode, L"Notes", L"C:\\notes.exe"),
                   StartingEntry(kUserOffCode, L"Old", L"C:\\old.exe")});
    using S = TStartingEntries::Standing;
    EXPECT_EQ(S::Same, starting.Of(StartingEntry(kUserCode, L"Updater", L"C:\\u.exe /quiet")));
    EXPECT_EQ(S::Same, starting.Of(StartingEntry(kStartUpCode, L"Notes", L"C:\\notes.exe")));
    EXPECT_EQ(S::Changed, starting.Of(StartingEntry(kUserCode, L"Updater", L"C:\\u.exe /loud")));
    EXPECT_EQ(S::Changed, starting.Of(StartingEntry(kStartUpCode, L"Notes", L"C:\\other.exe")));
    EXPECT_EQ(S::Added, starting.Of(StartingEntry(kLocalCode, L"Updater", L"C:\\u.exe /quiet")));
    EXPECT_EQ(S::Added, starting.Of(StartingEntry(kUserCode, L"updater", L"C:\\u.exe /quiet")));
    EXPECT_EQ(S::Added, starting.Of(StartingEntry(kUserCode, L"Old", L"C:\\old.exe")));
    // Taken again, what was there and is gone is new once it comes back.
    starting.Take({StartingEntry(kStartUpCode, L"Notes", L"C:\\notes.exe")});
    EXPECT_EQ(S::Added, starting.Of(StartingEntry(kUserCode, L"Updater", L"C:\\u.exe /quiet")));
    EXPECT_EQ(S::Same, starting.Of(StartingEntry(kStartUpCode, L"Notes", L"C:\\notes.exe")));
}

// Between cycles the watcher keeps sixteen bytes an entry that starts, however long its name and command line: with a
// thousand entries the texts would weigh a quarter of a megabyte.
TEST(StartingEntries, KeepSixteenBytesAnEntryWhateverItsTexts) {
    std::vector<Entry> entries;
    for (int i = 0; i < 1000; ++i) {
        entries.push_back(StartingEntry(i % 2 == 0 ? kLocalCode : kStartUpCode,
                                        L"An entry with a long name " + std::to_wstring(i),
                                        L"C:\\Program Files\\Vendor\\Product\\" + std::wstring(200, L'x')));
        entries.push_back(StartingEntry(kLocalOffCode, L"Switched off " + std::to_wstring(i), L"C:\\off.exe"));
    }
    TStartingEntries starting;
    starting.Take(entries);
    EXPECT_EQ(1000u * 16u, starting.KeptBytes());
    for (const Entry& entry : entries) {
        if (IsEnabledCode(entry.code)) {
            EXPECT_EQ(TStartingEntries::Standing::Same, starting.Of(entry)) << entry.name;
        }
    }
}

// The loop waiter, on this thread: its message goes to a window that only holds it in the queue.
class LoopWaiterTest : public ::testing::Test {
protected:
    static constexpr UINT kChanged = WM_APP + 7;

    LoopWaiterTest()
        : m_window(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)),
          m_waiter(m_window, kChanged) {
        for (UniqueKernelHandle& event : m_events) {
            event.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr)); // reset by hand, as a key's
        }
    }
    ~LoopWaiterTest() override { ::DestroyWindow(m_window); }

    // Takes every message out of the queue; how many told of a change.
    size_t TakeMessages(UINT other = 0, size_t* others = nullptr) {
        size_t told = 0;
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            told += message.message == kChanged ? 1 : 0;
            if (others != nullptr && message.message == other) {
                ++*others;
            }
        }
        return told;
    }
    std::vector<HANDLE> Set() { return {m_events[0].Get(), nullptr, m_events[1].Get()}; }

    HWND m_window;
    TLoopWaiter m_waiter;
    UniqueKernelHandle m_events[2];
};

// A slot signalled wakes the loop once and is told once, in one message however many slots it tells of; it is not
// waited on again, though its handle stays signalled, until the next Wait re-arms it. What was signalled and not
// taken yet is still told after a Wait.
TEST_F(LoopWaiterTest, TellsASlotSignalledOnceUntilTheNextWaitReArmsIt) {
    ASSERT_NE(nullptr, m_window);
    m_waiter.Wait(Set());
    EXPECT_FALSE(m_waiter.WaitForInput(0)); // nothing signalled, nothing in the queue: the time is up
    ::SetEvent(m_events[0].Get());
    ::SetEvent(m_events[1].Get());
    size_t wakes = 0;
    for (int round = 0; round < 20; ++round) {
        wakes += m_waiter.WaitForInput(0) ? 1 : 0;
    }
    EXPECT_EQ(2u, wakes);
    EXPECT_EQ(1u, TakeMessages());
    EXPECT_EQ((std::vector<size_t>{0, 2}), m_waiter.TakeSignalled());
    EXPECT_TRUE(m_waiter.TakeSignalled().empty());
    EXPECT_FALSE(m_waiter.WaitForInput(0));
    EXPECT_EQ(0u, TakeMessages());

    // Re-armed: told again, with a message of its own now that the last one was answered.
    m_waiter.Wait(Set());
    ::ResetEvent(m_events[1].Get());
    EXPECT_TRUE(m_waiter.WaitForInput(0));
    EXPECT_FALSE(m_waiter.WaitForInput(0));
    EXPECT_EQ(1u, TakeMessages());
    m_waiter.Wait(Set()); // before the window took the slot
    EXPECT_EQ(std::vector<size_t>{0}, m_waiter.TakeSignalled());
}

// A handle that stays signalled while the loop goes on waiting for its messages wakes it once, not at every wait: the
// loop sleeps between the messages another thread posts, however many come.
TEST_F(LoopWaiterTest, AHandleThatStaysSignalledWakesTheLoopOnceNotWithoutEnd) {
    ASSERT_NE(nullptr, m_window);
    constexpr UINT kTick = WM_APP + 8;
    constexpr size_t kTicks = 40;
    m_waiter.Wait(Set());
    ::SetEvent(m_events[1].Get());
    std::thread ticks([window = m_window] {
        for (size_t i = 0; i < kTicks; ++i) {
            ::PostMessageW(window, kTick, 0, 0);
            std::this_thread::sleep_for(5ms);
        }
    });
    size_t ticked = 0;
    size_t waits = 0;
    size_t handleWakes = 0;
    size_t told = 0;
    while (ticked < kTicks && waits < 100000) {
        told += TakeMessages(kTick, &ticked);
        if (ticked < kTicks) {
            handleWakes += m_waiter.WaitForInput() ? 1 : 0;
            ++waits;
        }
    }
    ticks.join();
    EXPECT_EQ(1u, handleWakes);
    EXPECT_LE(waits, kTicks + 1);
    EXPECT_EQ(1u, told + TakeMessages());
    EXPECT_EQ(std::vector<size_t>{2}, m_waiter.TakeSignalled());
}

} // namespace
} // namespace bw::test
