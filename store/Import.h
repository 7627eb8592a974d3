#pragma once

#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "store/StoreReader.h"
#include "store/SystemReader.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace bw {

class TShellLink;

// What the import last wrote into or confirmed in an enabled folder, for one store link: the base against
// which a later change is told to be the store's (an edit of the link through its properties, which the
// write-back carries into the system) or the system's (an updater, which the import carries into the store).
struct MirrorBase {
    FileStamp link;                     // the store link as the import left it
    bool linkSettled = false;           // that stamp was read well after its change: a later one moves it
    std::optional<RegistryValue> value; // a registry entry's value as it was mirrored
    FileStamp shortcut;                 // a Startup entry's shortcut as it was mirrored
    std::string linkBytes;              // a Startup entry's store link as it was mirrored
};

// True when the store link is still what the import left, told by its stamp where that can tell, else by what
// it holds.
bool LinkAsMirrored(const StoreLink& link, const MirrorBase& base);

class TMirror {
public:
    const MirrorBase* Find(const std::wstring& storeLinkPath) const;
    void Set(const std::wstring& storeLinkPath, MirrorBase base);
    void Erase(const std::wstring& storeLinkPath);
    void Clear() { m_bases.clear(); }

private:
    std::map<std::wstring, MirrorBase> m_bases; // by folded path
};

// One entry that starts, as the import found it, and what became of its store link.
struct SystemEntry {
    int code = 0;
    std::wstring name;
    std::optional<RegistryValue> value; // a Run value
    std::wstring shortcutPath;          // a Startup shortcut
    std::wstring storeLinkPath;         // "" when no store link can keep it
    bool mirrored = false;              // its store link was written or confirmed by this import
    bool switchedOffInWindows = false;  // Windows' own switch keeps it from starting
    std::wstring problem;               // why it cannot be switched off here; "" when it can
};

// An entry that the import could not copy into its store folder.
struct ImportProblem {
    int code = 0;
    std::wstring name;
    std::wstring folder;
};

// Makes the enabled store folders a mirror of the system as `system` read it. Each entry's store link is kept
// when it already mirrors the entry, written anew (in one step) when it does not, and left as it is when only
// the store changed since the last import (an edit that the write-back has yet to carry over); every other file
// of the enabled folders is removed. The work is done in steps, so that a window can stay responsive while
// thousands of entries are copied.
class TImportJob {
public:
    // `removeLeftovers`: also removes the temporary files that a run stopped in the middle of a write left in
    // the store and the Startup folder (once in a run is enough).
    TImportJob(const SystemRead& system, const TStoreReader& store, TMirror& mirror, bool removeLeftovers = true);
    ~TImportJob();
    TImportJob(const TImportJob&) = delete;
    TImportJob& operator=(const TImportJob&) = delete;

    // Lends the job the link objects to make and read links with, so that a caller running many imports keeps
    // two for its whole run (each new one costs memory that Wine never gives back). Without them the job makes
    // its own.
    void UseLinks(TShellLink& maker, TShellLink& reader);

    // Does the next part of the work, for about `budgetMs` milliseconds (0: to the end). True when all is done.
    bool Step(DWORD budgetMs);

    size_t Total() const { return m_work.size(); }
    size_t Done() const { return m_next; }
    bool Finished() const { return m_finished; }

    const std::vector<SystemEntry>& Entries() const { return m_entries; }
    const std::vector<ImportProblem>& Problems() const { return m_problems; }
    // True when a store link was written or removed.
    bool Wrote() const { return m_wrote; }
    // The store links it wrote, as written, and those it removed.
    const std::vector<StoreLink>& Written() const { return m_written; }
    const std::vector<std::wstring>& Removed() const { return m_removed; }

private:
    // Gives an entry its store link path and keeps that name from the emptying; "" (and the entry's problem
    // said) when no file name can hold its name.
    std::wstring PlaceInStore(SystemEntry& entry);
    void PlanRunKey(const RunKeyRead& key, const SystemRead& system);
    void PlanStartupFolder(const SystemRead& system);
    void MirrorRunValue(SystemEntry& entry);
    void MirrorShortcut(SystemEntry& entry, const StartupFile& file);
    bool WriteStoreLink(SystemEntry& entry, const std::string& bytes, const StoreLink* existing);
    void Fail(SystemEntry& entry, const StoreLink* existing);
    void EmptyEnabledFolders();

    const TStoreReader& m_store;
    TMirror& m_mirror;
    std::vector<SystemEntry> m_entries;
    std::map<size_t, StartupFile> m_shortcuts; // by entry index
    std::vector<size_t> m_work;                // entries that need more than a look at what was read
    size_t m_next = 0;
    bool m_finished = false;
    bool m_wrote = false;
    bool m_removeLeftovers = true;
    std::map<int, std::set<std::wstring>> m_kept; // folded file names to keep, by enabled code
    std::vector<ImportProblem> m_problems;
    std::vector<StoreLink> m_written;
    std::vector<std::wstring> m_removed;
    TShellLink* m_maker = nullptr;  // makes every Run value's link: it only ever gets the fields each sets
    TShellLink* m_reader = nullptr; // reads what was written or found
    std::unique_ptr<TShellLink> m_ownMaker;
    std::unique_ptr<TShellLink> m_ownReader;
};

// The bytes of a store link for a Run value: its command line as description (cut to what a link keeps), and
// the record of its type and length wherever the description alone would read otherwise. `link` may be used
// again for the next value: every field that is read back is set each time.
std::string RegistryStoreLinkBytes(TShellLink& link, const RegistryValue& value);

// True when a store link says what a link written for `value` would say.
bool StoreLinkMirrors(const StoreLink& link, const RegistryValue& value);

// Reads the system and the store afresh and runs a whole import with no base from an earlier one.
void ImportSystemEntries();

// Deletes every file below `folder` (read-only ones included; a link is removed itself, never what it points
// at) and keeps every folder, emptied, and every name that begins with a dot unless it ends in ".lnk" (such a
// name is a store link like any other). Never follows a junction or link out of the folder. True when the
// folder existed and every deletion succeeded.
bool EmptyDirectory(const std::wstring& folder);

} // namespace bw
