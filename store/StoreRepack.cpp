// What the store's objects keep between refreshes, copied anew for TPackedHeap::Repack. A copy is made once per
// watcher cycle, next to the reads and writes of files that a cycle costs: compiled for size.
#include "platform/PackedHeap.h"
#include "store/LinkRecords.h"
#include "store/Locations.h"
#include "store/Mirror.h"
#include "store/StoreReader.h"
#include "store/StoreSession.h"
#include "store/SystemReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace bw {

namespace {

// A store link, or a base, as one text of its fields: numbers as their bytes, texts as their length and characters.
// A text that repeats one before it (a target as its raw target, a name as its file's name) is kept as a mark, and a
// store link's path as its folder's place in a table and its file's name.
constexpr std::uint32_t kSameText = 0xFFFFFFFF;

class TPackWriter {
public:
    template <class T> void Number(const T& value) {
        static_assert(std::is_trivially_copyable_v<T>, "kept as its bytes");
        m_text.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    void Bytes(const std::string& bytes) {
        Number(static_cast<std::uint32_t>(bytes.size()));
        m_text += bytes;
    }
    void Text(const std::wstring& text) {
        Number(static_cast<std::uint32_t>(text.size()));
        m_text.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    }
    void Text(const std::wstring& text, const std::wstring& before) {
        if (text == before && !text.empty()) {
            Number(kSameText);
        } else {
            Text(text);
        }
    }
    const std::string& Written() const { return m_text; }

private:
    std::string m_text;
};

class TPackReader {
public:
    explicit TPackReader(const std::string& text) : m_at(text.data()) {}
    template <class T> void Number(T& value) {
        static_assert(std::is_trivially_copyable_v<T>, "made again from its bytes");
        std::memcpy(&value, m_at, sizeof value);
        m_at += sizeof value;
    }
    std::string Bytes() {
        std::uint32_t size = 0;
        Number(size);
        std::string bytes(m_at, size);
        m_at += size;
        return bytes;
    }
    std::wstring Text(const std::wstring& before = std::wstring()) {
        std::uint32_t size = 0;
        Number(size);
        if (size == kSameText) {
            return before;
        }
        std::wstring text(size, L'\0');
        std::memcpy(text.data(), m_at, size * sizeof(wchar_t));
        m_at += size * sizeof(wchar_t);
        return text;
    }

private:
    const char* m_at;
};

// What a packed link holds besides its texts.
constexpr std::uint32_t kSettled = 1;
constexpr std::uint32_t kReadWhole = 2;
constexpr std::uint32_t kOnlineOnly = 4;
constexpr std::uint32_t kBytesDropped = 8;
constexpr std::uint32_t kHasRecordBlock = 16;
constexpr std::uint32_t kHasRecord = 32;
constexpr std::uint32_t kInFolder = 64; // its path is its folder's and its file's name

// A store link's file name without its ".lnk": the name its entry usually has, kept as a mark when it does.
std::wstring StemOf(const std::wstring& fileName) {
    return fileName.substr(0, fileName.size() - std::min<size_t>(fileName.size(), 4));
}

// The place of `folder` in `folders`, added when it is not there.
std::uint32_t FolderPlace(const std::wstring& folder, std::vector<std::wstring>& folders) {
    const auto place = static_cast<std::uint32_t>(std::find(folders.begin(), folders.end(), folder) - folders.begin());
    if (place == folders.size()) {
        folders.push_back(folder);
    }
    return place;
}

std::string PackedLink(const StoreLink& link, std::vector<std::wstring>& folders) {
    const size_t folderSize = link.path.size() - std::min(link.path.size(), link.fileName.size());
    const bool inFolder =
        !link.fileName.empty() && link.path.compare(folderSize, std::wstring::npos, link.fileName) == 0;
    const std::uint32_t folder = inFolder ? FolderPlace(link.path.substr(0, folderSize), folders) : 0;
    const std::uint32_t flags = (link.settled ? kSettled : 0) | (link.readWhole ? kReadWhole : 0) |
                                (link.onlineOnly ? kOnlineOnly : 0) | (link.bytesDropped ? kBytesDropped : 0) |
                                (link.recordBlock ? kHasRecordBlock : 0) | (link.record ? kHasRecord : 0) |
                                (inFolder ? kInFolder : 0);
    TPackWriter writer;
    writer.Number(flags);
    writer.Number(link.code);
    writer.Number(link.stamp);
    writer.Number(link.iconIndex);
    writer.Number(link.standing);
    if (link.bytesDropped) {
        writer.Number(*link.bytesDropped);
    }
    if (link.record) {
        writer.Number(*link.record);
    }
    if (inFolder) {
        writer.Number(folder);
    } else {
        writer.Text(link.path);
    }
    writer.Text(link.fileName);
    writer.Text(link.name, StemOf(link.fileName));
    writer.Text(link.description);
    writer.Text(link.arguments);
    writer.Text(link.linkTarget);
    writer.Text(link.rawTarget, link.linkTarget);
    writer.Text(link.iconLocation, link.linkTarget);
    writer.Text(link.writtenAs);
    writer.Bytes(link.bytes);
    if (link.recordBlock) {
        writer.Bytes(*link.recordBlock);
    }
    return writer.Written();
}

std::shared_ptr<const StoreLink> UnpackedLink(const std::string& text, const std::vector<std::wstring>& folders) {
    auto link = std::make_shared<StoreLink>();
    TPackReader reader(text);
    std::uint32_t flags = 0;
    reader.Number(flags);
    reader.Number(link->code);
    reader.Number(link->stamp);
    reader.Number(link->iconIndex);
    reader.Number(link->standing);
    link->settled = (flags & kSettled) != 0;
    link->readWhole = (flags & kReadWhole) != 0;
    link->onlineOnly = (flags & kOnlineOnly) != 0;
    if ((flags & kBytesDropped) != 0) {
        reader.Number(link->bytesDropped.emplace());
    }
    if ((flags & kHasRecord) != 0) {
        reader.Number(link->record.emplace());
    }
    std::uint32_t folder = 0;
    if ((flags & kInFolder) != 0) {
        reader.Number(folder);
    } else {
        link->path = reader.Text();
    }
    link->fileName = reader.Text();
    if ((flags & kInFolder) != 0) {
        link->path = folders[folder] + link->fileName;
    }
    link->name = reader.Text(StemOf(link->fileName));
    link->description = reader.Text();
    link->arguments = reader.Text();
    link->linkTarget = reader.Text();
    link->rawTarget = reader.Text(link->linkTarget);
    link->iconLocation = reader.Text(link->linkTarget);
    link->writtenAs = reader.Text();
    link->bytes = reader.Bytes();
    if ((flags & kHasRecordBlock) != 0) {
        link->recordBlock = reader.Bytes();
    }
    return link;
}

// A base, with the path of its store link as its folder's place in `folders` and its file's name.
std::string PackedBase(const std::wstring& path, const MirrorBase& base, std::vector<std::wstring>& folders) {
    const std::wstring fileName = FileNamePart(path);
    TPackWriter writer;
    writer.Number(FolderPlace(FolderPart(path), folders));
    writer.Text(fileName);
    writer.Number(base.link);
    writer.Number(base.linkSettled);
    writer.Number(base.shortcut);
    writer.Number(base.linkDigest);
    writer.Number(base.overwriting.has_value());
    writer.Number(base.overwriting.value_or(0));
    writer.Number(base.value.has_value());
    if (base.value) {
        writer.Text(base.value->name, StemOf(fileName));
        writer.Number(base.value->type);
        writer.Bytes(base.value->data);
    }
    return writer.Written();
}

std::pair<std::wstring, MirrorBase> UnpackedBase(const std::string& text, const std::vector<std::wstring>& folders) {
    TPackReader reader(text);
    std::uint32_t folder = 0;
    reader.Number(folder);
    const std::wstring fileName = reader.Text();
    MirrorBase base;
    reader.Number(base.link);
    reader.Number(base.linkSettled);
    reader.Number(base.shortcut);
    reader.Number(base.linkDigest);
    bool overwriting = false;
    std::uint64_t overwritten = 0;
    reader.Number(overwriting);
    reader.Number(overwritten);
    if (overwriting) {
        base.overwriting = overwritten;
    }
    bool value = false;
    reader.Number(value);
    if (value) {
        RegistryValue& read = base.value.emplace();
        read.name = reader.Text(StemOf(fileName));
        reader.Number(read.type);
        read.data = reader.Bytes();
    }
    return {folders[folder] + fileName, std::move(base)};
}

} // namespace

void TStoreReader::Repack() {
    if (m_isPacked) {
        RepackCopy(m_packed);
        RepackCopy(m_packedLinks);
        RepackCopy(m_packedFolders);
    } else {
        // The known links in order, then those of the folders that are not known (none, after a read).
        std::vector<std::string> packed;
        std::vector<std::uint32_t> packedLinks;
        std::vector<std::wstring> folders;
        std::map<const StoreLink*, std::uint32_t> places;
        packed.reserve(m_known.size());
        for (const auto& [key, link] : m_known) {
            places.emplace(link.get(), static_cast<std::uint32_t>(packed.size()));
            packed.push_back(PackedLink(*link, folders));
        }
        packedLinks.reserve(m_links.size());
        for (const auto& link : m_links) {
            const auto place = places.find(link.get());
            if (place != places.end()) {
                packedLinks.push_back(place->second);
            } else {
                packedLinks.push_back(static_cast<std::uint32_t>(packed.size()));
                packed.push_back(PackedLink(*link, folders));
            }
        }
        // Copied once more, so that each lies in the packing's block with no room to spare; taken only once whole.
        std::vector<std::string> kept(packed.begin(), packed.end());
        std::vector<std::uint32_t> keptLinks(packedLinks.begin(), packedLinks.end());
        std::vector<std::wstring> keptFolders(folders.begin(), folders.end());
        m_knownCount = m_known.size();
        m_known.clear();
        StoreLinks().swap(m_links);
        m_packed = std::move(kept);
        m_packedLinks = std::move(keptLinks);
        m_packedFolders = std::move(keptFolders);
        m_isPacked = true;
    }
    RepackCopy(m_steps);
    RepackCopy(m_others);
}

void TStoreReader::Unpack() const {
    if (!m_isPacked) {
        return;
    }
    std::vector<std::shared_ptr<const StoreLink>> links;
    links.reserve(m_packed.size());
    for (const std::string& text : m_packed) {
        links.push_back(UnpackedLink(text, m_packedFolders));
    }
    // Made whole before they are taken: a failure on the way leaves the reader packed as it was.
    std::map<std::wstring, std::shared_ptr<const StoreLink>> known;
    for (size_t i = 0; i < m_knownCount; ++i) {
        known.emplace_hint(known.end(), FoldedName(links[i]->path), links[i]);
    }
    StoreLinks inFolders;
    inFolders.reserve(m_packedLinks.size());
    for (std::uint32_t place : m_packedLinks) {
        inFolders.push_back(links[place]);
    }
    m_known = std::move(known);
    m_links = std::move(inFolders);
    std::vector<std::string>().swap(m_packed);
    std::vector<std::uint32_t>().swap(m_packedLinks);
    std::vector<std::wstring>().swap(m_packedFolders);
    m_isPacked = false;
}

void TSystemReader::Repack() {
    RepackCopy(m_keys);
    RepackCopy(m_flagKeys);
    RepackCopy(m_last);
    RepackCopy(m_clockSteps);
}

void TMirror::Repack() {
    if (m_isPacked) {
        RepackCopy(m_packed);
        RepackCopy(m_packedFolders);
        return;
    }
    std::vector<std::string> packed;
    std::vector<std::wstring> folders;
    packed.reserve(m_bases.size());
    for (const auto& [key, held] : m_bases) {
        packed.push_back(PackedBase(held.path, held.base, folders));
    }
    // Copied once more, so that each lies in the packing's block with no room to spare; taken only once whole.
    std::vector<std::string> kept(packed.begin(), packed.end());
    std::vector<std::wstring> keptFolders(folders.begin(), folders.end());
    m_bases.clear();
    m_packed = std::move(kept);
    m_packedFolders = std::move(keptFolders);
    m_isPacked = true;
}

void TMirror::Unpack() const {
    if (!m_isPacked) {
        return;
    }
    // Made whole before they are taken: a failure on the way leaves the bases packed as they were.
    std::map<std::wstring, Held> bases;
    for (const std::string& text : m_packed) {
        auto [path, base] = UnpackedBase(text, m_packedFolders);
        std::wstring key = FoldedName(path);
        bases.emplace_hint(bases.end(), std::move(key), Held{std::move(path), std::move(base)});
    }
    m_bases = std::move(bases);
    std::vector<std::string>().swap(m_packed);
    std::vector<std::wstring>().swap(m_packedFolders);
    m_isPacked = false;
}

void TLinkRecords::Repack() {
    const std::lock_guard<std::recursive_mutex> hold(m_lock);
    RepackCopy(m_programDir);
    RepackCopy(m_records);
}

void TStoreSession::Repack() {
    if (m_job) {
        return;
    }
    // Made by a refresh, inside its work: kept, they would hold the work's block for good.
    ReleaseLinkObjects();
    m_system.Repack();
    m_store.Repack();
    m_mirror.Repack();
    // The entries are not copied: a front end that packs lets go of them first (LetGoOfEntries).
    RepackCopy(m_programs);
    RepackCopy(m_reported);
    RepackCopy(m_toldEdits);
    RepackCopy(m_toldBoth);
    RepackCopy(m_recordedBoth);
    RepackCopy(m_expected);
    // The reports not yet taken and the bases of edits not carried are few, and mostly none: they stay where they
    // are.
}

} // namespace bw
