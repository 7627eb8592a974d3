#include "WindowTestSupport.h"

#include "app/Controls.h"
#include "platform/ChangeWatch.h"
#include "store/StartupApproved.h"

#include <dlgs.h>

#include <functional>
#include <map>
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
    bool ConfirmDefaultNo(HWND owner, const std::wstring& question) override {
        questions.push_back(question);
        return ShowConfirmDialog(owner, question, IDNO) == IDYES;
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

// Sets Windows' own start-up switch of `name` in `subkey` (below StartupApproved) to "may not start".
void SwitchOffInWindows(HKEY root, const std::wstring& subkey, const std::wstring& name, ScratchRegistry& registry) {
    std::string off(12, '\0');
    off[0] = 0x03;
    registry.SetValue(root, std::wstring(kStartupApprovedPath) + subkey, name, REG_BINARY, off.data(), 12);
}

// Every value (type and bytes) of a key, by "key|name".
void AddValues(HKEY root, const std::wstring& path, std::map<std::wstring, std::string>& into) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD nameLength = 16384;
        BYTE data[65536];
        DWORD size = sizeof data;
        DWORD type = 0;
        if (::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) {
            break;
        }
        into[(root == HKEY_CURRENT_USER ? L"HKCU\\" : L"HKLM\\") + path + L"|" + name] =
            std::to_string(type) + ":" + std::string(reinterpret_cast<const char*>(data), size);
    }
    ::RegCloseKey(key);
}

// Every file (bytes) below a folder, by path.
void AddFiles(const std::wstring& folder, std::map<std::wstring, std::string>& into) {
    ForEachMatch(folder + L"\\*", [&](const WIN32_FIND_DATAW& found) {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            return;
        }
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            into[folder + L"\\" + name] = "<folder>";
            AddFiles(folder + L"\\" + name, into);
        } else {
            into[folder + L"\\" + name] = ReadFileBytes(folder + L"\\" + name);
        }
    });
}

// Moving through the list and toggling with the keyboard, as a user does it.
class ListKeyTest : public KeyTest {
protected:
    // What a toggle could change: the Run keys, Windows' own switches, the Startup folder and the store.
    std::map<std::wstring, std::string> SystemAndStore() const {
        std::map<std::wstring, std::string> state;
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            AddValues(root, kRunKeyPath, state);
            for (const wchar_t* subkey : {L"Run", L"Run32", L"StartupFolder"}) {
                AddValues(root, std::wstring(kStartupApprovedPath) + subkey, state);
            }
        }
        AddFiles(m_root.Path(), state);
        return state;
    }

    // A key as the keyboard delivers it to the window with the focus: the press, its character, the release.
    void Type(WPARAM key) {
        PostKey(WM_KEYDOWN, key, kFreshPress);
        PostKey(WM_KEYUP, key, kRelease);
        Pump();
    }

    int Focused() const { return ListView_GetNextItem(m_form->List(), -1, LVNI_FOCUSED); }
};

// Selection and focus moving over every kind of row switch nothing on or off.
TEST_F(ListKeyTest, ArrowsThroughEveryKindOfRowChangeNothing) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    m_registry.SetRunValue(Location::Local, L"Service", L"c:\\service.exe");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_registry.SetRunValue(Location::User, L"Flagged", L"c:\\flagged.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
    WriteShortcut(StartupPath(L"Clock.lnk"), L"c:\\windows\\clock.exe", L"clock");
    WriteShortcut(StorePath(kLocalOff, L"Old"), L"c:\\old.exe", L"c:\\old.exe");
    WriteShortcut(StorePath(kUserOff, L"Off"), L"c:\\off.exe", L"c:\\off.exe");
    WriteShortcut(StorePath(kStartUpOff, L"Gone"), L"c:\\gone.exe", L"gone");
    // Windows keeps one entry of each place from starting; HKLM's 32-bit flags are set too (in this registry
    // both views are one key, so they name no row of their own and must change nothing either).
    SwitchOffInWindows(HKEY_LOCAL_MACHINE, L"Run", L"Service", m_registry);
    SwitchOffInWindows(HKEY_LOCAL_MACHINE, L"Run32", L"Agent", m_registry);
    SwitchOffInWindows(HKEY_CURRENT_USER, L"Run", L"Flagged", m_registry);
    SwitchOffInWindows(HKEY_CURRENT_USER, L"StartupFolder", L"Clock.lnk", m_registry);
    Open();
    ASSERT_EQ(::GetFocus(), m_form->List());
    const std::vector<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 9u);
    // Set and clear boxes alternate, so that each arrow moves from one kind onto the other somewhere.
    ASSERT_FALSE(LvGetCheck(m_form->List(), RowOf(L"Service", kLocal)));
    ASSERT_FALSE(LvGetCheck(m_form->List(), RowOf(L"Flagged", kUser)));
    ASSERT_FALSE(LvGetCheck(m_form->List(), RowOf(L"Clock", kStartUp)));
    const auto before = SystemAndStore();

    Type(VK_HOME);
    EXPECT_EQ(m_form->EntryList().Selected(), 0);
    for (size_t i = 1; i < rows.size(); ++i) {
        Type(VK_DOWN);
        EXPECT_EQ(m_form->EntryList().Selected(), static_cast<int>(i));
    }
    for (size_t i = 1; i < rows.size(); ++i) {
        Type(VK_UP);
    }
    EXPECT_EQ(m_form->EntryList().Selected(), 0);
    Type(VK_END);
    Type(VK_HOME);
    Type(VK_NEXT);
    Type(VK_PRIOR);

    EXPECT_EQ(SystemAndStore(), before);
    EXPECT_EQ(Rows(), rows);
    EXPECT_TRUE(m_desktop.errors.empty());
}

// Space on a row acts on that row's entry, and the entry keeps the selection and the focus wherever its row goes, so
// that each press acts on the same entry: switched on in Windows' settings, switched off into the store, back on.
TEST_F(ListKeyTest, SpaceActsOnTheSameEntryEachTime) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    m_registry.SetRunValue(Location::User, L"Flagged", L"c:\\flagged.exe -x");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    SwitchOffInWindows(HKEY_CURRENT_USER, L"Run", L"Flagged", m_registry);
    Open();
    Type(VK_HOME);
    Type(VK_DOWN);
    ASSERT_EQ(m_form->EntryList().Selected(), RowOf(L"Flagged", kUser));
    const std::wstring flagPath = std::wstring(kStartupApprovedPath) + L"Run";
    std::map<std::wstring, std::string> flags;
    const ScratchRegistry::Value gone{REG_NONE, L"(no value)"};

    Type(VK_SPACE); // Windows' switch says "may start"; nothing else changes
    AddValues(HKEY_CURRENT_USER, flagPath, flags);
    EXPECT_EQ(flags[L"HKCU\\" + flagPath + L"|Flagged"], "3:" + std::string("\x02", 1) + std::string(11, '\0'));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Flagged").value_or(gone).text, L"c:\\flagged.exe -x");
    EXPECT_TRUE(StoreNames(kUserOff).empty());
    EXPECT_EQ(m_form->EntryList().Selected(), RowOf(L"Flagged", kUser));
    EXPECT_EQ(Focused(), RowOf(L"Flagged", kUser));
    EXPECT_TRUE(LvGetCheck(m_form->List(), RowOf(L"Flagged", kUser)));

    Type(VK_SPACE); // switched off into the store
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Flagged"));
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"Flagged.lnk"));
    ASSERT_GE(RowOf(L"Flagged", kUserOff), 0);
    EXPECT_EQ(m_form->EntryList().Selected(), RowOf(L"Flagged", kUserOff));
    EXPECT_EQ(Focused(), RowOf(L"Flagged", kUserOff));

    Type(VK_SPACE); // and back
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Flagged").value_or(gone).text, L"c:\\flagged.exe -x");
    EXPECT_TRUE(StoreNames(kUserOff).empty());
    EXPECT_EQ(m_form->EntryList().Selected(), RowOf(L"Flagged", kUser));
    EXPECT_EQ(Focused(), RowOf(L"Flagged", kUser));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_TRUE(m_registry.RunValue(Location::Local, L"Agent"));
    EXPECT_TRUE(m_desktop.errors.empty());
}

// Delete in the list asks; the Enter that answers is pressed in the dialog and released in the list again.
TEST_F(KeyTest, TheEnterThatAnswersTheDeleteQuestionDoesNothingInTheList) {
    m_registry.SetRunValue(Location::User, L"Keep", L"c:\\keep.exe");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    OpenWithSystemDialogs();
    Select(RowOf(L"Tool", kUser));
    ASSERT_EQ(::GetFocus(), m_form->List());
    const HWND list = m_form->List();

    // Enter on "No", the default: the release reaches the list, which has the focus again.
    StartDialogScript(L"Confirm", {[&](HWND dialog) {
                          EXPECT_EQ(::GetFocus(), ::GetDlgItem(dialog, IDNO)) << "the dialog has the focus, on No";
                          PostKey(WM_KEYDOWN, VK_RETURN, kFreshPress);
                      }});
    PressAndRelease(VK_DELETE);
    ASSERT_TRUE(EndDialogScript());
    ASSERT_EQ(::GetFocus(), list);
    Release(VK_RETURN);
    EXPECT_THAT(m_dialogs.questions, ElementsAre(L"Are you sure you want to delete \"Tool\""));
    EXPECT_TRUE(m_dialogs.propertiesShown.empty());
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_EQ(m_form->EntryList().Selected(), RowOf(L"Tool", kUser));

    // Enter held on "No" until the dialog has gone: its repeats reach the list, but its press did not.
    StartDialogScript(L"Confirm", {[&](HWND) { PostKey(WM_KEYDOWN, VK_RETURN, kFreshPress); }});
    PressAndRelease(VK_DELETE);
    ASSERT_TRUE(EndDialogScript());
    ASSERT_EQ(::GetFocus(), list);
    for (int i = 0; i < 3; ++i) {
        ::SendMessageW(list, WM_KEYDOWN, VK_RETURN, kRepeatedPress);
    }
    Release(VK_RETURN);
    EXPECT_EQ(m_dialogs.questions.size(), 2u);
    EXPECT_TRUE(m_dialogs.propertiesShown.empty());

    // Enter on "Yes": the entry goes, once, and the release does nothing more: the row that took its place is
    // selected, and a release that acted would open its properties.
    StartDialogScript(L"Confirm", {[&](HWND) {
                                       PostKey(WM_KEYDOWN, VK_TAB, kFreshPress);
                                       PostKey(WM_KEYUP, VK_TAB, kRelease);
                                   },
                                   [&](HWND dialog) {
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
    EXPECT_EQ(m_form->EntryList().Selected(), RowOf(L"Keep", kUser));
    EXPECT_TRUE(m_dialogs.propertiesShown.empty());
    EXPECT_TRUE(m_dialogs.errors.empty());
}

// The file name is typed into the file-open dialog of Add and Enter pressed there; its release lands in the list.
TEST_F(KeyTest, TheEnterThatChoosesTheProgramToAddDoesNothingInTheList) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    OpenWithSystemDialogs();
    Select(RowOf(L"Tool", kUser));
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
    ASSERT_GE(RowOf(L"notepad", kStartUp), 0);
    EXPECT_EQ(m_form->EntryList().Selected(), RowOf(L"notepad", kStartUp)) << "the new entry is selected";
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

    Select(RowOf(L"Tool", kUser));
    const std::wstring tool = StorePath(kUser, L"Tool");
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
    EXPECT_EQ(RowOf(L"New", kUser), -1);
    Release(VK_F5);
    EXPECT_GE(RowOf(L"New", kUser), 0);

    Press(VK_F1);
    EXPECT_TRUE(m_desktop.shellOpened.empty());
    Release(VK_F1);
    EXPECT_THAT(m_desktop.shellOpened, ElementsAre(m_programDir + L"help.html"));

    // A key held until it repeats is one press, and acts once.
    Select(RowOf(L"Tool", kUser));
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
    // The Run key is not watched, so the list shows the new value only when a refresh reads it.
    const auto unwatched = seam::WatchKey.Replace([](HKEY, HANDLE) { return static_cast<LONG>(ERROR_NOT_SUPPORTED); });
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();
    Select(RowOf(L"Tool", kUser));
    const HWND list = m_form->List();
    ASSERT_EQ(::GetFocus(), list);
    m_registry.SetRunValue(Location::User, L"New", L"c:\\new.exe");

    for (const WPARAM key : {VK_RETURN, VK_DELETE, VK_F5, VK_F1}) {
        Release(key);
    }
    EXPECT_EQ(Commands(), 0u);
    EXPECT_EQ(RowOf(L"New", kUser), -1) << "F5 refreshed";

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
    EXPECT_EQ(RowOf(L"New", kUser), -1) << "F5 refreshed";
}

// Switching on an entry whose name a different entry that starts now has taken asks first, and Enter there, on the
// question's default, keeps everything as it is.
TEST_F(KeyTest, EnterOnTheReplaceQuestionChangesNothing) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\new\\tool.exe --new");
    WriteShortcut(StorePath(kUserOff, L"Tool"), L"c:\\old\\tool.exe", L"c:\\old\\tool.exe --old-config");
    const std::string kept = ReadFileBytes(StorePath(kUserOff, L"Tool"));
    OpenWithSystemDialogs();
    StartDialogScript(L"Confirm", {[&](HWND dialog) {
                          EXPECT_EQ(::GetFocus(), ::GetDlgItem(dialog, IDNO)) << "No is the default";
                          PostKey(WM_KEYDOWN, VK_RETURN, kFreshPress);
                      }});
    ToggleRow(RowOf(L"Tool", kUserOff));
    ASSERT_TRUE(EndDialogScript());
    ASSERT_EQ(m_dialogs.questions.size(), 1u);
    EXPECT_EQ(m_dialogs.questions[0], L"\"Tool\" starts already with another command line.\n\nStarts now: "
                                      L"c:\\new\\tool.exe --new\nSwitched off: c:\\old\\tool.exe --old-config\n\n"
                                      L"Switch on the switched-off one, and keep the one that starts now switched off "
                                      L"in its place?");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\new\\tool.exe --new");
    EXPECT_EQ(ReadFileBytes(StorePath(kUserOff, L"Tool")), kept);
    EXPECT_FALSE(LvGetCheck(m_form->List(), RowOf(L"Tool", kUserOff))) << "the box shows the entry's state again";
    EXPECT_TRUE(m_dialogs.errors.empty());

    // Yes exchanges them.
    StartDialogScript(L"Confirm", {[&](HWND dialog) { ::PostMessageW(dialog, WM_COMMAND, IDYES, 0); }});
    ToggleRow(RowOf(L"Tool", kUserOff));
    ASSERT_TRUE(EndDialogScript());
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\old\\tool.exe --old-config");
    EXPECT_EQ(ReadShortcut(StorePath(kUserOff, L"Tool")).description, L"c:\\new\\tool.exe --new");
    EXPECT_EQ(m_form->EntryList().Selected(), RowOf(L"Tool", kUser));
}

} // namespace
} // namespace bw::test
