#include "platform/Process.h"

#include "platform/UniqueHandle.h"

namespace bw {

bool ProcessHasEnded(DWORD processId) {
    UniqueKernelHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        // ERROR_INVALID_PARAMETER: no process has this id. Anything else (access denied to another user's
        // process) says that one may well be running.
        return ::GetLastError() == ERROR_INVALID_PARAMETER;
    }
    return ::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0;
}

} // namespace bw
