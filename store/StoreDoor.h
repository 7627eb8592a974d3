#pragma once

#include "platform/Errors.h"
#include "platform/Seam.h"
#include "store/Entry.h"
#include "store/EntryOperations.h"
#include "store/History.h"
#include "store/KeptOff.h"
#include "store/Locations.h"
#include "store/StoreLock.h"
#include "store/StoreOwner.h"
#include "store/StoreSession.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bw {

// The points of an import at which a test or the soak's copy of the program may stop it, as a kill would: once
// the bases of the links it is about to write are saved, and after each store link written. Nothing by default.
inline constexpr const wchar_t* kIntentsSaved = L"intents-saved";
inline constexpr const wchar_t* kLinkWritten = L"link-written";
namespace seam {
extern TSeam<void(const wchar_t* point)> ImportPoint;
} // namespace seam

class ProgressControl;

// The store cannot be opened here at all: its folder lies below the user's temporary folder (a program opened
// inside its zip file), where the clean-up would take every entry kept switched off. Nothing was made.
class EStoreNotHere : public EBootwarden {
public:
    using EBootwarden::EBootwarden;
};

// The one way into the store beside ProgramDir, for every front end (the window, bwcli).
//
// Open makes the start checks (a temporary folder refuses the store, a folder that cannot be written makes it
// read-only, store folders that are links are left out of the run) and creates missing store folders. After
// that, everything that reads or changes the store happens inside a unit of work:
//
//     TStoreDoor door;
//     door.Open();                                   // raises EStoreNotHere; asks nothing, holds nothing
//     ... ask the person whatever is to be asked: no lock is held ...
//     {
//         const auto work = door.BeginWork();        // the lock, within kStoreLockWait (else EStoreBusy)
//         work->Refresh(false);                      // reads again what other processes may have changed
//         ... act on work->Entries(), through work->Disable / Enable / Delete ...
//     }                                              // bases saved, other processes told, lock released
//
// or, the same as one call, door.Work([&](TStoreDoor::TWork& work) { ... }).
//
// Beginning a unit of work takes the store's lock (bounded wait; none where the store's objects are not shared and
// the store is read-only) and, when another process worked on the store
// since this one last did, takes in the bases that process saved while keeping this process's own edits not
// yet written back. Ending it saves the bases and moves the work count on (TStoreWatch), so that others take in
// this one's work, then releases the lock. A question is never asked inside a unit of work: ask first, then
// begin one, read the entries again and act on what is there then. A thread may begin a unit of work inside
// another one; the inner one saves and tells as the outer does.
class TStoreDoor {
public:
    // `actor`: the front end that opens the door, as the history names who made each change through it.
    explicit TStoreDoor(HistoryActor actor = HistoryActor::Window);
    ~TStoreDoor();
    TStoreDoor(const TStoreDoor&) = delete;
    TStoreDoor& operator=(const TStoreDoor&) = delete;

    // Makes the start checks on ProgramDir (see above). Raises EStoreNotHere below the temporary folder, and what
    // CreateStoreFolders raises for a folder that cannot be made. May be called again (a new start on the store).
    void Open();

    bool IsOpen() const { return m_open; }
    // Nothing can be changed: ProgramDir cannot be written, the store is another's (OtherOwner), or the store's named
    // objects are not to be shared (NotShared).
    // The entries are listed all the same.
    bool ReadOnly() const { return m_readOnly || m_otherOwner.has_value(); }
    // The store's recorded owner when it is another account, or this account on another computer: its entries
    // are only listed until the person takes the store over (TWork::TakeOver). A store without a recorded owner
    // is made this run's at Open, unless the run is elevated as another account than the desktop's.
    const std::optional<StoreOwner>& OtherOwner() const { return m_otherOwner; }
    // Elevated as another account, this run works on the desktop owner's HKCU and Startup folder; when the owner's
    // registry cannot be opened, that owner's name, and the owner's places are read-only (IsUnreachablePlace); HKLM
    // and the all-users Startup folder stay changeable ("" otherwise).
    const std::wstring& UnreachableOwner() const { return m_unreachableOwner; }
    // Why the store's lock and count of work could not be opened, when they could not: another copy made them with
    // security that leaves this one out (AccessDenied), or what holds their name is not the program's (NameTaken).
    // The store is then read-only for the run: the entries are read and listed without the lock (reading the
    // system and the store's links needs none), and every change is refused with the reason.
    struct NotSharedObject {
        ENotShared::Reason reason;
        std::wstring name;
    };
    const std::optional<NotSharedObject>& NotShared() const { return m_notShared; }
    // The store folders that lead where no entry is kept (PrepareStore): none of their entries is read, written or
    // removed.
    const std::vector<RefusedFolder>& RefusedFolders() const { return m_refusedFolders; }

    // The entries as the last unit of work read them. Outside a unit of work they may be out of date: a command
    // acts only on what it reads again inside one.
    const std::vector<Entry>& Entries() const { return m_session.Entries(); }

    class TWork;
    // Begins a unit of work, waiting up to `waitMs` for another process to finish with the store; raises
    // EStoreBusy when it does not.
    std::unique_ptr<TWork> BeginWork(DWORD waitMs = kStoreLockWait);
    // The same, or null when another process still works on the store after `waitMs`.
    std::unique_ptr<TWork> TryBeginWork(DWORD waitMs);

    // Runs `act` inside one unit of work and returns what it returns.
    template <class Act> auto Work(Act&& act, DWORD waitMs = kStoreLockWait) {
        const std::unique_ptr<TWork> work = BeginWork(waitMs);
        return std::forward<Act>(act)(*work);
    }

    // The session through which the window's long import runs in parts (BeginRefresh, ContinueRefresh, ...);
    // it is only ever called inside a unit of work.
    TStoreSession& Session() { return m_session; }

    // Copies what the door keeps between units of work (its session, the store's records) anew; for a front end
    // that stays between changes (the watcher), inside TPackedHeap::Repack after each unit of work, so that the
    // memory the work needed while it ran is given back whole. Not inside a unit of work.
    void Repack();
    // Lets go of the entries (TStoreSession::LetGoOfEntries) until the next unit of work's refresh lists them again:
    // Entries() stands empty meanwhile. For a front end that keeps what it needs of them itself (the watcher).
    void LetGoOfEntries() { m_session.LetGoOfEntries(); }

private:
    void Enter();
    void Leave();

    TStoreSession m_session;
    HistoryActor m_actor;
    std::unique_ptr<TStoreWatch> m_watch; // null while the store's objects are not shared
    std::optional<NotSharedObject> m_notShared;
    bool m_open = false;
    void LookAtOwner();

    bool m_readOnly = false;
    std::optional<StoreOwner> m_otherOwner;
    std::wstring m_unreachableOwner;
    std::vector<RefusedFolder> m_refusedFolders;
    int m_depth = 0; // units of work under way on this thread
};

// One unit of work on the store: the lock is held for its whole life. What changes an entry goes through here.
class TStoreDoor::TWork {
public:
    ~TWork();
    TWork(const TWork&) = delete;
    TWork& operator=(const TWork&) = delete;

    TStoreSession& Session() { return m_door.m_session; }
    const std::vector<Entry>& Entries() const { return m_door.m_session.Entries(); }

    // Reads the system and the store again and mirrors them (TStoreSession::Refresh); with `writeBack`, edits of
    // store links are carried into the system first. True when anything had changed.
    bool Refresh(bool writeBack, ProgressControl* progress = nullptr);

    // The changes of an entry (see EntryOperations.h); each is refused (EEntryRefused) in a read-only store. Each
    // change made is kept in the history, by the front end that opened the door.
    void Disable(const Entry& entry, bool replaceKept = false);
    void Enable(const Entry& entry, ProgressControl* progress, bool replaceStarting = false);
    void AllowToStart(const Entry& entry);
    void Delete(const Entry& entry);
    // Into the user's Startup folder, or the one of the enabled folder code `code` (the all-users folder).
    std::wstring AddStartupShortcut(const std::wstring& programPath, const std::optional<std::wstring>& name = {},
                                    int code = kStartUpCode);

    // A new value in the Run key of `code` (AddRunValue: nothing is written over).
    void AddRunValue(int code, const std::wstring& name, const std::wstring& commandLine);
    // Marks a switched-off entry to be kept switched off (or, with `keep` false, takes its mark away; see
    // KeptOff.h). Refused (EEntryRefused) in a read-only store and for an entry that is not switched off.
    void KeepOff(const Entry& entry, bool keep);
    // Applies the rule of entries kept switched off to the entries the last Refresh read: each marked entry put back
    // with the same command line leaves the system (its switched-off copy stays as it is) and is kept in the
    // history; the entries are read again then. Nothing in a read-only store.
    std::vector<KeptOffFinding> KeepOffReAdded();

    // Records this run's account and computer as the store's owner, which makes a store of another changeable;
    // nothing else in the store changes. Raises EEntryRefused where ProgramDir cannot be written, and what
    // writing the owner's file raises.
    void TakeOver();

private:
    friend class TStoreDoor;
    TWork(TStoreDoor& door, std::unique_ptr<TStoreLock> lock);
    // Keeps a change made through the door in the history; the next import then takes it for no outside change.
    void Record(HistoryChange change, int code, const std::wstring& name, const std::wstring& start);

    TStoreDoor& m_door;
    std::unique_ptr<TStoreLock> m_lock; // null while the store's objects are not shared: nothing is changed then
};

} // namespace bw
