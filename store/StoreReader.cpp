#include "store/StoreReader.h"

#include "platform/Errors.h"
#include "platform/ShellLink.h"
#include "resources/Texts.h"
#include "store/CommandLine.h"
#include "store/Locations.h"
#include "store/StoreQueries.h"

#include <algorithm>

namespace bw {

namespace {

// What a reader keeps of a link between reads: a registry entry's link without its bytes and its copy of the record
// block, both taken in once it was parsed and its record taken. A Startup entry's link keeps its bytes whole: they
// are what is written back as its shortcut.
void DropBytesKept(StoreLink& link) {
    link.recordBlock.reset();
    if (!IsRegistryCode(link.code) || link.bytesDropped) {
        return;
    }
    link.bytesDropped = StoreLink::BytesMark{BytesDigest(link.bytes), link.bytes.size()};
    std::string().swap(link.bytes);
}

} // namespace

std::uint64_t LinkBytesDigest(const StoreLink& link) {
    return link.bytesDropped ? link.bytesDropped->digest : BytesDigest(link.bytes);
}

bool LinkHeldBytes(const StoreLink& link, const std::string& bytes) {
    return link.bytesDropped ? link.bytesDropped->size == bytes.size() && link.bytesDropped->digest == BytesDigest(bytes)
                             : link.bytes == bytes;
}

bool SameLinkBytes(const StoreLink& a, const StoreLink& b) {
    if (!a.bytesDropped && !b.bytesDropped) {
        return a.bytes == b.bytes;
    }
    const auto sizeOf = [](const StoreLink& link) {
        return link.bytesDropped ? link.bytesDropped->size : link.bytes.size();
    };
    return sizeOf(a) == sizeOf(b) && LinkBytesDigest(a) == LinkBytesDigest(b);
}

bool ParseStoreLink(TShellLink& loader, StoreLink& link) {
    link.readWhole = loader.LoadBytes(link.bytes);
    if (!link.readWhole) {
        link.description.clear();
        link.arguments.clear();
        link.linkTarget.clear();
        link.rawTarget.clear();
        link.recordBlock.reset();
        return false;
    }
    link.description = loader.Description();
    link.arguments = loader.Arguments();
    link.linkTarget = loader.Path();
    link.rawTarget = loader.RawPath();
    link.iconIndex = loader.IconIndex();
    link.recordBlock = DataBlockOf(link.bytes, kRecordBlockSignature);
    link.iconLocation = loader.IconLocation();
    return true;
}

void TakeStoreRecord(StoreLink& link) {
    link.record.reset();
    link.writtenAs.clear();
    if (auto stored = StoreRecords().Find(link.path)) {
        link.standing = LinkStanding::Known;
        if (stored->kind == StoredRecord::Intended) {
            // An import ended between writing the link and saving its record: the link holds the bytes it wrote or
            // the ones it was about to replace, both the program's; their block is taken once, as a first open
            // takes those of a store that kept no records.
            const auto written = link.readWhole ? RecordOfWrittenLink(link.code, link.bytes) : std::nullopt;
            stored = written && IsRecordOfRunValue(written->record.value, link.description)
                         ? *written
                         : StoredRecord{StoredRecord::Unrecorded, {}};
            if (link.readWhole) {
                StoreRecords().Set(link.path, *stored);
            }
        }
        if (stored->kind == StoredRecord::Registry) {
            link.record = stored->record;
        }
        return;
    }
    link.standing = LinkStanding::Unknown;
    if (!IsRegistryCode(link.code) || !link.readWhole) {
        return;
    }
    // Renamed, moved or copied: its fields as they stand (a save by the shell drops the block), or its block,
    // match what the program wrote as another link.
    LinkRecord fields;
    fields.description = TextDigest(link.description);
    fields.target = TextDigest(link.rawTarget);
    fields.arguments = TextDigest(link.arguments);
    link.writtenAs = StoreRecords().WrittenAs(link.path, fields);
    if (link.writtenAs.empty() && link.recordBlock) {
        if (const auto block = RecordOfBlock(*link.recordBlock)) {
            link.writtenAs = StoreRecords().WrittenAs(link.path, *block);
        }
    }
    if (!link.writtenAs.empty()) {
        link.standing = LinkStanding::Renamed;
    }
}

const wchar_t* StandingText(LinkStanding standing) {
    switch (standing) {
    case LinkStanding::Known:
        break;
    case LinkStanding::Unknown:
        return text::kLinkUnknown;
    case LinkStanding::Renamed:
        return text::kLinkRenamed;
    }
    return L"";
}

void RequireRecordedLink(const StoreLink& link, const std::wstring& entryName) {
    if (link.standing == LinkStanding::Known) {
        return;
    }
    std::wstring reason = StandingText(link.standing);
    if (!link.writtenAs.empty()) {
        reason += FormatMessageText(text::kLinkWrittenAs, link.writtenAs);
    }
    throw EEntryRefused(FormatMessageText(text::kLinkRefused, {entryName, link.path, reason}));
}

void RequireLinkHere(const std::wstring& path, const std::wstring& entryName) {
    if (IsOnlineOnlyFile(path)) {
        throw EEntryRefused(FormatMessageText(text::kLinkRefused, {entryName, path, text::kLinkOnlineOnly}));
    }
}

std::wstring EntryNameOfLink(int code, const std::wstring& storedName, const StoreLink& link) {
    if (!IsRegistryCode(code)) {
        return EntryNameOf(storedName); // a shortcut's own bytes hold no record of ours
    }
    if (link.record) {
        return link.record->nameEncoded ? EntryNameOf(storedName) : storedName;
    }
    return ArgumentsRecord(link.description, link.arguments) ? EntryNameOf(storedName) : storedName;
}

TStoreReader::TStoreReader() = default;
TStoreReader::~TStoreReader() = default;

ULONGLONG TStoreReader::StepOf(const std::wstring& folder) {
    auto step = m_steps.find(folder);
    if (step == m_steps.end()) {
        step = m_steps.emplace(folder, FileClockStep(folder)).first;
    }
    return step->second;
}

std::shared_ptr<const StoreLink> TStoreReader::Load(int code, const WIN32_FIND_DATAW& found, const std::wstring& path,
                                                    const FILETIME& readAt, ULONGLONG step) {
    auto link = std::make_shared<StoreLink>();
    link->code = code;
    link->fileName = found.cFileName;
    link->path = path;
    link->stamp = StampOf(found);
    link->onlineOnly = IsOnlineOnly(found.dwFileAttributes);
    if (link->onlineOnly) {
        // Not opened: its name and the store's records tell what it is; its stamp tells when it came down.
        TakeStoreRecord(*link);
        link->name = EntryNameOfLink(code, link->fileName.substr(0, link->fileName.size() - 4), *link);
        link->settled = true;
        return link;
    }
    if (const auto bytes = ReadWholeFile(path, kLinkFileLimit)) {
        link->bytes = *bytes;
        // The stamp is taken again: the file may have changed between the search and the read.
        if (const auto stamp = StampAt(path)) {
            link->stamp = *stamp;
        }
        if (!m_loader) {
            m_loader = std::make_unique<TShellLink>();
        }
        ParseStoreLink(*m_loader, *link);
    }
    TakeStoreRecord(*link);
    link->name = EntryNameOfLink(code, link->fileName.substr(0, link->fileName.size() - 4), *link);
    // A link that could not be read is read again next time: nothing about its stamp tells when that works.
    link->settled = link->readWhole && !IsWithinClockStep(link->stamp.written, readAt, step);
    DropBytesKept(*link);
    return link;
}

void TStoreReader::Remember(StoreLink link) {
    Unpack();
    // Its bytes are ours; but an edit that lands within a step of the clock of our write would keep the stamp,
    // so until that step has passed the link is read again.
    link.settled = !IsWithinClockStep(link.stamp.written, SystemTimeNow(), StepOf(FolderPart(link.path)));
    const std::wstring key = FoldedName(link.path); // before the link is moved from
    DropBytesKept(link);
    m_known[key] = std::make_shared<const StoreLink>(std::move(link));
}

void TStoreReader::ForgetLink(const std::wstring& path) {
    Unpack();
    m_known.erase(FoldedName(path));
}

void TStoreReader::TakeChanges(const std::vector<int>& codes) {
    Unpack();
    // The known links are ordered by their folded paths, so each folder's stand together, by name.
    StoreLinks links;
    for (int code : codes) {
        const std::wstring folder = FoldedName(StoreFolderPath(code));
        for (auto at = m_known.lower_bound(folder);
             at != m_known.end() && at->first.compare(0, folder.size(), folder) == 0; ++at) {
            if (at->first.find(L'\\', folder.size()) == std::wstring::npos) {
                links.push_back(at->second);
            }
        }
    }
    m_links = std::move(links);
}

bool TStoreReader::Read(const std::vector<int>& codes) {
    Unpack();
    bool changed = false;
    std::map<std::wstring, std::shared_ptr<const StoreLink>> known;
    StoreLinks links;
    size_t reused = 0;
    m_others.clear();
    for (int code : codes) {
        const std::wstring folder = StoreFolderPath(code);
        const ULONGLONG step = StepOf(folder);
        std::vector<WIN32_FIND_DATAW> found;
        const FILETIME readAt = SystemTimeNow();
        ForEachMatch(folder + L"*", [&](const WIN32_FIND_DATAW& match) {
            const bool isFolder = (match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (HasLinkExtension(match.cFileName) && !isFolder) {
                found.push_back(match);
            } else if (std::wcscmp(match.cFileName, L".") != 0 && std::wcscmp(match.cFileName, L"..") != 0) {
                m_others.insert(code);
            }
        });
        std::vector<std::pair<std::wstring, const WIN32_FIND_DATAW*>> byName;
        byName.reserve(found.size());
        for (const WIN32_FIND_DATAW& match : found) {
            byName.emplace_back(FoldedName(match.cFileName), &match);
        }
        std::sort(byName.begin(), byName.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first < b.first : std::wcscmp(a.second->cFileName, b.second->cFileName) < 0;
        });
        const std::wstring foldedFolder = FoldedName(folder);
        for (const auto& [foldedName, match] : byName) {
            const std::wstring key = foldedFolder + foldedName;
            const auto previous = m_known.find(key);
            if (previous != m_known.end() && previous->second->settled && previous->second->stamp == StampOf(*match) &&
                previous->second->fileName == match->cFileName) {
                known.emplace(key, previous->second);
                links.push_back(previous->second);
                ++reused;
                continue;
            }
            auto link = Load(code, *match, folder + match->cFileName, readAt, step);
            // A link read again only because its stamp was too young to prove it unchanged (our own write, most
            // often) is no change when it holds the very bytes it held.
            const bool same = previous != m_known.end() && previous->second->fileName == match->cFileName &&
                              previous->second->readWhole && link->readWhole && SameLinkBytes(*previous->second, *link);
            if (same) {
                ++reused;
            } else {
                changed = true;
            }
            known[key] = link;
            links.push_back(std::move(link));
        }
    }
    if (reused != m_known.size()) {
        changed = true; // a link went
    }
    m_known = std::move(known);
    m_links = std::move(links);
    return changed;
}

const StoreLink* TStoreReader::Find(const std::wstring& path) const {
    Unpack();
    const auto at = m_known.find(FoldedName(path));
    return at == m_known.end() ? nullptr : at->second.get();
}

void TStoreReader::ReleaseLinkObjects() {
    m_loader.reset();
}

std::wstring StartupLinkCommandLine(const Entry& entry, TShellLink& loader) {
    if (entry.storeLinkPath.empty() || IsOnlineOnlyFile(entry.storeLinkPath)) { // not downloaded for this
        return {};
    }
    StoreLink link;
    link.path = entry.storeLinkPath;
    const auto bytes = ReadWholeFile(entry.storeLinkPath, kLinkFileLimit);
    if (!bytes) {
        return {};
    }
    link.bytes = *bytes;
    if (!ParseStoreLink(loader, link) || link.linkTarget.empty()) {
        return {};
    }
    const std::wstring target =
        link.linkTarget.find(L' ') == std::wstring::npos ? link.linkTarget : L"\"" + link.linkTarget + L"\"";
    return link.arguments.empty() ? target : target + L" " + link.arguments;
}

} // namespace bw
