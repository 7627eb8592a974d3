#pragma once

#include "platform/UniqueHandle.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace bw {

// Access to the values of one registry key. Keys are only ever opened, never created, and always with
// full access: a key that the user may only read counts as one that cannot be opened. The open key is
// closed when the object is destroyed or another key is opened.
class TRegistry {
public:
    TRegistry() = default;

    // Later opens start from this root.
    void SelectRoot(HKEY root) { m_root = root; }

    // Opens `path` below the selected root with KEY_ALL_ACCESS; true when it is now the open key. A missing
    // key or refused access gives false and leaves the key held before open. Never throws.
    bool OpenExistingKey(const std::wstring& path);

    // The name of every value of the open key, in the registry's enumeration order.
    std::vector<std::wstring> ListValueNames() const;

    // The text of a string value (REG_SZ, or REG_EXPAND_SZ left unexpanded) up to its first zero. A missing
    // value or one without data reads as "". Raises ERegistryException for data of another type.
    std::wstring ReadText(const std::wstring& name) const;

    // The value's type, or nothing when the value cannot be queried.
    std::optional<DWORD> ValueType(const std::wstring& name) const;

    // Stores `text` and its terminating zero as a value of `type` (REG_SZ or REG_EXPAND_SZ), creating or
    // replacing it. Raises ERegistryException "Failed to set data for '%s'".
    void WriteText(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ);

    // Deletes the value; true on success.
    bool RemoveValue(const std::wstring& name);

    // The size in bytes of the value's data (0 when it has none or cannot be queried).
    DWORD ValueSize(const std::wstring& name) const;

    // True when the value can be queried.
    bool HasValue(const std::wstring& name) const { return ValueType(name).has_value(); }

private:
    HKEY m_root = HKEY_CURRENT_USER;
    UniqueHkey m_key;
};

} // namespace bw
