// What the store's objects keep between refreshes, copied anew for TPackedHeap::Repack. A copy is made once per
// watcher cycle, next to the reads and writes of files that a cycle costs: compiled for size.
#include "platform/PackedHeap.h"
#include "store/LinkRecords.h"
#include "store/Locations.h"
#include "store/Mirror.h"
#include "store/StoreReader.h"
#include "store/StoreSession.h"
#include "store/SystemReader.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace bw {

void TStoreReader::Repack() {
    std::map<std::wstring, std::shared_ptr<const StoreLink>> known;
    for (const auto& [key, link] : m_known) {
        known.emplace_hint(known.end(), key, std::make_shared<const StoreLink>(StoreLink(*link)));
    }
    // Each link of the folders is the same one as by its path.
    StoreLinks links;
    links.reserve(m_links.size());
    for (const auto& link : m_links) {
        const auto copy = known.find(FoldedName(link->path));
        links.push_back(copy != known.end() ? copy->second : std::make_shared<const StoreLink>(StoreLink(*link)));
    }
    m_known = std::move(known);
    m_links = std::move(links);
    RepackCopy(m_steps);
    RepackCopy(m_others);
}

void TSystemReader::Repack() {
    RepackCopy(m_keys);
    RepackCopy(m_flagKeys);
    RepackCopy(m_last);
    RepackCopy(m_clockSteps);
}

void TMirror::Repack() {
    RepackCopy(m_bases);
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
