#include "TestEnvironment.h"

#include "platform/PackedHeap.h"
#include "platform/ShellLink.h"
#include "store/Import.h"
#include "store/Mirror.h"
#include "store/StoreDoor.h"

#include <algorithm>

namespace bw::test {

namespace {

using ::testing::IsEmpty;

// Stands for a kill: nothing of the run after the point is done, and nothing is saved on the way out.
struct Killed {};

// A start of the program whose import is ended at the `count`th time it reaches `point`.
void StartKilledAt(const wchar_t* point, int count) {
    int reached = 0;
    const auto kill = seam::ImportPoint.Replace([&](const wchar_t* at) {
        if (std::wstring(at) == point && ++reached == count) {
            throw Killed{};
        }
    });
    ASSERT_TRUE(PrepareStore().kind == StoreStart::Usable);
    TStoreSession start;
    EXPECT_THROW(start.Refresh(false, nullptr), Killed);
}

class StoreDoorTest : public StoreTest {
protected:
    static void Refresh(TStoreDoor& door) {
        door.Work([](TStoreDoor::TWork& work) { return work.Refresh(true); });
    }

    static const MirrorBase* SavedBase(TMirror& saved, const std::wstring& storeLinkPath) {
        saved.Load();
        return saved.Find(storeLinkPath);
    }
};

} // namespace

// An entry that went from both sides while no program ran (its value and its store link) leaves no base behind:
// the file of bases never holds more than the store and the system do.
TEST_F(StoreDoorTest, ABaseWhoseEntryIsGoneFromBothSidesIsDropped) {
    m_registry.SetRunValue(Location::User, L"Gone", L"c:\\gone.exe");
    m_registry.SetRunValue(Location::User, L"Stays", L"c:\\stays.exe");
    WriteShortcut(StartupPath(L"Went.lnk"), L"c:\\went.exe", L"went");
    {
        TStoreDoor door;
        door.Open();
        Refresh(door);
    }
    TMirror saved;
    ASSERT_NE(SavedBase(saved, StorePath(kUser, L"Gone")), nullptr);
    ASSERT_NE(SavedBase(saved, StorePath(kStartUp, L"Went")), nullptr);

    m_registry.RemoveRunValue(Location::User, L"Gone");
    ::DeleteFileW(StorePath(kUser, L"Gone").c_str());
    ::DeleteFileW(StartupPath(L"Went.lnk").c_str());
    ::DeleteFileW(StorePath(kStartUp, L"Went").c_str());
    TStoreDoor door;
    door.Open();
    Refresh(door);
    EXPECT_EQ(SavedBase(saved, StorePath(kUser, L"Gone")), nullptr);
    EXPECT_EQ(SavedBase(saved, StorePath(kStartUp, L"Went")), nullptr);
    EXPECT_NE(SavedBase(saved, StorePath(kUser, L"Stays")), nullptr);
}

// A unit of work of one process takes in what another saved since (here a second door on the same store, as a
// second program has one); the first one's edit of a store link that neither has written back is still carried.
TEST_F(StoreDoorTest, AnotherProcesssWorkIsTakenInAndAPendingEditKept) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe --old");
    TStoreDoor window;
    window.Open();
    Refresh(window);
    EditShortcut(StorePath(kUser, L"Tool"), [](TShellLink& link) { link.SetDescription(L"c:\\tool.exe --new"); });

    m_registry.SetRunValue(Location::User, L"Added", L"c:\\added.exe");
    {
        TStoreDoor other;
        other.Open();
        other.Work([](TStoreDoor::TWork& work) { return work.Refresh(false); });
    }
    Refresh(window);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe --new");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Added")->text, L"c:\\added.exe");
    TMirror saved;
    EXPECT_NE(SavedBase(saved, StorePath(kUser, L"Added")), nullptr) << "the other's base stays in the file";
}

// A door whose session and records were packed (as the watcher packs them after each unit of work) works on from
// the copies as from what it read: the same entries, an edit of a store link still told from an outside change and
// carried, another program's change imported.
TEST_F(StoreDoorTest, APackedDoorWorksOnAsBefore) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe --old");
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\other.exe");
    WriteShortcut(StartupPath(L"Shortcut.lnk"), L"c:\\shortcut.exe", L"shortcut");
    TStoreDoor door;
    door.Open();
    Refresh(door);
    const std::vector<Entry> before = door.Entries();
    TPackedHeap::Repack([&] { door.Repack(); });
    EXPECT_EQ(door.Entries(), before);
    EXPECT_GT(TPackedHeap::Held().live, 0u);

    EditShortcut(StorePath(kUser, L"Tool"), [](TShellLink& link) { link.SetDescription(L"c:\\tool.exe --new"); });
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\other.exe --changed");
    Refresh(door);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe --new");
    const auto other = std::find_if(door.Entries().begin(), door.Entries().end(),
                                    [](const Entry& entry) { return entry.name == L"Other"; });
    ASSERT_NE(other, door.Entries().end());
    EXPECT_EQ(other->description, L"c:\\other.exe --changed");
    TPackedHeap::Repack([&] { door.Repack(); });
    EXPECT_EQ(door.Entries().size(), 3u);
}

// What a door keeps from one unit of work to the next lies apart from the work once packed (as the watcher packs
// after each): the block the work filled is given back whole, with nothing of it held by the door, such as the link
// objects of its refresh, which the next refresh makes anew and imports with.
TEST_F(StoreDoorTest, APackedDoorHoldsNothingOfItsWork) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    WriteShortcut(StartupPath(L"Shortcut.lnk"), L"c:\\shortcut.exe", L"shortcut");
    {
        TStoreDoor before; // this store's records in place of those an earlier test packed
        before.Open();
        Refresh(before);
    }
    TPackedHeap::Repack([] {}); // gives back what is free of those
    const size_t held = TPackedHeap::Held().blocks;
    TStoreDoor door;
    door.Open();
    for (const wchar_t* added : {L"First", L"Second"}) {
        m_registry.SetRunValue(Location::User, added, L"c:\\added.exe");
        TPackedHeap::Work([&] { Refresh(door); });
        door.LetGoOfEntries();
        TPackedHeap::Repack([&] { door.Repack(); });
        EXPECT_EQ(TPackedHeap::Held().blocks, held + 1) << "the packing's block alone, after adding " << added;
        EXPECT_TRUE(FileExists(StorePath(kUser, added))) << "mirrored by a refresh after the packing";
    }
}

// Bases packed between units of work (as the watcher's are) are given back as they were, each by its link's path:
// a registry entry's value (under its link's name or another), a shortcut's stamp and digest, the mark of a write
// under way; and the file they are saved to is the same as without the packing.
TEST_F(StoreDoorTest, PackedBasesAreGivenBackAsTheyWere) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    WriteShortcut(StartupPath(L"Shortcut.lnk"), L"c:\\shortcut.exe", L"shortcut");
    {
        TStoreDoor door;
        door.Open();
        Refresh(door);
    }
    TMirror packed;
    TMirror unpacked;
    packed.Load();
    unpacked.Load();
    ASSERT_NE(packed.Find(StorePath(kUser, L"Tool")), nullptr);
    ASSERT_NE(packed.Find(StorePath(kStartUp, L"Shortcut")), nullptr);
    MirrorBase renamed = *packed.Find(StorePath(kUser, L"Tool"));
    renamed.value->name = L"a/b";
    renamed.value->type = REG_EXPAND_SZ;
    renamed.overwriting = 42;
    MirrorBase written = *packed.Find(StorePath(kStartUp, L"Shortcut"));
    written.overwriting = 0;
    for (TMirror* mirror : {&packed, &unpacked}) {
        mirror->Set(StorePath(kUser, L"a%2Fb"), renamed);
        mirror->Set(StorePath(kStartUp, L"Written"), written);
    }
    for (int packing = 0; packing < 2; ++packing) {
        TPackedHeap::Repack([&] { packed.Repack(); });
    }
    for (const wchar_t* name : {L"Tool", L"a%2Fb"}) {
        ASSERT_NE(packed.Find(StorePath(kUser, name)), nullptr) << name;
        EXPECT_EQ(*packed.Find(StorePath(kUser, name)), *unpacked.Find(StorePath(kUser, name))) << name;
    }
    for (const wchar_t* name : {L"Shortcut", L"Written"}) {
        ASSERT_NE(packed.Find(StorePath(kStartUp, name)), nullptr) << name;
        EXPECT_EQ(*packed.Find(StorePath(kStartUp, name)), *unpacked.Find(StorePath(kStartUp, name))) << name;
    }

    TPackedHeap::Repack([&] { packed.Repack(); });
    ASSERT_TRUE(unpacked.Save());
    const std::string saved = ReadFileBytes(StoreBaseFile());
    ::DeleteFileW(StoreBaseFile().c_str());
    ASSERT_TRUE(packed.Save());
    EXPECT_EQ(ReadFileBytes(StoreBaseFile()), saved);
}

// A door that let go of its entries (as the watcher does between its cycles) lists them again at its next refresh,
// though nothing changed since the last.
TEST_F(StoreDoorTest, EntriesLetGoOfAreListedAgainByTheNextRefresh) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    TStoreDoor door;
    door.Open();
    Refresh(door);
    const std::vector<Entry> before = door.Entries();
    ASSERT_EQ(before.size(), 1u);
    door.LetGoOfEntries();
    EXPECT_THAT(door.Entries(), IsEmpty());
    Refresh(door);
    EXPECT_EQ(door.Entries(), before);
}

// Opening the store refuses a folder below the temporary folder before anything is made, and tells a folder
// that cannot be written.
TEST_F(StoreDoorTest, OpeningMakesTheStartChecks) {
    const std::wstring temporary = m_root / L"Temp\\Bootwarden\\";
    ::CreateDirectoryW((m_root / L"Temp").c_str(), nullptr);
    ::CreateDirectoryW(temporary.c_str(), nullptr);
    SetProgramDir(temporary);
    TStoreDoor door;
    EXPECT_THROW(door.Open(), EStoreNotHere);
    EXPECT_THROW(door.BeginWork(), EStoreNotHere) << "no work on a store that cannot be opened";
    EXPECT_THAT(NamesIn(temporary), IsEmpty());

    SetProgramDir(m_programDir);
    const std::wstring programDir = m_programDir;
    const auto refuses = seam::FolderAcceptsWrites.Replace([programDir](const std::wstring& folder) {
        return !IsInFolder(FullPath(folder), programDir) && seam::FolderAcceptsWrites.Real(folder);
    });
    door.Open();
    EXPECT_TRUE(door.ReadOnly());
}

// Killed while its import wrote a new store link for an outside change (before it saved its bases), the program
// finds at its next start a link that its bases describe: a later outside change is imported, not taken for a
// conflict with an edit that nobody made (which would offer to put the older command line back).
TEST_F(StoreDoorTest, AKillDuringTheImportLeavesBasesThatDescribeTheLinks) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe /v1");
    m_registry.SetRunValue(Location::User, L"Next", L"c:\\next.exe /v1");
    {
        TStoreDoor door;
        door.Open();
        Refresh(door);
    }
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe /v2");
    m_registry.SetRunValue(Location::User, L"Next", L"c:\\next.exe /v2");
    StartKilledAt(kLinkWritten, 1); // one of the two links written anew, the other not yet
    m_registry.SetRunValue(Location::User, L"Next", L"c:\\next.exe /v3");

    TStoreSession next;
    next.Refresh(true, nullptr);
    EXPECT_THAT(next.TakeBothChanged(), IsEmpty());
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Next")->text, L"c:\\next.exe /v3");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe /v2");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Next")).description, L"c:\\next.exe /v3");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Tool")).description, L"c:\\tool.exe /v2");
}

// Killed after its bases said what the import would write but before any link was written: the old link is no
// edit, and its older command line is never written over the outside change.
TEST_F(StoreDoorTest, AKillBeforeTheFirstWriteNeverPutsTheOlderLineBack) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe /v1");
    {
        TStoreDoor door;
        door.Open();
        Refresh(door);
    }
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe /v2");
    StartKilledAt(kIntentsSaved, 1);

    TStoreSession next;
    next.Refresh(true, nullptr);
    EXPECT_THAT(next.TakeBothChanged(), IsEmpty());
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe /v2");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Tool")).description, L"c:\\tool.exe /v2");
}

// A Startup shortcut changed again between the moment its intent was saved and the write of its store link, then
// the run killed right after that write: the link holds the very bytes its saved base describes, so it is no edit
// in the store, and a later change of the shortcut is imported, not offered as a conflict.
TEST_F(StoreDoorTest, AShortcutChangedDuringTheImportLeavesALinkItsBaseDescribes) {
    WriteShortcut(StartupPath(L"Tool.lnk"), L"c:\\tool\\v1.exe", L"tool");
    {
        TStoreDoor door;
        door.Open();
        Refresh(door);
    }
    WriteShortcut(StartupPath(L"Tool.lnk"), L"c:\\tool\\v2.exe", L"tool");
    {
        const auto kill = seam::ImportPoint.Replace([&](const wchar_t* at) {
            if (std::wstring(at) == kIntentsSaved) {
                WriteShortcut(StartupPath(L"Tool.lnk"), L"c:\\tool\\v3.exe", L"tool");
            } else if (std::wstring(at) == kLinkWritten) {
                throw Killed{};
            }
        });
        TStoreSession start;
        EXPECT_THROW(start.Refresh(false, nullptr), Killed);
    }
    WriteShortcut(StartupPath(L"Tool.lnk"), L"c:\\tool\\v4.exe", L"tool");

    TStoreSession next;
    next.Refresh(true, nullptr);
    EXPECT_THAT(next.TakeBothChanged(), IsEmpty());
    EXPECT_EQ(ReadShortcut(StartupPath(L"Tool.lnk")).path, L"c:\\tool\\v4.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kStartUp, L"Tool")).path, L"c:\\tool\\v4.exe");
}

// The import writes its store links without waiting for them to reach the disk: each mirrors what Windows still
// holds. A power cut can then leave a link's name with less than its bytes: none (a file system that orders names
// before data), zeros (one that keeps the size but not the data), or a part. Such a link is mirrored again at the
// next start, whether the import had saved its bases or was cut off before; no entry is lost, none is taken for an
// edit, and nothing of the link is written into the system.
class StoreLinkLostTest : public StoreDoorTest {
protected:
    StoreLinkLostTest() {
        m_registry.SetRunValue(Location::Local, L"Agent", L"\"c:\\program files\\agent.exe\" /background");
        m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe -minimized");
        WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"my notes");
        m_shortcut = ReadFileBytes(StartupPath(L"Notes.lnk"));
    }

    // What the disk kept of each link the import wrote.
    void LoseTheLinksBytes() {
        WriteFileBytes(StorePath(kUser, L"Tool"), "");
        const std::string agent = ReadFileBytes(StorePath(kLocal, L"Agent"));
        WriteFileBytes(StorePath(kLocal, L"Agent"), std::string(agent.size(), '\0'));
        const std::string notes = ReadFileBytes(StorePath(kStartUp, L"Notes"));
        WriteFileBytes(StorePath(kStartUp, L"Notes"), notes.substr(0, notes.size() / 2));
    }

    void ExpectMirroredAgain(size_t entries = 3) {
        StoreRecords().Open(); // what the process that wrote held in memory is gone
        TStoreDoor next;
        next.Open();
        Refresh(next);
        EXPECT_THAT(next.Session().TakeBothChanged(), IsEmpty());
        ASSERT_EQ(next.Entries().size(), entries);
        for (const Entry& entry : next.Entries()) {
            EXPECT_TRUE(IsEnabledCode(entry.code)) << entry.name;
            EXPECT_EQ(entry.problem, EntryProblem::None) << entry.name;
            EXPECT_TRUE(entry.readWhole) << entry.name << " is mirrored";
        }
        EXPECT_EQ(ReadShortcut(StorePath(kLocal, L"Agent")).description,
                  L"\"c:\\program files\\agent.exe\" /background");
        EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Tool")).description, L"c:\\tool.exe -minimized");
        EXPECT_EQ(ReadFileBytes(StorePath(kStartUp, L"Notes")), m_shortcut);
        // The system as it was.
        EXPECT_EQ(m_registry.RunValue(Location::Local, L"Agent")->text,
                  L"\"c:\\program files\\agent.exe\" /background");
        EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe -minimized");
        EXPECT_EQ(ReadFileBytes(StartupPath(L"Notes.lnk")), m_shortcut);
    }

    std::string m_shortcut;
};

TEST_F(StoreLinkLostTest, AfterTheImportSavedItsBases) {
    {
        TStoreDoor door;
        door.Open();
        Refresh(door);
        // A later import, for another entry, finds the links as written: nothing tells that they reached the disk.
        m_registry.SetRunValue(Location::User, L"Later", L"c:\\later.exe");
        Refresh(door);
    }
    LoseTheLinksBytes();
    ExpectMirroredAgain(4);
}

// The shortcut written again with the same bytes between two imports (stamped long ago, so that the next start
// takes its stamp as proof that it did not change): the later import finds its store link holding them already and
// keeps it, and with it the mark of the earlier import's write.
TEST_F(StoreLinkLostTest, AfterALaterImportFoundTheShortcutWrittenAgainAsItWas) {
    {
        TStoreDoor door;
        door.Open();
        Refresh(door);
        WriteFileBytes(StartupPath(L"Notes.lnk"), m_shortcut);
        const UniqueFile file(::CreateFileW(StartupPath(L"Notes.lnk").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        const FILETIME past{0, 0x01D00000}; // 2015
        ASSERT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, &past));
        Refresh(door);
    }
    LoseTheLinksBytes();
    ExpectMirroredAgain();
}

TEST_F(StoreLinkLostTest, BeforeTheImportSavedItsBases) {
    StartKilledAt(kLinkWritten, 3); // every link written, nothing saved after
    LoseTheLinksBytes();
    ExpectMirroredAgain();
}

// An edit written back by a run that ended before it saved its bases: the store link and the value changed to the
// same line. That is no conflict to ask about; the link becomes a mirror of the value again.
TEST_F(StoreDoorTest, BothSidesChangedToTheSameLineIsNoConflict) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe /v1");
    TStoreDoor door;
    door.Open();
    Refresh(door);
    EditShortcut(StorePath(kUser, L"Tool"), [](TShellLink& link) { link.SetDescription(L"c:\\tool.exe /edited"); });
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe /edited");

    Refresh(door);
    EXPECT_THAT(door.Session().TakeBothChanged(), IsEmpty());
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe /edited");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe /v3");
    Refresh(door);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe /v3") << "a mirror again";
}

} // namespace bw::test

namespace bw::test {

// A store made before its data folder was keeps its own files beside the store folders. The first open moves each
// into the data folder whole (so that an installer that keeps only folders keeps them), and the store goes on with
// what they say: the edit pending at the move is still carried. A file whose new place holds other bytes already
// stays where it is, and the data folder's is the store's; one whose new place holds the same bytes goes.
TEST_F(StoreDoorTest, AStoresFilesBesideItsFoldersAreMovedIntoTheDataFolderOnce) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    {
        TStoreDoor door;
        door.Open();
        door.Work([](TStoreDoor::TWork& work) { work.Refresh(true); });
    }
    // As the program before the data folder left it: every file beside the store folders, none in Data.
    const std::wstring data = m_programDir + L"Data\\";
    std::map<std::wstring, std::string> before;
    for (const wchar_t* name : {L"StoreBase.dat", L"StoreRecords.dat", L"StoreOwner.dat"}) {
        before[name] = ReadFileBytes(data + name);
        ASSERT_TRUE(::MoveFileW((data + name).c_str(), (m_programDir + name).c_str()));
    }
    WriteFileBytes(m_programDir + L"Bootwarden.ini", "sort=2\r\n");
    WriteFileBytes(m_programDir + L"SeenEntries.dat", "old seen");
    WriteFileBytes(data + L"SeenEntries.dat", "newer seen"); // written by this version meanwhile
    EditShortcut(StoreFolderPath(kUser) + L"Tool.lnk",
                 [](TShellLink& link) { (void)link.SetDescription(L"c:\\tool.exe --edited"); });

    TStoreDoor door;
    door.Open();
    for (const auto& [name, bytes] : before) {
        EXPECT_FALSE(PathExists(m_programDir + name)) << "moved: " << name;
        EXPECT_EQ(ReadFileBytes(data + name), bytes) << "whole: " << name;
    }
    EXPECT_EQ(ReadFileBytes(data + L"Bootwarden.ini"), "sort=2\r\n");
    EXPECT_EQ(ReadFileBytes(m_programDir + L"SeenEntries.dat"), "old seen") << "not put over the newer one";
    EXPECT_EQ(ReadFileBytes(data + L"SeenEntries.dat"), "newer seen");
    EXPECT_FALSE(door.OtherOwner()) << "the owner recorded before the move";
    door.Work([](TStoreDoor::TWork& work) { work.Refresh(true); });
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe --edited")
        << "the bases moved with the store: the edit is told from an outside change and carried";

    // A move stopped after its copy: the old file is the same bytes, and goes at the next open.
    WriteFileBytes(m_programDir + L"SeenEntries.dat", "newer seen");
    TStoreDoor again;
    again.Open();
    EXPECT_FALSE(PathExists(m_programDir + L"SeenEntries.dat"));
    EXPECT_EQ(ReadFileBytes(data + L"SeenEntries.dat"), "newer seen");
}

} // namespace bw::test
