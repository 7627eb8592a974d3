#pragma once

#include "platform/FileSystem.h"
#include "store/Entry.h"

#include <map>
#include <string>
#include <vector>

namespace bw {

// Who made a program and what it is, for the Publisher and Description columns.
struct ProgramInfo {
    bool found = false; // the program file exists
    std::wstring publisher;
    std::wstring description;
};

// The version strings of the programs that entries start, each read once per program file and file stamp and
// kept across refreshes: a program whose file did not change is not opened again.
class TProgramInfoCache {
public:
    // What the version resource of the program at `path` says; not found for "" and for a path where nothing
    // stands (a folder is found, and says nothing). Looks at the file's stamp at each call.
    ProgramInfo Of(const std::wstring& path);

    // Sets the publisher and file description of every entry from the program its Target names: "Program not
    // found" as the publisher when that does not exist. Each program's stamp is looked at once per call, and
    // programs no entry names any more are forgotten. With `budgetMs` above 0, no new version resource is read
    // once that long has passed: those entries show no publisher or description yet, and Fill returns false
    // (call it again for the rest).
    bool Fill(std::vector<Entry>& entries, DWORD budgetMs = 0);

private:
    ProgramInfo Look(const std::wstring& path, bool mayRead, bool& pending);
    struct Known {
        FileStamp stamp;
        ProgramInfo info;
    };
    std::map<std::wstring, Known> m_known; // by folded path
};

} // namespace bw
