#pragma once

#include "platform/Seam.h"

#include <string>

namespace bw {

// True when the program runs with an administrator's full rights (an elevated token). False for a standard user
// and for an administrator's unelevated token, the default under UAC: Windows then lets it read HKLM's keys but
// not change them.
bool RunsAsAdministrator();

// The account whose token the program runs with, as "DOMAIN\name" (or "name" where the domain is the machine's);
// "" when it cannot be told.
std::wstring ProcessAccountName();

// The account that owns the desktop: the one the shell runs as. Differs from ProcessAccountName when a standard
// user elevated the program with an administrator's password; then HKCU, the Startup folder and Windows' own
// switches are that administrator's. "" when it cannot be told (no shell, or its token cannot be read).
std::wstring DesktopAccountName();

// The SIDs, as strings ("S-1-5-21-..."), of the account the program runs as and of the account that owns the
// desktop (the store's owner, whose entries the store keeps); "" when one cannot be told.
std::wstring ProcessUserSid();
std::wstring DesktopUserSid();

namespace seam {
extern TSeam<bool()> Elevated;
extern TSeam<std::wstring()> ProcessAccount;
extern TSeam<std::wstring()> DesktopAccount;
extern TSeam<std::wstring()> ProcessSid;
extern TSeam<std::wstring()> DesktopSid;
} // namespace seam

} // namespace bw
