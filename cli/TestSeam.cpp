#include "cli/TestSeam.h"

#include "platform/FileSystem.h"
#include "platform/KnownFolders.h"
#include "platform/NamedObjects.h"
#include "platform/UniqueHandle.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace bw::cli {

namespace {

std::wstring Variable(const wchar_t* name) {
    std::vector<wchar_t> buffer(1024);
    const DWORD length = ::GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    return length == 0 || length >= buffer.size() ? std::wstring() : std::wstring(buffer.data(), length);
}

} // namespace

struct TTestPlaces::Scopes {
    std::optional<TSeam<std::wstring()>::TScope> temporary;
    std::optional<TSeam<bool(const std::wstring&)>::TScope> unwritable;
    std::optional<TSeam<HANDLE(bool, SECURITY_ATTRIBUTES*, const std::wstring&)>::TScope> objectsDenied;
};

TTestPlaces::TTestPlaces() : m_scopes(std::make_unique<Scopes>()) {
    const std::wstring temporary = Variable(L"BOOTWARDEN_TEST_TEMP");
    if (!temporary.empty()) {
        m_scopes->temporary.emplace(seam::TempFolder, [temporary] { return temporary; });
    }
    const std::wstring unwritable = Variable(L"BOOTWARDEN_TEST_UNWRITABLE");
    if (!unwritable.empty()) {
        m_scopes->unwritable.emplace(seam::FolderAcceptsWrites, [unwritable](const std::wstring& folder) {
            return !IsInFolder(FullPath(folder), unwritable) && seam::FolderAcceptsWrites.Real(folder);
        });
    }
    // Another copy made the store's named objects with security that leaves this one out: Windows answers access
    // denied to every open, which Wine never does.
    if (!Variable(L"BOOTWARDEN_TEST_OBJECTS_DENIED").empty()) {
        m_scopes->objectsDenied.emplace(seam::CreateNamedObject, [](bool, SECURITY_ATTRIBUTES*, const std::wstring&) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return HANDLE(nullptr);
        });
    }
}

TTestPlaces::~TTestPlaces() = default;

bool UseScratchRegistry() {
    std::vector<wchar_t> buffer(1024);
    const DWORD length =
        ::GetEnvironmentVariableW(L"BOOTWARDEN_TEST_REGISTRY", buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        return false;
    }
    const std::wstring scratch(buffer.data(), length);
    UniqueHkey machine;
    UniqueHkey user;
    // Both are opened before either root is redirected: the second open must not land inside the first.
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, (scratch + L"\\Machine").c_str(), 0, KEY_ALL_ACCESS, machine.Put()) !=
            ERROR_SUCCESS ||
        ::RegOpenKeyExW(HKEY_CURRENT_USER, (scratch + L"\\User").c_str(), 0, KEY_ALL_ACCESS, user.Put()) !=
            ERROR_SUCCESS) {
        return false;
    }
    return ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine.Get()) == ERROR_SUCCESS &&
           ::RegOverridePredefKey(HKEY_CURRENT_USER, user.Get()) == ERROR_SUCCESS;
}

} // namespace bw::cli
