#include "cli/EntryFormats.h"

#include "cli/Output.h"
#include "platform/FileSystem.h"
#include "resources/Texts.h"

#include <nlohmann/json.hpp>

#include <algorithm>

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

std::wstring CsvField(const std::wstring& field) {
    if (field.find_first_of(L",\"\r\n") == std::wstring::npos) {
        return field;
    }
    std::wstring quoted = L"\"";
    for (wchar_t c : field) {
        quoted += c;
        if (c == L'"') {
            quoted += L'"';
        }
    }
    return quoted + L"\"";
}

const wchar_t* CsvBool(bool value) {
    return value ? L"true" : L"false";
}

} // namespace

std::wstring LocationKeyOf(int code) {
    return LocationKey(LocationOf(code));
}

std::wstring LocationKey(Location location) {
    switch (location) {
    case Location::Local:
        return L"hklm";
    case Location::Local32:
        return L"hklm32";
    case Location::User:
        return L"hkcu";
    case Location::StartUp:
        break;
    }
    return L"startup";
}

std::optional<Location> LocationOfKey(const std::wstring& key) {
    const std::wstring folded = FoldedName(key);
    if (folded == L"HKLM") {
        return Location::Local;
    }
    if (folded == L"HKLM32") {
        return Location::Local32;
    }
    if (folded == L"HKCU") {
        return Location::User;
    }
    if (folded == L"STARTUP") {
        return Location::StartUp;
    }
    return std::nullopt;
}

std::wstring TableOf(const std::vector<ListedEntry>& entries) {
    if (entries.empty()) {
        return std::wstring(text::kCliNoEntries) + L"\n";
    }
    const std::wstring headers[] = {text::kNameColumn, text::kCliStateColumn, text::kLocationColumn,
                                    text::kCliCommandColumn};
    std::vector<std::vector<std::wstring>> rows;
    for (const ListedEntry& entry : entries) {
        rows.push_back({entry.name, StateOf(entry), LocationText(entry.code), entry.commandLine});
    }
    size_t widths[3] = {};
    for (size_t column = 0; column < 3; ++column) {
        widths[column] = headers[column].size();
        for (const auto& row : rows) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    const auto line = [&](const std::wstring* cells) {
        std::wstring text;
        for (size_t column = 0; column < 3; ++column) {
            text += Padded(cells[column], widths[column]) + L"  ";
        }
        text += cells[3];
        while (!text.empty() && text.back() == L' ') {
            text.pop_back();
        }
        return text + L"\n";
    };
    std::wstring table = line(headers);
    for (const auto& row : rows) {
        table += line(row.data());
    }
    return table;
}

std::string JsonOf(const std::vector<ListedEntry>& entries) {
    using Json = nlohmann::ordered_json;
    const auto textOrNull = [](const std::wstring& text) { return text.empty() ? Json(nullptr) : Json(Utf8Of(text)); };
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
            {"signer", textOrNull(entry.signer)},
            {"signature", Utf8Of(entry.signature)},
        });
    }
    const Json document = {{"format", kJsonFormat}, {"entries", std::move(list)}};
    return document.dump(2) + "\n";
}

std::wstring CsvOf(const std::vector<ListedEntry>& entries) {
    std::wstring csv = L"name,location,code,label,enabled,switchedOffInWindows,starts,commandLine,target,problem,"
                       L"storeLink,publisher,description,signer,signature\r\n";
    for (const ListedEntry& entry : entries) {
        csv += CsvField(entry.name) + L"," + entry.location + L"," + std::to_wstring(entry.code) + L"," +
               CsvField(entry.label) + L"," + CsvBool(entry.enabled) + L"," + CsvBool(entry.switchedOffInWindows) +
               L"," + CsvBool(entry.Starts()) + L"," + CsvField(entry.commandLine) + L"," + CsvField(entry.target) +
               L"," + CsvField(entry.problem) + L"," + CsvField(entry.storeLink) + L"," + CsvField(entry.publisher) +
               L"," + CsvField(entry.description) + L"," + CsvField(entry.signer) + L"," + entry.signature + L"\r\n";
    }
    return csv;
}

} // namespace bw::cli
