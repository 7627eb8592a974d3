#pragma once

#include <windows.h>

namespace bw {

// True when no process of this id runs any more: there is none (OpenProcess says the id is invalid), or the one
// that has it has ended and only its handle is still held somewhere. A process that runs, or that this process may
// not look at (another user's), counts as running.
bool ProcessHasEnded(DWORD processId);

} // namespace bw
