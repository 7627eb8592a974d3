#pragma once

#include "platform/Errors.h"
#include "platform/Seam.h"
#include "platform/UniqueHandle.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace bw {

namespace detail {
inline void CloseObject(HANDLE h) {
    ::CloseHandle(h);
}
} // namespace detail

// A handle of a kernel object (mutex, file mapping): null means none.
using UniqueObject = UniqueHandle<HANDLE, detail::CloseObject>;

// A named object of the store that this copy may not share. Either another copy made it and this one may not open
// it (Windows answers access denied), or what holds the name is not the program's: an object of another kind, or
// one whose owner is neither this user, the desktop's user nor the Administrators group.
class ENotShared : public EBootwarden {
public:
    enum Reason { AccessDenied, NameTaken };
    ENotShared(Reason reason, const std::wstring& name);
    Reason WhyNot() const { return m_reason; }

private:
    Reason m_reason;
};

// Every named object is made with explicit security, so that every copy of the program that works on the store
// can open it, with its rights raised or not and as another administrator: full access for the desktop's user
// (the store's owner), the account the program runs as, the Administrators group and SYSTEM, and a medium
// integrity label (a copy without raised rights may then open what a raised one made). One that exists already is
// trusted only when its owner is one of the accounts the program runs for or the Administrators group.

// A mutex named within the user's session, owned by one thread at a time. When its owner ends without
// releasing it (killed, or crashed), Windows hands it to the next waiter and reports it abandoned, so a process
// that dies never leaves it held. A thread that owns it may acquire it again; it is free once every acquire
// has been released.
class TNamedMutex {
public:
    // Opens the mutex of that name, creating it when no process holds one. Raises EBootwarden naming the
    // mutex and the system's reason when it can be neither opened nor created.
    explicit TNamedMutex(const std::wstring& name);
    ~TNamedMutex();
    TNamedMutex(const TNamedMutex&) = delete;
    TNamedMutex& operator=(const TNamedMutex&) = delete;

    // Waits up to `waitMs` milliseconds for the mutex. True when this thread now owns it, also when its last
    // owner ended holding it. Raises EBootwarden when the wait itself fails.
    bool Acquire(DWORD waitMs);

    // Gives the mutex up, if this object acquired it.
    void Release();

    bool Held() const { return m_held; }

private:
    std::wstring m_name;
    UniqueObject m_mutex;
    bool m_held = false;
};

// One number shared by name within the user's session, in a page of memory that lives as long as any process
// holds it open. It tells a second process that a first one exists, and what the first one left there.
class TNamedValue {
public:
    // Opens the shared value of that name, creating it (as 0) when no process holds one. Raises EBootwarden as
    // TNamedMutex does.
    explicit TNamedValue(const std::wstring& name);
    ~TNamedValue();
    TNamedValue(const TNamedValue&) = delete;
    TNamedValue& operator=(const TNamedValue&) = delete;

    // True when another process (or another object of this one) had it open already.
    bool Existed() const { return m_existed; }

    std::uint64_t Get() const;
    void Set(std::uint64_t value);

private:
    UniqueObject m_mapping;
    volatile LONG64* m_value = nullptr;
    bool m_existed = false;
};

// A name for a kernel object of the user's session that stands for one folder: `kind` followed by a hash of the
// folder's real path (links resolved, case folded), so that every path that reaches the folder gives the same
// name and no path gives a name too long or with a character that object names forbid.
std::wstring SessionNameForFolder(const std::wstring& kind, const std::wstring& folder);

namespace seam {
// Makes or opens the named object (`mutex`, else a page of shared memory) with `security`; Wine grants every open,
// so a test stands in for Windows' access denied.
extern TSeam<HANDLE(bool mutex, SECURITY_ATTRIBUTES* security, const std::wstring& name)> CreateNamedObject;
// The SID of the owner of an object, as a string; "" when it cannot be read.
extern TSeam<std::wstring(HANDLE object)> OwnerOfObject;
} // namespace seam

} // namespace bw
