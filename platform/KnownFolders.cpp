#include "platform/KnownFolders.h"

#include "platform/FileSystem.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <vector>

namespace bw {

namespace {

std::wstring WithoutTrailingSeparator(std::wstring folder) {
    while (folder.size() > 3 && folder.back() == L'\\') {
        folder.pop_back();
    }
    return folder;
}

std::optional<std::wstring> KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    // KF_FLAG_DONT_VERIFY: the path is asked for, the folder is neither checked nor created.
    const HRESULT result = ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path);
    std::optional<std::wstring> folder;
    if (SUCCEEDED(result) && path != nullptr && *path != L'\0') {
        folder = WithoutTrailingSeparator(path);
    }
    ::CoTaskMemFree(path); // given even on failure, and null is fine
    return folder;
}

std::optional<std::wstring> RealStartupFolder() {
    return KnownFolder(FOLDERID_Startup);
}

std::optional<std::wstring> RealCommonStartupFolder() {
    return KnownFolder(FOLDERID_CommonStartup);
}

std::wstring RealTempFolder() {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (length == 0 || length >= buffer.size()) {
        return {};
    }
    return WithoutTrailingSeparator(LongPathOf(std::wstring(buffer.data(), length)));
}

} // namespace

namespace seam {
TSeam<std::optional<std::wstring>()> StartupFolder(&RealStartupFolder);
TSeam<std::optional<std::wstring>()> CommonStartupFolder(&RealCommonStartupFolder);
TSeam<std::wstring()> TempFolder(&RealTempFolder);
} // namespace seam

std::optional<std::wstring> ShellStartupFolder() {
    return seam::StartupFolder();
}

std::optional<std::wstring> ShellCommonStartupFolder() {
    return seam::CommonStartupFolder();
}

std::wstring TemporaryFolder() {
    return seam::TempFolder();
}

} // namespace bw
