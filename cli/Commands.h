#pragma once

#include "cli/Output.h"

#include <string>
#include <vector>

namespace bw::cli {

// bwcli's exit codes.
enum ExitCode : int {
    kDone = 0,
    kNoSuchEntry = 1,
    kRefused = 2,  // rights, an ambiguous name, a rule of the store, a wrong command line
    kFailed = 3,   // the system's message follows on the error output
    kNeedsYou = 4, // done, but something was left for a person to decide or mend (each named on the error output)
};

// Runs one bwcli command line (the arguments after the program's name) on the store beside ProgramDir, with the
// store's lock held while it works. Says what it did on `streams`; returns the exit code.
int RunCommandLine(const std::vector<std::wstring>& arguments, TStreams& streams);

} // namespace bw::cli
