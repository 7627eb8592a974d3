#include "WindowTestSupport.h"

#include "app/ContextMenu.h"
#include "app/Settings.h"
#include "app/SingleInstance.h"
#include "platform/FileSystem.h"
#include "platform/NamedObjects.h"
#include "platform/Process.h"
#include "platform/ShellLink.h"
#include "platform/Token.h"
#include "resources/Texts.h"
#include "store/StoreLock.h"

#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace bw::test {
namespace {

using ::testing::HasSubstr;

// The system's own questions and error box in place of the answering ones; menus and the shell are still recorded.
class RealDialogDesktop : public FakeDesktop {
public:
    bool Confirm(HWND owner, const std::wstring& question) override {
        Asked(question);
        questions.push_back(question);
        return m_system.Confirm(owner, question);
    }
    bool ConfirmDefaultNo(HWND owner, const std::wstring& question) override {
        Asked(question);
        questions.push_back(question);
        return m_system.ConfirmDefaultNo(owner, question);
    }
    Answer Choose(HWND owner, const std::wstring& question, const wchar_t* yes, const wchar_t* no) override {
        Asked(question);
        questions.push_back(question);
        return m_system.Choose(owner, question, yes, no);
    }
    void ShowError(HWND owner, const std::wstring& title, const std::wstring& text) override {
        Asked(text);
        errors.push_back({title, text});
        m_system.ShowError(owner, title, text);
    }

private:
    TSystemDesktop m_system;
};

// What the user (or Windows) does while a modal dialog is open: each step runs at a timer tick inside the dialog's
// own message loop, once a dialog of this thread is visible; a step that returns false runs again at the next tick.
using Step = std::function<bool(HWND dialog)>;
struct Script {
    std::vector<Step> steps;
    size_t done = 0;
    UINT_PTR timer = 0;
    ULONGLONG deadline = 0;
};
Script g_script;

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    wchar_t name[16]{};
    ::GetClassNameW(window, name, 16);
    if (std::wstring(name) == L"#32770" && ::IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

HWND OpenDialog() {
    HWND found = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), &FindDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

void CALLBACK RunStep(HWND, UINT, UINT_PTR, DWORD) {
    const HWND dialog = OpenDialog();
    if (dialog == nullptr) {
        return;
    }
    if (g_script.done < g_script.steps.size()) {
        if (g_script.steps[g_script.done](dialog)) {
            ++g_script.done;
        }
    } else if (::GetTickCount64() > g_script.deadline) {
        ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); // a failing test still ends
    }
}

class WhileDialogOpen {
public:
    explicit WhileDialogOpen(std::vector<Step> steps) {
        g_script = Script{std::move(steps)};
        g_script.deadline = ::GetTickCount64() + 10000;
        g_script.timer = ::SetTimer(nullptr, 0, 20, RunStep);
    }
    ~WhileDialogOpen() { ::KillTimer(nullptr, g_script.timer); }
    bool AllDone() const { return g_script.done == g_script.steps.size(); }
};

std::wstring DialogText(HWND dialog) {
    wchar_t text[1024]{};
    ::GetDlgItemTextW(dialog, 101, text, 1024); // our question's text
    if (text[0] == L'\0') {
        ::GetDlgItemTextW(dialog, 0xFFFF, text, 1024); // a message box's
    }
    return text;
}

// The ways a question can end without an answer, and the window closed while it is open.
enum class Ending { Escape, CloseBox, CloseWindow };
const Ending kEndings[] = {Ending::Escape, Ending::CloseBox, Ending::CloseWindow};
const char* NameOf(Ending ending) {
    return ending == Ending::Escape ? "Escape" : ending == Ending::CloseBox ? "close box" : "WM_CLOSE of the window";
}

Step End(Ending ending, HWND form) {
    return [ending, form](HWND dialog) {
        switch (ending) {
        case Ending::Escape:
            ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1);
            break;
        case Ending::CloseBox:
            ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case Ending::CloseWindow:
            ::PostMessageW(form, WM_CLOSE, 0, 0);
            break;
        }
        return true;
    };
}

Step Press(int button) {
    return [button](HWND dialog) {
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        return true;
    };
}

// True when another process could take the store's lock at once (from another thread, as bwcli would).
bool LockIsFree() {
    bool free = false;
    std::thread other([&] {
        TNamedMutex mutex(StoreLockName(ProgramDir()));
        free = mutex.Acquire(0);
    });
    other.join();
    return free;
}

class QuestionTest : public WindowTest {
protected:
    void TearDown() override {
        EXPECT_THAT(m_dialogs.askedWhileLocked, ::testing::IsEmpty()) << "asked while the store was held";
        WindowTest::TearDown();
    }
    void OpenWithDialogs() {
        m_form = std::make_unique<TMainForm>(::GetModuleHandleW(nullptr), m_dialogs, m_programDir);
        ASSERT_TRUE(m_form->Create(SW_SHOWNORMAL));
        Pump();
    }
    // Pumps until the window has gone, for at most `ms`; true when it went.
    bool WindowGoneWithin(DWORD ms) {
        const ULONGLONG until = ::GetTickCount64() + ms;
        while (::IsWindow(m_form->Handle()) && ::GetTickCount64() < until) {
            Pump();
            ::Sleep(10);
        }
        return !::IsWindow(m_form->Handle());
    }

    RealDialogDesktop m_dialogs;
};

} // namespace

// Switching on an entry whose name starts already with another command line asks first. Escape, the close box and
// closing the window are no answer: both entries stay where they are, the window goes on (or closes, when it was
// closed) within a second, and the store's lock is free.
TEST_F(QuestionTest, NoAnswerToTheReplaceQuestionChangesNothing) {
    for (const Ending ending : kEndings) {
        SCOPED_TRACE(NameOf(ending));
        m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool\\new.exe");
        WriteShortcut(StorePath(kUserOff, L"Tool"), L"c:\\tool\\old.exe", L"c:\\tool\\old.exe");
        OpenWithDialogs();
        const ULONGLONG start = ::GetTickCount64();
        {
            const WhileDialogOpen script({End(ending, m_form->Handle())});
            ToggleRow(RowOf(L"Tool", kUserOff));
            EXPECT_TRUE(script.AllDone());
        }
        ASSERT_EQ(m_dialogs.questions.size(), 1u);
        EXPECT_THAT(m_dialogs.questions[0], HasSubstr(L"starts already with another command line"));
        if (ending == Ending::CloseWindow) {
            EXPECT_TRUE(WindowGoneWithin(1000));
            EXPECT_LT(::GetTickCount64() - start, 1500u);
        } else {
            EXPECT_TRUE(::IsWindow(m_form->Handle()));
            EXPECT_FALSE(Rows().at(static_cast<size_t>(RowOf(L"Tool", kUserOff))).checked);
        }
        EXPECT_TRUE(m_dialogs.errors.empty());
        EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool\\new.exe");
        EXPECT_EQ(ReadShortcut(StorePath(kUserOff, L"Tool")).description, L"c:\\tool\\old.exe");
        EXPECT_TRUE(LockIsFree());
        m_form.reset();
        m_dialogs.questions.clear();
    }
}

// The delete question and the error box, closed with the window: nothing is deleted, the window goes within a
// second, and the lock is free.
TEST_F(QuestionTest, ClosingTheWindowEndsTheDeleteQuestionAndTheErrorBox) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    OpenWithDialogs();
    Select(RowOf(L"Tool", kUser));
    {
        const WhileDialogOpen script({End(Ending::CloseWindow, m_form->Handle())});
        Click(TMainForm::DeleteButton);
    }
    EXPECT_TRUE(WindowGoneWithin(1000));
    EXPECT_EQ(m_dialogs.questions.size(), 1u);
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_TRUE(LockIsFree());

    // A message at start (an entry that cannot be copied: a folder stands where its store link would go).
    ASSERT_TRUE(::CreateDirectoryW(StorePath(kUser, L"Boxed").c_str(), nullptr));
    m_registry.SetRunValue(Location::User, L"Boxed", L"c:\\boxed.exe");
    m_form.reset();
    {
        const WhileDialogOpen script({[&](HWND dialog) {
            EXPECT_THAT(DialogText(dialog), HasSubstr(L"could not be copied into the store"));
            ::PostMessageW(m_form->Handle(), WM_CLOSE, 0, 0);
            return true;
        }});
        OpenWithDialogs();
        EXPECT_TRUE(script.AllDone());
    }
    EXPECT_TRUE(WindowGoneWithin(1000));
    EXPECT_TRUE(LockIsFree());
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Boxed")->text, L"c:\\boxed.exe");
}

// After each kind of message at start (an entry that cannot be copied, a write-back that failed, a question), a box
// still acts: a click on another entry switches it off. Nothing that holds commands back is left set by a message.
TEST_F(QuestionTest, ACheckBoxActsAfterAMessageAtStart) {
    // Unwatched: each message comes from the start's own cycles, not also from a notification at another moment.
    const auto unwatched = FoldersWithoutNotifications();
    for (const wchar_t* name : {L"Tool1", L"Tool2", L"Tool3", L"Other"}) {
        m_registry.SetRunValue(Location::User, name, std::wstring(L"c:\\") + name + L".exe");
    }
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept-1.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
    OpenWithDialogs(); // the last run: what it mirrored is what the edits below are told from
    m_form.reset();
    Pump();
    const auto boxActs = [&](const wchar_t* name) {
        EXPECT_TRUE(m_form->ListReady());
        ToggleRow(RowOf(name, kUser));
        EXPECT_FALSE(m_registry.RunValue(Location::User, name)) << name << ": the box acted";
        EXPECT_TRUE(FileExists(StorePath(kUserOff, name))) << name;
    };

    // An entry that cannot be copied: a folder stands where its store link would go.
    ASSERT_TRUE(::CreateDirectoryW(StorePath(kUser, L"Boxed").c_str(), nullptr));
    m_registry.SetRunValue(Location::User, L"Boxed", L"c:\\boxed.exe");
    {
        const WhileDialogOpen script({Press(IDOK)});
        OpenWithDialogs();
        EXPECT_TRUE(script.AllDone());
    }
    ASSERT_EQ(m_dialogs.errors.size(), 1u);
    EXPECT_THAT(m_dialogs.errors[0].text, HasSubstr(L"could not be copied into the store"));
    boxActs(L"Tool1");
    m_form.reset();
    m_registry.RemoveRunValue(Location::User, L"Boxed");
    ASSERT_TRUE(::RemoveDirectoryW(StorePath(kUser, L"Boxed").c_str()));

    // A write-back that fails, the first thing after the start: the store link was edited, and its shortcut is held
    // open by another program.
    {
        OpenWithDialogs();
        ::Sleep(250);
        WriteShortcut(StorePath(kStartUp, L"Notes"), L"c:\\windows\\notepad.exe", L"edited");
        ::Sleep(250);
        const UniqueFile held = HoldFile(StartupPath(L"Notes.lnk"), 0);
        const WhileDialogOpen script({Press(IDOK)});
        ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0); // the window comes to the front
        Pump();
        EXPECT_TRUE(script.AllDone());
        ASSERT_EQ(m_dialogs.errors.size(), 2u);
        EXPECT_THAT(m_dialogs.errors[1].text, HasSubstr(L"could not be carried into the system"));
        boxActs(L"Tool2");
    }
    m_form.reset();

    // A question: an entry changed on both sides since the last run, and the choice left for later. (The start's own
    // cycle does not write back, where a change on both sides is found; the first cycle after it asks.)
    ::Sleep(250);
    EditShortcut(StorePath(kUser, L"Kept"), [](TShellLink& link) { link.SetDescription(L"c:\\kept-mine.exe"); });
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept-theirs.exe");
    ::Sleep(250);
    {
        const WhileDialogOpen script({Press(IDCANCEL)});
        OpenWithDialogs();
        boxActs(L"Tool3");
        EXPECT_TRUE(script.AllDone());
        ASSERT_GE(m_dialogs.questions.size(), 1u); // once per cycle at most
        EXPECT_THAT(m_dialogs.questions[0], HasSubstr(L"Kept"));
        boxActs(L"Other");
    }
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Kept")->text, L"c:\\kept-theirs.exe");
}

// Changed on both sides: no answer leaves both sides as they are, the row says that a choice is waiting, and the
// row's menu asks again; an answer is acted on once the entry has been read again.
TEST_F(QuestionTest, BothChangedWaitsForAChoice) {
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept-1.exe");
    OpenWithDialogs();
    EditShortcut(StorePath(kUser, L"Kept"), [](TShellLink& link) { link.SetDescription(L"c:\\kept-mine.exe"); });
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept-theirs.exe");
    for (const Ending ending : {Ending::Escape, Ending::CloseBox}) {
        SCOPED_TRACE(NameOf(ending));
        const WhileDialogOpen script({End(ending, m_form->Handle())});
        m_form->RefreshAll();
        Pump();
        EXPECT_TRUE(script.AllDone());
        EXPECT_EQ(m_registry.RunValue(Location::User, L"Kept")->text, L"c:\\kept-theirs.exe");
        EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Kept")).description, L"c:\\kept-mine.exe");
        // Asked again at the next cycle of its own (F5 reads everything after a cycle that left it).
        m_registry.SetRunValue(Location::User, L"Other", L"c:\\other.exe");
        ::Sleep(100);
    }
    EXPECT_EQ(m_dialogs.questions.size(), 2u);
    Select(RowOf(L"Kept", kUser));
    EXPECT_THAT(StatusPart(0), HasSubstr(L"a choice is waiting"));

    // From the row's menu: "Use the edit".
    m_dialogs.menuAnswer = ChooseChangeCommand;
    {
        const WhileDialogOpen script({Press(IDNO)});
        m_form->ShowContextMenu(-1);
        Pump();
        EXPECT_TRUE(script.AllDone());
    }
    ASSERT_FALSE(m_dialogs.menus.empty());
    EXPECT_EQ(m_dialogs.menus.back().front().command, static_cast<UINT>(ChooseChangeCommand));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Kept")->text, L"c:\\kept-mine.exe");
    Select(RowOf(L"Kept", kUser));
    EXPECT_THAT(StatusPart(0), ::testing::Not(HasSubstr(L"a choice is waiting")));
}

// The window closed while the choice is asked: both sides stay, also for the next start, and the lock is free.
TEST_F(QuestionTest, ClosingTheWindowDuringTheChoiceKeepsBothSides) {
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept-1.exe");
    OpenWithDialogs();
    EditShortcut(StorePath(kUser, L"Kept"), [](TShellLink& link) { link.SetDescription(L"c:\\kept-mine.exe"); });
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept-theirs.exe");
    {
        const WhileDialogOpen script({End(Ending::CloseWindow, m_form->Handle())});
        m_form->RefreshAll();
        Pump();
    }
    EXPECT_TRUE(WindowGoneWithin(1000));
    EXPECT_TRUE(LockIsFree());
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Kept")->text, L"c:\\kept-theirs.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Kept")).description, L"c:\\kept-mine.exe");
    // The next start asks again rather than deciding.
    m_form.reset();
    m_dialogs.questions.clear();
    {
        const WhileDialogOpen script({End(Ending::Escape, nullptr)});
        OpenWithDialogs();
    }
    EXPECT_EQ(m_dialogs.questions.size(), 1u);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Kept")->text, L"c:\\kept-theirs.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Kept")).description, L"c:\\kept-mine.exe");
}

// While the delete question is open the lock is free (bwcli works at once), a change notification runs no cycle
// inside the command, and the command reads the entry again after the answer: it changed, so nothing is deleted.
TEST_F(QuestionTest, WhileAQuestionIsOpenTheStoreIsFreeAndTheCommandReadsAgain) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\windows\\notepad.exe");
    OpenWithDialogs();
    Select(RowOf(L"Tool", kUser));
    const auto before = Rows();
    ULONGLONG changedAt = 0;
    bool freeDuringQuestion = false;
    std::vector<Row> rowsBeforeAnswer;
    {
        const WhileDialogOpen script({[&](HWND) {
                                          freeDuringQuestion = LockIsFree();
                                          m_registry.SetRunValue(Location::User, L"Tool", L"c:\\windows\\regedit.exe");
                                          changedAt = ::GetTickCount64();
                                          return true;
                                      },
                                      [&](HWND) {
                                          // The notification and the gathering of its burst have come by now.
                                          return ::GetTickCount64() - changedAt > 400;
                                      },
                                      [&](HWND dialog) {
                                          rowsBeforeAnswer = Rows();
                                          ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
                                          return true;
                                      },
                                      Press(IDOK)}); // the message that it changed meanwhile
        Click(TMainForm::DeleteButton);
        Pump();
        EXPECT_TRUE(script.AllDone());
    }
    EXPECT_TRUE(freeDuringQuestion);
    EXPECT_EQ(rowsBeforeAnswer, before) << "no cycle ran inside the question";
    ASSERT_EQ(m_dialogs.errors.size(), 1u);
    EXPECT_THAT(m_dialogs.errors[0].text, HasSubstr(L"was changed by another program while the question was open"));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\windows\\regedit.exe");
    EXPECT_TRUE(
        SameFileName(Rows().at(static_cast<size_t>(RowOf(L"Tool", kUser))).target, L"c:\\windows\\regedit.exe"));
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Tool")).description, L"c:\\windows\\regedit.exe");
}

// Restart as administrator: the window writes back and saves its settings first, then starts the elevated copy
// with its own process id; a declined prompt leaves the window working as before. (ShellExecuteExW stands in for
// Windows' prompt.)
TEST_F(QuestionTest, RestartAsAdministratorHandsTheStoreOver) {
    const auto elevated = seam::Elevated.Replace([] { return false; });
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\other.exe");
    (void)::DeleteFileW(SettingsPath().c_str());
    struct Call {
        std::wstring verb;
        std::wstring parameters;
        std::wstring valueThen;
        bool settingsThen;
    };
    std::vector<Call> calls;
    bool start = false;
    const auto shell = seam::ShellExecute.Replace([&](SHELLEXECUTEINFOW* info) {
        calls.push_back({info->lpVerb, info->lpParameters ? info->lpParameters : L"",
                         m_registry.RunValue(Location::User, L"Tool")->text, FileExists(SettingsPath())});
        if (!start) {
            ::SetLastError(ERROR_CANCELLED);
            return FALSE;
        }
        return TRUE;
    });
    TSystemDesktop system;
    m_form = std::make_unique<TMainForm>(::GetModuleHandleW(nullptr), system, m_programDir);
    ASSERT_TRUE(m_form->Create(SW_SHOWNORMAL));
    Pump();
    WriteShortcut(StorePath(kUser, L"Tool"), L"", L"c:\\tool.exe /edited");
    ::Sleep(250);

    Click(TMainForm::RestartButton);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].verb, L"runas");
    EXPECT_EQ(calls[0].parameters, L"--after " + std::to_wstring(::GetCurrentProcessId()));
    EXPECT_EQ(calls[0].valueThen, L"c:\\tool.exe /edited") << "written back before the new copy started";
    EXPECT_TRUE(calls[0].settingsThen);
    EXPECT_TRUE(::IsWindow(m_form->Handle())) << "declined: the window stays";
    ToggleRow(RowOf(L"Other", kUser));
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Other")) << "and works as before";

    start = true;
    Click(TMainForm::RestartButton);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_FALSE(::IsWindow(m_form->Handle()));
    EXPECT_TRUE(LockIsFree());
}

// The offer to restart as administrator (a change that needs rights) and the question whether to close although a
// write-back failed: Escape and the close box are "No", and closing the window during either ends the process's
// window within a second. Nothing is lost either way, nothing starts elevated, and the lock is free.
TEST_F(QuestionTest, NoAnswerToTheRestartOfferOrTheCloseQuestionLosesNothing) {
    const auto unwatched = FoldersWithoutNotifications();
    const StandardUser standardUser;
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
    for (const Ending ending : kEndings) {
        SCOPED_TRACE(NameOf(ending));
        OpenWithDialogs();
        ULONGLONG start = ::GetTickCount64();
        {
            const WhileDialogOpen script({End(ending, m_form->Handle())});
            ToggleRow(RowOf(L"Agent", kLocal));
            EXPECT_TRUE(script.AllDone());
        }
        ASSERT_EQ(m_dialogs.questions.size(), 1u);
        EXPECT_THAT(m_dialogs.questions[0], HasSubstr(L"Restart Bootwarden as administrator?"));
        EXPECT_TRUE(m_dialogs.restarts.empty()) << "nothing started elevated";
        EXPECT_TRUE(m_registry.RunValue(Location::Local, L"Agent"));
        EXPECT_TRUE(LockIsFree());
        if (ending == Ending::CloseWindow) {
            EXPECT_TRUE(WindowGoneWithin(1000));
            EXPECT_LT(::GetTickCount64() - start, 1500u);
            m_form.reset();
            OpenWithDialogs();
        } else {
            EXPECT_TRUE(::IsWindow(m_form->Handle()));
            EXPECT_TRUE(Rows().at(static_cast<size_t>(RowOf(L"Agent", kLocal))).checked);
        }

        // The edit of a shortcut that another program holds open cannot be carried at the close.
        ::Sleep(250);
        WriteShortcut(StorePath(kStartUp, L"Notes"), L"c:\\windows\\notepad.exe", L"edited");
        ::Sleep(250);
        {
            const UniqueFile held = HoldFile(StartupPath(L"Notes.lnk"), 0);
            const WhileDialogOpen script({End(ending, m_form->Handle())});
            start = ::GetTickCount64();
            ::PostMessageW(m_form->Handle(), WM_CLOSE, 0, 0);
            if (ending == Ending::CloseWindow) {
                EXPECT_TRUE(WindowGoneWithin(1000));
                EXPECT_LT(::GetTickCount64() - start, 1500u);
            } else {
                Pump();
                EXPECT_TRUE(::IsWindow(m_form->Handle())) << "no answer keeps the window";
            }
            EXPECT_TRUE(script.AllDone());
        }
        ASSERT_EQ(m_dialogs.questions.size(), 2u);
        EXPECT_THAT(m_dialogs.questions[1], HasSubstr(L"Close Bootwarden anyway?"));
        EXPECT_EQ(ReadShortcut(StorePath(kStartUp, L"Notes")).description, L"edited") << "the edit stays in the store";
        EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).description, L"notes");
        EXPECT_TRUE(LockIsFree());
        if (::IsWindow(m_form->Handle())) {
            ::SendMessageW(m_form->Handle(), WM_CLOSE, 0, 0); // the shortcut is free now: the close carries the edit
            Pump();
            EXPECT_FALSE(::IsWindow(m_form->Handle()));
            EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).description, L"edited");
        }
        m_form.reset();
        WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe", L"notes");
        m_dialogs.questions.clear();
        m_dialogs.errors.clear();
    }
}

// bwcli, a process of its own started while the delete question is open, finishes before the person answers: the
// question holds nothing of the store. Its change is what the command then reads: the entry it switched off meanwhile
// is not deleted.
TEST_F(QuestionTest, ABwcliStartedWhileAQuestionIsOpenDoesNotWaitForThePerson) {
    const std::wstring bwcli = m_programDir + L"bwcli.exe";
    ASSERT_TRUE(::CopyFileW((FolderPart(ModulePath()) + L"BwcliUnderTest.exe").c_str(), bwcli.c_str(), FALSE));
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_REGISTRY", m_registry.ScratchPath().c_str());
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_TEMP", (m_root / L"Temp").c_str());
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\windows\\notepad.exe");
    OpenWithDialogs();
    Select(RowOf(L"Tool", kUser));
    UniqueFile process;
    DWORD waited = WAIT_TIMEOUT;
    ULONGLONG started = 0;
    {
        const WhileDialogOpen script({[&](HWND) {
                                          STARTUPINFOW startup{};
                                          startup.cb = sizeof startup;
                                          std::wstring line = L"\"" + bwcli + L"\" disable Tool";
                                          PROCESS_INFORMATION info{};
                                          EXPECT_TRUE(::CreateProcessW(bwcli.c_str(), line.data(), nullptr, nullptr,
                                                                       FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                                                       &startup, &info));
                                          process.Reset(info.hProcess);
                                          UniqueFile thread(info.hThread);
                                          started = ::GetTickCount64();
                                          return true;
                                      },
                                      [&](HWND) {
                                          // Polled from the question's own message loop: the question stays open.
                                          waited = ::WaitForSingleObject(process.Get(), 0);
                                          return waited == WAIT_OBJECT_0 || ::GetTickCount64() - started > 8000;
                                      },
                                      Press(IDYES), Press(IDOK)}); // Yes to delete; then that it changed meanwhile
        Click(TMainForm::DeleteButton);
        Pump();
        EXPECT_TRUE(script.AllDone());
    }
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_REGISTRY", nullptr);
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_TEMP", nullptr);
    ASSERT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0)) << "bwcli waited for the person";
    DWORD exitCode = 99;
    ::GetExitCodeProcess(process.Get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_EQ(StoreNames(kUserOff), std::vector<std::wstring>{L"Tool.lnk"}) << "switched off, not deleted";
    ASSERT_EQ(m_dialogs.errors.size(), 1u);
    EXPECT_THAT(m_dialogs.errors[0].text, HasSubstr(L"was changed by another program while the question was open"));
}

// The copy a restart started waits on the window's claim, which the old process holds until it ends, however it
// ends; bounded, and it reads the old process's id from its command line.
TEST(HandOverTest, TheNewCopyWaitsForTheOldOneToEnd) {
    TempFolder store;
    EXPECT_EQ(HandOverFrom(HandOverArguments(4242)), std::optional<DWORD>(4242));
    EXPECT_FALSE(HandOverFrom(L""));
    EXPECT_FALSE(HandOverFrom(L"--after x"));

    UniqueObject taken(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread old([&] {
        TWindowClaim claim(store.Path());
        ASSERT_TRUE(claim.Take(0));
        ::SetEvent(taken.Get());
        ::Sleep(300);
        // ends holding it, as a process that ends does
    });
    ::WaitForSingleObject(taken.Get(), INFINITE);
    TWindowClaim second(store.Path());
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(second.Take(50)) << "the old copy still runs";
    EXPECT_TRUE(second.Take(5000));
    EXPECT_GE(::GetTickCount64() - start, 250u);
    old.join();
}

// A copy with raised rights made the store's objects with security that leaves this one out (Windows answers access
// denied; a seam stands for it, as Wine grants every open): the window says once that another copy works on the
// store, lists the entries as the system and the store have them without writing anything, follows what changes,
// refuses a change with that reason, and never crashes.
TEST_F(QuestionTest, ObjectsAnotherCopyMadeThatThisOneMayNotOpenListReadOnly) {
    const auto unwatched = FoldersWithoutNotifications();
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    WriteShortcut(StorePath(kUserOff, L"Kept"), L"c:\\kept.exe", L"c:\\kept.exe");
    const auto denied = seam::CreateNamedObject.Replace([](bool, SECURITY_ATTRIBUTES*, const std::wstring&) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return HANDLE(nullptr);
    });
    Open();
    ASSERT_EQ(m_desktop.errors.size(), 1u);
    EXPECT_THAT(m_desktop.errors[0].text, HasSubstr(L"Another copy of Bootwarden works on this store"));
    EXPECT_THAT(m_desktop.errors[0].text, HasSubstr(L"only listed"));
    ASSERT_GE(RowOf(L"Tool", kUser), 0);
    ASSERT_GE(RowOf(L"Kept", kUserOff), 0);
    EXPECT_TRUE(Rows().at(static_cast<size_t>(RowOf(L"Tool", kUser))).checked);
    EXPECT_TRUE(StoreNames(kUser).empty()) << "nothing is written without the lock";

    m_desktop.errors.clear();
    m_registry.SetRunValue(Location::User, L"New", L"c:\\new.exe");
    ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
    Pump();
    EXPECT_TRUE(m_desktop.errors.empty()) << "said once, not at each activation";
    EXPECT_GE(RowOf(L"New", kUser), 0) << "read again";

    ToggleRow(RowOf(L"Tool", kUser));
    ASSERT_EQ(m_desktop.errors.size(), 1u);
    EXPECT_THAT(m_desktop.errors[0].text, HasSubstr(L"may not share its lock, so \"Tool\" cannot be changed here"));
    EXPECT_TRUE(Rows().at(static_cast<size_t>(RowOf(L"Tool", kUser))).checked) << "the box shows it as it is";
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_EQ(StoreNames(kUserOff), std::vector<std::wstring>{L"Kept.lnk"});
    EXPECT_TRUE(StoreNames(kUser).empty());
    ::SendMessageW(m_form->Handle(), WM_CLOSE, 0, 0);
    Pump();
    EXPECT_FALSE(::IsWindow(m_form->Handle()));
}

// The lock's name taken: by an object of another kind (an event of that name), or by an object whose owner is
// neither this user nor the Administrators group. Neither is trusted: the window says that the name is taken.
TEST_F(QuestionTest, ASquattedNameIsNotTrusted) {
    {
        m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
        UniqueObject squatter(::CreateEventW(nullptr, TRUE, FALSE, StoreLockName(m_programDir).c_str()));
        ASSERT_TRUE(squatter);
        Open();
        ASSERT_EQ(m_desktop.errors.size(), 1u);
        EXPECT_THAT(m_desktop.errors[0].text, HasSubstr(L"is taken by a program that is not Bootwarden"));
        EXPECT_GE(RowOf(L"Tool", kUser), 0) << "listed all the same";
        ToggleRow(RowOf(L"Tool", kUser));
        ASSERT_EQ(m_desktop.errors.size(), 2u);
        EXPECT_THAT(m_desktop.errors[1].text, HasSubstr(L"taken by a program that is not Bootwarden, so \"Tool\""));
        EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));
        m_form.reset();
        Pump();
    }
    m_desktop.errors.clear();
    {
        TNamedMutex first(StoreLockName(m_programDir)); // it exists, so a second open asks for its owner
        const auto foreign = seam::OwnerOfObject.Replace([](HANDLE) { return std::wstring(L"S-1-5-21-1-2-3-1001"); });
        EXPECT_THROW(TNamedMutex second(StoreLockName(m_programDir)), ENotShared);
    }
    // Made by this program, whatever its rights: trusted, and open to the Administrators group, SYSTEM and the user.
    const std::wstring probe = L"Local\\Bootwarden-SharedProbe-" + std::to_wstring(::GetCurrentProcessId());
    std::unique_ptr<TNamedMutex> madeHere, openedAgain;
    EXPECT_NO_THROW(madeHere = std::make_unique<TNamedMutex>(probe)) << "made";
    EXPECT_NO_THROW(openedAgain = std::make_unique<TNamedMutex>(probe)) << "again";
    ASSERT_TRUE(openedAgain);
    TNamedMutex& again = *openedAgain;
    EXPECT_TRUE(again.Acquire(0));
}

} // namespace bw::test
