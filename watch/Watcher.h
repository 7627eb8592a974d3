#pragma once

#include "store/StoreQueries.h"

#include <windows.h>

#include <string>

namespace bw {

// The icon menu's commands. The watcher's window takes each also as kWatcherMenuMessage with the command in
// wParam, as if chosen from the menu. The entries of the last notices, newest first, have four commands each from
// WatcherEntryCommands on: entry i's command c is WatcherEntryCommands + i * kCommandsPerEntry + c.
inline constexpr UINT kWatcherMenuMessage = WM_APP + 41;
// What the shell sends the watcher's window for its icon's events (NOTIFYICON_VERSION_4: the event in lParam's low
// word).
inline constexpr UINT kWatcherIconMessage = WM_APP + 40;
enum WatcherMenuCommand : UINT {
    WatcherOpenCommand = 1,
    WatcherPauseCommand,
    WatcherStopCommand,
    WatcherEntryCommands = 100,
};
inline constexpr UINT kCommandsPerEntry = 4;
enum WatcherEntryCommand : UINT { EntrySwitchOffCommand, EntryKeepCommand, EntryQuietCommand, EntryShowCommand };

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
