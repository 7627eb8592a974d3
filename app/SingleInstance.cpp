#include "app/SingleInstance.h"

#include <cstdint>

namespace bw {

bool BringFirstWindowToFront(const TNamedValue& claim, DWORD waitMs) {
    const ULONGLONG until = ::GetTickCount64() + waitMs;
    for (;;) {
        const auto window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(claim.Get()));
        if (window != nullptr && ::IsWindow(window)) {
            if (::IsIconic(window)) {
                ::ShowWindow(window, SW_RESTORE);
            }
            // A process the user just started may hand the foreground on; the first one could not take it.
            (void)::SetForegroundWindow(window);
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

} // namespace bw
