#include "TestEnvironment.h"

#include "platform/FileSystem.h"
#include "platform/MachineIdentity.h"
#include "platform/Token.h"
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

} // namespace bw::test
