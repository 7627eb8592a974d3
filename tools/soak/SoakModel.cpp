#include "tools/soak/SoakModel.h"

#include <cwctype>

namespace soak {

namespace {

const wchar_t* PlaceName(Place place) {
    switch (place) {
    case Place::System:
        return L"in the system";
    case Place::Switched:
        return L"switched off in the store";
    case Place::Mirror:
        return L"in an enabled store folder";
    }
    return L"";
}

std::wstring EntryText(bw::Location location, const std::wstring& name) {
    return L"[" + std::to_wstring(static_cast<int>(location)) + L"] \"" + name + L"\"";
}

std::wstring Choices(const ModelEntry& entry) {
    std::wstring text;
    for (const auto* set : {&entry.allowed, &entry.pendingEdits}) {
        for (const Content& content : *set) {
            text += (text.empty() ? L"" : L" or ") + Describe(content);
        }
    }
    return text.empty() ? L"nothing" : text;
}

// The name an entry of `name` is kept under while it waits for its name: "name(1)", "name(2)"...; "" when
// `name` is no such name.
std::wstring WaitingBaseName(const std::wstring& name) {
    if (name.size() < 4 || name.back() != L')') {
        return L"";
    }
    const size_t open = name.rfind(L'(');
    if (open == std::wstring::npos || open == 0 || open + 2 >= name.size()) {
        return L"";
    }
    for (size_t i = open + 1; i + 1 < name.size(); ++i) {
        if (!std::iswdigit(name[i])) {
            return L"";
        }
    }
    return name.substr(0, open);
}

} // namespace

void TModel::Changed(bw::Location location, const std::wstring& name, const Content& content, bool mayBeTwin) {
    ModelEntry& entry = m_entries[KeyOf(location, name)];
    entry.location = location;
    entry.name = name;
    entry.allowed.insert(content);
    entry.twinAllowed = entry.twinAllowed || mayBeTwin;
}

void TModel::EditedInStore(bw::Location location, const std::wstring& name, const Content& content) {
    const auto found = m_entries.find(KeyOf(location, name));
    if (found == m_entries.end()) {
        return;
    }
    // The write-back keeps the type of the value it writes into (Windows expands references only in an
    // expandable one), whatever the edited line holds; and enabling takes the type the link records.
    ModelEntry& entry = found->second;
    std::set<DWORD> types{content.type};
    for (const Content& held : entry.allowed) {
        types.insert(held.type);
    }
    for (DWORD type : types) {
        entry.pendingEdits.insert({type, content.text});
    }
}

void TModel::Deleted(bw::Location location, const std::wstring& name) {
    const auto found = m_entries.find(KeyOf(location, name));
    if (found != m_entries.end()) {
        found->second.mayBeGone = true;
    }
}

const ModelEntry* TModel::Find(bw::Location location, const std::wstring& name) const {
    const auto found = m_entries.find(KeyOf(location, name));
    return found == m_entries.end() ? nullptr : &found->second;
}

std::vector<const ModelEntry*> TModel::Entries(bool switchedOff) const {
    std::vector<const ModelEntry*> entries;
    for (const auto& [key, entry] : m_entries) {
        if (!switchedOff || entry.seenOff) {
            entries.push_back(&entry);
        }
    }
    return entries;
}

std::vector<std::wstring> TModel::Check(const Observation& seen) {
    std::vector<std::wstring> violations;
    std::map<EntryKey, std::vector<const Instance*>> found;
    std::map<EntryKey, std::vector<const Instance*>> mirrors;
    for (const Instance& instance : seen.instances) {
        auto& into = instance.place == Place::Mirror ? mirrors : found;
        into[KeyOf(instance.location, instance.name)].push_back(&instance);
    }

    // An entry that nobody made, unless it is one kept under a waiting name while two of one name change places.
    for (const auto& [key, instances] : found) {
        if (m_entries.count(key) != 0) {
            continue;
        }
        const Instance& first = *instances.front();
        const std::wstring base = WaitingBaseName(first.name);
        const ModelEntry* of = base.empty() ? nullptr : Find(first.location, base);
        bool adopted = of != nullptr;
        for (const Instance* instance : instances) {
            adopted = adopted && instance->content &&
                      (of->allowed.count(*instance->content) != 0 || of->pendingEdits.count(*instance->content) != 0);
        }
        if (!adopted) {
            violations.push_back(L"an entry that nobody made: " + EntryText(first.location, first.name) + L" " +
                                 PlaceName(first.place) + L", " +
                                 (first.content ? Describe(*first.content) : L"not readable"));
            continue;
        }
        ModelEntry entry = *of;
        entry.name = first.name;
        entry.mayBeGone = true; // checked below against what it came from
        m_entries[key] = entry;
    }

    for (auto it = m_entries.begin(); it != m_entries.end();) {
        ModelEntry& entry = it->second;
        const auto instances = found.find(it->first);
        if (instances == found.end()) {
            if (!entry.mayBeGone) {
                violations.push_back(L"lost: " + EntryText(entry.location, entry.name) +
                                     L" is neither in the system nor switched off; it held " + Choices(entry));
            }
            it = m_entries.erase(it);
            continue;
        }
        int inSystem = 0;
        int switchedOff = 0;
        std::set<Content> now;
        for (const Instance* instance : instances->second) {
            (instance->place == Place::System ? inSystem : switchedOff) += 1;
            if (!instance->content) {
                violations.push_back(L"not whole: " + EntryText(entry.location, entry.name) + L" " +
                                     PlaceName(instance->place) + L" cannot be read (" + instance->path + L")");
                continue;
            }
            if (entry.allowed.count(*instance->content) == 0 && entry.pendingEdits.count(*instance->content) == 0) {
                violations.push_back(L"changed: " + EntryText(entry.location, entry.name) + L" " +
                                     PlaceName(instance->place) + L" holds " + Describe(*instance->content) +
                                     L"; it may hold " + Choices(entry));
            }
            now.insert(*instance->content);
        }
        if (inSystem > 0 && switchedOff > 0 && !entry.twinAllowed) {
            violations.push_back(L"twice: " + EntryText(entry.location, entry.name) +
                                 L" is in the system and switched off, and nothing added it again");
        }
        // What the check found is where the next changes start from; an edit still in the store may come yet.
        std::set<Content> pending;
        const auto mirror = mirrors.find(it->first);
        if (mirror != mirrors.end()) {
            for (const Instance* instance : mirror->second) {
                for (const Content& edit : entry.pendingEdits) {
                    if (instance->content && instance->content->text == edit.text) {
                        pending.insert(edit);
                    }
                }
            }
        }
        if (!now.empty()) {
            entry.allowed = now;
        }
        entry.pendingEdits = pending;
        entry.mayBeGone = false;
        entry.twinAllowed = inSystem > 0 && switchedOff > 0;
        entry.seenOff = switchedOff > 0;
        ++it;
    }

    for (const auto& [code, names] : seen.duplicates) {
        for (const std::wstring& name : names) {
            violations.push_back(L"two store links for one entry: \"" + name + L"\" in " + bw::StoreFolder(code));
        }
    }
    return violations;
}

} // namespace soak
