#pragma once

#include "platform/Seam.h"

#include <optional>
#include <string>

namespace bw {

// The current user's Startup folder as the shell names it (SHGetKnownFolderPath, FOLDERID_Startup), without a
// trailing backslash; it follows folder redirection, unlike the "Shell Folders" value. Nothing when the shell
// cannot tell.
std::optional<std::wstring> ShellStartupFolder();

// The Startup folder of all users as the shell names it (FOLDERID_CommonStartup), without a trailing backslash.
// Nothing when the shell cannot tell.
std::optional<std::wstring> ShellCommonStartupFolder();

// The user's temporary folder (GetTempPathW) as a full, long path without a trailing backslash; "" when it cannot
// be told. Explorer runs a program opened inside a zip file from a folder below it.
std::wstring TemporaryFolder();

namespace seam {
extern TSeam<std::optional<std::wstring>()> StartupFolder;
extern TSeam<std::optional<std::wstring>()> CommonStartupFolder;
extern TSeam<std::wstring()> TempFolder;
} // namespace seam

} // namespace bw
