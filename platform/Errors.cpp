#include "platform/Errors.h"

#include <cwchar>

namespace bw {

EBootwarden::EBootwarden(std::wstring message) : m_message(std::move(message)) {
    m_narrow.reserve(m_message.size());
    for (wchar_t c : m_message) {
        m_narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
}

std::wstring FormatMessageText(const wchar_t* pattern, std::initializer_list<std::wstring> arguments) {
    std::wstring text = pattern;
    size_t from = 0;
    for (const std::wstring& argument : arguments) {
        const size_t at = text.find(L"%s", from);
        if (at == std::wstring::npos) {
            break;
        }
        text.replace(at, 2, argument);
        from = at + argument.size(); // a "%s" inside an argument stays as it is
    }
    return text;
}

} // namespace bw
