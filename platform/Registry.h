#pragma once

#include "platform/Seam.h"
#include "platform/UniqueHandle.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace bw {

// One value of a key as it stands: its name, its type and its data, byte for byte.
struct RegistryValue {
    std::wstring name;
    DWORD type = REG_NONE;
    std::string data;

    bool IsText() const { return type == REG_SZ || type == REG_EXPAND_SZ; }
    // The data up to its first zero character, as ReadText reads it (for any type).
    std::wstring Text() const;
    bool operator==(const RegistryValue& other) const {
        return name == other.name && type == other.type && data == other.data;
    }
};

// What a key tells of itself without its values: the time of its last change and its size.
struct KeyStamp {
    FILETIME written{};
    DWORD values = 0;
    DWORD longestName = 0;
    DWORD longestData = 0;

    bool operator==(const KeyStamp& other) const;
    bool operator!=(const KeyStamp& other) const { return !(*this == other); }
};

// What a key is opened for. Windows lets a standard user (and an administrator's unelevated token) read HKLM's
// keys but not change them, so a key is opened for writing only where something is written.
enum class KeyAccess { Read, Write };

// Access to the values of one registry key. Keys are only ever opened, never created. The open key is closed
// when the object is destroyed or another key is opened.
class TRegistry {
public:
    TRegistry() = default;

    // Later opens start from this root.
    void SelectRoot(HKEY root) { m_root = root; }

    // Opens `path` below the selected root for `access` (and `view`, KEY_WOW64_32KEY or KEY_WOW64_64KEY, to name
    // one view of a redirected key explicitly); true when it is now the open key. A missing key or refused access
    // gives false and leaves the key held before open (Refused() then tells which). Never throws.
    bool OpenExistingKey(const std::wstring& path, REGSAM view = 0, KeyAccess access = KeyAccess::Read);

    // True when the last open failed because the user lacks the rights for it, not because the key is missing.
    bool Refused() const { return m_lastOpen == ERROR_ACCESS_DENIED; }

    // The name of every value of the open key, in the registry's enumeration order.
    std::vector<std::wstring> ListValueNames() const;

    // Every value of the open key with its type and data, in one pass, in the registry's enumeration order.
    std::vector<RegistryValue> ListValues() const;

    // The open key's stamp; nothing when there is no open key or it cannot be queried.
    std::optional<KeyStamp> Stamp() const;

    // The text of a string value (REG_SZ, or REG_EXPAND_SZ left unexpanded) up to its first zero. A missing
    // value or one without data reads as "". Raises ERegistryException for data of another type.
    std::wstring ReadText(const std::wstring& name) const;

    // The value as it stands, or nothing when it cannot be queried.
    std::optional<RegistryValue> Value(const std::wstring& name) const;

    // The value's type, or nothing when the value cannot be queried.
    std::optional<DWORD> ValueType(const std::wstring& name) const;

    // Stores `text` and its terminating zero as a value of `type` (REG_SZ or REG_EXPAND_SZ), creating or
    // replacing it. Raises ERegistryException "Failed to set data for '%s'".
    void WriteText(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ);

    // Stores a value exactly as given (type and bytes). Raises as WriteText does.
    void WriteValue(const RegistryValue& value);

    // Deletes the value; true on success.
    bool RemoveValue(const std::wstring& name);

    // True when the value can be queried.
    bool HasValue(const std::wstring& name) const { return ValueType(name).has_value(); }

    // The open key's own full name in the registry ("\REGISTRY\Machine\Software\..."), which tells two views
    // of one path apart; "" when there is no open key or the name cannot be asked for.
    std::wstring KeyName() const;

private:
    HKEY m_root = HKEY_CURRENT_USER;
    UniqueHkey m_key;
    LONG m_lastOpen = ERROR_SUCCESS;
};

namespace seam {
// RegOpenKeyExW: the root, the path below it, the access asked for (with the view), and where the key goes.
// Tests answer ERROR_ACCESS_DENIED through it as Windows does to a standard user who asks to change HKLM.
extern TSeam<LONG(HKEY, const std::wstring&, REGSAM, HKEY*)> OpenRegistryKey;
} // namespace seam

} // namespace bw
