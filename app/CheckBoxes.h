#pragma once

#include <windows.h>

namespace bw {

// Gives a list view with check boxes boxes of the size for `dpi`, where those it has are of another size. The list
// view makes its boxes once, at the size of the system's small icons, and keeps them through a change of DPI.
void FitCheckBoxes(HWND list, UINT dpi);

} // namespace bw
