#pragma once

#include "platform/Signature.h"
#include "store/CommandLine.h"

#include <string>

namespace bw {

// Why an entry cannot be switched off (or a switched-off one switched on) here. The list and bwcli show the sentence
// for it (ProblemText); the session decides by the kind alone.
enum class EntryProblem {
    None,                  // it can be switched off
    NameNotStorable,       // no file name can hold its name
    StorePathTooLong,      // its store link's path would be longer than the system accepts
    NameTakenInOtherCase,  // another entry of its place has the same name in other letter case
    ShortcutIsDevice,      // the system takes the shortcut's name for a device
    ShortcutIsLink,        // the shortcut is a link to another file
    ShortcutUnreadable,    // the shortcut does not load (in use, damaged, or no shortcut)
    StoreLinkUnknown,      // its store link is one the store's records do not name: it is left as it is
    StoreLinkRenamed,      // its store link was written by the program as another link (renamed, moved, copied)
    StoreLinkOnlineOnly,   // its store link's data is online-only (a cloud file): not read here, nor changed
    OwnersPlaceNotReached, // its place is the store owner's, which this run (elevated as another account) cannot reach
                           // Entries of the places listed read-only (never switched off or deleted here):
    PolicySetsIt,                // a value of a policy Run key
    RunsOnce,                    // a RunOnce value
    RunsOnceUntilDone,           // a RunOnce value whose name begins with "!": removed after it ran
    RunsOnceInSafeMode,          // ... with "*": run in Safe Mode as well
    RunsOnceUntilDoneInSafeMode, // ... with both
};

// The problem of every entry of a code's place when that place is listed read-only, by its value's name (a
// RunOnce value's leading "!" and "*" change how Windows runs it); None for the other places.
EntryProblem ReadOnlyProblemOf(int code, const std::wstring& name);

// The sentence that tells the user why the entry cannot be switched off; "" for None.
const wchar_t* ProblemText(EntryProblem problem);

// An entry's name as a person can read it: a control character (a zero among them, which a Run value's name may
// hold) as its visible symbol (U+2400 plus its code, U+2421 for DEL), and half of a surrogate pair that stands
// alone as U+FFFD. Only for showing: the entry is always named by its own name.
std::wstring VisibleName(const std::wstring& name);

// One entry as the list shows it and the commands act on it.
struct Entry {
    std::wstring name;
    int code = 0;
    std::wstring storeLinkPath; // "" when no store link can keep it
    std::wstring description;   // a registry entry's command line (whole); a Startup entry's link description
    ValueRecord record;         // a registry entry's value type, and whether its stored command line is cut
    bool readWhole = false;     // its store link was read whole (a disabled entry is switched on from nothing less)
    bool switchedOffInWindows = false; // an enabled entry that Windows' own switch keeps from starting
    std::wstring target;               // the program or file it starts; "" when that does not exist
    std::wstring iconSource;
    int iconIndex = 0;
    EntryProblem problem = EntryProblem::None; // why it cannot be switched off here
    std::wstring arguments;                    // a Startup entry's arguments, as its shortcut records them
    std::wstring publisher;       // the CompanyName of the program's version resource, or "Program not found"
    std::wstring fileDescription; // its FileDescription
    SignatureVerdict signature;   // who signed the program, as checked in this run
    bool factsKnown = false;      // publisher, description and signature have been read (else they are empty)

    bool operator==(const Entry& other) const;
    bool operator!=(const Entry& other) const { return !(*this == other); }
};

} // namespace bw
