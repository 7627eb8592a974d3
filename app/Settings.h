#pragma once

#include "app/EntryOrder.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace bw {

// What the window keeps of itself from one run to the next, in a small file beside the program (the program is
// portable: it has no registry key of its own). Whatever the file lacks or holds damaged is left out here, and
// the window then takes its default.
struct WindowSettings {
    std::optional<RECT> bounds;    // the restored window's bounds, in the placement's (workspace) coordinates
    std::optional<UINT> dpi;       // the window's DPI when the bounds were taken; none in a file written before
    bool maximized = false;        // the window was maximised
    std::vector<int> columnWidths; // by column index, at 96 DPI; empty when the columns were never sized by hand
    std::optional<SortOrder> sort;
    bool hideWindows = false; // the rows of Windows' own entries are hidden
};

// The settings file: Bootwarden.ini in ProgramDir.
std::wstring SettingsPath();

// The settings a file's text gives: one "key=value" per line. Lines it does not know, and values that are not
// what their key takes, are passed over.
WindowSettings ParseSettings(const std::string& text);
std::string FormatSettings(const WindowSettings& settings);

// The settings of the file at `path`; defaults (all left out) when it is missing, unreadable or damaged. Never
// raises.
WindowSettings LoadSettings(const std::wstring& path);

// Writes the settings to `path` in one step (the old file stays whole until the new one replaces it). False when
// it cannot be written (a program folder where the user may not write): the settings are then not kept, and
// nobody is told.
bool SaveSettings(const std::wstring& path, const WindowSettings& settings);

// `bounds` taken at `savedDpi`, for a monitor of `dpi`: the same top-left corner, and the size they had in the scale of
// that monitor.
RECT ScaleBounds(const RECT& bounds, UINT savedDpi, UINT dpi);

// `bounds` moved (and, when larger, shrunk) into `workArea` when too little of it lies on that area to take hold
// of the window by its title; otherwise `bounds` as they are.
RECT KeepOnWorkArea(const RECT& bounds, const RECT& workArea);

} // namespace bw
