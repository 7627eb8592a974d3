#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace bw {

// The entry a start of the window is asked to select once its list is there (a click on one of the watcher's
// notices): its location's code and its name, any name at all.
struct EntrySelection {
    int code = 0;
    std::wstring name;
    bool operator==(const EntrySelection& other) const { return code == other.code && name == other.name; }
};

// What a start of the program was asked, read from its whole command line (GetCommandLineW) as Windows splits it.
struct StartArguments {
    // The command line before the selection, for the switches that stand there (--watch, --after): a name in
    // the selection that holds one is never taken for it.
    std::wstring head;
    std::optional<EntrySelection> selection;
};
StartArguments ReadStartArguments(const std::wstring& wholeCommandLine);

// The arguments that ask the window to select `selection`: "--select CODE NAME", last on the line, the name
// quoted; a name that holds a NUL, which no command line can carry, goes as its parts, one argument each.
std::wstring SelectArguments(const EntrySelection& selection);

// A start on a store whose window is open already hands its selection to that window (WM_COPYDATA), and the
// window reads it back. Nothing when the message is not one.
bool HandSelectionTo(HWND window, const EntrySelection& selection);
std::optional<EntrySelection> SelectionHandedOver(const COPYDATASTRUCT& data);

} // namespace bw
