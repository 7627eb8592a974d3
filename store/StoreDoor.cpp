#include "store/StoreDoor.h"

#include "resources/Texts.h"
#include "store/LinkRecords.h"
#include "store/Locations.h"
#include "store/StoreData.h"

namespace bw {

TStoreDoor::TStoreDoor(HistoryActor actor) : m_session(actor), m_actor(actor) {}
TStoreDoor::~TStoreDoor() = default;

void TStoreDoor::Open() {
    m_open = false;
    // Elevated as another account, HKCU stands for the owner's hive from here on, and the Startup folder is the
    // owner's: known before the store's folders are looked at, so that none may lead into it.
    m_unreachableOwner = UseOwnersPlaces();
    const StoreStart start = PrepareStore();
    if (start.kind == StoreStart::Temporary) {
        throw EStoreNotHere(FormatMessageText(text::kExtractFirst, ProgramDir()));
    }
    m_readOnly = start.kind == StoreStart::ReadOnly || IsStoreReadOnly(); // or its data folder is refused
    // The checks of PrepareStore leave refused folders out of every code of the run: nothing is read from, written
    // into or removed from where they lead.
    m_refusedFolders = start.refusedFolders;
    SetOwnersPlacesUnreachable(m_unreachableOwner);
    m_notShared.reset();
    try {
        // The count of work and the lock are both opened here, so that a store whose objects this copy may not
        // share is known before anything is read, and told once.
        m_watch = std::make_unique<TStoreWatch>();
        (void)TNamedMutex(StoreLockName(ProgramDir()));
    } catch (const ENotShared& error) {
        m_watch.reset();
        m_notShared = NotSharedObject{error.WhyNot(), error.Subject()};
        m_readOnly = true;
        MakeStoreReadOnly(error.WhyNot() == ENotShared::AccessDenied ? text::kAnotherCopyRefused
                                                                     : text::kNameTakenRefused);
    }
    if (!m_notShared && !IsStoreReadOnly()) {
        // A store made before its data folder was keeps its files beside the store folders: moved in once, under
        // the lock, so that no other process writes one at its old place meanwhile. A store busy now is moved at a
        // later start; until then each file is used where it is.
        if (const auto lock = TStoreLock::TryTake(kStoreLockWait)) {
            MoveOldDataFiles();
        }
    }
    LookAtOwner(); // after the objects: a store that is only listed gets no owner recorded without the lock
    m_open = true;
}

void TStoreDoor::LookAtOwner() {
    const StoreOwner me = ThisRunsOwner();
    const std::optional<StoreOwner> recorded = RecordedStoreOwner();
    if (recorded && !SameOwner(*recorded, me)) {
        m_otherOwner = *recorded;
        SetStoreOfAnother(std::make_pair(ShownAccount(*recorded), ShownMachine(*recorded)));
        return;
    }
    m_otherOwner.reset();
    SetStoreOfAnother(std::nullopt);
    if (!recorded && !m_readOnly && !me.sid.empty() && ThisRunMayAdopt()) {
        try {
            RecordStoreOwner(me); // a store made before owners were recorded, or a new one, is this account's
        } catch (const EBootwarden&) {
            // tried again at the next start; meanwhile the store is this run's as it always was
        }
    }
}

std::unique_ptr<TStoreDoor::TWork> TStoreDoor::BeginWork(DWORD waitMs) {
    if (m_notShared) {
        return std::unique_ptr<TWork>(new TWork(*this, nullptr)); // only reads: a change is refused
    }
    return std::unique_ptr<TWork>(new TWork(*this, std::make_unique<TStoreLock>(waitMs)));
}

std::unique_ptr<TStoreDoor::TWork> TStoreDoor::TryBeginWork(DWORD waitMs) {
    if (m_notShared) {
        return BeginWork(waitMs);
    }
    std::unique_ptr<TStoreLock> lock = TStoreLock::TryTake(waitMs);
    if (!lock) {
        return nullptr;
    }
    return std::unique_ptr<TWork>(new TWork(*this, std::move(lock)));
}

void TStoreDoor::Enter() {
    if (!m_open) {
        Open();
    }
    // Another process's work is news: its bases are taken in, and this process's edits not yet written back stay.
    if (m_depth++ == 0) {
        // The records are read under the lock: a store that kept none takes them from its links' blocks once, here.
        StoreRecords().TakeIn();
        if (m_watch && m_watch->OthersWorked()) {
            m_session.TakeInOthersWork();
            if (m_otherOwner) {
                LookAtOwner(); // another copy may have taken the store over
            }
        }
    }
}

void TStoreDoor::Leave() {
    if (--m_depth > 0) {
        return;
    }
    if (m_notShared) {
        return; // without the lock nothing is written, and the count of work cannot be reached
    }
    (void)m_session.SaveBases(); // what cannot be saved now is tried again at the end of the next work
    (void)StoreRecords().Save();
    m_watch->Seen();
}

TStoreDoor::TWork::TWork(TStoreDoor& door, std::unique_ptr<TStoreLock> lock) : m_door(door), m_lock(std::move(lock)) {
    m_door.Enter();
}

TStoreDoor::TWork::~TWork() {
    m_door.Leave();
}

bool TStoreDoor::TWork::Refresh(bool writeBack, ProgressControl* progress) {
    return Session().Refresh(writeBack, progress);
}

void TStoreDoor::TWork::Record(HistoryChange change, int code, const std::wstring& name, const std::wstring& start) {
    Session().ExpectChange(code, name);
    RecordHistory({{HistoryTimeNow(), change, m_door.m_actor, code, name, start}});
}

void TStoreDoor::TWork::Disable(const Entry& entry, bool replaceKept) {
    DisableEntry(entry, replaceKept);
    Session().ExpectChange(entry.code, entry.name); // its mirror leaves the enabled folder
    Record(HistoryChange::SwitchedOff, DisabledCodeOf(entry.code), entry.name, StartOf(entry));
}

void TStoreDoor::TWork::Enable(const Entry& entry, ProgressControl* progress, bool replaceStarting) {
    EnableEntry(entry, progress, replaceStarting);
    try {
        MarkKeptOff(entry, false); // an entry switched on is no longer kept off
    } catch (const EBootwarden&) {
        // a marks file that is not ours keeps nothing off: IsKeptOff ignores it
    }
    Session().ExpectChange(entry.code, entry.name);
    Record(HistoryChange::SwitchedOn, EnabledCodeOf(entry.code), entry.name, StartOf(entry));
}

void TStoreDoor::TWork::KeepOff(const Entry& entry, bool keep) {
    if (m_door.ReadOnly() || !m_lock) {
        throw EEntryRefused(FormatMessageText(text::kStoreReadOnly, ProgramDir()));
    }
    MarkKeptOff(entry, keep);
}

std::vector<KeptOffFinding> TStoreDoor::TWork::KeepOffReAdded() {
    if (m_door.ReadOnly() || !m_lock) {
        return {};
    }
    std::vector<KeptOffFinding> findings = bw::KeepOffReAdded(Entries());
    bool removed = false;
    for (const KeptOffFinding& finding : findings) {
        if (finding.kind == KeptOffFinding::SwitchedOffAgain) {
            Session().ExpectChange(finding.entry.code, finding.entry.name);
            Record(HistoryChange::SwitchedOff, DisabledCodeOf(finding.entry.code), finding.entry.name,
                   StartOf(finding.entry));
            removed = true;
        }
    }
    if (removed) {
        (void)Refresh(false); // its mirror leaves the enabled folder
    }
    return findings;
}

void TStoreDoor::TWork::AllowToStart(const Entry& entry) {
    AllowEntryToStart(entry);
    Record(HistoryChange::SwitchedOn, entry.code, entry.name, StartOf(entry));
}

void TStoreDoor::TWork::Delete(const Entry& entry) {
    DeleteEntry(entry);
    Record(HistoryChange::Deleted, entry.code, entry.name, StartOf(entry));
}

std::wstring TStoreDoor::TWork::AddStartupShortcut(const std::wstring& programPath,
                                                   const std::optional<std::wstring>& name, int code) {
    const std::wstring entryName = name ? *name : EntryNameForProgram(programPath);
    const std::wstring shortcut = bw::AddStartupShortcut(code, programPath, entryName);
    // The shortcut's own name: the one asked for may have been made unique.
    const std::wstring fileName = FileNamePart(shortcut);
    const size_t dot = fileName.rfind(L'.');
    Record(HistoryChange::Added, code, dot == std::wstring::npos ? fileName : fileName.substr(0, dot),
           StartOf(programPath, L""));
    return shortcut;
}

void TStoreDoor::TWork::AddRunValue(int code, const std::wstring& name, const std::wstring& commandLine) {
    bw::AddRunValue(code, name, commandLine);
    Record(HistoryChange::Added, code, name, commandLine);
}

void TStoreDoor::TWork::TakeOver() {
    if (m_door.m_readOnly) {
        throw EEntryRefused(FormatMessageText(text::kStoreReadOnly, ProgramDir()));
    }
    RecordStoreOwner(ThisRunsOwner());
    m_door.m_otherOwner.reset();
    SetStoreOfAnother(std::nullopt);
}

void TStoreDoor::Repack() {
    if (m_depth != 0) {
        return;
    }
    m_session.Repack();
    StoreRecords().Repack();
}

} // namespace bw
