#include "platform/FileIcon.h"

#include <shellapi.h>

#include <algorithm>
#include <vector>

namespace bw {

namespace {

// A shortcut's icon location may name its file through references such as "%SystemRoot%".
std::wstring Expanded(const std::wstring& path) {
    if (path.find(L'%') == std::wstring::npos) {
        return path;
    }
    const DWORD size = ::ExpandEnvironmentStringsW(path.c_str(), nullptr, 0);
    if (size == 0) {
        return path;
    }
    std::vector<wchar_t> buffer(size);
    const DWORD length = ::ExpandEnvironmentStringsW(path.c_str(), buffer.data(), size);
    return length == 0 || length > size ? path : std::wstring(buffer.data());
}

HICON RealFileIcon(HINSTANCE instance, const std::wstring& given, int index) {
    if (given.empty()) {
        return nullptr;
    }
    const std::wstring path = Expanded(given);
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

} // namespace

namespace seam {
TSeam<HICON(HINSTANCE, const std::wstring&, int)> FileIcon(&RealFileIcon);
} // namespace seam

HICON ReadFileIcon(HINSTANCE instance, const std::wstring& path, int index) {
    return seam::FileIcon(instance, path, index);
}

} // namespace bw
