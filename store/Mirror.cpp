#include "store/Mirror.h"

#include "platform/Errors.h"
#include "store/Locations.h"
#include "store/Utf16Text.h"
#include "store/StoreData.h"

#include <algorithm>
#include <map>
#include <utility>

namespace bw {

bool MirrorBase::operator==(const MirrorBase& other) const {
    return link == other.link && linkSettled == other.linkSettled && value == other.value &&
           shortcut == other.shortcut && linkDigest == other.linkDigest && overwriting == other.overwriting;
}

const MirrorBase* TMirror::Find(const std::wstring& storeLinkPath) const {
    Unpack();
    const auto at = m_bases.find(FoldedName(storeLinkPath));
    return at == m_bases.end() ? nullptr : &at->second.base;
}

void TMirror::Set(const std::wstring& storeLinkPath, MirrorBase base) {
    Unpack();
    Held& held = m_bases[FoldedName(storeLinkPath)];
    m_changed = m_changed || held.path != storeLinkPath || held.base != base;
    held.path = storeLinkPath;
    held.base = std::move(base);
}

void TMirror::Erase(const std::wstring& storeLinkPath) {
    Unpack();
    m_changed = m_bases.erase(FoldedName(storeLinkPath)) != 0 || m_changed;
}

void TMirror::Clear() {
    Unpack();
    m_changed = m_changed || !m_bases.empty();
    m_bases.clear();
}

std::wstring StoreBaseFile() {
    return StoreDataFile(kStoreBaseFile);
}

namespace {

// The file of bases: UTF-16 text, a first line that names the format, then a line per base of fields
// separated by "|": the location code, the store link's file name (in hexadecimal, as every text is, so that
// no character of a name can break a line), its stamp and whether it was settled, then "R", the value's
// name, type and data, or "S", the shortcut's stamp and the digest of the link's bytes; last, while the import
// is about to write the link anew, the digest of the bytes it held before.
constexpr const wchar_t* kBaseFileStart = L"Bootwarden store base 1";

std::wstring HexOfBytes(const std::string& bytes) {
    std::wstring text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += L"0123456789abcdef"[byte >> 4];
        text += L"0123456789abcdef"[byte & 0xF];
    }
    return text;
}

std::optional<std::string> BytesOfHex(const std::wstring& text) {
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int pair = 0;
        for (size_t j = i; j < i + 2; ++j) {
            const wchar_t c = text[j];
            const int digit = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1;
            if (digit < 0) {
                return std::nullopt;
            }
            pair = pair * 16 + digit;
        }
        bytes += static_cast<char>(pair);
    }
    return bytes;
}

std::wstring HexOfText(const std::wstring& text) {
    return HexOfBytes(Utf16Bytes(text));
}

std::optional<std::wstring> TextOfHex(const std::wstring& hex) {
    const auto bytes = BytesOfHex(hex);
    return bytes ? Utf16Text(*bytes) : std::nullopt;
}

std::wstring NumberText(ULONGLONG number) {
    return std::to_wstring(number);
}

bool NumberOfText(const std::wstring& text, ULONGLONG& number, ULONGLONG largest) {
    if (text.empty() || text.size() > 20 || text.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return false;
    }
    number = 0;
    for (wchar_t digit : text) {
        const ULONGLONG value = static_cast<ULONGLONG>(digit - L'0');
        if (number > (largest - value) / 10) {
            return false;
        }
        number = number * 10 + value;
    }
    return true;
}

std::wstring StampText(const FileStamp& stamp) {
    const auto time = [](const FILETIME& t) {
        return NumberText((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return time(stamp.written) + L"|" + time(stamp.created) + L"|" + NumberText(stamp.size) + L"|" +
           NumberText(stamp.attributes);
}

// Reads a stamp from four fields starting at `at`.
bool StampOfFields(const std::vector<std::wstring>& fields, size_t at, FileStamp& stamp) {
    ULONGLONG written = 0, created = 0, size = 0, attributes = 0;
    if (fields.size() < at + 4 || !NumberOfText(fields[at], written, ~0ULL) ||
        !NumberOfText(fields[at + 1], created, ~0ULL) || !NumberOfText(fields[at + 2], size, ~0ULL) ||
        !NumberOfText(fields[at + 3], attributes, MAXDWORD)) {
        return false;
    }
    stamp.written = {static_cast<DWORD>(written), static_cast<DWORD>(written >> 32)};
    stamp.created = {static_cast<DWORD>(created), static_cast<DWORD>(created >> 32)};
    stamp.size = size;
    stamp.attributes = static_cast<DWORD>(attributes);
    return true;
}

// One base of the file; nothing when its line is not well formed or names no enabled store link.
std::optional<std::pair<std::wstring, MirrorBase>> BaseOfLine(const std::wstring& line) {
    const std::vector<std::wstring> fields = FieldsOf(line);
    ULONGLONG code = 0, settled = 0;
    if (fields.size() < 8 || !NumberOfText(fields[0], code, kLastCode) || !IsEnabledCode(static_cast<int>(code)) ||
        !NumberOfText(fields[6], settled, 1)) {
        return std::nullopt;
    }
    const auto fileName = TextOfHex(fields[1]);
    MirrorBase base;
    if (!fileName || fileName->empty() || fileName->find_first_of(L"\\/:") != std::wstring::npos || *fileName == L"." ||
        *fileName == L".." || !StampOfFields(fields, 2, base.link)) {
        return std::nullopt;
    }
    base.linkSettled = settled == 1;
    const bool registry = IsRegistryCode(static_cast<int>(code));
    // A last field, where there is one, is the digest of the link that the import was about to overwrite.
    const auto overwriting = [&](size_t count) {
        ULONGLONG digest = 0;
        if (fields.size() == count + 1 && NumberOfText(fields[count], digest, ~0ULL)) {
            base.overwriting = digest;
            return true;
        }
        return fields.size() == count;
    };
    if (registry && fields[7] == L"R" && (fields.size() == 11 || fields.size() == 12)) {
        if (!overwriting(11)) {
            return std::nullopt;
        }
        ULONGLONG type = 0;
        const auto name = TextOfHex(fields[8]);
        const auto data = BytesOfHex(fields[10]);
        if (!name || !data || !NumberOfText(fields[9], type, MAXDWORD)) {
            return std::nullopt;
        }
        base.value = RegistryValue{*name, static_cast<DWORD>(type), *data};
    } else if (!registry && fields[7] == L"S" && (fields.size() == 13 || fields.size() == 14)) {
        if (!overwriting(13)) {
            return std::nullopt;
        }
        ULONGLONG digest = 0;
        if (!StampOfFields(fields, 8, base.shortcut) || !NumberOfText(fields[12], digest, ~0ULL)) {
            return std::nullopt;
        }
        base.linkDigest = digest;
    } else {
        return std::nullopt;
    }
    return std::make_pair(StoreFolderPath(static_cast<int>(code)) + *fileName, std::move(base));
}

} // namespace

namespace {

// The bases of the store's file by folded path; nothing when there is no file of ours to read.
std::optional<std::map<std::wstring, std::pair<std::wstring, MirrorBase>>> ReadBaseFile() {
    const auto bytes = ReadWholeFile(StoreBaseFile(), 64u << 20);
    const auto read = bytes ? Utf16Text(*bytes) : std::nullopt;
    if (!read) {
        return std::nullopt;
    }
    const std::wstring& text = *read;
    std::map<std::wstring, std::pair<std::wstring, MirrorBase>> bases;
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        const size_t end = std::min(text.find(L'\n', start), text.size());
        const std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (std::exchange(first, false)) {
            if (line != kBaseFileStart) {
                return std::nullopt; // no file of ours: no bases
            }
            continue;
        }
        if (auto base = BaseOfLine(line)) {
            bases[FoldedName(base->first)] = std::move(*base);
        }
    }
    return bases;
}

} // namespace

void TMirror::Load() {
    Unpack();
    m_bases.clear();
    m_changed = false;
    if (auto bases = ReadBaseFile()) {
        for (auto& [key, base] : *bases) {
            m_bases[key] = {base.first, std::move(base.second)};
        }
    }
}

void TMirror::TakeIn() {
    Unpack();
    auto bases = ReadBaseFile();
    if (!bases) {
        return;
    }
    for (auto& [key, base] : *bases) {
        Held& held = m_bases[key];
        held.path = base.first;
        held.base = std::move(base.second);
    }
    // Whatever this process held beyond the file is written with the next save.
    m_changed = true;
}

void TMirror::KeepOnly(const std::set<std::wstring>& keep) {
    Unpack();
    for (auto at = m_bases.begin(); at != m_bases.end();) {
        if (keep.count(at->first) == 0) {
            at = m_bases.erase(at);
            m_changed = true;
        } else {
            ++at;
        }
    }
}

bool TMirror::Save() {
    Unpack();
    if (!m_changed) {
        return true;
    }
    std::wstring text = kBaseFileStart;
    text += L'\n';
    for (const auto& [key, held] : m_bases) {
        int code = 0;
        for (int candidate : AllCodes()) {
            const std::wstring folder = StoreFolderPath(candidate);
            if (IsEnabledCode(candidate) && SameFileName(held.path.substr(0, folder.size()), folder) &&
                held.path.find(L'\\', folder.size()) == std::wstring::npos) {
                code = candidate;
            }
        }
        if (code == 0) {
            continue; // not an enabled store link of this store
        }
        const MirrorBase& base = held.base;
        text += NumberText(static_cast<ULONGLONG>(code)) + L"|" + HexOfText(FileNamePart(held.path)) + L"|" +
                StampText(base.link) + L"|" + (base.linkSettled ? L"1" : L"0");
        if (base.value) {
            text += L"|R|" + HexOfText(base.value->name) + L"|" + NumberText(base.value->type) + L"|" +
                    HexOfBytes(base.value->data);
        } else {
            text += L"|S|" + StampText(base.shortcut) + L"|" + NumberText(base.linkDigest);
        }
        if (base.overwriting) {
            text += L"|" + NumberText(*base.overwriting);
        }
        text += L'\n';
    }
    try {
        WriteFileReplacing(StoreBaseFile(), Utf16Bytes(text));
    } catch (const EBootwarden&) {
        return false;
    }
    m_changed = false;
    return true;
}

} // namespace bw
