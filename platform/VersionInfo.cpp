#include "platform/VersionInfo.h"

#include <windows.h>

#include <cwchar>
#include <iterator>
#include <vector>

namespace bw {

namespace {

// A version resource is a few kilobytes; anything far larger is no version resource we read.
constexpr DWORD kLargestResource = 1024 * 1024;

struct Translation {
    WORD language;
    WORD codePage;
};

std::wstring BlockName(const Translation& translation) {
    wchar_t name[10]{};
    std::swprintf(name, std::size(name), L"%04x%04x", translation.language, translation.codePage);
    return name;
}

// The text of one string of the block, without the terminators the length may include and without the blanks
// some resources pad their strings with. Nothing when the block has no such string.
std::optional<std::wstring> StringOf(const std::vector<BYTE>& resource, const std::wstring& block,
                                     const wchar_t* field) {
    const std::wstring path = L"\\StringFileInfo\\" + block + L"\\" + field;
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(resource.data(), path.c_str(), &value, &length) || value == nullptr) {
        return std::nullopt;
    }
    std::wstring text(static_cast<const wchar_t*>(value), length);
    text.resize(std::wcslen(text.c_str()));
    const size_t first = text.find_first_not_of(L" \t");
    const size_t last = text.find_last_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
}

} // namespace

std::optional<VersionStrings> ReadVersionStrings(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0 || size > kLargestResource) {
        return std::nullopt; // no resource (ERROR_RESOURCE_TYPE_NOT_FOUND), no module, or unreadable
    }
    std::vector<BYTE> resource(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, resource.data())) {
        return std::nullopt;
    }
    std::vector<Translation> candidates;
    void* table = nullptr;
    UINT tableLength = 0;
    if (::VerQueryValueW(resource.data(), L"\\VarFileInfo\\Translation", &table, &tableLength) && table != nullptr &&
        tableLength >= sizeof(Translation)) {
        candidates.push_back(*static_cast<const Translation*>(table)); // the first listed is the one to show
    }
    for (const Translation fallback : {Translation{0x0409, 1200}, Translation{0x0409, 1252}, Translation{0, 1200}}) {
        candidates.push_back(fallback);
    }
    for (const Translation& candidate : candidates) {
        const std::wstring block = BlockName(candidate);
        auto company = StringOf(resource, block, L"CompanyName");
        auto description = StringOf(resource, block, L"FileDescription");
        if (company || description) {
            return VersionStrings{company.value_or(L""), description.value_or(L"")};
        }
    }
    return VersionStrings{}; // a resource with numbers only
}

} // namespace bw
