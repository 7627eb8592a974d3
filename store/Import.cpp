#include "store/Import.h"

#include "platform/Errors.h"
#include "platform/Process.h"
#include "platform/ShellLink.h"
#include "resources/Texts.h"
#include "store/CommandLine.h"
#include "store/Locations.h"
#include "store/StartupApproved.h"
#include "store/StoreDoor.h"

#include <algorithm>
#include <utility>

namespace bw {

namespace {
void NoImportPoint(const wchar_t*) {}
} // namespace

namespace seam {
TSeam<void(const wchar_t*)> ImportPoint(&NoImportPoint);
} // namespace seam

namespace {

// A leftover temporary file older than this is no longer being written by anyone.
constexpr ULONGLONG kLeftoverAge = 10ULL * 60 * 10'000'000ULL; // ten minutes, in 100-nanosecond units

// The most bytes of Startup shortcuts an import keeps from their intents to their writes.
constexpr size_t kKeptShortcutBytes = 64u << 20;

constexpr DWORD kNotPlain = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// A store link that the import may keep as it is: a plain file, as the import itself writes them.
bool IsPlain(const FileStamp& stamp) {
    return (stamp.attributes & (kNotPlain | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

// Removes the temporary files that a stopped run may have left in `folder`.
void RemoveLeftovers(const std::wstring& folder) {
    const FILETIME now = SystemTimeNow();
    ForEachMatch(JoinPath(folder, L"~bw*.tmp"), [&](const WIN32_FIND_DATAW& found) {
        // Every temporary file the program writes names its writer; one that does not is someone else's, however
        // old it is.
        const DWORD writer = TemporaryFileWriter(found.cFileName);
        if (writer == 0 || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return; // not one of ours
        }
        // Once its writer has ended, nobody finishes the file, however young it is. (An id taken again by a new
        // process keeps it until it is old.)
        const bool writerEnded = writer != ::GetCurrentProcessId() && ProcessHasEnded(writer);
        if (writerEnded || !IsWithinClockStep(found.ftLastWriteTime, now, kLeftoverAge)) {
            (void)RemoveName(JoinPath(folder, found.cFileName)); // one that stays is tried again next time
        }
    });
}

// Writes a store link, which is a mirror: the next import makes it again, so it is not flushed. A link that
// replaces another is written beside it and put in place in one step. Where the store held no link of that name,
// the new one is written straight under its name (a temporary file, its attributes and a rename fewer, for each of
// the thousands a first start writes): a kill or a power cut during its write leaves it cut short, and the intent
// saved before (MirrorBase::overwriting) has the next import write it again. Should a file have come there since
// the store was read, it is replaced as any other.
void WriteMirror(const std::wstring& path, const std::string& bytes, bool newLink) {
    if (newLink) {
        try {
            WriteNewFile(path, bytes);
            return;
        } catch (const EFCreateError& error) {
            if (error.SystemError() != ERROR_ALREADY_EXISTS && error.SystemError() != ERROR_FILE_EXISTS) {
                throw;
            }
        }
    }
    WriteFileReplacing(path, bytes, false);
}

std::wstring ShortcutTargetOf(const std::wstring& shortcutPath) {
    TShellLink link;
    return link.Load(shortcutPath) ? link.Path() : std::wstring();
}

std::wstring EntryNameOfShortcut(const std::wstring& fileName) {
    return fileName.substr(0, fileName.size() - std::wcslen(kLinkExtension));
}

} // namespace

TImportJob::TImportJob(const SystemRead& system, const TStoreReader& store, TMirror& mirror, bool removeLeftovers)
    : m_store(store), m_mirror(mirror), m_removeLeftovers(removeLeftovers) {
    for (int code : AllCodes()) {
        if (IsEnabledCode(code)) {
            m_kept[code]; // every enabled folder loses the store links that mirror no entry any more
        }
    }
    for (const RunKeyRead& key : system.keys) {
        if (key.opened) {
            PlanRunKey(key, system);
        } else if (key.refused) {
            m_kept.erase(key.code); // a key the user may not read says nothing of its entries: the mirrors stay
        }
    }
    for (const StartupFolderRead& folder : system.folders) {
        if (folder.refused) {
            m_kept.erase(folder.code); // the mirrors stay, as for a key the user may not read
        }
        PlanStartupFolder(folder);
    }
    for (SystemEntry& entry : m_entries) {
        const auto off = system.switchedOff.find(entry.code);
        entry.switchedOffInWindows = off != system.switchedOff.end() &&
                                     off->second.count(FoldedName(ApprovalValueName(entry.code, entry.name))) != 0;
    }
}

TImportJob::~TImportJob() = default;

void TImportJob::UseLinks(TShellLink& maker, TShellLink& reader) {
    m_maker = &maker;
    m_reader = &reader;
}

std::wstring TImportJob::PlaceInStore(SystemEntry& entry) {
    const auto stored = StoredNameOf(entry.name);
    if (!stored) {
        entry.problem = EntryProblem::NameNotStorable;
        return {};
    }
    const std::wstring fileName = *stored + kLinkExtension;
    if (!StorePathFits(StoreFolderPath(entry.code) + fileName)) {
        entry.problem = EntryProblem::StorePathTooLong; // said on its row, rather than failing at every copy
        return {};
    }
    if (!m_kept[entry.code].insert(FoldedName(fileName)).second) {
        // A folder that tells names apart by case (Wine's, or one marked so on Windows) can hold Foo.lnk and
        // FOO.lnk; the store, which does not, would keep both in one link, and an edit of one would replace the
        // other. The first keeps the link; the second is listed, and says why it cannot be switched off.
        entry.problem = EntryProblem::NameTakenInOtherCase;
        return {};
    }
    entry.storeLinkPath = StoreFolderPath(entry.code) + fileName;
    return fileName;
}

namespace {

// A store link that the store's records do not name is never written over nor removed: its entry says why.
bool LeftAsItIs(SystemEntry& entry, const StoreLink* link) {
    if (link != nullptr && link->onlineOnly) {
        // Unread: neither compared nor written over. Its entry is listed as the system has it.
        entry.problem = EntryProblem::StoreLinkOnlineOnly;
        return true;
    }
    if (link == nullptr || link->standing == LinkStanding::Known) {
        return false;
    }
    entry.problem =
        link->standing == LinkStanding::Renamed ? EntryProblem::StoreLinkRenamed : EntryProblem::StoreLinkUnknown;
    return true;
}

} // namespace

void TImportJob::PlanRunKey(const RunKeyRead& key, const SystemRead&) {
    for (const RegistryValue& value : key.values) {
        if (!value.IsText() && !value.data.empty()) {
            continue; // Windows starts no value of another type either
        }
        SystemEntry entry;
        entry.code = key.code;
        entry.name = value.name;
        entry.value = value;
        if (IsReadOnlyCode(key.code)) {
            // Listed as it is, with the reason why it is never changed here; nothing of it goes into the store.
            entry.problem = ReadOnlyProblemOf(key.code, value.name);
            m_entries.push_back(std::move(entry));
            continue;
        }
        const std::wstring fileName = PlaceInStore(entry);
        if (fileName.empty()) {
            m_entries.push_back(std::move(entry));
            continue;
        }
        const StoreLink* link = m_store.Find(entry.storeLinkPath);
        if (LeftAsItIs(entry, link)) {
            m_entries.push_back(std::move(entry));
            continue;
        }
        const MirrorBase* base = m_mirror.Find(entry.storeLinkPath);
        const EntryChange change = ClassifyRunValue(link, base, value);
        if (change == EntryChange::Unchanged && link->fileName == fileName && IsPlain(link->stamp)) {
            // A link of the import's own writing keeps its mark (MirrorBase::overwriting).
            const std::optional<std::uint64_t> written =
                base && base->overwriting == LinkBytesDigest(*link) ? base->overwriting : std::nullopt;
            m_mirror.Set(entry.storeLinkPath, {link->stamp, link->settled, value, {}, 0, written});
            entry.mirrored = true;
        } else if (change == EntryChange::EditedInStore) {
            // An edit that the write-back carries into the system. It is left as it is.
        } else if (change == EntryChange::ChangedOnBoth) {
            // The value stays, and so does the edit, until the user has chosen between them.
            entry.bothChanged = true;
            m_conflicts.push_back(
                {entry.code, entry.name, entry.storeLinkPath, value.Text(), ReadRegistryLink(*link).commandLine});
        } else {
            m_work.push_back(m_entries.size());
        }
        m_entries.push_back(std::move(entry));
    }
}

void TImportJob::PlanStartupFolder(const StartupFolderRead& folder) {
    if (!folder.known) {
        return; // a folder that merely stands in for the Startup folder holds no entries of it
    }
    for (const StartupFile& file : folder.files) {
        SystemEntry entry;
        entry.code = folder.code;
        entry.name = EntryNameOfShortcut(file.fileName);
        entry.shortcutPath = JoinPath(folder.dir, file.fileName);
        if (!IsSafeEntryName(entry.name)) {
            // Windows opens a device for such a name (COM1.lnk): the file is never opened, not even to read it.
            entry.problem = EntryProblem::ShortcutIsDevice;
            m_entries.push_back(std::move(entry));
            continue;
        }
        const std::wstring fileName = PlaceInStore(entry);
        if (fileName.empty()) {
            m_entries.push_back(std::move(entry));
            continue;
        }
        const StoreLink* link = m_store.Find(entry.storeLinkPath);
        if (LeftAsItIs(entry, link)) {
            m_entries.push_back(std::move(entry));
            continue;
        }
        const MirrorBase* base = m_mirror.Find(entry.storeLinkPath);
        const bool stampAsBase = base && file.settled && file.stamp == base->shortcut;
        const std::optional<std::string> held = stampAsBase || !link || !base || !link->readWhole
                                                    ? std::nullopt
                                                    : ReadWholeFile(entry.shortcutPath, kLinkFileLimit);
        const EntryChange change = ClassifyShortcut(link, base, held, stampAsBase);
        if (change == EntryChange::Unchanged && stampAsBase && link->fileName == fileName) {
            entry.mirrored = true; // neither side changed since both were compared
        } else if (change == EntryChange::EditedInStore) {
            // An edit of the store link, for the write-back to carry into the Startup folder.
        } else if (change == EntryChange::ChangedOnBoth) {
            // The shortcut stays, and so does the edit, until the user has chosen.
            entry.bothChanged = true;
            m_conflicts.push_back(
                {entry.code, entry.name, entry.storeLinkPath, ShortcutTargetOf(entry.shortcutPath), link->linkTarget});
        } else {
            m_shortcuts[m_entries.size()] = file;
            m_work.push_back(m_entries.size());
        }
        m_entries.push_back(std::move(entry));
    }
}

bool TImportJob::Step(DWORD budgetMs) {
    if (m_finished) {
        return true;
    }
    if (m_maker == nullptr) {
        m_ownMaker = std::make_unique<TShellLink>();
        m_ownReader = std::make_unique<TShellLink>();
        UseLinks(*m_ownMaker, *m_ownReader);
    }
    if (!std::exchange(m_intended, true)) {
        // First, before any link is written: an import stopped on its way (the window closed) has still cleaned up.
        if (m_removeLeftovers) {
            RemoveLeftoverFiles();
        }
        SaveIntents();
    }
    const ULONGLONG start = ::GetTickCount64();
    while (m_next < m_work.size()) {
        const size_t index = m_work[m_next];
        SystemEntry& entry = m_entries[index];
        if (entry.value) {
            MirrorRunValue(entry);
        } else {
            const auto read = m_shortcutBytes.find(index);
            std::optional<std::string> bytes;
            if (read != m_shortcutBytes.end()) {
                bytes = std::move(read->second);
                m_shortcutBytes.erase(read);
            }
            MirrorShortcut(entry, m_shortcuts.at(index), std::move(bytes));
        }
        ++m_next;
        seam::ImportPoint(kLinkWritten);
        if (budgetMs != 0 && ::GetTickCount64() - start >= budgetMs) {
            return false;
        }
    }
    EmptyEnabledFolders();
    m_finished = true;
    return true;
}

void TImportJob::SaveIntents() {
    // Before any store link is written anew, the bases say what each will mirror and what it held until now, and
    // are saved: a kill at any instant after leaves bases that describe the link, whichever of the two it holds.
    bool intended = false;
    size_t kept = 0;
    const TFolderResolutions resolutions; // the Startup folder's shortcuts are read one after another
    for (size_t index : m_work) {
        SystemEntry& entry = m_entries[index];
        const StoreLink* existing = m_store.Find(entry.storeLinkPath);
        const std::uint64_t before = existing && existing->readWhole ? LinkBytesDigest(*existing) : 0;
        // The mark of an import's own write (MirrorBase::overwriting) is kept while the link holds those bytes: the
        // intent saved here replaces the base that bore it.
        const MirrorBase* last = m_mirror.Find(entry.storeLinkPath);
        entry.linkOwnWrite = before != 0 && last && last->overwriting == before;
        const FileStamp linkStamp = existing ? existing->stamp : FileStamp{};
        if (entry.value) {
            m_mirror.Set(entry.storeLinkPath, {linkStamp, false, entry.value, {}, 0, before});
            StoreRecords().Set(entry.storeLinkPath, {StoredRecord::Intended, {}});
            intended = true;
            continue;
        }
        StoreRecords().Set(entry.storeLinkPath, {StoredRecord::Shortcut, {}});
        const StartupFile& file = m_shortcuts.at(index);
        auto bytes = ReadWholeFile(entry.shortcutPath, kLinkFileLimit);
        if (bytes) {
            m_mirror.Set(entry.storeLinkPath, {linkStamp, false, std::nullopt, file.settled ? file.stamp : FileStamp{},
                                               BytesDigest(*bytes), before});
            intended = true;
            // Kept for the write, up to a bound: past it (shortcuts of megabytes) the write reads its file again.
            if (kept + bytes->size() <= kKeptShortcutBytes) {
                kept += bytes->size();
                m_shortcutBytes.emplace(index, std::move(*bytes));
            }
        }
    }
    if (intended) {
        // The records name every link about to be written before it is, so that none is found unknown after a kill.
        (void)StoreRecords().Save();
        (void)m_mirror.Save(); // a store whose file cannot be written now keeps the bases as they were
        seam::ImportPoint(kIntentsSaved);
    }
}

void TImportJob::MirrorRunValue(SystemEntry& entry) {
    const StoreLink* existing = m_store.Find(entry.storeLinkPath);
    if (WriteStoreLink(entry, RegistryStoreLinkBytes(*m_maker, *entry.value, m_reader, &m_targets), existing)) {
        // Marked as the import's own write (MirrorBase::overwriting): it was not flushed.
        const StoreLink& written = m_written.back();
        m_mirror.Set(entry.storeLinkPath, {written.stamp, false, entry.value, {}, 0, LinkBytesDigest(written)});
    }
}

void TImportJob::MirrorShortcut(SystemEntry& entry, const StartupFile& file, std::optional<std::string> bytes) {
    const StoreLink* existing = m_store.Find(entry.storeLinkPath);
    // A shortcut that cannot be taken is never written to, and its last good mirror stays until a new one is
    // written; but that mirror no longer counts as one, so nothing is written back from it. Bytes kept from the
    // intent were read from the shortcut itself (ReadWholeFile reads through no link), so they are not asked
    // about again: the mirror is of them, and what has come to the shortcut's name since is the next import's.
    if (!bytes) {
        if (IsLink(entry.shortcutPath)) {
            entry.problem = EntryProblem::ShortcutIsLink;
            m_mirror.Erase(entry.storeLinkPath);
            return;
        }
        bytes = ReadWholeFile(entry.shortcutPath, kLinkFileLimit);
    }
    if (!bytes || !m_reader->LoadBytes(*bytes)) {
        entry.problem = EntryProblem::ShortcutUnreadable;
        m_mirror.Erase(entry.storeLinkPath);
        return;
    }
    // A shortcut listed within its clock's step of a change may change again under the same stamp; its stamp
    // is then not kept as the base, so that the next import compares the bytes once more.
    const FileStamp shortcutBase = file.settled ? file.stamp : FileStamp{};
    const std::wstring fileName = FileNamePart(entry.storeLinkPath);
    if (existing && existing->readWhole && LinkHeldBytes(*existing, *bytes) && existing->fileName == fileName &&
        IsPlain(existing->stamp)) {
        const std::uint64_t digest = BytesDigest(*bytes);
        m_mirror.Set(entry.storeLinkPath, {existing->stamp, existing->settled, std::nullopt, shortcutBase, digest,
                                           entry.linkOwnWrite ? std::optional<std::uint64_t>(digest) : std::nullopt});
        entry.mirrored = true;
        return;
    }
    // The mirror is the shortcut's very bytes: nothing of it is lost or changed on the way.
    if (WriteStoreLink(entry, *bytes, existing)) {
        const std::uint64_t digest = BytesDigest(*bytes);
        m_mirror.Set(entry.storeLinkPath, {m_written.back().stamp, false, std::nullopt, shortcutBase, digest, digest});
    }
}

bool TImportJob::WriteStoreLink(SystemEntry& entry, const std::string& bytes, const StoreLink* existing) {
    try {
        if (existing && existing->fileName != FileNamePart(entry.storeLinkPath)) {
            // The entry's name changed case: the link takes the new spelling.
            if (!RemoveName(existing->path)) {
                throw EFCreateError(FormatMessageText(text::kCannotCreateFile, entry.storeLinkPath));
            }
            StoreRecords().Erase(existing->path);
            m_removed.push_back(existing->path);
            existing = nullptr;
            m_wrote = true;
        } else if (existing && (existing->stamp.attributes & kNotPlain) && !IsLink(existing->path)) {
            ::SetFileAttributesW(existing->path.c_str(), FILE_ATTRIBUTE_ARCHIVE); // the store's own link
        }
        WriteMirror(entry.storeLinkPath, bytes, existing == nullptr);
        if (const auto record = RecordOfWrittenLink(entry.code, bytes)) {
            StoreRecords().Set(entry.storeLinkPath, *record); // saved with the bases, at the end of the import
        }
        m_wrote = true;
        entry.mirrored = true;
        StoreLink written;
        written.code = entry.code;
        written.path = entry.storeLinkPath;
        written.fileName = FileNamePart(entry.storeLinkPath);
        written.name = entry.name; // as the system names it, whatever the link's own record would say
        written.stamp = StampAt(entry.storeLinkPath).value_or(FileStamp{});
        written.bytes = bytes;
        ParseStoreLink(*m_reader, written);
        TakeStoreRecord(written);
        m_written.push_back(std::move(written));
        return true;
    } catch (const EBootwarden&) {
        Fail(entry, existing);
        return false;
    }
}

void TImportJob::Fail(SystemEntry& entry, const StoreLink* existing) {
    // The old link no longer mirrors the entry; it goes, or at least stops counting as its mirror.
    m_mirror.Erase(entry.storeLinkPath);
    if (existing && RemoveName(existing->path)) {
        StoreRecords().Erase(existing->path);
        m_wrote = true;
        m_removed.push_back(existing->path);
    }
    m_problems.push_back({entry.code, entry.name, StoreFolder(entry.code)});
}

void TImportJob::EmptyEnabledFolders() {
    for (const auto& [code, keep] : m_kept) {
        // Only a store link is the store's to remove: any other file of the folder, or a folder in it, stays.
        for (const auto& link : m_store.Links()) {
            if (link->code != code || keep.count(FoldedName(link->fileName)) != 0 ||
                link->standing != LinkStanding::Known || link->onlineOnly) {
                continue; // kept, or not the store's: a link its records do not name stays as it is
            }
            if (RemoveName(link->path)) { // a link goes itself, never what it points at; one that stays is tried again
                StoreRecords().Erase(link->path);
                m_removed.push_back(link->path);
                m_mirror.Erase(link->path);
                m_wrote = true;
            }
        }
    }
}

void TImportJob::RemoveLeftoverFiles() {
    // A link written for a switch or an import that was stopped leaves its temporary file in the folder it wrote,
    // enabled or not; only ours whose writer has ended go.
    for (int code : AllCodes()) {
        if (!IsReadOnlyCode(code)) {
            RemoveLeftovers(StoreFolderPath(code));
        }
    }
    for (int code : AllCodes()) {
        if (IsEnabledCode(code) && IsFolderCode(code) && IsStartupDirKnownOf(code)) {
            RemoveLeftovers(StartupDirOf(code));
        }
    }
    // The file of bases and the settings are replaced through temporary files in the data folder (beside the store
    // folders, for a store made before it was).
    RemoveLeftovers(StoreDataFolder());
    RemoveLeftovers(ProgramDir());
}

} // namespace bw
