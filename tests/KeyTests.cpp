#include "WindowTestSupport.h"

#include "app/Controls.h"

#include <dlgs.h>

#include <functional>
#include <vector>

namespace bw::test {
namespace {

using ::testing::ElementsAre;

constexpr LPARAM kFreshPress = 0x00000001;
constexpr LPARAM kRepeatedPress = 0x40000001; // the key was already down
constexpr LPARAM kRelease = 0xC0000001;
constexpr LPARAM kAltHeld = 0x20000000;

// The system's own dialogs in place of the answering ones; property sheets and the shell are still recorded.
class DialogDesktop : public FakeDesktop {
public:
    bool Confirm(HWND owner, const std::wstring& question) override {
        questions.push_back(question);
        return ShowConfirmDialog(owner, question) == IDYES;
    }
    std::optional<std::wstring> BrowseForProgram(HWND owner) override {
        ++browseCount;
        return TSystemDesktop().BrowseForProgram(owner);
    }
};

// What the user does in a modal dialog, one step per timer tick once the dialog with `title` is up, so that the
// dialog has handled the keys of one step before the next looks at it. The steps run inside the dialog's own
// message loop.
struct DialogScript {
    const wchar_t* title = nullptr;
    std::vector<std::function<void(HWND dialog)>> steps;
    size_t done = 0;
    UINT_PTR timer = 0;
    ULONGLONG deadline = 0;
};
DialogScript g_script;

void CALLBACK RunDialogStep(HWND, UINT, UINT_PTR, DWORD) {
    const HWND dialog = ::FindWindowW(L"#32770", g_script.title);
    if (dialog == nullptr || !::IsWindowVisible(dialog)) {
        return;
    }
    if (g_script.done < g_script.steps.size() && !::testing::Test::HasFatalFailure()) {
        g_script.steps[g_script.done++](dialog);
    } else if (::GetTickCount64() > g_script.deadline) {
        ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); // the steps did not close it; a failing test still ends
    }
}

void StartDialogScript(const wchar_t* title, std::vector<std::function<void(HWND dialog)>> steps) {
    g_script = DialogScript{title, std::move(steps)};
    g_script.deadline = ::GetTickCount64() + 10000;
    g_script.timer = ::SetTimer(nullptr, 0, 20, RunDialogStep);
}

// True when every step has run; stops the script.
bool EndDialogScript() {
    ::KillTimer(nullptr, g_script.timer);
    return g_script.done == g_script.steps.size();
}

// A key goes where the user's would: to the window that has the focus at that moment.
void PostKey(UINT message, WPARAM key, LPARAM flags) {
    ::PostMessageW(::GetFocus(), message, key, flags);
}

class KeyTest : public WindowTest {
protected:
    ~KeyTest() override {
        m_form.reset(); // before the desktop it uses
        Pump();
    }

    void OpenWithSystemDialogs() {
        m_form = std::make_unique<TMainForm>(::GetModuleHandleW(nullptr), m_dialogs, m_programDir);
        ASSERT_TRUE(m_form->Create(SW_SHOWNORMAL));
        Pump();
    }

    // To the window with the focus, as the keyboard delivers them; `repeats` more presses follow the first one
    // while the key is held.
    void Press(WPARAM key, int repeats = 0, UINT message = WM_KEYDOWN) {
        const LPARAM alt = message == WM_SYSKEYDOWN ? kAltHeld : 0;
        ::SendMessageW(::GetFocus(), message, key, kFreshPress | alt);
        for (int i = 0; i < repeats; ++i) {
            ::SendMessageW(::GetFocus(), message, key, kRepeatedPress | alt);
        }
        Pump();
    }
    void Release(WPARAM key, UINT message = WM_KEYUP) {
        ::SendMessageW(::GetFocus(), message, key, kRelease | (message == WM_SYSKEYUP ? kAltHeld : 0));
        Pump();
    }
    void PressAndRelease(WPARAM key) {
        Press(key);
        Release(key);
    }

    // Every command a key can start, so far.
    size_t Commands() const {
        return m_desktop.questions.size() + m_desktop.propertiesShown.size() + m_desktop.shellOpened.size() +
               m_dialogs.questions.size() + m_dialogs.propertiesShown.size() + m_dialogs.shellOpened.size();
    }

    DialogDesktop m_dialogs;
};

// Delete in the list asks; the Enter that answers is pressed in the dialog and released in the list again.
TEST_F(KeyTest, TheEnterThatAnswersTheDeleteQuestionDoesNothingInTheList) {
    m_registry.SetRunValue(Location::User, L"Keep", L"c:\\keep.exe");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    OpenWithSystemDialogs();
    Select(RowOf(L"Tool", 2));
    ASSERT_EQ(::GetFocus(), m_form->List());
    const HWND list = m_form->List();

    // Tab to "No", Enter there; the release reaches the list, which has the focus again.
    StartDialogScript(L"Confirm", {[&](HWND dialog) {
                                       EXPECT_EQ(::GetFocus(), ::GetDlgItem(dialog, IDYES))
                                           << "the dialog has the focus";
                                       PostKey(WM_KEYDOWN, VK_TAB, kFreshPress);
                                       PostKey(WM_KEYUP, VK_TAB, kRelease);
                                   },
                                   [&](HWND dialog) {
                                       EXPECT_EQ(::GetFocus(), ::GetDlgItem(dialog, IDNO));
                                       PostKey(WM_KEYDOWN, VK_RETURN, kFreshPress);
                                   }});
    PressAndRelease(VK_DELETE);
    ASSERT_TRUE(EndDialogScript());
    ASSERT_EQ(::GetFocus(), list);
    Release(VK_RETURN);
    EXPECT_THAT(m_dialogs.questions, ElementsAre(L"Are you sure you want to delete \"Tool\""));
    EXPECT_TRUE(m_dialogs.propertiesShown.empty());
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_EQ(m_form->EntryList().Selected(), RowOf(L"Tool", 2));

    // Enter held on "No" until the dialog has gone: its repeats reach the list, but its press did not.
    StartDialogScript(L"Confirm", {[&](HWND) { PostKey(WM_KEYDOWN, VK_TAB, kFreshPress); },
                                   [&](HWND) { PostKey(WM_KEYDOWN, VK_RETURN, kFreshPress); }});
    PressAndRelease(VK_DELETE);
    ASSERT_TRUE(EndDialogScript());
    ASSERT_EQ(::GetFocus(), list);
    for (int i = 0; i < 3; ++i) {
        ::SendMessageW(list, WM_KEYDOWN, VK_RETURN, kRepeatedPress);
    }
    Release(VK_RETURN);
    EXPECT_EQ(m_dialogs.questions.size(), 2u);
    EXPECT_TRUE(m_dialogs.propertiesShown.empty());

    // Enter on "Yes": the entry goes, once, and the release does nothing more. (No row is selected after a delete, so
    // a release that acted would find nothing to open; this part guards the answer and the focus coming back.)
    StartDialogScript(L"Confirm", {[&](HWND dialog) {
                          EXPECT_EQ(::GetFocus(), ::GetDlgItem(dialog, IDYES));
                          PostKey(WM_KEYDOWN, VK_RETURN, kFreshPress);
                      }});
    PressAndRelease(VK_DELETE);
    ASSERT_TRUE(EndDialogScript());
    ASSERT_EQ(::GetFocus(), list);
    Release(VK_RETURN);
    EXPECT_EQ(m_dialogs.questions.size(), 3u);
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Keep"));
    EXPECT_EQ(Rows().size(), 1u);
    EXPECT_TRUE(m_dialogs.propertiesShown.empty());
    EXPECT_TRUE(m_dialogs.errors.empty());
}

// The file name is typed into the file-open dialog of Add and Enter pressed there; its release lands in the list.
TEST_F(KeyTest, TheEnterThatChoosesTheProgramToAddDoesNothingInTheList) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    OpenWithSystemDialogs();
    Select(RowOf(L"Tool", 2));
    ASSERT_EQ(::GetFocus(), m_form->List());

    // The file name typed into the box that has the focus, and Enter pressed there.
    StartDialogScript(L"Browse", {[&](HWND dialog) {
                          const HWND name = ::GetFocus();
                          ASSERT_TRUE(::IsChild(::GetDlgItem(dialog, cmb13), name))
                              << "the dialog has the focus in its name box";
                          HwndSetText(name, L"C:\\windows\\notepad.exe");
                          PostKey(WM_KEYDOWN, VK_RETURN, kFreshPress);
                      }});
    Click(TMainForm::AddButton);
    ASSERT_TRUE(EndDialogScript());
    ASSERT_EQ(::GetFocus(), m_form->List());
    Release(VK_RETURN);

    EXPECT_EQ(m_dialogs.browseCount, 1);
    EXPECT_THAT(FolderNames(m_startup), ElementsAre(L"notepad.lnk"));
    EXPECT_GE(RowOf(L"notepad", 3), 0);
    EXPECT_EQ(m_form->EntryList().Selected(), RowOf(L"Tool", 2));
    EXPECT_TRUE(m_dialogs.propertiesShown.empty());
    EXPECT_TRUE(m_dialogs.errors.empty());
}

TEST_F(KeyTest, KeysPressedAndReleasedInTheListActOnRelease) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();
    m_desktop.confirmAnswer = false;
    ASSERT_EQ(::GetFocus(), m_form->List());

    PressAndRelease(VK_RETURN); // nothing selected: Enter and Delete do nothing
    PressAndRelease(VK_DELETE);
    EXPECT_EQ(Commands(), 0u);

    Select(RowOf(L"Tool", 2));
    const std::wstring tool = StorePath(2, L"Tool");
    Press(VK_RETURN);
    EXPECT_TRUE(m_desktop.propertiesShown.empty()) << "a press alone does nothing";
    Release(VK_RETURN);
    Release(VK_RETURN); // one press, one action
    EXPECT_THAT(m_desktop.propertiesShown, ElementsAre(tool));

    Press(VK_DELETE);
    EXPECT_TRUE(m_desktop.questions.empty());
    Release(VK_DELETE);
    EXPECT_EQ(m_desktop.questions.size(), 1u);

    m_registry.SetRunValue(Location::User, L"New", L"c:\\new.exe");
    Press(VK_F5);
    EXPECT_EQ(RowOf(L"New", 2), -1);
    Release(VK_F5);
    EXPECT_GE(RowOf(L"New", 2), 0);

    Press(VK_F1);
    EXPECT_TRUE(m_desktop.shellOpened.empty());
    Release(VK_F1);
    EXPECT_THAT(m_desktop.shellOpened, ElementsAre(m_programDir + L"help.html"));

    // A key held until it repeats is one press, and acts once.
    Select(RowOf(L"Tool", 2));
    Press(VK_RETURN, 5);
    Release(VK_RETURN);
    Press(VK_DELETE, 5);
    Release(VK_DELETE);
    EXPECT_EQ(m_desktop.propertiesShown.size(), 2u);
    EXPECT_EQ(m_desktop.questions.size(), 2u);

    // Modifiers held change nothing: Shift and Control as KeyUp holds them, Alt as the keyboard sends it, with
    // the system-key messages, for all of the key or for its press or release alone.
    KeyUp(VK_RETURN, true);
    KeyUp(VK_DELETE, false, true);
    EXPECT_EQ(m_desktop.propertiesShown.size(), 3u);
    EXPECT_EQ(m_desktop.questions.size(), 3u);
    Press(VK_RETURN, 0, WM_SYSKEYDOWN);
    Release(VK_RETURN, WM_SYSKEYUP);
    Press(VK_RETURN, 0, WM_SYSKEYDOWN);
    Release(VK_RETURN);
    Press(VK_RETURN);
    Release(VK_RETURN, WM_SYSKEYUP);
    EXPECT_EQ(m_desktop.propertiesShown.size(), 6u);
    EXPECT_TRUE(m_desktop.errors.empty());
}

TEST_F(KeyTest, AReleaseWhosePressWentElsewhereDoesNothing) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();
    Select(RowOf(L"Tool", 2));
    const HWND list = m_form->List();
    ASSERT_EQ(::GetFocus(), list);
    m_registry.SetRunValue(Location::User, L"New", L"c:\\new.exe");

    for (const WPARAM key : {VK_RETURN, VK_DELETE, VK_F5, VK_F1}) {
        Release(key);
    }
    EXPECT_EQ(Commands(), 0u);
    EXPECT_EQ(RowOf(L"New", 2), -1) << "F5 refreshed";

    // Pressed in the list; another window takes the focus before the release, and gives it back.
    for (const WPARAM key : {VK_RETURN, VK_DELETE, VK_F5, VK_F1}) {
        Press(key);
        const HWND other = ::CreateWindowExW(0, L"Edit", L"", WS_POPUP | WS_CAPTION | WS_VISIBLE, 100, 100, 200, 80,
                                             m_form->Handle(), nullptr, ::GetModuleHandleW(nullptr), nullptr);
        ::SetActiveWindow(other);
        ::SetFocus(other);
        Pump();
        EXPECT_EQ(::GetFocus(), other);
        ::DestroyWindow(other);
        Pump();
        ASSERT_EQ(::GetFocus(), list);
        Release(key);
    }
    EXPECT_EQ(Commands(), 0u);
    EXPECT_EQ(RowOf(L"New", 2), -1) << "F5 refreshed";
}

} // namespace
} // namespace bw::test
