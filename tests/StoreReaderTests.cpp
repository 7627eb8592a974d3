#include "TestEnvironment.h"

#include "platform/PackedHeap.h"
#include "store/CommandLine.h"
#include "store/StoreReader.h"

#include <algorithm>

namespace bw::test {
namespace {

class StoreReaderTest : public StoreTest {
protected:
    StoreReaderTest() {
        m_registry.SetRunValue(Location::User, L"Agent", L"\"C:\\Program Files\\Agent\\agent.exe\" /background");
        WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"my notes");
        ImportSystemEntries();
    }
    const StoreLink& Kept(const TStoreReader& store, int code, const std::wstring& name) const {
        const StoreLink* link = store.Find(StorePath(code, name));
        if (link == nullptr) {
            throw std::runtime_error("the store link was not read");
        }
        return *link;
    }
};

// Between reads a registry entry's link is kept as what it says and a digest of its bytes, never the bytes: nothing
// is put back from them. A Startup entry's link keeps its bytes whole: they are written back as its shortcut.
TEST_F(StoreReaderTest, KeepsARegistryEntrysLinkAsItsFieldsAndADigestAndAStartupEntrysWhole) {
    TStoreReader store;
    (void)store.Read(AllCodes());
    const std::string registryBytes = ReadFileBytes(StorePath(kUser, L"Agent"));
    const StoreLink& registry = Kept(store, kUser, L"Agent");
    EXPECT_TRUE(registry.readWhole);
    EXPECT_EQ(L"\"C:\\Program Files\\Agent\\agent.exe\" /background", registry.description);
    EXPECT_TRUE(registry.bytes.empty());
    EXPECT_FALSE(registry.recordBlock.has_value());
    EXPECT_EQ(BytesDigest(registryBytes), LinkBytesDigest(registry));
    EXPECT_TRUE(LinkHeldBytes(registry, registryBytes));
    EXPECT_FALSE(LinkHeldBytes(registry, registryBytes + "x"));

    const std::string shortcutBytes = ReadFileBytes(StorePath(kStartUp, L"Notes"));
    const StoreLink& startup = Kept(store, kStartUp, L"Notes");
    EXPECT_EQ(shortcutBytes, startup.bytes);
    EXPECT_FALSE(startup.bytesDropped.has_value());
    EXPECT_EQ(BytesDigest(shortcutBytes), LinkBytesDigest(startup));
}

void ExpectSameLink(const StoreLink& kept, const StoreLink& read) {
    SCOPED_TRACE(::testing::Message() << "the link " << read.path);
    EXPECT_EQ(kept.code, read.code);
    EXPECT_EQ(kept.fileName, read.fileName);
    EXPECT_EQ(kept.name, read.name);
    EXPECT_EQ(kept.path, read.path);
    EXPECT_EQ(kept.stamp, read.stamp);
    EXPECT_EQ(kept.settled, read.settled);
    EXPECT_EQ(kept.readWhole, read.readWhole);
    EXPECT_EQ(kept.onlineOnly, read.onlineOnly);
    EXPECT_EQ(kept.bytes, read.bytes);
    EXPECT_EQ(kept.bytesDropped.has_value(), read.bytesDropped.has_value());
    EXPECT_EQ(LinkBytesDigest(kept), LinkBytesDigest(read));
    EXPECT_TRUE(SameLinkBytes(kept, read));
    EXPECT_EQ(kept.description, read.description);
    EXPECT_EQ(kept.arguments, read.arguments);
    EXPECT_EQ(kept.linkTarget, read.linkTarget);
    EXPECT_EQ(kept.rawTarget, read.rawTarget);
    EXPECT_EQ(kept.iconLocation, read.iconLocation);
    EXPECT_EQ(kept.iconIndex, read.iconIndex);
    EXPECT_EQ(kept.recordBlock, read.recordBlock);
    ASSERT_EQ(kept.record.has_value(), read.record.has_value());
    if (read.record) {
        EXPECT_EQ(kept.record->value, read.record->value);
        EXPECT_EQ(kept.record->nameEncoded, read.record->nameEncoded);
        EXPECT_EQ(kept.record->description, read.record->description);
        EXPECT_EQ(kept.record->target, read.record->target);
        EXPECT_EQ(kept.record->arguments, read.record->arguments);
    }
    EXPECT_EQ(kept.standing, read.standing);
    EXPECT_EQ(kept.writtenAs, read.writtenAs);
}

// A reader packed between reads (as the watcher's is) gives back every link as it read it, in the same order and
// by its path: an entry's link with a record and an encoded name, a shortcut's with its bytes, a copy the records
// know as another's, one that is no shell link; and its next read finds what a reader never packed finds.
TEST_F(StoreReaderTest, APackedReaderGivesBackEveryLinkAsItRead) {
    m_registry.SetRunValue(Location::User, L"a/b", L"c:\\tools\\ab.exe -x");
    ImportSystemEntries();
    ::CopyFileW(StorePath(kUser, L"Agent").c_str(), StorePath(kUser, L"Copy").c_str(), FALSE);
    WriteFileBytes(StorePath(kUser, L"Broken"), "no link");
    TStoreReader store;
    TStoreReader unpacked;
    (void)store.Read(AllCodes());
    (void)unpacked.Read(AllCodes());
    std::vector<StoreLink> before;
    for (const auto& link : store.Links()) {
        before.push_back(*link);
    }
    ASSERT_EQ(before.size(), 5u);
    ASSERT_TRUE(std::any_of(before.begin(), before.end(), [](const StoreLink& link) {
        return link.record && link.record->nameEncoded && link.name == L"a/b";
    }));
    ASSERT_TRUE(std::any_of(before.begin(), before.end(),
                            [](const StoreLink& link) { return link.standing == LinkStanding::Renamed; }));

    for (int packing = 0; packing < 2; ++packing) {
        TPackedHeap::Repack([&] { store.Repack(); });
    }
    ASSERT_EQ(store.Links().size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        ExpectSameLink(before[i], *store.Links()[i]);
        EXPECT_EQ(store.Find(before[i].path), store.Links()[i].get()) << "the same link by its path";
    }
    ::DeleteFileW(StorePath(kUser, L"Broken").c_str()); // read again at every read: a change each time
    (void)store.Read(AllCodes());
    (void)unpacked.Read(AllCodes());
    TPackedHeap::Repack([&] { store.Repack(); });
    EXPECT_EQ(store.Read(AllCodes()), unpacked.Read(AllCodes()));
    EXPECT_EQ(store.Links().size(), before.size() - 1);
}

// A link read again (its stamp moved) is a change only when its bytes differ, also where only their digest is kept:
// the same bytes written again are none, one byte changed at the same length is one.
TEST_F(StoreReaderTest, ALinkKeptAsADigestIsChangedOnlyWhenItsBytesDiffer) {
    const std::wstring path = StorePath(kUser, L"Agent");
    std::string bytes = ReadFileBytes(path);
    TStoreReader store;
    (void)store.Read(AllCodes());
    (void)store.Read(AllCodes());

    WriteFileBytes(path, bytes);
    EXPECT_FALSE(store.Read(AllCodes()));

    // A character of the description (kept in UTF-16 or in the ANSI code page), within the link: it still loads, at
    // the same length.
    size_t at = bytes.find(std::string("b\0a\0c\0k\0", 8));
    if (at == std::string::npos) {
        at = bytes.find("background");
    }
    ASSERT_NE(std::string::npos, at);
    bytes[at] = 'B';
    WriteFileBytes(path, bytes);
    EXPECT_TRUE(store.Read(AllCodes()));
    EXPECT_EQ(BytesDigest(bytes), LinkBytesDigest(Kept(store, kUser, L"Agent")));
    EXPECT_TRUE(Kept(store, kUser, L"Agent").readWhole);
}

} // namespace
} // namespace bw::test
