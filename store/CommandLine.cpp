#include "store/CommandLine.h"
#include "store/Utf16Text.h"

#include "platform/FileSystem.h"
#include "platform/ShellLink.h"

#include <cwctype>
#include <vector>

namespace bw {

namespace {

constexpr const wchar_t* kRecordStart = L"[Bootwarden value: ";
constexpr const wchar_t* kRecordEnd = L"]";
constexpr const wchar_t* kWhole = L"whole";
constexpr const wchar_t* kCut = L"cut";

struct TypeName {
    DWORD type;
    const wchar_t* name;
};
constexpr TypeName kTypeNames[] = {
    {REG_NONE, L"REG_NONE"},           {REG_SZ, L"REG_SZ"},
    {REG_EXPAND_SZ, L"REG_EXPAND_SZ"}, {REG_BINARY, L"REG_BINARY"},
    {REG_DWORD, L"REG_DWORD"},         {REG_DWORD_BIG_ENDIAN, L"REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, L"REG_LINK"},           {REG_MULTI_SZ, L"REG_MULTI_SZ"},
    {REG_QWORD, L"REG_QWORD"},
};

std::wstring NameOfType(DWORD type) {
    for (const TypeName& known : kTypeNames) {
        if (known.type == type) {
            return known.name;
        }
    }
    return std::to_wstring(type);
}

bool TypeOfName(const std::wstring& name, DWORD& type) {
    for (const TypeName& known : kTypeNames) {
        if (name == known.name) {
            type = known.type;
            return true;
        }
    }
    // A number of the type's 32 bits at most, read without a conversion that could throw.
    if (name.empty() || name.size() > 10 || name.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return false;
    }
    ULONGLONG number = 0;
    for (wchar_t digit : name) {
        number = number * 10 + static_cast<ULONGLONG>(digit - L'0');
    }
    if (number > MAXDWORD) {
        return false;
    }
    type = static_cast<DWORD>(number);
    return true;
}

constexpr const wchar_t* kBlockStart = L"Bootwarden record 1";
constexpr wchar_t kFieldMark = L'|';

std::wstring HexOf(std::uint64_t number) {
    wchar_t text[17];
    for (int i = 15; i >= 0; --i) {
        text[i] = L"0123456789abcdef"[number & 0xF];
        number >>= 4;
    }
    text[16] = L'\0';
    return text;
}

bool NumberOfHex(const std::wstring& text, std::uint64_t& number) {
    if (text.size() != 16 || text.find_first_not_of(L"0123456789abcdef") != std::wstring::npos) {
        return false;
    }
    number = 0;
    for (wchar_t digit : text) {
        number = (number << 4) | static_cast<std::uint64_t>(digit <= L'9' ? digit - L'0' : digit - L'a' + 10);
    }
    return true;
}

// How a link written without a record is read.
ValueRecord RecordFromDescription(const std::wstring& description) {
    return {HasEnvironmentReference(description) ? static_cast<DWORD>(REG_EXPAND_SZ) : static_cast<DWORD>(REG_SZ),
            description.size() >= kLinkDescriptionLimit};
}

bool IsBlank(wchar_t c) {
    return c == L' ';
}

std::wstring Expanded(const std::wstring& text) {
    const DWORD size = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (size == 0) {
        return text;
    }
    std::vector<wchar_t> buffer(size);
    if (::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), size) == 0) {
        return text;
    }
    return buffer.data();
}

// The file a candidate names, trying ".exe" as the system does for a program without an extension.
std::wstring ExistingProgram(const std::wstring& candidate) {
    if (FileExists(candidate)) {
        return candidate;
    }
    if (FileExists(candidate + L".exe")) {
        return candidate + L".exe";
    }
    return {};
}

// A bare file name is found where Windows finds programs: the system folders and the search path.
std::wstring SearchedProgram(const std::wstring& name) {
    if (name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos) {
        return {};
    }
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length =
            ::SearchPathW(nullptr, name.c_str(), L".exe", static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            const std::wstring found(buffer.data(), length);
            return FileExists(found) ? found : std::wstring();
        }
        buffer.resize(length + 1);
    }
    return {};
}

} // namespace

std::wstring DescriptionFor(const std::wstring& commandLine) {
    return commandLine.substr(0, kLinkDescriptionLimit);
}

bool HasEnvironmentReference(const std::wstring& commandLine) {
    size_t start = commandLine.find(L'%');
    while (start != std::wstring::npos) {
        size_t end = start + 1;
        while (end < commandLine.size() && commandLine[end] != L'%' && !std::iswspace(commandLine[end])) {
            ++end;
        }
        if (end == commandLine.size()) {
            return false;
        }
        if (commandLine[end] == L'%' && end > start + 1) {
            return true;
        }
        // "%%" or "% x": the percent sign that stopped the scan may open the next reference.
        start = commandLine.find(L'%', end);
    }
    return false;
}

ValueRecord RecordOfValue(DWORD type, const std::wstring& commandLine) {
    return {type, commandLine.size() > kLinkDescriptionLimit};
}

ValueRecord RecordOfValue(const RegistryValue& value) {
    const std::wstring commandLine = value.Text();
    ValueRecord record = RecordOfValue(value.type, commandLine);
    if (value.IsText()) {
        // The text ends at its first zero; anything but zeros after it is data the command line does not hold.
        const size_t end = (commandLine.size() + 1) * sizeof(wchar_t);
        record.cut =
            record.cut || (value.data.size() > end && value.data.find_first_not_of('\0', end) != std::string::npos);
    }
    return record;
}

bool IsRecordOfRunValue(const ValueRecord& record, const std::wstring& description) {
    if (record.type == REG_SZ || record.type == REG_EXPAND_SZ) {
        return true;
    }
    return record.type != REG_LINK && description.empty() && !record.cut;
}

std::uint64_t TextDigest(const std::wstring& text) {
    // FNV-1a over the UTF-16 code units: enough to tell an edit, which nobody makes to collide.
    std::uint64_t digest = 14695981039346656037ULL;
    for (wchar_t c : text) {
        digest = (digest ^ static_cast<std::uint64_t>(static_cast<std::uint16_t>(c))) * 1099511628211ULL;
    }
    return digest;
}

std::uint64_t BytesDigest(const std::string& bytes) {
    std::uint64_t digest = 14695981039346656037ULL;
    for (char c : bytes) {
        digest = (digest ^ static_cast<std::uint64_t>(static_cast<unsigned char>(c))) * 1099511628211ULL;
    }
    return digest;
}

std::wstring ExpandedText(const std::wstring& text) {
    return Expanded(text);
}

std::string RecordBlockData(const LinkRecord& record) {
    std::wstring text = kBlockStart;
    text += kFieldMark + NameOfType(record.value.type);
    text += kFieldMark + std::wstring(record.value.cut ? kCut : kWhole);
    text += kFieldMark + std::wstring(record.nameEncoded ? L"encoded" : L"literal");
    text += kFieldMark + HexOf(record.description);
    text += kFieldMark + HexOf(record.target);
    text += kFieldMark + HexOf(record.arguments);
    return Utf16Bytes(text);
}

std::optional<LinkRecord> RecordOfBlock(const std::string& data) {
    const auto text = Utf16Text(data);
    if (!text) {
        return std::nullopt;
    }
    const std::vector<std::wstring> fields = FieldsOf(*text, kFieldMark);
    LinkRecord record;
    if (fields.size() != 7 || fields[0] != kBlockStart || !TypeOfName(fields[1], record.value.type) ||
        (fields[2] != kWhole && fields[2] != kCut) || (fields[3] != L"encoded" && fields[3] != L"literal") ||
        !NumberOfHex(fields[4], record.description) || !NumberOfHex(fields[5], record.target) ||
        !NumberOfHex(fields[6], record.arguments)) {
        return std::nullopt;
    }
    record.value.cut = fields[2] == kCut;
    record.nameEncoded = fields[3] == L"encoded";
    return record;
}

bool NeedsQuotes(const std::wstring& program) {
    return program.find_first_of(L" \t") != std::wstring::npos;
}

std::wstring QuoteArgument(const std::wstring& argument) {
    // Backslashes are plain unless a quote follows them: then each is doubled, and the quote escaped with one more.
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\'); // before the closing quote
    quoted += L'"';
    return quoted;
}

std::wstring JoinCommandLine(const CommandParts& parts) {
    std::wstring line = parts.quoted ? L"\"" + parts.program + L"\"" : parts.program;
    if (!parts.arguments.empty()) {
        line += L' ';
        line += parts.arguments;
    }
    return line;
}

std::optional<CommandParts> SplitCommandLine(const std::wstring& commandLine) {
    CommandParts parts;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const size_t end = commandLine.find(L'"', 1);
        if (end == std::wstring::npos) {
            return std::nullopt;
        }
        parts.program = commandLine.substr(1, end - 1);
        parts.quoted = true;
        if (end + 1 < commandLine.size()) {
            if (!IsBlank(commandLine[end + 1])) {
                return std::nullopt;
            }
            parts.arguments = commandLine.substr(end + 2);
        }
    } else {
        // Like the system, the shortest prefix that names a file; else the text up to the first blank.
        size_t end = std::wstring::npos;
        for (size_t blank = commandLine.find(L' '); blank != std::wstring::npos;
             blank = commandLine.find(L' ', blank + 1)) {
            if (blank > 0 && !ExistingProgram(Expanded(commandLine.substr(0, blank))).empty()) {
                end = blank;
                break;
            }
        }
        if (end == std::wstring::npos && ExistingProgram(Expanded(commandLine)).empty()) {
            end = commandLine.find(L' ');
        }
        parts.program = commandLine.substr(0, end);
        if (end != std::wstring::npos) {
            parts.arguments = commandLine.substr(end + 1);
        }
    }
    if (parts.program.empty() || parts.program.find_first_not_of(L" \t") == std::wstring::npos ||
        JoinCommandLine(parts) != commandLine) {
        return std::nullopt;
    }
    return parts;
}

std::wstring LinkTargetOf(const CommandParts& parts, DWORD type) {
    const bool keepReferences = type == REG_EXPAND_SZ && HasEnvironmentReference(parts.program);
    const std::wstring program = type == REG_EXPAND_SZ ? Expanded(parts.program) : parts.program;
    std::wstring found = ExistingProgram(program);
    if (found.empty()) {
        found = SearchedProgram(program);
    }
    if (found.empty()) {
        return parts.program;
    }
    if (keepReferences) {
        // The program as spelt, with the ".exe" the system would have added.
        return found.size() == program.size() + 4 && found.compare(0, program.size(), program) == 0
                   ? parts.program + found.substr(program.size())
                   : parts.program;
    }
    return found;
}

std::wstring RecordArguments(const ValueRecord& record, const std::wstring& description) {
    if (RecordFromDescription(description) == record) {
        return {};
    }
    return kRecordStart + NameOfType(record.type) + L", " + (record.cut ? kCut : kWhole) + kRecordEnd;
}

ValueRecord RecordOfLink(const std::wstring& description, const std::wstring& arguments) {
    if (const auto record = ArgumentsRecord(description, arguments)) {
        return *record;
    }
    // No record, or arguments the user put there: the link reads as every link read before records were kept.
    return RecordFromDescription(description);
}

std::optional<ValueRecord> ArgumentsRecord(const std::wstring& description, const std::wstring& arguments) {
    const std::wstring start = kRecordStart;
    const std::wstring end = kRecordEnd;
    if (arguments.size() > start.size() + end.size() && arguments.compare(0, start.size(), start) == 0 &&
        arguments.compare(arguments.size() - end.size(), end.size(), end) == 0) {
        const std::wstring body = arguments.substr(start.size(), arguments.size() - start.size() - end.size());
        const size_t comma = body.find(L", ");
        DWORD type = REG_NONE;
        if (comma != std::wstring::npos && TypeOfName(body.substr(0, comma), type)) {
            const std::wstring length = body.substr(comma + 2);
            const ValueRecord record{type, length == kCut};
            if ((length == kWhole || length == kCut) && IsRecordOfRunValue(record, description)) {
                return record;
            }
        }
    }
    return std::nullopt;
}

std::wstring ProgramPathOf(const std::wstring& commandLine) {
    const std::wstring text = Expanded(commandLine);
    const size_t start = text.find_first_not_of(L" \t");
    if (start == std::wstring::npos) {
        return {};
    }
    if (text[start] == L'"') {
        const size_t end = text.find(L'"', start + 1);
        const std::wstring quoted =
            text.substr(start + 1, end == std::wstring::npos ? std::wstring::npos : end - start - 1);
        const std::wstring searched = SearchedProgram(quoted);
        return searched.empty() ? quoted : searched;
    }
    // An unquoted path may hold blanks ("C:\Program Files\Tool\tool.exe -a"): like the system, take the
    // shortest prefix that names a file.
    const std::wstring rest = text.substr(start);
    for (size_t blank = rest.find(L' '); blank != std::wstring::npos; blank = rest.find(L' ', blank + 1)) {
        const std::wstring program = ExistingProgram(rest.substr(0, blank));
        if (!program.empty()) {
            return program;
        }
    }
    const std::wstring whole = ExistingProgram(rest);
    if (!whole.empty()) {
        return whole;
    }
    const std::wstring first = rest.substr(0, rest.find(L' '));
    const std::wstring searched = SearchedProgram(first);
    return searched.empty() ? first : searched;
}

} // namespace bw
