#include "store/SeenEntries.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "store/Locations.h"

#include <cstring>
#include <cwchar>
#include <utility>

namespace bw {

namespace {

// The record is UTF-16 text: a first line that names it, then one line per entry listed at the last look:
// "+" for a new entry or "-" for a seen one, its location code, the length of its name, ":" and the name (which
// may hold any character, a line break too).
constexpr const wchar_t* kFirstLine = L"Bootwarden seen entries 1\n";
constexpr size_t kRecordLimit = 16u << 20;

} // namespace

std::wstring TSeenEntries::KeyOf(int code, const std::wstring& name) {
    return std::to_wstring(code) + L"|" + FoldedName(name);
}

std::wstring TSeenEntries::KeyOf(const Entry& entry) {
    const int code = IsEnabledCode(entry.code) ? entry.code : EnabledCodeOf(entry.code);
    return KeyOf(code, entry.name);
}

void TSeenEntries::Load(const std::wstring& path) {
    m_path = path;
    m_listed.clear();
    m_hasLooked = false;
    const auto bytes = ReadWholeFile(path, kRecordLimit);
    if (!bytes || bytes->size() % sizeof(wchar_t) != 0) {
        return;
    }
    std::wstring text(bytes->size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), bytes->data(), bytes->size());
    const std::wstring first = kFirstLine;
    if (text.compare(0, first.size(), first) != 0) {
        return;
    }
    std::map<std::wstring, bool> listed;
    size_t at = first.size();
    while (at < text.size()) {
        // "+3 5:Hello\n"
        const wchar_t flag = text[at];
        const size_t blank = text.find(L' ', at);
        const size_t colon = text.find(L':', at);
        if ((flag != L'+' && flag != L'-') || blank == std::wstring::npos || colon == std::wstring::npos ||
            blank < at + 2 || colon < blank + 2) {
            return; // damaged: nothing of it is used
        }
        wchar_t* end = nullptr;
        const long code = std::wcstol(text.c_str() + at + 1, &end, 10);
        const unsigned long long length = std::wcstoull(text.c_str() + blank + 1, &end, 10);
        if (!IsValidCode(static_cast<int>(code)) || end != text.c_str() + colon || length > text.size() - colon - 1 ||
            colon + 1 + length >= text.size() || text[colon + 1 + length] != L'\n') {
            return;
        }
        listed[KeyOf(static_cast<int>(code), text.substr(colon + 1, length))] = flag == L'+';
        at = colon + 2 + length;
    }
    m_listed = std::move(listed);
    m_hasLooked = true;
}

bool TSeenEntries::Look(const std::vector<Entry>& entries) {
    std::map<std::wstring, bool> listed;
    for (const Entry& entry : entries) {
        const std::wstring key = KeyOf(entry);
        const auto before = m_listed.find(key);
        listed[key] = before != m_listed.end() ? before->second : m_hasLooked;
    }
    const bool lookedBefore = std::exchange(m_hasLooked, true);
    if (listed == m_listed && lookedBefore) {
        return false; // the same entries: nothing to write
    }
    bool newChanged = false;
    for (const auto& [key, isNew] : listed) {
        const auto before = m_listed.find(key);
        newChanged = newChanged || isNew != (before != m_listed.end() && before->second);
    }
    for (const auto& [key, isNew] : m_listed) {
        newChanged = newChanged || (isNew && listed.count(key) == 0);
    }
    m_listed = std::move(listed);
    Save();
    return newChanged;
}

bool TSeenEntries::See(const Entry& entry) {
    const auto at = m_listed.find(KeyOf(entry));
    if (at == m_listed.end() || !at->second) {
        return false;
    }
    at->second = false;
    Save();
    return true;
}

bool TSeenEntries::IsNew(const Entry& entry) const {
    const auto at = m_listed.find(KeyOf(entry));
    return at != m_listed.end() && at->second;
}

size_t TSeenEntries::NewCount() const {
    size_t count = 0;
    for (const auto& [key, isNew] : m_listed) {
        count += isNew ? 1 : 0;
    }
    return count;
}

void TSeenEntries::Save() const {
    if (m_path.empty()) {
        return;
    }
    std::wstring text = kFirstLine;
    for (const auto& [key, isNew] : m_listed) {
        const size_t bar = key.find(L'|');
        const std::wstring name = key.substr(bar + 1);
        text += (isNew ? L"+" : L"-") + key.substr(0, bar) + L" " + std::to_wstring(name.size()) + L":" + name + L"\n";
    }
    std::string bytes(text.size() * sizeof(wchar_t), '\0');
    std::memcpy(bytes.data(), text.data(), bytes.size());
    if (m_writer != nullptr) {
        m_writer(m_path, bytes);
        return;
    }
    try {
        // Losing the record loses nothing but marks, so it need not reach the disk before it takes the name.
        WriteFileReplacing(m_path, bytes, false);
    } catch (const EBootwarden&) {
        // A folder the user may not write: the marks hold for this run only.
    }
}

} // namespace bw
