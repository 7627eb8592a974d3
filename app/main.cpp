#include "app/CommandWork.h"
#include "app/Desktop.h"
#include "app/MainForm.h"
#include "app/SingleInstance.h"
#include "app/StartImport.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "store/Locations.h"
#include "store/StoreLock.h"
#include "watch/Watcher.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <memory>

#ifdef BOOTWARDEN_SOAK_POINTS
#include "store/StoreDoor.h"

#include <string>

namespace {

// Built only into the soak's copy of the program, never into Bootwarden.exe: BOOTWARDEN_KILL_AT="point:n" ends the
// process, as a kill would, the nth time its import reaches that point (kIntentsSaved, kLinkWritten).
void KillAtChosenPoint() {
    wchar_t buffer[128] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"BOOTWARDEN_KILL_AT", buffer, 128);
    if (length == 0 || length >= 128) {
        return;
    }
    const std::wstring chosen(buffer, length);
    const size_t colon = chosen.find(L':');
    static std::wstring point = chosen.substr(0, colon);
    static unsigned long left = colon == std::wstring::npos ? 1 : std::wcstoul(chosen.c_str() + colon + 1, nullptr, 10);
    static auto scope = bw::seam::ImportPoint.Replace([](const wchar_t* at) {
        if (point == at && (left <= 1 || --left == 0)) {
            ::TerminateProcess(::GetCurrentProcess(), 9);
        }
    });
}

} // namespace
#endif

namespace {
constexpr DWORD kLeftRunningWait = 1000; // milliseconds
} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
#ifdef BOOTWARDEN_SOAK_POINTS
    KillAtChosenPoint();
#endif
    // Read whole, as Windows splits it: the name of an entry to select may hold anything.
    const bw::StartArguments arguments = bw::ReadStartArguments(::GetCommandLineW());
    // The watcher keeps no window and claims none: it runs beside the window of its store.
    if (bw::IsWatchCommand(arguments.head)) {
        return bw::RunWatcher(instance);
    }
    // One window per store: a second start on the same store shows the first one's window and ends, before it
    // reads anything. (A claim that cannot be made at all does not keep the program from starting; the store's
    // lock, which the window cannot then share either, keeps it to listing.)
    std::unique_ptr<bw::TWindowClaim> claim;
    try {
        claim = std::make_unique<bw::TWindowClaim>(bw::ProgramDirOf(bw::ModulePath()));
    } catch (const bw::EBootwarden&) {
    }
    // Started by a restart as administrator: the old window has done its close work and ends now; the store is
    // claimed once it has ended (waited for on the claim, which Windows hands on whatever the process's rights).
    const auto handOver = bw::HandOverFrom(arguments.head);
    const bool claimed = claim && claim->Take(handOver ? bw::kHandOverWait : 0);
    // A first start whose window is gone (it is ending) or never came is no reason to start no window at all;
    // the store's lock keeps the two apart meanwhile.
    if (claim && !claimed && bw::BringFirstWindowToFront(claim->Window(), bw::kFirstWindowWait, arguments.selection)) {
        return 0;
    }
    // The shell's link objects need the component system on this, the only, thread.
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
        return 1;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);

    int result = 0;
    {
        bw::TSystemDesktop desktop;
        bw::TMainForm form(instance, desktop);
        if (!form.Create(SW_SHOWMAXIMIZED)) {
            result = 1;
        } else {
            if (claim) {
                bw::PublishWindow(claim->Window(), form.Handle());
            }
            if (arguments.selection) {
                form.SelectEntry(*arguments.selection);
            }
            MSG message{};
            while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
            result = static_cast<int>(message.wParam);
        }
    }
    ::CoUninitialize();
    // A refresh, a command's work or the settings' write held by a share that went away keeps its thread (and the
    // store's lock) after the window has gone. They are given a moment together; then the process ends without
    // them, before the runtime's exit tears down what they may still touch. A command's work told to stop changes
    // nothing after its reads; one ended in the middle of its writes is ended as a kill would end it, and every
    // file is replaced in one step. Windows cancels the network call of a thread that the process's end
    // terminates (the process lingers, without a window, until the redirector lets go of the call), and the lock is
    // released as abandoned, which the next holder takes as free.
    const ULONGLONG until = ::GetTickCount64() + kLeftRunningWait;
    const auto left = [&] { return static_cast<DWORD>(until - std::min(until, ::GetTickCount64())); };
    if (!bw::TStartImport::WaitForLeftRunning(left()) || !bw::TCommandWork::WaitForLeftRunning(left())) {
        ::ExitProcess(static_cast<UINT>(result));
    }
    return result;
}
