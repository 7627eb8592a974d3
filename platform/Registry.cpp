#include "platform/Registry.h"

#include "platform/Errors.h"

namespace bw {

bool TRegistry::OpenExistingKey(const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(m_root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        return false;
    }
    m_key.Reset(key);
    return true;
}

std::vector<std::wstring> TRegistry::ListValueNames() const {
    std::vector<std::wstring> names;
    if (!m_key) {
        return names;
    }
    DWORD count = 0;
    DWORD longest = 0;
    if (::RegQueryInfoKeyW(m_key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longest, nullptr,
                           nullptr, nullptr) != ERROR_SUCCESS) {
        return names;
    }
    std::wstring buffer(longest + 1, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LONG status =
            ::RegEnumValueW(m_key.Get(), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) {
            // A longer name was added since the key was measured; measure again and retry this index.
            buffer.resize(buffer.size() * 2 + 256);
            --index;
            continue;
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(buffer.data(), length);
    }
    return names;
}

std::optional<DWORD> TRegistry::ValueType(const std::wstring& name) const {
    DWORD type = REG_NONE;
    if (!m_key || ::RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return type;
}

DWORD TRegistry::ValueSize(const std::wstring& name) const {
    DWORD size = 0;
    if (!m_key || ::RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return 0;
    }
    return size;
}

std::wstring TRegistry::ReadText(const std::wstring& name) const {
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (!m_key || ::RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        size == 0) {
        return {};
    }
    std::wstring data;
    LONG status = ERROR_MORE_DATA;
    // The value may grow between the two queries; a few tries cover that, after which it counts as failed.
    for (int attempt = 0; attempt < 4 && status == ERROR_MORE_DATA; ++attempt) {
        data.assign(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        status =
            ::RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    }
    if (status != ERROR_SUCCESS) {
        throw ERegistryException(FormatMessageText(msg::kFailedToGetData, name));
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        throw ERegistryException(FormatMessageText(msg::kInvalidDataType, name));
    }
    data.resize(size / sizeof(wchar_t)); // an odd last byte cannot hold a character
    const auto end = data.find(L'\0');
    if (end != std::wstring::npos) {
        data.resize(end);
    }
    return data;
}

void TRegistry::WriteText(const std::wstring& name, const std::wstring& text, DWORD type) {
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    if (!m_key || ::RegSetValueExW(m_key.Get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                   bytes) != ERROR_SUCCESS) {
        throw ERegistryException(FormatMessageText(msg::kFailedToSetData, name));
    }
}

bool TRegistry::RemoveValue(const std::wstring& name) {
    return m_key && ::RegDeleteValueW(m_key.Get(), name.c_str()) == ERROR_SUCCESS;
}

} // namespace bw
