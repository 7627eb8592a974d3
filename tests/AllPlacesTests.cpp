#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/ShellLink.h"
#include "resources/Texts.h"
#include "store/EntryOperations.h"
#include "store/StartupApproved.h"
#include "store/StoreSession.h"

namespace bw::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::UnorderedElementsAre;

// The places beyond the Run keys and the user's Startup folder that Windows starts programs from at log-on.
class AllPlacesTest : public SessionTest {
protected:
    void SetFlag(HKEY root, const wchar_t* subkey, const std::wstring& name, BYTE first) {
        std::string bytes(12, '\0');
        bytes[0] = static_cast<char>(first);
        m_registry.SetValue(root, std::wstring(kStartupApprovedPath) + subkey, name, REG_BINARY, bytes.data(), 12);
    }
    std::optional<std::wstring> ValueAt(HKEY root, const wchar_t* path, const std::wstring& name) {
        TRegistry registry;
        registry.SelectRoot(root);
        if (!registry.OpenExistingKey(path)) {
            return std::nullopt;
        }
        const auto value = registry.Value(name);
        return value ? std::optional<std::wstring>(value->Text()) : std::nullopt;
    }
    // Every file below the store's folders, by name.
    std::vector<std::wstring> EveryStoreLink() {
        std::vector<std::wstring> names;
        for (int code : AllCodes()) {
            for (const std::wstring& name : StoreNames(code, true)) {
                names.push_back(std::to_wstring(code) + L" " + name);
            }
        }
        return names;
    }
};

// The all-users Startup folder is a place of its own: listed under its code, mirrored into its own store folder,
// switched off into its own disabled folder and on again byte for byte, and never mixed with the user's folder,
// which may hold a shortcut of the same name.
TEST_F(AllPlacesTest, TheAllUsersFolderIsSwitchedOffAndOnByteForByte) {
    WriteShortcut(CommonPath(L"Shared.lnk"), L"c:\\shared\\sync.exe", L"for everyone");
    WriteShortcut(StartupPath(L"Shared.lnk"), L"c:\\mine\\own.exe", L"mine");
    const std::string bytes = ReadFileBytes(CommonPath(L"Shared.lnk"));
    const std::string mine = ReadFileBytes(StartupPath(L"Shared.lnk"));

    EXPECT_THAT(Listed(), UnorderedElementsAre(L"3 Shared", L"9 Shared"));
    EXPECT_EQ(ReadFileBytes(StorePath(kCommon, L"Shared")), bytes);
    EXPECT_EQ(Row(kCommon, L"Shared").target, L"c:\\shared\\sync.exe");

    DisableEntry(Row(kCommon, L"Shared"));
    EXPECT_FALSE(PathExists(CommonPath(L"Shared.lnk")));
    EXPECT_EQ(ReadFileBytes(StorePath(kCommonOff, L"Shared")), bytes);
    EXPECT_EQ(ReadFileBytes(StartupPath(L"Shared.lnk")), mine) << "the user's own shortcut stays";
    EXPECT_THAT(Listed(), UnorderedElementsAre(L"3 Shared", L"10 Shared"));

    EnableEntry(Row(kCommonOff, L"Shared"), nullptr);
    EXPECT_EQ(ReadFileBytes(CommonPath(L"Shared.lnk")), bytes);
    EXPECT_FALSE(PathExists(StorePath(kCommonOff, L"Shared")));
    EXPECT_THAT(Listed(), UnorderedElementsAre(L"3 Shared", L"9 Shared"));

    bw::DeleteEntry(Row(kCommon, L"Shared"));
    EXPECT_FALSE(PathExists(CommonPath(L"Shared.lnk")));
    EXPECT_TRUE(PathExists(StartupPath(L"Shared.lnk")));
    EXPECT_THAT(Listed(), UnorderedElementsAre(L"3 Shared"));

    const std::wstring added = AddStartupShortcut(kCommonCode, L"c:\\tools\\new.exe", L"New");
    EXPECT_EQ(added, CommonPath(L"New.lnk"));
    EXPECT_THAT(Listed(), Contains(L"9 New"));
}

// Windows' own switch for the all-users folder is HKLM's "StartupFolder" flag, by file name; the user's flag of
// the same name belongs to the user's folder. Switching on clears HKLM's flag, as for the other places.
TEST_F(AllPlacesTest, TheAllUsersFoldersWindowsSwitchIsHklmsAndIsCleared) {
    WriteShortcut(CommonPath(L"Shared.lnk"), L"c:\\shared\\sync.exe");
    WriteShortcut(StartupPath(L"Mine.lnk"), L"c:\\mine.exe");
    SetFlag(HKEY_LOCAL_MACHINE, L"StartupFolder", L"Shared.lnk", 0x03);
    SetFlag(HKEY_CURRENT_USER, L"StartupFolder", L"Mine.lnk", 0x03);
    SetFlag(HKEY_LOCAL_MACHINE, L"StartupFolder", L"Mine.lnk", 0x02);
    m_session.Refresh(false, nullptr);
    EXPECT_TRUE(Row(kCommon, L"Shared").switchedOffInWindows);
    EXPECT_TRUE(Row(kStartUp, L"Mine").switchedOffInWindows);

    AllowEntryToStart(Row(kCommon, L"Shared"));
    EXPECT_EQ(ApprovalFlagAt(HKEY_LOCAL_MACHINE, L"StartupFolder", L"Shared.lnk")[0], '\x02');
    EXPECT_EQ(ApprovalFlagAt(HKEY_CURRENT_USER, L"StartupFolder", L"Mine.lnk")[0], '\x03');
    m_session.Refresh(false, nullptr);
    EXPECT_FALSE(Row(kCommon, L"Shared").switchedOffInWindows);

    // Switched off here and on again, a flag set meanwhile goes too: switched on here means it starts.
    DisableEntry(Row(kCommon, L"Shared"));
    SetFlag(HKEY_LOCAL_MACHINE, L"StartupFolder", L"Shared.lnk", 0x03);
    m_session.Refresh(false, nullptr);
    EnableEntry(Row(kCommonOff, L"Shared"), nullptr);
    EXPECT_EQ(ApprovalFlagAt(HKEY_LOCAL_MACHINE, L"StartupFolder", L"Shared.lnk")[0], '\x02');
}

// Without an administrator's rights the all-users folder is listed and mirrored, but every change of it is refused
// before anything moves, saying that administrator rights are needed (the window then offers the restart). The
// user's own folder stays the user's to change.
TEST_F(AllPlacesTest, TheAllUsersFolderNeedsRightsAndChangesNothingWithout) {
    WriteShortcut(CommonPath(L"Shared.lnk"), L"c:\\shared\\sync.exe");
    WriteShortcut(StorePath(kCommonOff, L"Old"), L"c:\\old.exe");
    WriteShortcut(StartupPath(L"Mine.lnk"), L"c:\\mine.exe");
    const StandardUser standardUser;
    EXPECT_THAT(Listed(), UnorderedElementsAre(L"9 Shared", L"10 Old", L"3 Mine"));
    EXPECT_TRUE(PathExists(StorePath(kCommon, L"Shared"))) << "mirrored, so it can be switched off once elevated";

    const std::wstring needsRights = L"Changing \"Shared\" needs administrator rights";
    EXPECT_THAT(MessageOf<ERightsMissing>([&] { DisableEntry(Row(kCommon, L"Shared")); }), HasSubstr(needsRights));
    EXPECT_TRUE(PathExists(CommonPath(L"Shared.lnk")));
    EXPECT_FALSE(PathExists(StorePath(kCommonOff, L"Shared")));

    EXPECT_THAT(MessageOf<ERightsMissing>([&] { EnableEntry(Row(kCommonOff, L"Old"), nullptr); }),
                HasSubstr(L"\"Old\""));
    EXPECT_TRUE(PathExists(StorePath(kCommonOff, L"Old")));
    EXPECT_FALSE(PathExists(CommonPath(L"Old.lnk")));

    EXPECT_THAT(MessageOf<ERightsMissing>([&] { bw::DeleteEntry(Row(kCommon, L"Shared")); }), HasSubstr(needsRights));
    EXPECT_TRUE(PathExists(CommonPath(L"Shared.lnk")));

    EXPECT_THROW(AddStartupShortcut(kCommonCode, L"c:\\tools\\new.exe", L"New"), ERightsMissing);
    EXPECT_FALSE(PathExists(CommonPath(L"New.lnk")));

    DisableEntry(Row(kStartUp, L"Mine"));
    EXPECT_TRUE(PathExists(StorePath(kStartUpOff, L"Mine")));
}

// An edit of an all-users entry's store link cannot be carried without rights: it stays in the store, named as
// one that needs rights, and the shortcut stays as it is.
TEST_F(AllPlacesTest, AnEditOfTheAllUsersFolderWaitsForRights) {
    WriteShortcut(CommonPath(L"Shared.lnk"), L"c:\\shared\\sync.exe");
    const StandardUser standardUser;
    m_session.Refresh(false, nullptr);
    const std::string before = ReadFileBytes(CommonPath(L"Shared.lnk"));
    EditShortcut(StorePath(kCommon, L"Shared"), [](TShellLink& link) { (void)link.SetArguments(L"/edited"); });
    ::Sleep(250); // settled stamps: the refresh tells the edit by them

    m_session.Refresh(true, nullptr);
    const auto failures = m_session.TakeWriteBackFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].name, L"Shared");
    EXPECT_TRUE(failures[0].needsRights);
    EXPECT_EQ(ReadFileBytes(CommonPath(L"Shared.lnk")), before);
}

// The policy Run keys and the RunOnce keys are listed with their places and why each entry is not switched here;
// nothing of them goes into the store, and switching off, switching on and deleting are refused with that reason,
// leaving every value as it is.
TEST_F(AllPlacesTest, PolicyAndRunOnceEntriesAreListedReadOnlyWithTheirReasons) {
    m_registry.SetText(HKEY_LOCAL_MACHINE, kPolicyRunKeyPath, L"Agent", L"c:\\corp\\agent.exe");
    m_registry.SetText(HKEY_CURRENT_USER, kPolicyRunKeyPath, L"Hidden", L"c:\\users\\x\\hidden.exe");
    m_registry.SetText(HKEY_LOCAL_MACHINE, kRunOnceKeyPath, L"Setup", L"c:\\setup\\finish.exe");
    m_registry.SetText(HKEY_CURRENT_USER, kRunOnceKeyPath, L"!Retry", L"c:\\retry.exe");
    m_registry.SetText(HKEY_CURRENT_USER, kRunOnceKeyPath, L"*Safe", L"c:\\safe.exe");
    m_registry.SetText(HKEY_CURRENT_USER, kRunOnceKeyPath, L"*!Both", L"c:\\both.exe");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");

    EXPECT_THAT(Listed(), UnorderedElementsAre(L"11 Agent", L"13 Hidden", L"14 Setup", L"16 !Retry", L"16 *Safe",
                                               L"16 *!Both", L"2 Tool"));
    EXPECT_EQ(Row(kPolicyLocalCode, L"Agent").problem, EntryProblem::PolicySetsIt);
    EXPECT_EQ(Row(kPolicyUserCode, L"Hidden").problem, EntryProblem::PolicySetsIt);
    EXPECT_EQ(Row(kOnceLocalCode, L"Setup").problem, EntryProblem::RunsOnce);
    EXPECT_EQ(Row(kOnceUserCode, L"!Retry").problem, EntryProblem::RunsOnceUntilDone);
    EXPECT_EQ(Row(kOnceUserCode, L"*Safe").problem, EntryProblem::RunsOnceInSafeMode);
    EXPECT_EQ(Row(kOnceUserCode, L"*!Both").problem, EntryProblem::RunsOnceUntilDoneInSafeMode);
    EXPECT_EQ(Row(kPolicyLocalCode, L"Agent").description, L"c:\\corp\\agent.exe");
    EXPECT_EQ(Row(kPolicyLocalCode, L"Agent").storeLinkPath, L"");
    EXPECT_THAT(EveryStoreLink(), UnorderedElementsAre(std::to_wstring(kUser) + L" Tool.lnk"));

    const Entry agent = Row(kPolicyLocalCode, L"Agent");
    EXPECT_THAT(MessageOf<EEntryRefused>([&] { DisableEntry(agent); }),
                HasSubstr(L"\"Agent\" is not changed here. A policy sets this entry"));
    EXPECT_THAT(MessageOf<EEntryRefused>([&] { bw::DeleteEntry(agent); }), HasSubstr(L"A policy sets"));
    EXPECT_THAT(MessageOf<EEntryRefused>([&] { AllowEntryToStart(agent); }), HasSubstr(L"A policy sets"));
    const Entry setup = Row(kOnceLocalCode, L"Setup");
    EXPECT_THAT(MessageOf<EEntryRefused>([&] { DisableEntry(setup); }), HasSubstr(L"runs once at the next log-on"));
    EXPECT_THAT(MessageOf<EEntryRefused>([&] { bw::DeleteEntry(setup); }), HasSubstr(L"runs once"));
    EXPECT_EQ(ValueAt(HKEY_LOCAL_MACHINE, kPolicyRunKeyPath, L"Agent"), L"c:\\corp\\agent.exe");
    EXPECT_EQ(ValueAt(HKEY_LOCAL_MACHINE, kRunOnceKeyPath, L"Setup"), L"c:\\setup\\finish.exe");
    EXPECT_THAT(EveryStoreLink(), UnorderedElementsAre(std::to_wstring(kUser) + L" Tool.lnk"));

    // Gone from its key, gone from the list; nothing in the store was ever its.
    m_registry.DeleteKey(HKEY_LOCAL_MACHINE, kRunOnceKeyPath);
    EXPECT_THAT(Listed(), Not(Contains(L"14 Setup")));
}

// On a system with a 32-bit view, a key that WOW64 shares between the views is one key: its entries are listed
// once, under the native view's place. A key of the 32-bit view's own is a place of its own.
TEST_F(AllPlacesTest, AKeySharedBetweenTheViewsIsListedOnce) {
    // Windows' answer on 64-bit Windows, where the Run and RunOnce keys are redirected and (here) the policy key
    // is shared: a 32-bit open of a redirected key lands below WOW6432Node, one of a shared key on the key itself.
    const auto views = seam::OpenRegistryKey.Replace([](HKEY root, const std::wstring& path, REGSAM access, HKEY* key) {
        std::wstring target = path;
        const bool shared = path.find(L"Policies") != std::wstring::npos;
        if (root == HKEY_LOCAL_MACHINE && (access & KEY_WOW64_32KEY) && !shared &&
            SameFileName(path.substr(0, 9), L"Software\\")) {
            target = L"Software\\WOW6432Node\\" + path.substr(9);
        }
        // Asked without the flag: the scratch registry's keys are not Wine's own redirected ones.
        return seam::OpenRegistryKey.Real(root, target, access & ~static_cast<REGSAM>(KEY_WOW64_32KEY), key);
    });
    m_registry.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run");
    RecomputeLocations();
    ASSERT_TRUE(HasSeparate32BitView());
    CreateStoreFolders();
    m_registry.SetText(HKEY_LOCAL_MACHINE, kPolicyRunKeyPath, L"Agent", L"c:\\corp\\agent.exe");
    m_registry.SetText(HKEY_LOCAL_MACHINE, kRunOnceKeyPath, L"Setup", L"c:\\setup.exe");
    m_registry.SetText(HKEY_LOCAL_MACHINE, L"Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                       L"Setup32", L"c:\\x86\\setup.exe");

    EXPECT_THAT(Listed(), UnorderedElementsAre(L"11 Agent", L"14 Setup", L"15 Setup32"));
    EXPECT_FALSE(m_session.Refresh(false, nullptr)) << "a refresh in which nothing changed does nothing";
}

// A refresh in which none of the new places changed does nothing, and one in which one of them changed shows it.
TEST_F(AllPlacesTest, TheNewPlacesChangeTheListOnlyWhenTheyChange) {
    WriteShortcut(CommonPath(L"Shared.lnk"), L"c:\\shared\\sync.exe");
    m_registry.SetText(HKEY_CURRENT_USER, kPolicyRunKeyPath, L"Hidden", L"c:\\hidden.exe");
    m_registry.SetText(HKEY_CURRENT_USER, kRunOnceKeyPath, L"Once", L"c:\\once.exe");
    m_session.Refresh(false, nullptr);
    ::Sleep(250); // past the clock's step: the stamps alone tell that nothing changed
    m_session.Refresh(false, nullptr);
    EXPECT_FALSE(m_session.Refresh(false, nullptr));

    m_registry.SetText(HKEY_CURRENT_USER, kRunOnceKeyPath, L"Twice", L"c:\\twice.exe");
    EXPECT_TRUE(m_session.Refresh(false, nullptr));
    EXPECT_THAT(Listed(), Contains(L"16 Twice"));
    WriteShortcut(CommonPath(L"More.lnk"), L"c:\\more.exe");
    EXPECT_TRUE(m_session.Refresh(false, nullptr));
    EXPECT_THAT(Listed(), Contains(L"9 More"));
}

} // namespace
} // namespace bw::test
