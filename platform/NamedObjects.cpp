#include "platform/NamedObjects.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"

#include <cstdio>
#include <vector>

namespace bw {

namespace {

EBootwarden FailureOf(const std::wstring& name, DWORD error) {
    return EBootwarden(Operation::NamedObject, name, error);
}

// The path that the folder really has, or nothing when it cannot be opened and asked.
std::wstring RealFolderPath(const std::wstring& folder) {
    UniqueFile handle(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) {
        return {};
    }
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(handle.Get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                                         FILE_NAME_NORMALIZED);
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(length + 1);
    }
}

} // namespace

std::wstring SessionNameForFolder(const std::wstring& kind, const std::wstring& folder) {
    std::wstring path = RealFolderPath(folder);
    if (path.empty()) {
        path = FullPath(folder); // a folder that cannot be asked is still told apart by its path
    }
    while (!path.empty() && path.back() == L'\\') {
        path.pop_back();
    }
    // FNV-1a over the folded path's UTF-16 units: short, stable across runs and processes.
    std::uint64_t hash = 14695981039346656037ULL;
    for (wchar_t c : FoldedName(path)) {
        for (int shift = 0; shift < 16; shift += 8) {
            hash ^= (static_cast<std::uint64_t>(c) >> shift) & 0xFF;
            hash *= 1099511628211ULL;
        }
    }
    wchar_t digits[17];
    (void)swprintf(digits, 17, L"%016llx", static_cast<unsigned long long>(hash));
    return L"Local\\" + kind + L"-" + digits;
}

TNamedMutex::TNamedMutex(const std::wstring& name) : m_name(name) {
    // Created unowned: ownership is taken by a wait, which also reports a mutex its last owner abandoned.
    m_mutex.Reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
    if (!m_mutex) {
        throw FailureOf(name, ::GetLastError());
    }
}

TNamedMutex::~TNamedMutex() {
    Release();
}

bool TNamedMutex::Acquire(DWORD waitMs) {
    if (m_held) {
        return true;
    }
    switch (::WaitForSingleObject(m_mutex.Get(), waitMs)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: // its owner ended holding it: whatever it was doing has stopped
        m_held = true;
        return true;
    case WAIT_TIMEOUT:
        return false;
    default:
        throw FailureOf(m_name, ::GetLastError());
    }
}

void TNamedMutex::Release() {
    if (m_held) {
        m_held = false;
        (void)::ReleaseMutex(m_mutex.Get()); // owned by this thread, so it cannot fail
    }
}

TNamedValue::TNamedValue(const std::wstring& name) {
    m_mapping.Reset(
        ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG64), name.c_str()));
    if (!m_mapping) {
        throw FailureOf(name, ::GetLastError());
    }
    m_existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    void* view = ::MapViewOfFile(m_mapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG64));
    if (view == nullptr) {
        throw FailureOf(name, ::GetLastError());
    }
    m_value = static_cast<volatile LONG64*>(view); // a new mapping's page is zero
}

TNamedValue::~TNamedValue() {
    (void)::UnmapViewOfFile(const_cast<LONG64*>(m_value));
}

std::uint64_t TNamedValue::Get() const {
    return static_cast<std::uint64_t>(::InterlockedCompareExchange64(m_value, 0, 0));
}

void TNamedValue::Set(std::uint64_t value) {
    (void)::InterlockedExchange64(m_value, static_cast<LONG64>(value));
}

} // namespace bw
