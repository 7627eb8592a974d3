#pragma once

#include "platform/Registry.h"
#include "store/StoreQueries.h"

#include <windows.h>

#include <optional>
#include <string>

namespace bw {

// Where Windows' own switch keeps its flags: see StoreQueries.h.

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
