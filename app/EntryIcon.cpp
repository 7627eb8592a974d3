#include "app/EntryIcon.h"

#include <shellapi.h>

#include <algorithm>
#include <vector>

namespace bw {

HICON LoadEntryIcon(HINSTANCE instance, const std::wstring& path, int index) {
    if (path.empty()) {
        return nullptr;
    }
    HICON icon = ::ExtractIconW(instance, path.c_str(), static_cast<UINT>(index));
    // 0: no icon there; 1: not a file that holds icons.
    if (reinterpret_cast<UINT_PTR>(icon) >= 2) {
        return icon;
    }
    // The call may write a path of up to MAX_PATH characters back into its buffer, and the index beside it.
    std::vector<wchar_t> buffer(std::max<size_t>(MAX_PATH, path.size() + 1), L'\0');
    std::copy(path.begin(), path.end(), buffer.begin());
    WORD iconIndex = static_cast<WORD>(index);
    icon = ::ExtractAssociatedIconW(instance, buffer.data(), &iconIndex);
    return reinterpret_cast<UINT_PTR>(icon) >= 2 ? icon : nullptr;
}

} // namespace bw
