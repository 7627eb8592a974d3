#include "SigningSupport.h"

#include "TestEnvironment.h"

#include <cwchar>

namespace bw::test {

namespace {

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

} // namespace

std::wstring TestModule(const std::wstring& fileName) {
    return FolderPart(ModulePath()) + fileName;
}

std::wstring SignedProgram(const std::wstring& fileName) {
    return FolderPart(ModulePath()) + L"signed\\" + fileName;
}

TrustedCertificate::TrustedCertificate(const std::wstring& certificateFile) {
    const std::string bytes = ReadFileBytes(certificateFile);
    EXPECT_FALSE(bytes.empty()) << "the signing step of the test run made no " << certificateFile;
    // Closed at once: what a store holds open is not seen by the chains that Windows builds meanwhile.
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    EXPECT_NE(store, nullptr);
    PCCERT_CONTEXT added = nullptr;
    if (store != nullptr) {
        EXPECT_TRUE(::CertAddEncodedCertificateToStore(
            store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()),
            CERT_STORE_ADD_REPLACE_EXISTING, &added));
    }
    // A registry store keeps each certificate under a key named by its SHA-1 thumbprint in upper-case hexadecimal.
    BYTE thumbprint[20]{};
    DWORD size = sizeof thumbprint;
    if (added != nullptr && ::CertGetCertificateContextProperty(added, CERT_SHA1_HASH_PROP_ID, thumbprint, &size)) {
        m_key = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
        for (DWORD i = 0; i < size; ++i) {
            wchar_t hex[3]{};
            std::swprintf(hex, 3, L"%02X", thumbprint[i]);
            m_key += hex;
        }
    }
    if (added != nullptr) {
        ::CertFreeCertificateContext(added);
    }
    if (store != nullptr) {
        ::CertCloseStore(store, 0);
    }
}

TrustedCertificate::~TrustedCertificate() {
    // Deleting through the store is not kept by Wine's registry store; the key goes instead.
    if (!m_key.empty()) {
        EXPECT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str()), ERROR_SUCCESS) << m_key;
    }
}

void PatchKeepingStamp(const std::wstring& path, const std::wstring& from, const std::wstring& to) {
    std::string bytes = ReadFileBytes(path);
    const size_t at = bytes.find(Utf16Bytes(from));
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, from.size() * sizeof(wchar_t), Utf16Bytes(to));
    const std::optional<FileStamp> before = StampAt(path);
    ASSERT_TRUE(before);
    {
        UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        ASSERT_TRUE(::SetFileTime(file.Get(), &before->created, nullptr, &before->written));
    }
    ASSERT_EQ(*StampAt(path), *before);
}

void MoveWrittenTime(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    FILETIME later = SystemTimeNow();
    later.dwHighDateTime += 1;
    ASSERT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, &later));
}

} // namespace bw::test
