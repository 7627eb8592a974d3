#pragma once

#include "app/EntrySelection.h"
#include "platform/NamedObjects.h"

#include <windows.h>

#include <optional>
#include <string>

namespace bw {

// How long a second start waits for the first one's window to exist (the first may itself be starting).
inline constexpr DWORD kFirstWindowWait = 5000;
// How long the copy that a restart as administrator started waits for the old one to end.
inline constexpr DWORD kHandOverWait = 15000;

// The claim of one window on the store beside a folder: a mutex that the window's process holds for as long as it
// runs (Windows hands it on when the process ends, however it ends), and the window's handle for a second start.
class TWindowClaim {
public:
    // Opens the claim's objects; raises as TNamedMutex and TNamedValue do.
    explicit TWindowClaim(const std::wstring& programDir);

    // Takes the claim, waiting up to `waitMs` for the process that holds it to end. False when it still holds it.
    bool Take(DWORD waitMs);
    const TNamedValue& Window() const { return m_window; }
    TNamedValue& Window() { return m_window; }

private:
    TNamedMutex m_running;
    TNamedValue m_window;
};

// For a second start of the program on a store whose window is already open: waits up to `waitMs` for the first
// start's window, brings it to the front (restored if it was minimised), and says whether it found one. With a
// selection, the window is asked to select that entry (HandSelectionTo).
bool BringFirstWindowToFront(const TNamedValue& claim, DWORD waitMs,
                             const std::optional<EntrySelection>& selection = std::nullopt);

// Makes `window` the one a later start on the same store brings to the front.
void PublishWindow(TNamedValue& claim, HWND window);

// The command line that tells the copy a restart starts which process hands the store over to it, and back.
std::wstring HandOverArguments(DWORD processId);
std::optional<DWORD> HandOverFrom(const std::wstring& commandLine);

} // namespace bw
