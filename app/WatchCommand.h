#pragma once

namespace bw {

// The class of the watcher's hidden window: the window finds a running watcher by it (one per session) to end it.
inline constexpr const wchar_t* kWatcherWindowClass = L"BootwardenWatcher";

} // namespace bw
