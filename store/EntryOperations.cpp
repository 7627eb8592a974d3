#include "store/EntryOperations.h"

#include "platform/Errors.h"
#include "platform/FileCopy.h"
#include "platform/Registry.h"
#include "platform/ShellLink.h"
#include "resources/Texts.h"
#include "store/ErrorText.h"
#include "store/History.h"
#include "store/Import.h"
#include "store/Locations.h"
#include "store/StartupApproved.h"
#include "store/StoreReader.h"

#include <functional>
#include <optional>
#include <string>

namespace bw {

namespace {

// Opens the Run key of a registry code's location for reading; false when it does not open.
bool OpenRunKey(TRegistry& registry, int code) {
    registry.SelectRoot(RegistryRoot(code));
    return registry.OpenExistingKey(KeyPathOf(code), RegistryView(code));
}

// Opens the Run key of a registry code's location for a change of the entry `name`; false when the key is
// missing, which every caller takes as "nothing to do on the registry side". A key that is there but that the
// user may not change (HKLM's, without administrator rights) raises ERightsMissing: callers open it before they
// change anything anywhere, so nothing has changed then.
bool OpenRunKeyToChange(TRegistry& registry, int code, const std::wstring& name) {
    RequireChangeablePlace(code, name);
    RequireReachablePlace(code, name);
    registry.SelectRoot(RegistryRoot(code));
    if (registry.OpenExistingKey(KeyPathOf(code), RegistryView(code), KeyAccess::Write)) {
        return true;
    }
    if (registry.Refused()) {
        throw ERightsMissing(FormatMessageText(text::kNeedsAdministrator, name));
    }
    return false;
}

[[noreturn]] void Refuse(const wchar_t* message, std::initializer_list<std::wstring> arguments) {
    throw EEntryRefused(FormatMessageText(message, arguments));
}

// A store link of the folder of `code` read afresh, whole, and taken as a shell link, with what the store's records
// say of it; nothing when it cannot be read.
std::optional<StoreLink> ReadStoreLink(const std::wstring& path, int code) {
    const auto bytes = ReadWholeFile(path, kLinkFileLimit);
    if (!bytes) {
        return std::nullopt;
    }
    StoreLink link;
    link.code = code;
    link.path = path;
    link.bytes = *bytes;
    TShellLink loader;
    if (!ParseStoreLink(loader, link)) {
        return std::nullopt;
    }
    TakeStoreRecord(link);
    return link;
}

// Writes a store link that the program makes into a store folder: its record is saved first, so that no instant
// leaves a link of ours that the records do not name. Returns the record that stood there before, for PutBack.
std::optional<StoredRecord> WriteRecordedLink(const std::wstring& path, int code, const std::string& bytes,
                                              bool newFile);

// Removes a store link of ours and its record. True when nothing stands at `path` afterwards.
bool RemoveRecordedLink(const std::wstring& path) {
    if (!RemoveName(path)) {
        return false;
    }
    StoreRecords().Erase(path);
    (void)StoreRecords().Save(); // a record of a link that is gone is dropped at the next save in any case
    return true;
}

// What stood at a path of a store folder before the program wrote there: the bytes and their record.
struct Before {
    std::optional<std::string> bytes;
    std::optional<StoredRecord> record;
};

// The disabled folder may already keep an entry of the same name. One that says the same may be replaced; any
// other would be lost, and one the store's records do not name is not the store's to replace, so the toggle is
// refused. Returns what stood there, to put back on failure.
Before ClaimDisabledSlot(const std::wstring& path, int code, const std::wstring& name,
                         const std::function<bool(const StoreLink&)>& sameEntry) {
    if (!PathExists(path)) {
        return {};
    }
    RequireLinkHere(path, name);
    const auto there = ReadStoreLink(path, code);
    if (there) {
        RequireRecordedLink(*there, name);
    }
    if (!there || !sameEntry(*there)) {
        Refuse(text::kDisabledTwinExists, {name});
    }
    return {there->bytes, StoreRecords().Find(path)};
}

std::optional<StoredRecord> WriteRecordedLink(const std::wstring& path, int code, const std::string& bytes,
                                              bool newFile) {
    std::optional<StoredRecord> before = StoreRecords().Find(path);
    const auto record = RecordOfWrittenLink(code, bytes);
    if (record) {
        StoreRecords().Set(path, *record);
        (void)StoreRecords().Save(); // one that cannot be saved now is saved at the end of the unit of work
    }
    try {
        if (newFile) {
            TReplacement file(path);
            DWORD written = 0;
            if (!::WriteFile(file.File(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                written != bytes.size()) {
                throw EWriteError(FormatMessageText(text::kCannotCreateFile, path));
            }
            file.Commit(false);
        } else {
            WriteFileReplacing(path, bytes);
        }
    } catch (...) {
        if (before) {
            StoreRecords().Set(path, *before);
        } else {
            StoreRecords().Erase(path);
        }
        throw;
    }
    return before;
}

// Puts back what stood at a path outside the store before, or removes what was written there. True when that
// worked.
bool PutBackFile(const std::wstring& path, const std::optional<std::string>& before) {
    if (!before) {
        return RemoveName(path);
    }
    try {
        WriteFileReplacing(path, *before);
        return true;
    } catch (const EBootwarden&) {
        return false;
    }
}

// Puts back what stood at `path` before (its record too), or removes what was written there. True when that
// worked.
bool PutBack(const std::wstring& path, const Before& before) {
    if (!before.bytes) {
        return RemoveRecordedLink(path);
    }
    try {
        WriteFileReplacing(path, *before.bytes);
        if (before.record) {
            StoreRecords().Set(path, *before.record);
        } else {
            StoreRecords().Erase(path);
        }
        (void)StoreRecords().Save();
        return true;
    } catch (const EBootwarden&) {
        return false;
    }
}

void DisableRunValue(const Entry& entry, bool replaceKept) {
    TRegistry registry;
    if (!OpenRunKeyToChange(registry, entry.code, entry.name)) {
        return; // nothing moves; the refresh shows the entry as it still is
    }
    const auto value = registry.Value(entry.name);
    if (!value || (!value->IsText() && !value->data.empty())) {
        return; // gone meanwhile, or nothing that starts: there is nothing to switch off
    }
    if (RecordOfValue(*value).cut) {
        // Once the value is deleted, the store link would be the only record of a command line it cut.
        Refuse(RecordOfValue(value->type, value->Text()).cut ? text::kCannotDisableCut : text::kCannotDisableHidden,
               {entry.name});
    }
    const int disabledCode = DisabledCodeOf(entry.code);
    const std::wstring disabled = StoreLinkPath(disabledCode, entry.name);
    const Before before = ClaimDisabledSlot(disabled, disabledCode, entry.name, [&](const StoreLink& there) {
        return replaceKept || StoreLinkSays(there, *value);
    });
    TShellLink link;
    (void)WriteRecordedLink(disabled, disabledCode, RegistryStoreLinkBytes(link, *value), false);
    // Another program (an updater) may have written the value since it was read: deleting it now would lose
    // what it wrote, which the store link does not hold.
    if (!(registry.Value(entry.name) == value)) {
        (void)PutBack(disabled, before);
        Refuse(text::kChangedWhileSwitchingOff, {entry.name});
    }
    if (!registry.RemoveValue(entry.name) && registry.HasValue(entry.name)) {
        (void)PutBack(disabled, before);
        Refuse(text::kValueStays, {entry.name});
    }
}

void DisableShortcut(const Entry& entry, bool replaceKept) {
    RequireRightsToChangeFolder(entry.code, entry.name);
    const std::wstring shortcut = StartupLinkPath(entry.code, entry.name);
    const int disabledCode = DisabledCodeOf(entry.code);
    const std::wstring disabled = StoreLinkPath(disabledCode, entry.name);
    std::string bytes;
    const bool inStartupFolder = PathExists(shortcut);
    if (inStartupFolder) {
        if (IsLink(shortcut)) {
            Refuse(text::kEntryNotAvailable, {entry.name, ProblemText(EntryProblem::ShortcutIsLink)});
        }
        const auto read = ReadWholeFile(shortcut, kLinkFileLimit);
        if (!read) {
            throw EFOpenError(FormatMessageText(text::kCannotOpenFile, shortcut));
        }
        TShellLink check;
        if (!check.LoadBytes(*read)) {
            Refuse(text::kNotAShortcut, {shortcut});
        }
        bytes = *read;
    } else {
        // The shortcut went already: what the store kept of it is what is switched off.
        const auto kept = entry.storeLinkPath.empty() ? std::nullopt : ReadStoreLink(entry.storeLinkPath, entry.code);
        if (!kept) {
            return;
        }
        bytes = kept->bytes;
    }
    const Before before = ClaimDisabledSlot(disabled, disabledCode, entry.name, [&](const StoreLink& there) {
        return replaceKept || there.bytes == bytes;
    });
    (void)WriteRecordedLink(disabled, disabledCode, bytes, false);
    if (inStartupFolder && ReadWholeFile(shortcut, kLinkFileLimit) != bytes) {
        (void)PutBack(disabled, before); // replaced meanwhile: what is there now is not what the store kept
        Refuse(text::kChangedWhileSwitchingOff, {entry.name});
    }
    if (inStartupFolder && !RemoveName(shortcut)) {
        (void)PutBack(disabled, before);
        Refuse(text::kShortcutStays, {shortcut});
    }
    if (!inStartupFolder) {
        (void)RemoveRecordedLink(entry.storeLinkPath); // the import removes it otherwise
    }
}

} // namespace

void RequireRightsToTakeOut(int code, const std::wstring& name) {
    if (IsRegistryCode(code)) {
        TRegistry registry;
        (void)OpenRunKeyToChange(registry, code, name);
    } else {
        RequireRightsToChangeFolder(code, name);
    }
}

bool RemoveReAddedTwin(const Entry& entry) {
    const int disabledCode = DisabledCodeOf(entry.code);
    const auto kept = ReadStoreLink(StoreLinkPath(disabledCode, entry.name), disabledCode);
    if (!kept || !kept->readWhole) {
        return false;
    }
    if (IsRegistryCode(entry.code)) {
        TRegistry registry;
        if (!OpenRunKeyToChange(registry, entry.code, entry.name)) {
            return false;
        }
        const auto value = registry.Value(entry.name);
        if (!value || !value->IsText() || !StoreLinkSays(*kept, *value)) {
            return false;
        }
        if (!registry.RemoveValue(entry.name) && registry.HasValue(entry.name)) {
            Refuse(text::kValueStays, {entry.name});
        }
        return true;
    }
    RequireRightsToChangeFolder(entry.code, entry.name);
    const std::wstring shortcut = StartupLinkPath(entry.code, entry.name);
    if (!PathExists(shortcut) || IsLink(shortcut)) {
        return false;
    }
    const auto bytes = ReadWholeFile(shortcut, kLinkFileLimit);
    TShellLink now;
    TShellLink before;
    if (!bytes || !now.LoadBytes(*bytes) || !before.LoadBytes(kept->bytes) || now.Path() != before.Path() ||
        now.Arguments() != before.Arguments()) {
        return false;
    }
    if (!RemoveName(shortcut)) {
        Refuse(text::kShortcutStays, {shortcut});
    }
    return true;
}

namespace {

bool EnableRunValue(const Entry& entry, const StoreLink& link) {
    const RegistryLinkReading reading = ReadRegistryLink(link);
    const ValueRecord record = reading.record;
    if (record.cut) {
        Refuse(text::kCannotEnableCut, {entry.name});
    }
    if (reading.edit == LinkEdit::Disagreeing || reading.edit == LinkEdit::NoProgram) {
        Refuse(text::kCannotEnableDisagreeing, {entry.name});
    }
    TRegistry registry;
    if (!OpenRunKeyToChange(registry, EnabledCodeOf(entry.code), entry.name)) {
        return false; // nothing moves; the refresh shows the entry as it still is
    }
    const auto before = registry.Value(entry.name);
    RegistryValue value{entry.name, record.type, {}};
    // A value of another type than text holds no command line: it comes back with the data it had (none, as only
    // such values are kept), never with a line made of the link's target and arguments.
    const std::wstring& commandLine = reading.commandLine;
    if (value.IsText()) {
        const auto* text = reinterpret_cast<const char*>(commandLine.c_str());
        value.data.assign(text, (commandLine.size() + 1) * sizeof(wchar_t));
    }
    registry.WriteValue(value);
    if (!RemoveRecordedLink(link.path)) {
        // Switched on and still kept as switched off would start it twice over once enabled again: the value
        // is put back as it was.
        bool undone = false;
        try {
            if (before) {
                registry.WriteValue(*before);
                undone = true;
            } else {
                undone = registry.RemoveValue(entry.name);
            }
        } catch (const EBootwarden&) {
        }
        Refuse(undone ? text::kEnableUndone : text::kEnableNotUndone, {link.path, entry.name});
    }
    return true;
}

void RequireKnownFolder(int code, const std::wstring& name) {
    if (!IsStartupDirKnownOf(code)) {
        Refuse(LocationOf(code) == Location::Common ? text::kCommonStartupFolderUnknown : text::kStartupFolderUnknown,
               {name});
    }
}

void EnableShortcut(const Entry& entry, const StoreLink& link, ProgressControl* progress) {
    RequireKnownFolder(entry.code, entry.name);
    const std::wstring shortcut = StartupLinkPath(entry.code, entry.name);
    std::optional<std::string> before;
    if (FileExists(shortcut) && !IsLink(shortcut)) {
        before = ReadWholeFile(shortcut, kLinkFileLimit);
    }
    CopyWithProgress(link.path, shortcut, progress);
    if (!RemoveRecordedLink(link.path)) {
        Refuse(PutBackFile(shortcut, before) ? text::kEnableUndone : text::kEnableNotUndone, {link.path, entry.name});
    }
}

// What stands in a switched-off entry's place in the system now, as far as a toggle must know it.
struct Occupant {
    bool there = false;         // something of that name starts from there
    bool same = false;          // and it is what the store link would put there
    bool readable = false;      // a command line, or a shortcut read whole that loads
    std::wstring text;          // its command line, or its shortcut's target and arguments
    std::string storeLinkBytes; // what keeps it in the store once it is switched off
};

std::wstring ShortcutText(const std::wstring& path, const std::wstring& arguments) {
    return arguments.empty() ? path : path + L" " + arguments;
}

Occupant OccupantOf(const Entry& entry, const StoreLink& link) {
    Occupant occupant;
    const int code = EnabledCodeOf(entry.code);
    if (IsRegistryCode(code)) {
        TRegistry registry;
        if (!OpenRunKey(registry, code)) {
            return occupant;
        }
        const auto value = registry.Value(entry.name);
        if (!value) {
            return occupant;
        }
        occupant.there = true;
        if (!value->IsText()) {
            return occupant; // no command line: never the same, and not kept as a switched-off link
        }
        occupant.text = value->Text();
        occupant.readable = true;
        const RegistryLinkReading reading = ReadRegistryLink(link);
        occupant.same = value->type == reading.record.type && occupant.text == reading.commandLine;
        if (!occupant.same && !RecordOfValue(*value).cut) {
            TShellLink maker;
            occupant.storeLinkBytes = RegistryStoreLinkBytes(maker, *value);
        }
        return occupant;
    }
    if (!IsStartupDirKnownOf(code)) {
        return occupant;
    }
    const std::wstring shortcut = StartupLinkPath(code, entry.name);
    if (!FileExists(shortcut)) {
        return occupant; // a folder of that name starts nothing; the copy into its place fails and says so
    }
    occupant.there = true;
    const auto bytes = IsLink(shortcut) ? std::nullopt : ReadWholeFile(shortcut, kLinkFileLimit);
    TShellLink loaded;
    if (!bytes || !loaded.LoadBytes(*bytes)) {
        return occupant; // nothing that is read whole and loads is ever put into the store
    }
    occupant.text = ShortcutText(loaded.Path(), loaded.Arguments());
    occupant.readable = true;
    occupant.same = *bytes == link.bytes || (loaded.Path() == link.linkTarget && loaded.Arguments() == link.arguments &&
                                             loaded.Description() == link.description);
    occupant.storeLinkBytes = *bytes;
    return occupant;
}

std::wstring SwitchedOffText(const Entry& entry, const StoreLink& link) {
    return IsRegistryCode(entry.code) ? ReadRegistryLink(link).commandLine
                                      : ShortcutText(link.linkTarget, link.arguments);
}

// A free path in the entry's disabled folder for the one that starts now, while the two change places.
std::wstring AsidePath(const Entry& entry) {
    for (unsigned n = 1;; ++n) {
        const std::wstring path = StoreLinkPath(entry.code, entry.name + L"(" + std::to_wstring(n) + L")");
        if (!PathExists(path)) {
            return path;
        }
    }
}

} // namespace

std::optional<StartingTwin> StartingTwinOf(const Entry& entry) {
    if (!IsValidCode(entry.code) || IsEnabledCode(entry.code)) {
        return std::nullopt;
    }
    const auto link = ReadStoreLink(entry.storeLinkPath, entry.code);
    if (!link || link->standing != LinkStanding::Known) {
        return std::nullopt; // enabling refuses it anyway
    }
    const Occupant occupant = OccupantOf(entry, *link);
    if (!occupant.there || occupant.same || !occupant.readable) {
        return std::nullopt; // nothing to exchange it with (switching on refuses what cannot be read)
    }
    return StartingTwin{occupant.text, SwitchedOffText(entry, *link)};
}

void AllowEntryToStart(const Entry& entry) {
    RequireChangeableStore(entry.name);
    RequireChangeablePlace(entry.code, entry.name);
    RequireReachablePlace(entry.code, entry.name);
    if (IsEnabledCode(entry.code)) {
        (void)AllowToStart(entry.code, entry.name);
    }
}

void DisableEntry(const Entry& entry, bool replaceKept) {
    if (!IsEnabledCode(entry.code)) {
        return;
    }
    RequireChangeableStore(entry.name);
    RequireChangeablePlace(entry.code, entry.name);
    RequireReachablePlace(entry.code, entry.name);
    if (entry.problem != EntryProblem::None) {
        Refuse(text::kEntryNotAvailable, {entry.name, ProblemText(entry.problem)});
    }
    if (IsRegistryCode(entry.code)) {
        DisableRunValue(entry, replaceKept);
    } else {
        DisableShortcut(entry, replaceKept);
    }
}

void EnableEntry(const Entry& entry, ProgressControl* progress, bool replaceStarting) {
    if (!IsValidCode(entry.code) || IsEnabledCode(entry.code)) {
        return;
    }
    RequireChangeableStore(entry.name);
    RequireLinkHere(entry.storeLinkPath, entry.name);
    RequireReachablePlace(entry.code, entry.name);
    // Read afresh: the link may have been edited since the list was made, and nothing is written into the
    // system that was not read whole.
    const auto link = ReadStoreLink(entry.storeLinkPath, entry.code);
    if (!link) {
        Refuse(text::kCannotEnableUnread, {entry.name});
    }
    RequireRecordedLink(*link, entry.name);
    // The flag is written last; whether it may be is known before anything is.
    CheckRightsToAllow(EnabledCodeOf(entry.code), entry.name);
    RequireRightsToChangeFolder(entry.code, entry.name);
    const Occupant occupant = OccupantOf(entry, *link);
    if (occupant.there && occupant.same) {
        // It starts already: only the switched-off copy goes.
        if (!RemoveRecordedLink(link->path)) {
            Refuse(text::kEnableNotRemoved, {link->path, entry.name});
        }
        (void)AllowToStart(EnabledCodeOf(entry.code), entry.name);
        return;
    }
    std::wstring aside;
    if (occupant.there && !occupant.readable) {
        Refuse(text::kEnableOccupied, {entry.name});
    }
    if (occupant.there) {
        if (!replaceStarting || occupant.storeLinkBytes.empty()) {
            Refuse(text::kEnableWouldReplace, {entry.name, occupant.text, SwitchedOffText(entry, *link)});
        }
        // What starts now is kept in the store before anything is written over it.
        aside = AsidePath(entry);
        (void)WriteRecordedLink(aside, entry.code, occupant.storeLinkBytes, true);
    }
    try {
        if (IsRegistryCode(entry.code)) {
            if (!EnableRunValue(entry, *link)) {
                if (!aside.empty()) {
                    (void)RemoveRecordedLink(aside);
                }
                return;
            }
        } else {
            EnableShortcut(entry, *link, progress);
        }
    } catch (...) {
        if (!aside.empty()) {
            (void)RemoveRecordedLink(aside); // the entry that starts is still there; its copy goes again
        }
        throw;
    }
    if (!aside.empty()) {
        if (!::MoveFileExW(aside.c_str(), link->path.c_str(), MOVEFILE_WRITE_THROUGH)) {
            // Both are kept: the one that started so far stays switched off under the free name.
            Refuse(text::kSwapKeptAside, {entry.name, aside});
        }
        StoreRecords().Move(aside, link->path);
        (void)StoreRecords().Save();
    }
    // Switched on here means it starts: a flag of Windows' own that would keep it from starting goes too.
    (void)AllowToStart(EnabledCodeOf(entry.code), entry.name);
}

namespace {

std::wstring ShortcutTarget(const std::wstring& path) {
    TShellLink link;
    return link.Load(path) ? link.Path() : std::wstring();
}

} // namespace

bool WriteBackEntries(const TStoreReader& store, TMirror& mirror, ProgressControl* progress, WriteBackReport* report,
                      std::vector<WriteBackFailure>* failures) {
    bool wrote = false;
    TRegistry registry;
    const auto notCarried = [&](const StoreLink& link, const wchar_t* reason) {
        if (report != nullptr) {
            report->notCarried.push_back({link.code, link.name, link.path, reason});
        }
    };
    for (const auto& shared : store.Links()) {
        const StoreLink& link = *shared;
        try {
            if (!IsEnabledCode(link.code) || IsUnreachablePlace(link.code)) {
                continue; // disabled entries have no place in the system to write to, nor has an owner's not reached
            }
            const MirrorBase* base = mirror.Find(link.path);
            if (base == nullptr || !link.readWhole) {
                continue; // not a confirmed mirror, or not read whole
            }
            if (link.standing != LinkStanding::Known) {
                notCarried(link, StandingText(link.standing)); // nothing is written from a link of unknown meaning
                continue;
            }
            if (LinkAsMirrored(link, *base)) {
                continue; // not changed on the store's side
            }
            if (IsRegistryCode(link.code)) {
                if (!base->value) {
                    continue;
                }
                const RegistryLinkReading reading = ReadRegistryLink(link);
                if (reading.edit == LinkEdit::Disagreeing || reading.edit == LinkEdit::NoProgram) {
                    notCarried(link,
                               reading.edit == LinkEdit::NoProgram ? text::kEditWithoutProgram : text::kEditsDisagree);
                    continue;
                }
                if (reading.commandLine == base->value->Text() && !RecordOfValue(*base->value).cut) {
                    continue; // the command line is as imported
                }
                if (reading.record.cut || RecordOfValue(*base->value).cut) {
                    notCarried(link, text::kEditOfCutLine); // only the start of the command line is known
                    continue;
                }
                // Opened afresh for every link: the one before may have left another root's key open.
                if (!OpenRunKeyToChange(registry, link.code, link.name)) {
                    continue;
                }
                const auto current = registry.Value(link.name);
                if (!current) {
                    continue; // a value that went is not made again
                }
                if (!current->IsText()) {
                    notCarried(link, text::kEditOfOtherType); // it holds no command line: never turned into text
                    continue;
                }
                if (reading.commandLine == current->Text()) {
                    continue; // the system says it already (a base left stale by a run that ended before saving it)
                }
                const EntryChange change = ClassifyRunValue(&link, base, current);
                if (change == EntryChange::ChangedOnBoth && report != nullptr) {
                    report->bothChanged.push_back(
                        {link.code, link.name, link.path, current->Text(), reading.commandLine});
                }
                if (change != EntryChange::EditedInStore) {
                    continue;
                }
                // Windows expands %NAME% references only in an expandable value, so the type is kept.
                registry.WriteText(link.name, reading.commandLine, current->type);
                mirror.Erase(link.path);
                wrote = true;
                if (report != nullptr) {
                    report->carried.push_back({link.code, link.name, reading.commandLine});
                }
            } else {
                if (!IsSafeEntryName(link.name) || !IsStartupDirKnownOf(link.code)) {
                    continue;
                }
                const std::wstring shortcut = StartupLinkPath(link.code, link.name);
                if (!FileExists(shortcut)) {
                    continue; // a shortcut that went is not made again
                }
                const auto now = ReadWholeFile(shortcut, kLinkFileLimit);
                if (now && *now == link.bytes) {
                    continue; // the shortcut holds the link already
                }
                const auto stamp = StampAt(shortcut);
                const bool stampAsBase = stamp && *stamp == base->shortcut && base->shortcut != FileStamp{};
                const EntryChange change = ClassifyShortcut(&link, base, now, stampAsBase);
                if (change == EntryChange::ChangedOnBoth) {
                    if (report != nullptr) {
                        report->bothChanged.push_back(
                            {link.code, link.name, link.path, ShortcutTarget(shortcut), link.linkTarget});
                    }
                    continue;
                }
                // A shortcut that cannot be read now is copied onto all the same: the copy then fails and says so.
                if (change != EntryChange::EditedInStore && change != EntryChange::SystemUnreadable) {
                    continue;
                }
                RequireRightsToChangeFolder(link.code, link.name);
                CopyWithProgress(link.path, shortcut, progress);
                mirror.Erase(link.path);
                wrote = true;
                if (report != nullptr) {
                    report->carried.push_back({link.code, link.name, StartOf(link.linkTarget, link.arguments)});
                }
            }
        } catch (const EBootwarden& error) {
            // One entry that cannot be written keeps its edit in the store; the others are written all the same.
            if (failures == nullptr) {
                throw;
            }
            failures->push_back({link.name, link.code, ErrorText(error),
                                 dynamic_cast<const ERightsMissing*>(&error) != nullptr, link.path});
        }
    }
    return wrote;
}

std::optional<std::wstring> SettleBothChanged(const BothChanged& entry, bool useEdit, TMirror& mirror) {
    // Whatever the choice, the entry is mirrored afresh from the system as it then is.
    mirror.Erase(entry.storeLinkPath);
    if (!useEdit) {
        return std::nullopt;
    }
    const auto link = ReadStoreLink(entry.storeLinkPath, entry.code);
    if (!link || link->standing != LinkStanding::Known) {
        return std::nullopt;
    }
    if (IsRegistryCode(entry.code)) {
        StoreLink read = *link;
        read.code = entry.code;
        const RegistryLinkReading reading = ReadRegistryLink(read);
        TRegistry registry;
        if (reading.edit == LinkEdit::Disagreeing || reading.edit == LinkEdit::NoProgram || reading.record.cut ||
            reading.commandLine != entry.storeSide || !OpenRunKeyToChange(registry, entry.code, entry.name)) {
            return std::nullopt;
        }
        const auto current = registry.Value(entry.name);
        if (!current || !current->IsText() || current->Text() != entry.systemSide || RecordOfValue(*current).cut) {
            return std::nullopt; // changed again since the question: the system's stays
        }
        // The edit is kept whole: its line with the type of the value it was made on, which the link records. The
        // other program's type would make a line with a %NAME% reference start with the reference unexpanded, or
        // expand what was meant literally.
        const DWORD type = reading.record.type == REG_EXPAND_SZ || reading.record.type == REG_SZ ? reading.record.type
                                                                                                 : current->type;
        registry.WriteText(entry.name, reading.commandLine, type);
        return reading.commandLine;
    }
    if (!IsSafeEntryName(entry.name) || !IsStartupDirKnownOf(entry.code)) {
        return std::nullopt;
    }
    RequireRightsToChangeFolder(entry.code, entry.name);
    const std::wstring shortcut = StartupLinkPath(entry.code, entry.name);
    if (!FileExists(shortcut) || IsLink(shortcut) || ShortcutTarget(shortcut) != entry.systemSide ||
        link->linkTarget != entry.storeSide) {
        return std::nullopt;
    }
    WriteFileReplacing(shortcut, link->bytes);
    return StartOf(link->linkTarget, link->arguments);
}

void AddRunValue(int code, const std::wstring& name, const std::wstring& commandLine) {
    RequireChangeableStore(name);
    if (!IsRegistryCode(code) || !IsEnabledCode(code)) {
        throw EEntryRefused(L"Invalid location code");
    }
    TRegistry registry;
    if (!OpenRunKeyToChange(registry, code, name)) {
        Refuse(text::kRunKeyMissing, {name});
    }
    if (registry.Value(name)) {
        Refuse(text::kEntryThereAlready, {name});
    }
    registry.WriteText(name, commandLine, REG_SZ);
}

std::wstring WatcherCommandLine(const std::wstring& programPath) {
    return JoinCommandLine({programPath, kWatchSwitch, NeedsQuotes(programPath)});
}

bool IsWatcherEntry(const Entry& entry, const std::wstring& programPath) {
    if ((entry.code != kUserCode && entry.code != kUserOffCode) || entry.name != kWatcherEntryName) {
        return false;
    }
    const auto parts = SplitCommandLine(entry.description);
    return parts && parts->arguments == kWatchSwitch && SameFileName(parts->program, programPath);
}

std::wstring EntryNameForProgram(const std::wstring& programPath) {
    const std::wstring fileName = FileNamePart(programPath);
    const size_t dot = fileName.find(L'.');
    if (dot == std::wstring::npos || dot == 0) {
        return fileName;
    }
    return fileName.substr(0, dot);
}

std::wstring AddStartupShortcut(const std::wstring& programPath) {
    return AddStartupShortcut(programPath, EntryNameForProgram(programPath));
}

std::wstring AddStartupShortcut(const std::wstring& programPath, const std::wstring& name) {
    return AddStartupShortcut(kStartUpCode, programPath, name);
}

std::wstring AddStartupShortcut(int code, const std::wstring& programPath, const std::wstring& name) {
    RequireChangeableStore(name);
    if (!IsFolderCode(code) || !IsEnabledCode(code)) {
        throw EEntryRefused(L"Invalid location code");
    }
    RequireReachablePlace(code, name);
    RequireKnownFolder(code, name);
    RequireRightsToChangeFolder(code, name);
    TShellLink link;
    (void)link.SetPath(programPath);
    (void)link.SetDescription(programPath);
    const std::string bytes = link.SaveBytes();
    // A name that is no single file name is refused here, before anything is saved.
    std::wstring target = StartupLinkPath(code, name);
    for (unsigned n = 1;; ++n) {
        // A folder of that name blocks the file as surely as a file does.
        if (!PathExists(target)) {
            try {
                TReplacement file(target);
                DWORD written = 0;
                if (!::WriteFile(file.File(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                    written != bytes.size()) {
                    return target; // a Startup folder that cannot be written simply gets no shortcut
                }
                file.Commit(false);
                return target;
            } catch (const EBootwarden&) {
                if (!PathExists(target)) {
                    return target; // not taken by someone else: the folder cannot be written
                }
            }
        }
        target = StartupLinkPath(code, name + L"(" + std::to_wstring(n) + L")");
    }
}

void DeleteEntry(const Entry& entry) {
    if (!IsValidCode(entry.code)) {
        return;
    }
    RequireChangeableStore(entry.name);
    RequireChangeablePlace(entry.code, entry.name);
    RequireReachablePlace(entry.code, entry.name);
    if (!IsEnabledCode(entry.code)) {
        RequireLinkHere(entry.storeLinkPath, entry.name);
        if (PathExists(entry.storeLinkPath) && !StoreRecords().Find(entry.storeLinkPath)) {
            // Not the store's to delete: whatever the file is, the person moves it away.
            StoreLink link;
            link.code = entry.code;
            link.path = entry.storeLinkPath;
            if (const auto read = ReadStoreLink(entry.storeLinkPath, entry.code)) {
                link = *read;
            } else {
                link.standing = LinkStanding::Unknown;
            }
            RequireRecordedLink(link, entry.name);
        }
        if (!RemoveRecordedLink(entry.storeLinkPath)) {
            Refuse(text::kCannotDeleteFile, {entry.storeLinkPath});
        }
        return;
    }
    if (!IsRegistryCode(entry.code)) {
        // The store link stays until the next import finds the shortcut gone.
        RequireRightsToChangeFolder(entry.code, entry.name);
        const std::wstring shortcut = StartupLinkPath(entry.code, entry.name);
        if (!RemoveName(shortcut)) {
            Refuse(text::kCannotDeleteFile, {shortcut});
        }
        return;
    }
    TRegistry registry;
    if (OpenRunKeyToChange(registry, entry.code, entry.name) && !registry.RemoveValue(entry.name) &&
        registry.HasValue(entry.name)) {
        Refuse(text::kCannotDeleteValue, {entry.name});
    }
}

} // namespace bw
