#pragma once

#include <optional>
#include <string>

namespace bw {

// Who made a program and what it is, as its version resource says.
struct VersionStrings {
    std::wstring companyName;
    std::wstring fileDescription;
};

// The CompanyName and FileDescription of the version resource of the file at `path`, in the language that the
// resource's translation table lists first (without a table: US English in Unicode, then in the Western code
// page, then the neutral language). A string the resource lacks is empty. Nothing when the file has no version
// resource or cannot be read as a module.
std::optional<VersionStrings> ReadVersionStrings(const std::wstring& path);

} // namespace bw
