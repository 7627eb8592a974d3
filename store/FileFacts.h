#pragma once

#include "platform/FileSystem.h"
#include "platform/Signature.h"
#include "store/Entry.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace bw {

// What the program file of an entry says of itself and who signed it.
struct FileFacts {
    bool found = false; // the program file exists
    std::wstring publisher;
    std::wstring description;
    SignatureVerdict signature;
};

// Reads the facts of the program at `path` now: its version resource and its signature. Not found for "" and for
// a path where nothing stands (a folder is found, says nothing and carries no signature).
FileFacts ReadFileFacts(const std::wstring& path);

// The facts of every entry's program, read now on the calling thread (bwcli); each program once.
void FillFileFactsNow(std::vector<Entry>& entries);

// The one reader of the programs' file facts for the window: it reads off the window's thread, each program once
// per file stamp, and keeps what it read across refreshes. A program on a network share is read on a lane of its
// own, so that a slow or vanished share delays only its own entries.
class TFileFactsReader {
public:
    // `ready` is called on the reader's thread when it has read something new or has looked at everything asked
    // for; the window posts itself a message from it and calls Apply.
    explicit TFileFactsReader(std::function<void()> ready);
    ~TFileFactsReader();
    TFileFactsReader(const TFileFactsReader&) = delete;
    TFileFactsReader& operator=(const TFileFactsReader&) = delete;

    // Asks the reader to look at the program of every entry: its stamp, and its facts again only where the stamp
    // moved. This request replaces the one before; programs no entry names any more are forgotten.
    void Look(const std::vector<Entry>& entries);

    // Gives every entry the facts known of its program (none yet: `factsKnown` false). True once every entry's
    // facts are known and the reader has looked at everything asked for.
    bool Apply(std::vector<Entry>& entries);

    // While held, the reader starts to read no program (what it is asked keeps until it is let go): the first
    // start's store links are written on the same few cores, and the rows come before their facts.
    void Hold(bool held);

private:
    struct Known {
        std::optional<FileStamp> stamp;
        FileFacts facts;
    };
    struct Lane {
        std::vector<std::wstring> paths; // still to look at, in order
        bool busy = false;               // looking at one now
        std::thread thread;
    };
    void StartLanes();
    void Work(Lane& lane);
    void Signal();

    std::function<void()> m_ready;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_held = false;
    std::atomic<bool> m_signalled{false};  // `ready` was called and Apply has not run since
    std::map<std::wstring, Known> m_known; // by folded path
    Lane m_local;
    Lane m_network;
};

// Whether the publisher that a version resource claims and the name on the signing certificate name the same
// maker. Letter case, punctuation and legal forms ("Corporation", "Inc.", "Ltd", "GmbH"...) are set aside; then
// the names agree when they are the same words, or when the signer's name is the claimed name followed by one of
// the roles a maker signs its system files under ("Windows", "Windows Publisher"...): Windows' own files claim
// "Microsoft Corporation" and are signed "Microsoft Windows".
bool NamesAgree(const std::wstring& claimed, const std::wstring& signer);

// True when the entry's program claims a publisher that its signature, checked in this run, does not confirm:
// it is not signed, its signature does not hold, or another maker signed it.
bool ClaimUnconfirmed(const Entry& entry);

// True for an entry of Windows itself: its program verified with a chain that ends in a Microsoft root, and its
// command line naming no other file, script or address. A host that runs what it is given (rundll32, regsvr32,
// the script hosts, mshta, PowerShell, cmd, msiexec, conhost) is never one.
bool IsWindowsOwn(const Entry& entry);

// The words for why a signature does not hold.
std::wstring SignatureReasonText(LONG status);

} // namespace bw
