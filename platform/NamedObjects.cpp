#include "platform/NamedObjects.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Token.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <vector>

namespace bw {

namespace {

EBootwarden FailureOf(const std::wstring& name, DWORD error) {
    return EBootwarden(Operation::NamedObject, name, error);
}

// The path that the folder really has, or nothing when it cannot be opened and asked. A folder not yet made is
// named by the real path of the folder it will be made in, so that its name stays the same once it is there.
std::wstring RealFolderPath(const std::wstring& given) {
    std::wstring folder = given;
    while (folder.size() > 3 && folder.back() == L'\\') {
        folder.pop_back();
    }
    const bool missing = ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES &&
                         (::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND);
    if (missing) {
        const std::wstring parent = FolderPart(folder);
        if (parent.size() < 2 || parent.size() >= folder.size()) {
            return {};
        }
        const std::wstring real = RealFolderPath(parent);
        return real.empty() ? std::wstring() : JoinPath(real, FileNamePart(folder));
    }
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

HANDLE RealCreateNamedObject(bool mutex, SECURITY_ATTRIBUTES* security, const std::wstring& name) {
    // An object that exists is opened as it is (the security given to a create is ignored for it, and Wine refuses
    // the create then); only a name that nothing holds is made, with `security`.
    HANDLE object = mutex ? ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL, FALSE, name.c_str())
                          : ::OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str());
    if (object != nullptr) {
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return object;
    }
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
        return nullptr; // access denied, or an object of another kind
    }
    return mutex
               ? ::CreateMutexW(security, FALSE, name.c_str())
               : ::CreateFileMappingW(INVALID_HANDLE_VALUE, security, PAGE_READWRITE, 0, sizeof(LONG64), name.c_str());
}

std::wstring RealOwnerOfObject(HANDLE object) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS) {
        return {};
    }
    wchar_t* text = nullptr;
    std::wstring sid;
    if (owner != nullptr && ::ConvertSidToStringSidW(owner, &text)) {
        sid = text;
        ::LocalFree(text);
    }
    ::LocalFree(descriptor);
    return sid;
}

constexpr const wchar_t* kAdministratorsSid = L"S-1-5-32-544";

// The security every named object of the store is made with (see the header).
class TSharedSecurity {
public:
    TSharedSecurity() {
        // Owned by the account itself, or by the Administrators group for a copy with raised rights (as Windows'
        // default owner is; Wine's would be the user's group), so that every copy on the store trusts it.
        const std::wstring user = ProcessUserSid();
        std::wstring sddl = RunsAsAdministrator() ? L"O:BAD:" : user.empty() ? L"D:" : L"O:" + user + L"D:";
        for (const std::wstring& sid : {DesktopUserSid(), ProcessUserSid()}) {
            if (!sid.empty() && sddl.find(sid) == std::wstring::npos) {
                sddl += L"(A;;GA;;;" + sid + L")";
            }
        }
        sddl += L"(A;;GA;;;BA)(A;;GA;;;SY)S:(ML;;NW;;;ME)";
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &m_descriptor,
                                                                   nullptr)) {
            m_attributes.nLength = sizeof m_attributes;
            m_attributes.lpSecurityDescriptor = m_descriptor;
        }
    }
    ~TSharedSecurity() { ::LocalFree(m_descriptor); }
    TSharedSecurity(const TSharedSecurity&) = delete;
    TSharedSecurity& operator=(const TSharedSecurity&) = delete;
    // Null (the default security) where the descriptor could not be made.
    SECURITY_ATTRIBUTES* Attributes() { return m_descriptor != nullptr ? &m_attributes : nullptr; }

private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
    SECURITY_ATTRIBUTES m_attributes{};
};

// Makes or opens the object of that name, and trusts one that existed only when it is the program's own.
UniqueObject OpenShared(bool mutex, const std::wstring& name, bool& existed) {
    TSharedSecurity security;
    UniqueObject object(seam::CreateNamedObject(mutex, security.Attributes(), name));
    const DWORD error = ::GetLastError();
    if (!object) {
        // Access denied: another copy made it with security that leaves this one out. An invalid handle: the name
        // is an object of another kind.
        if (error == ERROR_ACCESS_DENIED) {
            throw ENotShared(ENotShared::AccessDenied, name);
        }
        if (error == ERROR_INVALID_HANDLE) {
            throw ENotShared(ENotShared::NameTaken, name);
        }
        throw FailureOf(name, error);
    }
    existed = error == ERROR_ALREADY_EXISTS;
    if (existed) {
        // Windows answers the owner of every object that this process could open; a system that keeps none (Wine)
        // answers nothing, and the open itself is then all there is to go by.
        const std::wstring owner = seam::OwnerOfObject(object.Get());
        const bool ours =
            owner.empty() || owner == ProcessUserSid() || owner == DesktopUserSid() || owner == kAdministratorsSid;
        if (!ours) {
            throw ENotShared(ENotShared::NameTaken, name);
        }
    }
    return object;
}

} // namespace

namespace seam {
TSeam<HANDLE(bool, SECURITY_ATTRIBUTES*, const std::wstring&)> CreateNamedObject(&RealCreateNamedObject);
TSeam<std::wstring(HANDLE)> OwnerOfObject(&RealOwnerOfObject);
} // namespace seam

ENotShared::ENotShared(Reason reason, const std::wstring& name)
    : EBootwarden(Operation::NamedObject, name, reason == AccessDenied ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE),
      m_reason(reason) {}

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
    bool existed = false;
    m_mutex = OpenShared(true, name, existed);
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
    m_mapping = OpenShared(false, name, m_existed);
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
