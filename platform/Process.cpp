#include "platform/Process.h"

#include "platform/UniqueHandle.h"

namespace bw {

namespace {
BOOL RealShellExecute(SHELLEXECUTEINFOW* info) {
    return ::ShellExecuteExW(info);
}
} // namespace

namespace seam {
TSeam<BOOL(SHELLEXECUTEINFOW*)> ShellExecute(&RealShellExecute);
} // namespace seam

bool ProcessHasEnded(DWORD processId) {
    UniqueKernelHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        // ERROR_INVALID_PARAMETER: no process has this id. Anything else (access denied to another user's
        // process) says that one may well be running.
        return ::GetLastError() == ERROR_INVALID_PARAMETER;
    }
    return ::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0;
}

bool StartAsAdministrator(HWND owner, const std::wstring& program, const std::wstring& parameters,
                          const std::wstring& folder) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI; // a declined prompt is no error to show
    info.hwnd = owner;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    const bool started = seam::ShellExecute(&info) != FALSE;
    UniqueKernelHandle process(info.hProcess); // not waited on: the new copy waits for this one, not the other way
    return started;
}

} // namespace bw
