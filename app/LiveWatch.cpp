#include "app/LiveWatch.h"

#include "store/Locations.h"
#include "store/StoreQueries.h"

#include <algorithm>

namespace bw {

namespace {

// A burst of changes (an installer writing ten values, a folder copied in) is gathered into one cycle: the
// cycle runs once no change has come for this long, or this long after the burst's first change at the latest.
constexpr UINT kGatherQuiet = 30;         // milliseconds
constexpr ULONGLONG kGatherLongest = 150; // milliseconds

} // namespace

TLiveWatch::TLiveWatch(HWND window, Waiting waiting) : m_window(window) {
    if (waiting == Waiting::InLoop) {
        auto loop = std::make_unique<TLoopWaiter>(window, kChangedMessage);
        m_loop = loop.get();
        m_waiter = std::move(loop);
    } else {
        m_waiter = std::make_unique<TChangeWaiter>(window, kChangedMessage);
    }
}

void TLiveWatch::WaitForInput() {
    if (m_loop) {
        (void)m_loop->WaitForInput();
    } else {
        (void)::MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

TLiveWatch::~TLiveWatch() {
    m_waiter.reset(); // the thread ends before the handles it waits on
    for (Place& place : m_places) {
        Retire(place.remote, std::move(place.watch));
    }
    if (m_gathering && ::IsWindow(m_window)) {
        ::KillTimer(m_window, kGatherTimer);
    }
}

std::vector<TLiveWatch::Place> TLiveWatch::CurrentPlaces() {
    std::vector<Place> places;
    const auto addKey = [&](HKEY root, const std::wstring& path, REGSAM view) {
        const std::wstring id =
            (root == HKEY_LOCAL_MACHINE ? L"key|HKLM|" : L"key|HKCU|") + std::to_wstring(view) + L"|" + path;
        places.push_back({id, false, TChangeWatch::Key(root, path, view)});
    };
    const auto addFolder = [&](const std::wstring& id, bool isStore, const std::wstring& folder) {
        // The store folders are written by us: a sync engine's attributes after each of our writes are no news.
        places.push_back({id, isStore, TChangeWatch::Folder(folder, !isStore), m_network.Holds(folder)});
    };
    for (int code : ListedCodes()) {
        if (!IsEnabledCode(code)) {
            continue;
        }
        if (IsRegistryCode(code)) {
            addKey(RegistryRoot(code), KeyPathOf(code), RegistryView(code));
        }
        if (const auto place = ApprovalPlaceOf(code)) {
            addKey(place->root, std::wstring(kStartupApprovedPath) + place->subkey, 0);
        }
        if (IsFolderCode(code) && IsStartupDirKnownOf(code)) {
            addFolder(L"folder|" + StartupDirOf(code), false, StartupDirOf(code));
        }
    }
    // Where the Startup folders are named: "User Shell Folders", which the shell reads. The "Shell Folders" copy is
    // watched only where the program took a folder from it: the shell writes that copy when the program asks it
    // for the known folder, and a watch on it would then start a cycle after every cycle.
    addKey(HKEY_CURRENT_USER, kUserShellFoldersKeyPath, 0);
    addKey(HKEY_LOCAL_MACHINE, kUserShellFoldersKeyPath, 0); // where the all-users folder is named
    if (StartupDirFromShellFolders(false)) {
        addKey(HKEY_CURRENT_USER, kShellFoldersKeyPath, 0);
    }
    if (StartupDirFromShellFolders(true)) {
        addKey(HKEY_LOCAL_MACHINE, kShellFoldersKeyPath, 0);
    }
    for (int code : AllCodes()) {
        const std::wstring folder = StoreFolderPath(code);
        addFolder(L"store|" + folder, true, folder);
    }
    return places;
}

void TLiveWatch::WaitForAll() {
    std::vector<HANDLE> handles;
    for (const Place& place : m_places) {
        // A handle signalled whose place waits for its next watch would be told of again and again.
        handles.push_back(place.signalled || place.held ? nullptr : place.watch.Handle());
    }
    if (m_loop && handles.size() > TLoopWaiter::kMaxHandles) {
        // More places than a message loop's wait takes: a thread waits on them from here on. (What the loop saw
        // signalled and the window has not taken yet is still signalled: the thread tells of it again.)
        m_loop = nullptr;
        m_waiter = std::make_unique<TChangeWaiter>(m_window, kChangedMessage);
    }
    m_waiter->Wait(handles);
}

bool TLiveWatch::Rearm(Place& place, std::vector<TChangeWatch>& retired) {
    if (place.remote) {
        ArmElsewhere(place, true);
        return false; // its change is noted once its next watch is armed (TakeArmed)
    }
    const bool wasMissing = place.watch.WatchingParent();
    if (!place.watch.Continue()) {
        TChangeWatch fresh = place.watch.Unarmed();
        (void)fresh.Arm();
        retired.push_back(std::move(place.watch));
        place.watch = std::move(fresh);
    }
    // What happens beside a place that is still missing is none of its news.
    if (wasMissing && place.watch.WatchingParent()) {
        return false;
    }
    Note(place);
    return true;
}

void TLiveWatch::Note(const Place& place) {
    (place.isStore ? m_changed.store : m_changed.system) = true;
    // Where the Startup folders are named: one may have moved (to a share) before any watch of it is armed.
    const auto endsWith = [&](const std::wstring& path) {
        return place.id.size() >= path.size() && place.id.compare(place.id.size() - path.size(), path.size(), path) == 0;
    };
    m_foldersNamedAnew = m_foldersNamedAnew || endsWith(kUserShellFoldersKeyPath) || endsWith(kShellFoldersKeyPath);
}

bool TLiveWatch::UpdatePlaces() {
    std::vector<Place> places = CurrentPlaces();
    bool differs = places.size() != m_places.size();
    bool added = false;
    for (Place& place : places) {
        const auto before =
            std::find_if(m_places.begin(), m_places.end(), [&](const Place& known) { return known.id == place.id; });
        if (before != m_places.end() && (before->watch.Armed() || before->arming != 0)) {
            // Watched already (itself, or through what is above it), or soon.
            place.watch = std::move(before->watch);
            place.arming = before->arming;
            place.signalled = before->signalled;
            place.held = before->held;
            continue;
        }
        // Not watched: tried again, in case it can be by now.
        if (place.remote) {
            ArmElsewhere(place, false);
        } else {
            added = place.watch.Arm() || added;
        }
        differs = true;
    }
    // The watches left behind are closed only once the waiter has the new handles.
    std::vector<Place> left = std::exchange(m_places, std::move(places));
    if (differs) {
        WaitForAll();
    }
    for (Place& place : left) {
        Retire(place.remote, std::move(place.watch));
    }
    return added;
}

void TLiveWatch::CycleStarts(Scope reading) {
    ReleaseHeld();
    m_cycleOpen.system = m_cycleOpen.system || reading.system;
    m_cycleOpen.store = m_cycleOpen.store || reading.store;
    m_changed.system = m_changed.system && !reading.system;
    m_changed.store = m_changed.store && !reading.store;
    m_foldersNamedAnew = m_foldersNamedAnew && !reading.system;
    (void)UpdatePlaces();
}

void TLiveWatch::CycleEnds(bool settled) {
    m_cycleOpen = Scope{false, false};
    ReleaseHeld();
    if (!settled) {
        m_changed = Scope{}; // something to try again: everything is read at the next refresh
    }
    // The cycle may have found the Startup folder elsewhere (or at all, the first time). A place watched only
    // from now on may have changed since the cycle read it: it is read once more.
    if (UpdatePlaces()) {
        m_changed.system = true;
        Gather();
    }
}

bool TLiveWatch::TakeChanges() {
    bool any = false;
    const std::vector<size_t> slots = m_waiter->TakeSignalled();
    std::vector<TChangeWatch> retired;
    for (size_t slot : slots) {
        // A handle that is no longer signalled was armed anew since (a refresh saw its change first).
        if (slot < m_places.size() && m_places[slot].watch.Armed() &&
            ::WaitForSingleObject(m_places[slot].watch.Handle(), 0) == WAIT_OBJECT_0) {
            Place& place = m_places[slot];
            if (place.isStore && !place.remote && m_cycleOpen.store) {
                // The cycle under way writes this folder: armed again at once, the watch would wake the window
                // for each of the thousands of links a first start writes. One word is enough: the change is
                // noted (the next cycle reads the folder), and the watch is armed again once the cycle has ended.
                place.held = true;
                Note(place);
                any = true;
                continue;
            }
            any = Rearm(place, retired) || any;
        }
    }
    if (!slots.empty()) {
        WaitForAll(); // the slots signalled are waited for again
    }
    return any;
}

TLiveWatch::Scope TLiveWatch::MustRead(bool byUser) {
    (void)TakeArmed();
    (void)TakeChanges();
    // A change whose notification has not reached the window yet counts as well: one look at every handle, which
    // costs one call however many places there are while nothing changed.
    std::vector<HANDLE> handles;
    std::vector<size_t> slotOf;
    for (size_t slot = 0; slot < m_places.size() && handles.size() < MAXIMUM_WAIT_OBJECTS; ++slot) {
        if (m_places[slot].watch.Armed() && !m_places[slot].signalled && !m_places[slot].held) {
            handles.push_back(m_places[slot].watch.Handle());
            slotOf.push_back(slot);
        }
    }
    std::vector<TChangeWatch> retired;
    bool rearmed = false;
    for (size_t first = 0; first < handles.size();) {
        const DWORD signalled =
            ::WaitForMultipleObjects(static_cast<DWORD>(handles.size() - first), handles.data() + first, FALSE, 0);
        if (signalled < WAIT_OBJECT_0 || signalled >= WAIT_OBJECT_0 + handles.size() - first) {
            break;
        }
        const size_t at = first + (signalled - WAIT_OBJECT_0);
        (void)Rearm(m_places[slotOf[at]], retired);
        rearmed = true;
        first = at + 1;
    }
    if (rearmed) {
        WaitForAll();
    }
    Scope scope{m_changed.system || m_cycleOpen.system, m_changed.store || m_cycleOpen.store};
    for (const Place& place : m_places) {
        // (A place the armer has is read once its watch comes, when the watch tells of a change.)
        if (byUser && !place.watch.Armed() && place.arming == 0) {
            (place.isStore ? scope.store : scope.system) = true;
        }
    }
    // A read of the system may import, which writes store links: the store is read with it, so that no edit of a
    // link whose notification is still on its way is written over. (The store read alone never writes the
    // system without its changes: a registry notification is signalled by the write itself.)
    scope.store = scope.store || scope.system;
    return scope;
}

void TLiveWatch::RearmAll() {
    (void)TakeChanges(); // what was signalled counts as before
    std::vector<TChangeWatch> retired;
    for (Place& place : m_places) {
        if (std::exchange(place.held, false)) {
            Note(place);
        }
        if (place.remote) {
            ArmElsewhere(place, false);
            continue;
        }
        TChangeWatch fresh = place.watch.Unarmed();
        // A place watched only now, or whose stamp moved though its watch said nothing, is read.
        if (fresh.Arm() && (!place.watch.Armed() || fresh.Stamp() != place.watch.Stamp())) {
            Note(place);
        }
        retired.push_back(std::move(place.watch));
        place.watch = std::move(fresh);
    }
    WaitForAll(); // the watches replaced are closed once the waiter has the new handles
}

std::vector<std::wstring> TLiveWatch::Unwatched() const {
    std::vector<std::wstring> names;
    for (const Place& place : m_places) {
        if (!place.watch.Armed()) {
            names.push_back(place.watch.Name());
        }
    }
    return names;
}

bool TLiveWatch::ReadsRemote(Scope reading) {
    if (std::any_of(m_places.begin(), m_places.end(), [&](const Place& place) {
            return place.remote && (place.isStore ? reading.store : reading.system);
        })) {
        return true;
    }
    if (!reading.system || !m_foldersNamedAnew) {
        return false;
    }
    const std::vector<std::wstring> folders = StartupDirsNamedNow();
    return std::any_of(folders.begin(), folders.end(), [&](const std::wstring& folder) {
        return m_network.Holds(folder);
    });
}

void TLiveWatch::ReleaseHeld() {
    std::vector<TChangeWatch> retired;
    bool any = false;
    for (Place& place : m_places) {
        if (std::exchange(place.held, false)) {
            (void)Rearm(place, retired); // notes the change once more: what came after the first word is news too
            any = true;
        }
    }
    if (any) {
        WaitForAll(); // the watches replaced are closed once the waiter has the new handles
    }
}

void TLiveWatch::Changed() {
    const bool armed = TakeArmed();
    if (TakeChanges() || armed) {
        Gather();
    }
}

void TLiveWatch::ArmElsewhere(Place& place, bool signalled) {
    place.signalled = place.signalled || signalled;
    if (place.arming == 0) {
        place.arming = ++m_lastTicket;
        Armer().Arm(place.arming, place.watch.Unarmed());
    }
}

TWatchArmer& TLiveWatch::Armer() {
    if (!m_armer) {
        m_armer = std::make_unique<TWatchArmer>(m_window, kChangedMessage);
    }
    return *m_armer;
}

void TLiveWatch::Retire(bool remote, TChangeWatch watch) {
    if (remote && watch.Armed()) {
        Armer().Close(std::move(watch));
    }
    // (A local watch is closed here, as it goes.)
}

bool TLiveWatch::TakeArmed() {
    bool any = false;
    std::vector<TChangeWatch> retired;
    if (!m_armer) {
        return false; // nothing was ever handed to it
    }
    for (TWatchArmer::Armed& armed : m_armer->TakeArmed()) {
        const auto place = std::find_if(m_places.begin(), m_places.end(),
                                        [&](const Place& known) { return known.arming == armed.ticket; });
        if (place == m_places.end()) {
            Retire(true, std::move(armed.watch)); // its place is no longer listed
            continue;
        }
        // The watch it had went on until now: what it told of since, or a stamp that moved, is news. (A place still
        // missing is told of what happens beside it, which is none of its news.)
        const TChangeWatch& before = place->watch;
        const bool signalled =
            place->signalled || (before.Armed() && ::WaitForSingleObject(before.Handle(), 0) == WAIT_OBJECT_0);
        const bool changed = signalled
                                 ? !(before.WatchingParent() && armed.watch.WatchingParent())
                                 : armed.watch.Armed() && (!before.Armed() || armed.watch.Stamp() != before.Stamp());
        retired.push_back(std::exchange(place->watch, std::move(armed.watch)));
        place->arming = 0;
        place->signalled = false;
        if (changed) {
            Note(*place);
            any = true;
        }
    }
    if (!retired.empty()) {
        WaitForAll(); // the watches replaced are closed once the waiter has the new handles
        for (TChangeWatch& watch : retired) {
            Retire(true, std::move(watch));
        }
    }
    return any;
}

void TLiveWatch::Gather() {
    const ULONGLONG now = ::GetTickCount64();
    if (!m_gathering) {
        m_gathering = true;
        m_gatherStart = now;
    } else if (now - m_gatherStart >= kGatherLongest) {
        return; // the timer set before runs the cycle soon
    }
    ::SetTimer(m_window, kGatherTimer, kGatherQuiet, nullptr); // a timer set again starts anew
}

bool TLiveWatch::TimerFired(UINT_PTR id) {
    if (id != kGatherTimer) {
        return false;
    }
    ::KillTimer(m_window, kGatherTimer); // one cycle per burst: the timer never ticks twice
    m_gathering = false;
    return true;
}

} // namespace bw
