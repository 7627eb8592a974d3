#pragma once

#include <windows.h>

#include <string>

namespace bw {

// The icon of an entry: the icon at `index` in the file `path` (a program, library or icon file; references such
// as "%SystemRoot%" expanded), else the icon of the program associated with the file's type. Null when neither gives
// one: the caller then shows its default icon. The caller owns the icon. Never fails otherwise.
HICON LoadEntryIcon(HINSTANCE instance, const std::wstring& path, int index);

} // namespace bw
