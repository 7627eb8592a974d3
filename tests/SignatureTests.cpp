#include "TestEnvironment.h"

#include "SigningSupport.h"
#include "platform/Signature.h"
#include "store/FileFacts.h"

#include <wincrypt.h>
#include <wintrust.h>

#include <atomic>

namespace bw::test {
namespace {

using ::testing::HasSubstr;

// Windows' answers that Wine gives for real, named as Windows names them.
constexpr LONG kBadDigest = static_cast<LONG>(0x80096010);     // TRUST_E_BAD_DIGEST
constexpr LONG kUntrustedRoot = static_cast<LONG>(0x800B0109); // CERT_E_UNTRUSTEDROOT

TEST(SignatureTest, ATrustedSignatureIsVerifiedAndNamesItsSigner) {
    const TrustedCertificate trusted(SignedProgram(L"Fabrikam.cer"));
    const SignatureVerdict verdict = VerifySignature(SignedProgram(L"Signed.dll"));
    EXPECT_EQ(verdict.kind, SignatureKind::Verified);
    EXPECT_EQ(verdict.signer, L"Fabrikam One Ltd");
    EXPECT_FALSE(verdict.microsoftRoot) << "a test's own root is no Microsoft root";
    EXPECT_FALSE(verdict.byCatalog);
}

// Wine's own check accepts a chain whatever its root; Windows refuses one that ends in a root nobody trusts. (The
// signer is one that no test of this suite trusts: a chain once trusted stays so in the process's chain cache.)
TEST(SignatureTest, ASignerNobodyTrustsIsNotValidAndSaysWhy) {
    const SignatureVerdict verdict = VerifySignature(SignedProgram(L"OtherSigner.dll"));
    EXPECT_EQ(verdict.kind, SignatureKind::NotValid);
    EXPECT_EQ(verdict.status, kUntrustedRoot);
    EXPECT_EQ(verdict.signer, L"");
    EXPECT_THAT(SignatureReasonText(verdict.status), HasSubstr(L"not trusted"));
}

TEST(SignatureTest, AProgramChangedAfterSigningIsNotValid) {
    const TrustedCertificate trusted(SignedProgram(L"Fabrikam.cer"));
    const SignatureVerdict verdict = VerifySignature(SignedProgram(L"Tampered.dll"));
    EXPECT_EQ(verdict.kind, SignatureKind::NotValid);
    EXPECT_EQ(verdict.status, kBadDigest);
    EXPECT_THAT(SignatureReasonText(verdict.status), HasSubstr(L"changed after it was signed"));
    EXPECT_THAT(SignatureReasonText(0x12345), HasSubstr(L"0x00012345")) << "an answer without words of its own";
}

TEST(SignatureTest, UnsignedMissingAndFolders) {
    TempFolder folder;
    EXPECT_EQ(VerifySignature(TestModule(L"FixtureOneLanguage.dll")).kind, SignatureKind::NotSigned);
    WriteFileBytes(folder / L"notes.txt", "not a program"); // no signature format covers it
    EXPECT_EQ(VerifySignature(folder / L"notes.txt").kind, SignatureKind::NotSigned);
    EXPECT_EQ(VerifySignature(folder.Path()).kind, SignatureKind::NotSigned);
    EXPECT_EQ(VerifySignature(folder / L"Uninstalled.exe").kind, SignatureKind::Missing);
    EXPECT_EQ(VerifySignature(L"").kind, SignatureKind::Missing);
}

// Windows signs most of its own programs in the system's catalogs rather than in the files. Wine keeps no
// catalogs, so the catalog's answers stand in: what checking the catalog that lists the file's hash gave.
TEST(SignatureTest, AProgramWithoutItsOwnSignatureIsCheckedInTheCatalogs) {
    std::vector<std::wstring> asked;
    TrustAnswer catalog{0, L"Microsoft Windows", true};
    auto scope = seam::CatalogTrust.Replace([&](const std::wstring& path) -> std::optional<TrustAnswer> {
        asked.push_back(path);
        return catalog;
    });
    const std::wstring unsigned_ = TestModule(L"FixtureOneLanguage.dll");
    SignatureVerdict verdict = VerifySignature(unsigned_);
    EXPECT_EQ(verdict.kind, SignatureKind::Verified);
    EXPECT_EQ(verdict.signer, L"Microsoft Windows");
    EXPECT_TRUE(verdict.microsoftRoot);
    EXPECT_TRUE(verdict.byCatalog);
    EXPECT_EQ(asked, std::vector<std::wstring>{unsigned_});

    catalog = TrustAnswer{kBadDigest, L"", false}; // the catalog lists it, but its signature does not hold
    verdict = VerifySignature(unsigned_);
    EXPECT_EQ(verdict.kind, SignatureKind::NotValid);
    EXPECT_EQ(verdict.status, kBadDigest);
    EXPECT_TRUE(verdict.byCatalog);

    // A program with a signature of its own is judged by it, even a broken one: a catalog never rescues it.
    asked.clear();
    catalog = TrustAnswer{0, L"Microsoft Windows", true};
    EXPECT_EQ(VerifySignature(SignedProgram(L"Tampered.dll")).kind, SignatureKind::NotValid);
    EXPECT_TRUE(asked.empty());
}

TEST(SignatureTest, AMicrosoftRootIsToldFromAnyOther) {
    const TrustedCertificate trusted(SignedProgram(L"Fabrikam.cer"));
    auto scope = seam::EndsInMicrosoftRoot.Replace([](PCCERT_CHAIN_CONTEXT chain) {
        // As Windows answers for a chain whose root is one of Microsoft's: here, the one root of the test's signer.
        return chain != nullptr && chain->cChain > 0 && chain->rgpChain[0]->cElement > 0;
    });
    const SignatureVerdict verdict = VerifySignature(SignedProgram(L"Signed.dll"));
    EXPECT_EQ(verdict.kind, SignatureKind::Verified);
    EXPECT_TRUE(verdict.microsoftRoot);
}

// A claimed name and a signer's name, as real programs carry them.
TEST(NamesAgreeTest, RealPairs) {
    struct Pair {
        const wchar_t* claimed;
        const wchar_t* signer;
        bool agree;
    };
    const Pair pairs[] = {
        {L"Microsoft Corporation", L"Microsoft Windows", true},
        {L"Microsoft Corporation", L"Microsoft Corporation", true},
        {L"Microsoft Corporation", L"Microsoft Windows Publisher", true},
        {L"Microsoft Corporation", L"Microsoft Windows Hardware Compatibility Publisher", true},
        {L"Google LLC", L"Google LLC", true},
        {L"Google Inc.", L"Google LLC", true},
        {L"Mozilla Corporation", L"Mozilla Corporation", true},
        {L"Valve", L"Valve Corp.", true},
        {L"Spotify Ltd", L"Spotify AB", true},
        {L"Dropbox, Inc.", L"Dropbox, Inc", true},
        {L"NVIDIA Corporation", L"NVIDIA Corporation", true},
        {L"Adobe Systems Incorporated", L"Adobe Inc.", false}, // another name: the claim is not confirmed
        {L"Microsoft Corporation", L"Microsoft Fan Club Ltd", false},
        {L"Microsoft Corporation", L"Northwind Traders", false},
        {L"Microsoft", L"Microsoftware Ltd", false},
        {L"Inc.", L"Inc.", false}, // no name at all once the legal form is set aside
        {L"", L"Northwind Traders", false},
    };
    for (const Pair& pair : pairs) {
        EXPECT_EQ(NamesAgree(pair.claimed, pair.signer), pair.agree) << pair.claimed << " / " << pair.signer;
    }
}

Entry ProgramEntry(const std::wstring& publisher, SignatureKind kind, const std::wstring& signer = {}) {
    Entry entry;
    entry.name = L"Updater";
    entry.code = kUser;
    entry.target = L"C:\\Program Files\\Fabrikam\\Updater.exe";
    entry.description = L"\"C:\\Program Files\\Fabrikam\\Updater.exe\"";
    entry.publisher = publisher;
    entry.signature.kind = kind;
    entry.signature.signer = signer;
    entry.factsKnown = true;
    return entry;
}

TEST(ClaimUnconfirmedTest, AClaimStandsOutUnlessItsSignerConfirmsIt) {
    EXPECT_FALSE(ClaimUnconfirmed(ProgramEntry(L"Fabrikam One", SignatureKind::Verified, L"Fabrikam One Ltd")));
    EXPECT_TRUE(ClaimUnconfirmed(ProgramEntry(L"Fabrikam One", SignatureKind::Verified, L"Northwind Traders")));
    EXPECT_TRUE(ClaimUnconfirmed(ProgramEntry(L"Fabrikam One", SignatureKind::NotSigned)));
    EXPECT_TRUE(ClaimUnconfirmed(ProgramEntry(L"Fabrikam One", SignatureKind::NotValid)));
    EXPECT_FALSE(ClaimUnconfirmed(ProgramEntry(L"", SignatureKind::NotSigned))) << "nothing claimed";
    EXPECT_FALSE(ClaimUnconfirmed(ProgramEntry(L"Program not found", SignatureKind::Missing)));
    Entry unread = ProgramEntry(L"Fabrikam One", SignatureKind::NotSigned);
    unread.factsKnown = false;
    EXPECT_FALSE(ClaimUnconfirmed(unread)) << "no verdict of this run yet";
}

Entry WindowsEntry(const std::wstring& commandLine, const std::wstring& target) {
    Entry entry = ProgramEntry(L"Microsoft Corporation", SignatureKind::Verified, L"Microsoft Windows");
    entry.signature.microsoftRoot = true;
    entry.description = commandLine;
    entry.target = target;
    return entry;
}

TEST(WindowsOwnTest, OnlyAProgramOfMicrosoftsThatRunsNothingElse) {
    const std::wstring tray = L"C:\\Windows\\System32\\SecurityHealthSystray.exe";
    EXPECT_TRUE(IsWindowsOwn(WindowsEntry(L"%windir%\\system32\\SecurityHealthSystray.exe", tray)));
    EXPECT_TRUE(IsWindowsOwn(WindowsEntry(L"\"" + tray + L"\" /background -s", tray))) << "switches name nothing";

    Entry notMicrosoft = WindowsEntry(tray, tray);
    notMicrosoft.signature.microsoftRoot = false;
    EXPECT_FALSE(IsWindowsOwn(notMicrosoft));
    Entry unsigned_ = WindowsEntry(tray, tray);
    unsigned_.signature.kind = SignatureKind::NotSigned;
    EXPECT_FALSE(IsWindowsOwn(unsigned_));

    // Hosts run what they are given: never Windows' own, whatever they are given.
    for (const wchar_t* host : {L"rundll32.exe", L"regsvr32.exe", L"wscript.exe", L"cscript.exe", L"mshta.exe",
                                L"powershell.exe", L"pwsh.exe", L"cmd.exe", L"msiexec.exe", L"conhost.exe"}) {
        const std::wstring path = std::wstring(L"C:\\Windows\\System32\\") + host;
        EXPECT_FALSE(IsWindowsOwn(WindowsEntry(path, path))) << host;
    }
    const std::wstring explorer = L"C:\\Windows\\explorer.exe";
    for (const wchar_t* argument : {L"C:\\Users\\Public\\run.js", L"payload.vbs", L"https://example.com/x",
                                    L"\\\\server\\share\\tool.exe", L"%APPDATA%\\x", L"www.example.com", L"a/b"}) {
        EXPECT_FALSE(IsWindowsOwn(WindowsEntry(explorer + L" " + argument, explorer))) << argument;
    }
    // A Startup shortcut's arguments count as well.
    Entry shortcut = WindowsEntry(L"", explorer);
    shortcut.code = kStartUp;
    shortcut.arguments = L"\"C:\\Users\\Public\\run.js\"";
    EXPECT_FALSE(IsWindowsOwn(shortcut));
    shortcut.arguments = L"/n";
    EXPECT_TRUE(IsWindowsOwn(shortcut));
    shortcut.target = L"C:\\Windows\\System32\\cmd.exe"; // a host, though its arguments name nothing
    shortcut.arguments = L"/k";
    EXPECT_FALSE(IsWindowsOwn(shortcut));
}

// The reader, as the window uses it: asked to look, then applied until it says it has looked at everything.
bool Settle(TFileFactsReader& reader, std::vector<Entry>& entries) {
    reader.Look(entries);
    for (int i = 0; i < 2000; ++i) {
        if (reader.Apply(entries)) {
            return true;
        }
        ::Sleep(5);
    }
    return false;
}

class FileFactsReaderTest : public ::testing::Test {
protected:
    FileFactsReaderTest() : m_program(m_folder / L"Updater.exe") {
        ::CopyFileW(SignedProgram(L"Signed.dll").c_str(), m_program.c_str(), FALSE);
    }
    TempFolder m_folder;
    std::wstring m_program;
    TrustedCertificate m_trusted{SignedProgram(L"Fabrikam.cer")};
    std::atomic<int> m_calls{0};
    TFileFactsReader m_reader{[this] { ++m_calls; }};
};

TEST_F(FileFactsReaderTest, AChangedProgramIsVerifiedAgainAnUnchangedOneIsNot) {
    std::vector<Entry> entries(1);
    entries[0].target = m_program;
    ASSERT_TRUE(Settle(m_reader, entries));
    EXPECT_EQ(entries[0].signature.kind, SignatureKind::Verified);
    EXPECT_EQ(entries[0].publisher, L"Fabrikam One");
    EXPECT_EQ(entries[0].fileDescription, L"Fabrikam Updater");
    EXPECT_GT(m_calls, 0) << "the reader tells when it has read";

    // Changed in its bytes but not in its stamp: a refresh in which nothing changed reads nothing.
    PatchKeepingStamp(m_program, L"Fabrikam One", L"Fabrikam Two");
    ASSERT_EQ(VerifySignature(m_program).kind, SignatureKind::NotValid); // what it now is
    ASSERT_TRUE(Settle(m_reader, entries));
    EXPECT_EQ(entries[0].signature.kind, SignatureKind::Verified);
    EXPECT_EQ(entries[0].publisher, L"Fabrikam One");

    // Its stamp moves (an update replaced it): verified and read again.
    MoveWrittenTime(m_program);
    ASSERT_TRUE(Settle(m_reader, entries));
    EXPECT_EQ(entries[0].signature.kind, SignatureKind::NotValid);
    EXPECT_EQ(entries[0].signature.status, kBadDigest);
    EXPECT_EQ(entries[0].publisher, L"Fabrikam Two");

    // Uninstalled.
    ASSERT_TRUE(::DeleteFileW(m_program.c_str()));
    ASSERT_TRUE(Settle(m_reader, entries));
    EXPECT_EQ(entries[0].signature.kind, SignatureKind::Missing);
    EXPECT_EQ(entries[0].publisher, L"Program not found");
}

TEST_F(FileFactsReaderTest, EntriesWaitForTheirFactsAndForgottenProgramsAreReadAfresh) {
    std::vector<Entry> entries(4);
    entries[0].target = m_program;
    entries[1].target = L"";                           // the program a command line names does not exist
    entries[2].target = m_folder / L"Uninstalled.exe"; // a shortcut to a program since removed
    entries[3].target = m_folder.Path();               // a shortcut to a folder
    m_reader.Look(entries);
    std::vector<Entry> early = entries;
    (void)m_reader.Apply(early);
    EXPECT_EQ(early[1].publisher, L"Program not found") << "known without reading";
    EXPECT_TRUE(early[1].factsKnown);

    ASSERT_TRUE(Settle(m_reader, entries));
    EXPECT_EQ(entries[0].publisher, L"Fabrikam One");
    EXPECT_EQ(entries[2].publisher, L"Program not found");
    EXPECT_EQ(entries[2].signature.kind, SignatureKind::Missing);
    EXPECT_EQ(entries[3].publisher, L"");
    EXPECT_EQ(entries[3].signature.kind, SignatureKind::NotSigned);

    // Once no entry names it, the program is forgotten: it is read afresh even with its stamp kept.
    std::vector<Entry> none;
    ASSERT_TRUE(Settle(m_reader, none));
    PatchKeepingStamp(m_program, L"Fabrikam One", L"Fabrikam Two");
    std::vector<Entry> again(1);
    again[0].target = m_program;
    m_reader.Look(again);
    std::vector<Entry> unread = again;
    if (!m_reader.Apply(unread)) {
        EXPECT_FALSE(unread[0].factsKnown); // until the reader has read it, nothing stale is shown
    }
    ASSERT_TRUE(Settle(m_reader, again));
    EXPECT_EQ(again[0].publisher, L"Fabrikam Two");
}

// bwcli reads on its own thread, through the same code.
TEST_F(FileFactsReaderTest, FillingNowGivesWhatTheReaderGives) {
    std::vector<Entry> now(2);
    now[0].target = m_program;
    now[1].target = m_folder / L"Uninstalled.exe";
    std::vector<Entry> read = now;
    FillFileFactsNow(now);
    ASSERT_TRUE(Settle(m_reader, read));
    for (size_t i = 0; i < now.size(); ++i) {
        EXPECT_EQ(now[i], read[i]) << now[i].target;
    }
    EXPECT_EQ(now[0].signature.signer, L"Fabrikam One Ltd");
}

} // namespace
} // namespace bw::test
