#include "app/Desktop.h"
#include "app/MainForm.h"
#include "app/SingleInstance.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "store/Locations.h"
#include "store/StoreLock.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <memory>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
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
    const auto handOver = bw::HandOverFrom(commandLine != nullptr ? commandLine : L"");
    const bool claimed = claim && claim->Take(handOver ? bw::kHandOverWait : 0);
    // A first start whose window is gone (it is ending) or never came is no reason to start no window at all;
    // the store's lock keeps the two apart meanwhile.
    if (claim && !claimed && bw::BringFirstWindowToFront(claim->Window(), bw::kFirstWindowWait)) {
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
            MSG message{};
            while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
            result = static_cast<int>(message.wParam);
        }
    }
    ::CoUninitialize();
    return result;
}
