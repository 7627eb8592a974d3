#pragma once

#include "platform/FileSystem.h"
#include "platform/Registry.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace bw {

// What the import last wrote into or confirmed in an enabled folder, for one store link: the base against
// which a later change is told to be the store's (an edit of the link through its properties, which the
// write-back carries into the system) or the system's (an updater, which the import carries into the store).
struct MirrorBase {
    FileStamp link;                     // the store link as the import left it
    bool linkSettled = false;           // that stamp was read well after its change: a later one moves it
    std::optional<RegistryValue> value; // a registry entry's value as it was mirrored
    FileStamp shortcut;                 // a Startup entry's shortcut as it was mirrored
    std::uint64_t linkDigest = 0;       // a Startup entry's store link (the shortcut's bytes) as it was mirrored
    // Set while the import is about to write the store link anew, before it does: the digest of the bytes the
    // link held until then (0: there was none). A kill between the write and the save of the bases leaves the
    // link either as it was or as the import wrote it; both are the import's, and neither is an edit.
    // Once the import has written the link, the digest of the bytes it wrote: they were not waited for to reach
    // the disk, so a power cut may leave the link with less than them, which is no edit either. That mark stays
    // while the link holds those bytes: nothing tells when they have reached the disk.
    std::optional<std::uint64_t> overwriting;

    bool operator==(const MirrorBase& other) const;
    bool operator!=(const MirrorBase& other) const { return !(*this == other); }
};

// The bases of the enabled store links, kept in memory and in one file of the store (StoreBaseFile), so that a
// store link edited while the program is not running, or not yet written back when it ended, is told from an
// outside change at the next start like any other edit.
class TMirror {
public:
    const MirrorBase* Find(const std::wstring& storeLinkPath) const;
    void Set(const std::wstring& storeLinkPath, MirrorBase base);
    void Erase(const std::wstring& storeLinkPath);
    void Clear();

    // Takes the bases from the store's file in place of those held; a line that is not well formed gives no
    // base for its link (whose system side then wins, as for a link without one). Nothing when the file is
    // not there.
    void Load();
    // Takes in the bases that another process saved into the store's file: each base there replaces the one held
    // for its link; a base held for a link that the file does not name stays (the next import keeps or drops it
    // as it finds the link). Nothing changes when the file cannot be read.
    void TakeIn();
    // Drops every base whose link is not in `keep` (folded paths): its entry is gone from both sides.
    void KeepOnly(const std::set<std::wstring>& keep);
    // Writes the bases held into the store's file in one step, when they changed since it was loaded or last
    // written. False when it could not be written (it is tried again at the next change or call).
    bool Save();
    // Copies the bases anew, for TPackedHeap::Repack, packed: each base as one text (its link's folder named once for
    // all), made into bases again when they are next asked for.
    void Repack();

private:
    struct Held {
        std::wstring path;
        MirrorBase base;
    };
    // Makes the bases packed by Repack bases again, when they are.
    void Unpack() const;

    mutable std::map<std::wstring, Held> m_bases; // by folded path
    bool m_changed = false;
    // While packed (m_bases stands empty): each base as one text, in the order of its folded path; the folders of
    // their links.
    mutable std::vector<std::string> m_packed;
    mutable std::vector<std::wstring> m_packedFolders;
    mutable bool m_isPacked = false;
};

// The file beside the store folders in which TMirror keeps the bases.
std::wstring StoreBaseFile();

} // namespace bw
