#include "platform/Errors.h"

#include <algorithm>

#include <windows.h>

namespace bw {

namespace {

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t c : text) {
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return narrow;
}

} // namespace

EBootwarden::EBootwarden(Operation operation, std::wstring subject, unsigned long systemError)
    : m_operation(operation), m_subject(std::move(subject)), m_systemError(systemError) {
    m_narrow = "operation " + std::to_string(static_cast<int>(m_operation)) + " on " + Narrow(m_subject) + ", error " +
               std::to_string(m_systemError);
}

EBootwarden::EBootwarden(std::wstring text) : m_text(std::move(text)), m_narrow(Narrow(m_text)) {}

std::wstring FormatMessageText(const wchar_t* pattern, std::initializer_list<std::wstring> arguments) {
    std::wstring text = pattern;
    size_t from = 0;
    for (const std::wstring& argument : arguments) {
        const size_t at = text.find(L"%s", from);
        if (at == std::wstring::npos) {
            break;
        }
        // A zero character (a Run value's name may hold one) would end the text wherever it is shown.
        std::wstring shown = argument;
        std::replace(shown.begin(), shown.end(), L'\0', L'\u2400');
        text.replace(at, 2, shown);
        from = at + shown.size(); // a "%s" inside an argument stays as it is
    }
    return text;
}

std::wstring SystemMessage(unsigned long error) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring message = length != 0 && buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
    ::LocalFree(buffer);
    for (wchar_t& c : message) {
        if (c == L'\r' || c == L'\n') {
            c = L' ';
        }
    }
    while (!message.empty() && message.back() == L' ') {
        message.pop_back();
    }
    return message;
}

} // namespace bw
