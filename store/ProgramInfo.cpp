#include "store/ProgramInfo.h"

#include "platform/VersionInfo.h"
#include "resources/Texts.h"

#include <set>

namespace bw {

ProgramInfo TProgramInfoCache::Of(const std::wstring& path) {
    bool pending = false;
    return Look(path, true, pending);
}

ProgramInfo TProgramInfoCache::Look(const std::wstring& path, bool mayRead, bool& pending) {
    if (path.empty()) {
        return {};
    }
    const std::optional<FileStamp> stamp = StampAt(path);
    const std::wstring key = FoldedName(path);
    if (!stamp) {
        m_known.erase(key);
        return {};
    }
    if ((stamp->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return ProgramInfo{true, {}, {}}; // a folder (a shortcut may start one) is there, but names nobody
    }
    const auto known = m_known.find(key);
    if (known != m_known.end() && known->second.stamp == *stamp) {
        return known->second.info;
    }
    if (!mayRead) {
        pending = true;
        return ProgramInfo{true, {}, {}};
    }
    // New to the cache, or changed since it was read (an update replaced it): its resource is read (again).
    ProgramInfo info;
    info.found = true;
    if (const auto strings = ReadVersionStrings(path)) {
        info.publisher = strings->companyName;
        info.description = strings->fileDescription;
    }
    m_known[key] = Known{*stamp, info};
    return info;
}

bool TProgramInfoCache::Fill(std::vector<Entry>& entries, DWORD budgetMs) {
    // A first start with hundreds of programs reads for seconds; with a budget, the window answers meanwhile.
    const ULONGLONG start = ::GetTickCount64();
    bool pending = false;
    std::map<std::wstring, ProgramInfo> looked; // by folded path: this call's answers
    for (Entry& entry : entries) {
        const std::wstring key = FoldedName(entry.target);
        auto answer = looked.find(key);
        if (answer == looked.end()) {
            const bool mayRead = budgetMs == 0 || ::GetTickCount64() - start < budgetMs;
            answer = looked.emplace(key, Look(entry.target, mayRead, pending)).first;
        }
        const ProgramInfo& info = answer->second;
        entry.publisher = info.found ? info.publisher : std::wstring(text::kProgramNotFound);
        entry.fileDescription = info.description;
    }
    for (auto known = m_known.begin(); known != m_known.end();) {
        known = looked.count(known->first) != 0 ? std::next(known) : m_known.erase(known);
    }
    return !pending;
}

} // namespace bw
