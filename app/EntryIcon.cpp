#include "app/EntryIcon.h"

#include "platform/FileSystem.h"

#include <windows.h>

#include <vector>

namespace bw {

namespace {

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

} // namespace

std::wstring ProgramPathOf(const std::wstring& commandLine) {
    const std::wstring text = Expanded(commandLine);
    const size_t start = text.find_first_not_of(L" \t");
    if (start == std::wstring::npos) {
        return {};
    }
    if (text[start] == L'"') {
        const size_t end = text.find(L'"', start + 1);
        return text.substr(start + 1, end == std::wstring::npos ? std::wstring::npos : end - start - 1);
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
    return rest.substr(0, rest.find(L' '));
}

} // namespace bw
