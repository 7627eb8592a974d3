#pragma once

#include "store/StoreQueries.h"

#include <windows.h>

#include <string>

namespace bw {

// Whether the program's command line asks for the watcher.
bool IsWatchCommand(const std::wstring& commandLine);

// Runs the watcher until it is told to stop: an icon in the notification area, no window, and a notice whenever a
// program adds an entry to start-up or changes what one starts. What it sees is mirrored into the store and kept in
// the history through the store's door, as the window does; nothing else is changed without a click.
//
// One watcher per user session: a second one ends at once (0). Ends, also with 0, when the person stops it, at
// log-off, and when the store's folders go away; 1 when the store cannot be opened here.
int RunWatcher(HINSTANCE instance);

} // namespace bw
