#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "store/History.h"
#include "store/StoreData.h"
#include "store/StoreDoor.h"

#include <algorithm>

namespace bw::test {
namespace {

using ::testing::HasSubstr;

class KeptOffTest : public StoreTest {
protected:
    KeptOffTest() { m_door.Open(); }

    const Entry& Find(int code, const std::wstring& name) const {
        const auto& entries = m_door.Entries();
        const auto found = std::find_if(entries.begin(), entries.end(),
                                        [&](const Entry& entry) { return entry.code == code && entry.name == name; });
        EXPECT_NE(found, entries.end()) << code << " " << name;
        return *found;
    }

    // Switches an entry off and keeps it off, as the window's command does.
    void SwitchOffAndKeep(int code, const std::wstring& name) {
        m_door.Work([&](TStoreDoor::TWork& work) {
            (void)work.Refresh(false);
            work.Disable(Find(code, name));
            (void)work.Refresh(false);
            work.KeepOff(Find(DisabledCodeOf(code), name), true);
        });
    }

    // The watcher's import: read again, then the rule.
    std::vector<KeptOffFinding> WatcherImports() {
        return m_door.Work([&](TStoreDoor::TWork& work) {
            (void)work.Refresh(false);
            return work.KeepOffReAdded();
        });
    }

    static size_t SwitchedOffLines(const std::wstring& name) {
        const auto lines = ReadHistory();
        return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const HistoryLine& line) {
            return line.name == name && line.change == HistoryChange::SwitchedOff;
        }));
    }

    TStoreDoor m_door{HistoryActor::Watcher};
};

} // namespace

// A Run value and a Startup shortcut put back as they were leave the system again; the switched-off copies stay
// byte for byte (the re-added shortcut's other description is not written over them), and each gets one history line.
TEST_F(KeptOffTest, ReAddedWithTheSameCommandLineIsSwitchedOffAgainKeepingTheCopy) {
    m_registry.SetRunValue(Location::User, L"Tool", L"\"c:\\tool dir\\tool.exe\" /tray");
    WriteShortcut(StartupPath(L"Helper.lnk"), L"c:\\helper.exe", L"first");
    SwitchOffAndKeep(kUser, L"Tool");
    SwitchOffAndKeep(kStartUp, L"Helper");
    const std::string toolCopy = ReadFileBytes(StorePath(kUserOff, L"Tool"));
    const std::string helperCopy = ReadFileBytes(StorePath(kStartUpOff, L"Helper"));
    ASSERT_EQ(SwitchedOffLines(L"Tool"), 1u);

    m_registry.SetRunValue(Location::User, L"Tool", L"\"c:\\tool dir\\tool.exe\" /tray");
    WriteShortcut(StartupPath(L"Helper.lnk"), L"c:\\helper.exe", L"written again");
    const auto findings = WatcherImports();

    ASSERT_EQ(findings.size(), 2u);
    EXPECT_EQ(findings[0].kind, KeptOffFinding::SwitchedOffAgain);
    EXPECT_EQ(findings[1].kind, KeptOffFinding::SwitchedOffAgain);
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_FALSE(PathExists(StartupPath(L"Helper.lnk")));
    EXPECT_EQ(ReadFileBytes(StorePath(kUserOff, L"Tool")), toolCopy);
    EXPECT_EQ(ReadFileBytes(StorePath(kStartUpOff, L"Helper")), helperCopy);
    EXPECT_FALSE(PathExists(StorePath(kUser, L"Tool"))) << "no mirror of the re-added entry stays";
    EXPECT_EQ(SwitchedOffLines(L"Tool"), 2u);
    EXPECT_EQ(SwitchedOffLines(L"Helper"), 2u);
    EXPECT_EQ(ReadHistory().front().by, HistoryActor::Watcher);
    EXPECT_TRUE(WatcherImports().empty()) << "nothing is left to do";
}

// An updater that puts the entry back with its new version in the path changes nothing: the new value starts, the
// kept copy stays, and the finding says it came back. An entry that was not kept off is never touched.
TEST_F(KeptOffTest, AnotherCommandLineOrAnEntryNotKeptOffChangesNothing) {
    m_registry.SetRunValue(Location::User, L"Updater", L"c:\\app\\1.0\\update.exe");
    m_registry.SetRunValue(Location::User, L"Plain", L"c:\\plain.exe");
    SwitchOffAndKeep(kUser, L"Updater");
    m_door.Work([&](TStoreDoor::TWork& work) { work.Disable(Find(kUser, L"Plain")); });
    const std::string copy = ReadFileBytes(StorePath(kUserOff, L"Updater"));

    m_registry.SetRunValue(Location::User, L"Updater", L"c:\\app\\1.1\\update.exe");
    m_registry.SetRunValue(Location::User, L"Plain", L"c:\\plain.exe");
    const auto findings = WatcherImports();

    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].kind, KeptOffFinding::CameBack);
    EXPECT_EQ(findings[0].entry.name, L"Updater");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Updater")->text, L"c:\\app\\1.1\\update.exe");
    EXPECT_EQ(ReadFileBytes(StorePath(kUserOff, L"Updater")), copy);
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Plain"));
}

// Entries of places listed read-only (RunOnce, a policy's Run key) have no switched-off place; beside them the rule
// still works at every import, and they are left as they are.
TEST_F(KeptOffTest, EntriesOfPlacesListedReadOnlyLeaveTheRuleWorking) {
    m_registry.SetText(HKEY_CURRENT_USER, kRunOnceKeyPath, L"Setup", L"c:\\setup\\finish.exe");
    m_registry.SetText(HKEY_CURRENT_USER, kRunOnceKeyPath, L"", L"c:\\once.exe");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    SwitchOffAndKeep(kUser, L"Tool");

    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    std::vector<KeptOffFinding> findings;
    ASSERT_NO_THROW(findings = WatcherImports());

    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].kind, KeptOffFinding::SwitchedOffAgain);
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Tool"));
    TRegistry runOnce;
    runOnce.SelectRoot(HKEY_CURRENT_USER);
    ASSERT_TRUE(runOnce.OpenExistingKey(kRunOnceKeyPath, 0));
    EXPECT_TRUE(runOnce.HasValue(L"Setup"));
    EXPECT_TRUE(runOnce.HasValue(L""));
}

// Switching the entry on through the door takes its mark away: put back later by its program, it stays.
TEST_F(KeptOffTest, AnEntrySwitchedOnIsNoLongerKeptOff) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    SwitchOffAndKeep(kUser, L"Tool");
    ASSERT_TRUE(IsKeptOff(kUserOff, L"Tool"));
    m_door.Work([&](TStoreDoor::TWork& work) {
        (void)work.Refresh(false);
        work.Enable(Find(kUserOff, L"Tool"), nullptr);
    });
    EXPECT_FALSE(IsKeptOff(kUserOff, L"Tool"));
    m_door.Work([&](TStoreDoor::TWork& work) {
        (void)work.Refresh(false);
        work.Disable(Find(kUser, L"Tool"));
    });
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    EXPECT_TRUE(WatcherImports().empty());
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));
}

// Without an administrator's rights an HKLM entry put back is left where it is, and the finding says why.
TEST_F(KeptOffTest, AnHklmEntryWithoutRightsIsLeftAloneAndSaysWhy) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    SwitchOffAndKeep(kLocal, L"Agent");
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    const StandardUser standardUser;
    const auto findings = WatcherImports();

    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].kind, KeptOffFinding::NotChanged);
    EXPECT_THAT(findings[0].why, HasSubstr(L"administrator rights"));
    EXPECT_TRUE(m_registry.RunValue(Location::Local, L"Agent"));
    EXPECT_TRUE(PathExists(StorePath(kLocalOff, L"Agent")));
    m_door.Work([&](TStoreDoor::TWork& work) {
        EXPECT_THROW(work.KeepOff(Find(kLocalOff, L"Agent"), true), ERightsMissing) << "the mark says why at once";
    });
}

// The marks' file is written only from a whole read of one this program wrote; only switched-off entries are marked.
TEST_F(KeptOffTest, AFileNotOursIsNeverWrittenOverAndOnlySwitchedOffEntriesAreMarked) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_door.Work([&](TStoreDoor::TWork& work) {
        (void)work.Refresh(false);
        EXPECT_THROW(work.KeepOff(Find(kUser, L"Tool"), true), EEntryRefused);
        work.Disable(Find(kUser, L"Tool"));
        (void)work.Refresh(false);
    });
    WriteFileBytes(StoreDataFile(kKeptOffFile), "someone else's notes");
    m_door.Work(
        [&](TStoreDoor::TWork& work) { EXPECT_THROW(work.KeepOff(Find(kUserOff, L"Tool"), true), EEntryRefused); });
    EXPECT_EQ(ReadFileBytes(StoreDataFile(kKeptOffFile)), "someone else's notes");
    EXPECT_FALSE(IsKeptOff(kUserOff, L"Tool"));
}

} // namespace bw::test
