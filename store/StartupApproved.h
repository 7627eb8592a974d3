#pragma once

#include "platform/Registry.h"

#include <windows.h>

#include <optional>
#include <string>

namespace bw {

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

// The name of an entry's flag: its value name, or its shortcut's file name.
std::wstring ApprovalValueName(int enabledCode, const std::wstring& entryName);

// True for a flag that keeps its entry from starting: twelve bytes of REG_BINARY whose first byte is odd.
// Anything else, of another size or type as well, lets the entry start.
bool KeepsFromStarting(const RegistryValue& flag);

// Lets an entry start where its flag keeps it from starting: the flag then says "may start" (its first byte
// even, its time cleared). The only flag Bootwarden ever writes, and only for an entry the user switches on.
// True when it wrote. Raises ERegistryException when the flag cannot be written, ERightsMissing (writing
// nothing) when the user may not change the key that holds it.
bool AllowToStart(int enabledCode, const std::wstring& entryName);

// Raises ERightsMissing when AllowToStart would need rights the user lacks; changes nothing.
void CheckRightsToAllow(int enabledCode, const std::wstring& entryName);

} // namespace bw
