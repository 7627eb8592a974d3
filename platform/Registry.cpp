#include "platform/Registry.h"

#include "platform/Errors.h"

#include <algorithm>

namespace bw {

std::wstring RegistryValue::Text() const {
    std::wstring text(data.size() / sizeof(wchar_t), L'\0'); // an odd last byte cannot hold a character
    std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(text.size() * sizeof(wchar_t)),
              reinterpret_cast<char*>(text.data()));
    const auto end = text.find(L'\0');
    if (end != std::wstring::npos) {
        text.resize(end);
    }
    return text;
}

bool KeyStamp::operator==(const KeyStamp& other) const {
    return ::CompareFileTime(&written, &other.written) == 0 && values == other.values &&
           longestName == other.longestName && longestData == other.longestData;
}

namespace {

// A value name that holds a zero character cannot pass through the registry's C-string calls: they would act on
// the value named by its first part. ntdll's calls take the name with its length; they are found at run time, so
// that the program needs no import library for ntdll (and builds alike with MSVC and mingw-w64).
struct CountedName {
    USHORT length; // in bytes, without a terminating zero: the layout of UNICODE_STRING
    USHORT maximumLength;
    const wchar_t* buffer;
};

using NtQueryValueKeyFn = LONG(NTAPI*)(HANDLE, const CountedName*, int, void*, ULONG, ULONG*);
using NtSetValueKeyFn = LONG(NTAPI*)(HANDLE, const CountedName*, ULONG, ULONG, const void*, ULONG);
using NtDeleteValueKeyFn = LONG(NTAPI*)(HANDLE, const CountedName*);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(LONG);

struct CountedCalls {
    NtQueryValueKeyFn query = nullptr;
    NtSetValueKeyFn set = nullptr;
    NtDeleteValueKeyFn remove = nullptr;
    RtlNtStatusToDosErrorFn toError = nullptr;

    bool Usable() const { return query != nullptr && set != nullptr && remove != nullptr && toError != nullptr; }
};

template <typename Fn> Fn Find(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

const CountedCalls& Counted() {
    static const CountedCalls calls = [] {
        CountedCalls found;
        if (const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
            found.query = Find<NtQueryValueKeyFn>(ntdll, "NtQueryValueKey");
            found.set = Find<NtSetValueKeyFn>(ntdll, "NtSetValueKey");
            found.remove = Find<NtDeleteValueKeyFn>(ntdll, "NtDeleteValueKey");
            found.toError = Find<RtlNtStatusToDosErrorFn>(ntdll, "RtlNtStatusToDosError");
        }
        return found;
    }();
    return calls;
}

bool NeedsCountedName(const std::wstring& name) {
    return name.find(L'\0') != std::wstring::npos;
}

// Nothing when the name is longer than a counted name can be (the registry allows far shorter names anyway).
std::optional<CountedName> CountedNameOf(const std::wstring& name) {
    const size_t bytes = name.size() * sizeof(wchar_t);
    if (bytes > 0xFFFE) {
        return std::nullopt;
    }
    return CountedName{static_cast<USHORT>(bytes), static_cast<USHORT>(bytes), name.data()};
}

constexpr LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005);
constexpr LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023);
constexpr int kKeyValuePartialInformation = 2;

// The value of that exact name, through the counted call; an error code (ERROR_FILE_NOT_FOUND for a value that is
// not there) when it cannot be read.
LONG QueryCounted(HKEY key, const std::wstring& name, DWORD& type, std::string& data) {
    const CountedCalls& calls = Counted();
    const auto counted = CountedNameOf(name);
    if (!calls.Usable() || !counted) {
        return ERROR_NOT_SUPPORTED;
    }
    // KEY_VALUE_PARTIAL_INFORMATION: the title index, the type and the data's length (three ULONGs), the data.
    constexpr ULONG kHeader = 3 * sizeof(ULONG);
    std::vector<ULONG> buffer(64);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG needed = 0;
        const ULONG size = static_cast<ULONG>(buffer.size() * sizeof(ULONG));
        const LONG status = calls.query(key, &*counted, kKeyValuePartialInformation, buffer.data(), size, &needed);
        if (status == kStatusBufferOverflow || status == kStatusBufferTooSmall) {
            buffer.resize(needed / sizeof(ULONG) + 2); // the value may grow again before the next try
            continue;
        }
        if (status < 0) {
            return static_cast<LONG>(calls.toError(status));
        }
        type = buffer[1];
        const ULONG length = std::min<ULONG>(buffer[2], size - kHeader);
        data.assign(reinterpret_cast<const char*>(buffer.data()) + kHeader, length);
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

LONG SetCounted(HKEY key, const RegistryValue& value) {
    const CountedCalls& calls = Counted();
    const auto counted = CountedNameOf(value.name);
    if (!calls.Usable() || !counted) {
        return ERROR_NOT_SUPPORTED;
    }
    const LONG status =
        calls.set(key, &*counted, 0, value.type, value.data.data(), static_cast<ULONG>(value.data.size()));
    return status < 0 ? static_cast<LONG>(calls.toError(status)) : ERROR_SUCCESS;
}

LONG DeleteCounted(HKEY key, const std::wstring& name) {
    const CountedCalls& calls = Counted();
    const auto counted = CountedNameOf(name);
    if (!calls.Usable() || !counted) {
        return ERROR_NOT_SUPPORTED;
    }
    const LONG status = calls.remove(key, &*counted);
    return status < 0 ? static_cast<LONG>(calls.toError(status)) : ERROR_SUCCESS;
}

} // namespace

namespace seam {
TSeam<LONG(HKEY, const std::wstring&, REGSAM, HKEY*)> OpenRegistryKey([](HKEY root, const std::wstring& path,
                                                                         REGSAM access, HKEY* key) {
    return ::RegOpenKeyExW(root, path.c_str(), 0, access, key);
});
} // namespace seam

bool TRegistry::OpenExistingKey(const std::wstring& path, REGSAM view, KeyAccess access) {
    // Reading takes the values and the key's own name and stamp; writing sets and deletes values. Nothing asks
    // for more, so that a key the user may change opens wherever Windows lets it.
    const REGSAM rights = access == KeyAccess::Read ? KEY_READ : KEY_READ | KEY_SET_VALUE;
    HKEY key = nullptr;
    m_lastOpen = seam::OpenRegistryKey(m_root, path, rights | view, &key);
    if (m_lastOpen != ERROR_SUCCESS) {
        return false;
    }
    m_key.Reset(key);
    return true;
}

std::vector<std::wstring> TRegistry::ListValueNames() const {
    std::vector<std::wstring> names;
    for (RegistryValue& value : ListValues()) {
        names.push_back(std::move(value.name));
    }
    return names;
}

std::optional<KeyStamp> TRegistry::Stamp() const {
    KeyStamp stamp;
    if (!m_key ||
        ::RegQueryInfoKeyW(m_key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &stamp.values,
                           &stamp.longestName, &stamp.longestData, nullptr, &stamp.written) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return stamp;
}

std::vector<RegistryValue> TRegistry::ListValues() const {
    std::vector<RegistryValue> values;
    const auto stamp = Stamp();
    if (!stamp) {
        return values;
    }
    std::wstring name(stamp->longestName + 1, L'\0');
    std::string data(stamp->longestData + sizeof(wchar_t), '\0');
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LONG status = ::RegEnumValueW(m_key.Get(), index, name.data(), &nameLength, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data.data()), &dataSize);
        if (status == ERROR_MORE_DATA) {
            // A longer name or more data arrived since the key was measured; grow and retry this index.
            name.resize(name.size() * 2 + 256);
            data.resize(std::max<size_t>(data.size() * 2, dataSize + sizeof(wchar_t)));
            continue;
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        values.push_back({std::wstring(name.data(), nameLength), type, data.substr(0, dataSize)});
        ++index;
    }
    return values;
}

std::optional<RegistryValue> TRegistry::Value(const std::wstring& name) const {
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (m_key && NeedsCountedName(name)) {
        std::string data;
        if (QueryCounted(m_key.Get(), name, type, data) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        return RegistryValue{name, type, std::move(data)};
    }
    if (!m_key || ::RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    // The value may grow between the two queries; a few tries cover that.
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::string data(size + sizeof(wchar_t), '\0');
        size = static_cast<DWORD>(data.size());
        const LONG status =
            ::RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
        if (status == ERROR_SUCCESS) {
            data.resize(size);
            return RegistryValue{name, type, std::move(data)};
        }
        if (status != ERROR_MORE_DATA) {
            break;
        }
    }
    return std::nullopt;
}

std::optional<DWORD> TRegistry::ValueType(const std::wstring& name) const {
    DWORD type = REG_NONE;
    if (m_key && NeedsCountedName(name)) {
        const auto value = Value(name);
        return value ? std::optional<DWORD>(value->type) : std::nullopt;
    }
    if (!m_key || ::RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return type;
}

std::wstring TRegistry::ReadText(const std::wstring& name) const {
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (m_key && NeedsCountedName(name)) {
        const auto value = Value(name);
        if (!value || value->data.empty()) {
            return {};
        }
        if (!value->IsText()) {
            throw ERegistryException(Operation::RegistryType, name, ERROR_INVALID_DATATYPE);
        }
        return value->Text();
    }
    if (!m_key || ::RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        size == 0) {
        return {};
    }
    const auto value = Value(name);
    if (!value) {
        throw ERegistryException(Operation::RegistryGet, name);
    }
    if (!value->data.empty() && !value->IsText()) {
        throw ERegistryException(Operation::RegistryType, name, ERROR_INVALID_DATATYPE);
    }
    return value->Text();
}

void TRegistry::WriteText(const std::wstring& name, const std::wstring& text, DWORD type) {
    const auto* bytes = reinterpret_cast<const char*>(text.c_str());
    WriteValue({name, type, std::string(bytes, (text.size() + 1) * sizeof(wchar_t))});
}

void TRegistry::WriteValue(const RegistryValue& value) {
    const LONG error =
        !m_key ? ERROR_INVALID_HANDLE
        : NeedsCountedName(value.name)
            ? SetCounted(m_key.Get(), value)
            : ::RegSetValueExW(m_key.Get(), value.name.c_str(), 0, value.type,
                               reinterpret_cast<const BYTE*>(value.data.data()), static_cast<DWORD>(value.data.size()));
    if (error != ERROR_SUCCESS) {
        throw ERegistryException(Operation::RegistrySet, value.name, static_cast<unsigned long>(error));
    }
}

std::wstring TRegistry::KeyName() const {
    // NtQueryKey's KeyNameInformation (3): a ULONG length in bytes, then the name. Found at run time, so that the
    // program needs no import library for ntdll.
    using NtQueryKeyFn = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto queryKey = reinterpret_cast<NtQueryKeyFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    if (!m_key || queryKey == nullptr) {
        return {};
    }
    std::vector<ULONG> buffer(1024);
    ULONG needed = 0;
    if (queryKey(m_key.Get(), 3, buffer.data(), static_cast<ULONG>(buffer.size() * sizeof(ULONG)), &needed) < 0) {
        return {};
    }
    return std::wstring(reinterpret_cast<const wchar_t*>(buffer.data() + 1), buffer[0] / sizeof(wchar_t));
}

bool TRegistry::RemoveValue(const std::wstring& name) {
    if (m_key && NeedsCountedName(name)) {
        return DeleteCounted(m_key.Get(), name) == ERROR_SUCCESS;
    }
    return m_key && ::RegDeleteValueW(m_key.Get(), name.c_str()) == ERROR_SUCCESS;
}

} // namespace bw
