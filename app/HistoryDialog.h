#pragma once

#include "store/History.h"

#include <windows.h>

#include <string>
#include <vector>

namespace bw {

// The store's history as the History dialog lists it: one row per change, newest first, each as its columns' texts
// (local time, change, who, place, name, command line).
std::vector<std::vector<std::wstring>> HistoryRows(const std::vector<HistoryLine>& history);

// The rows that hold `filter` in any column, in any letter case (all of them for an empty filter).
std::vector<std::vector<std::wstring>> FilteredRows(const std::vector<std::vector<std::wstring>>& rows,
                                                    const std::wstring& filter);

// Shows the History dialog over `owner` until the person closes it (Escape, the close box or Close). It reads the
// history file once, without the store's lock (the file is only ever replaced whole); nothing is changed.
void ShowHistoryDialog(HWND owner);

// The ids of the dialog's controls, for the window tests.
inline constexpr int kHistoryFilterId = 1001;
inline constexpr int kHistoryListId = 1002;

} // namespace bw
