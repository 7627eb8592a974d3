#include "TestEnvironment.h"

#include "platform/ShellLink.h"

namespace bw::test {
namespace {

TEST(TShellLinkTest, KeepsTextsAndTellsAFailedLoad) {
    TempFolder folder;
    TShellLink link;
    EXPECT_FALSE(link.Load(folder / L"missing.lnk"));

    const std::wstring description = L"\u6e2c\u8a66 " + std::wstring(kLinkDescriptionLimit - 4, L'x');
    // Wine keeps a link's target only in the ANSI code page, so the target here is plain ASCII; the
    // description, which carries command lines, is kept in Unicode everywhere.
    const std::wstring target = folder / L"app.exe";
    WriteFileBytes(target, "MZ");
    link.SetPath(target);
    link.SetDescription(description);
    ASSERT_TRUE(link.Save(folder / L"t.lnk"));

    TShellLink again;
    ASSERT_TRUE(again.Load(folder / L"t.lnk"));
    EXPECT_EQ(again.Path(), target);
    EXPECT_EQ(again.Description(), description);

    // Saving does not make the file the object's own: a second save elsewhere leaves the first alone.
    again.SetDescription(L"changed");
    ASSERT_TRUE(again.Save(folder / L"u.lnk"));
    EXPECT_EQ(ReadShortcut(folder / L"t.lnk").description, description);
}

TEST(TShellLinkTest, TakesBytesOnlyWhenTheyAreALink) {
    TShellLink link;
    link.SetDescription(L"c:\\tool.exe /x");
    link.SetArguments(L"[args]");
    const std::string bytes = link.SaveBytes();
    TShellLink again;
    ASSERT_TRUE(again.LoadBytes(bytes));
    EXPECT_EQ(again.Description(), L"c:\\tool.exe /x");
    EXPECT_EQ(again.Arguments(), L"[args]");

    // Nothing of a link read before stays behind a failed load.
    EXPECT_FALSE(again.LoadBytes(""));
    EXPECT_EQ(again.Description(), L"");
    EXPECT_FALSE(again.LoadBytes("not a shortcut at all"));
    EXPECT_FALSE(again.LoadBytes(bytes.substr(0, bytes.size() / 2)));
    EXPECT_EQ(again.Arguments(), L"");
}

} // namespace
} // namespace bw::test
