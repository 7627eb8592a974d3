#pragma once

#include "platform/Seam.h"

#include <string>

namespace bw {

// What tells this computer from every other: the GUID that Windows sets up at installation
// (HKLM\SOFTWARE\Microsoft\Cryptography, value MachineGuid, in the 64-bit view), or "" when it cannot be read.
std::wstring MachineGuid();

// The computer's NetBIOS name, for people to read; "" when it cannot be told.
std::wstring MachineName();

namespace seam {
extern TSeam<std::wstring()> MachineGuid;
extern TSeam<std::wstring()> MachineName;
} // namespace seam

} // namespace bw
