#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "store/EntryOperations.h"
#include "store/Import.h"
#include "store/StartupApproved.h"
#include "store/StoreSession.h"

namespace bw::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

constexpr const wchar_t* kRun32Path = L"Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";

// Without an administrator's rights (a standard user, or an administrator under UAC, as Windows runs most
// programs), HKLM's keys can be read but not changed.
class StandardUserTest : public SessionTest {
protected:
    void SetApprovalFlag(HKEY root, const wchar_t* subkey, const std::wstring& name, BYTE first) {
        std::string bytes(12, '\0');
        bytes[0] = static_cast<char>(first);
        m_registry.SetValue(root, std::wstring(kStartupApprovedPath) + subkey, name, REG_BINARY, bytes.data(), 12);
    }
};

// Both views of HKLM are listed with their switched-off entries, as Windows' own settings list them to every
// user; nothing of HKLM's store folders is lost for want of rights.
TEST_F(StandardUserTest, SeesEveryEntryOfBothViewsOfHklm) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    m_registry.SetText(HKEY_LOCAL_MACHINE, kRun32Path, L"Updater32", L"c:\\x86\\update.exe");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    const StandardUser standardUser(true);
    RecomputeLocations();
    ASSERT_TRUE(HasSeparate32BitView()) << "the view is found with read access";
    CreateStoreFolders();
    WriteShortcut(StorePath(kLocal32OffCode, L"Old32"), L"c:\\x86\\old.exe", L"c:\\x86\\old.exe");
    WriteShortcut(StorePath(kLocalOff, L"Old"), L"c:\\old.exe", L"c:\\old.exe");

    EXPECT_THAT(Listed(), UnorderedElementsAre(L"1 Agent", L"7 Updater32", L"2 Tool", L"4 Old", L"8 Old32"));
    EXPECT_TRUE(PathExists(StorePath(kLocal, L"Agent"))) << "mirrored, so it can be switched off once elevated";
    EXPECT_TRUE(PathExists(StorePath(kLocal32Code, L"Updater32")));
}

// A key the user may not even read says nothing about its entries: their mirrors are neither emptied nor
// rewritten.
TEST_F(StandardUserTest, AKeyThatRefusesReadingLeavesItsMirrorsAlone) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    m_session.Refresh(false, nullptr);
    const std::string mirror = ReadFileBytes(StorePath(kLocal, L"Agent"));
    const auto refuse =
        seam::OpenRegistryKey.Replace([](HKEY root, const std::wstring& path, REGSAM access, HKEY* key) {
            return root == HKEY_LOCAL_MACHINE && path == kRunKeyPath
                       ? static_cast<LONG>(ERROR_ACCESS_DENIED)
                       : seam::OpenRegistryKey.Real(root, path, access, key);
        });
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe"); // something changed: the import runs
    m_session.Refresh(false, nullptr);
    ASSERT_TRUE(PathExists(StorePath(kLocal, L"Agent")));
    EXPECT_EQ(ReadFileBytes(StorePath(kLocal, L"Agent")), mirror);
}

// Switching off, switching on, allowing to start and deleting an HKLM entry change nothing anywhere (no store
// link moved, no value or flag written) and say that administrator rights are needed. What lives in the store
// alone stays the user's to change.
TEST_F(StandardUserTest, ChangesThatNeedRightsChangeNothingAndSaySo) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    m_registry.SetRunValue(Location::Local, L"Held", L"c:\\held.exe");
    SetApprovalFlag(HKEY_LOCAL_MACHINE, L"Run", L"Held", 0x03);
    WriteShortcut(StorePath(kLocalOff, L"Old"), L"c:\\old.exe", L"c:\\old.exe");
    WriteShortcut(StorePath(kLocalOff, L"Gone"), L"c:\\gone.exe", L"c:\\gone.exe");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    const StandardUser standardUser;
    m_session.Refresh(false, nullptr);
    const std::string heldFlag = ApprovalFlagAt(HKEY_LOCAL_MACHINE, L"Run", L"Held");

    const std::wstring needsRights = L"Changing \"Agent\" needs administrator rights";
    EXPECT_THAT(MessageOf<ERightsMissing>([&] { DisableEntry(Row(kLocal, L"Agent")); }), HasSubstr(needsRights));
    EXPECT_FALSE(PathExists(StorePath(kLocalOff, L"Agent"))) << "no store link written";
    EXPECT_TRUE(m_registry.RunValue(Location::Local, L"Agent"));

    EXPECT_THAT(MessageOf<ERightsMissing>([&] { EnableEntry(Row(kLocalOff, L"Old"), nullptr); }),
                HasSubstr(L"\"Old\""));
    EXPECT_TRUE(PathExists(StorePath(kLocalOff, L"Old"))) << "the store link stays where it was";
    EXPECT_FALSE(m_registry.RunValue(Location::Local, L"Old"));

    EXPECT_THAT(MessageOf<ERightsMissing>([&] { AllowEntryToStart(Row(kLocal, L"Held")); }), HasSubstr(L"\"Held\""));
    EXPECT_EQ(ApprovalFlagAt(HKEY_LOCAL_MACHINE, L"Run", L"Held"), heldFlag);

    EXPECT_THAT(MessageOf<ERightsMissing>([&] { bw::DeleteEntry(Row(kLocal, L"Agent")); }), HasSubstr(needsRights));
    EXPECT_TRUE(m_registry.RunValue(Location::Local, L"Agent"));

    // The store and HKCU are the user's own.
    bw::DeleteEntry(Row(kLocalOff, L"Gone"));
    EXPECT_FALSE(PathExists(StorePath(kLocalOff, L"Gone")));
    DisableEntry(Row(kUser, L"Tool"));
    EXPECT_TRUE(PathExists(StorePath(kUserOff, L"Tool")));
}

// Where the Run key may be changed but the key of Windows' own switch may not, switching on stops before the
// value is written: the flag would otherwise keep the entry from starting with the box set.
TEST_F(StandardUserTest, AFlagThatMayNotBeChangedStopsTheSwitchingOnFirst) {
    WriteShortcut(StorePath(kUserOff, L"Tool"), L"c:\\tool.exe", L"c:\\tool.exe");
    SetApprovalFlag(HKEY_CURRENT_USER, L"Run", L"Tool", 0x03);
    m_session.Refresh(false, nullptr);
    const auto refuseFlags =
        seam::OpenRegistryKey.Replace([](HKEY root, const std::wstring& path, REGSAM access, HKEY* key) {
            const bool flags = path.find(L"StartupApproved") != std::wstring::npos && (access & KEY_SET_VALUE);
            return flags ? static_cast<LONG>(ERROR_ACCESS_DENIED) : seam::OpenRegistryKey.Real(root, path, access, key);
        });
    EXPECT_THROW(EnableEntry(Row(kUserOff, L"Tool"), nullptr), ERightsMissing);
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_TRUE(PathExists(StorePath(kUserOff, L"Tool")));
}

// An edit of an HKLM entry's store link (its property sheet) cannot be written without rights: it is named
// once, stays in the store, and the refresh goes on for everything else.
TEST_F(StandardUserTest, AnEditThatNeedsRightsIsNamedOnceAndStaysInTheStore) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    const StandardUser standardUser;
    m_session.Refresh(false, nullptr);
    WriteShortcut(StorePath(kLocal, L"Agent"), L"", L"c:\\agent.exe /edited");
    WriteShortcut(StorePath(kUser, L"Tool"), L"", L"c:\\tool.exe /edited");
    ::Sleep(250); // settled stamps: the refresh tells the edits by them

    m_session.Refresh(true, nullptr);
    const auto failures = m_session.TakeWriteBackFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].name, L"Agent");
    EXPECT_TRUE(failures[0].needsRights);
    EXPECT_EQ(m_registry.RunValue(Location::Local, L"Agent")->text, L"c:\\agent.exe");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe /edited") << "the rest goes on";
    EXPECT_EQ(ReadShortcut(StorePath(kLocal, L"Agent")).description, L"c:\\agent.exe /edited");

    m_registry.SetRunValue(Location::User, L"New", L"c:\\new.exe");
    m_session.Refresh(true, nullptr);
    EXPECT_THAT(m_session.TakeWriteBackFailures(), IsEmpty()) << "named once";
    EXPECT_EQ(ReadShortcut(StorePath(kLocal, L"Agent")).description, L"c:\\agent.exe /edited");
    EXPECT_TRUE(PathExists(StorePath(kUser, L"New")));
}

} // namespace
} // namespace bw::test
