#include "store/LinkRecords.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/ShellLink.h"
#include "store/Locations.h"
#include "store/Utf16Text.h"
#include "store/StoreData.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace bw {

bool StoredRecord::operator==(const StoredRecord& other) const {
    return kind == other.kind && record.value == other.record.value && record.nameEncoded == other.record.nameEncoded &&
           record.description == other.record.description && record.target == other.record.target &&
           record.arguments == other.record.arguments;
}

std::optional<StoredRecord> RecordOfWrittenLink(int code, const std::string& bytes) {
    if (!IsRegistryCode(code)) {
        return StoredRecord{StoredRecord::Shortcut, {}};
    }
    const auto block = DataBlockOf(bytes, kRecordBlockSignature);
    const auto record = block ? RecordOfBlock(*block) : std::nullopt;
    if (!record) {
        return std::nullopt;
    }
    return StoredRecord{StoredRecord::Registry, *record};
}

std::wstring StoreRecordFile() {
    return StoreDataFile(kStoreRecordsFile);
}

TLinkRecords& StoreRecords() {
    static TLinkRecords records;
    return records;
}

namespace {

// The file of records: UTF-16 text, a first line that names the format, then a line per link of fields separated
// by "|": the location code, the link's file name (in hexadecimal, so that no character of a name can break a
// line), the kind ("R" a registry entry's record, "L" a link of a release that kept none, "S" a Startup entry's
// link), then for "R" the value's type, cut and encoded-name flags and the three fields' digests.
constexpr const wchar_t* kRecordFileStart = L"Bootwarden store records 1";

std::wstring HexOfText(const std::wstring& text) {
    std::wstring hex;
    for (wchar_t c : text) {
        for (int shift = 12; shift >= 0; shift -= 4) {
            hex += L"0123456789abcdef"[(static_cast<unsigned>(c) >> shift) & 0xF];
        }
    }
    return hex;
}

std::optional<unsigned long long> NumberOfHex(const std::wstring& text, size_t digits) {
    if (text.empty() || text.size() > digits) {
        return std::nullopt;
    }
    unsigned long long number = 0;
    for (wchar_t c : text) {
        const int digit = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1;
        if (digit < 0) {
            return std::nullopt;
        }
        number = number * 16 + static_cast<unsigned>(digit);
    }
    return number;
}

std::optional<std::wstring> TextOfHex(const std::wstring& hex) {
    if (hex.size() % 4 != 0) {
        return std::nullopt;
    }
    std::wstring text;
    for (size_t at = 0; at < hex.size(); at += 4) {
        const auto unit = NumberOfHex(hex.substr(at, 4), 4);
        if (!unit) {
            return std::nullopt;
        }
        text += static_cast<wchar_t>(*unit);
    }
    return text;
}

std::wstring HexOfNumber(unsigned long long number) {
    std::wstring hex;
    do {
        hex.insert(hex.begin(), L"0123456789abcdef"[number & 0xF]);
        number >>= 4;
    } while (number != 0);
    return hex;
}

// The code of the store folder that holds `path` directly; 0 for none.
int CodeOfPath(const std::wstring& path) {
    for (int code : AllCodes()) {
        const std::wstring folder = StoreFolderPath(code);
        if (path.size() > folder.size() && SameFileName(path.substr(0, folder.size()), folder) &&
            path.find(L'\\', folder.size()) == std::wstring::npos) {
            return code;
        }
    }
    return 0;
}

std::optional<std::pair<std::wstring, StoredRecord>> RecordOfLine(const std::wstring& line) {
    const std::vector<std::wstring> fields = FieldsOf(line);
    if (fields.size() < 3) {
        return std::nullopt;
    }
    const auto code = NumberOfHex(fields[0], 2);
    const auto fileName = TextOfHex(fields[1]);
    if (!code || !IsValidCode(static_cast<int>(*code)) || !fileName || fileName->empty() ||
        fileName->find_first_of(L"\\/:") != std::wstring::npos || !HasLinkExtension(*fileName)) {
        return std::nullopt;
    }
    const bool registry = IsRegistryCode(static_cast<int>(*code));
    StoredRecord stored;
    if (fields[2] == L"S" && !registry && fields.size() == 3) {
        stored.kind = StoredRecord::Shortcut;
    } else if (fields[2] == L"L" && registry && fields.size() == 3) {
        stored.kind = StoredRecord::Unrecorded;
    } else if (fields[2] == L"I" && registry && fields.size() == 3) {
        stored.kind = StoredRecord::Intended;
    } else if (fields[2] == L"R" && registry && fields.size() == 9) {
        const auto type = NumberOfHex(fields[3], 8);
        const auto description = NumberOfHex(fields[6], 16);
        const auto target = NumberOfHex(fields[7], 16);
        const auto arguments = NumberOfHex(fields[8], 16);
        if (!type || (fields[4] != L"0" && fields[4] != L"1") || (fields[5] != L"0" && fields[5] != L"1") ||
            !description || !target || !arguments) {
            return std::nullopt;
        }
        stored.record.value = {static_cast<DWORD>(*type), fields[4] == L"1"};
        stored.record.nameEncoded = fields[5] == L"1";
        stored.record.description = *description;
        stored.record.target = *target;
        stored.record.arguments = *arguments;
    } else {
        return std::nullopt;
    }
    return std::make_pair(StoreFolderPath(static_cast<int>(*code)) + *fileName, stored);
}

enum class FileRead { Missing, NotOurs, Unreadable, Read };

// The records of the store's file, by folded path. A file whose every line is not well formed is not ours to
// take a part of: it reads as one of another kind.
FileRead ReadRecordFile(std::map<std::wstring, std::pair<std::wstring, StoredRecord>>& records) {
    const std::wstring path = StoreRecordFile();
    const auto bytes = ReadWholeFile(path, 64u << 20);
    if (!bytes) {
        return PathExists(path) ? FileRead::Unreadable : FileRead::Missing;
    }
    const auto read = Utf16Text(*bytes);
    if (!read) {
        return FileRead::NotOurs;
    }
    const std::wstring& text = *read;
    const size_t firstEnd = std::min(text.find(L'\n'), text.size());
    if (text.compare(0, firstEnd, kRecordFileStart) != 0 || firstEnd == text.size()) {
        return FileRead::NotOurs;
    }
    for (size_t start = firstEnd + 1; start < text.size();) {
        const size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            return FileRead::NotOurs; // cut short: a file is written whole, so this one is not ours
        }
        auto record = RecordOfLine(text.substr(start, end - start));
        if (!record) {
            return FileRead::NotOurs;
        }
        records[FoldedName(record->first)] = std::move(*record);
        start = end + 1;
    }
    return FileRead::Read;
}

} // namespace

namespace {
// Which store the records in memory are of: its folder and its data folder (both as set at the start of a run).
std::wstring StoreKey() {
    return ProgramDir() + L"|" + StoreDataFolder();
}
} // namespace

void TLinkRecords::FollowProgramDir() {
    if (m_programDir != StoreKey()) {
        OpenLocked();
    }
}

void TLinkRecords::Open() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    OpenLocked();
}

void TLinkRecords::OpenLocked() {
    m_programDir = StoreKey();
    m_records.clear();
    m_changed = false;
    m_readable = false;
    if (ProgramDir().empty()) {
        return;
    }
    std::map<std::wstring, std::pair<std::wstring, StoredRecord>> read;
    const FileRead result = ReadRecordFile(read);
    if (result == FileRead::Unreadable) {
        return; // nothing is known, and nothing is written over what could not be read
    }
    m_readable = true;
    if (result == FileRead::Read) {
        for (auto& [key, record] : read) {
            m_records[key] = {record.first, record.second};
        }
        return;
    }
    // A store that kept its records only in its links: each link's record is taken from its block, once. A link
    // without one (or with one the program could not have written for its description) reads as it always did.
    TShellLink loader;
    for (int code : AllCodes()) {
        const std::wstring folder = StoreFolderPath(code);
        ForEachMatch(folder + L"*", [&](const WIN32_FIND_DATAW& match) {
            if ((match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !HasLinkExtension(match.cFileName)) {
                return;
            }
            const std::wstring path = folder + match.cFileName;
            StoredRecord stored{IsRegistryCode(code) ? StoredRecord::Unrecorded : StoredRecord::Shortcut, {}};
            if (IsRegistryCode(code)) {
                const auto bytes = ReadWholeFile(path, kLinkFileLimit);
                const auto written =
                    bytes && loader.LoadBytes(*bytes) ? RecordOfWrittenLink(code, *bytes) : std::nullopt;
                if (written && IsRecordOfRunValue(written->record.value, loader.Description())) {
                    stored = *written;
                }
            }
            m_records[FoldedName(path)] = {path, stored};
        });
    }
    m_changed = true;
    (void)Save();
}

void TLinkRecords::TakeIn() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_programDir != StoreKey() || !m_readable) {
        OpenLocked();
        return;
    }
    std::map<std::wstring, std::pair<std::wstring, StoredRecord>> read;
    if (ReadRecordFile(read) != FileRead::Read) {
        return;
    }
    for (auto& [key, record] : read) {
        Held& held = m_records[key];
        m_changed = m_changed || held.record != record.second;
        held = {record.first, record.second};
    }
}

std::optional<StoredRecord> TLinkRecords::Find(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    FollowProgramDir();
    const auto at = m_records.find(FoldedName(path));
    if (at == m_records.end()) {
        return std::nullopt;
    }
    return at->second.record;
}

std::wstring TLinkRecords::WrittenAs(const std::wstring& path, const LinkRecord& fields) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    FollowProgramDir();
    std::wstring found;
    for (const auto& [key, held] : m_records) {
        const LinkRecord& record = held.record.record;
        if (held.record.kind != StoredRecord::Registry || SameFileName(held.path, path) ||
            record.description != fields.description || record.target != fields.target ||
            record.arguments != fields.arguments) {
            continue;
        }
        // One whose own link is gone is the likeliest: it was moved or renamed rather than copied.
        if (found.empty() || !PathExists(held.path)) {
            found = held.path;
        }
    }
    return found;
}

void TLinkRecords::Set(const std::wstring& path, const StoredRecord& record) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    FollowProgramDir();
    Held& held = m_records[FoldedName(path)];
    m_changed = m_changed || held.path != path || held.record != record;
    held = {path, record};
}

void TLinkRecords::Erase(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    FollowProgramDir();
    m_changed = m_records.erase(FoldedName(path)) != 0 || m_changed;
}

void TLinkRecords::Move(const std::wstring& from, const std::wstring& to) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    FollowProgramDir();
    const auto at = m_records.find(FoldedName(from));
    if (at == m_records.end()) {
        Erase(to);
        return;
    }
    const StoredRecord record = at->second.record;
    m_records.erase(at);
    m_records[FoldedName(to)] = {to, record};
    m_changed = true;
}

void TLinkRecords::KeepOnly(const std::set<std::wstring>& keep) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    FollowProgramDir();
    for (auto at = m_records.begin(); at != m_records.end();) {
        if (keep.count(at->first) == 0) {
            at = m_records.erase(at);
            m_changed = true;
        } else {
            ++at;
        }
    }
}

bool TLinkRecords::Save() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    FollowProgramDir();
    if (!m_readable) {
        return false;
    }
    if (!m_changed) {
        return true;
    }
    std::wstring text = kRecordFileStart;
    text += L'\n';
    for (const auto& [key, held] : m_records) {
        const int code = CodeOfPath(held.path);
        if (code == 0) {
            continue; // no link of this store's folders
        }
        text += HexOfNumber(static_cast<unsigned>(code)) + L"|" + HexOfText(FileNamePart(held.path)) + L"|";
        const LinkRecord& record = held.record.record;
        switch (held.record.kind) {
        case StoredRecord::Shortcut:
            text += L"S";
            break;
        case StoredRecord::Unrecorded:
            text += L"L";
            break;
        case StoredRecord::Intended:
            text += L"I";
            break;
        case StoredRecord::Registry:
            text += L"R|" + HexOfNumber(record.value.type) + L"|" + (record.value.cut ? L"1" : L"0") + L"|" +
                    (record.nameEncoded ? L"1" : L"0") + L"|" + HexOfNumber(record.description) + L"|" +
                    HexOfNumber(record.target) + L"|" + HexOfNumber(record.arguments);
            break;
        }
        text += L'\n';
    }
    try {
        WriteFileReplacing(StoreRecordFile(), Utf16Bytes(text));
    } catch (const EBootwarden&) {
        return false;
    }
    m_changed = false;
    return true;
}

} // namespace bw
