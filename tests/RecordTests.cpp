#include "TestEnvironment.h"

#include "platform/ShellLink.h"
#include "resources/Texts.h"
#include "store/Import.h"
#include "store/LinkRecords.h"
#include "store/StoreDoor.h"
#include "store/StoreLinkCodec.h"

namespace bw::test {

namespace {

struct Killed {};

constexpr const wchar_t* kWorked = L"(no error)";

std::string Text(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

// The records as another process would read them from the store's file: the process's own are read afresh.
std::optional<StoredRecord> SavedRecord(const std::wstring& path) {
    StoreRecords().Open();
    return StoreRecords().Find(path);
}

class RecordTest : public StoreTest {
protected:
    RecordTest() {
        WriteFileBytes(m_root / L"tool.exe", "MZ");
        m_tool = m_root / L"tool.exe";
    }

    void Refresh() {
        m_door.Work([](TStoreDoor::TWork& work) { return work.Refresh(true); });
    }
    std::optional<Entry> Find(int code, const std::wstring& name) {
        for (const Entry& entry : m_door.Entries()) {
            if (entry.code == code && entry.name == name) {
                return entry;
            }
        }
        return std::nullopt;
    }
    // Refreshes, then switches the entry on or off as the window does; the error text, or "" when it worked.
    std::wstring Toggle(int code, const std::wstring& name) {
        Refresh();
        const auto entry = Find(code, name);
        if (!entry) {
            return L"(no entry)";
        }
        return MessageOf<EBootwarden>([&] {
            m_door.Work([&](TStoreDoor::TWork& work) {
                IsEnabledCode(code) ? work.Disable(*entry) : work.Enable(*entry, nullptr);
                return 0;
            });
        });
    }
    void SetDword(const std::wstring& name) {
        m_registry.SetValue(ScratchRegistry::Root(Location::User), kRunKeyPath, name, REG_DWORD, nullptr, 0);
    }
    // Writes a switched-off entry's link as the last release did: the record only in the link's block.
    void WriteAsLastRelease(const std::wstring& name, DWORD type, const std::wstring& text) {
        TShellLink maker;
        WriteFileBytes(StorePath(kUserOff, name), RegistryStoreLinkBytes(maker, {name, type, Text(text)}));
    }

    std::wstring m_tool;
    TStoreDoor m_door;
};

} // namespace

// A store of the last release keeps its records only in its links' blocks, and links of the release before with
// none. It opens without a question, each link gets its record once, and every entry it keeps switched off comes
// back as it was: its type, its encoded name, its command line.
TEST_F(RecordTest, AStoreOfTheLastReleaseOpensAndEveryKeptEntrySwitchesOn) {
    WriteAsLastRelease(L"Plain", REG_SZ, m_tool + L" -a");
    WriteAsLastRelease(L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\system32\\tool.exe -x");
    WriteAsLastRelease(L"Dword", REG_DWORD, L"");
    WriteAsLastRelease(L"Slash/Name", REG_SZ, L"c:\\slash.exe");
    WriteShortcut(StorePath(kUserOff, L"Older"), L"c:\\older.exe", L"c:\\older.exe /o"); // no record at all
    WriteShortcut(StorePath(kStartUpOff, L"Notes"), L"c:\\windows\\notepad.exe", L"notes");
    ASSERT_FALSE(PathExists(StoreRecordFile()));

    m_door.Open();
    for (const wchar_t* name : {L"Plain", L"Expand", L"Dword", L"Slash/Name", L"Older"}) {
        EXPECT_EQ(Toggle(kUserOff, name), kWorked) << name;
    }
    EXPECT_EQ(Toggle(kStartUpOff, L"Notes"), kWorked);
    EXPECT_TRUE(PathExists(StoreRecordFile()));
    const auto value = [&](const wchar_t* name) { return m_registry.RunValue(Location::User, name); };
    ASSERT_TRUE(value(L"Plain") && value(L"Expand") && value(L"Dword") && value(L"Slash/Name") && value(L"Older"));
    EXPECT_EQ(value(L"Plain")->text, m_tool + L" -a");
    EXPECT_EQ(value(L"Expand")->type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(value(L"Expand")->text, L"%SystemRoot%\\system32\\tool.exe -x");
    EXPECT_EQ(value(L"Dword")->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value(L"Slash/Name")->text, L"c:\\slash.exe");
    EXPECT_EQ(value(L"Older")->text, L"c:\\older.exe /o");
    EXPECT_TRUE(FileExists(StartupPath(L"Notes.lnk")));
    EXPECT_THAT(StoreNames(kUserOff), ::testing::IsEmpty());
}

// A store link edited through its property sheet and saved by the shell's link object, which drops the block it
// does not know: the store's own record still tells what the link stands for and which field changed. For each
// kind of entry the edit is carried, or refused where it cannot be, and never written with another type.
TEST_F(RecordTest, AShellSavedEditOfAnEnabledLinkIsCarriedWithItsType) {
    ::SetEnvironmentVariableW(L"BW_RECORD_TEST", m_root.Path().c_str());
    m_registry.SetRunValue(Location::User, L"Sz", m_tool + L" -a");
    m_registry.SetRunValue(Location::User, L"Exp", L"%BW_RECORD_TEST%\\tool.exe -a", REG_EXPAND_SZ);
    m_registry.SetRunValue(Location::User, L"Long", L"c:\\long.exe " + std::wstring(3000, L'x'));
    m_registry.SetRunValue(Location::User, L"Slash/Name", m_tool + L" -a");
    SetDword(L"Dw");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
    m_door.Open();
    Refresh();

    EditShortcut(StorePath(kUser, L"Sz"), [](TShellLink& link) { link.SetArguments(L"-new"); });
    EditShortcut(StorePath(kUser, L"Exp"), [](TShellLink& link) { link.SetArguments(L"-b"); });
    EditShortcut(StorePath(kUser, L"Long"), [](TShellLink& link) { link.SetDescription(L"c:\\short.exe"); });
    EditShortcut(StorePath(kUser, L"Slash/Name"), [](TShellLink& link) { link.SetArguments(L"-c"); });
    EditShortcut(StorePath(kUser, L"Dw"), [&](TShellLink& link) { link.SetPath(m_tool); });
    EditShortcut(StorePath(kStartUp, L"Notes"), [](TShellLink& link) { link.SetArguments(L"todo.txt"); });
    ASSERT_FALSE(DataBlockOf(ReadFileBytes(StorePath(kUser, L"Sz")), kRecordBlockSignature).has_value())
        << "the shell's save keeps the block here: this test would not show what it is for";
    Refresh();
    ::SetEnvironmentVariableW(L"BW_RECORD_TEST", nullptr);

    EXPECT_EQ(m_registry.RunValue(Location::User, L"Sz")->text, m_tool + L" -new");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Exp")->text, L"%BW_RECORD_TEST%\\tool.exe -b");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Exp")->type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Long")->text, L"c:\\long.exe " + std::wstring(3000, L'x'));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Slash/Name")->text, m_tool + L" -c");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Dw")->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Dw")->text, L"");
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).path, L"c:\\windows\\notepad.exe");
    TShellLink notes;
    ASSERT_TRUE(notes.Load(StartupPath(L"Notes.lnk")));
    EXPECT_EQ(notes.Arguments(), L"todo.txt");
    std::vector<std::wstring> notCarried;
    for (const EditNotCarried& edit : m_door.Session().TakeEditsNotCarried()) {
        notCarried.push_back(edit.name);
    }
    EXPECT_THAT(notCarried, ::testing::UnorderedElementsAre(L"Long", L"Dw"));
}

// The same for entries kept switched off: switched on after a shell's save, each comes back with its type and the
// edit; one of another type than text comes back with the data it had (no command line made of its fields), and
// one merely saved again comes back as it was.
TEST_F(RecordTest, AShellSavedSwitchedOffLinkIsSwitchedOnWithItsType) {
    ::SetEnvironmentVariableW(L"BW_RECORD_TEST", m_root.Path().c_str());
    m_registry.SetRunValue(Location::User, L"Sz", m_tool + L" -a");
    m_registry.SetRunValue(Location::User, L"Exp", L"%BW_RECORD_TEST%\\tool.exe -a", REG_EXPAND_SZ);
    m_registry.SetRunValue(Location::User, L"Slash/Name", m_tool + L" -a");
    SetDword(L"Dw");
    SetDword(L"Saved");
    m_door.Open();
    for (const wchar_t* name : {L"Sz", L"Exp", L"Slash/Name", L"Dw", L"Saved"}) {
        ASSERT_EQ(Toggle(kUser, name), kWorked) << name;
    }
    EditShortcut(StorePath(kUserOff, L"Sz"), [](TShellLink& link) { link.SetArguments(L"-new"); });
    EditShortcut(StorePath(kUserOff, L"Exp"), [](TShellLink& link) { link.SetArguments(L"-b"); });
    EditShortcut(StorePath(kUserOff, L"Slash/Name"), [](TShellLink& link) { link.SetArguments(L"-c"); });
    EditShortcut(StorePath(kUserOff, L"Dw"), [&](TShellLink& link) { link.SetPath(m_tool); });
    EditShortcut(StorePath(kUserOff, L"Saved"), [](TShellLink&) {});

    for (const wchar_t* name : {L"Sz", L"Exp", L"Slash/Name", L"Saved", L"Dw"}) {
        EXPECT_EQ(Toggle(kUserOff, name), kWorked) << name;
    }
    ::SetEnvironmentVariableW(L"BW_RECORD_TEST", nullptr);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Sz")->text, m_tool + L" -new");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Exp")->text, L"%BW_RECORD_TEST%\\tool.exe -b");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Exp")->type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Slash/Name")->text, m_tool + L" -c");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Saved")->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Dw")->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Dw")->text, L"");
    EXPECT_THAT(StoreNames(kUserOff), ::testing::IsEmpty());
}

// A link that the store's records do not name, or one the program wrote under another name, is never guessed
// from: it is not switched on, not deleted, not written over by the import nor removed from an enabled folder,
// and its row says why.
TEST_F(RecordTest, AnUnknownOrRenamedLinkIsLeftAsItIs) {
    m_registry.SetRunValue(Location::User, L"Tool", m_tool + L" -a");
    m_door.Open();
    ASSERT_EQ(Toggle(kUser, L"Tool"), kWorked);
    m_registry.SetRunValue(Location::User, L"Taken", L"c:\\taken.exe"); // its link is not the store's
    ASSERT_TRUE(::MoveFileW(StorePath(kUserOff, L"Tool").c_str(), StorePath(kUserOff, L"Renamed").c_str()));
    WriteShortcut(StorePath(kUserOff, L"Stranger"), L"c:\\stranger.exe", L"c:\\stranger.exe");
    WriteShortcut(StorePath(kUser, L"Stray"), L"c:\\stray.exe", L"c:\\stray.exe");
    WriteShortcut(StorePath(kUser, L"Taken"), L"c:\\other.exe", L"c:\\other.exe");
    const std::string taken = ReadFileBytes(StorePath(kUser, L"Taken"));
    Refresh();

    ASSERT_TRUE(Find(kUserOff, L"Stranger") && Find(kUserOff, L"Renamed") && Find(kUser, L"Taken"));
    EXPECT_EQ(Find(kUserOff, L"Stranger")->problem, EntryProblem::StoreLinkUnknown);
    EXPECT_EQ(Find(kUserOff, L"Renamed")->problem, EntryProblem::StoreLinkRenamed);
    EXPECT_EQ(Find(kUser, L"Taken")->problem, EntryProblem::StoreLinkUnknown);
    const std::wstring stranger = Toggle(kUserOff, L"Stranger");
    EXPECT_NE(stranger.find(L"Stranger.lnk"), std::wstring::npos) << stranger;
    EXPECT_NE(stranger.find(text::kLinkUnknown), std::wstring::npos) << stranger;
    const std::wstring renamed = Toggle(kUserOff, L"Renamed");
    EXPECT_NE(renamed.find(StorePath(kUserOff, L"Tool")), std::wstring::npos) << "names where it was written";
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Renamed").has_value());
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Stranger").has_value());
    const auto entry = Find(kUserOff, L"Stranger");
    EXPECT_THROW(m_door.Work([&](TStoreDoor::TWork& work) {
        work.Delete(*entry);
        return 0;
    }),
                 EEntryRefused);
    EXPECT_THAT(StoreNames(kUserOff), ::testing::UnorderedElementsAre(L"Renamed.lnk", L"Stranger.lnk"));
    EXPECT_TRUE(FileExists(StorePath(kUser, L"Stray"))) << "an enabled folder's link of no record stays";
    EXPECT_EQ(ReadFileBytes(StorePath(kUser, L"Taken")), taken) << "never written over";
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Taken")->text, L"c:\\taken.exe");
}

// The file of records forgets a link that is gone, and what one process saved another takes in.
TEST_F(RecordTest, ARecordGoesWithItsLink) {
    m_registry.SetRunValue(Location::User, L"Tool", m_tool + L" -a");
    m_registry.SetRunValue(Location::User, L"Gone", L"c:\\gone.exe");
    m_door.Open();
    ASSERT_EQ(Toggle(kUser, L"Gone"), kWorked);
    ASSERT_TRUE(SavedRecord(StorePath(kUserOff, L"Gone")).has_value());
    ASSERT_TRUE(SavedRecord(StorePath(kUser, L"Tool")).has_value());

    ASSERT_TRUE(::DeleteFileW(StorePath(kUserOff, L"Gone").c_str()));
    m_registry.RemoveRunValue(Location::User, L"Tool");
    Refresh();
    EXPECT_FALSE(SavedRecord(StorePath(kUserOff, L"Gone")).has_value());
    EXPECT_FALSE(SavedRecord(StorePath(kUser, L"Tool")).has_value());
}

// Killed after it wrote a store link and before it saved the link's record, the program finds at its next start
// a link its records name (as the one it was about to write), never an unknown one.
TEST_F(RecordTest, AKillAfterALinkIsWrittenLeavesNoUnknownLink) {
    m_registry.SetRunValue(Location::User, L"Tool", m_tool + L" -a");
    m_registry.SetRunValue(Location::User, L"Next", L"c:\\next.exe");
    m_door.Open();
    Refresh();
    m_registry.SetRunValue(Location::User, L"Tool", m_tool + L" -b");
    m_registry.SetRunValue(Location::User, L"New", L"c:\\new.exe"); // a link at a path no record named before
    {
        int reached = 0;
        const auto kill = seam::ImportPoint.Replace([&](const wchar_t* at) {
            if (std::wstring(at) == kLinkWritten && ++reached == 2) {
                throw Killed{};
            }
        });
        TStoreSession start;
        EXPECT_THROW(start.Refresh(false, nullptr), Killed);
    }
    StoreRecords().Open(); // what the killed process held in memory is gone

    TStoreDoor next;
    next.Open();
    next.Work([](TStoreDoor::TWork& work) { return work.Refresh(true); });
    for (const Entry& entry : next.Entries()) {
        EXPECT_EQ(entry.problem, EntryProblem::None) << entry.name;
    }
    EXPECT_EQ(Toggle(kUser, L"Tool"), kWorked);
    EXPECT_EQ(Toggle(kUserOff, L"Tool"), kWorked);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, m_tool + L" -b");
    EXPECT_EQ(Toggle(kUser, L"New"), kWorked);
}

} // namespace bw::test
