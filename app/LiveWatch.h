#pragma once

#include "app/WindowMessages.h"
#include "platform/ChangeWatch.h"
#include "platform/FileSystem.h"

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
//
// A folder on another machine (a Startup folder redirected to a share, a store on a network drive) is armed and
// stamped on the armer's thread only: where its share went away, that waits for the network's timeout. Its old
// watch goes on until the new one comes; the place is then read when the new watch or the old one tells of a
// change, as a local place is read at once. A refresh that reads such a folder runs off the window's thread too
// (ReadsRemote tells which).

class TLiveWatch {
public:
    // What a refresh reads: the system's places (the registry, the Startup folder) and the store's folders.
    struct Scope {
        bool system = true;
        bool store = true;
        bool Any() const { return system || store; }
    };

    // Posted when a place changed: by the waiter's thread, or, for Waiting::InLoop, from WaitForInput.
    static constexpr UINT kChangedMessage = kWatchChangedMessage;

    // How the places' handles are waited on: by a thread of the watch's own, whose message any loop (a dialog's,
    // a menu's) dispatches; or in the window's thread's own message loop, which then calls WaitForInput where it
    // would wait for a message (no thread, and a change during a modal loop is heard once the loop is back).
    enum class Waiting { OnThread, InLoop };

    explicit TLiveWatch(HWND window, Waiting waiting = Waiting::OnThread);
    ~TLiveWatch();
    TLiveWatch(const TLiveWatch&) = delete;
    TLiveWatch& operator=(const TLiveWatch&) = delete;

    // For Waiting::InLoop: waits until a message is in the thread's queue (or one of the places' handles posted
    // kChangedMessage). Its loop takes every message out of the queue before it calls this again.
    void WaitForInput();
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
    // True when a refresh that reads `reading` reads a folder on another machine: a place as it stood at the last
    // cycle's start or end, or, once where they are named changed, a Startup folder as it is named now (moved to a
    // share since, and not watched yet).
    bool ReadsRemote(Scope reading);

private:
    struct Place {
        std::wstring id; // what the place is: its kind and path
        bool isStore;    // a store folder (else a place of the system)
        TChangeWatch watch;
        bool remote = false;    // on another machine: armed, stamped and closed on the armer's thread only
        size_t arming = 0;      // the ticket of the watch the armer is making for it (0: none)
        bool signalled = false; // its watch was signalled while the armer made the next: read once it comes
        bool held = false;      // a store folder signalled during a cycle: armed again once the cycle has ended
    };
    void Note(const Place& place);
    // Arms `place` anew; its old watch goes to `retired`, to be closed once the waiter has the new handles. True
    // (and the change noted) unless the place is still missing.
    bool Rearm(Place& place, std::vector<TChangeWatch>& retired);
    // Re-arms the places the waiter saw signalled; true when any of them changed.
    bool TakeChanges();
    // Arms again the store folders held during a cycle (their change was noted then), and waits for them again.
    void ReleaseHeld();
    // Watches the places as they now are; true when one is watched that was not in the list before.
    bool UpdatePlaces();
    // Runs the refresh once the burst of changes has passed.
    void Gather();
    std::vector<Place> CurrentPlaces();
    void WaitForAll();
    // Hands `place` to the armer for a fresh watch, unless it has it already; the watch it has goes on until then.
    void ArmElsewhere(Place& place, bool signalled);
    // Closes a watch no longer waited on: a remote place's on the armer's thread, which may wait for the network.
    void Retire(bool remote, TChangeWatch watch);
    // Puts the watches the armer made in place; true when one of them tells of a change.
    bool TakeArmed();

    HWND m_window;
    TNetworkPaths m_network;
    // The armer's thread, made when the first place on another machine is armed: where every place is local, no
    // thread (and no stack) is spent on it. Declared before the places: the thread that armed their watches ends
    // after they are closed.
    TWatchArmer& Armer();
    std::unique_ptr<TWatchArmer> m_armer;
    size_t m_lastTicket = 0;
    std::vector<Place> m_places;
    std::unique_ptr<IChangeWaiter> m_waiter;
    TLoopWaiter* m_loop = nullptr;   // m_waiter, where it waits in the loop
    Scope m_changed;                 // what changed since the last cycle that read it (everything until the first)
    Scope m_cycleOpen{false, false}; // what a cycle under way reads until it ends
    bool m_gathering = false;
    ULONGLONG m_gatherStart = 0;
    bool m_foldersNamedAnew = false; // where the Startup folders are named changed since the last cycle read it
};

} // namespace bw
