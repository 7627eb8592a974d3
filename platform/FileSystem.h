#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace bw {

// Attributes of a path, or INVALID_FILE_ATTRIBUTES when they cannot be read (a missing path counts the same).
DWORD FileAttributes(const std::wstring& path);

// True when the path has the attribute: its attributes can be read and include `attribute`.
bool HasAttribute(const std::wstring& path, DWORD attribute);

bool DirectoryExists(const std::wstring& path);

// True when anything, file or folder, stands at the path.
bool PathExists(const std::wstring& path);

// True for an existing path that is not a directory.
bool FileExists(const std::wstring& path);

// Deletes one file; the result says whether it is gone now. Never throws.
bool DeleteFileAt(const std::wstring& path);

// True when both files can be read and hold the same bytes. Anything that cannot be read counts as
// different, so that a copy runs and reports the failure in its own words.
bool FilesHoldSameBytes(const std::wstring& first, const std::wstring& second);

// Calls `visit` for every match of a search pattern (with every attribute admitted), in the order the
// file system returns them. The search handle is closed on every exit, also when `visit` throws.
void ForEachMatch(const std::wstring& pattern, const std::function<void(const WIN32_FIND_DATAW&)>& visit);

// The part of a path after its last "\" or ":".
std::wstring FileNamePart(const std::wstring& path);

// The part of a path up to and including its last "\" or ":" (empty when there is none).
std::wstring FolderPart(const std::wstring& path);

// Joins a folder and a name with "\" unless the folder already ends in "\" or ":".
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// The full path of `path` (relative to the current directory, "." and ".." resolved).
std::wstring FullPath(const std::wstring& path);

// The executable's own full path.
std::wstring ModulePath();

} // namespace bw
