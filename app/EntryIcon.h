#pragma once

#include <string>

namespace bw {

// The program that a command line starts: the quoted part of a quoted command line; otherwise the shortest
// prefix ending before a blank that names an existing file (with or without ".exe"), or else the text up
// to the first blank. Environment references are expanded. Returns "" for an empty command line.
std::wstring ProgramPathOf(const std::wstring& commandLine);

} // namespace bw
