#pragma once

#include "tools/soak/SoakWorld.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace soak {

// What the soak knows of one entry: every content it may legitimately hold now. A check with nothing running
// narrows that to what it found (and to edits of store links still waiting in the store); every change made
// since widens it again, so that a program ended at any instant may have carried a change or not.
struct ModelEntry {
    bw::Location location = bw::Location::User;
    std::wstring name;
    std::set<Content> allowed;
    std::set<Content> pendingEdits; // edits of its enabled store link that the program may still carry
    bool mayBeGone = false;         // deleted since the last check: it may be anywhere or nowhere
    bool twinAllowed = false;       // may be in its system place and switched off at once (re-added outside)
    bool seenOff = false;           // the last check found it switched off in the store
};

class TModel {
public:
    // An entry as it was made, or changed outside (its new content added to what it may hold).
    void Changed(bw::Location location, const std::wstring& name, const Content& content, bool mayBeTwin);
    void EditedInStore(bw::Location location, const std::wstring& name, const Content& content);
    void Deleted(bw::Location location, const std::wstring& name);
    const ModelEntry* Find(bw::Location location, const std::wstring& name) const;
    // The entries, for choosing one at random; with `switchedOff`, those the last check found switched off.
    std::vector<const ModelEntry*> Entries(bool switchedOff = false) const;
    size_t Size() const { return m_entries.size(); }

    // Compares what was seen with what may be, says every difference (one line each), and takes what was seen
    // as the new starting point.
    std::vector<std::wstring> Check(const Observation& seen);

private:
    std::map<EntryKey, ModelEntry> m_entries;
};

} // namespace soak
