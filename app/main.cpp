#include "app/Desktop.h"
#include "app/MainForm.h"
#include "app/SingleInstance.h"
#include "platform/FileSystem.h"
#include "store/Locations.h"
#include "store/StoreLock.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <memory>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // One window per store: a second start on the same store shows the first one's window and ends, before it
    // reads anything. (A claim that cannot be made at all does not keep the program from starting.)
    std::unique_ptr<bw::TNamedValue> claim;
    try {
        claim = std::make_unique<bw::TNamedValue>(bw::StoreWindowName(bw::ProgramDirOf(bw::ModulePath())));
    } catch (const bw::EBootwarden&) {
    }
    // A first start whose window is gone (it is ending) or never came is no reason to start no window at all;
    // the store's lock keeps the two apart meanwhile.
    if (claim && claim->Existed() && bw::BringFirstWindowToFront(*claim, bw::kFirstWindowWait)) {
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
                bw::PublishWindow(*claim, form.Handle());
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
