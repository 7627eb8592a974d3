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
    std::wstring location; // hklm, hklm32, hkcu or startup
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
    std::wstring signer;      // who signed the program, when its signature is verified
    std::wstring signature;   // verified, none, invalid or missing

    bool Starts() const { return enabled && !switchedOffInWindows; }
};

// The --location word of a code's location, and the location of a word (nothing for an unknown word).
std::wstring LocationKeyOf(int code);
std::wstring LocationKey(Location location);
std::optional<Location> LocationOfKey(const std::wstring& key);

// A plain table for people: name, state, location and command line, in aligned columns.
std::wstring TableOf(const std::vector<ListedEntry>& entries);

// {"format": 1, "entries": [ ... ]}, UTF-8, written by nlohmann/json.
std::string JsonOf(const std::vector<ListedEntry>& entries);

// A header line and one line per entry, the JSON's fields in the same order; fields quoted where they hold a
// comma, a quote or a line break; lines end in CR LF.
std::wstring CsvOf(const std::vector<ListedEntry>& entries);

} // namespace bw::cli
