#pragma once

#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/Seam.h"
#include "store/CommandLine.h"
#include "store/Entry.h"
#include "store/EntryChange.h"
#include "store/Mirror.h"
#include "store/StoreLinkCodec.h"
#include "store/StoreReader.h"
#include "store/SystemReader.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace bw {

class TShellLink;

// An entry whose store link and whose system side both changed since the last import: neither is written
// over the other until the user has chosen.
struct BothChanged {
    int code = 0;
    std::wstring name;
    std::wstring storeLinkPath;
    std::wstring systemSide; // what starts now: the command line, or the shortcut's target
    std::wstring storeSide;  // the edit in the store, told the same way
};

// One entry that starts, as the import found it, and what became of its store link.
struct SystemEntry {
    int code = 0;
    std::wstring name;
    std::optional<RegistryValue> value;        // a Run value
    std::wstring shortcutPath;                 // a Startup shortcut
    std::wstring storeLinkPath;                // "" when no store link can keep it
    bool mirrored = false;                     // its store link was written or confirmed by this import
    bool switchedOffInWindows = false;         // Windows' own switch keeps it from starting
    bool bothChanged = false;                  // its store link and the system both changed: left for the user
    bool linkOwnWrite = false; // its store link holds what an import wrote, which may not have reached the disk
    EntryProblem problem = EntryProblem::None; // why it cannot be switched off here
};

// An entry that the import could not copy into its store folder.
struct ImportProblem {
    int code = 0;
    std::wstring name;
    std::wstring folder;
};

// Makes the enabled store folders a mirror of the system as `system` read it. Each entry's store link is kept
// when it already mirrors the entry, written anew (in one step) when it does not, and left as it is when only
// the store changed since the last import (an edit that the write-back has yet to carry over); every other store
// link of the enabled folders is removed (a file that is no store link, or a folder, is never touched). The work is
// done in steps, so that a window can stay responsive while thousands of entries are copied.
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
    const std::vector<BothChanged>& Conflicts() const { return m_conflicts; }
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
    void PlanStartupFolder(const StartupFolderRead& folder);
    void MirrorRunValue(SystemEntry& entry);
    void MirrorShortcut(SystemEntry& entry, const StartupFile& file, std::optional<std::string> bytes);
    bool WriteStoreLink(SystemEntry& entry, const std::string& bytes, const StoreLink* existing);
    void Fail(SystemEntry& entry, const StoreLink* existing);
    void EmptyEnabledFolders();
    // Removes what stopped runs left: their temporary files, once their writers have ended.
    void RemoveLeftoverFiles();
    void SaveIntents();

    const TStoreReader& m_store;
    TMirror& m_mirror;
    std::vector<SystemEntry> m_entries;
    std::map<size_t, StartupFile> m_shortcuts; // by entry index
    // The bytes of each Startup shortcut as read for its intent, by entry index: its store link is written from
    // these very bytes, so each shortcut is read once and the link is what the saved base describes.
    std::map<size_t, std::string> m_shortcutBytes;
    std::vector<size_t> m_work; // entries that need more than a look at what was read
    size_t m_next = 0;
    bool m_finished = false;
    bool m_intended = false; // the bases of the links to write were saved before the first write
    bool m_wrote = false;
    bool m_removeLeftovers = true;
    std::map<int, std::set<std::wstring>> m_kept; // folded file names to keep, by enabled code
    std::vector<ImportProblem> m_problems;
    std::vector<BothChanged> m_conflicts;
    std::vector<StoreLink> m_written;
    std::vector<std::wstring> m_removed;
    TLinkTargets m_targets;         // each program's link, once its target was set: the next link to it is made from it
    TShellLink* m_maker = nullptr;  // makes every Run value's link: it only ever gets the fields each sets
    TShellLink* m_reader = nullptr; // reads what was written or found
    std::unique_ptr<TShellLink> m_ownMaker;
    std::unique_ptr<TShellLink> m_ownReader;
};

} // namespace bw
