#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Shell links need the component system on this thread, as in the program.
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    const int result = RUN_ALL_TESTS();
    ::CoUninitialize();
    return result;
}
