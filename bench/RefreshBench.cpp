// Times the refresh cycle of the real main window: a refresh in which nothing changed, a refresh after one
// outside change, and the first start on an empty store; how soon the list follows an outside change and the
// registry a store link's edit with no key pressed, and the CPU time of a window left alone; then checks a long run
// of refreshes for images and memory left behind; and the watcher's private memory and idle CPU time beside idle
// processes of its kind. Not a test: it prints figures. Run with `tools/dev bench [cycles [largest [parts [idle
// seconds]]]]`, which also builds this same file against an earlier release of the program and prints both.
//
// It uses only what the main window has offered from the first release on (create, refresh, the list, whether an
// import is under way), so that the figures of both builds come from the very same measurement; the watcher is
// run as a process, the tests' build of it, where the build has one.

#include "TestEnvironment.h"

#include "app/MainForm.h"
#include "platform/ShellLink.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <psapi.h>

#include <string>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

using namespace bw;
using Clock = std::chrono::steady_clock;

class QuietDesktop : public TDesktop {
public:
    bool Confirm(HWND, const std::wstring&) override { return false; }
    bool ConfirmDefaultNo(HWND, const std::wstring&) override { return false; }
    std::optional<std::wstring> BrowseForProgram(HWND) override { return std::nullopt; }
    void ShowError(HWND, const std::wstring&, const std::wstring& text) override {
        ++errors;
        std::fwprintf(stderr, L"error: %ls\n", text.c_str());
    }
    void ShowProperties(HWND, const std::wstring&) override {}
    INT_PTR OpenWithShell(HWND, const std::wstring&, const std::wstring&, const std::wstring&, int) override {
        return 42;
    }
    int errors = 0;
};

double Milliseconds(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Handles what waits in the queue; returns the longest time one message took.
double Pump() {
    double longest = 0;
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) {
            const auto start = Clock::now();
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
            longest = std::max(longest, Milliseconds(start));
        }
    }
    return longest;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs the message loop for `milliseconds`, as a window left alone does; true when `done` held before the end.
template <typename Done> bool PumpUntil(Done done, double milliseconds) {
    const auto start = Clock::now();
    while (!done()) {
        if (Milliseconds(start) >= milliseconds) {
            return false;
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        Pump();
    }
    return true;
}

void PumpFor(double milliseconds) {
    (void)PumpUntil([] { return false; }, milliseconds);
}

const wchar_t* const kPrograms[] = {L"C:\\windows\\notepad.exe", L"C:\\windows\\regedit.exe",
                                    L"C:\\windows\\system32\\winecfg.exe", L"C:\\windows\\system32\\cmd.exe"};

// A scratch world like the tests': entries spread over the three locations, two in five in each Run key and one
// in five as a Startup shortcut, pointing at programs that exist (so icons are real work).
struct World {
    // `distinct` > 0: the entries start that many distinct programs (links to one that carries a version
    // resource), so that the first start reads that many version resources.
    explicit World(int entries, int distinct = 0) {
        programDir = root / L"Program\\";
        ::CreateDirectoryW((root / L"Program").c_str(), nullptr);
        startup = root / L"Startup";
        ::CreateDirectoryW(startup.c_str(), nullptr);
        registry.CreateRunKey(Location::Local);
        registry.CreateRunKey(Location::User);
        registry.SetStartupFolder(startup);
        const std::wstring programs = root / L"Programs";
        ::CreateDirectoryW(programs.c_str(), nullptr);
        for (int i = 0; i < distinct; ++i) {
            const std::wstring copy = programs + L"\\Program" + std::to_wstring(i) + L".exe";
            if (!::CreateHardLinkW(copy.c_str(), L"C:\\windows\\system32\\taskmgr.exe", nullptr)) {
                ::CopyFileW(L"C:\\windows\\system32\\taskmgr.exe", copy.c_str(), FALSE);
            }
        }
        for (int i = 0; i < entries; ++i) {
            const std::wstring name = L"Entry" + std::to_wstring(i);
            const std::wstring program = distinct > 0
                                             ? programs + L"\\Program" + std::to_wstring(i % distinct) + L".exe"
                                             : std::wstring(kPrograms[i % 4]);
            switch (i % 5) {
            case 0:
            case 1:
                registry.SetRunValue(Location::Local, name, L"\"" + program + L"\" /background");
                break;
            case 2:
            case 3:
                registry.SetRunValue(Location::User, name, program + L" -minimized");
                break;
            default: {
                TShellLink link;
                link.SetPath(program);
                link.SetDescription(name);
                link.Save(startup + L"\\" + name + L".lnk");
            }
            }
        }
    }
    test::TempFolder root;
    test::ScratchRegistry registry;
    std::wstring programDir;
    std::wstring startup;
    // The world lies under the real temporary folder, where the program would refuse to keep a store.
    TSeam<std::wstring()>::TScope temporary{seam::TempFolder.Replace([this] { return root / L"Temp"; })};
};

struct Session {
    explicit Session(int entries, int distinct = 0)
        : world(entries, distinct), form(::GetModuleHandleW(nullptr), desktop, world.programDir) {}
    int Rows() const { return ListView_GetItemCount(form.List()); }
    int Images() const { return ::ImageList_GetImageCount(ListView_GetImageList(form.List(), LVSIL_SMALL)); }
    // Shows the window and waits until its first import has listed every entry.
    void OpenListed(int entries) {
        form.Create(SW_SHOWNORMAL);
        while (Rows() < entries) {
            Pump();
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
    World world;
    QuietDesktop desktop;
    TMainForm form;
};

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    return std::max(memory.PrivateUsage, memory.PagefileUsage);
}

// The first start on an empty store: when the window is there, when its first rows are on screen, how long until
// every entry is listed and the import has ended, and the longest stretch in which the window could not answer
// (creating it, or any one message after; and any one message after it was first painted, which is when the person
// sees it, a first creation in a process costing Wine's display driver its own start). With `distinct` programs, also how long until every row shows its
// program's publisher (read from each program's version resource), and the longest stretch meanwhile.
void FirstStart(int entries, int distinct = 0) {
    Session session(entries, distinct);
    const auto start = Clock::now();
    session.form.Create(SW_SHOWNORMAL);
    const double window = Milliseconds(start);
    double frozen = window;
    double frozenShown = 0; // the same, from the moment the window was painted: how it answers once it is there
    double firstRows = -1;
    if (session.Rows() > 0) {
        firstRows = window;
    }
    // One message at a time: a long import runs from a timer that is due again whenever the queue is empty, so a
    // pump that handles all that waits would return only at its end. The list paints the rows of a message before
    // the timer's next part comes (a paint goes before a timer).
    const auto listed = [&] { return session.Rows() >= entries && !session.form.Importing(); };
    MSG message{};
    while (!listed() && Milliseconds(start) < 600000) {
        if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            continue;
        }
        const auto handling = Clock::now();
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
        frozenShown = std::max(frozenShown, Milliseconds(handling));
        frozen = std::max(frozen, frozenShown);
        if (firstRows < 0 && session.Rows() > 0) {
            firstRows = Milliseconds(start);
        }
    }
    const double all = Milliseconds(start);
    if (firstRows < 0) {
        firstRows = all;
    }
    std::printf("  first start, empty store, %5d entries (%4d distinct programs): window after %6.0f ms, first rows "
                "on screen %6.0f ms after it, all listed after %8.0f ms, window unanswering at most %6.0f ms at a "
                "time (%4.0f ms once painted)\n",
                session.Rows(), distinct > 0 ? distinct : 4, window, firstRows - window, all, frozen, frozenShown);
    std::fflush(stdout);
    if (distinct == 0) {
        return;
    }
    // The Publisher column (its index in the list view) of every row: all are filled once every program was read.
    constexpr int kPublisherColumn = 3;
    const auto allRead = [&] {
        wchar_t text[64];
        for (int row = 0; row < session.Rows(); ++row) {
            text[0] = L'\0';
            ListView_GetItemText(session.form.List(), row, kPublisherColumn, text, 64);
            if (text[0] == L'\0') {
                return false;
            }
        }
        return true;
    };
    // Each distinct program has an icon of its own: every one is shown once the image list holds that many images
    // (a tree that reads icons off the window's thread also holds the default icon shown until they come).
    const auto allIcons = [&] { return session.Images() >= std::min(distinct, entries); };
    double readFrozen = 0;
    double publishersShown = -1;
    double iconsShown = -1;
    auto lookedAt = Clock::now();
    while ((publishersShown < 0 || iconsShown < 0) && Milliseconds(start) < 600000) {
        if (publishersShown < 0 && allRead()) {
            publishersShown = Milliseconds(start);
        }
        if (iconsShown < 0 && allIcons()) {
            iconsShown = Milliseconds(start);
        }
        while (Milliseconds(lookedAt) < 50) {
            if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
                continue;
            }
            const auto handling = Clock::now();
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
            readFrozen = std::max(readFrozen, Milliseconds(handling));
        }
        lookedAt = Clock::now();
    }
    std::printf("  %32s every publisher shown after %8.0f ms, every icon after %8.0f ms, window unanswering at most "
                "%6.0f ms at a time while the programs were read\n",
                "", publishersShown, iconsShown, readFrozen);
    std::fflush(stdout);
}

// A click on a column's header, as the list view reports it to the window (a build without sorting ignores it).
void ClickColumn(Session& session, int column) {
    NMLISTVIEW click{};
    click.hdr.hwndFrom = session.form.List();
    click.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(session.form.List()));
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = column;
    ::SendMessageW(session.form.Handle(), WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
}

void Refreshes(int entries, int cycles, bool sorted = false) {
    Session session(entries);
    session.OpenListed(entries);
    if (sorted) {
        ClickColumn(session, 1); // Target: an order other than the store's
        ClickColumn(session, 1); // and downwards
    }
    // Every file written while the store was made lies more than a clock step back before timing starts.
    ::Sleep(2500);
    for (int i = 0; i < 3; ++i) {
        session.form.RefreshAll();
    }
    std::vector<double> unchanged;
    for (int i = 0; i < cycles; ++i) {
        const auto start = Clock::now();
        session.form.RefreshAll();
        unchanged.push_back(Milliseconds(start));
    }
    // One outside change before each refresh: a value's command line, as an updater would change it.
    std::vector<double> changed;
    for (int i = 0; i < cycles; ++i) {
        session.world.registry.SetRunValue(Location::User, L"Entry2",
                                           std::wstring(kPrograms[i % 4]) + L" -changed " + std::to_wstring(i));
        const auto start = Clock::now();
        session.form.RefreshAll();
        changed.push_back(Milliseconds(start));
        // A window that follows changes by itself may still have the notification of this one to handle.
        PumpFor(100);
    }
    std::printf("  %5d entries%s: refresh, nothing changed %8.2f ms; after one outside change %8.2f ms (median of "
                "%d)\n",
                session.Rows(), sorted ? ", sorted by Target" : "", Median(unchanged), Median(changed), cycles);
    std::fflush(stdout);
}

bool Listed(Session& session, const std::wstring& name) {
    LVFINDINFOW find{};
    find.flags = LVFI_STRING;
    find.psz = name.c_str();
    return ListView_FindItem(session.form.List(), -1, &find) >= 0;
}

std::wstring RunValueText(Session& session, const std::wstring& name) {
    const auto value = session.world.registry.RunValue(Location::User, name);
    return value ? value->text : std::wstring();
}

// With no key pressed: from an outside write of a Run value until its row is in the list, and from a store link's
// edit (saved as the property sheet saves it) until the value in the registry says it. A window that does not
// follow changes by itself never gets there; after a few seconds the row says so.
void Live(int entries, int tries) {
    constexpr double kGiveUp = 3000;
    Session session(entries);
    session.OpenListed(entries);
    ::Sleep(2500);
    PumpFor(200);
    std::vector<double> toRow;
    for (int i = 0; i < tries; ++i) {
        const std::wstring name = L"Live" + std::to_wstring(i);
        const auto start = Clock::now();
        session.world.registry.SetRunValue(Location::User, name, L"c:\\windows\\notepad.exe /live");
        if (!PumpUntil([&] { return Listed(session, name); }, kGiveUp)) {
            break;
        }
        toRow.push_back(Milliseconds(start));
        PumpFor(100);
    }
    std::vector<double> toValue;
    for (int i = 0; i < tries; ++i) {
        const std::wstring expected = std::wstring(kPrograms[0]) + L" /edit" + std::to_wstring(i);
        const auto start = Clock::now();
        test::EditShortcut(session.world.programDir + L"Run\\User\\Entry2.lnk", [&](TShellLink& link) {
            link.SetPath(kPrograms[0]);
            link.SetArguments(L"/edit" + std::to_wstring(i));
        });
        if (!PumpUntil([&] { return RunValueText(session, L"Entry2") == expected; }, kGiveUp)) {
            break;
        }
        toValue.push_back(Milliseconds(start));
        PumpFor(100);
    }
    const auto figure = [](const std::vector<double>& times) {
        char text[64];
        if (times.empty()) {
            std::snprintf(text, sizeof text, "never (none within 3 s)");
        } else {
            std::snprintf(text, sizeof text, "%8.1f ms (median of %zu)", Median(times), times.size());
        }
        return std::string(text);
    };
    std::printf("  %5d entries, no key pressed: outside Run write to its row %s; store link edit to the registry %s\n",
                entries, figure(toRow).c_str(), figure(toValue).c_str());
    std::fflush(stdout);
}

// The process's CPU time while the window is left alone for a minute (the message loop waits as the program's
// own does).
void Idle(int entries, int seconds) {
    Session session(entries);
    session.OpenListed(entries);
    ::Sleep(2500);
    PumpFor(500); // what the start wrote has been told and passed
    const auto cpu = [] {
        FILETIME created{}, ended{}, kernel{}, user{};
        ::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user);
        const auto ticks = [](const FILETIME& time) {
            return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        };
        return static_cast<double>(ticks(kernel) + ticks(user)) / 10'000.0; // milliseconds
    };
    const double before = cpu();
    const auto start = Clock::now();
    MSG message{};
    while (Milliseconds(start) < seconds * 1000.0) {
        const DWORD left = static_cast<DWORD>(std::max(1.0, seconds * 1000.0 - Milliseconds(start)));
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, left, QS_ALLINPUT);
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    std::printf("  %5d entries, window left alone for %d s: %8.1f ms of CPU time in the process\n", entries, seconds,
                cpu() - before);
    std::fflush(stdout);
}

// A long run of refreshes, every second one after a change: the images and the private memory of the window's
// process. Memory is told as the mean over the first hundred refreshes and over the last hundred, and after them all.
void LongRun(int entries, int cycles) {
    Session session(entries);
    session.OpenListed(entries);
    for (int i = 0; i < 20; ++i) { // let caches of the system settle first
        session.form.RefreshAll();
    }
    const int imagesBefore = session.Images();
    const SIZE_T bytesBefore = PrivateBytes();
    const int hundred = std::min(100, std::max(1, cycles / 2));
    double firstHundred = 0;
    double lastHundred = 0;
    for (int i = 0; i < cycles; ++i) {
        if (i % 2 == 0) {
            session.world.registry.SetRunValue(Location::User, L"Entry3",
                                               std::wstring(kPrograms[i % 4]) + L" " + std::to_wstring(i));
        }
        session.form.RefreshAll();
        Pump();
        const double kib = static_cast<double>(PrivateBytes()) / 1024.0;
        if (i < hundred) {
            firstHundred += kib / hundred;
        }
        if (i >= cycles - hundred) {
            lastHundred += kib / hundred;
        }
    }
    std::printf("  %d refreshes of %d entries, every second one after a change: rows %d, images %d -> %d, "
                "private memory %zu KiB before, %zu KiB after; mean over the first %d %.0f KiB, over the last %d "
                "%.0f KiB (growth %+.0f KiB), errors %d\n",
                cycles, entries, session.Rows(), imagesBefore, session.Images(), bytesBefore / 1024,
                PrivateBytes() / 1024, hundred, firstHundred, hundred, lastHundred, lastHundred - firstHundred,
                session.desktop.errors);
    std::fflush(stdout);
}


// The private memory of another process as Windows counts it (under Wine: its anonymous memory still resident).
SIZE_T PrivateBytesOf(HANDLE process) {
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    return std::max(memory.PrivateUsage, memory.PagefileUsage);
}

double CpuMilliseconds(HANDLE process) {
    FILETIME created{}, ended{}, kernel{}, user{};
    ::GetProcessTimes(process, &created, &ended, &kernel, &user);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10'000.0;
}

std::wstring BesideBench(const std::wstring& relative) {
    wchar_t path[MAX_PATH]{};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.erase(folder.rfind(L'\\') + 1);
    return folder + relative;
}

// A started child, ended by the bench when it goes.
class Child {
public:
    explicit Child(const std::wstring& program, const std::wstring& arguments = L"") {
        std::wstring commandLine = L"\"" + program + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process)) {
            ::CloseHandle(process.hThread);
            m_process = process.hProcess;
        }
    }
    ~Child() {
        if (m_process != nullptr) {
            ::TerminateProcess(m_process, 0);
            ::WaitForSingleObject(m_process, 10000);
            ::CloseHandle(m_process);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    HANDLE Get() const { return m_process; }
    bool Running() const { return m_process != nullptr && ::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }

private:
    HANDLE m_process = nullptr;
};

double Mib(SIZE_T bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// How many lines of the watcher's record of its requests to the notification area start with `request`.
size_t Requests(const std::wstring& record, const std::wstring& request) {
    HANDLE file = ::CreateFileW(record.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    std::wstring text(1 << 20, L'\0');
    DWORD read = 0;
    (void)::ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
    ::CloseHandle(file);
    text.resize(read / sizeof(wchar_t));
    size_t count = 0;
    for (size_t at = 0; at < text.size();) {
        count += text.compare(at, request.size(), request) == 0 ? 1 : 0;
        const size_t end = text.find(L'\n', at);
        at = end == std::wstring::npos ? text.size() : end + 1;
    }
    return count;
}

// Where the watcher's private memory lies: its heaps as the tests' build of it writes them down when asked (the C
// runtime's heap holds the program's own objects, the process heap and the others what Wine's libraries keep).
void PrintHeaps(const std::wstring& file) {
    ::DeleteFileW(file.c_str());
    ::PostMessageW(::FindWindowW(L"BootwardenWatcher", nullptr), ::RegisterWindowMessageW(L"BOOTWARDEN_TEST_HEAPS"),
                   0, 0);
    for (int i = 0; i < 40 && ::GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
        ::Sleep(50);
    }
    ::Sleep(100);
    FILE* in = _wfopen(file.c_str(), L"r");
    if (in == nullptr) {
        return;
    }
    char what[32];
    unsigned long long busy = 0, blocks = 0, committed = 0;
    std::printf("    heaps:");
    while (std::fscanf(in, "%31s %llu %llu %llu", what, &busy, &blocks, &committed) == 4) {
        std::printf(" %s %.2f MiB in %llu blocks of %.2f MiB;", what, Mib(busy), blocks, Mib(committed));
    }
    std::printf("\n");
    std::fflush(stdout);
    std::fclose(in);
}

// The watcher (the tests' build of it, WatcherUnderTest.exe, on a scratch registry and store beside the bench) at
// `entries` entries: its private memory idle after its first import and after 20 outside changes, and its CPU time
// over `seconds` idle; beside it, an idle process of the same kind (IdleTray.exe: a window in its message loop and an
// icon in the notification area, with the libraries the watcher loads) and Wine's notepad.
// `inLine`: the store already mirrors the entries when the measured watcher starts, as after the window's import in
// real use (a first watcher made it so and was closed once it watched); otherwise its first cycle copies them all.
void Watcher(int entries, int seconds, bool inLine) {
    const std::wstring watcherUnderTest = BesideBench(L"..\\tests\\WatcherUnderTest.exe");
    if (::GetFileAttributesW(watcherUnderTest.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("  watcher: not in this build\n");
        std::fflush(stdout);
        return;
    }
    World world(entries);
    ::CreateDirectoryW((world.programDir + L"Run").c_str(), nullptr);
    const std::wstring program = world.programDir + L"Bootwarden.exe";
    ::CopyFileW(watcherUnderTest.c_str(), program.c_str(), FALSE);
    const std::wstring record = world.root / L"notices.txt";
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_REGISTRY", world.registry.ScratchPath().c_str());
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_TEMP", (world.root / L"Temp").c_str());
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_NOTICES", record.c_str());
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_SIGNERS", (world.root / L"signers.txt").c_str());
    const std::wstring heaps = world.root / L"heaps.txt";
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_HEAPS", heaps.c_str());
    if (inLine) {
        const auto first = Clock::now();
        Child before(program, L"--watch");
        while (before.Running() && Requests(record, L"add") == 0 && Milliseconds(first) < 600000) {
            ::Sleep(50);
        }
        ::Sleep(1000);
        // Closed as the session's end closes it, never in the middle of a cycle.
        ::PostMessageW(::FindWindowW(L"BootwardenWatcher", nullptr), WM_CLOSE, 0, 0);
        ::WaitForSingleObject(before.Get(), 30000);
    }
    const size_t added = Requests(record, L"add");
    const size_t toldBefore = Requests(record, L"modify");
    const auto start = Clock::now();
    Child watcher(program, L"--watch");
    while (watcher.Running() && Requests(record, L"add") == added && Milliseconds(start) < 600000) {
        ::Sleep(50);
    }
    const double armed = Milliseconds(start);
    ::Sleep(3000); // the first import's own writes have been told and passed
    const SIZE_T first = PrivateBytesOf(watcher.Get());
    // Outside changes, each its own cycle and notice: a value added, then its command line changed. Each is timed
    // from the write to its notice.
    std::vector<double> toNotice;
    for (int i = 0; i < 20; ++i) {
        const std::wstring name = L"Outside" + std::to_wstring(i / 2);
        const size_t before = Requests(record, L"modify");
        const auto written = Clock::now();
        world.registry.SetRunValue(Location::User, name,
                                   std::wstring(kPrograms[i % 4]) + (i % 2 == 0 ? L" /added" : L" /changed"));
        while (Requests(record, L"modify") == before && Milliseconds(written) < 10000) {
            ::Sleep(10);
        }
        toNotice.push_back(Milliseconds(written));
        ::Sleep(300);
    }
    ::Sleep(2000);
    const size_t notices = Requests(record, L"modify") - toldBefore;
    const SIZE_T changed = PrivateBytesOf(watcher.Get());
    const double cpuBefore = CpuMilliseconds(watcher.Get());
    ::Sleep(static_cast<DWORD>(seconds) * 1000);
    const double cpu = CpuMilliseconds(watcher.Get()) - cpuBefore;
    const SIZE_T idle = PrivateBytesOf(watcher.Get());
    std::printf("  watcher, %4d entries%ls: watching after %6.0f ms; private memory idle after the first import %6.2f "
                "MiB, after 20 outside changes (%zu notices, each %4.0f ms after its change, at most %4.0f ms) "
                "%6.2f MiB, after %d s idle %6.2f MiB; CPU time over those %d s %6.1f ms%s\n",
                entries, inLine ? L" (store in line)" : L"", armed, Mib(first), notices, Median(toNotice),
                *std::max_element(toNotice.begin(), toNotice.end()), Mib(changed), seconds, Mib(idle), seconds, cpu,
                watcher.Running() ? "" : " (the watcher had ended)");
    std::fflush(stdout);
    PrintHeaps(heaps);
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_HEAPS", nullptr);
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_REGISTRY", nullptr);
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_TEMP", nullptr);
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_NOTICES", nullptr);
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_SIGNERS", nullptr);
}

// Idle processes to measure the watcher beside, each left 5 s to settle in its message loop.
void IdleBeside() {
    const auto measure = [](const wchar_t* what, const std::wstring& program) {
        if (::GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return;
        }
        Child idle(program);
        ::Sleep(5000);
        std::printf("  %ls, idle: private memory %6.2f MiB\n", what, Mib(PrivateBytesOf(idle.Get())));
        std::fflush(stdout);
    };
    measure(L"idle tray program (IdleTray.exe)", BesideBench(L"IdleTray.exe"));
    measure(L"Wine's notepad", L"C:\\windows\\notepad.exe");
}
} // namespace

// Which parts run: all, or those named in a comma-separated list (live, idle, refresh, first, memory, watcher;
// and distinct, only when named: the first start of 1000 entries of 1000 programs, alone).
bool Runs(const char* parts, const char* part) {
    if (parts == nullptr) {
        return true;
    }
    const std::string list = std::string(",") + parts + ",";
    return list.find(std::string(",") + part + ",") != std::string::npos;
}

int main(int argc, char** argv) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    const int longRun = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int largest = argc > 2 ? std::atoi(argv[2]) : 2000;
    const char* parts = argc > 3 ? argv[3] : nullptr;
    const int idleSeconds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 60; // the idle minute, shorter when asked
    if (Runs(parts, "live")) {
        Live(100, 7);
        Live(1000, 7);
    }
    if (Runs(parts, "idle")) {
        Idle(1000, idleSeconds);
    }
    if (Runs(parts, "refresh")) {
        Refreshes(100, 15);
        Refreshes(1000, 9);
        Refreshes(100, 15, true);
        Refreshes(1000, 9, true);
    }
    if (parts != nullptr && Runs(parts, "distinct")) {
        FirstStart(1000, 1000);
    }
    if (Runs(parts, "first")) {
        FirstStart(100);
        FirstStart(1000);
        FirstStart(1000, 1000);
        if (largest >= 2000) {
            FirstStart(2000);
            FirstStart(2000, 500);
        }
    }
    if (Runs(parts, "memory")) {
        LongRun(100, longRun);
        LongRun(1000, longRun);
    }
    if (Runs(parts, "watcher")) {
        IdleBeside();
        for (const bool inLine : {false, true}) {
            Watcher(0, idleSeconds, inLine);
            Watcher(100, idleSeconds, inLine);
            Watcher(1000, idleSeconds, inLine);
        }
    }
    ::CoUninitialize();
    return 0;
}
