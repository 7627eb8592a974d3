#pragma once

#include "store/Locations.h"

#include <optional>
#include <string>
#include <vector>

namespace bw::cli {

// One entry as bwcli lists it. The JSON and CSV field names and their meaning are documented in the README and
// kept stable: new fields may be added, none is renamed or dropped.
struct ListedEntry {
    std::wstring name;
    std::wstring location; // hklm, hklm32, hkcu, startup, common, policy-hklm ... (the location's word)
    int code = 0;          // the location code, as the window's "Found in..." column shows it
    std::wstring label;    // "Registry (HKCU)"
    bool enabled = false;  // in Windows' start-up places (not kept switched off in the store)
    bool switchedOffInWindows = false;
    std::wstring commandLine; // what starts: a Run value's text, a Startup shortcut's target and arguments
    std::wstring target;      // the program or file it starts; "" when that does not exist
    std::wstring problem;     // why it cannot be switched off; "" when it can
    std::wstring storeLink;   // the store link that keeps it; "" when none can
    std::wstring publisher;   // of the program that starts, from its version resource ("Program not found")
    std::wstring description; // the program's own description, from its version resource
    std::wstring id;          // names it to bwcli whatever its name holds (EntryIdOf)
    std::wstring signer;      // who signed the program, when its signature is verified
    std::wstring signature;   // verified, none, invalid or missing

    bool Starts() const { return enabled && !switchedOffInWindows; }
};

// The --location word of a code's location, and the location of a word (nothing for an unknown word).
std::wstring LocationKeyOf(int code);
std::wstring LocationKey(Location location);
std::optional<Location> LocationOfKey(const std::wstring& key);

// An id that names an entry on the command line (--id) even where its name cannot be typed: its location word, ":"
// and its name as its store link's file name spells it (a name that no file name can hold written as such a
// name would be, "=" and the name with "%" and four hexadecimal digits for each character that a file name
// cannot hold). The same for an entry switched on and off: --state tells those apart, as for a name.
std::wstring EntryIdOf(int code, const std::wstring& name);

// The location and name that an id stands for; nothing for text that is no id.
struct EntryId {
    Location location;
    std::wstring name;
};
std::optional<EntryId> ParseEntryId(const std::wstring& id);

// A plain table for people: name, state, location and command line, in aligned columns.
std::wstring TableOf(const std::vector<ListedEntry>& entries);

// {"format": 1, "entries": [ ... ]}, UTF-8, written by nlohmann/json. Every text is exactly what the entry holds:
// a zero character as \u0000, and half of a surrogate pair that stands alone (which UTF-8 cannot carry) as its
// own \uXXXX escape.
std::string JsonOf(const std::vector<ListedEntry>& entries);

// A header line and one line per entry, the JSON's fields in the same order; lines end in CR LF. Made for
// spreadsheets, so that no cell is taken for a formula or hides a character: a cell that begins with "=", "+",
// "-", "@", a tab or a carriage return gets a leading "'", and every control character is written as its
// visible symbol (U+2400 plus its code). Fields are quoted where they hold a comma or a quote.
std::wstring CsvOf(const std::vector<ListedEntry>& entries);

// One line of the store's history as bwcli prints it (history); the JSON and CSV field names are kept stable as
// those of the entries are.
struct ListedChange {
    std::wstring time;     // ISO 8601, UTC: "2026-12-09T22:13:29Z"
    std::wstring change;   // added, changed, removed, switched-off, switched-on, deleted
    std::wstring by;       // window, bwcli, watcher, outside (another program, seen by an import)
    std::wstring location; // the location's word after the change
    int code = 0;
    std::wstring label;
    std::wstring name;
    std::wstring id;
    std::wstring commandLine; // what the entry starts (started, for one removed or deleted)
};

// The history for people: time, change, who, location, name and command line, in aligned columns.
std::wstring HistoryTableOf(const std::vector<ListedChange>& changes);
// {"format": 1, "history": [ ... ]}, newest first, every text exact as in JsonOf.
std::string HistoryJsonOf(const std::vector<ListedChange>& changes);
// A header line and one line per change, the JSON's fields in the same order, by the rules of CsvOf.
std::wstring HistoryCsvOf(const std::vector<ListedChange>& changes);

} // namespace bw::cli
