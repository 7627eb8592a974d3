#pragma once

#include "platform/ShellLink.h"
#include "store/Entry.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace bw {

// The questions a front end may ask outside a unit of work of the store's door: each reads and changes nothing.
// Everything that reads the store whole, imports, writes back or changes an entry goes through TStoreDoor; a
// front end includes no other part of the store's inner workings.

// What a switched-off entry would replace if it were switched on: the command line (or the shortcut's target and
// arguments) of a different entry of the same name that starts now, and the entry's own. Nothing when its place
// is free or holds the same entry.
struct StartingTwin {
    std::wstring startsNow;
    std::wstring switchedOff;
};
std::optional<StartingTwin> StartingTwinOf(const Entry& entry);

// The switch that starts the program as the watcher instead of the window, and the name of the HKCU Run entry that
// starts the watcher at log-on ("Watch start-up while Bootwarden is closed").
inline constexpr const wchar_t* kWatchSwitch = L"--watch";
inline constexpr const wchar_t* kWatcherEntryName = L"Bootwarden watcher";

// The command line of the watcher's entry for the program at `programPath` (the path it was started from).
std::wstring WatcherCommandLine(const std::wstring& programPath);

// Whether `entry` is the watcher's own entry, switched on or off: the user's Run entry of that name whose command
// line starts the program at `programPath` (the running program's) with the watch switch and nothing else. An entry
// of that name that starts another program is not the program's, whatever it is called.
bool IsWatcherEntry(const Entry& entry, const std::wstring& programPath);

// The entry name of a program added by the user: its file name cut before its first dot, unless the name
// begins with that dot.
std::wstring EntryNameForProgram(const std::wstring& programPath);

// The enabled codes whose locations are registry keys (the places listed read-only among them), in list order.
std::vector<int> RunKeyCodes();

// What a Startup entry starts, as its store link (a copy of its shortcut) says: the target, quoted where it holds
// a space, and its arguments. Empty where the entry has no store link or the link cannot be read whole.
// `loader` is reused from one call to the next.
std::wstring StartupLinkCommandLine(const Entry& entry, TShellLink& loader);

// Windows' own switch for start-up entries (the Startup pages of Task Manager and of Settings) leaves an entry
// where it is and keeps a flag for it under HKCU's or HKLM's Explorer\StartupApproved key: in its subkey "Run"
// for values of the Run key, "Run32" for the 32-bit view's, "StartupFolder" for the Startup folder's
// shortcuts (by file name; HKLM's for the all-users folder). An entry without a flag starts. The policy and RunOnce
// keys have no such switch.
inline constexpr const wchar_t* kStartupApprovedPath =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\";

// Where the flags of an enabled code's entries are kept.
struct ApprovalPlace {
    HKEY root;
    const wchar_t* subkey; // below kStartupApprovedPath
};
std::optional<ApprovalPlace> ApprovalPlaceOf(int enabledCode);

} // namespace bw
