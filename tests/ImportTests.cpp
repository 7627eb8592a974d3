#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/ShellLink.h"
#include "platform/UniqueHandle.h"
#include "store/CommandLine.h"
#include "store/Import.h"
#include "store/StoreSession.h"

#include <algorithm>

namespace bw::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

class ImportSystemEntriesTest : public StoreTest {
protected:
    // What the link of a Run value records beside its description.
    ValueRecord RecordAt(int code, const std::wstring& name) const {
        StoreLink link;
        link.code = code;
        link.path = StorePath(code, name);
        link.bytes = ReadFileBytes(link.path);
        TShellLink loader;
        EXPECT_TRUE(ParseStoreLink(loader, link));
        TakeStoreRecord(link);
        return ReadRegistryLink(link).record;
    }
};

TEST_F(ImportSystemEntriesTest, MirrorsBothRunKeysAndTheStartupFolder) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"\"C:\\Program Files\\Agent\\agent.exe\" /background");
    m_registry.SetRunValue(Location::Local, L"Shared", L"c:\\local.exe");
    m_registry.SetRunValue(Location::User, L"Shared", L"c:\\user.exe -x");
    m_registry.SetRunValue(Location::User, L"Expand", L"%SystemRoot%\\system32\\tool.exe", REG_EXPAND_SZ);
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"my notes");
    WriteFileBytes(StartupPath(L"readme.txt"), "not a shortcut");
    WriteFileBytes(StartupPath(L"tool.exe"), "MZ");
    WriteShortcut(StorePath(kUserOff, L"Old"), L"c:\\old.exe", L"c:\\old.exe");

    ImportSystemEntries();

    EXPECT_EQ(StartupDir(), m_startup);
    EXPECT_THAT(StoreNames(kLocal), UnorderedElementsAre(L"Agent.lnk", L"Shared.lnk"));
    EXPECT_THAT(StoreNames(kUser), UnorderedElementsAre(L"Shared.lnk", L"Expand.lnk"));
    EXPECT_THAT(StoreNames(kStartUp, true), ElementsAre(L"Notes.lnk"));

    // The description carries the command line exactly as the value holds it; expandable ones unexpanded.
    EXPECT_EQ(ReadShortcut(StorePath(kLocal, L"Agent")).description,
              L"\"C:\\Program Files\\Agent\\agent.exe\" /background");
    EXPECT_EQ(ReadShortcut(StorePath(kLocal, L"Shared")).description, L"c:\\local.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Shared")).description, L"c:\\user.exe -x");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Expand")).description, L"%SystemRoot%\\system32\\tool.exe");

    // The Startup shortcut is mirrored byte for byte.
    EXPECT_EQ(ReadFileBytes(StorePath(kStartUp, L"Notes")), ReadFileBytes(StartupPath(L"Notes.lnk")));

    // Disabled folders are never touched.
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"Old.lnk"));
    EXPECT_TRUE(StoreNames(kLocalOff).empty());
    EXPECT_TRUE(StoreNames(kStartUpOff).empty());
}

// Store links that mirror nothing go; a file that is no store link, and a folder with what it holds, are not the
// store's to remove.
TEST_F(ImportSystemEntriesTest, EmptiesEnabledFoldersOfStoreLinksThatMirrorNothing) {
    const std::wstring folder = StoreFolderPath(kUser);
    WriteShortcut(folder + L"Gone.lnk", L"c:\\gone.exe");
    WriteShortcut(folder + L"ReadOnly.lnk", L"c:\\ro.exe");
    WriteShortcut(folder + L"HiddenSystem.lnk", L"c:\\hs.exe");
    ::SetFileAttributesW((folder + L"ReadOnly.lnk").c_str(), FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW((folder + L"HiddenSystem.lnk").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    WriteFileBytes(folder + L".keep", "a dot-name that is no store link stays");
    WriteShortcut(folder + L".hidden.lnk", L"c:\\hidden.exe", L"c:\\hidden.exe");
    ::CreateDirectoryW((folder + L"Sub").c_str(), nullptr);
    WriteFileBytes(folder + L"Sub\\inner.lnk", "x");
    WriteFileBytes(folder + L"notes.txt", "the user's");
    m_registry.SetRunValue(Location::User, L"Fresh", L"c:\\fresh.exe");

    ImportSystemEntries();

    EXPECT_THAT(FolderNames(folder), UnorderedElementsAre(L".keep", L"Sub", L"Fresh.lnk", L"notes.txt"));
    EXPECT_THAT(FolderNames(folder + L"Sub"), ElementsAre(L"inner.lnk"));
    EXPECT_EQ(ReadFileBytes(folder + L"notes.txt"), "the user's");
}

TEST_F(ImportSystemEntriesTest, LinksFollowTheirEntriesAcrossImports) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"first");
    ImportSystemEntries();

    // A renamed value (only its case differs), a changed command line and a replaced shortcut all reach
    // the store; what did not change stays as it was.
    m_registry.RemoveRunValue(Location::User, L"Tool");
    m_registry.SetRunValue(Location::User, L"TOOL", L"c:\\tool.exe");
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept.exe --changed");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"second");
    ImportSystemEntries();

    EXPECT_THAT(StoreNames(kUser), UnorderedElementsAre(L"TOOL.lnk", L"Kept.lnk"));
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Kept")).description, L"c:\\kept.exe --changed");
    EXPECT_EQ(ReadShortcut(StorePath(kStartUp, L"Notes")).description, L"second");

    // With no earlier import to tell who changed what, an edited store link is made a mirror again.
    WriteShortcut(StorePath(kUser, L"Kept"), L"c:\\kept.exe", L"edited");
    ImportSystemEntries();
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Kept")).description, L"c:\\kept.exe --changed");
}

// Names that begin with a dot, the key's default value among them, are entries like any other: their links go
// with their values and no toggle can bring back a value its owner removed.
TEST_F(ImportSystemEntriesTest, DotNamesAndTheDefaultValueGoWithTheirValues) {
    m_registry.SetRunValue(Location::Local, L"", L"c:\\default.exe");
    m_registry.SetRunValue(Location::Local, L".hidden", L"c:\\hidden.exe");
    ImportSystemEntries();
    EXPECT_THAT(StoreNames(kLocal), UnorderedElementsAre(L".lnk", L".hidden.lnk"));
    EXPECT_EQ(ReadShortcut(StorePath(kLocal, L"")).description, L"c:\\default.exe");

    m_registry.RemoveRunValue(Location::Local, L"");
    m_registry.RemoveRunValue(Location::Local, L".hidden");
    ImportSystemEntries();
    EXPECT_THAT(StoreNames(kLocal), IsEmpty());
}

TEST_F(ImportSystemEntriesTest, MissingKeysAndAnUnknownStartupFolderGiveNoEntries) {
    m_registry.DeleteRunKey(Location::Local);
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    WriteShortcut(StartupPath(L"Link.lnk"), L"c:\\link.exe");
    ImportSystemEntries();
    EXPECT_TRUE(StoreNames(kLocal).empty());
    EXPECT_THAT(StoreNames(kUser), ElementsAre(L"Tool.lnk"));
    EXPECT_THAT(StoreNames(kStartUp), ElementsAre(L"Link.lnk"));
    EXPECT_TRUE(IsStartupDirKnown());

    // "Shell Folders" without a "Startup" value: an empty StartupDir, which names no folder to read.
    m_registry.DeleteKey(HKEY_CURRENT_USER, kShellFoldersKeyPath);
    m_registry.CreateKey(HKEY_CURRENT_USER, kShellFoldersKeyPath);
    ImportSystemEntries();
    EXPECT_EQ(StartupDir(), L"");
    EXPECT_FALSE(IsStartupDirKnown());
    EXPECT_TRUE(StoreNames(kStartUp).empty());

    // No "Shell Folders" key at all: "c:", the root of a drive, which is no Startup folder either.
    m_registry.DeleteKey(HKEY_CURRENT_USER, kShellFoldersKeyPath);
    ImportSystemEntries();
    EXPECT_EQ(StartupDir(), L"c:");
    EXPECT_FALSE(IsStartupDirKnown());
    EXPECT_THAT(StoreNames(kUser), ElementsAre(L"Tool.lnk"));
}

TEST_F(ImportSystemEntriesTest, StartupValueOfAnotherTypeStopsTheImport) {
    const DWORD number = 7;
    m_registry.SetValue(HKEY_CURRENT_USER, kShellFoldersKeyPath, kStartupValueName, REG_DWORD, &number, sizeof number);
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    try {
        ImportSystemEntries();
        FAIL() << "the import went on";
    } catch (const ERegistryException& error) {
        EXPECT_EQ(ErrorText(error), L"Invalid data type for 'Startup'");
    }
    EXPECT_TRUE(StoreNames(kUser).empty());
}

TEST_F(ImportSystemEntriesTest, UnicodeNamesAndCommandLinesComeThroughUnchanged) {
    const std::wstring cyrillic = L"\u0417\u0430\u043f\u0443\u0441\u043a";          // Запуск
    const std::wstring greek = L"\u0395\u03ba\u03ba\u03af\u03bd\u03b7\u03c3\u03b7"; // Εκκίνηση
    const std::wstring chinese = L"\u542f\u52a8\u7a0b\u5e8f";                       // 启动程序
    const std::wstring line = L"\"C:\\\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b\\\u5de5\u5177.exe\" "
                              L"--\u03bb\u03ad\u03be\u03b7 \U0001F600";
    m_registry.SetRunValue(Location::Local, cyrillic, line);
    m_registry.SetRunValue(Location::User, greek, L"c:\\\u03b1.exe");
    WriteShortcut(StartupPath(chinese + L".lnk"), L"c:\\\u5de5\u5177.exe", chinese);

    ImportSystemEntries();

    EXPECT_THAT(StoreNames(kLocal), ElementsAre(cyrillic + L".lnk"));
    EXPECT_EQ(ReadShortcut(StorePath(kLocal, cyrillic)).description, line);
    EXPECT_EQ(ReadShortcut(StorePath(kUser, greek)).description, L"c:\\\u03b1.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kStartUp, chinese)).description, chinese);
}

// What a link's description alone cannot tell (a value's type, whether the line was cut) is recorded with it.
TEST_F(ImportSystemEntriesTest, TypesAndLengthsAreRecordedNotGuessed) {
    const std::wstring thousand = L"c:\\tool.exe " + std::wstring(1000 - 12, L'a');
    const std::wstring atLimit = L"c:\\tool.exe " + std::wstring(kLinkDescriptionLimit - 12, L'c');
    const std::wstring huge = L"c:\\tool.exe " + std::wstring(5000, L'd');
    ASSERT_EQ(atLimit.size(), kLinkDescriptionLimit);
    m_registry.SetRunValue(Location::User, L"Thousand", thousand);
    m_registry.SetRunValue(Location::User, L"AtLimit", atLimit);
    m_registry.SetRunValue(Location::User, L"Huge", huge);
    m_registry.SetRunValue(Location::User, L"PlainPercent", L"c:\\tool.exe %TEMP%");
    m_registry.SetRunValue(Location::User, L"ExpandNoPercent", L"c:\\tool.exe", REG_EXPAND_SZ);
    m_registry.SetRunValue(Location::User, L"Expand", L"%SystemRoot%\\tool.exe", REG_EXPAND_SZ);
    m_registry.SetValue(ScratchRegistry::Root(Location::User), kRunKeyPath, L"Binary", REG_BINARY, nullptr, 0);

    ImportSystemEntries();

    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Thousand")).description, thousand);
    EXPECT_EQ(RecordAt(kUser, L"Thousand"), (ValueRecord{REG_SZ, false}));
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"AtLimit")).description, atLimit);
    EXPECT_EQ(RecordAt(kUser, L"AtLimit"), (ValueRecord{REG_SZ, false})) << "as long as a link keeps, yet whole";
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Huge")).description.size(), kLinkDescriptionLimit);
    EXPECT_EQ(RecordAt(kUser, L"Huge"), (ValueRecord{REG_SZ, true}));
    EXPECT_EQ(RecordAt(kUser, L"PlainPercent"), (ValueRecord{REG_SZ, false}));
    EXPECT_EQ(RecordAt(kUser, L"ExpandNoPercent"), (ValueRecord{REG_EXPAND_SZ, false}));
    EXPECT_EQ(RecordAt(kUser, L"Expand"), (ValueRecord{REG_EXPAND_SZ, false}));
    EXPECT_EQ(RecordAt(kUser, L"Binary"), (ValueRecord{REG_BINARY, false}));
    // The record is kept where the property sheet shows nothing: the arguments are the command line's own.
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Expand")).description, L"%SystemRoot%\\tool.exe");
    TShellLink plain;
    ASSERT_TRUE(plain.Load(StorePath(kUser, L"Thousand")));
    EXPECT_EQ(plain.Arguments(), std::wstring(1000 - 12, L'a'));
    ASSERT_TRUE(plain.Load(StorePath(kUser, L"Huge")));
    EXPECT_EQ(plain.Arguments(), L"") << "a cut line starts nothing";
    EXPECT_EQ(plain.Path(), L"");

    // A link written before records were kept reads as it always did.
    EXPECT_EQ(RecordOfLink(L"%SystemRoot%\\x.exe", L""), (ValueRecord{REG_EXPAND_SZ, false}));
    EXPECT_EQ(RecordOfLink(atLimit, L""), (ValueRecord{REG_SZ, true}));
    EXPECT_EQ(RecordOfLink(L"c:\\x.exe", L"/arguments of the user's"), (ValueRecord{REG_SZ, false}));
}

// Windows starts a Run value whatever its name, so every name is listed and stored: those that cannot be file
// names under a reversible encoding, every other under its own name as before.
TEST_F(ImportSystemEntriesTest, EveryNameIsStoredAndNothingLeavesTheStoreFolder) {
    const std::vector<std::wstring> names = {
        L"..\\..\\Escaped",
        L"..\\Escaped",
        L"sub\\dir",
        L"a/b",
        L"c:evil",
        L"star*",
        L"what?",
        L"quote\"d",
        L"less<",
        L"more>",
        L"pi|pe",
        L".",
        L"..",
        L"tab\tname",
        L"CON",
        L"nul.txt",
        L"COM1",
        L"trailing ",
        L"=mark",
        L"50%",
        L"Good",
        L"dots..inside",
    };
    for (const auto& name : names) {
        m_registry.SetRunValue(Location::User, name, L"c:\\tool.exe " + name);
    }
    const std::wstring tooLong(252, L'x');
    m_registry.SetRunValue(Location::User, tooLong, L"c:\\long.exe");

    TStoreSession session;
    session.Refresh(true, nullptr);

    EXPECT_EQ(StoreNames(kUser).size(), names.size());
    for (const auto& name : names) {
        const std::wstring path = StoreLinkPath(kUser, name);
        EXPECT_EQ(FolderPart(path), StoreFolderPath(kUser)) << "left its folder";
        EXPECT_EQ(ReadShortcut(path).description, L"c:\\tool.exe " + name) << path;
        EXPECT_EQ(EntryNameOf(FileNamePart(path).substr(0, FileNamePart(path).size() - 4)), name);
    }
    // Names that were file names keep the very name they had, so that existing store links go on as before.
    EXPECT_EQ(FileNamePart(StoreLinkPath(kUser, L"Good")), L"Good.lnk");
    EXPECT_EQ(FileNamePart(StoreLinkPath(kUser, L"trailing ")), L"trailing .lnk");
    EXPECT_EQ(FileNamePart(StoreLinkPath(kUser, L"50%")), L"50%.lnk");
    EXPECT_EQ(EntryNameOf(L"=weird"), L"=weird") << "a link named so before the encoding still means its name";
    EXPECT_THAT(FolderNames(m_programDir + L"Run"), UnorderedElementsAre(L"Local", L"User", L"StartUp", L"Common"));
    EXPECT_THAT(FolderNames(m_root.Path()), UnorderedElementsAre(L"Program", L"Startup", L"Common Startup"));

    // Every one is listed; a name that no file name can hold says why it cannot be switched off.
    EXPECT_EQ(session.Entries().size(), names.size() + 1);
    const auto listed = std::find_if(session.Entries().begin(), session.Entries().end(),
                                     [&](const Entry& entry) { return entry.name == tooLong; });
    ASSERT_NE(listed, session.Entries().end());
    EXPECT_NE(listed->problem, EntryProblem::None);
    EXPECT_EQ(listed->storeLinkPath, L"");
    EXPECT_THROW(StartupLinkPath(L"a\\b"), EEntryRefused);
}

TEST_F(ImportSystemEntriesTest, ValuesOfOtherTypesArePassedOverAndTheRestIsImported) {
    const DWORD number = 42;
    const BYTE bytes[] = {1, 2, 3};
    m_registry.SetRunValue(Location::Local, L"Before", L"c:\\before.exe");
    m_registry.SetValue(ScratchRegistry::Root(Location::Local), kRunKeyPath, L"Number", REG_DWORD, &number,
                        sizeof number);
    m_registry.SetValue(ScratchRegistry::Root(Location::Local), kRunKeyPath, L"Bytes", REG_BINARY, bytes, sizeof bytes);
    m_registry.SetValue(ScratchRegistry::Root(Location::Local), kRunKeyPath, L"Empty", REG_BINARY, nullptr, 0);
    m_registry.SetRunValue(Location::Local, L"After", L"c:\\after.exe");
    m_registry.SetRunValue(Location::User, L"User", L"c:\\user.exe");
    WriteShortcut(StartupPath(L"Link.lnk"), L"c:\\link.exe");

    ImportSystemEntries();

    // A value without data reads as empty text and still gets its store link.
    EXPECT_THAT(StoreNames(kLocal), UnorderedElementsAre(L"Before.lnk", L"After.lnk", L"Empty.lnk"));
    EXPECT_EQ(ReadShortcut(StorePath(kLocal, L"Empty")).description, L"");
    EXPECT_THAT(StoreNames(kUser), ElementsAre(L"User.lnk"));
    EXPECT_THAT(StoreNames(kStartUp), ElementsAre(L"Link.lnk"));
}

// A Startup file that cannot be taken as a shortcut is neither mirrored nor ever written to, and the last good
// mirror of it is not removed before a new one is written.
TEST_F(ImportSystemEntriesTest, StartupFilesThatDoNotLoadAreLeftAlone) {
    WriteShortcut(StartupPath(L"Good.lnk"), L"c:\\good.exe", L"good");
    WriteShortcut(StartupPath(L"Held.lnk"), L"c:\\held.exe", L"held");
    WriteShortcut(StartupPath(L"Spoilt.lnk"), L"c:\\spoilt.exe", L"spoilt");
    TStoreSession session;
    session.Refresh(true, nullptr);
    const std::string goodMirror = ReadFileBytes(StorePath(kStartUp, L"Spoilt"));

    WriteFileBytes(StartupPath(L"Empty.lnk"), "");
    WriteFileBytes(StartupPath(L"Text.lnk"), "not a shortcut at all");
    WriteFileBytes(StartupPath(L"Spoilt.lnk"), "");
    WriteDeviceNamedFile(m_startup, L"COM1.lnk", "a device's name");
    ::CreateDirectoryW(StartupPath(L"Folder.lnk").c_str(), nullptr);
    ::Sleep(20);
    WriteShortcut(StartupPath(L"Held.lnk"), L"c:\\held.exe", L"held, changed"); // changed, then held
    {
        const UniqueFile held = HoldFile(StartupPath(L"Held.lnk"), 0);
        session.Refresh(true, nullptr);
    }

    EXPECT_EQ(ReadFileBytes(StartupPath(L"Spoilt.lnk")), "") << "written to";
    EXPECT_EQ(ReadFileBytes(StorePath(kStartUp, L"Spoilt")), goodMirror) << "the good mirror went";
    EXPECT_THAT(StoreNames(kStartUp), UnorderedElementsAre(L"Good.lnk", L"Held.lnk", L"Spoilt.lnk"));
    std::vector<std::wstring> troubled;
    for (const Entry& entry : session.Entries()) {
        if (entry.problem != EntryProblem::None) {
            troubled.push_back(entry.name);
        }
    }
    EXPECT_THAT(troubled, UnorderedElementsAre(L"Held", L"Empty", L"Text", L"Spoilt", L"COM1"));

    // Once the held shortcut can be read, its change is mirrored; nothing else moved meanwhile.
    session.Refresh(true, nullptr);
    EXPECT_EQ(ReadShortcut(StorePath(kStartUp, L"Held")).description, L"held, changed");
    EXPECT_EQ(ReadFileBytes(StartupPath(L"Text.lnk")), "not a shortcut at all");
}

// A shortcut that could not be read is read again at the next refresh, though nothing about it has changed since:
// its file is long settled, so only the kind of problem it had says to try again.
TEST_F(ImportSystemEntriesTest, AShortcutThatCouldNotBeReadIsTriedAgain) {
    WriteShortcut(StartupPath(L"Held.lnk"), L"c:\\held.exe", L"held");
    SetLastWriteTime(StartupPath(L"Held.lnk"), 126'269'595'071'234'567ULL); // in 2001
    TStoreSession session;
    {
        const UniqueFile held = HoldFile(StartupPath(L"Held.lnk"), 0);
        session.Refresh(true, nullptr);
    }
    ASSERT_EQ(session.Entries().size(), 1u);
    EXPECT_EQ(session.Entries()[0].problem, EntryProblem::ShortcutUnreadable);
    EXPECT_FALSE(PathExists(StorePath(kStartUp, L"Held")));

    EXPECT_TRUE(session.Refresh(true, nullptr));
    EXPECT_EQ(session.Entries()[0].problem, EntryProblem::None);
    EXPECT_EQ(ReadShortcut(StorePath(kStartUp, L"Held")).description, L"held");
}

// A store link that cannot be deleted (held open without delete sharing) stays for the next import; the others
// still go, and a store folder that is missing stops nothing.
TEST_F(ImportSystemEntriesTest, ALinkThatCannotGoStaysAndTheRestGo) {
    WriteFileBytes(StorePath(kUser, L"Held"), "x");
    WriteFileBytes(StorePath(kUser, L"Free"), "x");
    ASSERT_TRUE(::RemoveDirectoryW(StoreFolderPath(kStartUp).c_str()));
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    {
        const UniqueFile held(
            ::CreateFileW(StorePath(kUser, L"Held").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        ImportSystemEntries();
        EXPECT_THAT(StoreNames(kUser), ElementsAre(L"Held.lnk"));
        EXPECT_THAT(StoreNames(kLocal), ElementsAre(L"Agent.lnk"));
    }
    ImportSystemEntries();
    EXPECT_THAT(StoreNames(kUser), IsEmpty());
}

// A link found in the store is removed as a name; what it points at, outside the store, is never touched.
TEST_F(ImportSystemEntriesTest, LinksInTheStoreAreNeverFollowed) {
    const TempFolder outside;
    WriteFileBytes(outside / L"precious.doc", "precious");
    WriteFileBytes(outside / L"readonly.doc", "read-only");
    ::SetFileAttributesW((outside / L"readonly.doc").c_str(), FILE_ATTRIBUTE_READONLY);
    if (!MakeFileSymlink(StorePath(kUser, L"Planted"), outside / L"precious.doc") ||
        !MakeFileSymlink(StorePath(kUser, L"Tool"), outside / L"readonly.doc")) {
        GTEST_SKIP() << "this system lets the test make no symbolic link";
    }
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");

    ImportSystemEntries();

    EXPECT_EQ(ReadFileBytes(outside / L"precious.doc"), "precious");
    EXPECT_EQ(ReadFileBytes(outside / L"readonly.doc"), "read-only");
    EXPECT_TRUE(HasAttribute(outside / L"readonly.doc", FILE_ATTRIBUTE_READONLY));
    EXPECT_THAT(StoreNames(kUser), ElementsAre(L"Tool.lnk"));
    EXPECT_FALSE(IsLink(StorePath(kUser, L"Tool")));
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Tool")).description, L"c:\\tool.exe");
}

} // namespace
} // namespace bw::test
