#include "TestEnvironment.h"

#include "platform/ChangeWatch.h"
#include "platform/FileSystem.h"
#include "store/SeenEntries.h"

#include <gtest/gtest.h>

namespace bw::test {
namespace {

Entry EntryOf(int code, const std::wstring& name) {
    Entry entry;
    entry.code = code;
    entry.name = name;
    return entry;
}

class SeenEntriesTest : public StoreTest {
protected:
    std::wstring Record() const { return m_root / L"Seen.dat"; }
    // A run of the program: loads the record and looks at `entries` once.
    TSeenEntries Run(const std::vector<Entry>& entries) {
        TSeenEntries seen;
        seen.Load(Record());
        (void)seen.Look(entries);
        return seen;
    }
};

TEST_F(SeenEntriesTest, WhatIsNewComesFromTheLastLookAndGoesWhenSeen) {
    const Entry tool = EntryOf(2, L"Tool");
    const Entry agent = EntryOf(1, L"Agent");
    EXPECT_EQ(Run({tool}).NewCount(), 0u) << "no record: everything is seen";

    TSeenEntries seen = Run({tool, agent});
    EXPECT_TRUE(seen.IsNew(agent));
    EXPECT_FALSE(seen.IsNew(tool));
    // Switched off (its disabled code) it is the same entry; under another location it is another.
    EXPECT_FALSE(seen.Look({EntryOf(5, L"TOOL"), agent}));
    EXPECT_TRUE(seen.Look({EntryOf(5, L"Tool"), agent, EntryOf(3, L"Tool")}));
    EXPECT_EQ(seen.NewCount(), 2u);
    EXPECT_TRUE(seen.See(agent));
    EXPECT_FALSE(seen.See(agent)) << "seen once";
    // What goes takes its mark along; what comes back later is new again.
    EXPECT_TRUE(seen.Look({tool}));
    EXPECT_EQ(seen.NewCount(), 0u);
    EXPECT_TRUE(seen.Look({tool, EntryOf(3, L"Tool")}));
    EXPECT_EQ(seen.NewCount(), 1u);
}

TEST_F(SeenEntriesTest, TheRecordKeepsAnyNameAndADamagedOneCountsForNothing) {
    const std::vector<std::wstring> names = {L"Tool", L"Odd: 12 name", L"line\nbreak", L"+2 4:x", L"\x4e2d\x6587"};
    std::vector<Entry> entries;
    for (const std::wstring& name : names) {
        entries.push_back(EntryOf(2, name));
    }
    (void)Run({});
    TSeenEntries first = Run(entries);
    EXPECT_EQ(first.NewCount(), names.size());
    EXPECT_TRUE(first.See(entries[1]));
    const TSeenEntries again = Run(entries);
    EXPECT_EQ(again.NewCount(), names.size() - 1) << "read back whole";
    EXPECT_FALSE(again.IsNew(entries[1]));

    const std::string whole = ReadFileBytes(Record());
    for (const std::string& damaged : {whole.substr(0, whole.size() - 2), whole.substr(0, whole.size() - 1),
                                       whole + std::string("x\0", 2), std::string("\xff\xfe", 2)}) {
        WriteFileBytes(Record(), damaged);
        EXPECT_EQ(Run(entries).NewCount(), 0u) << "a damaged record is no record";
    }
}

// A folder that is not there yet is watched through the one above it, and its making is told.
TEST(ChangeWatchTest, AMissingFolderIsWatchedFromAboveAndAFailingOneNotAtAll) {
    const TempFolder root;
    const std::wstring folder = root / L"Later\\Deeper";
    TChangeWatch watch = TChangeWatch::Folder(folder);
    ASSERT_TRUE(watch.Arm());
    EXPECT_TRUE(watch.WatchingParent());
    EXPECT_EQ(::WaitForSingleObject(watch.Handle(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(::CreateDirectoryW((root / L"Later").c_str(), nullptr));
    EXPECT_EQ(::WaitForSingleObject(watch.Handle(), 3000), static_cast<DWORD>(WAIT_OBJECT_0));
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(watch.Arm());
    EXPECT_FALSE(watch.WatchingParent());

    // A share whose server gives no notifications.
    const auto unsupported = FoldersWithoutNotifications();
    EXPECT_FALSE(watch.Arm());
    EXPECT_FALSE(watch.Armed());
}

} // namespace
} // namespace bw::test
