#include "TestEnvironment.h"

#include "platform/FileSystem.h"
#include "platform/MachineIdentity.h"
#include "platform/Token.h"
#include "platform/UserHive.h"
#include "store/StoreDoor.h"

#include <algorithm>
#include <functional>

namespace bw::test {

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Who this run is and where: the account that owns the desktop, the program's own, and the computer.
class Identity {
public:
    Identity(std::wstring sid, std::wstring account, std::wstring guid)
        : m_desktopSid(seam::DesktopSid, [this] { return m_sid; }),
          m_processSid(seam::ProcessSid, [this] { return m_processSidText.empty() ? m_sid : m_processSidText; }),
          m_desktopAccount(seam::DesktopAccount, [this] { return m_account; }),
          m_processAccount(seam::ProcessAccount, [this] { return m_account; }),
          m_guid(seam::MachineGuid, [this] { return m_guidText; }),
          m_name(seam::MachineName, [] { return std::wstring(L"DESK-7"); }), m_sid(std::move(sid)),
          m_account(std::move(account)), m_guidText(std::move(guid)) {}

    void Be(std::wstring sid, std::wstring account) {
        m_sid = std::move(sid);
        m_account = std::move(account);
    }
    void OnComputer(std::wstring guid) { m_guidText = std::move(guid); }
    // Elevated with the password of another account than the desktop's.
    void ElevatedAs(std::wstring sid) { m_processSidText = std::move(sid); }

private:
    TSeam<std::wstring()>::TScope m_desktopSid, m_processSid, m_desktopAccount, m_processAccount, m_guid, m_name;
    std::wstring m_sid, m_account, m_guidText, m_processSidText;
};

const Entry* FindEntry(const std::vector<Entry>& entries, const std::wstring& name) {
    const auto found =
        std::find_if(entries.begin(), entries.end(), [&](const Entry& entry) { return entry.name == name; });
    return found == entries.end() ? nullptr : &*found;
}

constexpr const wchar_t* kAnn = L"S-1-5-21-100-200-300-1001";
constexpr const wchar_t* kBob = L"S-1-5-21-100-200-300-1002";

class StoreOwnerTest : public StoreTest {
protected:
    Identity m_identity{kAnn, L"DESK-7\\ann", L"guid-of-desk-7"};

    // Every file below the store folders, with a digest of its bytes.
    std::vector<std::wstring> EveryStoreFile() const {
        std::vector<std::wstring> files;
        const std::function<void(const std::wstring&)> walk = [&](const std::wstring& folder) {
            ForEachMatch(folder + L"\\*", [&](const WIN32_FIND_DATAW& found) {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") {
                    return;
                }
                const std::wstring path = folder + L"\\" + name;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    walk(path);
                } else {
                    files.push_back(path + L" " + std::to_wstring(std::hash<std::string>{}(ReadFileBytes(path))));
                }
            });
        };
        walk(m_programDir + L"Run");
        walk(m_programDir + L"NoRun");
        std::sort(files.begin(), files.end());
        return files;
    }
};

} // namespace

namespace {

// A handle of its own to the key `from` stands for.
HKEY Reopened(HKEY from) {
    HKEY key = nullptr;
    EXPECT_EQ(::RegOpenKeyExW(from, nullptr, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    return key;
}

bool HasValue(HKEY root, const std::wstring& path, const std::wstring& name) {
    return ::RegGetValueW(root, path.c_str(), name.c_str(), RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

} // namespace

// A store is its first account's on its first computer; opened by another account, or by the same account on
// another computer (a store copied on a stick), it only lists: no change is made, nothing is deleted, until the
// person takes it over, which deletes nothing either.
TEST_F(StoreOwnerTest, AnotherAccountsStoreIsOnlyListedUntilTakenOver) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept.exe --quiet");
    {
        TStoreDoor door;
        door.Open();
        EXPECT_FALSE(door.OtherOwner());
        door.Work([&](TStoreDoor::TWork& work) {
            work.Refresh(true);
            work.Disable(*FindEntry(work.Entries(), L"Kept"));
        });
    }
    const auto recorded = RecordedStoreOwner();
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->sid, kAnn);
    EXPECT_EQ(recorded->account, L"DESK-7\\ann");
    EXPECT_EQ(recorded->machineGuid, L"guid-of-desk-7");
    const std::vector<std::wstring> files = EveryStoreFile();

    for (const bool otherComputer : {false, true}) {
        SCOPED_TRACE(otherComputer ? "the same account on another computer" : "another account");
        if (otherComputer) {
            m_identity.Be(kAnn, L"DESK-7\\ann");
            m_identity.OnComputer(L"guid-of-laptop");
        } else {
            m_identity.Be(kBob, L"DESK-7\\bob");
        }
        m_registry.RemoveRunValue(Location::User, L"Tool"); // gone from Windows: its link must stay all the same
        TStoreDoor door;
        door.Open();
        ASSERT_TRUE(door.OtherOwner());
        EXPECT_EQ(door.OtherOwner()->account, L"DESK-7\\ann");
        EXPECT_TRUE(door.ReadOnly());
        door.Work([&](TStoreDoor::TWork& work) {
            work.Refresh(true);
            const Entry* kept = FindEntry(work.Entries(), L"Kept");
            ASSERT_NE(kept, nullptr) << "listed";
            const std::wstring why = MessageOf<EEntryRefused>([&] { work.Enable(*kept, nullptr); });
            EXPECT_THAT(why, HasSubstr(L"DESK-7\\ann"));
            EXPECT_THAT(why, HasSubstr(L"DESK-7"));
            EXPECT_THROW(work.Delete(*kept), EEntryRefused);
        });
        EXPECT_FALSE(m_registry.RunValue(Location::User, L"Kept")) << "not switched on for the wrong account";
        EXPECT_EQ(EveryStoreFile(), files) << "nothing of another's store deleted or written";
        m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    }

    // Bob on the laptop takes it over: nothing changes in the store but whose it is.
    m_identity.Be(kBob, L"LAPTOP\\bob");
    TStoreDoor door;
    door.Open();
    door.Work([](TStoreDoor::TWork& work) { work.TakeOver(); });
    EXPECT_FALSE(door.OtherOwner());
    EXPECT_FALSE(door.ReadOnly());
    EXPECT_EQ(EveryStoreFile(), files);
    EXPECT_EQ(RecordedStoreOwner()->sid, kBob);
    EXPECT_EQ(RecordedStoreOwner()->machineGuid, L"guid-of-laptop");
    door.Work([&](TStoreDoor::TWork& work) {
        work.Refresh(true);
        work.Enable(*FindEntry(work.Entries(), L"Kept"), nullptr);
    });
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Kept"));
}

// A store made before owners were recorded becomes its first account's at its first open on this version, unless
// that run is elevated with another account's password (then whose it is stays open); an owner's file that cannot
// be read names nobody, and the store only lists.
TEST_F(StoreOwnerTest, WhoAdoptsAStoreWithoutAnOwner) {
    m_registry.CreateKey(HKEY_CURRENT_USER, L"AnnHive");
    UniqueHkey anns;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"AnnHive", 0, KEY_ALL_ACCESS, anns.Put()), ERROR_SUCCESS);
    const auto hive = seam::UserHive.Replace([&](const std::wstring&) { return Reopened(anns.Get()); });
    m_identity.ElevatedAs(kBob);
    {
        TStoreDoor door;
        door.Open();
        EXPECT_FALSE(door.OtherOwner());
        EXPECT_FALSE(door.ReadOnly());
    }
    EXPECT_FALSE(RecordedStoreOwner()) << "an elevated run as another account adopts nothing";

    m_identity.ElevatedAs({});
    {
        TStoreDoor door;
        door.Open();
    }
    ASSERT_TRUE(RecordedStoreOwner());
    EXPECT_EQ(RecordedStoreOwner()->sid, kAnn);

    // The same account where one computer cannot be told: the same owner.
    m_identity.OnComputer({});
    {
        TStoreDoor door;
        door.Open();
        EXPECT_FALSE(door.OtherOwner());
    }

    WriteFileBytes(StoreOwnerFile(), "not ours");
    TStoreDoor door;
    door.Open();
    ASSERT_TRUE(door.OtherOwner());
    EXPECT_EQ(ShownAccount(*door.OtherOwner()), L"an account that cannot be told");
    EXPECT_TRUE(door.ReadOnly());
}

// A standard user (Ann) who typed an administrator's (Bob's) password runs the program elevated as Bob: it works on
// Ann's entries, whose store this is. HKCU is Ann's hive, the Startup folder is the one Ann's "User Shell Folders"
// names in her profile, and Bob's own are never touched.
TEST_F(StoreOwnerTest, ElevatedAsAnotherAccountTheOwnersPlacesAreUsed) {
    m_registry.SetRunValue(Location::User, L"BobTool", L"c:\\bob.exe"); // HKCU as the program finds it: Bob's
    UniqueHkey bobs; // Bob's Run key itself, whatever HKCU stands for later
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, KEY_READ, bobs.Put()), ERROR_SUCCESS);
    const std::wstring profile = m_root / L"Ann";
    ::CreateDirectoryW(profile.c_str(), nullptr);
    ::CreateDirectoryW((profile + L"\\Startup").c_str(), nullptr);
    WriteShortcut(profile + L"\\Startup\\AnnNotes.lnk", L"c:\\notes.exe", L"notes");
    m_registry.SetText(HKEY_CURRENT_USER, L"AnnHive\\" + std::wstring(kRunKeyPath), L"AnnTool", L"c:\\ann.exe");
    m_registry.SetText(HKEY_CURRENT_USER,
                       L"AnnHive\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                       L"Startup", L"%USERPROFILE%\\Startup", REG_EXPAND_SZ);
    m_registry.SetText(HKEY_LOCAL_MACHINE,
                       std::wstring(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") + kAnn,
                       L"ProfileImagePath", profile);
    UniqueHkey anns;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"AnnHive", 0, KEY_ALL_ACCESS, anns.Put()), ERROR_SUCCESS);
    // HKEY_USERS\<Ann's SID>, loaded while Ann is logged on.
    const auto hive = seam::UserHive.Replace([&](const std::wstring& sid) {
        EXPECT_EQ(sid, kAnn);
        return Reopened(anns.Get());
    });
    m_identity.ElevatedAs(kBob);

    TStoreDoor door;
    door.Open();
    EXPECT_EQ(door.UnreachableOwner(), L"");
    EXPECT_FALSE(door.ReadOnly());
    door.Work([&](TStoreDoor::TWork& work) {
        work.Refresh(true);
        EXPECT_EQ(FindEntry(work.Entries(), L"BobTool"), nullptr) << "the administrator's own entries are not listed";
        const Entry* tool = FindEntry(work.Entries(), L"AnnTool");
        const Entry* notes = FindEntry(work.Entries(), L"AnnNotes");
        ASSERT_NE(tool, nullptr);
        ASSERT_NE(notes, nullptr);
        const Entry toolEntry = *tool;
        const Entry notesEntry = *notes;
        work.Disable(toolEntry);
        work.Disable(notesEntry);
    });
    EXPECT_FALSE(HasValue(anns.Get(), kRunKeyPath, L"AnnTool")) << "switched off in Ann's registry";
    EXPECT_TRUE(HasValue(bobs.Get(), L"", L"BobTool"));
    EXPECT_FALSE(FileExists(profile + L"\\Startup\\AnnNotes.lnk"));
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"AnnTool.lnk"));
    EXPECT_THAT(StoreNames(kStartUpOff), ElementsAre(L"AnnNotes.lnk"));
}

// Where the owner's registry cannot be opened (Windows answers ERROR_FILE_NOT_FOUND for a hive not loaded, or
// access denied), HKCU and the shell's Startup folder are the administrator's own: the owner's places are listed
// from the store as it last saw them, each entry saying why, and none is read from the administrator's or changed;
// HKLM's entries and those of all users stay changeable.
TEST_F(StoreOwnerTest, ElevatedAsAnotherAccountWithoutTheOwnersRegistryOnlyTheOwnersPlacesAreReadOnly) {
    // Ann's store as her last run left it: Tool switched on in her HKCU, Kept switched off, Notes in her Startup.
    m_registry.SetRunValue(Location::User, L"AnnTool", L"c:\\ann.exe");
    m_registry.SetRunValue(Location::User, L"AnnKept", L"c:\\kept.exe");
    WriteShortcut(StartupPath(L"AnnNotes.lnk"), L"c:\\notes.exe", L"notes");
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    {
        TStoreDoor door;
        door.Open();
        door.Work([&](TStoreDoor::TWork& work) {
            work.Refresh(true);
            work.Disable(*FindEntry(work.Entries(), L"AnnKept"));
            work.Refresh(true);
        });
    }
    const std::vector<std::wstring> files = EveryStoreFile();

    // Bob, elevated on Ann's desktop: HKCU and the Startup folder the program finds are his.
    m_registry.RemoveRunValue(Location::User, L"AnnTool");
    m_registry.SetRunValue(Location::User, L"BobTool", L"c:\\bob.exe");
    ::DeleteFileW(StartupPath(L"AnnNotes.lnk").c_str());
    WriteShortcut(StartupPath(L"BobNotes.lnk"), L"c:\\bobnotes.exe", L"bob's");
    const auto hive = seam::UserHive.Replace([](const std::wstring&) { return HKEY(nullptr); });
    m_identity.ElevatedAs(kBob);
    TStoreDoor door;
    door.Open();
    EXPECT_EQ(door.UnreachableOwner(), L"DESK-7\\ann");
    EXPECT_FALSE(door.ReadOnly()) << "HKLM's places stay changeable";
    door.Work([&](TStoreDoor::TWork& work) {
        work.Refresh(true);
        EXPECT_EQ(FindEntry(work.Entries(), L"BobTool"), nullptr) << "the administrator's HKCU is not the owner's";
        EXPECT_EQ(FindEntry(work.Entries(), L"BobNotes"), nullptr) << "nor is his Startup folder";
        for (const wchar_t* name : {L"AnnTool", L"AnnKept", L"AnnNotes"}) {
            const Entry* entry = FindEntry(work.Entries(), name);
            ASSERT_NE(entry, nullptr) << "listed as the store last saw it";
            EXPECT_EQ(entry->problem, EntryProblem::OwnersPlaceNotReached) << entry->code;
        }
        EXPECT_THAT(MessageOf<EEntryRefused>([&] { work.Disable(*FindEntry(work.Entries(), L"AnnTool")); }),
                    HasSubstr(L"DESK-7\\ann"));
        const Entry kept = *FindEntry(work.Entries(), L"AnnKept");
        ASSERT_EQ(kept.code, kUserOff);
        EXPECT_THROW(work.Enable(kept, nullptr), EEntryRefused);
        EXPECT_THROW(work.Delete(*FindEntry(work.Entries(), L"AnnKept")), EEntryRefused);
        EXPECT_THROW(work.AddStartupShortcut(L"c:\\new.exe"), EEntryRefused);
        const Entry agent = *FindEntry(work.Entries(), L"Agent");
        EXPECT_EQ(agent.problem, EntryProblem::None);
        work.Disable(agent);
    });
    EXPECT_FALSE(m_registry.RunValue(Location::Local, L"Agent")) << "HKLM's entry switched off";
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"BobTool"));
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"AnnKept")) << "not switched on into Bob's HKCU";
    EXPECT_TRUE(FileExists(StartupPath(L"BobNotes.lnk")));
    std::vector<std::wstring> now = EveryStoreFile();
    now.erase(std::remove_if(now.begin(), now.end(),
                             [](const std::wstring& file) { return file.find(L"Agent.lnk") != std::wstring::npos; }),
              now.end());
    std::vector<std::wstring> was = files;
    was.erase(std::remove_if(was.begin(), was.end(),
                             [](const std::wstring& file) { return file.find(L"Agent.lnk") != std::wstring::npos; }),
              was.end());
    EXPECT_EQ(now, was) << "the owner's mirrors and switched-off entries stay as they were";
    EXPECT_EQ(RecordedStoreOwner()->sid, kAnn) << "nor is the store made the administrator's";
}

} // namespace bw::test
