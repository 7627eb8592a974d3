#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/ShellLink.h"
#include "platform/UniqueHandle.h"
#include "resources/Texts.h"
#include "store/EntryOperations.h"
#include "store/StoreSession.h"

#include <shlobj.h>
#include <wrl/client.h>

namespace bw::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

class PlacesTest : public SessionTest {};

// The codes and store folders stand in files a store already holds (its record of bases, link records) and in the
// "Found in..." text: each location keeps its numbers, folders and order for good, whatever the table looks like.
TEST(LocationTableTest, CodesFoldersAndTwinsStayAsStoresHaveThem) {
    struct Known {
        int code;
        const wchar_t* folder;
        const wchar_t* text;
        int twin;
        int rank;
    };
    // The ranks put every place that starts before every place kept switched off, the older places first.
    const Known known[] = {
        {1, L"Run\\Local\\", L"1 - Registry (HKLM)", 4, 1},
        {2, L"Run\\User\\", L"2 - Registry (HKCU)", 5, 3},
        {3, L"Run\\StartUp\\", L"3 - Startup Folder", 6, 4},
        {4, L"NoRun\\Local\\", L"4 - Registry (HKLM)", 1, 12},
        {5, L"NoRun\\User\\", L"5 - Registry (HKCU)", 2, 14},
        {6, L"NoRun\\StartUp\\", L"6 - Startup Folder", 3, 15},
        {7, L"Run\\Local32\\", L"7 - Registry (HKLM 32-bit)", 8, 2},
        {8, L"NoRun\\Local32\\", L"8 - Registry (HKLM 32-bit)", 7, 13},
        {9, L"Run\\Common\\", L"9 - Startup Folder (all users)", 10, 5},
        {10, L"NoRun\\Common\\", L"10 - Startup Folder (all users)", 9, 16},
    };
    for (const Known& k : known) {
        const bool enabled = k.code <= 3 || k.code == 7 || k.code == 9;
        EXPECT_EQ(StoreFolder(k.code), std::wstring(k.folder)) << k.code;
        EXPECT_EQ(LocationText(k.code), k.text) << k.code;
        EXPECT_EQ(IsEnabledCode(k.code), enabled) << k.code;
        EXPECT_EQ(enabled ? DisabledCodeOf(k.code) : EnabledCodeOf(k.code), k.twin) << k.code;
        EXPECT_EQ(ListRankOf(k.code), k.rank) << k.code;
        EXPECT_EQ(IsRegistryCode(k.code), k.code != 3 && k.code != 6 && k.code < 9) << k.code;
        EXPECT_FALSE(IsReadOnlyCode(k.code)) << k.code;
    }
    EXPECT_EQ(RegistryRoot(kUser), HKEY_CURRENT_USER);
    EXPECT_EQ(RegistryRoot(kLocalOff), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegistryRoot(kStartUp), nullptr);
    EXPECT_EQ(RegistryRoot(kCommon), nullptr);
    EXPECT_EQ(RegistryView(kLocal), static_cast<REGSAM>(KEY_WOW64_64KEY));
    EXPECT_EQ(RegistryView(kUserOff), 0u);
    for (int notACode : {0, 17, -1}) {
        EXPECT_FALSE(IsEnabledCode(notACode));
        EXPECT_FALSE(IsRegistryCode(notACode));
        EXPECT_EQ(ListRankOf(notACode), 0);
        EXPECT_THROW(StoreFolder(notACode), EEntryRefused);
        EXPECT_THROW(LocationText(notACode), EEntryRefused);
    }
}

// The places listed read-only have one code each, after the all-users folder's, no store folder and no twin; each
// is listed after every place that can be switched, before the switched-off ones.
TEST(LocationTableTest, PlacesListedReadOnlyHaveOneCodeAndNoStoreFolder) {
    struct Known {
        int code;
        const wchar_t* text;
        HKEY root;
        const wchar_t* keyPath;
        REGSAM view;
    };
    const Known known[] = {
        {11, L"11 - Policy (HKLM)", HKEY_LOCAL_MACHINE, kPolicyRunKeyPath, KEY_WOW64_64KEY},
        {12, L"12 - Policy (HKLM 32-bit)", HKEY_LOCAL_MACHINE, kPolicyRunKeyPath, KEY_WOW64_32KEY},
        {13, L"13 - Policy (HKCU)", HKEY_CURRENT_USER, kPolicyRunKeyPath, 0},
        {14, L"14 - Runs once (HKLM)", HKEY_LOCAL_MACHINE, kRunOnceKeyPath, KEY_WOW64_64KEY},
        {15, L"15 - Runs once (HKLM 32-bit)", HKEY_LOCAL_MACHINE, kRunOnceKeyPath, KEY_WOW64_32KEY},
        {16, L"16 - Runs once (HKCU)", HKEY_CURRENT_USER, kRunOnceKeyPath, 0},
    };
    for (const Known& k : known) {
        EXPECT_EQ(LocationText(k.code), k.text) << k.code;
        EXPECT_TRUE(IsEnabledCode(k.code)) << k.code;
        EXPECT_TRUE(IsRegistryCode(k.code)) << k.code;
        EXPECT_TRUE(IsReadOnlyCode(k.code)) << k.code;
        EXPECT_EQ(RegistryRoot(k.code), k.root) << k.code;
        EXPECT_EQ(RegistryView(k.code), k.view) << k.code;
        EXPECT_EQ(std::wstring(KeyPathOf(k.code)), k.keyPath) << k.code;
        EXPECT_GT(ListRankOf(k.code), ListRankOf(kCommon)) << k.code;
        EXPECT_LT(ListRankOf(k.code), ListRankOf(kLocalOff)) << k.code;
        EXPECT_THROW(StoreFolder(k.code), EEntryRefused) << k.code;
        EXPECT_THROW(DisabledCodeOf(k.code), EEntryRefused) << k.code;
    }
    EXPECT_EQ(ReadOnlyCauseOf(kPolicyUserCode), ReadOnlyCause::Policy);
    EXPECT_EQ(ReadOnlyCauseOf(kOnceUserCode), ReadOnlyCause::RunOnce);
    EXPECT_EQ(ReadOnlyCauseOf(kUser), ReadOnlyCause::None);
}

// The shell names the Startup folder as it is after folder redirection; the "Shell Folders" value is a stale
// copy, read only where the shell cannot tell.
TEST_F(PlacesTest, TheStartupFolderIsTheShellsAndTheOldValueOnlyAFallback) {
    const std::wstring redirected = m_root / L"Redirected";
    ::CreateDirectoryW(redirected.c_str(), nullptr);
    WriteShortcut(redirected + L"\\Synced.lnk", L"c:\\synced.exe");
    WriteShortcut(StartupPath(L"Stale.lnk"), L"c:\\stale.exe");
    {
        const auto shell = seam::StartupFolder.Replace([&] { return std::optional<std::wstring>(redirected); });
        EXPECT_THAT(Listed(), ElementsAre(L"3 Synced"));
        EXPECT_EQ(StartupDir(), redirected);
    }
    EXPECT_THAT(Listed(), ElementsAre(L"3 Stale"));
    EXPECT_EQ(StartupDir(), m_startup);
}

// Where long paths are not enabled, a store link's path may not pass MAX_PATH: the row says why its entry cannot
// be switched off, and switching off refuses before anything changes.
TEST_F(PlacesTest, AStorePathLongerThanTheSystemTakesIsSaidOnTheRow) {
    const std::wstring name = std::wstring(256 - StoreFolderPath(kUserOff).size(), L'n') + L"-long";
    m_registry.SetRunValue(Location::User, name, L"c:\\tool.exe");
    m_registry.SetRunValue(Location::User, L"Short", L"c:\\short.exe");
    const auto shortPaths = seam::LongPathsAccepted.Replace([] { return false; });
    ASSERT_GT(StoreFolderPath(kUserOff).size() + name.size() + 4, size_t{MAX_PATH} - 1);

    m_session.Refresh(false, nullptr);
    EXPECT_EQ(ProblemText(Row(kUser, name).problem), std::wstring(text::kStorePathTooLong));
    EXPECT_EQ(Row(kUser, L"Short").problem, EntryProblem::None);
    EXPECT_THAT(StoreNames(kUser), ElementsAre(L"Short.lnk"));
    EXPECT_THROW(DisableEntry(Row(kUser, name)), EEntryRefused);
    EXPECT_TRUE(m_registry.RunValue(Location::User, name));

    const auto longPaths = seam::LongPathsAccepted.Replace([] { return true; });
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\other.exe");
    m_session.Refresh(false, nullptr);
    EXPECT_EQ(Row(kUser, name).problem, EntryProblem::None) << "where the system takes long paths, so does the store";
}

// A Startup shortcut that names an icon of its own shows that one, as Explorer does; one that names none shows
// its program's.
TEST_F(PlacesTest, AShortcutsOwnIconIsTheEntrysIcon) {
    WriteShortcut(StartupPath(L"Plain.lnk"), L"c:\\windows\\notepad.exe");
    Microsoft::WRL::ComPtr<IShellLinkW> link;
    ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)));
    link->SetPath(L"c:\\windows\\notepad.exe");
    link->SetIconLocation(L"%SystemRoot%\\system32\\shell32.dll", 12);
    Microsoft::WRL::ComPtr<IPersistFile> file;
    ASSERT_HRESULT_SUCCEEDED(link.As(&file));
    ASSERT_HRESULT_SUCCEEDED(file->Save(StartupPath(L"Iconic.lnk").c_str(), TRUE));

    m_session.Refresh(false, nullptr);
    EXPECT_EQ(Row(kStartUp, L"Iconic").iconSource, L"%SystemRoot%\\system32\\shell32.dll");
    EXPECT_EQ(Row(kStartUp, L"Iconic").iconIndex, 12);
    EXPECT_EQ(Row(kStartUp, L"Plain").iconSource, L"c:\\windows\\notepad.exe");
    EXPECT_EQ(Row(kStartUp, L"Plain").iconIndex, 0);
}

// A store kept in a OneDrive-synced folder: every file there carries the cloud filter's reparse point. Entries
// are switched off and on again as anywhere else.
TEST_F(PlacesTest, AStoreInASyncedFolderSwitchesEntriesOffAndOn) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    const std::wstring store = m_programDir;
    const auto synced = [store](const std::wstring& path) { return IsInFolder(FullPath(path), store); };
    const auto attributes = seam::LinkAttributes.Replace([=](const std::wstring& path) {
        const DWORD real = seam::LinkAttributes.Real(path);
        return real != INVALID_FILE_ATTRIBUTES && synced(path) ? real | FILE_ATTRIBUTE_REPARSE_POINT : real;
    });
    const auto tags = seam::ReparseTag.Replace([=](const std::wstring& path) {
        return synced(path) ? std::optional<DWORD>(0x9000601A) : seam::ReparseTag.Real(path); // IO_REPARSE_TAG_CLOUD_6
    });
    m_session.Refresh(false, nullptr);
    DisableEntry(Row(kUser, L"Tool"));
    m_session.Refresh(false, nullptr);
    EnableEntry(Row(kUserOff, L"Tool"), nullptr);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe");
    EXPECT_THAT(StoreNames(kUserOff), IsEmpty());
}

// An updater changes a value while the user edits its store link: the import, run without a write-back (after a
// toggle), must not take the edit for the only change, or the next write-back puts it over the updater's value.
TEST_F(PlacesTest, AStoreEditDoesNotOutweighAnUpdatersChangeMadeMeanwhile) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe --v1");
    m_session.Refresh(true, nullptr);
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe --v2");
    WriteShortcut(StorePath(kUser, L"Tool"), L"", L"c:\\tool.exe --edited");
    ::Sleep(250);
    m_session.Refresh(false, nullptr);
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\other.exe"); // the next refresh runs whole
    m_session.Refresh(true, nullptr);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe --v2");
}

// A name with "%" and a character no file name may hold is stored encoded and read back as the very name.
TEST_F(PlacesTest, APercentSignInAnEncodedNameComesBackAsItself) {
    for (const std::wstring name : {L"50%/x", L"%0041/", L"=%"}) {
        const auto stored = StoredNameOf(name);
        ASSERT_TRUE(stored);
        EXPECT_EQ(EntryNameOf(*stored), name);
    }
    m_registry.SetRunValue(Location::User, L"50%/x", L"c:\\half.exe");
    m_session.Refresh(false, nullptr);
    DisableEntry(Row(kUser, L"50%/x"));
    EXPECT_THAT(Listed(), ElementsAre(L"5 50%/x"));
    EnableEntry(Row(kUserOff, L"50%/x"), nullptr);
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"50%/x"));
}

namespace {
std::wstring Named(int code) {
    const std::wstring folder = StoreFolder(code);
    return ProgramDir() + folder.substr(0, folder.size() - 1);
}
std::vector<std::wstring> RefusedNames(const StoreStart& start) {
    std::vector<std::wstring> names;
    for (const RefusedFolder& folder : start.refusedFolders) {
        names.push_back(folder.folder);
    }
    return names;
}
} // namespace

// Two store folders linked to one folder would empty each other (the enabled one is emptied by every import):
// both are refused, never emptied, written or read through, and their entries are not listed.
TEST_F(PlacesTest, StoreFoldersLinkedToOneFolderAreLeftAlone) {
    const std::wstring other = m_root / L"Other";
    ::CreateDirectoryW(other.c_str(), nullptr);
    WriteFileBytes(other + L"\\precious.txt", "precious");
    WriteShortcut(other + L"\\Looks.lnk", L"c:\\looks.exe", L"c:\\looks.exe");
    ::RemoveDirectoryW(Named(kUser).c_str());
    ::RemoveDirectoryW(Named(kStartUpOff).c_str());
    if (!MakeFolderLink(Named(kUser), other) || !MakeFolderLink(Named(kStartUpOff), other)) {
        GTEST_SKIP() << "this system lets the test make no symbolic link";
    }
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe");
    const StoreStart start = PrepareStore();
    EXPECT_EQ(start.kind, StoreStart::Usable);
    EXPECT_THAT(RefusedNames(start), UnorderedElementsAre(Named(kUser), Named(kStartUpOff)));
    EXPECT_THAT(Listed(), UnorderedElementsAre(L"1 Agent", L"3 Notes")) << "none of the linked folders' entries";
    EXPECT_THROW(DisableEntry(Row(kStartUp, L"Notes")), EEntryRefused);
    EXPECT_TRUE(PathExists(StartupPath(L"Notes.lnk")));
    EXPECT_THAT(FolderNames(other), UnorderedElementsAre(L"precious.txt", L"Looks.lnk"));
    EXPECT_EQ(ReadFileBytes(other + L"\\precious.txt"), "precious");
}

// A store folder that leads into the Startup folder (or the all-users one), or to a folder that holds it, would
// put store links where Windows starts them, and the import would mirror the folder into itself: refused, and
// nothing is written there. The same link to a folder of its own is used.
TEST_F(PlacesTest, AStoreFolderLinkedIntoAStartupFolderIsRefused) {
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    const TempFolder elsewhere; // outside the folder that holds the Startup folder
    const std::wstring own = elsewhere.Path();
    ::RemoveDirectoryW(Named(kStartUpOff).c_str());
    ::RemoveDirectoryW(Named(kUserOff).c_str());
    ::RemoveDirectoryW(Named(kLocal).c_str());
    if (!MakeFolderLink(Named(kStartUpOff), m_startup) || !MakeFolderLink(Named(kUserOff), m_root.Path()) ||
        !MakeFolderLink(Named(kLocal), own)) {
        GTEST_SKIP() << "this system lets the test make no symbolic link";
    }
    const StoreStart start = PrepareStore();
    ASSERT_EQ(start.refusedFolders.size(), 2u);
    EXPECT_THAT(RefusedNames(start), UnorderedElementsAre(Named(kStartUpOff), Named(kUserOff)));
    EXPECT_STREQ(start.refusedFolders[0].why, text::kFolderLinkIntoSystem);
    EXPECT_STREQ(start.refusedFolders[1].why, text::kFolderLinkIntoSystem);
    EXPECT_THAT(Listed(), UnorderedElementsAre(L"2 Tool", L"3 Notes"));
    EXPECT_THROW(DisableEntry(Row(kStartUp, L"Notes")), EEntryRefused);
    EXPECT_THROW(DisableEntry(Row(kUser, L"Tool")), EEntryRefused);
    EXPECT_THAT(FolderNames(m_startup), ElementsAre(L"Notes.lnk"));
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    EXPECT_THAT(Listed(), UnorderedElementsAre(L"1 Agent", L"2 Tool", L"3 Notes"));
    EXPECT_THAT(FolderNames(own), ElementsAre(L"Agent.lnk")) << "a link to a folder of its own is used";
    EXPECT_EQ(StoreFolderPath(kLocal), FullPath(own) + L"\\");
}

// What Windows answers for a store folder's reparse point, which Wine never gives: a link of a kind the program does
// not follow (IO_REPARSE_TAG_LX_SYMLINK, WSL's; IO_REPARSE_TAG_WCI_LINK_1, a container's) is refused, and so is a
// junction whose final path cannot be asked (GetFinalPathNameByHandleW fails on some network redirectors, and for a
// volume mounted without a drive letter in the DOS form). A reparse point that is no name surrogate
// (IO_REPARSE_TAG_CLOUD_3, a synced folder; IO_REPARSE_TAG_DEDUP) is the folder itself.
TEST_F(PlacesTest, AStoreFolderIsRefusedForALinkThatIsNotFollowedOrNotResolved) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    const auto sameFolder = [](const std::wstring& a, const std::wstring& b) {
        return SameFileName(FullPath(a + L"\\"), FullPath(b + L"\\"));
    };
    std::optional<DWORD> tag;
    const std::wstring folder = Named(kUser);
    const auto attributes = seam::LinkAttributes.Replace([&](const std::wstring& path) {
        const DWORD real = seam::LinkAttributes.Real(path);
        return sameFolder(path, folder) ? real | FILE_ATTRIBUTE_REPARSE_POINT : real;
    });
    const auto tags = seam::ReparseTag.Replace(
        [&](const std::wstring& path) { return sameFolder(path, folder) ? tag : seam::ReparseTag.Real(path); });
    const auto finalPaths = seam::FinalPath.Replace([&](const std::wstring& path, bool follow, DWORD volume) {
        return sameFolder(path, folder) && follow ? std::nullopt : seam::FinalPath.Real(path, follow, volume);
    });
    for (const DWORD refused : {DWORD{0xA000001D}, DWORD{0xA0000027}, DWORD{IO_REPARSE_TAG_MOUNT_POINT}}) {
        SCOPED_TRACE(refused);
        tag = refused;
        const StoreStart start = PrepareStore();
        ASSERT_EQ(start.refusedFolders.size(), 1u);
        EXPECT_EQ(start.refusedFolders[0].folder, folder);
        EXPECT_STREQ(start.refusedFolders[0].why, refused == IO_REPARSE_TAG_MOUNT_POINT ? text::kFolderLinkUnresolved
                                                                                        : text::kFolderLinkNotFollowed);
        EXPECT_THAT(Listed(), IsEmpty());
        EXPECT_THAT(StoreNames(kUser), IsEmpty());
    }
    for (const DWORD own : {DWORD{0x9000301A}, DWORD{0x80000013}}) {
        SCOPED_TRACE(own);
        tag = own;
        EXPECT_THAT(RefusedNames(PrepareStore()), IsEmpty());
        EXPECT_THAT(Listed(), ElementsAre(L"2 Tool"));
        EXPECT_THAT(StoreNames(kUser), ElementsAre(L"Tool.lnk"));
    }
}

// The program's own folder reached through a link (it works today, and stays so): nothing of the store is a link
// of its own, and entries are switched off into the folder the link names.
TEST_F(PlacesTest, TheProgramsFolderReachedThroughALinkIsFine) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    const std::wstring through = m_root / L"Through";
    if (!MakeFileSymlink(through, m_programDir.substr(0, m_programDir.size() - 1))) {
        GTEST_SKIP() << "this system lets the test make no symbolic link";
    }
    SetProgramDir(through);
    EXPECT_THAT(PrepareStore().refusedFolders, IsEmpty());
    EXPECT_EQ(ProgramDir(), through + L"\\") << "the program is named by the path it was started from";
    EXPECT_THAT(Listed(), ElementsAre(L"2 Tool"));
    DisableEntry(Row(kUser, L"Tool"));
    EXPECT_TRUE(PathExists(m_programDir + L"NoRun\\User\\Tool.lnk"));
}

// A Startup shortcut that Explorer or a scanner holds cannot take an edit: the write-back names that entry and
// goes on with the others, and the import and the list go on as well.
TEST_F(PlacesTest, AWriteBackThatFailsForOneEntryNamesItAndGoesOn) {
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"notes");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    ::Sleep(250); // the shortcut's stamp settled: the import keeps it as the base
    m_session.Refresh(true, nullptr);
    WriteShortcut(StorePath(kStartUp, L"Notes"), L"c:\\notes.exe", L"edited");
    WriteShortcut(StorePath(kUser, L"Tool"), L"", L"c:\\tool.exe /edited");
    m_registry.SetRunValue(Location::User, L"New", L"c:\\new.exe");
    ::Sleep(250);
    {
        const UniqueFile held = HoldFile(StartupPath(L"Notes.lnk"), 0);
        m_session.Refresh(true, nullptr);
    }
    const auto failures = m_session.TakeWriteBackFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].name, L"Notes");
    EXPECT_FALSE(failures[0].needsRights);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe /edited");
    EXPECT_THAT(Listed(), UnorderedElementsAre(L"2 New", L"2 Tool", L"3 Notes"));
    EXPECT_TRUE(PathExists(StorePath(kUser, L"New")));
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).description, L"edited") << "carried once it is free";
}

// The edit of a store link whose shortcut is held keeps its base through the import that could not read the
// shortcut, even where that base was taken right after the shortcut changed: the next write-back carries it.
TEST_F(PlacesTest, AnEditThatCouldNotBeWrittenIsCarriedOnceTheShortcutIsFree) {
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"notes");
    m_session.Refresh(true, nullptr); // at once: the shortcut's stamp is not yet settled
    WriteShortcut(StorePath(kStartUp, L"Notes"), L"c:\\notes.exe", L"edited");
    ::Sleep(250);
    {
        const UniqueFile held = HoldFile(StartupPath(L"Notes.lnk"), 0);
        m_session.Refresh(true, nullptr);
    }
    EXPECT_EQ(m_session.TakeWriteBackFailures().size(), 1u);
    m_session.Refresh(true, nullptr);
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).description, L"edited");
}

} // namespace
} // namespace bw::test
