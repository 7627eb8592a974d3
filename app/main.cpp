#include "app/Desktop.h"
#include "app/MainForm.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
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
