// The watcher as the tests run it (WatcherUnderTest.exe), never shipped: on the test's scratch registry and places,
// and with what it asks of the notification area written down for the test to read.
#include "cli/TestSeam.h"
#include "platform/KnownFolders.h"
#include "platform/NotifyIcon.h"
#include "platform/UniqueHandle.h"
#include "watch/Watcher.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace {

std::wstring Variable(const wchar_t* name) {
    std::vector<wchar_t> buffer(1024);
    const DWORD length = ::GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    return length == 0 || length >= buffer.size() ? std::wstring() : std::wstring(buffer.data(), length);
}

std::wstring OneLine(const wchar_t* text) {
    std::wstring line(text);
    for (wchar_t& c : line) {
        c = c == L'\n' || c == L'\t' ? L'|' : c;
    }
    return line;
}

// One line per request, in UTF-16, appended in one write so that a reader never sees half of one:
// the request ("add", "modify", "delete", "version"), a tab, the notice's title, a tab and its text.
BOOL RecordRequest(const std::wstring& path, DWORD message, NOTIFYICONDATAW* data) {
    const wchar_t* verb = message == NIM_ADD      ? L"add"
                          : message == NIM_MODIFY ? L"modify"
                          : message == NIM_DELETE ? L"delete"
                                                  : L"version";
    std::wstring line = verb;
    if (message == NIM_MODIFY && (data->uFlags & NIF_INFO) != 0) {
        line += L"\t" + OneLine(data->szInfoTitle) + L"\t" + OneLine(data->szInfo);
    }
    line += L"\n";
    bw::UniqueFile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           ::WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    if (!bw::cli::UseScratchRegistry()) {
        return 2; // never the real start-up entries
    }
    const auto noShellStartup = bw::seam::StartupFolder.Replace([] { return std::optional<std::wstring>(); });
    const auto noShellCommonStartup =
        bw::seam::CommonStartupFolder.Replace([] { return std::optional<std::wstring>(); });
    const bw::cli::TTestPlaces places;
    const std::wstring record = Variable(L"BOOTWARDEN_TEST_NOTICES");
    const auto notices = bw::seam::NotifyIcon.Replace(
        [record](DWORD message, NOTIFYICONDATAW* data) { return RecordRequest(record, message, data); });
    return bw::RunWatcher(instance);
}
