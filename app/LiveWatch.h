#pragma once

#include "app/WindowMessages.h"
#include "platform/ChangeWatch.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace bw {

// Keeps the window's list current by itself. Every place whose entries the list shows is watched: the Run keys
// (both views of HKLM's, HKCU's), Windows' own start-up switches (StartupApproved), the "User Shell Folders" keys
// that name the Startup folders, the Startup folders and the store folders. When one changes, the window runs
// its refresh cycle once the burst of changes it belongs to has passed (TimerFired).
//
// Between changes nothing is read and no timer runs. The window's activation re-arms every watch (RearmAll) and
// reads only when it may find something: a place changed since the last cycle that ran to its end, that cycle
// did not end, a place's own stamp moved since it was last armed (a watch that died without a word: its key
// deleted and made again), or a place cannot be watched (missing, or on a file system without notifications),
// which is then read at every such refresh. F5 and the Refresh button re-arm every watch as well, and read
// everything by its stamps, whatever the watches said. Each cycle tries to watch again every place that is not
// watched, so a folder or key made (again) since is watched from then on.

class TLiveWatch {
public:
    // What a refresh reads: the system's places (the registry, the Startup folder) and the store's folders.
    struct Scope {
        bool system = true;
        bool store = true;
        bool Any() const { return system || store; }
    };

    // Posted by the watch's own thread when a place changed.
    static constexpr UINT kChangedMessage = kWatchChangedMessage;

    explicit TLiveWatch(HWND window);
    ~TLiveWatch();
    TLiveWatch(const TLiveWatch&) = delete;
    TLiveWatch& operator=(const TLiveWatch&) = delete;

    // kChangedMessage: re-arms the places that changed and gathers the burst.
    void Changed();
    // A WM_TIMER of the window; true when it was the watch's own: the burst is over, and the window refreshes.
    bool TimerFired(UINT_PTR id);

    // Before a refresh reads `reading`: what changes there from here on is news of a later cycle. Watches the
    // places that are not watched (their list follows where the Startup folder now is).
    void CycleStarts(Scope reading);
    // After a refresh that ran to its end; `settled`: it left nothing to be tried again without a change.
    void CycleEnds(bool settled);

    // What a refresh must read (see above): what changed since, and, for a refresh the user asked for
    // (`byUser`, activation included), the kind of every place that cannot be watched. A change whose
    // notification is still on its way counts.
    Scope MustRead(bool byUser);
    // Arms every place anew, each with a fresh watch (a watch can die without a signal), and takes every place whose
    // own stamp moved since its last arm as changed.
    void RearmAll();
    // The places that cannot be watched now, by name.
    std::vector<std::wstring> Unwatched() const;

private:
    struct Place {
        std::wstring id; // what the place is: its kind and path
        bool isStore;    // a store folder (else a place of the system)
        TChangeWatch watch;
    };
    void Note(const Place& place);
    // Arms `place` anew; its old watch goes to `retired`, to be closed once the waiter has the new handles. True
    // (and the change noted) unless the place is still missing.
    bool Rearm(Place& place, std::vector<TChangeWatch>& retired);
    // Re-arms the places the waiter saw signalled; true when any of them changed.
    bool TakeChanges();
    // Watches the places as they now are; true when one is watched that was not in the list before.
    bool UpdatePlaces();
    // Runs the refresh once the burst of changes has passed.
    void Gather();
    std::vector<Place> CurrentPlaces() const;
    void WaitForAll();

    HWND m_window;
    std::vector<Place> m_places;
    std::unique_ptr<TChangeWaiter> m_waiter;
    Scope m_changed;                 // what changed since the last cycle that read it (everything until the first)
    Scope m_cycleOpen{false, false}; // what a cycle under way reads until it ends
    bool m_gathering = false;
    ULONGLONG m_gatherStart = 0;
};

} // namespace bw
