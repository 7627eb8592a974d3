#include "store/CommandLine.h"

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
    if (name.empty() || name.size() > 10 || name.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return false;
    }
    type = static_cast<DWORD>(std::stoul(name));
    return true;
}

// How a link written without a record is read.
ValueRecord RecordFromDescription(const std::wstring& description) {
    return {HasEnvironmentReference(description) ? static_cast<DWORD>(REG_EXPAND_SZ) : static_cast<DWORD>(REG_SZ),
            description.size() >= kLinkDescriptionLimit};
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

std::wstring RecordArguments(const ValueRecord& record, const std::wstring& description) {
    if (RecordFromDescription(description) == record) {
        return {};
    }
    return kRecordStart + NameOfType(record.type) + L", " + (record.cut ? kCut : kWhole) + kRecordEnd;
}

ValueRecord RecordOfLink(const std::wstring& description, const std::wstring& arguments) {
    const std::wstring start = kRecordStart;
    const std::wstring end = kRecordEnd;
    if (arguments.size() > start.size() + end.size() && arguments.compare(0, start.size(), start) == 0 &&
        arguments.compare(arguments.size() - end.size(), end.size(), end) == 0) {
        const std::wstring body = arguments.substr(start.size(), arguments.size() - start.size() - end.size());
        const size_t comma = body.find(L", ");
        DWORD type = REG_NONE;
        if (comma != std::wstring::npos && TypeOfName(body.substr(0, comma), type)) {
            const std::wstring length = body.substr(comma + 2);
            if (length == kWhole || length == kCut) {
                return {type, length == kCut};
            }
        }
    }
    // No record, or arguments the user put there: the link reads as every link read before records were kept.
    return RecordFromDescription(description);
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
