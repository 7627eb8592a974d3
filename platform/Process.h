#pragma once

#include "platform/Seam.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace bw {

// True when no process of this id runs any more: there is none (OpenProcess says the id is invalid), or the one
// that has it has ended and only its handle is still held somewhere. A process that runs, or that this process may
// not look at (another user's), counts as running.
bool ProcessHasEnded(DWORD processId);

// Starts `program` with `parameters` in `folder` with an administrator's rights (the shell's "runas" verb, which
// shows Windows' prompt). True when it started; false when the user declined the prompt or it could not start.
bool StartAsAdministrator(HWND owner, const std::wstring& program, const std::wstring& parameters,
                          const std::wstring& folder);

namespace seam {
// ShellExecuteExW: a test stands in for Windows' prompt (started, or ERROR_CANCELLED when the user declines).
extern TSeam<BOOL(SHELLEXECUTEINFOW*)> ShellExecute;
} // namespace seam

} // namespace bw
