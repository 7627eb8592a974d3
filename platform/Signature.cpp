#include "platform/Signature.h"

#include "platform/UniqueHandle.h"

#include <softpub.h>
#include <mscat.h>
#include <wintrust.h>

#include <vector>

namespace bw {

namespace {

// One WinVerifyTrust check, its state closed on every exit: the provider keeps the signer's certificate chain in
// that state until it is closed.
class TrustCheck {
public:
    explicit TrustCheck(WINTRUST_FILE_INFO& file) : TrustCheck(WTD_CHOICE_FILE) {
        m_data.pFile = &file;
        Run();
    }
    explicit TrustCheck(WINTRUST_CATALOG_INFO& catalog) : TrustCheck(WTD_CHOICE_CATALOG) {
        m_data.pCatalog = &catalog;
        Run();
    }
    ~TrustCheck() {
        if (m_opened) {
            m_data.dwStateAction = WTD_STATEACTION_CLOSE;
            (void)::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
        }
    }
    TrustCheck(const TrustCheck&) = delete;
    TrustCheck& operator=(const TrustCheck&) = delete;

    // What the check answered, with the signer and its chain's root when it holds.
    TrustAnswer Answer() const {
        TrustAnswer answer;
        answer.status = m_status;
        if (m_status != ERROR_SUCCESS) {
            return answer;
        }
        CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(m_data.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer =
            provider != nullptr ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        CRYPT_PROVIDER_CERT* leaf = signer != nullptr ? ::WTHelperGetProvCertFromChain(signer, 0) : nullptr;
        if (leaf == nullptr || leaf->pCert == nullptr || signer->pChainContext == nullptr) {
            answer.status = TRUST_E_NO_SIGNER_CERT;
            return answer;
        }
        // Windows' Authenticode policy has judged this chain already; Wine's accepts a chain whatever its root, so
        // the chain is held to the same policy here once more (on Windows this never answers otherwise).
        CERT_CHAIN_POLICY_PARA para{};
        para.cbSize = sizeof para;
        CERT_CHAIN_POLICY_STATUS policy{};
        policy.cbSize = sizeof policy;
        if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, signer->pChainContext, &para,
                                                &policy)) {
            answer.status = static_cast<LONG>(::GetLastError());
            return answer;
        }
        if (policy.dwError != 0) {
            answer.status = static_cast<LONG>(policy.dwError);
            return answer;
        }
        wchar_t name[256]{};
        ::CertGetNameStringW(leaf->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
        answer.signer = name;
        answer.microsoftRoot = seam::EndsInMicrosoftRoot(signer->pChainContext);
        return answer;
    }

private:
    explicit TrustCheck(DWORD choice) {
        m_data.cbStruct = sizeof m_data;
        m_data.dwUIChoice = WTD_UI_NONE;
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
        m_data.dwUnionChoice = choice;
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
        // Only what is already on this machine: a start-up program on a machine without network must not wait.
        m_data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    }
    void Run() {
        m_status = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
        m_opened = true;
    }

    GUID m_action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_DATA m_data{};
    LONG m_status = 0;
    bool m_opened = false;
};

bool RealEndsInMicrosoftRoot(PCCERT_CHAIN_CONTEXT chain) {
    CERT_CHAIN_POLICY_PARA para{};
    para.cbSize = sizeof para;
    CERT_CHAIN_POLICY_STATUS policy{};
    policy.cbSize = sizeof policy;
    return ::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_MICROSOFT_ROOT, chain, &para, &policy) &&
           policy.dwError == 0;
}

void ReleaseCatalogAdmin(HCATADMIN admin) {
    ::CryptCATAdminReleaseContext(admin, 0);
}
using UniqueCatalogAdmin = UniqueHandle<HCATADMIN, ReleaseCatalogAdmin>;

// A catalog found for a hash; it is given back to the admin context that found it.
class CatalogContext {
public:
    CatalogContext(HCATADMIN admin, HCATINFO info) : m_admin(admin), m_info(info) {}
    ~CatalogContext() {
        if (m_info != nullptr) {
            ::CryptCATAdminReleaseCatalogContext(m_admin, m_info, 0);
        }
    }
    CatalogContext(const CatalogContext&) = delete;
    CatalogContext& operator=(const CatalogContext&) = delete;
    HCATINFO Get() const { return m_info; }

private:
    HCATADMIN m_admin;
    HCATINFO m_info;
};

// The SHA-256 forms of the catalog calls exist from Windows 8 on; looked up, so that a system without them (Wine
// lacks the hash call) finds no catalog instead of failing to start the program.
using AcquireContext2Fn = BOOL(WINAPI*)(HCATADMIN*, const GUID*, PCWSTR, PCCERT_STRONG_SIGN_PARA, DWORD);
using CalcHash2Fn = BOOL(WINAPI*)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);

template <typename Function> Function WintrustFunction(const char* name) {
    const HMODULE module = ::GetModuleHandleW(L"wintrust.dll");
    return module == nullptr ? nullptr
                             : reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

std::optional<TrustAnswer> RealCatalogTrust(const std::wstring& path) {
    static const auto acquire = WintrustFunction<AcquireContext2Fn>("CryptCATAdminAcquireContext2");
    static const auto calcHash = WintrustFunction<CalcHash2Fn>("CryptCATAdminCalcHashFromFileHandle2");
    if (acquire == nullptr || calcHash == nullptr) {
        return std::nullopt;
    }
    HCATADMIN rawAdmin = nullptr;
    const GUID driverAction = DRIVER_ACTION_VERIFY;
    if (!acquire(&rawAdmin, &driverAction, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) {
        return std::nullopt;
    }
    const UniqueCatalogAdmin admin(rawAdmin);
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
    if (!file) {
        return std::nullopt;
    }
    DWORD size = 0;
    (void)calcHash(admin.Get(), file.Get(), &size, nullptr, 0); // the hash's size (fails with the size filled in)
    if (size == 0 || size > 64) {
        return std::nullopt;
    }
    std::vector<BYTE> hash(size);
    if (!calcHash(admin.Get(), file.Get(), &size, hash.data(), 0)) {
        return std::nullopt;
    }
    const CatalogContext catalog(admin.Get(),
                                 ::CryptCATAdminEnumCatalogFromHash(admin.Get(), hash.data(), size, 0, nullptr));
    CATALOG_INFO info{};
    info.cbStruct = sizeof info;
    if (catalog.Get() == nullptr || !::CryptCATCatalogInfoFromContext(catalog.Get(), &info, 0)) {
        return std::nullopt; // no catalog of the system lists it
    }
    // A catalog names its members by their hashes in upper-case hexadecimal.
    std::wstring tag;
    for (BYTE byte : hash) {
        constexpr const wchar_t* kDigits = L"0123456789ABCDEF";
        tag += kDigits[byte >> 4];
        tag += kDigits[byte & 15];
    }
    WINTRUST_CATALOG_INFO member{};
    member.cbStruct = sizeof member;
    member.pcwszCatalogFilePath = info.wszCatalogFile;
    member.pcwszMemberFilePath = path.c_str();
    member.pcwszMemberTag = tag.c_str();
    member.hMemberFile = file.Get();
    member.pbCalculatedFileHash = hash.data();
    member.cbCalculatedFileHash = size;
    member.hCatAdmin = admin.Get();
    const TrustCheck check(member);
    return check.Answer();
}

TrustAnswer RealFileTrust(const std::wstring& path) {
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    return TrustCheck(file).Answer();
}

bool IsNoFileStatus(LONG status) {
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND ||
           status == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || status == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

// The answers that mean "no signature of its own": none in the file, or a kind of file no signature format covers.
bool IsUnsignedStatus(LONG status) {
    return status == TRUST_E_NOSIGNATURE || status == TRUST_E_SUBJECT_FORM_UNKNOWN ||
           status == TRUST_E_PROVIDER_UNKNOWN;
}

} // namespace

namespace seam {
TSeam<TrustAnswer(const std::wstring&)> FileTrust(&RealFileTrust);
TSeam<std::optional<TrustAnswer>(const std::wstring&)> CatalogTrust(&RealCatalogTrust);
TSeam<bool(PCCERT_CHAIN_CONTEXT)> EndsInMicrosoftRoot(&RealEndsInMicrosoftRoot);
} // namespace seam

SignatureVerdict VerifySignature(const std::wstring& path) {
    SignatureVerdict verdict;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (path.empty() || attributes == INVALID_FILE_ATTRIBUTES) {
        verdict.kind = SignatureKind::Missing;
        return verdict;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return verdict; // a folder carries no signature
    }
    TrustAnswer answer = seam::FileTrust(path);
    if (IsUnsignedStatus(answer.status)) {
        // Windows' own programs are mostly signed through the system's catalogs, not in the file.
        const std::optional<TrustAnswer> catalog = seam::CatalogTrust(path);
        if (!catalog) {
            return verdict;
        }
        answer = *catalog;
        verdict.byCatalog = true;
    }
    if (IsNoFileStatus(answer.status)) {
        verdict.kind = SignatureKind::Missing; // gone between the look and the check
        return verdict;
    }
    if (answer.status != ERROR_SUCCESS) {
        verdict.kind = SignatureKind::NotValid;
        verdict.status = answer.status;
        return verdict;
    }
    verdict.kind = SignatureKind::Verified;
    verdict.signer = answer.signer;
    verdict.microsoftRoot = answer.microsoftRoot;
    return verdict;
}

} // namespace bw
