// The watcher as the tests run it (WatcherUnderTest.exe), never shipped: on the test's scratch registry and places,
// and with what it asks of the notification area written down for the test to read.
#include "cli/TestSeam.h"
#include "platform/KnownFolders.h"
#include "platform/NotifyIcon.h"
#include "platform/PackedHeap.h"
#include "platform/Process.h"
#include "platform/Signature.h"
#include "platform/UniqueHandle.h"
#include "watch/Watcher.h"

#include <windows.h>
#include <malloc.h>

#include <cstdio>
#include <map>
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

// Appends one line to the record, in one write so that a reader never sees half of one. The test reads the record
// sharing it only with readers: a line is written once that read is over, never lost to it.
BOOL Record(const std::wstring& path, const std::wstring& line) {
    bw::UniqueFile file;
    for (int tries = 0; tries < 500; ++tries) {
        file = bw::UniqueFile(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file || ::GetLastError() != ERROR_SHARING_VIOLATION) {
            break;
        }
        ::Sleep(2);
    }
    DWORD written = 0;
    return file &&
           ::WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
}

// The signers that the test's catalog names, from the file that BOOTWARDEN_TEST_SIGNERS names: per line, in
// UTF-16, a program's path, a tab and its signer. Under a scratch registry Wine builds no certificate chain, so
// the catalog stands in for what Windows says of a signed program.
std::map<std::wstring, std::wstring> ReadSigners(const std::wstring& path) {
    std::map<std::wstring, std::wstring> signers;
    bw::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<wchar_t> buffer(64 * 1024);
    DWORD read = 0;
    if (!file ||
        !::ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), &read, nullptr)) {
        return signers;
    }
    const std::wstring text(buffer.data(), read / sizeof(wchar_t));
    size_t at = 0;
    for (size_t end; (end = text.find(L'\n', at)) != std::wstring::npos; at = end + 1) {
        const std::wstring line = text.substr(at, end - at);
        const size_t tab = line.find(L'\t');
        if (tab != std::wstring::npos) {
            signers[line.substr(0, tab)] = line.substr(tab + 1);
        }
    }
    return signers;
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
    return Record(path, line + L"\n");
}

// What each heap of the process holds, for the bench to tell the program's own memory (the C runtime's heap) from
// what Wine's libraries keep (the process heap and theirs): per heap, the bytes in use, in how many blocks, and the
// bytes committed to it; then what the watcher's blocks of TPackedHeap hold ("packed": their committed bytes, the
// allocations in use, and the committed bytes again). Written, replacing the last, to the file that
// BOOTWARDEN_TEST_HEAPS names, whenever the watcher's thread is sent the message of that name.
std::wstring g_heapsFile;
UINT g_heapsMessage = 0;

void WriteHeaps() {
    std::vector<HANDLE> heaps(64);
    heaps.resize(::GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    std::string text;
    for (HANDLE heap : heaps) {
        size_t busy = 0, blocks = 0, committed = 0;
        if (::HeapLock(heap)) {
            PROCESS_HEAP_ENTRY entry{};
            while (::HeapWalk(heap, &entry)) {
                if ((entry.wFlags & PROCESS_HEAP_REGION) != 0) {
                    committed += entry.Region.dwCommittedSize;
                } else if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
                    busy += entry.cbData;
                    ++blocks;
                }
            }
            (void)::HeapUnlock(heap);
        }
        const char* what = heap == ::GetProcessHeap()                                     ? "process"
                           : heap == reinterpret_cast<HANDLE>(_get_heap_handle()) ? "runtime"
                                                                                          : "other";
        char line[160];
        std::snprintf(line, sizeof line, "%s\t%zu\t%zu\t%zu\n", what, busy, blocks, committed);
        text += line;
    }
    const bw::TPackedHeap::Figures packed = bw::TPackedHeap::Held();
    char line[160];
    std::snprintf(line, sizeof line, "packed\t%zu\t%zu\t%zu\n", packed.committed, packed.live, packed.committed);
    text += line;
    bw::UniqueFile file(::CreateFileW(g_heapsFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    (void)(file && ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
}

LRESULT CALLBACK HeapsHook(int code, WPARAM removed, LPARAM lParam) {
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && removed == PM_REMOVE && message->message == g_heapsMessage) {
        WriteHeaps();
    }
    return ::CallNextHookEx(nullptr, code, removed, lParam);
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
    // What the watcher asks the shell to start is written down, never started: "start", a tab, its parameters.
    const auto starts = bw::seam::ShellExecute.Replace([record](SHELLEXECUTEINFOW* info) {
        return Record(record,
                      L"start\t" + std::wstring(info->lpParameters != nullptr ? info->lpParameters : L"") + L"\n");
    });
    // The test programs carry no signature of their own; those the test names are signed by the catalog.
    const auto noSignature = bw::seam::FileTrust.Replace([](const std::wstring&) {
        return bw::TrustAnswer{static_cast<LONG>(0x800B0100), L"", false}; // TRUST_E_NOSIGNATURE
    });
    const std::map<std::wstring, std::wstring> signers = ReadSigners(Variable(L"BOOTWARDEN_TEST_SIGNERS"));
    const auto catalog =
        bw::seam::CatalogTrust.Replace([signers](const std::wstring& path) -> std::optional<bw::TrustAnswer> {
            const auto found = signers.find(path);
            return found == signers.end() ? std::nullopt
                                          : std::optional<bw::TrustAnswer>(bw::TrustAnswer{0, found->second, false});
        });
    g_heapsFile = Variable(L"BOOTWARDEN_TEST_HEAPS");
    if (!g_heapsFile.empty()) {
        g_heapsMessage = ::RegisterWindowMessageW(L"BOOTWARDEN_TEST_HEAPS");
        (void)::SetWindowsHookExW(WH_GETMESSAGE, HeapsHook, nullptr, ::GetCurrentThreadId());
    }
    return bw::RunWatcher(instance);
}
