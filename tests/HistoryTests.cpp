#include "TestEnvironment.h"

#include "store/History.h"
#include "store/StoreDoor.h"

#include <cstring>

namespace bw::test {

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A history line as "change by code name | start", newest first.
std::vector<std::wstring> Kept() {
    std::vector<std::wstring> lines;
    for (const HistoryLine& line : ReadHistory()) {
        lines.push_back(std::wstring(HistoryChangeWord(line.change)) + L" " + HistoryActorWord(line.by) + L" " +
                        std::to_wstring(line.code) + L" " + line.name + L" | " + line.start);
    }
    return lines;
}

const Entry& Found(TStoreDoor& door, int code, const std::wstring& name) {
    for (const Entry& entry : door.Entries()) {
        if (entry.code == code && entry.name == name) {
            return entry;
        }
    }
    throw std::runtime_error("no such entry");
}

class HistoryTest : public StoreTest {
protected:
    static void Refresh(TStoreDoor& door) {
        door.Work([](TStoreDoor::TWork& work) { return work.Refresh(true); });
    }
};

} // namespace

// What another program changed is kept once, as the import saw it, by "outside"; what a front end changed through
// the door is kept once, by that front end, and the import after it does not take it for another program's.
TEST_F(HistoryTest, OutsideChangesAndTheDoorsOwnAreEachKeptOnceByWhoMadeThem) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe --old");
    m_registry.SetRunValue(Location::User, L"Leaves", L"c:\\leaves.exe");
    WriteShortcut(StorePath(kUserOff, L"Kept"), L"c:\\kept.exe", L"c:\\kept.exe"); // switched off elsewhere
    TStoreDoor window;
    window.Open();
    Refresh(window);
    EXPECT_THAT(Kept(), IsEmpty()) << "the first import finds what was there all along";

    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe --new");
    m_registry.RemoveRunValue(Location::User, L"Leaves");
    m_registry.SetRunValue(Location::User, L"Came", L"c:\\came.exe");
    WriteShortcut(StartupPath(L"Agent.lnk"), L"c:\\agent.exe");
    Refresh(window);
    Refresh(window);
    EXPECT_THAT(Kept(), ::testing::UnorderedElementsAre(
                            L"added outside 2 Came | c:\\came.exe", L"changed outside 2 Tool | c:\\tool.exe --new",
                            L"removed outside 2 Leaves | c:\\leaves.exe", L"added outside 3 Agent | c:\\agent.exe"));

    window.Work([&](TStoreDoor::TWork& work) {
        work.Refresh(false);
        work.Disable(Found(window, kUser, L"Came"));
        work.Refresh(false);
        work.Enable(Found(window, kUserOff, L"Came"), nullptr);
        work.Refresh(false);
        work.Delete(Found(window, kStartUp, L"Agent"));
        work.Refresh(false);
    });
    {
        TStoreDoor cli(HistoryActor::Cli);
        cli.Open();
        cli.Work([&](TStoreDoor::TWork& work) {
            work.Refresh(false);
            work.AddStartupShortcut(L"c:\\programs\\added.exe");
            work.Refresh(false);
        });
    }
    Refresh(window);
    const std::vector<std::wstring> kept = Kept();
    ASSERT_EQ(kept.size(), 8u);
    EXPECT_THAT(std::vector<std::wstring>(kept.begin(), kept.begin() + 4),
                ElementsAre(L"added bwcli 3 added | c:\\programs\\added.exe", L"deleted window 3 Agent | c:\\agent.exe",
                            L"switched-on window 2 Came | c:\\came.exe", L"switched-off window 5 Came | c:\\came.exe"));
}

// A system with no entry at all: its first entry is another program's change like any later one, though the first
// import found nothing to mirror.
TEST_F(HistoryTest, TheFirstEntryOfASystemThatHadNoneIsKept) {
    TStoreDoor window;
    window.Open();
    Refresh(window);
    m_registry.SetRunValue(Location::User, L"First", L"c:\\first.exe");
    Refresh(window);
    EXPECT_THAT(Kept(), ElementsAre(L"added outside 2 First | c:\\first.exe"));
}

// A front end's change that another process's import mirrors (the watcher running beside the window) is kept once,
// as the front end's: that import does not take it for another program's; a change by another program after it
// still is.
TEST_F(HistoryTest, WhatAFrontEndDidIsItsOwnWhicheverProcessImportsItNext) {
    m_registry.SetRunValue(Location::User, L"Mine", L"c:\\mine.exe");
    TStoreDoor window;
    window.Open();
    Refresh(window);
    TStoreDoor watcher(HistoryActor::Watcher);
    watcher.Open();
    Refresh(watcher);

    window.Work([&](TStoreDoor::TWork& work) {
        work.Refresh(false);
        work.Disable(Found(window, kUser, L"Mine"));
    });
    Refresh(watcher);
    window.Work([&](TStoreDoor::TWork& work) {
        work.Refresh(false);
        work.Enable(Found(window, kUserOff, L"Mine"), nullptr);
        work.AddStartupShortcut(L"c:\\programs\\chosen.exe");
    });
    Refresh(watcher);
    window.Work([&](TStoreDoor::TWork& work) {
        work.Refresh(false);
        work.Delete(Found(window, kStartUp, L"chosen"));
    });
    Refresh(watcher);
    m_registry.RemoveRunValue(Location::User, L"Mine");
    Refresh(watcher);
    EXPECT_THAT(Kept(),
                ElementsAre(L"removed outside 2 Mine | c:\\mine.exe",
                            L"deleted window 3 chosen | c:\\programs\\chosen.exe",
                            L"added window 3 chosen | c:\\programs\\chosen.exe",
                            L"switched-on window 2 Mine | c:\\mine.exe", L"switched-off window 5 Mine | c:\\mine.exe"));
}

// The file never holds more than its limit: the oldest lines go first, the newest stay whole, and a name or a
// command line with any character (a tab, a line break, a zero, a backslash) comes back as it was kept.
TEST_F(HistoryTest, TheFileKeepsToItsLimitDroppingTheOldestAndKeepsAnyText) {
    const std::wstring odd = std::wstring(L"a\tb\nc\\d\r") + L'\0' + L"e\\n";
    RecordHistory({{1, HistoryChange::Added, HistoryActor::Outside, kUser, odd, L"c:\\odd.exe \\t"}});
    ASSERT_EQ(ReadHistory().size(), 1u);
    EXPECT_EQ(ReadHistory().front().name, odd);
    EXPECT_EQ(ReadHistory().front().start, L"c:\\odd.exe \\t");

    const std::wstring longLine = L"c:\\" + std::wstring(2000, L'x') + L".exe";
    for (std::uint64_t time = 2; time < 100; ++time) {
        RecordHistory({{time, HistoryChange::Changed, HistoryActor::Watcher, kUser, L"Tool", longLine}});
    }
    const auto bytes = ReadWholeFile(HistoryFile(), 4 * kHistoryLimit);
    ASSERT_TRUE(bytes);
    EXPECT_LE(bytes->size(), kHistoryLimit);
    EXPECT_GT(bytes->size(), kHistoryLimit - 2 * (longLine.size() + 40)) << "no more goes than must";
    const std::vector<HistoryLine> history = ReadHistory();
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(history.front().time, 99u) << "the newest first";
    EXPECT_EQ(history.back().time, 100u - history.size()) << "only the oldest went";
    EXPECT_EQ(history.front().start, longLine);
}

// A file at the history's place that is not a history the program wrote (or not one it can read whole) is never
// written over; a line of a history that this version cannot read stays in the file as it was.
TEST_F(HistoryTest, AFileThatIsNotAHistoryIsLeftAsItIsAndAnUnknownLineStays) {
    WriteFileBytes(HistoryFile(), "someone else's notes\r\n");
    RecordHistory({{5, HistoryChange::Added, HistoryActor::Outside, kUser, L"Tool", L"c:\\tool.exe"}});
    EXPECT_EQ(ReadFileBytes(HistoryFile()), "someone else's notes\r\n");
    EXPECT_THAT(ReadHistory(), IsEmpty());

    const std::wstring text = L"Bootwarden history 1\n7\tarrived-later\toutside\t2\tNew\tc:\\new.exe\n";
    std::string bytes(text.size() * sizeof(wchar_t), '\0');
    std::memcpy(bytes.data(), text.data(), bytes.size());
    WriteFileBytes(HistoryFile(), bytes);
    RecordHistory({{8, HistoryChange::Removed, HistoryActor::Outside, kUser, L"Tool", L"c:\\tool.exe"}});
    EXPECT_THAT(Kept(), ElementsAre(L"removed outside 2 Tool | c:\\tool.exe"));
    const std::string after = ReadFileBytes(HistoryFile());
    EXPECT_EQ(after.compare(0, bytes.size(), bytes), 0) << "the line it cannot read stays";
}

// An edit of a store link that a refresh writes into Windows is the front end's change, kept once by it; an entry
// changed on both sides keeps the other program's line when it is found and the person's when it is settled.
TEST_F(HistoryTest, EditsWrittenBackAndSettledConflictsAreKeptOnceByWhoMadeThem) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe --old");
    m_registry.SetRunValue(Location::User, L"Both", L"c:\\both.exe --old");
    m_registry.SetRunValue(Location::User, L"Theirs", L"c:\\theirs.exe --old");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe");
    TStoreDoor cli(HistoryActor::Cli);
    cli.Open();
    Refresh(cli);

    EditShortcut(StorePath(kUser, L"Tool"), [](TShellLink& link) { link.SetDescription(L"c:\\tool.exe --edited"); });
    EditShortcut(StorePath(kStartUp, L"Notes"), [](TShellLink& link) { link.SetPath(L"c:\\notes2.exe"); });
    for (const wchar_t* name : {L"Both", L"Theirs"}) {
        EditShortcut(StorePath(kUser, name), [](TShellLink& link) { link.SetDescription(L"c:\\mine.exe"); });
        m_registry.SetRunValue(Location::User, name, L"c:\\other.exe");
    }
    Refresh(cli);
    Refresh(cli);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe --edited");
    EXPECT_THAT(Kept(), ::testing::UnorderedElementsAre(
                            L"changed bwcli 2 Tool | c:\\tool.exe --edited", L"changed bwcli 3 Notes | c:\\notes2.exe",
                            L"changed outside 2 Both | c:\\other.exe", L"changed outside 2 Theirs | c:\\other.exe"));

    cli.Work([&](TStoreDoor::TWork& work) {
        for (const BothChanged& entry : work.Session().TakeBothChanged()) {
            work.Session().Settle(entry, entry.name == L"Both");
        }
        work.Refresh(true);
        work.Refresh(true);
    });
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Both")->text, L"c:\\mine.exe");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Theirs")->text, L"c:\\other.exe");
    const std::vector<std::wstring> kept = Kept();
    ASSERT_EQ(kept.size(), 5u) << "the outcome of a settled entry is not taken for another change";
    EXPECT_EQ(kept.front(), L"changed bwcli 2 Both | c:\\mine.exe");
}

// Settled with the edit, an entry whose type another program changed too gets the edit whole: its line with the type
// of the value it was made on, so that a reference in it still expands.
TEST_F(HistoryTest, AnEditChosenOverAnotherProgramsChangeKeepsTheTypeItWasMadeOn) {
    m_registry.SetRunValue(Location::User, L"Both", L"%SystemRoot%\\both.exe --old", REG_EXPAND_SZ);
    TStoreDoor cli(HistoryActor::Cli);
    cli.Open();
    Refresh(cli);
    EditShortcut(StorePath(kUser, L"Both"),
                 [](TShellLink& link) { link.SetDescription(L"%SystemRoot%\\mine.exe --edited"); });
    m_registry.SetRunValue(Location::User, L"Both", L"c:\\other.exe", REG_SZ);
    Refresh(cli);
    cli.Work([&](TStoreDoor::TWork& work) {
        const std::vector<BothChanged> both = work.Session().TakeBothChanged();
        ASSERT_EQ(both.size(), 1u);
        work.Session().Settle(both.front(), true);
    });
    const auto value = m_registry.RunValue(Location::User, L"Both");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->text, L"%SystemRoot%\\mine.exe --edited");
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_EXPAND_SZ));
}

} // namespace bw::test
