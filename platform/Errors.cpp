#include "platform/Errors.h"

#include <cwchar>

namespace bw {

EBootwarden::EBootwarden(std::wstring message) : m_message(std::move(message)) {
    m_narrow.reserve(m_message.size());
    for (wchar_t c : m_message) {
        m_narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
}

std::wstring FormatMessageText(const wchar_t* pattern, const std::wstring& argument) {
    std::wstring text = pattern;
    const auto at = text.find(L"%s");
    if (at != std::wstring::npos) {
        text.replace(at, 2, argument);
    }
    return text;
}

} // namespace bw
