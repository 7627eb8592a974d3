#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace bw::test {

// A module built beside the test programs (tests/fixtures), by its file name.
std::wstring TestModule(const std::wstring& fileName);
// A file that the test run's signing step made (tests/fixtures/SignPrograms.sh): Signed.dll, OtherSigner.dll,
// Tampered.dll and the certificates Fabrikam.cer and Northwind.cer.
std::wstring SignedProgram(const std::wstring& fileName);

// A certificate trusted as a root by the current user (of the test prefix) for the object's life, and removed
// afterwards. Not under a scratch registry: with HKLM redirected, Wine's chain engine builds no chain at all.
class TrustedCertificate {
public:
    explicit TrustedCertificate(const std::wstring& certificateFile);
    ~TrustedCertificate();
    TrustedCertificate(const TrustedCertificate&) = delete;
    TrustedCertificate& operator=(const TrustedCertificate&) = delete;

private:
    std::wstring m_key; // the certificate's key in the registry store
};

// Changes `from` into `to` (of the same length) inside the file, and puts the file's stamp back as it was: the
// content differs, the stamp does not.
void PatchKeepingStamp(const std::wstring& path, const std::wstring& from, const std::wstring& to);
// Moves the file's written time on, as an update that replaces it does.
void MoveWrittenTime(const std::wstring& path);

} // namespace bw::test
