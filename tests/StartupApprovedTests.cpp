#include "TestEnvironment.h"

#include "platform/Registry.h"
#include "store/EntryOperations.h"
#include "store/StartupApproved.h"
#include "store/StoreSession.h"

#include <map>

namespace bw::test {
namespace {

using ::testing::UnorderedElementsAre;

// A flag as Windows' own switch writes it: twelve bytes, the first saying whether the entry may start.
std::string Flag(BYTE first, size_t size = 12) {
    std::string bytes(size, '\x11');
    bytes[0] = static_cast<char>(first);
    return bytes;
}

class StartupApprovedTest : public StoreTest {
protected:
    void SetFlag(HKEY root, const wchar_t* subkey, const std::wstring& name, const std::string& bytes,
                 DWORD type = REG_BINARY) {
        m_registry.SetValue(root, std::wstring(kStartupApprovedPath) + subkey, name, type, bytes.data(),
                            static_cast<DWORD>(bytes.size()));
    }
    std::map<std::wstring, bool> SwitchedOff() {
        m_session.Refresh(false, nullptr);
        std::map<std::wstring, bool> off;
        for (const Entry& entry : m_session.Entries()) {
            off[std::to_wstring(entry.code) + L" " + entry.name] = entry.switchedOffInWindows;
        }
        return off;
    }

    TStoreSession m_session;
};

// Each location's flags are read from its own place; only twelve bytes of REG_BINARY with an odd first byte
// keep an entry from starting, and anything else, however odd, never stops the program.
TEST_F(StartupApprovedTest, FlagsAreReadFromEachPlaceAndOnlyAnOddOneSwitchesOff) {
    for (const wchar_t* name : {L"Odd3", L"Odd7", L"Even2", L"Even6", L"Short", L"Long", L"Number", L"None"}) {
        m_registry.SetRunValue(Location::User, name, L"c:\\tool.exe");
    }
    m_registry.SetRunValue(Location::Local, L"Machine", L"c:\\tool.exe");
    m_registry.SetRunValue(Location::Local, L"UserFlagOnly", L"c:\\tool.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"notes");
    WriteShortcut(StartupPath(L"Clock.lnk"), L"c:\\clock.exe", L"clock");
    SetFlag(HKEY_CURRENT_USER, L"Run", L"Odd3", Flag(0x03));
    SetFlag(HKEY_CURRENT_USER, L"Run", L"Odd7", Flag(0x07));
    SetFlag(HKEY_CURRENT_USER, L"Run", L"Even2", Flag(0x02));
    SetFlag(HKEY_CURRENT_USER, L"Run", L"Even6", Flag(0x06));
    SetFlag(HKEY_CURRENT_USER, L"Run", L"Short", Flag(0x03, 8));
    SetFlag(HKEY_CURRENT_USER, L"Run", L"Long", Flag(0x03, 16));
    SetFlag(HKEY_CURRENT_USER, L"Run", L"Number", std::string("\x03\0\0\0", 4), REG_DWORD);
    SetFlag(HKEY_LOCAL_MACHINE, L"Run", L"Machine", Flag(0x03));
    SetFlag(HKEY_CURRENT_USER, L"Run", L"UserFlagOnly", Flag(0x03)); // another location's flag
    SetFlag(HKEY_CURRENT_USER, L"StartupFolder", L"Notes.lnk", Flag(0x03));
    SetFlag(HKEY_CURRENT_USER, L"StartupFolder", L"Clock", Flag(0x03)); // not the file's name

    const auto off = SwitchedOff();
    EXPECT_EQ(off, (std::map<std::wstring, bool>{
                       {L"1 Machine", true},
                       {L"1 UserFlagOnly", false},
                       {L"2 Even2", false},
                       {L"2 Even6", false},
                       {L"2 Long", false},
                       {L"2 None", false},
                       {L"2 Number", false},
                       {L"2 Odd3", true},
                       {L"2 Odd7", true},
                       {L"2 Short", false},
                       {L"3 Clock", false},
                       {L"3 Notes", true},
                   }));
    EXPECT_TRUE(KeepsFromStarting({L"x", REG_BINARY, Flag(0x03)}));
    EXPECT_FALSE(KeepsFromStarting({L"x", REG_BINARY, ""}));

    // A change of a flag alone is seen by the next refresh.
    SetFlag(HKEY_CURRENT_USER, L"Run", L"Even2", Flag(0x03));
    ::Sleep(150);
    EXPECT_TRUE(SwitchedOff()[L"2 Even2"]);
}

// Switching on sets exactly the entry's own flag to "may start"; switching off writes no flag at all.
TEST_F(StartupApprovedTest, OnlyTheEntrysOwnFlagIsEverWritten) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\other.exe");
    m_registry.SetRunValue(Location::User, L"Plain", L"c:\\plain.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"notes");
    SetFlag(HKEY_CURRENT_USER, L"Run", L"Tool", Flag(0x03));
    SetFlag(HKEY_CURRENT_USER, L"Run", L"Other", Flag(0x07));
    SetFlag(HKEY_CURRENT_USER, L"StartupFolder", L"Notes.lnk", Flag(0x03));
    SetFlag(HKEY_LOCAL_MACHINE, L"Run", L"Tool", Flag(0x03));
    m_session.Refresh(false, nullptr);

    Entry tool;
    for (const Entry& entry : m_session.Entries()) {
        if (entry.code == kUser && entry.name == L"Tool") {
            tool = entry;
        }
    }
    ASSERT_TRUE(tool.switchedOffInWindows);
    AllowEntryToStart(tool);
    std::string allowed(12, '\0');
    allowed[0] = 0x02;
    EXPECT_EQ(ApprovalFlagAt(HKEY_CURRENT_USER, L"Run", L"Tool"), allowed);
    EXPECT_EQ(ApprovalFlagAt(HKEY_CURRENT_USER, L"Run", L"Other"), Flag(0x07));
    EXPECT_EQ(ApprovalFlagAt(HKEY_LOCAL_MACHINE, L"Run", L"Tool"), Flag(0x03)) << "another location's flag";
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe");
    EXPECT_FALSE(SwitchedOff()[L"2 Tool"]);

    // Switching off moves the entry to the store and writes no flag; switching it on again from there clears
    // a flag that would keep it from starting.
    m_session.Refresh(false, nullptr);
    for (const Entry& entry : m_session.Entries()) {
        if (entry.name == L"Plain" || (entry.code == kStartUp && entry.name == L"Notes")) {
            DisableEntry(entry);
        }
    }
    EXPECT_EQ(ApprovalFlagAt(HKEY_CURRENT_USER, L"Run", L"Plain"), "(none)");
    SetFlag(HKEY_CURRENT_USER, L"Run", L"Plain", Flag(0x03));
    m_session.Refresh(false, nullptr);
    for (const Entry& entry : m_session.Entries()) {
        if (!IsEnabledCode(entry.code)) {
            EnableEntry(entry, nullptr);
        }
    }
    EXPECT_EQ(ApprovalFlagAt(HKEY_CURRENT_USER, L"Run", L"Plain"), allowed);
    EXPECT_EQ(ApprovalFlagAt(HKEY_CURRENT_USER, L"StartupFolder", L"Notes.lnk"), allowed);
    EXPECT_THAT(m_registry.RunValueNames(Location::User), UnorderedElementsAre(L"Tool", L"Other", L"Plain"));
}

// On the real registry (read only), HKLM's two views are two keys, and the 32-bit location opens the 32-bit one
// by naming the view, never through the redirected path.
TEST(RegistryViewTest, The32BitLocationOpensThe32BitViewOfHklm) {
    const auto nameOf = [](int code) {
        TRegistry registry;
        registry.SelectRoot(RegistryRoot(code));
        return registry.OpenExistingKey(L"Software\\Microsoft\\Windows\\CurrentVersion", RegistryView(code))
                   ? FoldedName(registry.KeyName())
                   : std::wstring(L"(no key)");
    };
    RecomputeLocations();
    if (!HasSeparate32BitView()) {
        GTEST_SKIP() << "this system has no separate 32-bit view";
    }
    EXPECT_EQ(nameOf(kLocal32Code), L"\\REGISTRY\\MACHINE\\SOFTWARE\\WOW6432NODE\\MICROSOFT\\WINDOWS\\CURRENTVERSION");
    EXPECT_EQ(nameOf(kLocal), L"\\REGISTRY\\MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION");
    EXPECT_EQ(RegistryView(kLocal32Code), static_cast<REGSAM>(KEY_WOW64_32KEY));
    EXPECT_EQ(RegistryView(kLocal32OffCode), static_cast<REGSAM>(KEY_WOW64_32KEY));
    EXPECT_EQ(LocationText(kLocal32Code), L"7 - Registry (HKLM 32-bit)");
    EXPECT_EQ(ListRankOf(kLocal32Code), ListRankOf(kLocal) + 1) << "listed beside HKLM's own entries";
}

// In a registry whose HKLM is a key of its own (the tests' scratch registry, as on a 32-bit system), both views
// are one: nothing of the 32-bit view appears, and its store folders are not made.
TEST_F(StartupApprovedTest, WithoutASeparateViewNothingOfItAppears) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    m_session.Refresh(false, nullptr);
    EXPECT_FALSE(HasSeparate32BitView());
    EXPECT_EQ(AllCodes(),
              (std::vector<int>{kLocal, kUser, kStartUp, kCommon, kLocalOff, kUserOff, kStartUpOff, kCommonOff}));
    ASSERT_EQ(m_session.Entries().size(), 1u);
    EXPECT_EQ(m_session.Entries()[0].code, kLocal);
    CreateStoreFolders();
    EXPECT_FALSE(DirectoryExists(StoreFolderPath(kLocal32Code)));
}

// The 32-bit view's entries go through switching off and on with their data and type intact, into folders of
// their own, and back into the key their location opens. (In the scratch registry that key is the one Run key
// of HKLM; that the location names the 32-bit view is shown on the real registry above.)
TEST_F(StartupApprovedTest, The32BitViewsEntriesRoundTripThroughTheirOwnFolders) {
    ::CreateDirectoryW(StoreFolderPath(kLocal32Code).c_str(), nullptr);
    ::CreateDirectoryW(StoreFolderPath(kLocal32OffCode).c_str(), nullptr);
    m_registry.SetRunValue(Location::Local, L"Updater", L"%ProgramFiles(x86)%\\Vendor\\update.exe /tray",
                           REG_EXPAND_SZ);
    Entry updater;
    updater.name = L"Updater";
    updater.code = kLocal32Code;
    updater.storeLinkPath = StoreLinkPath(kLocal32Code, L"Updater");
    DisableEntry(updater);
    EXPECT_FALSE(m_registry.RunValue(Location::Local, L"Updater"));
    EXPECT_EQ(ReadShortcut(StorePath(kLocal32OffCode, L"Updater")).description,
              L"%ProgramFiles(x86)%\\Vendor\\update.exe /tray");
    EXPECT_FALSE(PathExists(StorePath(kLocalOff, L"Updater"))) << "kept with the 64-bit view's entries";

    updater.code = kLocal32OffCode;
    updater.storeLinkPath = StorePath(kLocal32OffCode, L"Updater");
    EnableEntry(updater, nullptr);
    const auto value = m_registry.RunValue(Location::Local, L"Updater");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, DWORD{REG_EXPAND_SZ});
    EXPECT_EQ(value->text, L"%ProgramFiles(x86)%\\Vendor\\update.exe /tray");
    EXPECT_FALSE(PathExists(StorePath(kLocal32OffCode, L"Updater")));
}

} // namespace
} // namespace bw::test
