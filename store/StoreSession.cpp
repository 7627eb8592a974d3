#include "store/StoreSession.h"

#include "resources/Texts.h"
#include "platform/Errors.h"
#include "platform/ShellLink.h"
#include "store/History.h"
#include "store/Locations.h"

#include <algorithm>
#include <functional>
#include <map>
#include <utility>

namespace bw {

TStoreSession::TStoreSession(HistoryActor actor) : m_actor(actor) {}
TStoreSession::~TStoreSession() = default;

bool TStoreSession::BeginRefresh(bool writeBack, ProgressControl* progress, bool readSystem, bool readStore) {
    m_job.reset();
    // Until an import has run to its end, the next refresh runs whole, whatever it finds: a read or a write-back
    // that failed here has taken in the changes it saw without acting on them.
    const bool retry = std::exchange(m_retry, true);
    if (!std::exchange(m_mirrorLoaded, true)) {
        m_mirror.Load(); // what the last run mirrored: an edit made since is told from an outside change
    }
    const bool whole = retry || !m_hasEntries;
    const bool systemChanged = (readSystem || whole) && m_system.Read();
    const bool storeChanged = (readStore || whole) && m_store.Read(AllCodes());
    if (m_hasEntries && !systemChanged && !storeChanged && !retry) {
        m_retry = false;
        return false;
    }
    WriteBackReport report;
    std::vector<WriteBackFailure> failures;
    const bool wrote =
        writeBack && !IsStoreReadOnly() && WriteBackEntries(m_store, m_mirror, progress, &report, &failures);
    TakeReport(report);
    if (wrote) {
        (void)m_system.Read(); // the write-back changed the system: the import mirrors it as it now is
        (void)m_mirror.Save();
    }
    // An edit that cannot be carried stays in the store (the import leaves it), is named once in the run, and is
    // tried again by the next refresh, though nothing changed.
    m_writeBackFailed = !failures.empty();
    m_pendingEdits.clear();
    for (const WriteBackFailure& failure : failures) {
        if (const MirrorBase* base = m_mirror.Find(failure.storeLinkPath)) {
            m_pendingEdits.emplace(failure.storeLinkPath, *base);
        }
    }
    for (WriteBackFailure& failure : failures) {
        if (m_reported.insert(L"w|" + std::to_wstring(failure.code) + L"|" + failure.name + L"|" + failure.message)
                .second) {
            m_newWriteBackFailures.push_back(std::move(failure));
        }
    }
    m_job = std::make_unique<TImportJob>(m_system.Last(), m_store, m_mirror, !std::exchange(m_leftoversRemoved, true));
    if (!m_maker) {
        m_maker = std::make_unique<TShellLink>();
        m_reader = std::make_unique<TShellLink>();
    }
    m_job->UseLinks(*m_maker, *m_reader);
    return true;
}

bool TStoreSession::ContinueRefresh(DWORD budgetMs) {
    if (!m_job) {
        return true;
    }
    // A store that cannot be written is listed as the import found it, and nothing is written into it.
    if (!IsStoreReadOnly() && !m_job->Step(budgetMs)) {
        return false;
    }
    FinishRefresh();
    return true;
}

bool TStoreSession::Refresh(bool writeBack, ProgressControl* progress) {
    if (!BeginRefresh(writeBack, progress)) {
        return false;
    }
    (void)ContinueRefresh(0);
    return true;
}

void TStoreSession::WriteBack(ProgressControl* progress) {
    if (IsStoreReadOnly()) {
        return;
    }
    (void)m_store.Read(AllCodes());
    WriteBackReport report;
    std::vector<WriteBackFailure> failures;
    (void)WriteBackEntries(m_store, m_mirror, progress, &report, &failures);
    TakeReport(report);
    (void)m_mirror.Save(); // what cannot be saved now leaves the bases as the last import saved them
    for (const WriteBackFailure& failure : failures) {
        // An edit that needs rights the program lacks was named at the refresh; it stays in the store, and
        // keeping the window open would not give the rights.
        if (!failure.needsRights) {
            throw EBootwarden(FormatMessageText(text::kWriteBackFailed, {failure.name, failure.message}));
        }
    }
}

void TStoreSession::TakeInOthersWork() {
    if (m_mirrorLoaded) {
        m_mirror.TakeIn();
    }
    m_retry = true;
}

std::vector<ImportProblem> TStoreSession::TakeNewProblems() {
    return std::exchange(m_newProblems, {});
}

std::vector<EditNotCarried> TStoreSession::TakeEditsNotCarried() {
    return std::exchange(m_newEdits, {});
}

std::vector<BothChanged> TStoreSession::TakeBothChanged() {
    return std::exchange(m_newBoth, {});
}

void TStoreSession::Settle(const BothChanged& entry, bool useEdit) {
    // The other program's change was kept when it was found; the import that mirrors the outcome adds nothing.
    ExpectChange(entry.code, entry.name);
    if (const auto start = SettleBothChanged(entry, useEdit, m_mirror)) {
        RecordHistory({{HistoryTimeNow(), HistoryChange::Changed, m_actor, entry.code, entry.name, *start}});
    }
    (void)m_mirror.Save();
    m_toldBoth.erase(std::to_wstring(entry.code) + L"|" + FoldedName(entry.name) + L"|" + entry.systemSide + L"|" +
                     entry.storeSide);
    m_retry = true; // nothing that a read sees may have changed, yet the entry is to be mirrored afresh
}

void TStoreSession::TakeReport(const WriteBackReport& report) {
    // An edit of a store link written into the system is the front end's change, kept in the history as its own.
    std::vector<HistoryLine> carried;
    for (const EditCarried& edit : report.carried) {
        ExpectChange(edit.code, edit.name);
        carried.push_back({HistoryTimeNow(), HistoryChange::Changed, m_actor, edit.code, edit.name, edit.start});
    }
    RecordHistory(carried);
    for (const EditNotCarried& edit : report.notCarried) {
        const StoreLink* link = m_store.Find(edit.storeLinkPath);
        // Once for each content of the link: an edit made again is told again.
        const std::wstring key =
            FoldedName(edit.storeLinkPath) + L"|" + (link ? std::to_wstring(LinkBytesDigest(*link)) : L"");
        if (m_toldEdits.insert(key).second) {
            m_newEdits.push_back(edit);
        }
    }
    for (const BothChanged& entry : report.bothChanged) {
        AddBothChanged(entry);
    }
}

void TStoreSession::AddBothChanged(const BothChanged& entry) {
    const std::wstring key =
        std::to_wstring(entry.code) + L"|" + FoldedName(entry.name) + L"|" + entry.systemSide + L"|" + entry.storeSide;
    if (m_toldBoth.insert(key).second) {
        m_newBoth.push_back(entry);
    }
    // The system's side is another program's change, kept once for each line it wrote, though the store's edit
    // keeps it from being mirrored until the person settles the entry.
    if (m_recordedBoth.insert(std::to_wstring(entry.code) + L"|" + FoldedName(entry.name) + L"|" + entry.systemSide)
            .second) {
        RecordHistory({{HistoryTimeNow(), HistoryChange::Changed, HistoryActor::Outside, entry.code, entry.name,
                        entry.systemSide}});
    }
}

std::vector<WriteBackFailure> TStoreSession::TakeWriteBackFailures() {
    return std::exchange(m_newWriteBackFailures, {});
}

void TStoreSession::ExpectChange(int code, const std::wstring& name) {
    m_expected.insert(std::to_wstring(code) + L"|" + FoldedName(name));
}

void TStoreSession::RecordOutsideChanges(const TImportJob& job) {
    const std::set<std::wstring> expected = std::exchange(m_expected, {});
    // The first import into a store that has no history yet and mirrors nothing of the system takes in what was
    // there all along: nobody changed it. Entries kept switched off (a store carried over from elsewhere) are no
    // mirror of it. The history then starts, empty, and every later import tells what it finds, also the first
    // entry of a system that had none.
    const bool mirrorsNothing = std::none_of(m_store.Links().begin(), m_store.Links().end(),
                                             [](const auto& link) { return IsEnabledCode(link->code); });
    if (mirrorsNothing && !HistoryStarted()) {
        StartHistory();
        return;
    }
    if (!job.Wrote()) {
        return;
    }
    const auto keyOf = [](int code, const std::wstring& name) {
        return std::to_wstring(code) + L"|" + FoldedName(name);
    };
    const auto startOf = [](const StoreLink& link) {
        return IsRegistryCode(link.code) ? ReadRegistryLink(link).commandLine
                                         : StartOf(link.linkTarget, link.arguments);
    };
    std::set<std::wstring> inSystem;
    for (const SystemEntry& entry : job.Entries()) {
        inSystem.insert(keyOf(entry.code, entry.name));
    }
    // The store still holds the links as they were before this import: each written one is told from its old self.
    const std::uint64_t now = HistoryTimeNow();
    std::vector<HistoryLine> lines;
    for (const StoreLink& link : job.Written()) {
        if (expected.count(keyOf(link.code, link.name)) != 0) {
            continue; // a front end's own change, kept in the history as its own
        }
        const StoreLink* before = m_store.Find(link.path);
        const std::wstring start = startOf(link);
        if (before == nullptr) {
            lines.push_back({now, HistoryChange::Added, HistoryActor::Outside, link.code, link.name, start});
        } else if (before->readWhole && startOf(*before) != start) {
            lines.push_back({now, HistoryChange::Changed, HistoryActor::Outside, link.code, link.name, start});
        }
    }
    for (const std::wstring& path : job.Removed()) {
        const StoreLink* before = m_store.Find(path);
        // A link removed for an entry that is still there (renamed in case, or not copied) is no change of it.
        if (before == nullptr || inSystem.count(keyOf(before->code, before->name)) != 0 ||
            expected.count(keyOf(before->code, before->name)) != 0) {
            continue;
        }
        lines.push_back(
            {now, HistoryChange::Removed, HistoryActor::Outside, before->code, before->name, startOf(*before)});
    }
    // What a front end of another process did through the door and left for this import to mirror is its own.
    if (!lines.empty()) {
        const TDoorsOwn doorsOwn;
        lines.erase(std::remove_if(lines.begin(), lines.end(), std::cref(doorsOwn)), lines.end());
    }
    RecordHistory(lines);
}

void TStoreSession::FinishRefresh() {
    const std::unique_ptr<TImportJob> job = std::move(m_job);
    RecordOutsideChanges(*job);
    if (job->Wrote()) {
        // What the import wrote and removed is known: the store need not be read again for it.
        for (const std::wstring& path : job->Removed()) {
            m_store.ForgetLink(path);
        }
        for (const StoreLink& link : job->Written()) {
            m_store.Remember(link);
        }
        m_store.TakeChanges(AllCodes());
    }
    BuildEntries(*job);
    for (const BothChanged& entry : job->Conflicts()) {
        AddBothChanged(entry);
    }
    m_retry = !job->Problems().empty() || m_writeBackFailed;
    // An edit that could not be written keeps its base, so that the next write-back still tells it from the
    // system's side, even where the import could not read the entry now (a shortcut held open); unless the
    // import wrote the store link anew.
    for (const auto& [path, base] : std::exchange(m_pendingEdits, {})) {
        const bool rewritten = std::any_of(job->Written().begin(), job->Written().end(),
                                           [&](const StoreLink& link) { return SameFileName(link.path, path); });
        if (!rewritten && m_mirror.Find(path) == nullptr) {
            m_mirror.Set(path, base);
        }
    }
    // A base whose entry is gone from both sides (no store link, nothing in the system) is dropped, so that the
    // file of bases holds no more than the store and the system do.
    std::set<std::wstring> present;
    for (const SystemEntry& entry : job->Entries()) {
        if (!entry.storeLinkPath.empty()) {
            present.insert(FoldedName(entry.storeLinkPath));
        }
    }
    for (const auto& link : m_store.Links()) {
        present.insert(FoldedName(link->path));
    }
    m_mirror.KeepOnly(present);
    (void)m_mirror.Save(); // tried again at the next change when it cannot be written now
    // Likewise the records: one whose link is gone from the store goes, unless a renamed link still tells by it
    // where it came from.
    std::set<std::wstring> links;
    for (const auto& link : m_store.Links()) {
        links.insert(FoldedName(link->path));
        if (link->standing == LinkStanding::Renamed) {
            links.insert(FoldedName(link->writtenAs));
        }
    }
    StoreRecords().KeepOnly(links);
    (void)StoreRecords().Save();
    for (const ImportProblem& problem : job->Problems()) {
        if (m_reported.insert(std::to_wstring(problem.code) + L"|" + FoldedName(problem.name)).second) {
            m_newProblems.push_back(problem);
        }
    }
    for (const SystemEntry& entry : job->Entries()) {
        // A shortcut that could not be read may be readable next time without any stamp moving.
        m_retry = m_retry || entry.problem == EntryProblem::ShortcutUnreadable;
    }
}

const TStoreSession::Program& TStoreSession::ProgramOf(const std::wstring& commandLine,
                                                       std::map<std::wstring, Program>& used) {
    auto known = used.find(commandLine);
    if (known != used.end()) {
        return known->second;
    }
    auto before = m_programs.find(commandLine);
    if (before != m_programs.end()) {
        return used.emplace(commandLine, before->second).first->second;
    }
    Program program;
    program.path = ProgramPathOf(commandLine);
    program.exists = !program.path.empty() && FileExists(program.path);
    return used.emplace(commandLine, std::move(program)).first->second;
}

std::vector<Entry> TStoreSession::EntriesSoFar() {
    if (!m_job) {
        return m_entries;
    }
    std::map<std::wstring, Program> used;
    std::vector<Entry> entries = EntriesOf(*m_job, used);
    m_programs.insert(used.begin(), used.end()); // looked up once: the import's end finds them known
    return entries;
}

void TStoreSession::BuildEntries(const TImportJob& job) {
    std::map<std::wstring, Program> used;
    std::vector<Entry> entries = EntriesOf(job, used);
    m_programs = std::move(used);
    m_entries = std::move(entries);
    m_hasEntries = true;
}

std::vector<Entry> TStoreSession::EntriesOf(const TImportJob& job, std::map<std::wstring, Program>& used) {
    std::vector<Entry> entries;
    const auto fillFromLink = [&](Entry& entry, const StoreLink& link) {
        entry.description = link.description;
        entry.readWhole = link.readWhole;
        if (IsRegistryCode(entry.code)) {
            // A switched-off entry is what its link stands for, as the fields the user changed say.
            const RegistryLinkReading reading = ReadRegistryLink(link);
            entry.description = reading.commandLine;
            entry.record = reading.record;
            const Program& program = ProgramOf(reading.commandLine, used);
            entry.target = program.exists ? program.path : std::wstring();
            entry.iconSource = program.path;
        } else {
            entry.target = link.linkTarget;
            entry.arguments = link.arguments;
            // The icon the shortcut names for itself, as the shell shows it; else its program's first.
            entry.iconSource = link.iconLocation.empty() ? link.linkTarget : link.iconLocation;
            entry.iconIndex = link.iconLocation.empty() ? 0 : link.iconIndex;
        }
    };
    for (int code : ListedCodes()) {
        // The owner's places, where this run cannot reach them, are listed from their store links: the switched-on
        // entries as the last import mirrored them, each saying why it is not changed here.
        const bool unreachable = IsUnreachablePlace(code);
        if (!IsEnabledCode(code) || unreachable) {
            for (const auto& shared : m_store.Links()) {
                const StoreLink& link = *shared;
                if (link.code == code) {
                    Entry entry;
                    entry.name = link.name;
                    entry.code = code;
                    entry.storeLinkPath = link.path;
                    if (link.onlineOnly) {
                        entry.problem = EntryProblem::StoreLinkOnlineOnly;
                    } else if (link.standing != LinkStanding::Known) {
                        entry.problem = link.standing == LinkStanding::Renamed ? EntryProblem::StoreLinkRenamed
                                                                               : EntryProblem::StoreLinkUnknown;
                    } else if (unreachable) {
                        entry.problem = EntryProblem::OwnersPlaceNotReached;
                    }
                    fillFromLink(entry, link);
                    entries.push_back(std::move(entry));
                }
            }
            continue;
        }
        std::vector<const SystemEntry*> found;
        for (const SystemEntry& entry : job.Entries()) {
            if (entry.code == code) {
                found.push_back(&entry);
            }
        }
        std::sort(found.begin(), found.end(), [](const SystemEntry* a, const SystemEntry* b) {
            const std::wstring first = FoldedName(a->name);
            const std::wstring second = FoldedName(b->name);
            return first != second ? first < second : a->name < b->name;
        });
        for (const SystemEntry* found_ : found) {
            const SystemEntry& system = *found_;
            Entry entry;
            entry.name = system.name;
            entry.code = code;
            entry.storeLinkPath = system.storeLinkPath;
            entry.problem = system.problem;
            entry.switchedOffInWindows = system.switchedOffInWindows;
            if (system.value) {
                // What starts is the value itself, whatever became of its store link.
                const std::wstring commandLine = system.value->Text();
                entry.description = commandLine;
                entry.record = RecordOfValue(*system.value);
                entry.readWhole = system.mirrored;
                const Program& program = ProgramOf(commandLine, used);
                entry.target = program.exists ? program.path : std::wstring();
                entry.iconSource = program.path;
            } else if (const StoreLink* link = m_store.Find(system.storeLinkPath);
                       link && system.problem == EntryProblem::None) {
                fillFromLink(entry, *link);
                entry.readWhole = system.mirrored;
            }
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

void TStoreSession::ReleaseLinkObjects() {
    m_job.reset(); // it borrows the session's objects
    m_maker.reset();
    m_reader.reset();
    m_store.ReleaseLinkObjects();
}

void TStoreSession::LetGoOfEntries() {
    std::vector<Entry>().swap(m_entries);
    m_hasEntries = false;
}

} // namespace bw
