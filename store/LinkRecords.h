#pragma once

#include "store/CommandLine.h"

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace bw {

// What the store keeps of one of its links, in its own file, whatever becomes of the link's bytes.
struct StoredRecord {
    enum Kind {
        Registry,   // a registry entry's link written by the program: `record` says what it stands for
        Unrecorded, // a registry entry's link of a release that kept no record: it reads as such links always did
        Shortcut,   // a Startup entry's link: the shortcut's own bytes
        Intended,   // a registry entry's link that the import is about to write: until its record is saved, the
                    // link's own block (the import's bytes, or the ones it was about to replace) is taken once
    };
    Kind kind = Registry;
    LinkRecord record;
    bool operator==(const StoredRecord& other) const;
    bool operator!=(const StoredRecord& other) const { return !(*this == other); }
};

// How a link of a store folder stands with the store's records.
enum class LinkStanding {
    Known,   // the records name it: what it stands for is what they say, and its fields as they differ an edit
    Unknown, // the records do not name it: the program did not write it there
    Renamed, // the records do not name it, but it is one the program wrote under another name or in another folder
};

// The record of a link as the program writes it into the link's own record block, taken from the link's bytes;
// a Startup link's is a shortcut's. Nothing for a registry entry's link whose block holds no record of ours.
std::optional<StoredRecord> RecordOfWrittenLink(int code, const std::string& bytes);

// The records of the links of the store beside ProgramDir, kept in one file beside the bases (StoreRecordFile):
// written through a temporary file and one replace, taken whole or not at all. The first time a store without
// that file is opened, each of its links gets its record once from the link's own record block (a link without
// one reads by the rules of the release that wrote it); from then on only this file decides.
//
// One object per process (StoreRecords()), which follows ProgramDir: the door opens it and takes in what other
// processes saved at the start of each unit of work; the import and the changes of entries set and remove
// records as they write and remove links.
class TLinkRecords {
public:
    // Loads the file of the store beside ProgramDir, or makes the records from the links' blocks when there is
    // none (or none of ours), and saves them. A file that exists but cannot be read leaves no record known and
    // is never written over.
    void Open();
    // Takes in what another process saved: each record there replaces the one held; a record held for a link that
    // the file does not name stays until the link is found gone. Nothing changes when the file cannot be read.
    void TakeIn();

    std::optional<StoredRecord> Find(const std::wstring& path);
    // The records at other paths of the store that `fields` (description, target, arguments digests) would match:
    // the file name of one such link, for the message that says where the link came from; "" when none.
    std::wstring WrittenAs(const std::wstring& path, const LinkRecord& fields);
    void Set(const std::wstring& path, const StoredRecord& record);
    void Erase(const std::wstring& path);
    void Move(const std::wstring& from, const std::wstring& to);
    // Drops every record whose link is not in `keep` (folded paths): the link is gone.
    void KeepOnly(const std::set<std::wstring>& keep);

    // Writes the records into the store's file when they changed. False when it could not be written (tried again
    // at the next save) or was never read whole.
    bool Save();
    // Copies the records anew, for TPackedHeap::Repack.
    void Repack();

private:
    void OpenLocked();
    void FollowProgramDir();

    struct Held {
        std::wstring path;
        StoredRecord record;
    };
    std::recursive_mutex m_lock;
    std::wstring m_programDir; // the store whose records are held
    bool m_readable = false;   // the file was read whole (or made): it may be written
    bool m_changed = false;
    std::map<std::wstring, Held> m_records; // by folded path
};

// The records of the store beside ProgramDir, for this process.
TLinkRecords& StoreRecords();

// The file beside the store folders in which the store keeps its links' records.
std::wstring StoreRecordFile();

} // namespace bw
