#include "store/History.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "store/Locations.h"
#include "store/StoreData.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>
#include <optional>

namespace bw {

namespace {

// The file is UTF-16 text: a first line that names it, then one line per change, oldest first, its fields
// parted by tabs: the time (a FILETIME as a decimal number), the change's word, who made it, the location code,
// the name and what it starts. A backslash, tab, line break, carriage return or zero in a name or a command line
// is written as "\\", "\t", "\n", "\r" or "\0", so that any name stays on its line.
constexpr const wchar_t* kFirstLine = L"Bootwarden history 1\n";

constexpr HistoryChange kChanges[] = {HistoryChange::Added,       HistoryChange::Changed,    HistoryChange::Removed,
                                      HistoryChange::SwitchedOff, HistoryChange::SwitchedOn, HistoryChange::Deleted};
constexpr HistoryActor kActors[] = {HistoryActor::Window, HistoryActor::Cli, HistoryActor::Watcher,
                                    HistoryActor::Outside};

std::wstring Escaped(const std::wstring& text) {
    std::wstring escaped;
    escaped.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
        case L'\\':
            escaped += L"\\\\";
            break;
        case L'\t':
            escaped += L"\\t";
            break;
        case L'\n':
            escaped += L"\\n";
            break;
        case L'\r':
            escaped += L"\\r";
            break;
        case L'\0':
            escaped += L"\\0";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::optional<std::wstring> Unescaped(const std::wstring& text) {
    std::wstring plain;
    plain.reserve(text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] != L'\\') {
            plain += text[at];
            continue;
        }
        if (++at == text.size()) {
            return std::nullopt;
        }
        switch (text[at]) {
        case L'\\':
            plain += L'\\';
            break;
        case L't':
            plain += L'\t';
            break;
        case L'n':
            plain += L'\n';
            break;
        case L'r':
            plain += L'\r';
            break;
        case L'0':
            plain += L'\0';
            break;
        default:
            return std::nullopt;
        }
    }
    return plain;
}

std::wstring LineOf(const HistoryLine& line) {
    return std::to_wstring(line.time) + L"\t" + HistoryChangeWord(line.change) + L"\t" + HistoryActorWord(line.by) +
           L"\t" + std::to_wstring(line.code) + L"\t" + Escaped(line.name) + L"\t" + Escaped(line.start) + L"\n";
}

std::optional<HistoryLine> ParseLine(const std::wstring& text) {
    std::vector<std::wstring> fields;
    size_t from = 0;
    for (size_t tab = text.find(L'\t'); tab != std::wstring::npos; tab = text.find(L'\t', from)) {
        fields.push_back(text.substr(from, tab - from));
        from = tab + 1;
    }
    fields.push_back(text.substr(from));
    if (fields.size() != 6 || fields[0].empty() || fields[3].empty()) {
        return std::nullopt;
    }
    HistoryLine line;
    wchar_t* end = nullptr;
    line.time = std::wcstoull(fields[0].c_str(), &end, 10);
    if (*end != L'\0') {
        return std::nullopt;
    }
    line.code = static_cast<int>(std::wcstol(fields[3].c_str(), &end, 10));
    if (*end != L'\0' || !IsValidCode(line.code)) {
        return std::nullopt;
    }
    bool known = false;
    for (HistoryChange change : kChanges) {
        if (fields[1] == HistoryChangeWord(change)) {
            line.change = change;
            known = true;
        }
    }
    bool actor = false;
    for (HistoryActor by : kActors) {
        if (fields[2] == HistoryActorWord(by)) {
            line.by = by;
            actor = true;
        }
    }
    const auto name = Unescaped(fields[4]);
    const auto start = Unescaped(fields[5]);
    if (!known || !actor || !name || !start) {
        return std::nullopt;
    }
    line.name = *name;
    line.start = *start;
    return line;
}

// The file's lines after its first, as they stand (a line this version cannot read is kept as it is); nothing
// when the file is there but cannot be read whole or is not a history; no lines when it is not there.
std::optional<std::vector<std::wstring>> ReadLines() {
    const std::wstring path = HistoryFile();
    if (!PathExists(path)) {
        return std::vector<std::wstring>();
    }
    // Twice the limit: what the program wrote never holds more, so a larger file is not one of its histories.
    const auto bytes = ReadWholeFile(path, 2 * kHistoryLimit);
    if (!bytes || bytes->size() % sizeof(wchar_t) != 0) {
        return std::nullopt;
    }
    std::wstring text(bytes->size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), bytes->data(), bytes->size());
    const std::wstring first = kFirstLine;
    if (text.compare(0, first.size(), first) != 0) {
        return std::nullopt;
    }
    std::vector<std::wstring> lines;
    size_t at = first.size();
    while (at < text.size()) {
        const size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos) {
            return std::nullopt; // every line the program writes ends: this file is not as it wrote it
        }
        lines.push_back(text.substr(at, end - at + 1));
        at = end + 1;
    }
    return lines;
}

std::wstring HistoryKey(const HistoryLine& line) {
    return std::to_wstring(EnabledCodeOf(line.code)) + L"|" + FoldedName(line.name);
}

// Whether the front end's change `door` left the entry as an import finds it now (`found`).
bool LeavesAsFound(const HistoryLine& door, const HistoryLine& found) {
    if (found.change == HistoryChange::Removed) {
        return door.change == HistoryChange::SwitchedOff || door.change == HistoryChange::Deleted ||
               door.change == HistoryChange::Removed;
    }
    return (door.change == HistoryChange::Added || door.change == HistoryChange::Changed ||
            door.change == HistoryChange::SwitchedOn) &&
           door.start == found.start;
}

} // namespace

bool HistoryLine::operator==(const HistoryLine& other) const {
    return time == other.time && change == other.change && by == other.by && code == other.code && name == other.name &&
           start == other.start;
}

std::wstring HistoryFile() {
    return StoreDataFile(kHistoryFile);
}

std::wstring StartOf(const std::wstring& target, const std::wstring& arguments) {
    const std::wstring quoted = target.find(L' ') == std::wstring::npos ? target : L"\"" + target + L"\"";
    return arguments.empty() ? quoted : quoted + L" " + arguments;
}

std::wstring StartOf(const Entry& entry) {
    return IsRegistryCode(entry.code) ? entry.description : StartOf(entry.target, entry.arguments);
}

std::uint64_t HistoryTimeNow() {
    const FILETIME now = SystemTimeNow();
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

void RecordHistory(const std::vector<HistoryLine>& lines) {
    if (lines.empty() || IsStoreReadOnly()) {
        return;
    }
    auto kept = ReadLines();
    if (!kept) {
        return; // a file that was not read whole is never written over
    }
    for (const HistoryLine& line : lines) {
        kept->push_back(LineOf(line));
    }
    // The oldest lines go first, until the file fits in its limit.
    size_t size = std::wcslen(kFirstLine);
    for (const std::wstring& line : *kept) {
        size += line.size();
    }
    size_t first = 0;
    while (first < kept->size() && size * sizeof(wchar_t) > kHistoryLimit) {
        size -= (*kept)[first++].size();
    }
    std::wstring text = kFirstLine;
    text.reserve(size);
    for (size_t at = first; at < kept->size(); ++at) {
        text += (*kept)[at];
    }
    std::string bytes(text.size() * sizeof(wchar_t), '\0');
    std::memcpy(bytes.data(), text.data(), bytes.size());
    try {
        WriteFileReplacing(HistoryFile(), bytes); // reaches the disk before it takes the name: it cannot be made again
    } catch (const EBootwarden&) {
        // A folder that cannot be written now: the change stands, its line is missing.
    }
}

bool HistoryStarted() {
    return PathExists(HistoryFile());
}

void StartHistory() {
    if (IsStoreReadOnly() || HistoryStarted()) {
        return;
    }
    const std::wstring text = kFirstLine;
    std::string bytes(text.size() * sizeof(wchar_t), '\0');
    std::memcpy(bytes.data(), text.data(), bytes.size());
    try {
        WriteFileReplacing(HistoryFile(), bytes);
    } catch (const EBootwarden&) {
        // Tried again at the next import.
    }
}

std::vector<HistoryLine> ReadHistory() {
    std::vector<HistoryLine> history;
    const auto lines = ReadLines();
    if (!lines) {
        return history;
    }
    for (auto line = lines->rbegin(); line != lines->rend(); ++line) {
        if (auto parsed = ParseLine(line->substr(0, line->size() - 1))) {
            history.push_back(std::move(*parsed));
        }
    }
    return history;
}

const wchar_t* HistoryChangeWord(HistoryChange change) {
    switch (change) {
    case HistoryChange::Added:
        return L"added";
    case HistoryChange::Changed:
        return L"changed";
    case HistoryChange::Removed:
        return L"removed";
    case HistoryChange::SwitchedOff:
        return L"switched-off";
    case HistoryChange::SwitchedOn:
        return L"switched-on";
    case HistoryChange::Deleted:
        return L"deleted";
    }
    return L"";
}

const wchar_t* HistoryActorWord(HistoryActor actor) {
    switch (actor) {
    case HistoryActor::Window:
        return L"window";
    case HistoryActor::Cli:
        return L"bwcli";
    case HistoryActor::Watcher:
        return L"watcher";
    case HistoryActor::Outside:
        return L"outside";
    }
    return L"";
}

std::wstring HistoryTimeText(std::uint64_t time) {
    FILETIME fileTime{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    SYSTEMTIME utc{};
    if (!::FileTimeToSystemTime(&fileTime, &utc)) {
        return std::to_wstring(time);
    }
    wchar_t text[32];
    std::swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute,
                  utc.wSecond);
    return text;
}

TDoorsOwn::TDoorsOwn() {
    for (HistoryLine& line : ReadHistory()) { // newest first
        m_newest.emplace(HistoryKey(line), std::move(line));
    }
}

bool TDoorsOwn::operator()(const HistoryLine& found) const {
    const auto last = m_newest.find(HistoryKey(found));
    return last != m_newest.end() && last->second.by != HistoryActor::Outside && LeavesAsFound(last->second, found);
}

} // namespace bw
