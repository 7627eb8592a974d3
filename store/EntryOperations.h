#pragma once

#include <string>
#include <vector>

namespace bw {

class ProgressControl;

// What a command knows of one entry: its name, its location code and the description that the list read
// from its store link (for a registry entry, its command line).
struct EntryRef {
    std::wstring name;
    int code = 0;
    std::wstring description;
};

// Switches an enabled entry (codes 1 to 3) off: its store link moves to the disabled folder of its location
// and the entry leaves the system (the Run value or the Startup shortcut is deleted). False, with nothing
// changed, for a code that is not enabled; true otherwise (also when the Run key could not be opened and
// nothing moved), meaning the store must be imported again. Refuses (EEntryRefused) a registry entry whose
// command line the store link did not keep whole.
bool DisableEntry(const EntryRef& entry);

// Switches a disabled entry (codes 4 to 6) on: the system side is written first (the Run value from the
// description, as an expandable string when it holds a %NAME% reference; or the store link copied into the
// Startup folder with progress), and only then the store link moves to the enabled folder, so a failure
// loses nothing. Same result rule as DisableEntry; refuses a cut command line.
bool EnableEntry(const EntryRef& entry, ProgressControl* progress);

// True when a command line holds a %NAME% reference, which Windows expands only in an expandable string.
bool HasEnvironmentReference(const std::wstring& commandLine);

// Writes the enabled entries back into the system: each Run value that still exists gets the entry's
// command line where its data differs (keeping the value's type), and each Startup shortcut that still
// exists is replaced by its store link where they differ. Nothing missing is created; disabled entries,
// cut command lines and rows whose store link has gone are passed over.
void WriteBackEntries(const std::vector<EntryRef>& entries, ProgressControl* progress);

// The entry name of a program added by the user: its file name cut before its first dot, unless the name
// begins with that dot.
std::wstring EntryNameForProgram(const std::wstring& programPath);

// Creates a shortcut to `programPath` in the Startup folder under the first free name (name.lnk, then
// name(1).lnk, name(2).lnk ...). Returns the path it was saved to; a save that fails is not reported.
std::wstring AddStartupShortcut(const std::wstring& programPath);

// Removes an entry: a disabled entry's store link, an enabled Startup entry's shortcut, or an enabled
// registry entry's Run value. Failures to delete are not reported.
void DeleteEntry(const EntryRef& entry);

} // namespace bw
