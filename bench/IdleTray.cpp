// An idle program of the watcher's kind, for the bench to measure the watcher beside: a 64-bit GUI process with
// COM and the common controls started, a hidden top-level window in its message loop and an icon in the
// notification area, with the libraries loaded that Bootwarden.exe imports. It does nothing until it is ended.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <initializer_list>

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    for (const wchar_t* library : {L"advapi32.dll", L"comctl32.dll", L"comdlg32.dll", L"crypt32.dll", L"gdi32.dll",
                                   L"ole32.dll", L"shell32.dll", L"shlwapi.dll", L"uxtheme.dll", L"version.dll",
                                   L"wintrust.dll"}) {
        (void)::LoadLibraryW(library);
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
        return 1;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    (void)::InitCommonControlsEx(&controls);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"BootwardenIdleTray";
    (void)::RegisterClassExW(&windowClass);
    const HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"Idle", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                          nullptr, instance, nullptr);
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uID = 1;
    icon.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    icon.uCallbackMessage = WM_APP;
    icon.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    lstrcpynW(icon.szTip, L"Idle", ARRAYSIZE(icon.szTip));
    (void)::Shell_NotifyIconW(NIM_ADD, &icon);
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    (void)::Shell_NotifyIconW(NIM_DELETE, &icon);
    ::CoUninitialize();
    return 0;
}
