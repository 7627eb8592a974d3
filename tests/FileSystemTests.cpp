#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"

namespace bw::test {
namespace {

// Every way a store or a destination may hold a link leaves the file at its other end as it was.
TEST(LinksTest, AreToldFromFilesAndNeverReachedThrough) {
    const TempFolder store;
    const TempFolder outside;
    WriteFileBytes(outside / L"precious.txt", "precious");
    WriteFileBytes(store / L"plain.lnk", "plain");
    ASSERT_TRUE(::CreateHardLinkW((store / L"hard.lnk").c_str(), (outside / L"precious.txt").c_str(), nullptr));
    EXPECT_FALSE(IsLink(store / L"plain.lnk"));
    EXPECT_FALSE(IsLink(store / L"hard.lnk")) << "a second name is a file of its own";
    EXPECT_FALSE(IsLink(store / L"missing.lnk"));
    EXPECT_EQ(ReadWholeFile(store / L"plain.lnk", 100), std::optional<std::string>("plain"));
    EXPECT_EQ(ReadWholeFile(store / L"plain.lnk", 4), std::nullopt) << "more than the limit";

    if (!MakeFileSymlink(store / L"soft.lnk", outside / L"precious.txt")) {
        GTEST_SKIP() << "this system lets the test make no symbolic link";
    }
    EXPECT_TRUE(IsLink(store / L"soft.lnk"));
    EXPECT_EQ(ReadWholeFile(store / L"soft.lnk", 100), std::nullopt);
    EXPECT_TRUE(RemoveName(store / L"soft.lnk"));
    EXPECT_FALSE(PathExists(store / L"soft.lnk"));
    EXPECT_EQ(ReadFileBytes(outside / L"precious.txt"), "precious");

    ASSERT_TRUE(MakeFileSymlink(store / L"soft.lnk", outside / L"precious.txt"));
    WriteFileReplacing(store / L"soft.lnk", "ours");
    EXPECT_EQ(ReadFileBytes(store / L"soft.lnk"), "ours");
    EXPECT_EQ(ReadFileBytes(outside / L"precious.txt"), "precious");
}

TEST(RemoveNameTest, RemovesFilesButNotWhatIsHeldOrAFolder) {
    const TempFolder folder;
    WriteFileBytes(folder / L"ro.lnk", "x");
    ::SetFileAttributesW((folder / L"ro.lnk").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(RemoveName(folder / L"ro.lnk"));
    EXPECT_FALSE(PathExists(folder / L"ro.lnk"));
    EXPECT_TRUE(RemoveName(folder / L"never-there.lnk"));

    WriteFileBytes(folder / L"held.lnk", "x");
    ::SetFileAttributesW((folder / L"held.lnk").c_str(), FILE_ATTRIBUTE_READONLY);
    {
        const UniqueFile held = HoldFile(folder / L"held.lnk");
        EXPECT_FALSE(RemoveName(folder / L"held.lnk"));
    }
    EXPECT_TRUE(PathExists(folder / L"held.lnk"));
    EXPECT_TRUE(HasAttribute(folder / L"held.lnk", FILE_ATTRIBUTE_READONLY)) << "left as it was found";

    ::CreateDirectoryW((folder / L"dir.lnk").c_str(), nullptr);
    EXPECT_FALSE(RemoveName(folder / L"dir.lnk"));
    EXPECT_TRUE(DirectoryExists(folder / L"dir.lnk"));
}

TEST(WriteFileReplacingTest, ReplacesInOneStepOrNotAtAll) {
    const TempFolder folder;
    WriteFileReplacing(folder / L"new.lnk", "new");
    EXPECT_EQ(ReadFileBytes(folder / L"new.lnk"), "new");
    WriteFileReplacing(folder / L"new.lnk", std::string(50000, 'n'));
    EXPECT_EQ(ReadFileBytes(folder / L"new.lnk"), std::string(50000, 'n'));

    {
        const UniqueFile held = HoldFile(folder / L"new.lnk");
        try {
            WriteFileReplacing(folder / L"new.lnk", "other");
            FAIL() << "a held file was replaced";
        } catch (const EFCreateError& error) {
            EXPECT_EQ(error.Message(), L"Cannot create file " + folder / L"new.lnk");
        }
        // Reading goes on meanwhile; nothing was cut.
        EXPECT_EQ(ReadWholeFile(folder / L"new.lnk", 100000), std::optional<std::string>(std::string(50000, 'n')));
    }
    EXPECT_THROW(WriteFileReplacing(folder / L"missing\\x.lnk", "x"), EFCreateError);
    ::CreateDirectoryW((folder / L"dir.lnk").c_str(), nullptr);
    EXPECT_THROW(WriteFileReplacing(folder / L"dir.lnk", "x"), EFCreateError);

    // Nothing but the file itself and the folder stands there: no temporary file is left behind.
    int names = 0;
    ForEachMatch(folder / L"*", [&](const WIN32_FIND_DATAW& found) {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            ++names;
            EXPECT_FALSE(IsTemporaryFileName(name)) << "left behind";
        }
    });
    EXPECT_EQ(names, 2);
}

} // namespace
} // namespace bw::test
