#include "WindowTestSupport.h"

#include "app/Controls.h"
#include "platform/Token.h"
#include "resources/Texts.h"

namespace bw::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class StartTest : public WindowTest {
protected:
    std::wstring Title() const {
        wchar_t title[256]{};
        ::GetWindowTextW(m_form->Handle(), title, 256);
        return title;
    }
    bool ShieldShown() const {
        return ::SendMessageW(m_form->ToolBar(), TB_ISBUTTONHIDDEN, TMainForm::RestartButton, 0) == 0;
    }
};

// Without an administrator's rights the tool bar offers the restart as administrator; with them it does not.
TEST_F(StartTest, TheShieldButtonShowsOnlyWithoutAdministratorRights) {
    {
        const auto elevated = seam::Elevated.Replace([] { return true; });
        Open();
        EXPECT_FALSE(ShieldShown());
    }
    m_form.reset();
    const StandardUser standardUser;
    Open();
    EXPECT_TRUE(ShieldShown());
    Click(TMainForm::RestartButton);
    ASSERT_EQ(m_desktop.restarts.size(), 1u);
    EXPECT_EQ(m_desktop.restarts[0].program, ModulePath());
    EXPECT_EQ(m_desktop.restarts[0].folder, m_programDir);
    EXPECT_FALSE(::IsWindow(m_form->Handle())) << "closed once the new one started";
}

// Clearing the box of an HKLM entry without rights changes nothing and asks, in one message, whether to restart
// as administrator; "No" leaves everything as it was, "Yes" starts the program elevated and closes this window
// only when that started.
TEST_F(StartTest, AToggleThatNeedsRightsOffersTheRestart) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    const StandardUser standardUser;
    Open();
    const auto before = Rows();

    m_desktop.confirmAnswer = false;
    ToggleRow(RowOf(L"Agent", kLocal));
    ASSERT_EQ(m_desktop.questions.size(), 1u);
    EXPECT_THAT(m_desktop.questions[0], HasSubstr(L"Changing \"Agent\" needs administrator rights"));
    EXPECT_THAT(m_desktop.questions[0], HasSubstr(L"Restart Bootwarden as administrator?"));
    EXPECT_THAT(m_desktop.errors, IsEmpty()) << "one message, not two";
    EXPECT_TRUE(m_desktop.restarts.empty());
    EXPECT_EQ(Rows(), before) << "the box shows the entry as it still is";
    EXPECT_THAT(StoreNames(kLocalOff), IsEmpty());
    EXPECT_TRUE(m_registry.RunValue(Location::Local, L"Agent"));

    m_desktop.confirmAnswer = true;
    m_desktop.restartAnswer = false; // the user declined Windows' own prompt
    ToggleRow(RowOf(L"Agent", kLocal));
    EXPECT_EQ(m_desktop.restarts.size(), 1u);
    EXPECT_TRUE(::IsWindow(m_form->Handle())) << "nothing started: the window stays";

    m_desktop.restartAnswer = true;
    ToggleRow(RowOf(L"Agent", kLocal));
    EXPECT_EQ(m_desktop.restarts.size(), 2u);
    EXPECT_FALSE(::IsWindow(m_form->Handle()));
    EXPECT_TRUE(m_registry.RunValue(Location::Local, L"Agent"));
}

// A property-sheet edit of an HKLM entry's store link cannot be written without rights: the refresh says so once,
// offering the restart, and the value stays as it is.
TEST_F(StartTest, AnEditThatNeedsRightsOffersTheRestartOnce) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    const StandardUser standardUser;
    Open();
    WriteShortcut(StorePath(kLocal, L"Agent"), L"", L"c:\\agent.exe /edited");
    ::Sleep(250);
    m_desktop.confirmAnswer = false;
    KeyUp(VK_F5);
    ASSERT_EQ(m_desktop.questions.size(), 1u);
    EXPECT_THAT(m_desktop.questions[0], HasSubstr(L"The edit of \"Agent\" could not be carried"));
    EXPECT_THAT(m_desktop.questions[0], HasSubstr(L"Restart Bootwarden as administrator?"));
    EXPECT_EQ(m_registry.RunValue(Location::Local, L"Agent")->text, L"c:\\agent.exe");
    KeyUp(VK_F5);
    EXPECT_EQ(m_desktop.questions.size(), 1u) << "said once";
    ::SendMessageW(m_form->Handle(), WM_CLOSE, 0, 0);
    Pump();
    EXPECT_FALSE(::IsWindow(m_form->Handle())) << "rights the window cannot get do not keep it open";
}

// Elevated with another account's password, the program sees that account's entries; the title says whose.
TEST_F(StartTest, TheTitleNamesTheAccountWhenItIsNotTheDesktops) {
    const auto process = seam::ProcessAccount.Replace([] { return std::wstring(L"PC\\admin2"); });
    auto desktop = seam::DesktopAccount.Replace([] { return std::wstring(L"PC\\anna"); });
    Open();
    EXPECT_EQ(Title(), L"Bootwarden - entries of admin2");
    m_form.reset();

    const auto same = seam::DesktopAccount.Replace([] { return std::wstring(L"pc\\ADMIN2"); });
    Open();
    EXPECT_EQ(Title(), L"Bootwarden");
}

// Started from inside its zip, the program runs from below the user's temporary folder: it says to extract the
// whole folder, makes no store, changes nothing, and ends.
TEST_F(StartTest, StartedFromATemporaryFolderItChangesNothingAndEnds) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_programDir = m_root / L"Temp\\Temp1_Bootwarden.zip\\Bootwarden\\";
    ::CreateDirectoryW((m_root / L"Temp").c_str(), nullptr);
    ::CreateDirectoryW((m_root / L"Temp\\Temp1_Bootwarden.zip").c_str(), nullptr);
    ::CreateDirectoryW(m_programDir.c_str(), nullptr);

    Open();
    ASSERT_EQ(m_desktop.errors.size(), 1u);
    EXPECT_THAT(m_desktop.errors[0].text, HasSubstr(L"Extract the whole folder first"));
    EXPECT_FALSE(::IsWindow(m_form->Handle()));
    EXPECT_THAT(FolderNames(m_programDir), IsEmpty()) << "no store made";
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));
}

// From a folder it cannot write (Program Files, for a standard user), the program says so once and lists the
// entries; nothing is written, and a toggle changes nothing and says why.
TEST_F(StartTest, AFolderThatCannotBeWrittenIsListedReadOnly) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    WriteShortcut(StorePath(kUserOff, L"Old"), L"c:\\old.exe", L"c:\\old.exe");
    const std::wstring programDir = m_programDir;
    const auto refuses = seam::FolderAcceptsWrites.Replace([programDir](const std::wstring& folder) {
        return !IsInFolder(FullPath(folder), programDir) && seam::FolderAcceptsWrites.Real(folder);
    });
    Open();
    ASSERT_EQ(m_desktop.errors.size(), 1u);
    EXPECT_THAT(m_desktop.errors[0].text, HasSubstr(L"cannot write in its folder"));
    EXPECT_EQ(Rows().size(), 2u);
    EXPECT_THAT(StoreNames(kUser), IsEmpty()) << "nothing mirrored";

    ToggleRow(RowOf(L"Tool", kUser));
    ASSERT_EQ(m_desktop.errors.size(), 2u);
    EXPECT_THAT(m_desktop.errors[1].text, HasSubstr(L"\"Tool\" cannot be changed here"));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"Old.lnk"));
    KeyUp(VK_F5);
    EXPECT_EQ(m_desktop.errors.size(), 2u) << "said once at start";
}

// A store folder that leads into the Startup folder is named once at start, with why it is left alone.
TEST_F(StartTest, AStoreFolderLinkedIntoTheStartupFolderIsNamedOnceAtStart) {
    const std::wstring folder = m_programDir + L"NoRun\\User";
    ::RemoveDirectoryW(folder.c_str());
    if (!MakeFolderLink(folder, m_startup)) {
        GTEST_SKIP() << "this system lets the test make no symbolic link";
    }
    Open();
    ASSERT_EQ(m_desktop.errors.size(), 1u);
    EXPECT_THAT(m_desktop.errors[0].text, HasSubstr(folder + L" " + text::kFolderLinkIntoSystem));
    KeyUp(VK_F5);
    EXPECT_EQ(m_desktop.errors.size(), 1u);
}

// The window's text is in the system's message font for its DPI, not the bitmap font "MS Sans Serif".
TEST_F(StartTest, TheWindowUsesTheSystemsMessageFont) {
    Open();
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(m_form->List(), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTW used{};
    ASSERT_NE(::GetObjectW(font, sizeof used, &used), 0);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
    EXPECT_STREQ(used.lfFaceName, metrics.lfMessageFont.lfFaceName);
    EXPECT_STRNE(used.lfFaceName, L"MS Sans Serif");
}

} // namespace
} // namespace bw::test
