#include "store/Utf16Text.h"

#include <algorithm>

namespace bw {

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::optional<std::wstring> Utf16Text(const std::string& bytes) {
    if (bytes.size() % sizeof(wchar_t) != 0) {
        return std::nullopt;
    }
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(text.data()));
    return text;
}

std::vector<std::wstring> FieldsOf(const std::wstring& line, wchar_t mark) {
    std::vector<std::wstring> fields;
    for (size_t start = 0;;) {
        const size_t at = line.find(mark, start);
        fields.push_back(line.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start));
        if (at == std::wstring::npos) {
            return fields;
        }
        start = at + 1;
    }
}

} // namespace bw
