// The watcher run as a process (WatcherUnderTest.exe, the program's watcher on this test's scratch registry and
// store), its notices read from what it asked of the notification area.
#include "TestEnvironment.h"

#include "platform/FileSystem.h"
#include "store/History.h"
#include "store/StoreDoor.h"

#include <windows.h>

#include <chrono>
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

// An entry kept switched off that its program puts back with the same command line leaves Windows again within
// 2 s, its switched-off copy kept as it was; back with another command line, it is only told of.
TEST_F(WatcherTest, AnEntryKeptOffThatIsPutBackIsSwitchedOffAgain) {
    m_registry.SetRunValue(Location::User, L"Nagger", L"\"c:\\nag\\nag.exe\" --tray");
    m_registry.SetRunValue(Location::User, L"Updater", L"c:\\up\\1.0\\up.exe");
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

} // namespace
} // namespace bw::test
