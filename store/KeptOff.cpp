#include "store/KeptOff.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "resources/Texts.h"
#include "store/EntryOperations.h"
#include "store/ErrorText.h"
#include "store/Locations.h"
#include "store/StoreData.h"

#include <cwchar>
#include <optional>
#include <set>
#include <utility>

namespace bw {

namespace {

using Mark = std::pair<int, std::wstring>;

constexpr size_t kKeptOffLimit = 1024 * 1024;
// The file's first line: a file without it is not this program's and is never written over.
constexpr const wchar_t* kKeptOffHeader = L"Bootwarden kept off 1\n";

// The marks, or nothing when the file is there but cannot be read whole or is not well formed. Per mark: its code,
// the length of its name and the name (any character), in UTF-16.
std::optional<std::set<Mark>> ReadMarks() {
    const std::wstring path = StoreDataFile(kKeptOffFile);
    if (!PathExists(path)) {
        return std::set<Mark>();
    }
    if (IsLink(path)) {
        return std::nullopt;
    }
    const auto bytes = ReadWholeFile(path, kKeptOffLimit);
    if (!bytes || bytes->size() % sizeof(wchar_t) != 0) {
        return std::nullopt;
    }
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes->data()), bytes->size() / sizeof(wchar_t));
    const std::wstring header = kKeptOffHeader;
    if (text.compare(0, header.size(), header) != 0) {
        return std::nullopt;
    }
    std::set<Mark> marks;
    size_t at = header.size();
    while (at < text.size()) {
        wchar_t* end = nullptr;
        const long code = std::wcstol(text.c_str() + at, &end, 10);
        if (end == text.c_str() + at || *end != L' ') {
            return std::nullopt;
        }
        at = static_cast<size_t>(end - text.c_str()) + 1;
        const unsigned long length = std::wcstoul(text.c_str() + at, &end, 10);
        if (end == text.c_str() + at || *end != L' ') {
            return std::nullopt;
        }
        at = static_cast<size_t>(end - text.c_str()) + 1;
        if (length >= text.size() - at || text[at + length] != L'\n') {
            return std::nullopt;
        }
        marks.insert({static_cast<int>(code), text.substr(at, length)});
        at += length + 1;
    }
    return marks;
}

} // namespace

bool IsKeptOff(int disabledCode, const std::wstring& name) {
    const auto marks = ReadMarks();
    return marks && marks->count({disabledCode, name}) > 0;
}

void MarkKeptOff(const Entry& entry, bool keep) {
    if (keep && IsEnabledCode(entry.code)) {
        throw EEntryRefused(FormatMessageText(text::kKeepOffNotSwitchedOff, VisibleName(entry.name)));
    }
    if (keep) {
        // The watcher could not take it out again here: the person is told now, not when it comes back.
        RequireRightsToTakeOut(EnabledCodeOf(entry.code), entry.name);
    }
    const std::wstring path = StoreDataFile(kKeptOffFile);
    std::optional<std::set<Mark>> marks = ReadMarks();
    if (!marks) {
        throw EEntryRefused(FormatMessageText(text::kKeepOffFileNotOurs, path));
    }
    const Mark mark{DisabledCodeOf(entry.code), entry.name};
    if ((marks->count(mark) > 0) == keep) {
        return; // as asked already: nothing is written
    }
    if (keep) {
        marks->insert(mark);
    } else {
        marks->erase(mark);
    }
    std::wstring text = kKeptOffHeader;
    for (const Mark& one : *marks) {
        text += std::to_wstring(one.first) + L" " + std::to_wstring(one.second.size()) + L" " + one.second + L"\n";
    }
    WriteFileReplacing(path, std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
}

std::vector<KeptOffFinding> KeepOffReAdded(const std::vector<Entry>& entries) {
    std::vector<KeptOffFinding> findings;
    const auto marks = ReadMarks();
    if (!marks || marks->empty()) {
        return findings;
    }
    std::set<Mark> switchedOff;
    for (const Entry& entry : entries) {
        if (!IsEnabledCode(entry.code) && marks->count({entry.code, entry.name}) > 0) {
            switchedOff.insert({entry.code, entry.name});
        }
    }
    for (const Entry& entry : entries) {
        // A place listed read-only keeps nothing switched off (DisabledCodeOf refuses it): nothing of it is kept off.
        if (!IsEnabledCode(entry.code) || IsReadOnlyCode(entry.code) ||
            switchedOff.count({DisabledCodeOf(entry.code), entry.name}) == 0) {
            continue;
        }
        try {
            const bool removed = RemoveReAddedTwin(entry);
            findings.push_back({removed ? KeptOffFinding::SwitchedOffAgain : KeptOffFinding::CameBack, entry, L""});
        } catch (const EBootwarden& error) {
            findings.push_back({KeptOffFinding::NotChanged, entry, ErrorText(error)});
        }
    }
    return findings;
}

} // namespace bw
