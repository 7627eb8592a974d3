#include "store/EntryOperations.h"

#include "platform/Errors.h"
#include "platform/FileCopy.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/ShellLink.h"
#include "platform/UniqueHandle.h"
#include "store/Import.h"
#include "store/Locations.h"

#include <cwctype>
#include <string>

namespace bw {

namespace {

// The texts of a refused toggle; "%s" is the entry's name.
constexpr const wchar_t* kCannotDisableCut = L"The command line of \"%s\" is longer than a shortcut can keep whole, "
                                             L"so it cannot be switched off without losing it.";
constexpr const wchar_t* kCannotEnableCut = L"The command line of \"%s\" was stored cut to the length a shortcut "
                                            L"can keep, so it cannot be switched on without breaking it.";

// Opens the Run key of a registry code's location; false when it cannot be opened with full access, which
// every caller takes as "skip the registry side".
bool OpenRunKey(TRegistry& registry, int code) {
    registry.SelectRoot(RegistryRoot(code));
    return registry.OpenExistingKey(kRunKeyPath);
}

void WriteBackStartupShortcut(const EntryRef& entry, ProgressControl* progress) {
    if (!IsSafeEntryName(entry.name)) {
        return; // no path may be built from it; raising here would stop every refresh
    }
    const std::wstring shortcut = StartupLinkPath(entry.name);
    const std::wstring storeLink = StoreLinkPath(static_cast<int>(Location::StartUp), entry.name);
    // A shortcut that has gone is not created again; a store link that has gone has nothing to give.
    if (!FileExists(shortcut) || !FileExists(storeLink)) {
        return;
    }
    // The refresh runs on every activation of the window: an unchanged shortcut is left alone.
    if (FilesHoldSameBytes(storeLink, shortcut)) {
        return;
    }
    CopyWithProgress(storeLink, shortcut, progress);
}

void WriteBackRunValue(TRegistry& registry, const EntryRef& entry) {
    // Opened afresh for every row: the row before may have left the other root's key open.
    if (!OpenRunKey(registry, entry.code) || !registry.HasValue(entry.name)) {
        return; // a key that cannot be opened or a value that has gone is passed over
    }
    if (!IsCarriedWhole(entry.description)) {
        return; // a cut command line would break the value it replaced
    }
    const auto type = registry.ValueType(entry.name);
    const bool isText = type && (*type == REG_SZ || *type == REG_EXPAND_SZ);
    if (isText && registry.ReadText(entry.name) == entry.description) {
        return;
    }
    // Windows expands %NAME% references only in an expandable value, so that type is kept.
    registry.WriteText(entry.name, entry.description, type && *type == REG_EXPAND_SZ ? REG_EXPAND_SZ : REG_SZ);
}

} // namespace

bool DisableEntry(const EntryRef& entry) {
    if (!IsEnabledCode(entry.code)) {
        return false;
    }
    const int code = entry.code;
    if (IsRegistryCode(code)) {
        TRegistry registry;
        if (!OpenRunKey(registry, code)) {
            return true; // nothing moves; the fresh import shows the entry as it still is
        }
        if (!IsCarriedWhole(entry.description)) {
            // Once the value is deleted the store link would be the only record of a command line it cut.
            throw EEntryRefused(FormatMessageText(kCannotDisableCut, entry.name));
        }
        // The move comes first: when it fails the value stays, and the entry is still enabled.
        RelocateFile(StoreLinkPath(code, entry.name), StoreLinkPath(DisabledCodeOf(code), entry.name));
        (void)registry.RemoveValue(entry.name); // a value already gone is fine
        return true;
    }
    RelocateFile(StoreLinkPath(code, entry.name), StoreLinkPath(DisabledCodeOf(code), entry.name));
    (void)DeleteFileAt(StartupLinkPath(entry.name)); // a shortcut already gone is fine
    return true;
}

bool EnableEntry(const EntryRef& entry, ProgressControl* progress) {
    if (!IsValidCode(entry.code) || IsEnabledCode(entry.code)) {
        return false;
    }
    const int code = entry.code;
    const std::wstring disabledLink = StoreLinkPath(code, entry.name);
    const std::wstring enabledLink = StoreLinkPath(EnabledCodeOf(code), entry.name);
    // The system side is written before the store link leaves the disabled folder: the next import empties
    // the enabled folder, so a link moved there before a write that then failed would take the entry with it.
    if (IsRegistryCode(code)) {
        TRegistry registry;
        if (!OpenRunKey(registry, code)) {
            return true; // nothing moves; the fresh import shows the entry as it still is
        }
        if (!IsCarriedWhole(entry.description)) {
            throw EEntryRefused(FormatMessageText(kCannotEnableCut, entry.name));
        }
        registry.WriteText(entry.name, entry.description,
                           HasEnvironmentReference(entry.description) ? REG_EXPAND_SZ : REG_SZ);
    } else {
        CopyWithProgress(disabledLink, StartupLinkPath(entry.name), progress);
    }
    RelocateFile(disabledLink, enabledLink);
    return true;
}

bool HasEnvironmentReference(const std::wstring& commandLine) {
    size_t start = commandLine.find(L'%');
    while (start != std::wstring::npos) {
        size_t end = start + 1;
        while (end < commandLine.size() && commandLine[end] != L'%' && !std::iswspace(commandLine[end])) {
            ++end;
        }
        if (end == commandLine.size()) {
            return false;
        }
        if (commandLine[end] == L'%' && end > start + 1) {
            return true;
        }
        // "%%" or "% x": the percent sign that stopped the scan may open the next reference.
        start = commandLine.find(L'%', end);
    }
    return false;
}

void WriteBackEntries(const std::vector<EntryRef>& entries, ProgressControl* progress) {
    TRegistry registry;
    for (const EntryRef& entry : entries) {
        if (!IsEnabledCode(entry.code)) {
            continue; // disabled entries have no place in the system to write to
        }
        if (IsRegistryCode(entry.code)) {
            WriteBackRunValue(registry, entry);
        } else {
            WriteBackStartupShortcut(entry, progress);
        }
    }
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
    TShellLink link;
    (void)link.SetPath(programPath);
    (void)link.SetDescription(programPath);
    const std::wstring name = EntryNameForProgram(programPath);
    // A name that is no single file name is refused here, before anything is saved.
    std::wstring target = StartupLinkPath(name);
    // A folder of that name blocks the file as surely as a file does.
    for (unsigned n = 1; PathExists(target); ++n) {
        target = StartupLinkPath(name + L"(" + std::to_wstring(n) + L")");
    }
    (void)link.Save(target); // a Startup folder that cannot be written simply gets no shortcut
    return target;
}

void DeleteEntry(const EntryRef& entry) {
    if (!IsValidCode(entry.code)) {
        return;
    }
    if (!IsEnabledCode(entry.code)) {
        (void)DeleteFileAt(StoreLinkPath(entry.code, entry.name)); // a link already gone is fine
        return;
    }
    if (!IsRegistryCode(entry.code)) {
        // The store link stays until the next import finds the shortcut gone.
        (void)DeleteFileAt(StartupLinkPath(entry.name)); // a shortcut already gone is fine
        return;
    }
    TRegistry registry;
    if (OpenRunKey(registry, entry.code)) {
        (void)registry.RemoveValue(entry.name); // a value already gone is fine
    }
}

} // namespace bw
