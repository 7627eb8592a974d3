#pragma once

#include "store/Entry.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bw {

// What happened to an entry.
enum class HistoryChange {
    Added,       // it came into a start-up place
    Changed,     // its command line or its shortcut's target changed
    Removed,     // it went from a start-up place without being switched off here
    SwitchedOff, // kept in the store, no longer starting
    SwitchedOn,  // starting again
    Deleted,     // gone from both the system and the store
};

// Who made the change: one of the program's front ends, or another program (an outside change that an import saw).
enum class HistoryActor {
    Window,
    Cli,
    Watcher,
    Outside,
};

// One change, as the history keeps it.
struct HistoryLine {
    std::uint64_t time = 0; // UTC, in 100-nanosecond units since 1601 (a FILETIME)
    HistoryChange change = HistoryChange::Added;
    HistoryActor by = HistoryActor::Outside;
    int code = 0;       // the entry's location code after the change
    std::wstring name;  // the entry's own name (any character)
    std::wstring start; // what it starts: a command line, or a shortcut's target and arguments

    bool operator==(const HistoryLine& other) const;
};

// The history of the store's changes, kept in one file beside the store folders (HistoryFile). It holds at most
// kHistoryLimit bytes: beyond that the oldest lines go first. The file is only ever replaced whole, through a
// temporary file, and only by a process that holds the store's lock (every caller works inside a unit of work),
// so that a kill leaves it as it was or with the new lines, and two writers cannot lose each other's lines.
inline constexpr size_t kHistoryLimit = 256u * 1024;

// The history file's path (beside the store folders).
std::wstring HistoryFile();

// Adds `lines` to the history in one write. A store that cannot be written, a history file that cannot be read
// whole, or one that is not the program's, is left as it is: the changes are then not kept (the change itself
// stands; only its line is missing). Never raises.
void RecordHistory(const std::vector<HistoryLine>& lines);

// Whether the store keeps a history yet: its file is there, with lines or none.
bool HistoryStarted();
// Makes the history file, with no line, where there is none (under the store's lock, as RecordHistory): from then
// on every import tells what it finds, also the first entry of a system that had none. Never raises.
void StartHistory();

// Tells what a front end (the window, bwcli, the watcher) did through the door itself, in this process or another,
// from a change an import or a watch saw (`found`): the history's newest line of that entry is the front end's, and
// it left the entry as `found` says it is now. Reads the history once, when made; a history that cannot be read
// tells nothing as the door's own.
class TDoorsOwn {
public:
    TDoorsOwn();
    bool operator()(const HistoryLine& found) const;

private:
    std::map<std::wstring, HistoryLine> m_newest; // each entry's newest line
};

// The history, newest first. A line that is not well formed is passed over; a file that cannot be read whole
// gives nothing.
std::vector<HistoryLine> ReadHistory();

// What an entry starts, as its history line says: a registry entry's command line, a Startup entry's target (quoted
// where it holds a blank) and its arguments.
std::wstring StartOf(const Entry& entry);
std::wstring StartOf(const std::wstring& target, const std::wstring& arguments);

// The time now, as a history line holds it.
std::uint64_t HistoryTimeNow();

// Fixed words for files and scripts: "added", "changed", ... and "window", "bwcli", "watcher", "outside".
const wchar_t* HistoryChangeWord(HistoryChange change);
const wchar_t* HistoryActorWord(HistoryActor actor);

// A history time as ISO 8601 UTC ("2026-12-09T22:13:29Z").
std::wstring HistoryTimeText(std::uint64_t time);

} // namespace bw
