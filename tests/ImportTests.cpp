#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/ShellLink.h"
#include "platform/UniqueHandle.h"
#include "store/Import.h"

#include <algorithm>

namespace bw::test {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

constexpr int kLocal = 1;
constexpr int kUser = 2;
constexpr int kStartUp = 3;

class ImportSystemEntriesTest : public StoreTest {};

TEST_F(ImportSystemEntriesTest, MirrorsBothRunKeysAndTheStartupFolder) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"\"C:\\Program Files\\Agent\\agent.exe\" /background");
    m_registry.SetRunValue(Location::Local, L"Shared", L"c:\\local.exe");
    m_registry.SetRunValue(Location::User, L"Shared", L"c:\\user.exe -x");
    m_registry.SetRunValue(Location::User, L"Expand", L"%SystemRoot%\\system32\\tool.exe", REG_EXPAND_SZ);
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"my notes");
    WriteFileBytes(StartupPath(L"readme.txt"), "not a shortcut");
    WriteFileBytes(StartupPath(L"tool.exe"), "MZ");
    WriteShortcut(StorePath(5, L"Old"), L"c:\\old.exe", L"c:\\old.exe");

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
    EXPECT_EQ(ReadShortcut(StorePath(kLocal, L"Shared")).path, L"c:\\local.exe");

    // The Startup shortcut is saved as it was loaded.
    const auto notes = ReadShortcut(StorePath(kStartUp, L"Notes"));
    EXPECT_EQ(notes.description, L"my notes");
    EXPECT_EQ(notes.path, L"c:\\windows\\notepad.exe");

    // Disabled folders are never touched.
    EXPECT_THAT(StoreNames(5), ElementsAre(L"Old.lnk"));
    EXPECT_TRUE(StoreNames(4).empty());
    EXPECT_TRUE(StoreNames(6).empty());
}

TEST_F(ImportSystemEntriesTest, EmptiesEnabledFoldersButKeepsFoldersAndDotNames) {
    const std::wstring folder = StoreFolderPath(kUser);
    WriteShortcut(folder + L"Gone.lnk", L"c:\\gone.exe");
    WriteShortcut(folder + L"ReadOnly.lnk", L"c:\\ro.exe");
    WriteShortcut(folder + L"HiddenSystem.lnk", L"c:\\hs.exe");
    ::SetFileAttributesW((folder + L"ReadOnly.lnk").c_str(), FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW((folder + L"HiddenSystem.lnk").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    WriteFileBytes(folder + L".keep", "dot names survive");
    ::CreateDirectoryW((folder + L"Sub").c_str(), nullptr);
    WriteFileBytes(folder + L"Sub\\inner.lnk", "x");
    m_registry.SetRunValue(Location::User, L"Fresh", L"c:\\fresh.exe");

    ImportSystemEntries();

    EXPECT_THAT(FolderNames(folder), UnorderedElementsAre(L".keep", L"Sub", L"Fresh.lnk"));
    EXPECT_TRUE(FolderNames(folder + L"Sub").empty());
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

    // An edit of a store link through its property sheet is undone by the next import.
    WriteShortcut(StorePath(kUser, L"Kept"), L"c:\\kept.exe", L"edited");
    ImportSystemEntries();
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Kept")).description, L"c:\\kept.exe --changed");
}

TEST_F(ImportSystemEntriesTest, DefaultValueBecomesDotLnkAndOutlivesItsValue) {
    m_registry.SetRunValue(Location::Local, L"", L"c:\\default.exe");
    ImportSystemEntries();
    EXPECT_THAT(StoreNames(kLocal), ElementsAre(L".lnk"));
    EXPECT_EQ(ReadShortcut(StorePath(kLocal, L"")).description, L"c:\\default.exe");

    // Its name begins with a dot, so no later emptying removes it.
    m_registry.RemoveRunValue(Location::Local, L"");
    ImportSystemEntries();
    EXPECT_THAT(StoreNames(kLocal), ElementsAre(L".lnk"));
}

TEST_F(ImportSystemEntriesTest, MissingKeysAndValuesGiveNoEntriesAndTheStartupDirRules) {
    m_registry.DeleteRunKey(Location::Local);
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    WriteShortcut(StartupPath(L"Link.lnk"), L"c:\\link.exe");
    ImportSystemEntries();
    EXPECT_TRUE(StoreNames(kLocal).empty());
    EXPECT_THAT(StoreNames(kUser), ElementsAre(L"Tool.lnk"));
    EXPECT_THAT(StoreNames(kStartUp), ElementsAre(L"Link.lnk"));

    // "Shell Folders" without a "Startup" value: an empty StartupDir.
    m_registry.DeleteKey(HKEY_CURRENT_USER, kShellFoldersKeyPath);
    m_registry.CreateKey(HKEY_CURRENT_USER, kShellFoldersKeyPath);
    ImportSystemEntries();
    EXPECT_EQ(StartupDir(), L"");
    EXPECT_EQ(StartupLinkPath(L"x"), L"\\x.lnk");

    // No "Shell Folders" key at all: the root of drive C.
    m_registry.DeleteKey(HKEY_CURRENT_USER, kShellFoldersKeyPath);
    ImportSystemEntries();
    EXPECT_EQ(StartupDir(), L"c:");
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
        EXPECT_EQ(error.Message(), L"Invalid data type for 'Startup'");
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
    EXPECT_TRUE(IsCarriedWhole(line));
}

TEST_F(ImportSystemEntriesTest, LongCommandLinesAreCarriedWholeOrMarkedCut) {
    const std::wstring thousand = L"c:\\tool.exe " + std::wstring(1000 - 12, L'a');
    const std::wstring longest = L"c:\\tool.exe " + std::wstring(kLinkDescriptionLimit - 1 - 12, L'b');
    const std::wstring atLimit = L"c:\\tool.exe " + std::wstring(kLinkDescriptionLimit - 12, L'c');
    const std::wstring huge = L"c:\\tool.exe " + std::wstring(5000, L'd');
    ASSERT_EQ(thousand.size(), 1000u);
    m_registry.SetRunValue(Location::User, L"Thousand", thousand);
    m_registry.SetRunValue(Location::User, L"Longest", longest);
    m_registry.SetRunValue(Location::User, L"AtLimit", atLimit);
    m_registry.SetRunValue(Location::User, L"Huge", huge);

    ImportSystemEntries();

    // Read back from the saved link: what the link keeps is what every later step sees.
    const auto description = [&](const wchar_t* name) { return ReadShortcut(StorePath(kUser, name)).description; };
    EXPECT_EQ(description(L"Thousand"), thousand);
    EXPECT_TRUE(IsCarriedWhole(description(L"Thousand")));
    EXPECT_EQ(description(L"Longest"), longest);
    EXPECT_TRUE(IsCarriedWhole(description(L"Longest")));
    for (const wchar_t* cut : {L"AtLimit", L"Huge"}) {
        const std::wstring text = description(cut);
        EXPECT_FALSE(IsCarriedWhole(text)) << cut;
        EXPECT_EQ(text.size(), kLinkDescriptionLimit) << cut;
    }
}

TEST_F(ImportSystemEntriesTest, UnsafeNamesAreNotMirroredAndNothingLeavesTheStoreFolder) {
    const std::vector<std::wstring> unsafe = {
        L"..\\..\\Escaped", L"..\\Escaped", L"sub\\dir", L"a/b",       L"c:evil",
        L"star*",           L"what?",       L"quote\"d", L"less<",     L"more>",
        L"pi|pe",           L".",           L"..",       L"tab\tname", L"CON",
        L"nul.txt",         L"COM1",
    };
    for (const auto& name : unsafe) {
        m_registry.SetRunValue(Location::User, name, L"c:\\evil.exe");
    }
    m_registry.SetRunValue(Location::User, L"Good", L"c:\\good.exe");
    m_registry.SetRunValue(Location::User, L"dots..inside", L"c:\\dots.exe");

    ImportSystemEntries();

    EXPECT_THAT(StoreNames(kUser, true), UnorderedElementsAre(L"Good.lnk", L"dots..inside.lnk"));
    EXPECT_THAT(FolderNames(m_programDir + L"Run"), UnorderedElementsAre(L"Local", L"User", L"StartUp"));
    EXPECT_THAT(FolderNames(m_programDir.substr(0, m_programDir.size() - 1)), UnorderedElementsAre(L"Run", L"NoRun"));
    EXPECT_THAT(FolderNames(m_root.Path()), UnorderedElementsAre(L"Program", L"Startup"));
    EXPECT_THROW(StoreLinkPath(kUser, L"..\\x"), EEntryRefused);
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

TEST(EmptyDirectoryTest, ReportsAMissingFolderAndFilesThatStay) {
    TempFolder root;
    EXPECT_FALSE(EmptyDirectory(root / L"missing"));
    EXPECT_TRUE(EmptyDirectory(root.Path()));

    // A file held open without delete sharing cannot be deleted: the rest goes, and the result says so.
    WriteFileBytes(root / L"held.lnk", "x");
    WriteFileBytes(root / L"free.lnk", "x");
    UniqueFile held(::CreateFileW((root / L"held.lnk").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_FALSE(EmptyDirectory(root.Path()));
    EXPECT_TRUE(PathExists(root / L"held.lnk"));
    EXPECT_FALSE(PathExists(root / L"free.lnk"));
}

TEST(HasLinkExtensionTest, OnlyNamesEndingInDotLnk) {
    EXPECT_TRUE(HasLinkExtension(L"a.lnk"));
    EXPECT_TRUE(HasLinkExtension(L"A.LNK"));
    EXPECT_TRUE(HasLinkExtension(L".lnk"));
    EXPECT_FALSE(HasLinkExtension(L"a.lnkx"));
    EXPECT_FALSE(HasLinkExtension(L"lnk"));
}

} // namespace
} // namespace bw::test
