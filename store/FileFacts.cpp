#include "store/FileFacts.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/VersionInfo.h"
#include "resources/Texts.h"
#include "store/CommandLine.h"
#include "store/Locations.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <set>

namespace bw {

namespace {

void ApplyFacts(Entry& entry, const FileFacts& facts) {
    entry.publisher = facts.found ? facts.publisher : std::wstring(text::kProgramNotFound);
    entry.fileDescription = facts.description;
    entry.signature = facts.signature;
    entry.factsKnown = true;
}

FileFacts NotFound() {
    FileFacts facts;
    facts.signature.kind = SignatureKind::Missing;
    return facts;
}

FileFacts FactsOf(const std::wstring& path, const std::optional<FileStamp>& stamp) {
    if (!stamp) {
        return NotFound();
    }
    FileFacts facts;
    facts.found = true;
    if ((stamp->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return facts; // a folder (a shortcut may start one) is there, but names nobody and carries no signature
    }
    if (const auto strings = ReadVersionStrings(path)) {
        facts.publisher = strings->companyName;
        facts.description = strings->fileDescription;
    }
    facts.signature = VerifySignature(path);
    return facts;
}

} // namespace

FileFacts ReadFileFacts(const std::wstring& path) {
    return path.empty() ? NotFound() : FactsOf(path, StampAt(path));
}

void FillFileFactsNow(std::vector<Entry>& entries) {
    std::map<std::wstring, FileFacts> read; // by folded path
    for (Entry& entry : entries) {
        const std::wstring key = FoldedName(entry.target);
        auto facts = read.find(key);
        if (facts == read.end()) {
            facts = read.emplace(key, ReadFileFacts(entry.target)).first;
        }
        ApplyFacts(entry, facts->second);
    }
}

TFileFactsReader::TFileFactsReader(std::function<void()> ready) : m_ready(std::move(ready)) {}

void TFileFactsReader::StartLanes() {
    // With the first request, not before: a window that makes its reader is shown first, and has nothing to read yet.
    if (!m_local.thread.joinable()) {
        m_local.thread = std::thread([this] { Work(m_local); });
        m_network.thread = std::thread([this] { Work(m_network); });
    }
}

TFileFactsReader::~TFileFactsReader() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_local.thread.joinable()) {
        m_local.thread.join();
        // A lane that waits on a vanished share may wait for the network's timeout; the window is gone by then.
        m_network.thread.join();
    }
}

void TFileFactsReader::Look(const std::vector<Entry>& entries) {
    StartLanes();
    std::vector<std::wstring> local;
    std::vector<std::wstring> network;
    std::set<std::wstring> named;
    TNetworkPaths onNetwork;
    for (const Entry& entry : entries) {
        if (entry.target.empty() || !named.insert(FoldedName(entry.target)).second) {
            continue;
        }
        (onNetwork.Holds(entry.target) ? network : local).push_back(entry.target);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto known = m_known.begin(); known != m_known.end();) {
            known = named.count(known->first) != 0 ? std::next(known) : m_known.erase(known);
        }
        m_local.paths = std::move(local);
        m_network.paths = std::move(network);
    }
    m_wake.notify_all();
}

bool TFileFactsReader::Apply(std::vector<Entry>& entries) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = false;
    bool complete = m_local.paths.empty() && m_network.paths.empty() && !m_local.busy && !m_network.busy;
    for (Entry& entry : entries) {
        if (entry.target.empty()) {
            ApplyFacts(entry, NotFound()); // the program a command line names does not exist
            continue;
        }
        const auto known = m_known.find(FoldedName(entry.target));
        if (known != m_known.end()) {
            ApplyFacts(entry, known->second.facts);
        } else {
            entry.publisher.clear();
            entry.fileDescription.clear();
            entry.signature = SignatureVerdict{};
            entry.factsKnown = false;
            complete = false;
        }
    }
    return complete;
}

void TFileFactsReader::Work(Lane& lane) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stop || (!m_held && !lane.paths.empty()); });
        if (m_stop) {
            return;
        }
        // One program at a time: a new request replaces the rest of this one while this program is read.
        const std::wstring path = lane.paths.front();
        lane.paths.erase(lane.paths.begin());
        lane.busy = true;
        const std::wstring key = FoldedName(path);
        lock.unlock();
        const std::optional<FileStamp> stamp = StampAt(path);
        lock.lock();
        auto known = m_known.find(key);
        bool changed = false;
        if (known == m_known.end() || known->second.stamp != stamp) {
            // New, or changed since it was read (an update replaced it, or it came or went): read (again).
            lock.unlock();
            FileFacts facts = FactsOf(path, stamp);
            lock.lock();
            m_known[key] = Known{stamp, std::move(facts)};
            changed = true;
        }
        lane.busy = false;
        const bool roundEnded = m_local.paths.empty() && m_network.paths.empty() && !m_local.busy && !m_network.busy;
        if (changed || roundEnded) {
            lock.unlock();
            Signal();
            lock.lock();
        }
    }
}

void TFileFactsReader::Hold(bool held) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = held;
    }
    m_wake.notify_all();
}

void TFileFactsReader::Signal() {
    // One call until the window has applied what was read: a thousand programs read are one message, not a
    // thousand.
    if (m_ready && !m_signalled.exchange(true)) {
        m_ready();
    }
}

namespace {

// The words of a name, in lower case, without punctuation and without the legal forms that one maker writes in
// many ways ("Inc." here, "Incorporated" there, "LLC" after a change of form).
std::vector<std::wstring> NameWords(const std::wstring& name) {
    static const std::set<std::wstring> kLegalForms = {
        L"corporation", L"corp",    L"incorporated", L"inc", L"limited", L"ltd", L"llc", L"gmbh", L"ag",  L"sa",
        L"sas",         L"sarl",    L"bv",           L"nv",  L"ab",      L"oy",  L"as",  L"asa",  L"pty", L"plc",
        L"co",          L"company", L"kk",           L"srl", L"spa",     L"lp",  L"llp", L"se",   L"the"};
    std::vector<std::wstring> words;
    std::wstring word;
    const auto endWord = [&] {
        if (!word.empty() && kLegalForms.count(word) == 0) {
            words.push_back(word);
        }
        word.clear();
    };
    for (const wchar_t c : name) {
        if (std::iswalnum(c)) {
            word += static_cast<wchar_t>(std::towlower(c));
        } else if (c != L'.' && c != L'\'') {
            endWord(); // "S.A." and "Macy's" stay one word each
        }
    }
    endWord();
    return words;
}

std::wstring FileNameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return FoldedName(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

// Programs that run what their command line gives them: a script, a library's function, a package, a command.
bool IsHost(const std::wstring& program) {
    static const std::set<std::wstring> kHosts = {L"RUNDLL32",   L"REGSVR32", L"WSCRIPT", L"CSCRIPT", L"MSHTA",
                                                  L"POWERSHELL", L"PWSH",     L"CMD",     L"MSIEXEC", L"CONHOST"};
    std::wstring name = FileNameOf(program);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, L".EXE") == 0) {
        name.resize(name.size() - 4);
    }
    return kHosts.count(name) != 0;
}

// True when an argument names a file, a script or an address rather than being a switch or a word: it holds a
// path's separator, an environment reference or a scheme, starts with "@" or "www.", or ends in an extension.
bool NamesSomething(const std::wstring& argument) {
    if (argument.empty()) {
        return false;
    }
    if (argument.find_first_of(L"\\%") != std::wstring::npos || argument.find(L"://") != std::wstring::npos ||
        argument.find(L'/', 1) != std::wstring::npos || argument[0] == L'@' ||
        FoldedName(argument).rfind(L"WWW.", 0) == 0) {
        return true;
    }
    const size_t dot = argument.find_last_of(L'.');
    if (dot == std::wstring::npos || dot == 0 || dot + 1 == argument.size() || argument.size() - dot > 5) {
        return false;
    }
    for (size_t i = dot + 1; i < argument.size(); ++i) {
        if (!std::iswalpha(argument[i])) {
            return false;
        }
    }
    return true;
}

std::vector<std::wstring> ArgumentsOf(const std::wstring& text) {
    std::vector<std::wstring> arguments;
    std::wstring argument;
    bool quoted = false;
    for (const wchar_t c : text) {
        if (c == L'"') {
            quoted = !quoted;
        } else if ((c == L' ' || c == L'\t') && !quoted) {
            if (!argument.empty()) {
                arguments.push_back(argument);
            }
            argument.clear();
        } else {
            argument += c;
        }
    }
    if (!argument.empty()) {
        arguments.push_back(argument);
    }
    return arguments;
}

} // namespace

bool NamesAgree(const std::wstring& claimed, const std::wstring& signer) {
    // Roles under which a maker signs what ships with the system, after its own name.
    static const std::vector<std::vector<std::wstring>> kRoles = {
        {L"windows"},
        {L"windows", L"publisher"},
        {L"windows", L"hardware", L"compatibility", L"publisher"},
        {L"windows", L"third", L"party", L"component"},
    };
    const std::vector<std::wstring> claim = NameWords(claimed);
    const std::vector<std::wstring> signed_ = NameWords(signer);
    if (claim.empty() || signed_.empty()) {
        return false;
    }
    if (claim == signed_) {
        return true;
    }
    if (signed_.size() <= claim.size() || !std::equal(claim.begin(), claim.end(), signed_.begin())) {
        return false;
    }
    const std::vector<std::wstring> rest(signed_.begin() + static_cast<std::ptrdiff_t>(claim.size()), signed_.end());
    return std::find(kRoles.begin(), kRoles.end(), rest) != kRoles.end();
}

bool ClaimUnconfirmed(const Entry& entry) {
    if (!entry.factsKnown || entry.publisher.empty() || entry.signature.kind == SignatureKind::Missing) {
        return false; // nothing claimed (or nothing there to claim it)
    }
    return entry.signature.kind != SignatureKind::Verified || !NamesAgree(entry.publisher, entry.signature.signer);
}

bool IsWindowsOwn(const Entry& entry) {
    if (!entry.factsKnown || entry.signature.kind != SignatureKind::Verified || !entry.signature.microsoftRoot ||
        IsHost(entry.target)) {
        return false;
    }
    std::wstring arguments = entry.arguments;
    if (IsRegistryCode(entry.code)) {
        const std::optional<CommandParts> parts = SplitCommandLine(entry.description);
        if (!parts || IsHost(parts->program)) {
            return false; // a line that does not take apart cleanly is not taken for Windows' own
        }
        arguments = parts->arguments;
    }
    for (const std::wstring& argument : ArgumentsOf(arguments)) {
        if (NamesSomething(argument)) {
            return false;
        }
    }
    return true;
}

std::wstring SignatureReasonText(LONG status) {
    switch (static_cast<unsigned long>(status)) {
    case 0x80096010UL: // TRUST_E_BAD_DIGEST
        return text::kReasonBadDigest;
    case 0x800B0109UL: // CERT_E_UNTRUSTEDROOT
        return text::kReasonUntrustedRoot;
    case 0x800B010AUL: // CERT_E_CHAINING
        return text::kReasonChaining;
    case 0x800B0101UL: // CERT_E_EXPIRED
        return text::kReasonExpired;
    case 0x800B010CUL: // CERT_E_REVOKED
        return text::kReasonRevoked;
    case 0x800B0111UL: // TRUST_E_EXPLICIT_DISTRUST
        return text::kReasonDistrusted;
    case 0x800B0110UL: // CERT_E_WRONG_USAGE
        return text::kReasonWrongUsage;
    case 0x80096004UL: // TRUST_E_CERT_SIGNATURE
    case 0x80096001UL: // TRUST_E_SYSTEM_ERROR
    case 0x80096002UL: // TRUST_E_NO_SIGNER_CERT
        return text::kReasonBadCertificate;
    case 0x800B0004UL: // TRUST_E_SUBJECT_NOT_TRUSTED
    case 0x800B0003UL: // TRUST_E_SUBJECT_FORM_UNKNOWN
        return text::kReasonNotTrusted;
    case 0x80092026UL: // CRYPT_E_SECURITY_SETTINGS
        return text::kReasonPolicy;
    }
    wchar_t code[16]{};
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(status));
    return FormatMessageText(text::kReasonOther, code);
}

} // namespace bw
