#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/FileCopy.h"
#include "platform/FileSystem.h"
#include "platform/UniqueHandle.h"
#include "store/EntryOperations.h"
#include "store/Import.h"

#include <utility>
#include <vector>

namespace bw::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

constexpr int kLocal = 1;
constexpr int kUser = 2;
constexpr int kStartUp = 3;
constexpr int kLocalOff = 4;
constexpr int kUserOff = 5;
constexpr int kStartUpOff = 6;

class RecordingProgress : public ProgressControl {
public:
    void SetMax(int value) override { max = value; }
    void SetMin(int) override {}
    void SetPosition(int) override {}
    int max = -1;
};

class EntryOperationsTest : public StoreTest {
protected:
    // StartupDir is program-wide and would still name the previous test's folder.
    EntryOperationsTest() { RecomputeStartupDir(); }

    // An entry as the list reads it back from its store link.
    EntryRef Row(int code, const std::wstring& name) const {
        return {name, code, ReadShortcut(StorePath(code, name)).description};
    }

    static void MakeReadOnly(const std::wstring& path) { ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY); }

    // Holds a file open so that others may read it but not write it. Unlike the read-only attribute, which
    // Wine keeps as Unix permissions that a process running as root passes through, this bars every writer.
    static UniqueFile HoldAgainstWriters(const std::wstring& path) {
        UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(file) << "cannot hold the file open";
        return file;
    }

    FILETIME RunKeyWriteTime(Location location) const {
        UniqueHkey key;
        FILETIME time{};
        if (::RegOpenKeyExW(ScratchRegistry::Root(location), kRunKeyPath, 0, KEY_READ, key.Put()) == ERROR_SUCCESS) {
            ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, &time);
        }
        return time;
    }
};

TEST_F(EntryOperationsTest, DisableAndEnableCarryEachLocationBetweenSystemAndStore) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"\"c:\\agent.exe\" /quiet");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\other.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"notes");
    ImportSystemEntries();

    for (const auto& [code, name] : {std::pair{kLocal, L"Agent"}, {kUser, L"Tool"}, {kStartUp, L"Notes"}}) {
        EXPECT_TRUE(DisableEntry(Row(code, name))) << code;
        EXPECT_FALSE(PathExists(StorePath(code, name))) << code;
        EXPECT_TRUE(PathExists(StorePath(code + 3, name))) << code;
    }
    EXPECT_FALSE(m_registry.RunValue(Location::Local, L"Agent"));
    EXPECT_THAT(m_registry.RunValueNames(Location::User), ElementsAre(L"Other"));
    EXPECT_FALSE(PathExists(StartupPath(L"Notes.lnk")));
    ImportSystemEntries();
    EXPECT_THAT(StoreNames(kUser), ElementsAre(L"Other.lnk"));
    EXPECT_EQ(ReadShortcut(StorePath(kLocalOff, L"Agent")).description, L"\"c:\\agent.exe\" /quiet");

    // A toggle that does not fit the code changes nothing.
    EXPECT_FALSE(DisableEntry(Row(kUserOff, L"Tool")));
    EXPECT_FALSE(EnableEntry(Row(kUser, L"Other"), nullptr));
    EXPECT_TRUE(PathExists(StorePath(kUserOff, L"Tool")));

    RecordingProgress progress;
    const std::string disabledNotes = ReadFileBytes(StorePath(kStartUpOff, L"Notes"));
    for (const auto& [code, name] : {std::pair{kLocalOff, L"Agent"}, {kUserOff, L"Tool"}, {kStartUpOff, L"Notes"}}) {
        EXPECT_TRUE(EnableEntry(Row(code, name), &progress)) << code;
        EXPECT_FALSE(PathExists(StorePath(code, name))) << code;
        EXPECT_TRUE(PathExists(StorePath(code - 3, name))) << code;
    }
    const auto agent = m_registry.RunValue(Location::Local, L"Agent");
    ASSERT_TRUE(agent);
    EXPECT_EQ(agent->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(agent->text, L"\"c:\\agent.exe\" /quiet");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe");
    EXPECT_EQ(ReadFileBytes(StartupPath(L"Notes.lnk")), disabledNotes);
    EXPECT_EQ(progress.max, static_cast<int>(disabledNotes.size())); // the copy reported on the window's control
    ImportSystemEntries();
    EXPECT_EQ(ReadShortcut(StorePath(kStartUp, L"Notes")).description, L"notes");
    EXPECT_THAT(StoreNames(kUser), UnorderedElementsAre(L"Tool.lnk", L"Other.lnk"));
}

TEST_F(EntryOperationsTest, ARunKeyThatDoesNotOpenMovesNothing) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    ImportSystemEntries();
    WriteShortcut(StorePath(kLocalOff, L"Old"), L"c:\\old.exe", L"c:\\old.exe");
    const EntryRef agent = Row(kLocal, L"Agent");
    m_registry.DeleteRunKey(Location::Local);

    EXPECT_TRUE(DisableEntry(agent));
    EXPECT_TRUE(EnableEntry(Row(kLocalOff, L"Old"), nullptr));
    DeleteEntry(agent);
    EXPECT_THAT(StoreNames(kLocal), ElementsAre(L"Agent.lnk"));
    EXPECT_THAT(StoreNames(kLocalOff), ElementsAre(L"Old.lnk"));
    UniqueHkey key;
    EXPECT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, KEY_READ, key.Put()), ERROR_SUCCESS);
}

TEST_F(EntryOperationsTest, ToggleFailuresAndRefusalsLoseNothing) {
    const std::wstring longLine = L"c:\\tool.exe " + std::wstring(1100, L'x');
    m_registry.SetRunValue(Location::User, L"Long", longLine);
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    ImportSystemEntries();

    // A command line the store link could only keep cut is never switched off.
    try {
        DisableEntry(Row(kUser, L"Long"));
        FAIL() << "a cut command line was switched off";
    } catch (const EEntryRefused& error) {
        EXPECT_EQ(error.Message(), L"The command line of \"Long\" is longer than a shortcut can keep whole, so it "
                                   L"cannot be switched off without losing it.");
    }
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Long")->text, longLine);
    EXPECT_TRUE(PathExists(StorePath(kUser, L"Long")));
    EXPECT_THAT(StoreNames(kUserOff), IsEmpty());

    // Nor switched on from a cut copy (a link left by an older store), not even over a value of its name.
    WriteShortcut(StorePath(kLocalOff, L"Cut"), L"c:\\cut.exe", DescriptionFor(longLine));
    m_registry.SetRunValue(Location::Local, L"Cut", L"c:\\meanwhile.exe");
    try {
        EnableEntry(Row(kLocalOff, L"Cut"), nullptr);
        FAIL() << "a cut command line was switched on";
    } catch (const EEntryRefused& error) {
        EXPECT_THAT(error.Message(), HasSubstr(L"\"Cut\""));
    }
    EXPECT_EQ(m_registry.RunValue(Location::Local, L"Cut")->text, L"c:\\meanwhile.exe");
    EXPECT_THAT(StoreNames(kLocalOff), ElementsAre(L"Cut.lnk"));

    // A store link that has gone cannot be moved, and then the value stays.
    const EntryRef tool = Row(kUser, L"Tool");
    (void)DeleteFileAt(StorePath(kUser, L"Tool"));
    EXPECT_THROW(DisableEntry(tool), EFOpenError);
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));

    // A Startup shortcut that cannot be replaced: the store link stays disabled.
    WriteShortcut(StorePath(kStartUpOff, L"Notes"), L"c:\\notes.exe", L"notes");
    WriteFileBytes(StartupPath(L"Notes.lnk"), "someone else's");
    UniqueFile notesHeld = HoldAgainstWriters(StartupPath(L"Notes.lnk"));
    try {
        EnableEntry(Row(kStartUpOff, L"Notes"), nullptr);
        FAIL() << "the copy into the Startup folder did not fail";
    } catch (const EFCreateError& error) {
        EXPECT_EQ(error.Message(), L"Cannot create file " + StartupPath(L"Notes.lnk"));
    }
    notesHeld.Reset();
    EXPECT_EQ(ReadFileBytes(StartupPath(L"Notes.lnk")), "someone else's");
    ImportSystemEntries();
    EXPECT_THAT(StoreNames(kStartUpOff), ElementsAre(L"Notes.lnk"));

    // A move that fails after the value was written leaves the entry in the system and its disabled link.
    WriteShortcut(StorePath(kUserOff, L"Back"), L"c:\\back.exe", L"c:\\back.exe");
    MakeReadOnly(StorePath(kUserOff, L"Back"));
    m_registry.SetRunValue(Location::User, L"Back", L"c:\\meanwhile.exe");
    ImportSystemEntries();
    EXPECT_THROW(EnableEntry(Row(kUserOff, L"Back"), nullptr), EFCantMove);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Back")->text, L"c:\\back.exe");
    EXPECT_TRUE(PathExists(StorePath(kUserOff, L"Back")));
}

TEST_F(EntryOperationsTest, TogglesMeetWhatOthersLeftInTheirWay) {
    // Disabling a Startup entry whose shortcut has already gone still disables it.
    WriteShortcut(StartupPath(L"Gone.lnk"), L"c:\\gone.exe");
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent-new.exe");
    ImportSystemEntries();
    (void)DeleteFileAt(StartupPath(L"Gone.lnk"));
    EXPECT_TRUE(DisableEntry(Row(kStartUp, L"Gone")));
    EXPECT_THAT(StoreNames(kStartUpOff), ElementsAre(L"Gone.lnk"));

    // An older disabled link of the same name is overwritten; the enabled one stays until the import.
    WriteShortcut(StorePath(kLocalOff, L"Agent"), L"c:\\agent-old.exe", L"c:\\agent-old.exe");
    EXPECT_TRUE(DisableEntry(Row(kLocal, L"Agent")));
    EXPECT_EQ(ReadShortcut(StorePath(kLocalOff, L"Agent")).description, L"c:\\agent-new.exe");
    EXPECT_TRUE(PathExists(StorePath(kLocal, L"Agent")));
    ImportSystemEntries();
    EXPECT_THAT(StoreNames(kLocal), IsEmpty());

    // Enabling replaces a value and a shortcut that came back meanwhile. The import has mirrored the value,
    // so the move copies over that mirror and leaves the disabled link: the entry stands in both folders.
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\someone-else.exe", REG_EXPAND_SZ);
    WriteShortcut(StartupPath(L"Gone.lnk"), L"c:\\someone-else.exe");
    ImportSystemEntries();
    EXPECT_TRUE(EnableEntry(Row(kLocalOff, L"Agent"), nullptr));
    EXPECT_TRUE(EnableEntry(Row(kStartUpOff, L"Gone"), nullptr));
    const auto agent = m_registry.RunValue(Location::Local, L"Agent");
    EXPECT_EQ(agent->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(agent->text, L"c:\\agent-new.exe");
    EXPECT_EQ(ReadShortcut(StartupPath(L"Gone.lnk")).path, L"c:\\gone.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kLocal, L"Agent")).description, L"c:\\agent-new.exe");
    EXPECT_THAT(StoreNames(kLocalOff), ElementsAre(L"Agent.lnk"));
    EXPECT_THAT(StoreNames(kStartUpOff), ElementsAre(L"Gone.lnk"));
}

TEST_F(EntryOperationsTest, UnicodeAndExpandableEntriesSurviveARoundTrip) {
    const std::wstring cyrillic = L"\u0417\u0430\u043f\u0443\u0441\u043a";
    const std::wstring chinese = L"\u542f\u52a8\u7a0b\u5e8f";
    const std::wstring line =
        L"\"c:\\\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b\\\u5de5\u5177.exe\" -\u03bb";
    m_registry.SetRunValue(Location::User, cyrillic, line);
    m_registry.SetRunValue(Location::User, L"Expand", L"%SystemRoot%\\x.exe", REG_EXPAND_SZ);
    m_registry.SetRunValue(Location::Local, L"Percent", L"c:\\tool.exe 50% off");
    WriteShortcut(StartupPath(chinese + L".lnk"), L"c:\\\u5de5\u5177.exe", chinese);
    ImportSystemEntries();

    for (const auto& [code, name] : {std::pair{kUser, cyrillic},
                                     {kUser, std::wstring(L"Expand")},
                                     {kLocal, std::wstring(L"Percent")},
                                     {kStartUp, chinese}}) {
        EXPECT_TRUE(DisableEntry(Row(code, name)));
        ImportSystemEntries();
        EXPECT_TRUE(EnableEntry(Row(code + 3, name), nullptr));
        ImportSystemEntries();
    }
    EXPECT_EQ(m_registry.RunValue(Location::User, cyrillic)->text, line);
    const auto expand = m_registry.RunValue(Location::User, L"Expand");
    EXPECT_EQ(expand->type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(expand->text, L"%SystemRoot%\\x.exe");
    EXPECT_EQ(m_registry.RunValue(Location::Local, L"Percent")->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(ReadShortcut(StartupPath(chinese + L".lnk")).description, chinese);
    EXPECT_THAT(StoreNames(kStartUp), ElementsAre(chinese + L".lnk"));
    for (int code = kLocalOff; code <= kStartUpOff; ++code) {
        EXPECT_THAT(StoreNames(code), IsEmpty());
    }
}

TEST(HasEnvironmentReferenceTest, NeedsANameBetweenTwoPercentSigns) {
    for (const wchar_t* yes : {L"%SystemRoot%\\x.exe", L"%ProgramFiles(x86)%", L"a %%b% c", L"x 5% %TEMP%\\y"}) {
        EXPECT_TRUE(HasEnvironmentReference(yes)) << yes;
    }
    for (const wchar_t* no : {L"", L"%", L"%%", L"100%", L"50% off 60%", L"%a b%", L"c:\\x.exe"}) {
        EXPECT_FALSE(HasEnvironmentReference(no)) << no;
    }
}

TEST_F(EntryOperationsTest, WriteBackRestoresRunValuesWhereTheyDiffer) {
    const std::wstring longLine = L"c:\\tool.exe " + std::wstring(1100, L'x');
    m_registry.SetRunValue(Location::Local, L"Plain", L"c:\\plain.exe");
    m_registry.SetRunValue(Location::User, L"Expand", L"%SystemRoot%\\x.exe", REG_EXPAND_SZ);
    m_registry.SetRunValue(Location::User, L"Gone", L"c:\\gone.exe");
    m_registry.SetRunValue(Location::User, L"Long", longLine);
    ImportSystemEntries();
    WriteShortcut(StorePath(kUserOff, L"Off"), L"c:\\off.exe", L"c:\\off.exe");
    const std::vector<EntryRef> rows = {Row(kLocal, L"Plain"), Row(kUser, L"Expand"), Row(kUser, L"Gone"),
                                        Row(kUser, L"Long"), Row(kUserOff, L"Off")};

    // Nothing differs: the key is not written at all. (Wine's registry drops a write of identical data by
    // itself, so there this holds either way; Windows stamps the key on every write.)
    const FILETIME before = RunKeyWriteTime(Location::User);
    ::Sleep(50);
    WriteBackEntries(rows, nullptr);
    const FILETIME after = RunKeyWriteTime(Location::User);
    EXPECT_EQ(::CompareFileTime(&before, &after), 0);

    m_registry.SetRunValue(Location::Local, L"Plain", L"c:\\changed.exe");
    m_registry.SetRunValue(Location::User, L"Expand", L"%windir%\\changed.exe", REG_EXPAND_SZ);
    m_registry.RemoveRunValue(Location::User, L"Gone");
    m_registry.SetRunValue(Location::User, L"Long", L"c:\\short.exe");
    m_registry.SetRunValue(Location::User, L"Off", L"c:\\someone-else.exe"); // the name of a disabled row, back again
    WriteBackEntries(rows, nullptr);

    EXPECT_EQ(m_registry.RunValue(Location::Local, L"Plain")->text, L"c:\\plain.exe");
    const auto expand = m_registry.RunValue(Location::User, L"Expand");
    EXPECT_EQ(expand->type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(expand->text, L"%SystemRoot%\\x.exe");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Long")->text, L"c:\\short.exe"); // a cut line is never written
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Off")->text, L"c:\\someone-else.exe");
    EXPECT_THAT(m_registry.RunValueNames(Location::User), UnorderedElementsAre(L"Expand", L"Long", L"Off"));

    m_registry.DeleteRunKey(Location::Local);
    EXPECT_NO_THROW(WriteBackEntries(rows, nullptr));
    EXPECT_FALSE(m_registry.RunValue(Location::Local, L"Plain"));
}

TEST_F(EntryOperationsTest, WriteBackReplacesStartupShortcutsThatDiffer) {
    for (const wchar_t* name : {L"Replaced", L"Deleted", L"NoLink", L"Same"}) {
        WriteShortcut(StartupPath(std::wstring(name) + L".lnk"), L"c:\\tool.exe", name);
    }
    ImportSystemEntries();
    WriteBackEntries({Row(kStartUp, L"Same")}, nullptr); // makes the shortcut the store link's bytes
    ImportSystemEntries();
    WriteShortcut(StorePath(kStartUpOff, L"Off"), L"c:\\off.exe");
    std::vector<EntryRef> rows;
    for (const wchar_t* name : {L"Replaced", L"Deleted", L"NoLink", L"Same"}) {
        rows.push_back(Row(kStartUp, name));
    }
    rows.push_back(Row(kStartUpOff, L"Off"));
    WriteFileBytes(StartupPath(L"Replaced.lnk"), "replaced by another program");
    (void)DeleteFileAt(StartupPath(L"Deleted.lnk"));
    (void)DeleteFileAt(StorePath(kStartUp, L"NoLink"));
    const UniqueFile sameHeld = HoldAgainstWriters(StartupPath(L"Same.lnk")); // a needless copy would fail

    WriteBackEntries(rows, nullptr);

    EXPECT_EQ(ReadFileBytes(StartupPath(L"Replaced.lnk")), ReadFileBytes(StorePath(kStartUp, L"Replaced")));
    EXPECT_THAT(FolderNames(m_startup), UnorderedElementsAre(L"Replaced.lnk", L"NoLink.lnk", L"Same.lnk"));
    EXPECT_EQ(ReadShortcut(StartupPath(L"NoLink.lnk")).description, L"NoLink");

    // A copy that fails is reported.
    WriteFileBytes(StartupPath(L"Replaced.lnk"), "again");
    const UniqueFile replacedHeld = HoldAgainstWriters(StartupPath(L"Replaced.lnk"));
    EXPECT_THROW(WriteBackEntries(rows, nullptr), EFCreateError);
}

TEST(EntryNameForProgramTest, CutsTheFileNameAtItsFirstDot) {
    EXPECT_EQ(EntryNameForProgram(L"c:\\windows\\notepad.exe"), L"notepad");
    EXPECT_EQ(EntryNameForProgram(L"c:\\tools\\a.b.exe"), L"a");
    EXPECT_EQ(EntryNameForProgram(L"c:\\tools.d\\noext"), L"noext");
    EXPECT_EQ(EntryNameForProgram(L"c:\\tools\\.hidden.exe"), L".hidden.exe");
    EXPECT_EQ(EntryNameForProgram(L"d:tool.exe"), L"tool");
}

TEST_F(EntryOperationsTest, AddSavesUnderTheFirstFreeNameInTheStartupFolder) {
    const std::wstring notepad = L"c:\\windows\\notepad.exe";
    WriteShortcut(StorePath(kStartUpOff, L"notepad"), notepad); // the store plays no part in the choice
    EXPECT_EQ(AddStartupShortcut(notepad), StartupPath(L"notepad.lnk"));
    EXPECT_EQ(AddStartupShortcut(notepad), StartupPath(L"notepad(1).lnk"));
    EXPECT_EQ(AddStartupShortcut(notepad), StartupPath(L"notepad(2).lnk"));
    const auto link = ReadShortcut(StartupPath(L"notepad(2).lnk"));
    EXPECT_EQ(link.path, notepad);
    EXPECT_EQ(link.description, notepad);

    ::CreateDirectoryW(StartupPath(L"calc.lnk").c_str(), nullptr);
    EXPECT_EQ(AddStartupShortcut(L"c:\\windows\\calc.exe"), StartupPath(L"calc(1).lnk"));

    // A name that would reach outside the Startup folder is refused before anything is saved.
    EXPECT_THROW(AddStartupShortcut(L"c:\\tools\\sub/evil.exe"), EEntryRefused);
    ::RemoveDirectoryW(StartupPath(L"calc.lnk").c_str());
    ImportSystemEntries();
    EXPECT_THAT(StoreNames(kStartUp),
                UnorderedElementsAre(L"notepad.lnk", L"notepad(1).lnk", L"notepad(2).lnk", L"calc(1).lnk"));

    // A Startup folder that cannot take the shortcut is no error.
    m_registry.SetStartupFolder(m_root / L"Missing");
    RecomputeStartupDir();
    EXPECT_EQ(AddStartupShortcut(notepad), m_root / L"Missing\\notepad.lnk");
    EXPECT_FALSE(PathExists(m_root / L"Missing"));
}

TEST_F(EntryOperationsTest, DeleteRemovesOnlyTheEntrysOwnPlace) {
    m_registry.SetRunValue(Location::Local, L"Both", L"c:\\local.exe");
    m_registry.SetRunValue(Location::User, L"Both", L"c:\\user.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe");
    ImportSystemEntries();
    WriteShortcut(StorePath(kUserOff, L"Both"), L"c:\\off.exe", L"c:\\off.exe");

    DeleteEntry({L"Both", kLocal, L"c:\\local.exe"});
    DeleteEntry({L"Notes", kStartUp, L""});
    DeleteEntry({L"Both", kUserOff, L"c:\\off.exe"});
    EXPECT_FALSE(m_registry.RunValue(Location::Local, L"Both"));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Both"));
    EXPECT_FALSE(PathExists(StartupPath(L"Notes.lnk")));
    EXPECT_TRUE(PathExists(StorePath(kStartUp, L"Notes"))); // until the next import
    EXPECT_THAT(StoreNames(kUserOff), IsEmpty());
    EXPECT_THAT(StoreNames(kUser), ElementsAre(L"Both.lnk"));

    // What has gone already is no error.
    EXPECT_NO_THROW(DeleteEntry({L"Both", kLocal, L""}));
    EXPECT_NO_THROW(DeleteEntry({L"Notes", kStartUp, L""}));
    EXPECT_NO_THROW(DeleteEntry({L"Both", kUserOff, L""}));
}

} // namespace
} // namespace bw::test
