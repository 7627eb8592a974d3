#pragma once

#include "platform/PackedHeap.h"
#include "store/CommandLine.h"
#include "store/Entry.h"
#include "store/History.h"
#include "store/Locations.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace bw {

// What started as the watcher's last cycle read it, kept between cycles as two digests an entry (of its place and
// name, and of what it starts) in one block: the watcher only asks of each entry whether it is new or starts
// something else now, and the texts stand in the store's session already.
class TStartingEntries {
public:
    // How an enabled entry stands against the last Take.
    enum class Standing { Same, Added, Changed };

    Standing Of(const Entry& entry) const {
        const Kept kept{KeyDigest(entry.code, entry.name), TextDigest(StartOf(entry))};
        const auto found = std::lower_bound(m_kept.begin(), m_kept.end(), kept, Before);
        if (found == m_kept.end() || found->key != kept.key) {
            return Standing::Added;
        }
        return found->start == kept.start ? Standing::Same : Standing::Changed;
    }

    // Keeps the enabled ones of `entries` as what now starts, in place of what was kept.
    void Take(const std::vector<Entry>& entries) {
        std::vector<Kept> kept;
        kept.reserve(static_cast<size_t>(
            std::count_if(entries.begin(), entries.end(), [](const Entry& entry) { return IsEnabledCode(entry.code); })));
        for (const Entry& entry : entries) {
            if (IsEnabledCode(entry.code)) {
                kept.push_back({KeyDigest(entry.code, entry.name), TextDigest(StartOf(entry))});
            }
        }
        std::sort(kept.begin(), kept.end(), Before);
        m_kept = std::move(kept);
    }

    // Copies what is kept anew, for TPackedHeap::Repack.
    void Repack() { RepackCopy(m_kept); }

    // The bytes kept between cycles (for the tests).
    size_t KeptBytes() const { return m_kept.capacity() * sizeof(Kept); }

private:
    struct Kept {
        std::uint64_t key;
        std::uint64_t start;
    };
    static bool Before(const Kept& a, const Kept& b) { return a.key < b.key; }
    // The place and the name in one digest: the store's digest of the text "code|name".
    static std::uint64_t KeyDigest(int code, const std::wstring& name) {
        return TextDigest(std::to_wstring(code) + L"|" + name);
    }

    std::vector<Kept> m_kept; // by key
};

} // namespace bw
