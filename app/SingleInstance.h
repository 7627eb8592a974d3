#pragma once

#include "platform/NamedObjects.h"

#include <windows.h>

namespace bw {

// How long a second start waits for the first one's window to exist (the first may itself be starting).
inline constexpr DWORD kFirstWindowWait = 5000;

// For a second start of the program on a store whose window is already open (`claim` existed): waits up to
// `waitMs` for the first start's window, brings it to the front (restored if it was minimised), and says whether
// it found one.
bool BringFirstWindowToFront(const TNamedValue& claim, DWORD waitMs);

// Makes `window` the one a later start on the same store brings to the front.
void PublishWindow(TNamedValue& claim, HWND window);

} // namespace bw
