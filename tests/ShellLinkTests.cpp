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
    EXPECT_EQ(again.IconIndex(), 0);

    // Saving does not make the file the object's own: a second save elsewhere leaves the first alone.
    again.SetDescription(L"changed");
    ASSERT_TRUE(again.Save(folder / L"u.lnk"));
    EXPECT_EQ(ReadShortcut(folder / L"t.lnk").description, description);
}

} // namespace
} // namespace bw::test
