#pragma once

#include <windows.h>

#include <utility>

namespace bw {

namespace detail {
template <typename T> constexpr T NullHandle() {
    return T{};
}
inline HANDLE InvalidHandle() {
    return INVALID_HANDLE_VALUE;
}
} // namespace detail

// Owns one handle of a Windows kind and closes it exactly once. `InvalidValue` gives the value that means
// "no handle" for that kind (INVALID_HANDLE_VALUE for files and searches, null for the rest).
template <typename T, auto Close, auto InvalidValue = detail::NullHandle<T>> class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T handle) : m_handle(handle) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    T Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != Invalid(); }

    // For out-parameters: closes what is held and hands out the slot.
    T* Put() {
        Reset();
        return &m_handle;
    }

    T Release() { return std::exchange(m_handle, Invalid()); }

    void Reset(T handle = Invalid()) {
        T old = std::exchange(m_handle, handle);
        if (old != Invalid()) {
            Close(old);
        }
    }

private:
    static T Invalid() { return InvalidValue(); }
    T m_handle = Invalid();
};

namespace detail {
inline void CloseFile(HANDLE h) {
    ::CloseHandle(h);
}
inline void CloseFind(HANDLE h) {
    ::FindClose(h);
}
inline void CloseKey(HKEY h) {
    ::RegCloseKey(h);
}
} // namespace detail

using UniqueFile = UniqueHandle<HANDLE, detail::CloseFile, detail::InvalidHandle>;
// A process, thread or other kernel object, whose "no handle" is null (a file's is INVALID_HANDLE_VALUE).
using UniqueKernelHandle = UniqueHandle<HANDLE, detail::CloseFile>;
using UniqueFind = UniqueHandle<HANDLE, detail::CloseFind, detail::InvalidHandle>;
using UniqueHkey = UniqueHandle<HKEY, detail::CloseKey>;

} // namespace bw
