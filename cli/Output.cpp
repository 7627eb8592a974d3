#include "cli/Output.h"

#include "resources/Texts.h"

#include <algorithm>

namespace bw::cli {

namespace {

// Writes `text` as one line, its own line breaks and tabs made blanks.
std::wstring OneLine(std::wstring text) {
    for (wchar_t& c : text) {
        if (c == L'\r' || c == L'\n' || c == L'\t') {
            c = L' ';
        }
    }
    return text + L"\n";
}

} // namespace

std::string Utf8Of(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    (void)::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length, nullptr,
                                nullptr);
    return utf8;
}

std::wstring WideOf(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    (void)::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), length);
    return text;
}

TOutput::TOutput(HANDLE handle) : m_handle(handle) {
    DWORD mode = 0;
    m_console = handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) == FILE_TYPE_CHAR &&
                ::GetConsoleMode(handle, &mode);
}

void TOutput::Write(const std::wstring& text) {
    if (m_handle == nullptr || m_handle == INVALID_HANDLE_VALUE || text.empty()) {
        return;
    }
    if (m_console) {
        // In parts: very long writes to a console fail on older systems.
        constexpr size_t kPart = 8192;
        for (size_t from = 0; from < text.size(); from += kPart) {
            const DWORD count = static_cast<DWORD>(std::min(kPart, text.size() - from));
            DWORD written = 0;
            if (!::WriteConsoleW(m_handle, text.data() + from, count, &written, nullptr)) {
                return;
            }
        }
        return;
    }
    const std::string bytes = Utf8Of(text);
    size_t from = 0;
    while (from < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(m_handle, bytes.data() + from, static_cast<DWORD>(bytes.size() - from), &written, nullptr) ||
            written == 0) {
            return; // a closed pipe: nobody reads the rest
        }
        from += written;
    }
}

void TStreams::Error(const std::wstring& message) {
    Err(OneLine(text::kCliErrorPrefix + message));
}

void TStreams::Warning(const std::wstring& message) {
    Err(OneLine(text::kCliWarningPrefix + message));
}

TStandardStreams::TStandardStreams()
    : m_out(::GetStdHandle(STD_OUTPUT_HANDLE)), m_err(::GetStdHandle(STD_ERROR_HANDLE)) {}

} // namespace bw::cli
