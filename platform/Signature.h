#pragma once

#include "platform/Seam.h"

#include <windows.h>
#include <wincrypt.h>

#include <optional>
#include <string>

namespace bw {

// What the signature of a program file says, as Windows checks it.
enum class SignatureKind {
    Verified,  // signed, and the signature holds: `signer` names who signed it
    NotSigned, // neither the file nor a catalog of the system carries a signature for it
    NotValid,  // a signature is there but does not hold: `status` says why
    Missing,   // no file stands at the path
};

struct SignatureVerdict {
    SignatureKind kind = SignatureKind::NotSigned;
    std::wstring signer;        // verified: the name on the signing certificate
    LONG status = 0;            // not valid: the error Windows gave (TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT...)
    bool microsoftRoot = false; // verified: the certificate chain ends in one of Microsoft's own roots
    bool byCatalog = false;     // verified or not valid through a catalog of the system, not the file itself
    bool operator==(const SignatureVerdict& other) const {
        return kind == other.kind && signer == other.signer && status == other.status &&
               microsoftRoot == other.microsoftRoot && byCatalog == other.byCatalog;
    }
    bool operator!=(const SignatureVerdict& other) const { return !(*this == other); }
};

// The signature of the file at `path`: its own (Authenticode, embedded) and, where it carries none, that of a
// catalog of the system that lists its hash. Checked without any user interface, without revocation checks and
// without fetching anything from the network. Never raises.
SignatureVerdict VerifySignature(const std::wstring& path);

// What a trust check answered for one subject: the file itself, or a catalog that lists it.
struct TrustAnswer {
    LONG status = 0;            // 0 when the signature holds
    std::wstring signer;        // when it holds
    bool microsoftRoot = false; // when it holds
};

namespace seam {
// WinVerifyTrust's answer for the signature a file carries itself. Under a scratch registry (HKLM redirected) Wine
// finds no trust provider and builds no chain; tests of the window and of bwcli answer for it as Windows would.
extern TSeam<TrustAnswer(const std::wstring& path)> FileTrust;
// The catalog signature of a file without one of its own: nothing when no catalog of the system lists the
// file's hash (always so under Wine, which keeps no catalogs), else what checking that catalog answered.
extern TSeam<std::optional<TrustAnswer>(const std::wstring& path)> CatalogTrust;
// Whether a verified chain ends in a Microsoft root (CERT_CHAIN_POLICY_MICROSOFT_ROOT); under Wine no chain of
// a test's own making ever does.
extern TSeam<bool(PCCERT_CHAIN_CONTEXT chain)> EndsInMicrosoftRoot;
} // namespace seam

} // namespace bw
