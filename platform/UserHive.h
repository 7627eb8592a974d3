#pragma once

#include "platform/Seam.h"
#include "platform/UniqueHandle.h"

#include <optional>
#include <string>

namespace bw {

// The registry of an account by its SID: its hive below HKEY_USERS, which Windows loads while the account is
// logged on (and unloads some time after it logs off). Null when it is not loaded or may not be opened.
UniqueHkey OpenUserHive(const std::wstring& sid);

// Makes HKEY_CURRENT_USER stand for `hive` in this process, for every later call (RegOverridePredefKey; the
// system keeps its own reference, so `hive` may be closed afterwards). False when Windows refuses.
bool ServeCurrentUserFrom(HKEY hive);

// The account's profile folder, as HKLM's ProfileList records it (ProfileImagePath, expanded); nothing when it is
// not recorded.
std::optional<std::wstring> ProfileFolderOf(const std::wstring& sid);

namespace seam {
// Opens HKEY_USERS\<sid> for reading and writing; returns null where Windows gives ERROR_FILE_NOT_FOUND (the hive
// is not loaded) or ERROR_ACCESS_DENIED.
extern TSeam<HKEY(const std::wstring& sid)> UserHive;
} // namespace seam

} // namespace bw
