#pragma once

#include "store/EntryOperations.h"
#include "store/History.h"
#include "store/Import.h"
#include "store/StoreReader.h"
#include "store/SystemReader.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace bw {

class ProgressControl;

// The store as one window sees it over a run: what was last read of the system and of the store, what the
// last import wrote or confirmed, and the entries that came of it. A refresh in which nothing that it reads
// has changed does nothing at all.
class TStoreSession {
public:
    // `actor`: the front end working through this session, as the history names who wrote an edit back.
    explicit TStoreSession(HistoryActor actor = HistoryActor::Window);
    ~TStoreSession();
    TStoreSession(const TStoreSession&) = delete;
    TStoreSession& operator=(const TStoreSession&) = delete;

    // Starts a refresh: reads the system and the store and, when nothing changed since the last refresh (and
    // nothing is left to retry), ends there with false; the entries stand. Otherwise writes back the edits
    // of store links (when `writeBack` is set) and sets up the import. Raises what the reads and the
    // write-back raise; no import is then under way.
    // `readSystem`/`readStore` false: the caller knows that the system's places, or the store's folders, are as
    // the last read found them (they are watched, and told of no change); they are then not read. The first
    // refresh, and one after a refresh that left something to retry, reads both whatever is asked.
    bool BeginRefresh(bool writeBack, ProgressControl* progress, bool readSystem = true, bool readStore = true);

    // Runs the import for about `budgetMs` milliseconds (0: to its end). True when it is done, and the
    // entries are then those of the store as it now is.
    bool ContinueRefresh(DWORD budgetMs);

    // A whole refresh at once. True when it did anything (something had changed).
    bool Refresh(bool writeBack, ProgressControl* progress);

    // Drops an import under way; what it did so far stays done, and the next refresh runs whole.
    void AbandonRefresh() { m_job.reset(); }
    // Lets go of the shell's link objects the session made, as a thread of their apartment must before it ends;
    // the next import or read makes new ones on the thread that then works. Abandons an import under way.
    void ReleaseLinkObjects();

    bool Refreshing() const { return m_job != nullptr; }
    // True when the last refresh ran to its end and left nothing that the next must try again though nothing
    // changed (an entry that could not be imported, an edit that could not be carried).
    bool Settled() const { return !m_job && !m_retry; }
    size_t ImportDone() const { return m_job ? m_job->Done() : 0; }
    size_t ImportTotal() const { return m_job ? m_job->Total() : 0; }

    // Another process worked on the store since this session last did: a store link that differs from this
    // session's bases may be that process's import rather than an edit. The bases that process saved are taken
    // in; an edit of a store link that neither has written back yet keeps the base that tells it (both kept the
    // base it was made against), and a base that only this session holds stays. The next refresh reads whole.
    void TakeInOthersWork();

    // A front end changed the entry `name` of `code`'s place itself (and keeps that in the history): the next import
    // does not take that change for another program's.
    void ExpectChange(int code, const std::wstring& name);

    // Writes the bases into the store's file when they changed. False when it could not be written.
    bool SaveBases() { return m_mirror.Save(); }

    // Carries the edits of store links into the system, without an import (the window closing). Raises for the
    // first edit that could not be carried, except one that needs rights the program lacks.
    void WriteBack(ProgressControl* progress);

    const std::vector<Entry>& Entries() const { return m_entries; }
    // While an import is under way: the entries as the system has them and the store so far (an entry whose store
    // link is not written yet has no target from it); else the entries. For a list that would otherwise stand empty
    // until a long import has ended.
    std::vector<Entry> EntriesSoFar();

    // The entries the last imports could not copy into the store that were not reported before (each entry is
    // reported once in a run).
    std::vector<ImportProblem> TakeNewProblems();

    // Edits of store links that the write-backs could not carry, each told once for each state of its link.
    std::vector<EditNotCarried> TakeEditsNotCarried();

    // Entries whose store link and system side both changed since the last import, each told once: until the
    // user settles one, neither side is written over the other.
    std::vector<BothChanged> TakeBothChanged();

    // Settles an entry changed on both sides as the user chose (SettleBothChanged); the next refresh runs whole
    // and mirrors the system as it then is.
    void Settle(const BothChanged& entry, bool useEdit);
    // The edits of store links that the last refreshes could not carry into the system, each named once in a run.
    std::vector<WriteBackFailure> TakeWriteBackFailures();

    // Copies what the session keeps between refreshes anew (the reads of the system and the store, the bases), for
    // TPackedHeap::Repack; not the entries, which a front end that packs lets go of first, nor the link objects,
    // which it lets go of (ReleaseLinkObjects): the next refresh makes new ones. Not while an import is under way,
    // which points into what it keeps.
    void Repack();
    // Lets go of the entries: Entries() stands empty until the next refresh, which then imports and lists whatever
    // it finds, even when nothing changed. For a front end that keeps what it needs of them itself between refreshes.
    void LetGoOfEntries();

private:
    struct Program {
        std::wstring path;
        bool exists = false;
    };
    void FinishRefresh();
    void RecordOutsideChanges(const TImportJob& job);
    void TakeReport(const WriteBackReport& report);
    void AddBothChanged(const BothChanged& entry);
    void BuildEntries(const TImportJob& job);
    std::vector<Entry> EntriesOf(const TImportJob& job, std::map<std::wstring, Program>& used);
    const Program& ProgramOf(const std::wstring& commandLine, std::map<std::wstring, Program>& used);

    TSystemReader m_system;
    TStoreReader m_store;
    TMirror m_mirror;
    std::unique_ptr<TImportJob> m_job;
    std::unique_ptr<TShellLink> m_maker; // lent to every import of the run
    std::unique_ptr<TShellLink> m_reader;
    std::vector<Entry> m_entries;
    bool m_hasEntries = false;
    bool m_retry = false;           // the last import left something to try again even when nothing changes
    bool m_writeBackFailed = false; // the last write-back left an edit in the store
    std::map<std::wstring, MirrorBase> m_pendingEdits; // the bases of those edits, by store link path
    bool m_leftoversRemoved = false;
    std::map<std::wstring, Program> m_programs; // by command line
    std::set<std::wstring> m_reported;
    std::vector<ImportProblem> m_newProblems;
    bool m_mirrorLoaded = false;
    std::set<std::wstring> m_toldEdits;
    std::vector<EditNotCarried> m_newEdits;
    std::set<std::wstring> m_toldBoth;
    std::vector<BothChanged> m_newBoth;
    std::set<std::wstring> m_recordedBoth; // the system sides of those kept in the history
    std::vector<WriteBackFailure> m_newWriteBackFailures;
    std::set<std::wstring> m_expected; // entries changed through the door since the last import, by folded key
    HistoryActor m_actor;
};

} // namespace bw
