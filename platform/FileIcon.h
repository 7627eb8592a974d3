#pragma once

#include "platform/Seam.h"

#include <windows.h>

#include <string>

namespace bw {

// The icon at `index` in the file `path` (a program, library or icon file; references such as "%SystemRoot%"
// expanded), else the icon of the program associated with the file's type. Null when neither gives one: the caller
// then shows its default icon. The caller owns the icon. Never fails otherwise. Opens the file: a caller that must
// answer meanwhile calls it on a thread of its own (with an apartment, as the shell's functions want).
HICON ReadFileIcon(HINSTANCE instance, const std::wstring& path, int index);

namespace seam {
// The reading behind ReadFileIcon. Tests answer slowly, as Windows does for a file on a slow disk or a share.
extern TSeam<HICON(HINSTANCE instance, const std::wstring& path, int index)> FileIcon;
} // namespace seam

} // namespace bw
