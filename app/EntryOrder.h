#pragma once

#include "store/Entry.h"

#include <string>

namespace bw {

// The entry list's columns, by their index in the list view. The window shows them in the order of
// kColumnDisplayOrder: Name, Publisher, Signer, Description, Target, "Found in...".
enum ListColumn : int {
    NameColumn = 0,
    TargetColumn = 1,
    LocationColumn = 2,
    PublisherColumn = 3,
    DescriptionColumn = 4,
    SignerColumn = 5,
};
inline constexpr int kColumnCount = 6;
inline constexpr int kColumnDisplayOrder[kColumnCount] = {NameColumn,        PublisherColumn, SignerColumn,
                                                          DescriptionColumn, TargetColumn,    LocationColumn};

// The column the rows are sorted by, and which way. The default, Location upwards, is the order of the store
// folders and, within one, of names.
struct SortOrder {
    int column = LocationColumn;
    bool descending = false;
    bool operator==(const SortOrder& other) const { return column == other.column && descending == other.descending; }
};

inline bool IsListColumn(int column) {
    return column >= 0 && column < kColumnCount;
}

// The text that a column shows for an entry.
std::wstring ColumnText(const Entry& entry, int column);

// What the rows are sorted by in a column: its text without regard to case; for "Found in...", the place of the
// entry's folder in the store's order.
std::wstring SortKeyOf(const Entry& entry, int column);

// Orders two entries by their sort keys (of the same column), then as the default order does (location, then
// name as the file system compares names, then exact spelling); the whole order reversed when `descending`.
// 0 only for the same entry: the same name and location code.
int CompareEntries(const std::wstring& firstKey, const Entry& first, const std::wstring& secondKey, const Entry& second,
                   bool descending);

// What the Signer column shows: the verified signer, "Not signed" or "Not valid"; "" while the signature is not
// known yet, and for a program that is not there.
std::wstring SignerText(const Entry& entry);

// The command line that starts an entry: a registry entry's value, or a shortcut's target (quoted when it holds
// a blank) followed by its arguments.
std::wstring CommandLineOf(const Entry& entry);

// The form of a filter text that MatchesFilter takes: without regard to case.
std::wstring FilterKeyOf(const std::wstring& text);

// True when `filterKey` (from FilterKeyOf) is empty or is part of the entry's name, command line, publisher,
// signer or description, without regard to case.
bool MatchesFilter(const Entry& entry, const std::wstring& filterKey);

} // namespace bw
