#include "app/EntrySelection.h"

#include "app/MainForm.h"
#include "platform/UniqueHandle.h"
#include "store/CommandLine.h"

#include <shellapi.h>

#include <cwchar>
#include <memory>
#include <vector>

namespace bw {

namespace {

constexpr const wchar_t* kSelectSwitch = L"--select";
// Tells a WM_COPYDATA of this program from any other a process might send: "BWSE".
constexpr ULONG_PTR kSelectionData = 0x42575345;
constexpr DWORD kHandOverTimeout = 5000; // milliseconds

std::optional<int> CodeOf(const std::wstring& text) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return std::nullopt;
    }
    return std::stoi(text);
}

} // namespace

StartArguments ReadStartArguments(const std::wstring& wholeCommandLine) {
    StartArguments arguments;
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&::LocalFree)> words(::CommandLineToArgvW(wholeCommandLine.c_str(), &count),
                                                                &::LocalFree);
    if (!words) {
        return arguments;
    }
    const LPWSTR* word = words.get();
    int at = 1; // after the program
    for (; at < count && std::wcscmp(word[at], kSelectSwitch) != 0; ++at) {
        arguments.head += (arguments.head.empty() ? L"" : L" ") + std::wstring(word[at]);
    }
    if (at + 3 <= count) { // the switch, the code and at least one part of the name
        const std::optional<int> code = CodeOf(word[at + 1]);
        if (code) {
            EntrySelection selection{*code, word[at + 2]};
            for (int part = at + 3; part < count; ++part) {
                selection.name += L'\0';
                selection.name += word[part];
            }
            arguments.selection = std::move(selection);
        }
    }
    return arguments;
}

std::wstring SelectArguments(const EntrySelection& selection) {
    std::wstring arguments = std::wstring(kSelectSwitch) + L" " + std::to_wstring(selection.code);
    size_t at = 0;
    for (;;) {
        const size_t end = selection.name.find(L'\0', at);
        arguments += L" " + QuoteArgument(selection.name.substr(at, end == std::wstring::npos ? end : end - at));
        if (end == std::wstring::npos) {
            return arguments;
        }
        at = end + 1;
    }
}

bool HandSelectionTo(HWND window, const EntrySelection& selection) {
    // The code, then the name: the name's length is the message's.
    std::vector<wchar_t> data;
    data.push_back(static_cast<wchar_t>(selection.code));
    data.insert(data.end(), selection.name.begin(), selection.name.end());
    COPYDATASTRUCT copy{kSelectionData, static_cast<DWORD>(data.size() * sizeof(wchar_t)), data.data()};
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), SMTO_ABORTIFHUNG,
                                 kHandOverTimeout, &result) != 0 &&
           result != 0;
}

std::optional<EntrySelection> SelectionHandedOver(const COPYDATASTRUCT& data) {
    if (data.dwData != kSelectionData || data.cbData < sizeof(wchar_t) || data.cbData % sizeof(wchar_t) != 0 ||
        data.lpData == nullptr) {
        return std::nullopt;
    }
    const auto* text = static_cast<const wchar_t*>(data.lpData);
    return EntrySelection{static_cast<int>(text[0]), std::wstring(text + 1, data.cbData / sizeof(wchar_t) - 1)};
}

void TMainForm::SelectEntry(const EntrySelection& selection) {
    if (m_scheduler.InCommand() && !m_scheduler.Importing()) {
        return; // a command asks its question: the row it leaves selected is its own
    }
    m_rowChoice = RowChoice{selection.name, {selection.code}};
    if (m_list.ListReady() && !m_scheduler.Importing()) {
        ApplyRowChoice(); // else once the first refresh or the import has listed every row
    }
}

} // namespace bw
