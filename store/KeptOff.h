#pragma once

#include "store/Entry.h"

#include <string>
#include <vector>

namespace bw {

// Entries the person asked to keep switched off: when the program of such an entry puts it back into the system
// with the very same command line, the watcher takes it out again. The marks are kept in the store's data folder
// (kKeptOffFile), by the switched-off entry's code and name.
//
// Every function here is called inside a unit of work of the store's door (the lock held).

// Whether the switched-off entry of `disabledCode` named `name` is marked. A file that cannot be read whole marks
// nothing.
bool IsKeptOff(int disabledCode, const std::wstring& name);

// Marks the switched-off entry (or, with `keep` false, takes its mark away), writing the file whole through a
// temporary file and one replace. Raises ERightsMissing where the watcher could not take the entry out of the
// system again (its place needs rights this run lacks), EEntryRefused for an entry that is not switched off, and when
// the file is there but cannot be read whole or is not one this program wrote: it is never written over then.
void MarkKeptOff(const Entry& entry, bool keep);

// What the rule did with a marked entry that is back in the system.
struct KeptOffFinding {
    enum Kind {
        SwitchedOffAgain, // the same command line: taken out of the system, the switched-off copy kept as it was
        CameBack,         // another command line: nothing changed; the person may switch it off, replacing the copy
        NotChanged,       // the same, but the system may not be changed here: `why` says why
    };
    Kind kind;
    Entry entry; // the enabled entry that came back
    std::wstring why;
};

// Looks for marked entries that are back in the system among `entries` (as an import read them) and applies the
// rule to each. A mark whose entry is no longer switched off is ignored (switching on through the door takes it
// away). Nothing else is changed.
std::vector<KeptOffFinding> KeepOffReAdded(const std::vector<Entry>& entries);

} // namespace bw
