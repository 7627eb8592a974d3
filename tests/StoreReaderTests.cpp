#include "TestEnvironment.h"

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
