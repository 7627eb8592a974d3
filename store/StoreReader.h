#pragma once

#include "platform/FileSystem.h"
#include "store/CommandLine.h"
#include "store/LinkRecords.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace bw {

class TShellLink;

// One store link as its folder holds it, and what it says.
struct StoreLink {
    int code = 0;
    std::wstring fileName; // as the folder spells it, ".lnk" included
    std::wstring name;     // the entry it keeps
    std::wstring path;
    FileStamp stamp;
    bool settled = false;    // read well after its last change (or written by us), so its stamp shows the next one
    bool readWhole = false;  // its bytes were read whole and taken as a shell link
    bool onlineOnly = false; // its data is not on this machine (a cloud file): never opened, so never read
    // Whole as read, except in a registry entry's link that a TStoreReader keeps between reads: nothing is put back or
    // written from those bytes, they are only compared, so the reader keeps their digest and size (bytesDropped) and
    // `bytes` stands empty. Compare through LinkBytesDigest and SameLinkBytes, which take either.
    std::string bytes;
    struct BytesMark {
        std::uint64_t digest = 0;
        size_t size = 0;
    };
    std::optional<BytesMark> bytesDropped;
    std::wstring description;
    std::wstring arguments;
    std::wstring linkTarget;   // the target the link records
    std::wstring rawTarget;    // the same with its environment references unexpanded
    std::wstring iconLocation; // the file the link names for its icon; "" for its target's
    int iconIndex = 0;
    std::optional<std::string> recordBlock; // the data of the link's own record block: a copy that decides nothing
    // What the store's records say of it (TakeStoreRecord): a registry entry's record (none for a link of a release
    // that kept none, which reads as such links always did), and whether the records name it at all.
    std::optional<LinkRecord> record;
    LinkStanding standing = LinkStanding::Known;
    std::wstring writtenAs; // for a Renamed link: the path the program wrote it to
};

using StoreLinks = std::vector<std::shared_ptr<const StoreLink>>;

// Reads the store folders into store links. A link is loaded only when its stamp (times, size, attributes)
// changed since it was last read, or when it was last read so soon after a change that a second change
// could hide behind the same stamp. A link whose data is online-only (a store folder that a sync engine keeps) is
// never opened: reading it would download it. It is taken as it is, unread, until its attributes say it is here.
class TStoreReader {
public:
    TStoreReader();
    ~TStoreReader();
    TStoreReader(const TStoreReader&) = delete;
    TStoreReader& operator=(const TStoreReader&) = delete;

    // Lets go of the link object it reads with; the next read makes a new one on the thread that reads.
    void ReleaseLinkObjects();

    // Reads the folders of `codes`, in that order (within a folder, by name). True when anything differs from
    // the last read: a link added, removed, renamed or changed, or one not yet settled.
    bool Read(const std::vector<int>& codes);

    const StoreLinks& Links() const {
        Unpack();
        return m_links;
    }

    // The link at `path`, as the last read found it; null when there was none.
    const StoreLink* Find(const std::wstring& path) const;

    // Takes a link that was just written with these very bytes, so that the next read need not load it again
    // (once a step of the file clock has passed since the write).
    void Remember(StoreLink link);
    // Takes it that the link at `path` was just removed.
    void ForgetLink(const std::wstring& path);
    // Makes Links() what the folders of `codes` hold after Remember and ForgetLink, without reading them again.
    void TakeChanges(const std::vector<int>& codes);

    // True when the last read found anything in the folder of `code` besides store links: another file, a
    // folder, a link of the file system.
    bool HoldsOthers(int code) const { return m_others.count(code) != 0; }

    // Copies what it keeps between reads anew, for TPackedHeap::Repack, packed: each link as one text of its fields
    // (and the folder it lies in once for all), made into links again when they are next asked for. A link stays the
    // same one in Links() and by path.
    void Repack();

private:
    std::shared_ptr<const StoreLink> Load(int code, const WIN32_FIND_DATAW& found, const std::wstring& path,
                                          const FILETIME& readAt, ULONGLONG step);
    ULONGLONG StepOf(const std::wstring& folder);
    // Makes the links packed by Repack links again, when they are.
    void Unpack() const;

    mutable std::map<std::wstring, std::shared_ptr<const StoreLink>> m_known; // by folded path
    mutable StoreLinks m_links;
    // While packed (the two above stand empty): each link known as one text, in the order of its folded path; the
    // links of m_links as their places there (those not known after them); the folders they lie in.
    mutable std::vector<std::string> m_packed;
    mutable std::vector<std::uint32_t> m_packedLinks;
    mutable std::vector<std::wstring> m_packedFolders;
    mutable size_t m_knownCount = 0; // the first of m_packed
    mutable bool m_isPacked = false;
    std::map<std::wstring, ULONGLONG> m_steps; // clock step by folder
    std::set<int> m_others;                    // codes whose folders hold more than store links
    std::unique_ptr<TShellLink> m_loader;
};

// The digest of the bytes the link held when it was read (BytesDigest), whether it still holds them or not.
std::uint64_t LinkBytesDigest(const StoreLink& link);
// True when `link` held `bytes` when it was read; two links, when they held the same bytes.
bool LinkHeldBytes(const StoreLink& link, const std::string& bytes);
bool SameLinkBytes(const StoreLink& a, const StoreLink& b);

// Takes a store link's content from its bytes: description, arguments, target, icon index and record block.
// False (and the texts empty) when the bytes are no shell link.
bool ParseStoreLink(TShellLink& loader, StoreLink& link);

// Takes what the store's records say of the link at `link.path` (StoreRecords): its record and standing. A link
// that the records do not name is Renamed when its fields, or its own block, match the record of another link of
// the store; otherwise Unknown.
void TakeStoreRecord(StoreLink& link);

// The sentence that says why a link of its standing is left as it is ("" for a Known one).
const wchar_t* StandingText(LinkStanding standing);
// Raises EEntryRefused, naming the entry and the link and saying why, when the store's records do not name the
// link: nothing is switched on, written back or put in its place from such a link.
void RequireRecordedLink(const StoreLink& link, const std::wstring& entryName);
// Raises EEntryRefused, naming the entry and the link and saying why, when the link at `path` is online-only:
// nothing that needs its content is done, and it is neither read (which would download it) nor deleted.
void RequireLinkHere(const std::wstring& path, const std::wstring& entryName);

// The entry name that a store link of `code` named `storedName` (without ".lnk") keeps, once its content is
// parsed and its record taken. A registry entry's link decodes its file name only when its record says the name
// is encoded (or when it holds the record that the program wrote in its arguments before, which came with the
// encoding);
// otherwise the name is the file name as it stands.
std::wstring EntryNameOfLink(int code, const std::wstring& storedName, const StoreLink& link);

} // namespace bw
