#pragma once

#include "platform/FileSystem.h"
#include "store/CommandLine.h"
#include "store/Entry.h"
#include "store/Import.h"
#include "store/StoreQueries.h"

#include <optional>
#include <string>
#include <vector>

namespace bw {

class ProgressControl;
class TStoreReader;
class TMirror;

// Switches an enabled entry off: what the system holds of it now (the Run value, or the Startup shortcut's
// bytes) is written as its store link in the disabled folder of its location, and only then does the entry
// leave the system. If it cannot leave, the new store link goes again and the error says so: the entry is
// either switched off or exactly as it was. Refuses (EEntryRefused) a command line longer than a link keeps,
// a shortcut that does not load, an entry that cannot be stored, and a different switched-off entry of the
// same name already kept (which would otherwise be lost). A Run key that does not open changes nothing.
// With `replaceKept`, a different switched-off entry of the same name that the store's records name is replaced
// (the person asked for it); it is put back if the entry cannot leave the system.
void DisableEntry(const Entry& entry, bool replaceKept = false);

// Takes out of the system an enabled entry that its program put back while the same entry is kept switched off:
// the Run value or Startup shortcut goes, and the switched-off store link stays exactly as it is (it is neither
// read into nor written over). Only an entry that starts the very same as the switched-off link says (a Run value:
// the same command line and the link read whole; a shortcut: the same target and arguments) is taken out; true
// then. False, and nothing changed, when it starts something else or went meanwhile. Raises ERightsMissing where
// the place needs rights the program lacks, and EEntryRefused where the value or shortcut cannot be removed.
bool RemoveReAddedTwin(const Entry& entry);
// Raises ERightsMissing naming the entry when an entry of the enabled code `code` could not be taken out of the
// system here (an HKLM key or the all-users folder without an administrator's rights). Changes nothing.
void RequireRightsToTakeOut(int code, const std::wstring& name);

// Switches a disabled entry on: its store link is read afresh and whole, the system side is written (the Run
// value with the type recorded for it, or the shortcut copied into the Startup folder in one step), and only
// then does the store link leave the disabled folder. If it cannot leave, the system side is put back as it
// was and the error says so. A flag of Windows' own switch that would keep the entry from starting is set to
// "may start". Refuses a link that cannot be read, a command line stored cut, and a Startup entry while the
// Startup folder is not known.
//
// The entry's place may already hold an entry of the same name (a program that added itself again after it was
// switched off). One that says the same only loses its switched-off copy. A different one is never overwritten
// unasked: without `replaceStarting` the toggle is refused; with it the two change places, and the one that
// started so far is kept switched off in the store instead. At every instant of that exchange both are kept
// somewhere: the one that starts is first kept under a free name (name(1), name(2) ...) beside the switched-off
// one, and only takes its name once the other has been switched on.
void EnableEntry(const Entry& entry, ProgressControl* progress, bool replaceStarting = false);

// StartingTwinOf: see StoreQueries.h.

// Switches on an enabled entry that Windows' own switch keeps from starting: its flag then says "may start";
// nothing else changes. Raises ERegistryException when the flag cannot be written.
void AllowEntryToStart(const Entry& entry);

// An edit of an enabled store link that cannot be carried into the system, and why (a text of resources/Texts.h
// with one "%s" for the entry's name).
struct EditNotCarried {
    int code = 0;
    std::wstring name;
    std::wstring storeLinkPath;
    const wchar_t* reason = nullptr;
};

// What a write-back left for the user: edits it could not carry, and entries changed on both sides.
// An edit written into the system: the entry, and what it starts now.
struct EditCarried {
    int code = 0;
    std::wstring name;
    std::wstring start;
};
struct WriteBackReport {
    std::vector<EditNotCarried> notCarried;
    std::vector<BothChanged> bothChanged;
    std::vector<EditCarried> carried;
};

// Carries edits of enabled store links into the system: a link whose file changed since the last import wrote
// or confirmed it (an edit through its property sheet) is written back: its command line (as the fields the
// user changed say) into its Run value (keeping the value's type, and only into a string value that still
// exists), or the link into the Startup shortcut (only one that still exists, replaced in one step). Before
// each write the system side is compared with the base: one that changed as well is left as it is, and so is
// the edit, and `report` names both. Links the last import did not confirm, links not read whole, cut command
// lines and links whose fields disagree are never written (the last two named in `report`). A link written back
// loses its base: the next import mirrors the system, which now says what it says. True when anything was
// written.
//
// With `failures`, a link that cannot be written (a value the user may not change, a shortcut held open) is
// added there and the others are written all the same; without, its error is raised.
struct WriteBackFailure {
    std::wstring name;
    int code = 0;
    std::wstring message;
    bool needsRights = false; // ERightsMissing: an administrator could write it
    std::wstring storeLinkPath;
};
bool WriteBackEntries(const TStoreReader& store, TMirror& mirror, ProgressControl* progress,
                      WriteBackReport* report = nullptr, std::vector<WriteBackFailure>* failures = nullptr);

// Settles an entry changed on both sides as the user chose: with `useEdit`, the edit in the store is written
// into the system, but only while the system side is still what the question named; either way the entry's
// base goes, so that the next import mirrors the system as it then is. What the entry starts now when the edit was
// written; nothing when it was not.
std::optional<std::wstring> SettleBothChanged(const BothChanged& entry, bool useEdit, TMirror& mirror);

// EntryNameForProgram: see StoreQueries.h.

// Creates a shortcut to `programPath` in the Startup folder under the first free name (name.lnk, then
// name(1).lnk, name(2).lnk ...), never over a file that is there. Returns the path it was saved to; a save that
// fails is not reported. Refuses while the Startup folder is not known.
std::wstring AddStartupShortcut(const std::wstring& programPath);
// The same under the entry name `name` instead of the one made from the program's file name.
std::wstring AddStartupShortcut(const std::wstring& programPath, const std::wstring& name);
// The same in the Startup folder of the enabled folder code `code` (kCommonCode: the folder of all users, which
// raises ERightsMissing where the program may not change it).
std::wstring AddStartupShortcut(int code, const std::wstring& programPath, const std::wstring& name);

// Adds the value `name` = `commandLine` (REG_SZ) to the Run key of the enabled registry code `code`. Refuses
// (EEntryRefused) in a store that cannot be changed and where a value of that name is there already (nothing is
// written over); raises ERightsMissing where the key may not be changed.
void AddRunValue(int code, const std::wstring& name, const std::wstring& commandLine);

// Removes an entry: a disabled entry's store link, an enabled Startup entry's shortcut, or an enabled
// registry entry's Run value. Raises EEntryRefused when it cannot be removed (an entry of a place listed read-only
// among them); something already gone is fine.
void DeleteEntry(const Entry& entry);

} // namespace bw
