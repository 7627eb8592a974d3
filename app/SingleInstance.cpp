#include "app/SingleInstance.h"

#include "store/StoreLock.h"

#include <cstdint>
#include <cwchar>

namespace bw {

namespace {
constexpr const wchar_t* kHandOverSwitch = L"--after ";
} // namespace

TWindowClaim::TWindowClaim(const std::wstring& programDir)
    : m_running(StoreWindowName(programDir) + L"-Running"), m_window(StoreWindowName(programDir)) {}

bool TWindowClaim::Take(DWORD waitMs) {
    return m_running.Acquire(waitMs);
}

bool BringFirstWindowToFront(const TNamedValue& claim, DWORD waitMs, const std::optional<EntrySelection>& selection) {
    const ULONGLONG until = ::GetTickCount64() + waitMs;
    for (;;) {
        const auto window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(claim.Get()));
        if (window != nullptr && ::IsWindow(window)) {
            if (::IsIconic(window)) {
                ::ShowWindow(window, SW_RESTORE);
            }
            // A process the user just started may hand the foreground on; the first one could not take it.
            (void)::SetForegroundWindow(window);
            if (selection) {
                (void)HandSelectionTo(window, *selection); // a window that does not answer keeps its selection
            }
            return true;
        }
        if (::GetTickCount64() >= until) {
            return false;
        }
        ::Sleep(50);
    }
}

void PublishWindow(TNamedValue& claim, HWND window) {
    claim.Set(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(window)));
}

std::wstring HandOverArguments(DWORD processId) {
    return kHandOverSwitch + std::to_wstring(processId);
}

std::optional<DWORD> HandOverFrom(const std::wstring& commandLine) {
    const size_t at = commandLine.find(kHandOverSwitch);
    if (at == std::wstring::npos) {
        return std::nullopt;
    }
    wchar_t* end = nullptr;
    const wchar_t* digits = commandLine.c_str() + at + std::wcslen(kHandOverSwitch);
    const unsigned long id = std::wcstoul(digits, &end, 10);
    if (end == digits || id == 0) {
        return std::nullopt;
    }
    return static_cast<DWORD>(id);
}

} // namespace bw
