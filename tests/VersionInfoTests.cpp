#include "TestEnvironment.h"

#include "platform/FileSystem.h"
#include "platform/VersionInfo.h"

namespace bw::test {
namespace {

// The fixture modules built beside the test program (tests/fixtures).
std::wstring Fixture(const wchar_t* name) {
    return FolderPart(ModulePath()) + L"Fixture" + name + L".dll";
}

TEST(VersionStringsTest, TheLanguageListedFirstGivesPublisherAndDescription) {
    const auto one = ReadVersionStrings(Fixture(L"OneLanguage"));
    ASSERT_TRUE(one);
    EXPECT_EQ(one->companyName, L"Fabrikam One");
    EXPECT_EQ(one->fileDescription, L"Fabrikam Updater");

    // German is listed first in the translation table, though the English strings come first in the file.
    const auto two = ReadVersionStrings(Fixture(L"TwoLanguages"));
    ASSERT_TRUE(two);
    EXPECT_EQ(two->companyName, L"Contoso Deutsch");
    EXPECT_EQ(two->fileDescription, L"Contoso Abgleich");
}

TEST(VersionStringsTest, NoStringsNoResourceAndNoFile) {
    const auto numbers = ReadVersionStrings(Fixture(L"NumbersOnly"));
    ASSERT_TRUE(numbers); // a resource, but it names nobody
    EXPECT_EQ(numbers->companyName, L"");
    EXPECT_EQ(numbers->fileDescription, L"");
    EXPECT_FALSE(ReadVersionStrings(Fixture(L"NoResource")));
    EXPECT_FALSE(ReadVersionStrings(Fixture(L"NoSuchModule")));
    TempFolder folder;
    WriteFileBytes(folder / L"notes.txt", "not a module");
    EXPECT_FALSE(ReadVersionStrings(folder / L"notes.txt"));
}

} // namespace
} // namespace bw::test
