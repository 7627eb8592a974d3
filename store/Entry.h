#pragma once

#include "store/CommandLine.h"

#include <string>

namespace bw {

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
    std::wstring problem;         // why it cannot be switched off here; "" when it can
    std::wstring arguments;       // a Startup entry's arguments, as its shortcut records them
    std::wstring publisher;       // the CompanyName of the program's version resource, or "Program not found"
    std::wstring fileDescription; // its FileDescription

    bool operator==(const Entry& other) const;
    bool operator!=(const Entry& other) const { return !(*this == other); }
};

} // namespace bw
