#pragma once

#include "store/EntryOperations.h"
#include "store/StoreData.h"

#include <map>
#include <string>
#include <vector>

namespace bw {

// Which entries the user has seen. Each look at the entries (a refresh that lists them) takes every entry that
// the look before did not list as new, until the user has seen it; entries that are gone drop out. The last
// look and its new entries are kept between runs in a small file beside the program, so that an entry that
// came while the program was closed is new at the next start. An entry keeps its place in this record while
// it is switched on and off: its location counts, not whether it is enabled.
class TSeenEntries {
public:
    // Reads the record at `path`. A missing or damaged record is no error: the first look then takes every
    // entry it finds as seen.
    void Load(const std::wstring& path);

    // Takes a look at `entries`. True when the new entries changed (one came or went); the record is then
    // written again.
    bool Look(const std::vector<Entry>& entries);

    // The user has seen `entry`. True when it was new; the record is then written again.
    bool See(const Entry& entry);

    bool IsNew(const Entry& entry) const;
    size_t NewCount() const;

    // Writes the record: by default here and now (WriteFileReplacing); a front end whose store lies on another
    // machine hands it to a writer that keeps nobody waiting. The writer leaves a file it cannot write as it was.
    using Writer = void (*)(const std::wstring& path, const std::string& bytes);
    void WriteThrough(Writer writer) { m_writer = writer; }

private:
    static std::wstring KeyOf(const Entry& entry);
    static std::wstring KeyOf(int code, const std::wstring& name);
    void Save() const;

    std::wstring m_path;
    Writer m_writer = nullptr;
    bool m_hasLooked = false;              // the record held a last look, or this run made one
    std::map<std::wstring, bool> m_listed; // by key: listed at the last look, and new
};

} // namespace bw
