#include "cli/EntryFormats.h"

#include "cli/Output.h"
#include "platform/FileSystem.h"
#include "resources/Texts.h"
#include "store/Entry.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cwchar>

namespace bw::cli {

namespace {

// The JSON's format number: raised only if a field ever had to change its meaning.
constexpr int kJsonFormat = 1;

const wchar_t* StateOf(const ListedEntry& entry) {
    return !entry.enabled               ? text::kCliStateOff
           : entry.switchedOffInWindows ? text::kCliStateOffInWindows
                                        : text::kCliStateOn;
}

std::wstring Padded(const std::wstring& text, size_t width) {
    return text + std::wstring(width > text.size() ? width - text.size() : 0, L' ');
}

// A spreadsheet takes a cell that begins with one of these for a formula (a tab or a carriage return before one
// is passed over); a leading "'" makes it text.
bool ReadsAsFormula(const std::wstring& field) {
    return !field.empty() && std::wcschr(L"=+-@\t\r", field.front()) != nullptr && field.front() != L'\0';
}

std::wstring CsvField(const std::wstring& field) {
    std::wstring cell = ReadsAsFormula(field) ? L"'" : L"";
    for (wchar_t c : field) {
        // A control character (a line break among them) would hide in a cell or split the row.
        cell += c < 0x20 ? static_cast<wchar_t>(0x2400 + c) : c == 0x7F ? L'\u2421' : c;
    }
    if (cell.find_first_of(L",\"") == std::wstring::npos) {
        return cell;
    }
    std::wstring quoted = L"\"";
    for (wchar_t c : cell) {
        quoted += c;
        if (c == L'"') {
            quoted += L'"';
        }
    }
    return quoted + L"\"";
}

bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Characters that a file name cannot hold, written in an id as "%" and four hexadecimal digits (as in a store
// link's encoded name), and the "%" itself.
bool EscapedInId(wchar_t c) {
    return c < 0x20 || std::wcschr(L"\\/:*?\"<>|%", c) != nullptr;
}

constexpr wchar_t kIdSeparator = L':';
constexpr wchar_t kEncodedMark = L'=';

// The texts of a document whose lone surrogates are written as escapes: each becomes a private-use character that
// no text of the document holds, followed by its four hexadecimal digits, which the written document then turns
// into "\uXXXX".
class TLoneSurrogates {
public:
    explicit TLoneSurrogates(const std::vector<ListedEntry>& entries) {
        std::wstring all;
        for (const ListedEntry& entry : entries) {
            for (const std::wstring* text : {&entry.name, &entry.commandLine, &entry.target, &entry.problem,
                                             &entry.storeLink, &entry.publisher, &entry.description, &entry.id}) {
                all += *text;
            }
        }
        ChooseMark(all);
    }
    explicit TLoneSurrogates(const std::vector<ListedChange>& changes) {
        std::wstring all;
        for (const ListedChange& change : changes) {
            all += change.name + change.commandLine + change.id;
        }
        ChooseMark(all);
    }

    void ChooseMark(const std::wstring& all) {
        for (wchar_t c = 0xE000; c < 0xF8FF && m_mark == 0; ++c) {
            if (all.find(c) == std::wstring::npos) {
                m_mark = c;
            }
        }
    }

    std::string Utf8(const std::wstring& text) {
        std::wstring marked;
        for (size_t i = 0; i < text.size(); ++i) {
            const wchar_t c = text[i];
            if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
                marked += c;
                marked += text[++i];
            } else if ((IsHighSurrogate(c) || IsLowSurrogate(c)) && m_mark != 0) {
                wchar_t digits[8];
                std::swprintf(digits, 8, L"%04x", static_cast<unsigned>(c));
                marked += m_mark;
                marked += digits;
                m_used = true;
            } else {
                marked += c;
            }
        }
        return Utf8Of(marked);
    }

    std::string Written(std::string document) const {
        if (!m_used) {
            return document;
        }
        const std::string mark = Utf8Of(std::wstring(1, m_mark));
        for (size_t at = document.find(mark); at != std::string::npos; at = document.find(mark, at)) {
            document.replace(at, mark.size(), "\\u");
            at += 2;
        }
        return document;
    }

private:
    wchar_t m_mark = 0;
    bool m_used = false;
};

const wchar_t* CsvBool(bool value) {
    return value ? L"true" : L"false";
}

// Rows under their headers, each column as wide as its widest cell but the last, which runs to the line's end.
std::wstring Columns(const std::vector<std::wstring>& headers, const std::vector<std::vector<std::wstring>>& rows) {
    std::vector<size_t> widths(headers.size() - 1);
    for (size_t column = 0; column < widths.size(); ++column) {
        widths[column] = headers[column].size();
        for (const auto& row : rows) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    const auto line = [&](const std::vector<std::wstring>& cells) {
        std::wstring text;
        for (size_t column = 0; column < widths.size(); ++column) {
            text += Padded(cells[column], widths[column]) + L"  ";
        }
        text += cells.back();
        while (!text.empty() && text.back() == L' ') {
            text.pop_back();
        }
        return text + L"\n";
    };
    std::wstring table = line(headers);
    for (const auto& row : rows) {
        table += line(row);
    }
    return table;
}

} // namespace

std::wstring LocationKeyOf(int code) {
    return LocationKey(LocationOf(code));
}

std::wstring LocationKey(Location location) {
    return InfoOf(location).word;
}

std::optional<Location> LocationOfKey(const std::wstring& key) {
    const std::wstring folded = FoldedName(key);
    for (const LocationInfo& info : kLocations) {
        if (folded == FoldedName(info.word)) {
            return info.location;
        }
    }
    return std::nullopt;
}

std::wstring EntryIdOf(int code, const std::wstring& name) {
    std::wstring stored = StoredNameOf(name).value_or(std::wstring());
    if (stored.empty() && !name.empty()) {
        // Too long for a file name: spelt as one would be all the same.
        stored = kEncodedMark;
        for (wchar_t c : name) {
            wchar_t escape[8];
            std::swprintf(escape, 8, L"%%%04X", static_cast<unsigned>(c));
            stored += EscapedInId(c) ? std::wstring(escape) : std::wstring(1, c);
        }
    }
    return LocationKeyOf(code) + kIdSeparator + stored;
}

std::optional<EntryId> ParseEntryId(const std::wstring& id) {
    const size_t separator = id.find(kIdSeparator);
    if (separator == std::wstring::npos) {
        return std::nullopt;
    }
    const auto location = LocationOfKey(id.substr(0, separator));
    const std::wstring stored = id.substr(separator + 1);
    if (!location || std::any_of(stored.begin(), stored.end(), [](wchar_t c) { return c < 0x20 || c == L':'; })) {
        return std::nullopt;
    }
    if (stored.empty() || stored.front() != kEncodedMark) {
        return EntryId{*location, stored};
    }
    std::wstring name;
    for (size_t at = 1; at < stored.size(); ++at) {
        if (stored[at] != L'%') {
            name += stored[at];
            continue;
        }
        if (at + 4 >= stored.size()) {
            return std::nullopt;
        }
        unsigned value = 0;
        for (size_t digit = at + 1; digit <= at + 4; ++digit) {
            const wchar_t c = stored[digit];
            const int nibble = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
            if (nibble < 0) {
                return std::nullopt;
            }
            value = value * 16 + static_cast<unsigned>(nibble);
        }
        name += static_cast<wchar_t>(value);
        at += 4;
    }
    return EntryId{*location, name};
}

std::wstring TableOf(const std::vector<ListedEntry>& entries) {
    if (entries.empty()) {
        return std::wstring(text::kCliNoEntries) + L"\n";
    }
    std::vector<std::vector<std::wstring>> rows;
    for (const ListedEntry& entry : entries) {
        rows.push_back({VisibleName(entry.name), StateOf(entry), LocationText(entry.code), entry.commandLine});
    }
    return Columns({text::kNameColumn, text::kCliStateColumn, text::kLocationColumn, text::kCliCommandColumn}, rows);
}

std::string JsonOf(const std::vector<ListedEntry>& entries) {
    using Json = nlohmann::ordered_json;
    TLoneSurrogates lone(entries);
    const auto Utf8Of = [&](const std::wstring& text) { return lone.Utf8(text); };
    const auto textOrNull = [&](const std::wstring& text) { return text.empty() ? Json(nullptr) : Json(Utf8Of(text)); };
    Json list = Json::array();
    for (const ListedEntry& entry : entries) {
        list.push_back({
            {"name", Utf8Of(entry.name)},
            {"location", Utf8Of(entry.location)},
            {"code", entry.code},
            {"label", Utf8Of(entry.label)},
            {"enabled", entry.enabled},
            {"switchedOffInWindows", entry.switchedOffInWindows},
            {"starts", entry.Starts()},
            {"commandLine", Utf8Of(entry.commandLine)},
            {"target", textOrNull(entry.target)},
            {"problem", textOrNull(entry.problem)},
            {"storeLink", textOrNull(entry.storeLink)},
            {"publisher", textOrNull(entry.publisher)},
            {"description", textOrNull(entry.description)},
            {"id", Utf8Of(entry.id)},
            {"signer", textOrNull(entry.signer)},
            {"signature", Utf8Of(entry.signature)},
        });
    }
    const Json document = {{"format", kJsonFormat}, {"entries", std::move(list)}};
    return lone.Written(document.dump(2)) + "\n";
}

std::wstring CsvOf(const std::vector<ListedEntry>& entries) {
    std::wstring csv = L"name,location,code,label,enabled,switchedOffInWindows,starts,commandLine,target,problem,"
                       L"storeLink,publisher,description,id,signer,signature\r\n";
    for (const ListedEntry& entry : entries) {
        csv += CsvField(entry.name) + L"," + entry.location + L"," + std::to_wstring(entry.code) + L"," +
               CsvField(entry.label) + L"," + CsvBool(entry.enabled) + L"," + CsvBool(entry.switchedOffInWindows) +
               L"," + CsvBool(entry.Starts()) + L"," + CsvField(entry.commandLine) + L"," + CsvField(entry.target) +
               L"," + CsvField(entry.problem) + L"," + CsvField(entry.storeLink) + L"," + CsvField(entry.publisher) +
               L"," + CsvField(entry.description) + L"," + CsvField(entry.id) + L"," + CsvField(entry.signer) + L"," +
               entry.signature + L"\r\n";
    }
    return csv;
}

std::wstring HistoryTableOf(const std::vector<ListedChange>& changes) {
    if (changes.empty()) {
        return std::wstring(text::kCliNoHistory) + L"\n";
    }
    std::vector<std::vector<std::wstring>> rows;
    for (const ListedChange& change : changes) {
        rows.push_back(
            {change.time, change.change, change.by, change.location, VisibleName(change.name), change.commandLine});
    }
    return Columns({text::kHistoryTimeColumn, text::kHistoryChangeColumn, text::kHistoryByColumn, text::kLocationColumn,
                    text::kNameColumn, text::kCliCommandColumn},
                   rows);
}

std::string HistoryJsonOf(const std::vector<ListedChange>& changes) {
    using Json = nlohmann::ordered_json;
    TLoneSurrogates lone(changes);
    const auto Utf8Of = [&](const std::wstring& text) { return lone.Utf8(text); };
    Json list = Json::array();
    for (const ListedChange& change : changes) {
        list.push_back({
            {"time", Utf8Of(change.time)},
            {"change", Utf8Of(change.change)},
            {"by", Utf8Of(change.by)},
            {"location", Utf8Of(change.location)},
            {"code", change.code},
            {"label", Utf8Of(change.label)},
            {"name", Utf8Of(change.name)},
            {"id", Utf8Of(change.id)},
            {"commandLine", Utf8Of(change.commandLine)},
        });
    }
    const Json document = {{"format", kJsonFormat}, {"history", std::move(list)}};
    return lone.Written(document.dump(2)) + "\n";
}

std::wstring HistoryCsvOf(const std::vector<ListedChange>& changes) {
    std::wstring csv = L"time,change,by,location,code,label,name,id,commandLine\r\n";
    for (const ListedChange& change : changes) {
        csv += change.time + L"," + change.change + L"," + change.by + L"," + change.location + L"," +
               std::to_wstring(change.code) + L"," + CsvField(change.label) + L"," + CsvField(change.name) + L"," +
               CsvField(change.id) + L"," + CsvField(change.commandLine) + L"\r\n";
    }
    return csv;
}

} // namespace bw::cli
