#include "cli/Commands.h"
#include "cli/Output.h"
#include "platform/FileSystem.h"
#include "platform/KnownFolders.h"
#include "platform/NamedObjects.h"
#include "resources/Texts.h"
#include "store/ErrorText.h"
#include "store/Locations.h"

#include <windows.h>
#include <objbase.h>

#ifdef BOOTWARDEN_TEST_SEAMS
#include "cli/TestSeam.h"
#endif

#include <optional>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    bw::cli::TStandardStreams streams;
    // The shell's link objects need the component system on this, the only, thread.
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
        streams.Error(
            bw::ErrorText(bw::EOleError(bw::Operation::LinkObject, {},
                                        static_cast<DWORD>(E_FAIL)))); // no shell links, so nothing can be done
        return bw::cli::kFailed;
    }
    int result = bw::cli::kFailed;
#ifdef BOOTWARDEN_TEST_SEAMS
    if (!bw::cli::UseScratchRegistry()) {
        streams.Error(bw::text::kCliTestSeamMissing);
        ::CoUninitialize();
        return result;
    }
    // The shell would name the real Startup folders; the scratch registry's "Shell Folders" keys name the test's.
    const auto noShellStartup = bw::seam::StartupFolder.Replace([] { return std::optional<std::wstring>(); });
    const auto noShellCommonStartup =
        bw::seam::CommonStartupFolder.Replace([] { return std::optional<std::wstring>(); });
    const bw::cli::TTestPlaces places;
#endif
    bw::SetProgramDir(bw::ProgramDirOf(bw::ModulePath()));
    result = bw::cli::RunCommandLine(std::vector<std::wstring>(argv + 1, argv + argc), streams);
    ::CoUninitialize();
    return result;
}
