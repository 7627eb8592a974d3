// The soak: plays the user and the outside world against the real Bootwarden.exe and bwcli.exe for a while, on a
// few hundred entries of its own Wine prefix, ends the programs at random instants, and after every kill and at
// the end checks that no entry was lost, cut, changed to something nobody wrote, or kept twice. The watcher
// (Bootwarden.exe --watch) runs beside them much of the time; it is killed while idle and right after an outside
// change, closed, started again, and made to take an entry kept switched off out of Windows again.
//
//   BootwardenSoak --program DIR [--minutes M] [--seed N] [--entries N] [--steps N]
//
// DIR holds the copy of Bootwarden.exe and bwcli.exe whose store is worked on. The same seed makes the same
// choices in the same order; the instants at which programs end depend on how fast they run.

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/NamedObjects.h"
#include "store/ErrorText.h"
#include "store/Locations.h"
#include "store/StoreData.h"
#include "store/StoreLock.h"
#include "store/StoreReader.h"
#include "tools/soak/SoakModel.h"
#include "tools/soak/SoakWorld.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace soak {
namespace {

using Clock = ULONGLONG;

struct Options {
    std::wstring programDir;
    double minutes = 5;
    unsigned seed = 0;
    int entries = 300;
    long long steps = -1; // stop after this step (to replay up to a violation)
};

// A program started by the soak.
struct Child {
    bw::UniqueObject process;
    DWORD id = 0;
    std::wstring what;
};

// The watcher's hidden window, which it makes before its first import and answers once that import is done.
constexpr const wchar_t* kWatcherWindowClass = L"BootwardenWatcher";

const wchar_t* LocationKey(bw::Location location) {
    switch (location) {
    case bw::Location::Local:
        return L"hklm";
    case bw::Location::User:
        return L"hkcu";
    case bw::Location::StartUp:
        return L"startup";
    case bw::Location::Local32:
        return L"hklm32";
    default:
        break;
    }
    return bw::InfoOf(location).word;
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

std::string Utf8(const std::wstring& given) {
    if (given.empty()) {
        return {};
    }
    std::wstring text = given;
    std::replace(text.begin(), text.end(), L'\0', L'\u2400'); // a name may hold a zero: shown as its symbol
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

void Print(const std::wstring& line) {
    const std::string bytes = Utf8(line) + "\n";
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

class TSoak {
public:
    explicit TSoak(const Options& options) : m_options(options), m_random(options.seed), m_world(options.programDir) {}

    int Run();

private:
    // Choices.
    unsigned Below(unsigned bound) { return bound == 0 ? 0 : static_cast<unsigned>(m_random() % bound); }
    bool Chance(unsigned percent) { return Below(100) < percent; }
    bw::Location AnyLocation();
    std::wstring NewName();
    Content NewCommandLine(bw::Location location);
    std::wstring NewArguments();
    const ModelEntry* AnyEntry(bool switchedOff = false);

    // The world.
    void Seed();
    void OutsideChange(bool whileRunning);
    void EditStoreLink();

    // The programs.
    Child Start(const std::wstring& program, const std::wstring& arguments);
    bool WaitFor(Child& child, DWORD ms, DWORD* exitCode = nullptr);
    void Kill(Child& child);
    void AnswerDialogs(DWORD processId);
    bool EndedAfterCloseInQuestion(const Child& window);
    HWND MainWindowOf(DWORD processId);
    void ToggleRow(const Child& window, HWND list);
    void RunCli(bool whileWindow);
    void RunCliOnAnothersStore();
    void RunWindow();
    void SecondWindow();

    // The watcher: started as a child and left running while the other steps go on.
    void WatcherStep();
    void WatcherDuringWindow();
    void StartWatcher();
    bool WatcherRuns();
    bool WatcherReady();
    void KillWatcher(const char* count, const wchar_t* when);
    void CloseWatcher();
    void KeepOffComesBack();
    HWND WatcherWindowOf(DWORD processId);
    // What the places hold, read with the store's lock held, so that a running watcher is seen between its works.
    Observation ObserveLocked();

    void Check(const wchar_t* when, bool final = false);
    void Violation(const std::wstring& text);
    void Count(const std::string& what, int by = 1) { m_counts[what] += by; }
    // A line in the log that the programs' output goes to, so that a violation can be traced to its steps.
    void Log(const std::wstring& line);

    Options m_options;
    std::mt19937 m_random;
    TWorld m_world;
    TModel m_model;
    long long m_step = 0;
    int m_nameCounter = 0;
    std::map<std::string, long long> m_counts;
    std::map<std::wstring, int> m_dialogTexts;
    Clock m_closedDuringQuestion = 0;    // when the soak closed the main window while a dialog was open
    FILETIME m_closedDuringQuestionAt{}; // the same moment, as the system tells a process's end
    std::vector<std::wstring> m_violations;
    std::set<std::wstring> m_temporaryAtLastCheck;
    bool m_cleanRunSinceCheck = false;
    std::map<std::wstring, std::uint64_t> m_sentinels;
    bw::UniqueFile m_log;
    Child m_watcher; // no process while none runs
};

bw::Location TSoak::AnyLocation() {
    const unsigned pick = Below(100);
    if (pick < 45) {
        return bw::Location::User;
    }
    if (pick < 70) {
        return bw::Location::Local;
    }
    if (pick < 80 && m_world.HasLocal32()) {
        return bw::Location::Local32;
    }
    return pick < 80 ? bw::Location::Local : pick < 90 ? bw::Location::StartUp : bw::Location::Common;
}

std::wstring TSoak::NewName() {
    static const wchar_t* const kOdd[] = {L"with = sign",  L"=CON",           L"CON",         L"trailing space ",
                                          L"ünïcödé 名前", L"a/b slash",      L"dots..",      L"semi;colon",
                                          L"#hash",        L"percent %TEMP%", L"Тестовый",    L"-dash first",
                                          L"tab\tname",    L"ends with dot.", L"back\\slash", L"   "};
    const int number = ++m_nameCounter;
    if (Chance(12)) {
        return std::wstring(kOdd[Below(sizeof kOdd / sizeof kOdd[0])]) + L" " + std::to_wstring(number);
    }
    if (Chance(2)) {
        return std::wstring(200 + Below(80), L'n') + std::to_wstring(number); // too long for some stores' paths
    }
    return L"Entry " + std::to_wstring(number);
}

std::wstring TSoak::NewArguments() {
    static const wchar_t* const kArguments[] = {L"--background",
                                                L"/minimized",
                                                L"-k \"C:\\some path\\doc.txt\"",
                                                L"--名前 ü",
                                                L"",
                                                L"--config=%APPDATA%\\x.ini",
                                                L"a  b   c",
                                                L"\"quoted only\"",
                                                L"/s /q"};
    std::wstring arguments = kArguments[Below(sizeof kArguments / sizeof kArguments[0])];
    arguments += (arguments.empty() ? L"" : L" ") + std::wstring(L"--n=") + std::to_wstring(m_random() % 100000);
    if (Chance(4)) {
        arguments += L" " + std::wstring(250 + Below(600), L'x'); // long, but a link keeps it
    }
    return arguments;
}

Content TSoak::NewCommandLine(bw::Location location) {
    static const wchar_t* const kPrograms[] = {L"C:\\windows\\system32\\notepad.exe",
                                               L"C:\\windows\\system32\\cmd.exe",
                                               L"\"C:\\Program Files\\Soak Tools\\agent.exe\"",
                                               L"%SystemRoot%\\system32\\taskmgr.exe",
                                               L"rundll32.exe",
                                               L"\"C:\\Programme\\Überall\\工具.exe\""};
    if (IsFolder(location)) {
        static const wchar_t* const kTargets[] = {L"C:\\windows\\system32\\notepad.exe",
                                                  L"C:\\windows\\system32\\cmd.exe", L"C:\\windows\\regedit.exe",
                                                  L"C:\\windows\\system32\\winver.exe"};
        return ShortcutContent(kTargets[Below(sizeof kTargets / sizeof kTargets[0])], NewArguments());
    }
    std::wstring line = kPrograms[Below(sizeof kPrograms / sizeof kPrograms[0])];
    const std::wstring arguments = NewArguments();
    if (!arguments.empty()) {
        line += L" " + arguments;
    }
    if (Chance(1)) {
        line += L" " + std::wstring(1100 + Below(400), L'y'); // longer than a link keeps: never switched off
    }
    const bool expandable = line.find(L'%') != std::wstring::npos ? !Chance(10) : Chance(5);
    return {static_cast<DWORD>(expandable ? REG_EXPAND_SZ : REG_SZ), line};
}

const ModelEntry* TSoak::AnyEntry(bool switchedOff) {
    std::vector<const ModelEntry*> entries = m_model.Entries(switchedOff);
    if (entries.empty()) {
        entries = m_model.Entries();
    }
    return entries.empty() ? nullptr : entries[Below(static_cast<unsigned>(entries.size()))];
}

void TSoak::Seed() {
    m_world.Clear();
    m_world.PlantSentinels(m_random);
    for (int i = 0; i < m_options.entries; ++i) {
        const bw::Location location = AnyLocation();
        std::wstring name = NewName();
        if (IsFolder(location)) {
            // A shortcut's name is a file name: odd ones that cannot be go into the registry instead.
            if (!bw::IsSafeEntryName(name) || name.size() > 120) {
                name = L"Shortcut " + std::to_wstring(++m_nameCounter);
            }
        }
        const Content content = NewCommandLine(location);
        const bool off = Chance(15) && content.text.size() < 1000;
        if (off) {
            try {
                m_world.WriteSwitchedOff(location, name, content);
            } catch (const std::exception&) {
                continue; // a name that no store link can keep is never switched off
            }
        } else if (IsFolder(location)) {
            m_world.WriteShortcut(location, name, content);
        } else {
            m_world.WriteValue(location, name, content);
        }
        if (!off && Chance(5)) {
            m_world.SetSwitchedOffInWindows(location, name);
        }
        m_model.Changed(location, name, content, false);
    }
    // A key's default value. (Two Startup shortcuts whose names differ in case only cannot be made here: Wine's
    // file functions take the second for the first.)
    const Content standard = NewCommandLine(bw::Location::User);
    m_world.WriteValue(bw::Location::User, L"", standard);
    m_model.Changed(bw::Location::User, L"", standard, false);
}

void TSoak::OutsideChange(bool whileRunning) {
    Count(whileRunning ? "outside change while running" : "outside change");
    if (m_watcher.process) {
        Count("outside change while the watcher runs");
    }
    const unsigned kind = Below(100);
    if (kind < 15) { // a program adds itself
        const bw::Location location = AnyLocation();
        std::wstring name = NewName();
        if (IsFolder(location) && (!bw::IsSafeEntryName(name) || name.size() > 120)) {
            name = L"Shortcut " + std::to_wstring(++m_nameCounter);
        }
        const Content content = NewCommandLine(location);
        m_model.Changed(location, name, content, false);
        IsFolder(location) ? m_world.WriteShortcut(location, name, content)
                           : m_world.WriteValue(location, name, content);
        Log(L"outside: added \"" + name + L"\" " + Describe(content));
        Count("  value or shortcut added");
        return;
    }
    const ModelEntry* entry = AnyEntry();
    if (entry == nullptr) {
        return;
    }
    if (kind < 25 && !IsFolder(entry->location) && entry->name.find(L'\0') == std::wstring::npos) {
        // A program hides a value beside another: the same name, a zero, more. The two are never to be confused.
        const bw::Location location = entry->location;
        const std::wstring name = entry->name + std::wstring(1, L'\0') + L"hidden " + std::to_wstring(++m_nameCounter);
        const Content content = NewCommandLine(location);
        m_model.Changed(location, name, content, false);
        m_world.WriteValue(location, name, content);
        Log(L"outside: added \"" + name + L"\" beside \"" + entry->name + L"\" " + Describe(content));
        Count("  value with a zero in its name added");
        return;
    }
    const bw::Location location = entry->location;
    const std::wstring name = entry->name;
    if (kind < 80) { // an updater changes it, or a program adds itself again after it was switched off
        const Content content = NewCommandLine(location);
        m_model.Changed(location, name, content, true);
        IsFolder(location) ? m_world.WriteShortcut(location, name, content)
                           : m_world.WriteValue(location, name, content);
        Log(L"outside: changed \"" + name + L"\" to " + Describe(content));
        Count(IsFolder(location) ? "  shortcut replaced" : "  value changed");
        return;
    }
    // An uninstaller removes it.
    const bool removed =
        IsFolder(location) ? m_world.RemoveShortcut(location, name) : m_world.RemoveValue(location, name);
    if (removed) {
        m_model.Deleted(location, name);
        Log(L"outside: removed \"" + name + L"\"");
        Count(IsFolder(location) ? "  shortcut removed" : "  value removed");
    }
}

void TSoak::EditStoreLink() {
    bw::TStoreReader store;
    std::vector<int> enabled;
    for (int code : bw::AllCodes()) {
        if (bw::IsEnabledCode(code)) {
            enabled.push_back(code);
        }
    }
    (void)store.Read(enabled);
    if (store.Links().empty()) {
        return;
    }
    const auto& link = store.Links()[Below(static_cast<unsigned>(store.Links().size()))];
    const bw::Location location = bw::LocationOf(link->code);
    // A registry entry's link gets a new comment, or (saved by the shell, its block dropped) new arguments, which
    // only the store's own record tells from the comment.
    const bool arguments = !IsFolder(location) && Chance(50);
    const std::wstring text = IsFolder(location) || arguments ? NewArguments() : NewCommandLine(location).text;
    // The edit may come to be written back, so it counts as the entry's from now on, whatever the link said.
    if (m_model.Find(location, link->name) == nullptr) {
        return;
    }
    const auto content = m_world.EditStoreLink(link->path, location, text, arguments);
    if (content) {
        m_model.EditedInStore(location, link->name, *content);
        Log(L"edited " + link->path + L" to " + Describe(*content));
        Count(arguments ? "store link's arguments edited" : "store link edited");
    }
}

Child TSoak::Start(const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = Quoted(m_world.ProgramDir() + program) + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = m_log.Get();
    startup.hStdError = m_log.Get();
    PROCESS_INFORMATION started{};
    // A start the system refuses for a moment (a loaded machine) is tried again, and counted; one it refuses
    // every time is a violation, as is anything that follows from it.
    for (int attempt = 1;; ++attempt) {
        if (::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, m_world.ProgramDir().c_str(),
                             &startup, &started)) {
            break;
        }
        const DWORD error = ::GetLastError();
        Log(L"cannot start " + commandLine + L" (error " + std::to_wstring(error) + L"), attempt " +
            std::to_wstring(attempt));
        if (attempt == 3) {
            Violation(L"cannot start " + commandLine + L" (error " + std::to_wstring(error) + L")");
            return {};
        }
        Count("start tried again");
        ::Sleep(500);
    }
    ::CloseHandle(started.hThread);
    Child child;
    child.process = bw::UniqueObject(started.hProcess);
    child.id = started.dwProcessId;
    child.what = program + L" " + arguments;
    Log(L"start " + child.what);
    return child;
}

bool TSoak::WaitFor(Child& child, DWORD ms, DWORD* exitCode) {
    if (!child.process) {
        return true;
    }
    const Clock until = ::GetTickCount64() + ms;
    for (;;) {
        const Clock now = ::GetTickCount64();
        const DWORD slice = static_cast<DWORD>(now >= until ? 0 : std::min<Clock>(100, until - now));
        if (::WaitForSingleObject(child.process.Get(), slice) == WAIT_OBJECT_0) {
            DWORD code = 0;
            ::GetExitCodeProcess(child.process.Get(), &code);
            if (exitCode != nullptr) {
                *exitCode = code;
            }
            return true;
        }
        AnswerDialogs(child.id);
        if (::GetTickCount64() >= until) {
            return false;
        }
    }
}

void TSoak::Kill(Child& child) {
    if (child.process) {
        Log(L"kill " + child.what);
        ::TerminateProcess(child.process.Get(), 0xDEAD);
        ::WaitForSingleObject(child.process.Get(), INFINITE);
    }
}

struct FoundWindows {
    DWORD processId;
    const wchar_t* className;
    std::vector<HWND> windows;
    bool hiddenToo = false;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter) {
    auto& found = *reinterpret_cast<FoundWindows*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    if ((found.processId == 0 || owner == found.processId) && std::wstring(className) == found.className &&
        (found.hiddenToo || ::IsWindowVisible(window))) {
        found.windows.push_back(window);
    }
    return TRUE;
}

void TSoak::AnswerDialogs(DWORD processId) {
    FoundWindows dialogs{processId, L"#32770", {}};
    ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&dialogs));
    for (HWND dialog : dialogs.windows) {
        wchar_t text[160] = {};
        ::GetDlgItemTextW(dialog, 0xFFFF, text, 160); // a message box's text
        std::wstring said = text;
        if (said.size() > 70) {
            said = said.substr(0, 70) + L"...";
        }
        ++m_dialogTexts[said];
        Count("dialogs answered");
        // A question gets either answer, or none: Escape, its close box, or the main window closed while it is
        // open (then the process must end at once, having changed nothing the question was about). A message is
        // acknowledged, or closed the same ways.
        const unsigned pick = Below(100);
        const HWND main = MainWindowOf(processId);
        if (pick < 8 && main != nullptr && m_closedDuringQuestion == 0) {
            Log(L"dialog \"" + std::wstring(text) + L"\": the main window closed");
            Count("dialogs: main window closed while open");
            m_closedDuringQuestion = ::GetTickCount64();
            ::GetSystemTimeAsFileTime(&m_closedDuringQuestionAt);
            ::PostMessageW(main, WM_CLOSE, 0, 0);
            continue;
        }
        if (pick < 20) {
            Log(L"dialog \"" + std::wstring(text) + L"\": Escape");
            Count("dialogs: Escape");
            ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            continue;
        }
        if (pick < 30) {
            Log(L"dialog \"" + std::wstring(text) + L"\": close box");
            Count("dialogs: close box");
            ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            continue;
        }
        int answer = IDCANCEL;
        if (::GetDlgItem(dialog, IDYES) && ::GetDlgItem(dialog, IDNO)) {
            answer = Chance(50) ? IDYES : IDNO;
        } else if (::GetDlgItem(dialog, IDOK)) {
            answer = IDOK;
        } else if (::GetDlgItem(dialog, IDYES)) {
            answer = IDYES;
        }
        Log(L"dialog \"" + std::wstring(text) + L"\" answered " + std::to_wstring(answer));
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, answer)));
    }
}

// The window ended after the soak closed it during a question: it must have ended within a few seconds (a second,
// as the program promises, with room for a loaded machine), and the store and the system must hold every entry.
bool TSoak::EndedAfterCloseInQuestion(const Child& window) {
    if (m_closedDuringQuestion == 0) {
        return false;
    }
    // The process's own end, as the system keeps it: the soak may have been busy with a step of its own meanwhile
    // (a second window it waited for), which is no time the window took.
    Clock took = ::GetTickCount64() - std::exchange(m_closedDuringQuestion, 0);
    FILETIME created{}, exited{}, kernel{}, user{};
    if (::GetProcessTimes(window.process.Get(), &created, &exited, &kernel, &user)) {
        const auto ticks = [](const FILETIME& time) {
            return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        };
        const ULONGLONG end = ticks(exited), closed = ticks(m_closedDuringQuestionAt);
        took = end > closed ? (end - closed) / 10000 : 0; // 100 ns units
    }
    Count("windows closed during a question");
    if (took > 5000) {
        Violation(L"the window closed during a question took " + std::to_wstring(took) + L" ms to end");
    }
    Check(L"after the window was closed during a question");
    return true;
}

HWND TSoak::MainWindowOf(DWORD processId) {
    FoundWindows windows{processId, L"BootwardenMainWindow", {}};
    ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows.windows.empty() ? nullptr : windows.windows.front();
}

BOOL CALLBACK FindList(HWND window, LPARAM parameter) {
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    if (std::wstring(className) == WC_LISTVIEWW) {
        *reinterpret_cast<HWND*>(parameter) = window;
        return FALSE;
    }
    return TRUE;
}

// Sets or clears the check box of a row as a click does: the list's state is set in the window's own process,
// where the item it is given must live.
void TSoak::ToggleRow(const Child& window, HWND list) {
    DWORD_PTR rows = 0;
    if (!::SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &rows) || rows == 0) {
        return;
    }
    // Most rows are checked: half the time one that is not is looked for, so that both ways are toggled often.
    const bool wantUnchecked = Chance(50);
    int row = static_cast<int>(Below(static_cast<unsigned>(rows)));
    bool checked = false;
    for (unsigned tries = 0; tries < (wantUnchecked ? rows : 1); ++tries) {
        DWORD_PTR state = 0;
        if (!::SendMessageTimeoutW(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK, SMTO_ABORTIFHUNG, 2000, &state)) {
            return;
        }
        checked = ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
        if (!checked || !wantUnchecked) {
            break;
        }
        row = static_cast<int>((row + 1) % rows);
    }
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 1 : 2);
    void* remote = ::VirtualAllocEx(window.process.Get(), nullptr, sizeof item, MEM_COMMIT, PAGE_READWRITE);
    if (remote == nullptr || !::WriteProcessMemory(window.process.Get(), remote, &item, sizeof item, nullptr)) {
        return;
    }
    // A toggle that asks a question does not return until it is answered; the item stays where it is then.
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 1500,
                          &result);
    Log(std::wstring(checked ? L"window: switch off row " : L"window: switch on row ") + std::to_wstring(row));
    Count(checked ? "window: switch off" : "window: switch on");
}

void TSoak::RunCli(bool whileWindow) {
    std::wstring arguments;
    std::string kind;
    const unsigned pick = Below(100);
    // Most entries start: switching on is asked mostly of those the last check found switched off.
    const ModelEntry* entry = AnyEntry(pick >= 57 && pick < 85 && Chance(80));
    if (entry != nullptr && Chance(25)) {
        // A value hidden beside another is chosen well above its share, so that every command is tried on it.
        std::vector<const ModelEntry*> hidden;
        for (const ModelEntry* candidate : m_model.Entries()) {
            if (candidate->name.find(L'\0') != std::wstring::npos) {
                hidden.push_back(candidate);
            }
        }
        if (!hidden.empty()) {
            entry = hidden[Below(static_cast<unsigned>(hidden.size()))];
        }
    }
    // A name with a zero in it cannot pass on a command line: it is named by its id (its location and its name as
    // its store link spells it), as list prints it.
    const auto nameOf = [&](const ModelEntry& chosen) {
        const auto stored = bw::StoredNameOf(chosen.name);
        if (chosen.name.find(L'\0') != std::wstring::npos && stored) {
            return L"--id " + Quoted(std::wstring(LocationKey(chosen.location)) + L":" + *stored);
        }
        return L"--location " + std::wstring(LocationKey(chosen.location)) + L" -- " + Quoted(chosen.name);
    };
    auto named = [&](const wchar_t* command) { return std::wstring(command) + L" " + nameOf(*entry); };
    if (pick < 10 || entry == nullptr) {
        arguments = L"list --json";
        kind = "bwcli list";
    } else if (pick < 30) {
        arguments = L"refresh";
        kind = "bwcli refresh";
    } else if (pick < 57) {
        arguments = named(L"disable");
        kind = "bwcli disable";
    } else if (pick < 85) {
        const bool replace = Chance(35);
        arguments = named(L"enable") + (replace ? L" --replace" : L"");
        kind = replace ? "bwcli enable --replace" : "bwcli enable";
    } else if (pick < 93) {
        const bool on = Chance(50);
        arguments = std::wstring(L"delete --state ") + (on ? L"on" : L"off") + L" " + nameOf(*entry);
        m_model.Deleted(entry->location, entry->name);
        kind = "bwcli delete";
    } else {
        const std::wstring name = L"Added " + std::to_wstring(++m_nameCounter);
        const std::wstring program = L"C:\\windows\\system32\\winver.exe";
        arguments = L"add --name " + Quoted(name) + L" " + Quoted(program);
        m_model.Changed(bw::Location::StartUp, name, ShortcutContent(program, L""), false);
        m_model.Deleted(bw::Location::StartUp, name); // it may never come if the add is stopped
        kind = "bwcli add";
    }
    Count(kind + (whileWindow ? " (window open)" : ""));
    Child cli = Start(L"bwcli.exe", arguments);
    const bool kill = !whileWindow && Chance(25);
    DWORD code = 0;
    if (kill) {
        const bool ended = WaitFor(cli, Below(1500), &code);
        if (!ended) {
            Kill(cli);
            Count("kills of bwcli");
            Check(L"after bwcli was killed");
            return;
        }
    } else if (!WaitFor(cli, 60000, &code)) {
        Violation(L"bwcli " + arguments + L" did not end within a minute");
        Kill(cli);
        return;
    }
    Count("bwcli exit " + std::to_string(code));
    // 4: a refresh that left something for a person (an entry changed on both sides, an edit not carried).
    if (code > 4 || (code == 4 && kind != "bwcli refresh")) {
        Violation(L"bwcli " + arguments + L" ended with " + std::to_wstring(code) + L" (0 to 3, or 4 for refresh)");
    }
    if (!whileWindow) {
        m_cleanRunSinceCheck = true;
    }
}

// Everything an observation holds, one line per instance, in a stable order: two of them are equal when nothing
// in the system or the store changed.
std::vector<std::wstring> Lines(const Observation& seen) {
    std::vector<std::wstring> lines;
    for (const Instance& instance : seen.instances) {
        lines.push_back(std::to_wstring(static_cast<int>(instance.location)) + L"|" + instance.name + L"|" +
                        std::to_wstring(static_cast<int>(instance.place)) + L"|" +
                        (instance.content ? Describe(*instance.content) : L"(unreadable)") + L"|" + instance.path);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// A store that another account on another computer made is only listed: bwcli lists it, refuses every change
// with 2 and writes nothing, until `bwcli adopt` takes it over again. The soak stands for that other account by
// writing an owner's file that names it.
void TSoak::RunCliOnAnothersStore() {
    // The store of another account is never watched from here: the watcher stops before the store changes hands.
    if (WatcherRuns()) {
        CloseWatcher();
    }
    // The owner's file lies in the store's data folder; a store that has not moved its files yet keeps it beside.
    std::wstring ownerPath = bw::JoinPath(bw::JoinPath(m_world.ProgramDir(), bw::kDataFolderName), bw::kStoreOwnerFile);
    if (!bw::PathExists(ownerPath)) {
        ownerPath = m_world.ProgramDir() + bw::kStoreOwnerFile;
    }
    const auto ownerBefore = bw::ReadWholeFile(ownerPath, 64u << 10);
    if (!ownerBefore) {
        return; // no owner yet: nothing has run on this store
    }
    Count("bwcli on another's store");
    const std::wstring other = L"Bootwarden store owner 1\nsid=S-1-5-21-1111111111-2222222222-3333333333-1001\n"
                               L"account=ELSEWHERE\\someone\nmachineGuid=00000000-1111-2222-3333-444444444444\n"
                               L"machine=ELSEWHERE\n";
    bw::WriteFileReplacing(ownerPath,
                           std::string(reinterpret_cast<const char*>(other.data()), other.size() * sizeof(wchar_t)));
    const auto before = Lines(m_world.Observe());
    const ModelEntry* entry = AnyEntry(Chance(50));
    std::vector<std::pair<std::wstring, DWORD>> commands{{L"list --json", 0}, {L"refresh", 2}};
    if (entry != nullptr && entry->name.find(L'\0') == std::wstring::npos) {
        const std::wstring named =
            L"--location " + std::wstring(LocationKey(entry->location)) + L" -- " + Quoted(entry->name);
        commands.push_back({L"disable " + named, 2});
        commands.push_back({L"enable " + named, 2});
        commands.push_back({L"delete --state " + std::wstring(Chance(50) ? L"on " : L"off ") + named, 2});
    }
    for (const auto& [arguments, expected] : commands) {
        Child cli = Start(L"bwcli.exe", arguments);
        DWORD code = 0;
        if (!WaitFor(cli, 60000, &code)) {
            Violation(L"bwcli " + arguments + L" on another's store did not end within a minute");
            Kill(cli);
            continue;
        }
        // A change that finds nothing to change may say so with 1 before it would be refused; never 0.
        const bool refusedAsNeeded = expected == 0 ? code == 0 : (code == 2 || code == 1);
        if (!refusedAsNeeded) {
            Violation(L"bwcli " + arguments + L" on another's store ended with " + std::to_wstring(code));
        }
        Count("bwcli exit " + std::to_string(code) + " on another's store");
        if (Lines(m_world.Observe()) != before) {
            Violation(L"bwcli " + arguments + L" changed the system or the store of another account");
        }
    }
    Child adopt = Start(L"bwcli.exe", L"adopt");
    DWORD code = 0;
    if (!WaitFor(adopt, 60000, &code) || code != 0) {
        Violation(L"bwcli adopt did not take the store over (" + std::to_wstring(code) + L")");
        Kill(adopt);
        bw::WriteFileReplacing(ownerPath, *ownerBefore);
        return;
    }
    if (bw::ReadWholeFile(ownerPath, 64u << 10) != ownerBefore) {
        Violation(L"bwcli adopt recorded another owner than the one the store had");
        bw::WriteFileReplacing(ownerPath, *ownerBefore);
    }
    // None of these ran an import: what a stopped run left may still be there.
}

void TSoak::SecondWindow() {
    Count("second window started");
    Child second = Start(L"Bootwarden.exe", L"");
    DWORD code = 0;
    if (WaitFor(second, 15000, &code)) {
        if (code != 0) {
            Violation(L"a second window ended with " + std::to_wstring(code));
        }
        return;
    }
    // The first one had no window to show yet: the second works on its own, the lock keeping the two apart.
    Count("second window stayed (the first had none yet)");
    if (HWND window = MainWindowOf(second.id)) {
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
    if (!WaitFor(second, 30000, &code)) {
        Violation(L"a second window that stayed did not close within 30 s");
        Kill(second);
    }
}

void TSoak::RunWindow() {
    m_closedDuringQuestion = 0;
    Count("window started");
    // Stopped at a chosen point of its first import (the soak's copy of the program ends itself there, as a
    // kill would): once it saved what it is about to write, or after its nth store link written.
    if (Chance(15)) {
        // Outside changes first, so that the import has store links to write anew (an updater ran while the
        // program was closed).
        for (unsigned i = 1 + Below(3); i > 0; --i) {
            OutsideChange(false);
        }
        const std::wstring point = Chance(40) ? L"intents-saved:1" : L"link-written:" + std::to_wstring(1 + Below(2));
        ::SetEnvironmentVariableW(L"BOOTWARDEN_KILL_AT", point.c_str());
        Child window = Start(L"Bootwarden.exe", L"");
        ::SetEnvironmentVariableW(L"BOOTWARDEN_KILL_AT", nullptr);
        Log(L"kill at " + point);
        DWORD code = 0;
        if (WaitFor(window, 5000, &code) && code == 9) {
            Count("kills of the window at a chosen point of its import");
            const std::wstring when = L"after the window was killed at " + point;
            Check(when.c_str());
            return;
        }
        // An import with less to write never reached the point: the window is closed as after any start.
        Count("chosen kill point not reached");
        if (HWND main = MainWindowOf(window.id)) {
            ::PostMessageW(main, WM_CLOSE, 0, 0);
        }
        if (!WaitFor(window, 30000, &code)) {
            Kill(window);
        }
        Check(L"after a window whose kill point was not reached");
        return;
    }
    Child window = Start(L"Bootwarden.exe", L"");
    // Stopped while it starts: during its first import, or before it has a window at all.
    if (Chance(20)) {
        DWORD code = 0;
        if (!WaitFor(window, Below(2500), &code)) {
            Kill(window);
            Count("kills of the window while it starts");
            Check(L"after the window was killed while starting");
        }
        return;
    }
    HWND main = nullptr;
    const Clock until = ::GetTickCount64() + 30000;
    while ((main = MainWindowOf(window.id)) == nullptr && ::GetTickCount64() < until) {
        if (WaitFor(window, 100)) {
            Violation(L"the window ended before it showed");
            return;
        }
    }
    if (main == nullptr) {
        Violation(L"the window did not show within 30 s");
        Kill(window);
        return;
    }
    HWND list = nullptr;
    ::EnumChildWindows(main, &FindList, reinterpret_cast<LPARAM>(&list));
    const unsigned actions = 1 + Below(6);
    for (unsigned i = 0; i < actions; ++i) {
        ++m_step;
        const unsigned pick = Below(100);
        if (pick < 55 && list != nullptr) {
            ToggleRow(window, list);
        } else if (pick < 70 && list != nullptr) {
            Count("window: F5");
            ::PostMessageW(list, WM_KEYDOWN, VK_F5, 0);
            ::PostMessageW(list, WM_KEYUP, VK_F5, 0xC0000001);
        } else if (pick < 85) {
            OutsideChange(true);
            Count("window: activated");
            ::PostMessageW(main, WM_ACTIVATEAPP, TRUE, 0);
        } else if (pick < 91) {
            EditStoreLink();
            ::PostMessageW(main, WM_ACTIVATEAPP, TRUE, 0);
        } else if (pick < 96) {
            SecondWindow();
        } else if (pick < 98) {
            RunCli(true);
        } else {
            WatcherDuringWindow();
        }
        if (WaitFor(window, 50 + Below(900))) {
            if (!EndedAfterCloseInQuestion(window)) {
                Violation(L"the window ended by itself");
            }
            return;
        }
    }
    const unsigned end = Below(100);
    if (end < 35) { // stopped while it works
        Kill(window);
        Count("kills of the window while it works");
        Check(L"after the window was killed while it worked");
        return;
    }
    ::PostMessageW(main, WM_CLOSE, 0, 0);
    if (end < 55) { // stopped while it writes back at its close
        DWORD code = 0;
        if (!WaitFor(window, Below(150), &code)) {
            Kill(window);
            Count("kills of the window while it closes");
            Check(L"after the window was killed while it closed");
        } else {
            Count("window closed before the kill at its close");
        }
        return;
    }
    DWORD code = 0;
    if (!WaitFor(window, 30000, &code)) {
        Violation(L"the window did not close within 30 s of WM_CLOSE");
        Kill(window);
        return;
    }
    Count("window closed");
    if (code != 0) {
        Violation(L"the window ended with " + std::to_wstring(code));
    }
    m_cleanRunSinceCheck = true;
}

HWND TSoak::WatcherWindowOf(DWORD processId) {
    FoundWindows windows{processId, kWatcherWindowClass, {}, true};
    ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows.windows.empty() ? nullptr : windows.windows.front();
}

void TSoak::StartWatcher() {
    m_watcher = Start(L"Bootwarden.exe", L"--watch");
    Count("watcher started");
}

// A watcher that ended without being told to is a fault: it ends by itself only at log-off or when its store goes.
bool TSoak::WatcherRuns() {
    if (!m_watcher.process) {
        return false;
    }
    if (::WaitForSingleObject(m_watcher.process.Get(), 0) != WAIT_OBJECT_0) {
        return true;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(m_watcher.process.Get(), &code);
    Violation(L"the watcher ended by itself with " + std::to_wstring(code));
    m_watcher = Child{};
    return false;
}

// Whether the watcher has done its first import and waits for changes: its hidden window answers only then.
bool TSoak::WatcherReady() {
    const Clock until = ::GetTickCount64() + 30000;
    while (WatcherRuns()) {
        DWORD_PTR result = 0;
        const HWND window = WatcherWindowOf(m_watcher.id);
        if (window != nullptr && ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result)) {
            return true;
        }
        if (::GetTickCount64() >= until) {
            Violation(L"the watcher did not finish its first import within 30 s");
            KillWatcher("kills of the watcher that did not get ready", L"after the watcher did not get ready");
            return false;
        }
        ::Sleep(100);
    }
    return false;
}

void TSoak::KillWatcher(const char* count, const wchar_t* when) {
    Kill(m_watcher);
    m_watcher = Child{};
    Count(count);
    if (when != nullptr) {
        Check(when);
    }
}

// Stop watching, as its icon's menu does: its window closes, and the process ends with 0 within a few seconds. A
// watcher just started has no window yet: it is closed once its first import is done.
void TSoak::CloseWatcher() {
    if (!WatcherReady()) {
        return;
    }
    Count("watcher closed");
    if (const HWND window = WatcherWindowOf(m_watcher.id)) {
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
    DWORD code = 0;
    if (!WaitFor(m_watcher, 15000, &code)) {
        Violation(L"the watcher did not end within 15 s of WM_CLOSE");
        Kill(m_watcher);
    } else if (code != 0) {
        Violation(L"the closed watcher ended with " + std::to_wstring(code));
    }
    m_watcher = Child{};
}

void TSoak::WatcherStep() {
    if (!WatcherRuns()) {
        StartWatcher();
        if (Chance(50)) {
            KeepOffComesBack();
        }
        return;
    }
    const unsigned pick = Below(100);
    if (pick < 40) {
        KeepOffComesBack();
    } else if (pick < 68) {
        // While it imports what a program just wrote (it gathers changes for 30 ms, then reads and mirrors).
        OutsideChange(false);
        ::Sleep(Below(500));
        KillWatcher("kills of the watcher right after an outside change",
                    L"after the watcher was killed right after an outside change");
    } else if (pick < 88) {
        ::Sleep(1500 + Below(1000)); // what it was told of is imported by now
        KillWatcher("kills of the watcher while idle", L"after the watcher was killed while idle");
    } else {
        CloseWatcher();
        Check(L"after the watcher was closed");
    }
    // Mostly it keeps watching: a watcher started at log-on runs beside everything else.
    if (!m_watcher.process && Chance(70)) {
        StartWatcher();
    }
}

// While the window runs: the watcher starts, or is killed right after an outside change that both of them import.
void TSoak::WatcherDuringWindow() {
    if (!WatcherRuns()) {
        StartWatcher();
        return;
    }
    OutsideChange(true);
    ::Sleep(Below(400));
    KillWatcher("kills of the watcher while the window runs", nullptr);
}

Observation TSoak::ObserveLocked() {
    const std::unique_ptr<bw::TStoreLock> lock = bw::TStoreLock::TryTake(30000);
    if (!lock) {
        Violation(L"the store stayed locked for 30 s");
    }
    return m_world.Observe();
}

// An entry switched off and marked to be kept off is put back by its program. With the same command line the watcher
// takes it out of Windows again and leaves the switched-off copy byte for byte; with another command line it
// changes nothing. Only the watcher runs meanwhile, so what it did is seen as it happens. Run values only: a
// shortcut's target is kept here case folded, so the same one could not be written again.
void TSoak::KeepOffComesBack() {
    if (!WatcherReady()) {
        return;
    }
    const Observation seen = ObserveLocked();
    std::set<EntryKey> inSystem;
    for (const Instance& instance : seen.instances) {
        if (instance.place == Place::System) {
            inSystem.insert(KeyOf(instance.location, instance.name));
        }
    }
    std::vector<const Instance*> candidates;
    for (const Instance& instance : seen.instances) {
        if (instance.place == Place::Switched && !IsFolder(instance.location) && !instance.name.empty() &&
            instance.name.find(L'\0') == std::wstring::npos && instance.content &&
            (instance.content->type == REG_SZ || instance.content->type == REG_EXPAND_SZ) &&
            inSystem.count(KeyOf(instance.location, instance.name)) == 0 &&
            m_model.Find(instance.location, instance.name) != nullptr) {
            candidates.push_back(&instance);
        }
    }
    if (candidates.empty()) {
        return;
    }
    const Instance& chosen = *candidates[Below(static_cast<unsigned>(candidates.size()))];
    const std::wstring named =
        L"--location " + std::wstring(LocationKey(chosen.location)) + L" -- " + Quoted(chosen.name);
    Child cli = Start(L"bwcli.exe", L"keep-off " + named);
    DWORD code = 0;
    if (!WaitFor(cli, 60000, &code)) {
        Violation(L"bwcli keep-off " + named + L" did not end within a minute");
        Kill(cli);
        return;
    }
    Count("bwcli keep-off exit " + std::to_string(code));
    if (code != 0) {
        return;
    }
    const auto keptBefore = bw::ReadWholeFile(chosen.path, 1u << 20);

    const bool same = Chance(50);
    const Content content = same ? *chosen.content : NewCommandLine(chosen.location);
    m_model.Changed(chosen.location, chosen.name, content, true);
    m_world.WriteValue(chosen.location, chosen.name, content);
    Log(L"outside: kept off \"" + chosen.name + L"\" put back " + (same ? L"as it was " : L"with another line ") +
        Describe(content));
    std::optional<Content> now;
    if (same) {
        const Clock until = ::GetTickCount64() + 10000;
        while ((now = m_world.ReadValue(chosen.location, chosen.name)) && ::GetTickCount64() < until) {
            ::Sleep(50);
        }
    } else {
        ::Sleep(1500);
        const std::unique_ptr<bw::TStoreLock> lock = bw::TStoreLock::TryTake(30000); // its work on it is done
        now = m_world.ReadValue(chosen.location, chosen.name);
    }
    const std::wstring what = L"\"" + chosen.name + L"\", kept switched off, ";
    if (same && now) {
        Violation(what + L"was put back with its own command line and still starts 10 s later");
    } else if (same) {
        Count("keep-off: taken out again by the watcher");
    } else if (!now || !(*now == content)) {
        Violation(what + L"was put back with another command line, which the watcher did not leave alone: it holds " +
                  (now ? Describe(*now) : std::wstring(L"nothing")));
    } else {
        Count("keep-off: back with another command line, left alone");
    }
    if (bw::ReadWholeFile(chosen.path, 1u << 20) != keptBefore) {
        Violation(what + L"has a switched-off copy that changed when it came back: " + chosen.path);
    }
}

void TSoak::Log(const std::wstring& line) {
    const std::string bytes = "[" + std::to_string(m_step) + "] " + Utf8(line) + "\r\n";
    DWORD written = 0;
    ::WriteFile(m_log.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void TSoak::Violation(const std::wstring& text) {
    const std::wstring line =
        L"VIOLATION seed=" + std::to_wstring(m_options.seed) + L" step=" + std::to_wstring(m_step) + L": " + text;
    m_violations.push_back(line);
    Print(line);
    Log(line);
}

void TSoak::Check(const wchar_t* when, bool final) {
    Count("checks");
    // A running watcher works only under the store's lock: while the soak holds it, what is read is whole.
    std::unique_ptr<bw::TStoreLock> lock;
    if (WatcherRuns()) {
        lock = bw::TStoreLock::TryTake(30000);
        if (!lock) {
            Violation(std::wstring(when) + L": the watcher held the store's lock for 30 s");
        }
    }
    const Observation seen = m_world.Observe();
    for (const std::wstring& violation : m_model.Check(seen)) {
        Violation(std::wstring(when) + L": " + violation);
    }
    std::set<std::wstring> temporary(seen.temporaryFiles.begin(), seen.temporaryFiles.end());
    for (const std::wstring& file : temporary) {
        // A run that ended by itself removes what the runs it followed left; at the end nothing stays.
        if (final || (m_cleanRunSinceCheck && m_temporaryAtLastCheck.count(file) != 0)) {
            Violation(std::wstring(when) + L": temporary file left by a stopped run: " + file);
        }
    }
    m_temporaryAtLastCheck = temporary;
    m_cleanRunSinceCheck = false;
    const auto sentinels = m_world.Sentinels();
    if (sentinels != m_sentinels) {
        for (const auto& [what, digest] : sentinels) {
            const auto before = m_sentinels.find(what);
            if (before == m_sentinels.end() || before->second != digest) {
                Violation(std::wstring(when) + L": changed outside the store and the system places: " + what);
            }
        }
        for (const auto& [what, digest] : m_sentinels) {
            if (sentinels.count(what) == 0) {
                Violation(std::wstring(when) + L": removed outside the store and the system places: " + what);
            }
        }
        m_sentinels = sentinels;
    }
}

int TSoak::Run() {
    const std::wstring logPath = m_world.ProgramDir() + L"..\\programs.log";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    m_log = bw::UniqueFile(::CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    Print(L"soak: seed " + std::to_wstring(m_options.seed) + L", " + std::to_wstring(m_options.entries) +
          L" entries, " + std::to_wstring(m_options.minutes) + L" minutes, program " + m_world.ProgramDir());
    Seed();
    m_sentinels = m_world.Sentinels();
    Check(L"after seeding");

    const Clock until = ::GetTickCount64() + static_cast<Clock>(m_options.minutes * 60000.0);
    Clock report = ::GetTickCount64() + 60000;
    while (::GetTickCount64() < until && (m_options.steps < 0 || m_step < m_options.steps)) {
        ++m_step;
        const unsigned pick = Below(100);
        if (pick < 33) {
            RunWindow();
        } else if (pick < 54) {
            RunCli(false);
        } else if (pick < 58) {
            RunCliOnAnothersStore();
        } else if (pick < 73) {
            OutsideChange(false);
        } else if (pick < 80) {
            EditStoreLink();
        } else {
            WatcherStep();
        }
        if (m_step % 5 == 0) {
            Check(L"between steps");
        }
        if (::GetTickCount64() >= report) {
            report += 60000;
            Print(L"soak: step " + std::to_wstring(m_step) + L", " + std::to_wstring(m_violations.size()) +
                  L" violations so far");
        }
    }

    // The end: a refresh and a window that closes by itself carry whatever is left, then nothing may remain.
    ++m_step;
    if (WatcherRuns()) {
        CloseWatcher();
    }
    Check(L"before the end");
    Child cli = Start(L"bwcli.exe", L"refresh");
    DWORD code = 0;
    // 4: done, but an edit could not be carried or an entry waits for a choice; the check below judges the entries.
    if (!WaitFor(cli, 60000, &code) || code > 4) {
        Violation(L"the last refresh did not end well");
        Kill(cli);
    }
    Child window = Start(L"Bootwarden.exe", L"");
    HWND main = nullptr;
    const Clock shown = ::GetTickCount64() + 30000;
    while ((main = MainWindowOf(window.id)) == nullptr && ::GetTickCount64() < shown && !WaitFor(window, 100)) {
    }
    if (main != nullptr) {
        ::Sleep(1000);
        ::PostMessageW(main, WM_CLOSE, 0, 0);
    }
    if (!WaitFor(window, 30000, &code)) {
        Violation(L"the last window did not close");
        Kill(window);
    }
    Check(L"at the end", true);

    Print(L"soak: " + std::to_wstring(m_step) + L" steps, seed " + std::to_wstring(m_options.seed));
    for (const auto& [what, count] : m_counts) {
        Print(L"  " + std::wstring(what.begin(), what.end()) + L": " + std::to_wstring(count));
    }
    for (const auto& [text, count] : m_dialogTexts) {
        Print(L"  dialog \"" + text + L"\": " + std::to_wstring(count));
    }
    Print(L"  violations: " + std::to_wstring(m_violations.size()));
    return m_violations.empty() ? 0 : 1;
}

} // namespace
} // namespace soak

int wmain(int argc, wchar_t** argv) {
    soak::Options options;
    options.seed = static_cast<unsigned>(::GetTickCount64() ^ ::GetCurrentProcessId());
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        const std::wstring value = argv[i + 1];
        if (option == L"--program") {
            options.programDir = bw::FullPath(value);
            if (options.programDir.back() != L'\\') {
                options.programDir += L'\\';
            }
        } else if (option == L"--minutes") {
            options.minutes = std::stod(value);
        } else if (option == L"--seed") {
            options.seed = static_cast<unsigned>(std::stoul(value));
        } else if (option == L"--entries") {
            options.entries = std::stoi(value);
        } else if (option == L"--steps") {
            options.steps = std::stoll(value);
        } else {
            std::fputs("usage: BootwardenSoak --program DIR [--minutes M] [--seed N] [--entries N] [--steps N]\n",
                       stderr);
            return 2;
        }
    }
    if (options.programDir.empty()) {
        std::fputs("BootwardenSoak: --program DIR is needed\n", stderr);
        return 2;
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
        return 2;
    }
    int result = 2;
    try {
        soak::TSoak soak(options);
        result = soak.Run();
    } catch (const bw::EBootwarden& error) {
        soak::Print(L"BootwardenSoak: " + ErrorText(error));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "BootwardenSoak: %s\n", error.what());
    }
    ::CoUninitialize();
    return result;
}
