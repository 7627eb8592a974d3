#pragma once

#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "store/StoreQueries.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace bw {

// One Run key as the system reader found it.
struct RunKeyRead {
    int code = 0; // the enabled code whose store folder mirrors it
    bool opened = false;
    bool refused = false; // not opened because the user may not read it (not because it is missing)
    std::vector<RegistryValue> values;
};

// One shortcut of the Startup folder: a file whose name ends in ".lnk".
struct StartupFile {
    std::wstring fileName;
    FileStamp stamp;
    bool settled = false; // listed well after its last change
};

// One Startup folder (the user's or all users') as the system reader found it.
struct StartupFolderRead {
    int code = 0; // the enabled code whose store folder mirrors it
    std::wstring dir;
    bool known = false;   // false: no folder to use (nothing is read from one that merely stands in for it)
    bool refused = false; // the owner's folder, not reached from this run: it says nothing of its entries
    std::vector<StartupFile> files;
};

// What the import mirrors, as it stood when it was read.
struct SystemRead {
    std::wstring startupDir; // the user's Startup folder
    bool startupDirKnown = false;
    std::vector<RunKeyRead> keys; // every registry place listed, the read-only ones too
    std::vector<StartupFolderRead> folders;
    // By enabled code: the flag names (folded) of the entries that Windows' own switch keeps from starting.
    std::map<int, std::set<std::wstring>> switchedOff;
};

// Reads the start-up locations. A Run key is enumerated (with every value's data) only when its stamp moved
// since the last read, or when the last read came so soon after a change that a second change could hide
// behind the same stamp; otherwise the values read then stand.
class TSystemReader {
public:
    // Recomputes StartupDir, then reads the Run keys and lists the Startup folder. True when anything differs
    // from the last read (or a shortcut is not yet settled). Raises ERegistryException when the "Startup"
    // value holds data of another type.
    bool Read();

    const SystemRead& Last() const { return m_last; }

    // Copies what it keeps between reads anew, for TPackedHeap::Repack.
    void Repack();

private:
    struct KeyMemo {
        bool opened = false;
        KeyStamp stamp;
        FILETIME readAt{};
        std::vector<RegistryValue> values;
    };
    // Reads a key's values into `values`, or takes them from `memo` when its stamp shows no change. False when
    // the key does not open. Sets `changed` when what it holds differs from the memo.
    // `refused` (when given) tells whether a key that did not open refused the user.
    static bool ReadKey(KeyMemo& memo, HKEY root, const std::wstring& path, REGSAM view,
                        std::vector<RegistryValue>& values, bool& changed, bool* refused = nullptr);

    // Lists the shortcuts of one Startup folder into `folder`; sets `changed` when they differ from the last read.
    void ReadFolder(StartupFolderRead& folder, bool& changed);

    std::map<int, KeyMemo> m_keys;
    std::map<std::wstring, KeyMemo> m_flagKeys; // by root and subkey
    SystemRead m_last;
    bool m_hasRead = false;
    std::map<std::wstring, ULONGLONG> m_clockSteps; // by folder: the step of its file system's clock
};

// RunKeyCodes: see StoreQueries.h.

} // namespace bw
