// Times the whole refresh cycle of the main window (write-back, import, rebuild of the real list) for stores
// of several sizes, and checks that a long run of cycles leaves no images, handles or memory behind.
// Not a test: it prints figures. Run with `tools/dev bench [cycles [largest store]]`.

#include "TestEnvironment.h"

#include "app/MainForm.h"
#include "platform/ShellLink.h"
#include "store/EntryOperations.h"
#include "store/Import.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <psapi.h>

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

void Pump() {
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}

double Milliseconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A scratch world like the tests': entries spread over the three locations, two in five in each Run key
// and one in five as a Startup shortcut, pointing at programs that exist (so icons are real work).
struct World {
    explicit World(int entries) {
        programDir = root / L"Program\\";
        ::CreateDirectoryW((root / L"Program").c_str(), nullptr);
        startup = root / L"Startup";
        ::CreateDirectoryW(startup.c_str(), nullptr);
        registry.CreateRunKey(Location::Local);
        registry.CreateRunKey(Location::User);
        registry.SetStartupFolder(startup);
        const wchar_t* programs[] = {L"C:\\windows\\notepad.exe", L"C:\\windows\\regedit.exe",
                                     L"C:\\windows\\system32\\winecfg.exe", L"C:\\windows\\system32\\cmd.exe"};
        for (int i = 0; i < entries; ++i) {
            const std::wstring name = L"Entry" + std::to_wstring(i);
            const std::wstring program = programs[i % 4];
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
};

struct Usage {
    int images;
    DWORD gdi;
    DWORD user;
    DWORD handles;
    SIZE_T privateBytes;
    SIZE_T workingSet;
};

Usage Measure(const TMainForm& form) {
    Usage usage{::ImageList_GetImageCount(form.ImageList1()),
                ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS),
                ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS),
                0,
                0,
                0};
    ::GetProcessHandleCount(::GetCurrentProcess(), &usage.handles);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    usage.privateBytes = std::max(memory.PrivateUsage, memory.PagefileUsage);
    usage.workingSet = memory.WorkingSetSize;
    return usage;
}

// The real main window open on a world of the given size.
struct Session {
    explicit Session(int entries) : world(entries), form(::GetModuleHandleW(nullptr), desktop, world.programDir) {
        form.Create(SW_SHOWNORMAL);
        Pump();
    }
    World world;
    QuietDesktop desktop;
    TMainForm form;
};

void TimeCycles(int entries, int cycles) {
    Session session(entries);
    TMainForm& form = session.form;
    std::vector<double> whole, writeBack, imports, rebuild;
    for (int i = 0; i < cycles; ++i) {
        whole.push_back(Milliseconds([&] { form.RefreshAll(); }));
    }
    // The same three steps one by one, to see which one dominates.
    std::vector<EntryRef> rows;
    for (int item = 0; item < ListView_GetItemCount(form.List()); ++item) {
        rows.push_back(form.RowEntry(item));
    }
    for (int i = 0; i < cycles; ++i) {
        writeBack.push_back(Milliseconds([&] { WriteBackEntries(rows, nullptr); }));
        imports.push_back(Milliseconds([&] { ImportSystemEntries(); }));
        rebuild.push_back(Milliseconds([&] { form.MakeList(); }));
    }
    std::printf("%5d entries: refresh %8.1f ms  (write-back %7.1f, import %7.1f, rebuild %7.1f; median of %d)\n",
                ListView_GetItemCount(form.List()), Median(whole), Median(writeBack), Median(imports), Median(rebuild),
                cycles);
    std::fflush(stdout);
}

void LeakCheck(int entries, int cycles) {
    Session session(entries);
    TMainForm& form = session.form;
    for (int i = 0; i < 20; ++i) { // let caches of the system settle first
        form.RefreshAll();
    }
    const Usage before = Measure(form);
    for (int i = 0; i < cycles; ++i) {
        form.RefreshAll();
        Pump();
    }
    const Usage after = Measure(form);
    std::printf("after %d cycles of %d entries: images %d -> %d, GDI objects %lu -> %lu, USER objects %lu -> %lu, "
                "handles %lu -> %lu, private bytes %zu KiB -> %zu KiB, working set %zu KiB -> %zu KiB, errors %d\n",
                cycles, entries, before.images, after.images, before.gdi, after.gdi, before.user, after.user,
                before.handles, after.handles, before.privateBytes / 1024, after.privateBytes / 1024,
                before.workingSet / 1024, after.workingSet / 1024, session.desktop.errors);
}

} // namespace

int main(int argc, char** argv) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    const int leakCycles = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int largest = argc > 2 ? std::atoi(argv[2]) : 1000;
    TimeCycles(10, 15);
    if (largest >= 100) {
        TimeCycles(100, 9);
    }
    if (largest >= 1000) {
        TimeCycles(1000, 5);
    }
    LeakCheck(10, leakCycles);
    ::CoUninitialize();
    return 0;
}
