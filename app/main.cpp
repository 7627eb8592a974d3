#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "store/Import.h"
#include "store/Locations.h"

#include <windows.h>
#include <objbase.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    int result = 0;
    try {
        bw::SetProgramDir(bw::ProgramDirOf(bw::ModulePath()));
        bw::ImportSystemEntries();
    } catch (const bw::EBootwarden& error) {
        ::MessageBoxW(nullptr, error.Message().c_str(), L"Bootwarden", MB_OK | MB_ICONERROR);
        result = 1;
    }
    ::CoUninitialize();
    return result;
}
