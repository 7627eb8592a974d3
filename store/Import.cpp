#include "store/Import.h"

#include "platform/Errors.h"
#include "platform/Process.h"
#include "platform/ShellLink.h"
#include "resources/Texts.h"
#include "store/CommandLine.h"
#include "store/Locations.h"
#include "store/StartupApproved.h"

#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace bw {

namespace {

// A leftover temporary file older than this is no longer being written by anyone.
constexpr ULONGLONG kLeftoverAge = 10ULL * 60 * 10'000'000ULL; // ten minutes, in 100-nanosecond units

constexpr DWORD kNotPlain = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// A store link that the import may keep as it is: a plain file, as the import itself writes them.
bool IsPlain(const FileStamp& stamp) {
    return (stamp.attributes & (kNotPlain | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

bool EmptyDirectoryExcept(const std::wstring& folder, const std::set<std::wstring>& keep, bool& removed,
                          std::vector<std::wstring>* removedLinks = nullptr) {
    if (!DirectoryExists(folder)) {
        return false;
    }
    bool allDeleted = true;
    ForEachMatch(JoinPath(folder, L"*"), [&](const WIN32_FIND_DATAW& found) {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            return;
        }
        // A dot-name that is no store link (".keep", a folder of the user's) stays; ".hidden.lnk" is an entry's.
        if (name[0] == L'.' && !HasLinkExtension(name)) {
            return;
        }
        const std::wstring path = JoinPath(folder, name);
        const DWORD attributes = found.dwFileAttributes;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A junction or a link to a folder may lead out of the store: what lies there is not ours.
            if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                allDeleted = EmptyDirectoryExcept(path, {}, removed) && allDeleted;
            }
            return;
        }
        if (keep.count(FoldedName(name)) != 0) {
            return;
        }
        const bool gone = RemoveName(path); // a link goes itself, never what it points at
        removed = removed || gone;
        if (gone && removedLinks != nullptr && HasLinkExtension(name)) {
            removedLinks->push_back(path);
        }
        allDeleted = gone && allDeleted;
    });
    return allDeleted;
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

// True when a Startup shortcut holds something else than its store link and than what that link was mirrored
// from: it was changed since, and so was the link. A shortcut that cannot be read now tells nothing.
bool ShortcutChangedBesides(const std::wstring& shortcutPath, const std::string& linkBytes, const MirrorBase& base) {
    const auto held = ReadWholeFile(shortcutPath, kLinkFileLimit);
    return held && *held != linkBytes && BytesDigest(*held) != base.linkDigest;
}

std::wstring ShortcutTargetOf(const std::wstring& shortcutPath) {
    TShellLink link;
    return link.Load(shortcutPath) ? link.Path() : std::wstring();
}

std::wstring EntryNameOfShortcut(const std::wstring& fileName) {
    return fileName.substr(0, fileName.size() - std::wcslen(kLinkExtension));
}

} // namespace

namespace {

// The target a link keeps of `target`: the target itself, or, where the link object cannot keep it as given
// (Wine's takes an environment reference for part of a relative path, and keeps only characters of the ANSI
// code page), its expansion; else none.
std::wstring SetLinkTarget(TShellLink& link, const std::wstring& target) {
    if (!target.empty()) {
        if (link.SetPath(target) && link.RawPath() == target) {
            return target;
        }
        const std::wstring expanded = ExpandedText(target);
        if (expanded != target && link.SetPath(expanded) && link.RawPath() == expanded) {
            return expanded;
        }
    }
    (void)link.SetPath(L"");
    return {};
}

} // namespace

std::string RegistryStoreLinkBytes(TShellLink& link, const RegistryValue& value) {
    const std::wstring commandLine = value.Text();
    const ValueRecord valueRecord = RecordOfValue(value);
    std::wstring target;
    std::wstring arguments;
    // A cut line's program may be whole, but its arguments are not: such a link starts nothing.
    if (!valueRecord.cut) {
        if (const auto parts = SplitCommandLine(commandLine)) {
            target = LinkTargetOf(*parts, value.type);
            arguments = parts->arguments;
        }
    }
    (void)link.SetDescription(DescriptionFor(commandLine));
    target = SetLinkTarget(link, target);
    if (!target.empty()) {
        // The target must come back from the file as it was set (Wine's link object keeps it in the ANSI code
        // page only); one that comes back otherwise would read as an edit of the target and be written into the
        // value. Such a link keeps no target, as a line that cannot be split.
        TShellLink saved;
        if (!saved.LoadBytes(link.SaveBytes()) || saved.RawPath() != target) {
            (void)link.SetPath(L"");
            target.clear();
        }
    }
    (void)link.SetArguments(target.empty() ? std::wstring() : arguments);
    (void)link.SetIconLocation(target, 0);
    LinkRecord record;
    record.value = valueRecord;
    const auto stored = StoredNameOf(value.name);
    record.nameEncoded = stored && *stored != value.name;
    record.description = TextDigest(link.Description());
    record.target = TextDigest(link.RawPath());
    record.arguments = TextDigest(link.Arguments());
    link.SetDataBlock(kRecordBlockSignature, RecordBlockData(record));
    return link.SaveBytes();
}

RegistryLinkReading ReadRegistryLink(const StoreLink& link) {
    RegistryLinkReading reading;
    reading.commandLine = link.description;
    const auto record = link.recordBlock ? RecordOfBlock(*link.recordBlock) : std::nullopt;
    if (!record || !IsRecordOfRunValue(record->value, link.description)) {
        reading.record = RecordOfLink(link.description, link.arguments);
        return reading;
    }
    reading.recorded = true;
    reading.record = record->value;
    const bool descriptionEdited = TextDigest(link.description) != record->description;
    const bool targetEdited = TextDigest(link.rawTarget) != record->target;
    if (!targetEdited && TextDigest(link.arguments) == record->arguments) {
        reading.edit = descriptionEdited ? LinkEdit::Description : LinkEdit::None;
        return reading;
    }
    // The target or the arguments were changed: they make the command line, which keeps the program as the
    // line spelt it (quotes, references, a bare name) while the target is the one written.
    const auto before = descriptionEdited ? std::nullopt : SplitCommandLine(link.description);
    CommandParts parts;
    parts.program = !targetEdited && before ? before->program : link.rawTarget;
    parts.arguments = link.arguments;
    parts.quoted = NeedsQuotes(parts.program) || (!targetEdited && before && before->quoted);
    if (parts.program.empty()) {
        reading.edit = LinkEdit::NoProgram;
        return reading;
    }
    const std::wstring joined = JoinCommandLine(parts);
    if (descriptionEdited && joined != link.description) {
        reading.edit = LinkEdit::Disagreeing;
        return reading;
    }
    reading.commandLine = joined;
    reading.edit = LinkEdit::Fields;
    return reading;
}

bool LinkAsMirrored(const StoreLink& link, const MirrorBase& base) {
    if (base.linkSettled && link.settled && link.stamp == base.link) {
        return true;
    }
    // A stamp taken within a step of the clock of its change may stay the same through a second change.
    return link.readWhole &&
           (base.value ? StoreLinkMirrors(link, *base.value) : BytesDigest(link.bytes) == base.linkDigest);
}

bool StoreLinkMirrors(const StoreLink& link, const RegistryValue& value) {
    if (!link.readWhole) {
        return false;
    }
    const RegistryLinkReading reading = ReadRegistryLink(link);
    if (!reading.recorded) {
        return false; // written before records were kept in a block: the import writes it anew
    }
    const auto stored = StoredNameOf(value.name);
    const auto record = RecordOfBlock(*link.recordBlock);
    return reading.edit == LinkEdit::None && record && record->nameEncoded == (stored && *stored != value.name) &&
           link.description == DescriptionFor(value.Text()) && reading.record == RecordOfValue(value);
}

bool StoreLinkSays(const StoreLink& link, const RegistryValue& value) {
    if (!link.readWhole) {
        return false;
    }
    const RegistryLinkReading reading = ReadRegistryLink(link);
    return reading.edit != LinkEdit::Disagreeing && reading.edit != LinkEdit::NoProgram &&
           reading.commandLine == DescriptionFor(value.Text()) && reading.record == RecordOfValue(value);
}

// Makes the store links of many Run values, in order, on a thread of its own with its own link object, while the
// import's loop writes those made before. Setting a link's target looks the program up in the file system, the
// most of a link's cost: the window's thread is spared it, and a second processor shares the work. A link it could
// not make is left to the loop, which makes it itself and meets the failure where it always did.
class TImportJob::TLinksAhead {
public:
    explicit TLinksAhead(std::vector<RegistryValue> values)
        : m_values(std::move(values)), m_links(m_values.size()), m_thread([this] { Run(); }) {}
    ~TLinksAhead() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_thread.join(); // after the link under way, at most
    }
    TLinksAhead(const TLinksAhead&) = delete;
    TLinksAhead& operator=(const TLinksAhead&) = delete;

    // The bytes of value `ordinal`'s link, once made, waiting up to `waitMs` (INFINITE: as long as it takes); false
    // when it was not made in that time. `bytes` is left empty for a link the loop must make itself.
    bool Take(size_t ordinal, DWORD waitMs, std::optional<std::string>& bytes) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto made = [&] { return m_made > ordinal; };
        if (waitMs == INFINITE) {
            m_madeOne.wait(lock, made);
        } else if (!m_madeOne.wait_for(lock, std::chrono::milliseconds(waitMs), made)) {
            return false;
        }
        bytes = std::move(m_links[ordinal]);
        return true;
    }

private:
    void Run() {
        // Its own apartment: the link object belongs to the thread that made it.
        const HRESULT initialized = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        try {
            TShellLink maker;
            for (size_t i = 0; i < m_values.size(); ++i) {
                std::optional<std::string> bytes;
                try {
                    bytes = RegistryStoreLinkBytes(maker, m_values[i]);
                } catch (...) {
                    // left to the loop
                }
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_links[i] = std::move(bytes);
                m_made = i + 1;
                m_madeOne.notify_all();
                if (m_stop) {
                    break;
                }
            }
        } catch (...) {
            // No link object on this thread: the loop makes every link itself.
        }
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_made = m_values.size();
            m_madeOne.notify_all();
        }
        if (SUCCEEDED(initialized)) {
            ::CoUninitialize();
        }
    }

    const std::vector<RegistryValue> m_values;
    std::vector<std::optional<std::string>> m_links;
    size_t m_made = 0;
    bool m_stop = false;
    std::mutex m_mutex;
    std::condition_variable m_madeOne;
    std::thread m_thread; // last: it starts once everything it uses is there
};

namespace {

// Below this many Run values to mirror, an import makes their links itself: a thread would cost more than it saves.
constexpr size_t kLinksAheadFrom = 16;

} // namespace

TImportJob::TImportJob(const SystemRead& system, const TStoreReader& store, TMirror& mirror, bool removeLeftovers)
    : m_store(store), m_mirror(mirror), m_removeLeftovers(removeLeftovers) {
    for (int code : AllCodes()) {
        if (IsEnabledCode(code)) {
            m_kept[code]; // every enabled folder is emptied of what does not mirror an entry
        }
    }
    for (const RunKeyRead& key : system.keys) {
        if (key.opened) {
            PlanRunKey(key, system);
        } else if (key.refused) {
            m_kept.erase(key.code); // a key the user may not read says nothing of its entries: the mirrors stay
        }
    }
    PlanStartupFolder(system);
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

void TImportJob::PlanRunKey(const RunKeyRead& key, const SystemRead&) {
    for (const RegistryValue& value : key.values) {
        if (!value.IsText() && !value.data.empty()) {
            continue; // Windows starts no value of another type either
        }
        SystemEntry entry;
        entry.code = key.code;
        entry.name = value.name;
        entry.value = value;
        const std::wstring fileName = PlaceInStore(entry);
        if (fileName.empty()) {
            m_entries.push_back(std::move(entry));
            continue;
        }
        const StoreLink* link = m_store.Find(entry.storeLinkPath);
        const MirrorBase* base = m_mirror.Find(entry.storeLinkPath);
        if (link && link->fileName == fileName && IsPlain(link->stamp) && StoreLinkMirrors(*link, value)) {
            m_mirror.Set(entry.storeLinkPath, {link->stamp, link->settled, value, {}, 0});
            entry.mirrored = true;
        } else if (link && base && base->value == value && !LinkAsMirrored(*link, *base)) {
            // Only the store link changed since the last import: an edit that the write-back carries into the
            // system. It is left as it is.
        } else if (link && base && base->value && !LinkAsMirrored(*link, *base)) {
            // Both changed: the value stays, and so does the edit, until the user has chosen between them.
            entry.bothChanged = true;
            m_conflicts.push_back(
                {entry.code, entry.name, entry.storeLinkPath, value.Text(), ReadRegistryLink(*link).commandLine});
        } else {
            m_work.push_back(m_entries.size());
        }
        m_entries.push_back(std::move(entry));
    }
}

void TImportJob::PlanStartupFolder(const SystemRead& system) {
    if (!system.startupDirKnown) {
        return; // a folder that merely stands in for the Startup folder holds no entries of it
    }
    const int code = kStartUpCode;
    for (const StartupFile& file : system.startupFiles) {
        SystemEntry entry;
        entry.code = code;
        entry.name = EntryNameOfShortcut(file.fileName);
        entry.shortcutPath = JoinPath(system.startupDir, file.fileName);
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
        const MirrorBase* base = m_mirror.Find(entry.storeLinkPath);
        const bool shortcutAsBefore = base && file.settled && file.stamp == base->shortcut;
        const bool linkAsBefore = link && base && link->readWhole && LinkAsMirrored(*link, *base);
        if (shortcutAsBefore && linkAsBefore && link->fileName == fileName) {
            entry.mirrored = true; // neither side changed since both were compared
        } else if (link && shortcutAsBefore && !linkAsBefore) {
            // An edit of the store link, for the write-back to carry into the Startup folder.
        } else if (link && base && link->readWhole && !linkAsBefore &&
                   ShortcutChangedBesides(entry.shortcutPath, link->bytes, *base)) {
            // Both changed: the shortcut stays, and so does the edit, until the user has chosen.
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
    if (!std::exchange(m_aheadWeighed, true)) {
        std::vector<RegistryValue> values;
        for (const size_t index : m_work) {
            if (m_entries[index].value) {
                values.push_back(*m_entries[index].value);
            }
        }
        if (values.size() >= kLinksAheadFrom) {
            m_ahead = std::make_unique<TLinksAhead>(std::move(values));
        }
    }
    const ULONGLONG start = ::GetTickCount64();
    while (m_next < m_work.size()) {
        const size_t index = m_work[m_next];
        SystemEntry& entry = m_entries[index];
        if (entry.value) {
            std::optional<std::string> bytes;
            if (m_ahead) {
                // A link not made yet within the budget: the window answers meanwhile, and the next part goes on.
                const ULONGLONG spent = ::GetTickCount64() - start;
                if (budgetMs != 0 && spent >= budgetMs) {
                    return false;
                }
                if (!m_ahead->Take(m_aheadNext, budgetMs == 0 ? INFINITE : static_cast<DWORD>(budgetMs - spent),
                                   bytes)) {
                    return false;
                }
                ++m_aheadNext;
            }
            MirrorRunValue(entry, std::move(bytes));
        } else {
            MirrorShortcut(entry, m_shortcuts.at(index));
        }
        ++m_next;
        if (budgetMs != 0 && ::GetTickCount64() - start >= budgetMs) {
            return false;
        }
    }
    m_ahead.reset();
    EmptyEnabledFolders();
    m_finished = true;
    return true;
}

void TImportJob::MirrorRunValue(SystemEntry& entry, std::optional<std::string> bytes) {
    const StoreLink* existing = m_store.Find(entry.storeLinkPath);
    if (!bytes) {
        bytes = RegistryStoreLinkBytes(*m_maker, *entry.value);
    }
    if (WriteStoreLink(entry, *bytes, existing)) {
        m_mirror.Set(entry.storeLinkPath, {m_written.back().stamp, false, entry.value, {}, 0});
    }
}

void TImportJob::MirrorShortcut(SystemEntry& entry, const StartupFile& file) {
    const StoreLink* existing = m_store.Find(entry.storeLinkPath);
    // A shortcut that cannot be taken is never written to, and its last good mirror stays until a new one is
    // written; but that mirror no longer counts as one, so nothing is written back from it.
    if (IsLink(entry.shortcutPath)) {
        entry.problem = EntryProblem::ShortcutIsLink;
        m_mirror.Erase(entry.storeLinkPath);
        return;
    }
    const auto bytes = ReadWholeFile(entry.shortcutPath, kLinkFileLimit);
    if (!bytes || !m_reader->LoadBytes(*bytes)) {
        entry.problem = EntryProblem::ShortcutUnreadable;
        m_mirror.Erase(entry.storeLinkPath);
        return;
    }
    // A shortcut listed within its clock's step of a change may change again under the same stamp; its stamp
    // is then not kept as the base, so that the next import compares the bytes once more.
    const FileStamp shortcutBase = file.settled ? file.stamp : FileStamp{};
    const std::wstring fileName = FileNamePart(entry.storeLinkPath);
    if (existing && existing->readWhole && existing->bytes == *bytes && existing->fileName == fileName &&
        IsPlain(existing->stamp)) {
        m_mirror.Set(entry.storeLinkPath,
                     {existing->stamp, existing->settled, std::nullopt, shortcutBase, BytesDigest(*bytes)});
        entry.mirrored = true;
        return;
    }
    // The mirror is the shortcut's very bytes: nothing of it is lost or changed on the way.
    if (WriteStoreLink(entry, *bytes, existing)) {
        m_mirror.Set(entry.storeLinkPath,
                     {m_written.back().stamp, false, std::nullopt, shortcutBase, BytesDigest(*bytes)});
    }
}

bool TImportJob::WriteStoreLink(SystemEntry& entry, const std::string& bytes, const StoreLink* existing) {
    try {
        if (existing && existing->fileName != FileNamePart(entry.storeLinkPath)) {
            // The entry's name changed case: the link takes the new spelling.
            if (!RemoveName(existing->path)) {
                throw EFCreateError(FormatMessageText(text::kCannotCreateFile, entry.storeLinkPath));
            }
            m_removed.push_back(existing->path);
            existing = nullptr;
            m_wrote = true;
        } else if (existing && (existing->stamp.attributes & kNotPlain) && !IsLink(existing->path)) {
            ::SetFileAttributesW(existing->path.c_str(), FILE_ATTRIBUTE_ARCHIVE); // the store's own link
        }
        WriteFileReplacing(entry.storeLinkPath, bytes, false); // a mirror: the next import makes it again
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
        m_wrote = true;
        m_removed.push_back(existing->path);
    }
    m_problems.push_back({entry.code, entry.name, StoreFolder(entry.code)});
}

void TImportJob::EmptyEnabledFolders() {
    for (const auto& [code, keep] : m_kept) {
        // A folder that held only the links kept here needs no second search.
        bool needed = m_store.HoldsOthers(code);
        for (const auto& link : m_store.Links()) {
            needed = needed || (link->code == code && keep.count(FoldedName(link->fileName)) == 0);
        }
        if (needed) {
            bool removed = false;
            (void)EmptyDirectoryExcept(StoreFolderPath(code), keep, removed, &m_removed); // what cannot go stays
            m_wrote = m_wrote || removed;
        }
    }
    if (!m_removeLeftovers) {
        return;
    }
    for (int code : AllCodes()) {
        if (!IsEnabledCode(code)) {
            RemoveLeftovers(StoreFolderPath(code));
        }
    }
    if (IsStartupDirKnown()) {
        RemoveLeftovers(StartupDir());
    }
    // The file of bases and the settings are replaced through temporary files beside the store folders.
    RemoveLeftovers(ProgramDir());
}

} // namespace bw
