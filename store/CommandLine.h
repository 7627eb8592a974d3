#pragma once

#include <windows.h>

#include <string>

namespace bw {

// The description that a store link of a registry entry carries: the whole command line when a link can keep
// it, else its first kLinkDescriptionLimit characters.
std::wstring DescriptionFor(const std::wstring& commandLine);

// True when a command line holds a %NAME% reference, which Windows expands only in an expandable string.
bool HasEnvironmentReference(const std::wstring& commandLine);

// What a store link of a registry entry keeps besides its description: the type of the value and whether the
// description is the whole command line or only its start.
struct ValueRecord {
    DWORD type = REG_SZ;
    bool cut = false;
    bool operator==(const ValueRecord& other) const { return type == other.type && cut == other.cut; }
    bool operator!=(const ValueRecord& other) const { return !(*this == other); }
};

// The record of a value as it stands: its type, and whether its command line is longer than a link keeps.
ValueRecord RecordOfValue(DWORD type, const std::wstring& commandLine);

// The text that goes into a store link's arguments so that the link reads back as `record`, or "" when its
// description alone already reads so (which keeps such links as they were before records were kept).
std::wstring RecordArguments(const ValueRecord& record, const std::wstring& description);

// What a store link says of its value: the record in its arguments when they hold one; otherwise what its
// description tells, as links written without a record are read: expandable when it holds a %NAME%
// reference, cut when it is as long as a link is sure to keep.
ValueRecord RecordOfLink(const std::wstring& description, const std::wstring& arguments);

// The program that a command line starts: the quoted part of a quoted command line; otherwise the shortest
// prefix ending before a blank that names an existing file (with or without ".exe"), or else the text up to
// the first blank. Environment references are expanded, and a bare file name is looked for where Windows
// looks for programs. Returns "" for an empty command line.
std::wstring ProgramPathOf(const std::wstring& commandLine);

} // namespace bw
