#pragma once

#include <optional>
#include <string>

namespace bw {

// Whose a store is: the account whose entries it keeps and the computer it was made on. A store copied to
// another computer, or opened by another account, holds entries that are not that account's to switch on.
struct StoreOwner {
    std::wstring sid;         // the account's SID, as text ("S-1-5-21-...")
    std::wstring account;     // its name when recorded, for people to read
    std::wstring machineGuid; // the computer's MachineGuid ("" where it could not be read)
    std::wstring machine;     // the computer's name when recorded, for people to read
};

// The file beside the store folders in which the owner is recorded.
std::wstring StoreOwnerFile();

// The store's recorded owner. Nothing when no owner is recorded (a store made before owners were, or a new
// one); an owner with every field empty when the file is there but cannot be read or is not ours.
std::optional<StoreOwner> RecordedStoreOwner();

// Records `owner` in one step (a temporary file and one replace). Raises what WriteFileReplacing raises.
void RecordStoreOwner(const StoreOwner& owner);

// The owner that this run stands for: the account that owns the desktop (the one whose HKCU and Startup folder
// the store's entries come from), or the program's own account where no desktop can be asked, on this computer.
StoreOwner ThisRunsOwner();

// False when the program runs elevated as another account than the desktop's (a standard user who typed an
// administrator's password): such a run does not make an unowned store its own.
bool ThisRunMayAdopt();

// True when `recorded` is `current`: the same account, and the same computer where both computers are known.
// A run that cannot tell its own account takes every store for its own, as before owners were recorded.
bool SameOwner(const StoreOwner& recorded, const StoreOwner& current);

// Where this run is elevated as another account than the desktop's (a standard user who typed an administrator's
// password), HKCU and the shell's Startup folder are that administrator's; the store keeps the desktop owner's.
// Then HKCU stands for the owner's hive (HKEY_USERS\<SID>) in this process, and the Startup folder is the owner's
// (from the owner's "User Shell Folders", with the profile folder that ProfileList records). Returns the owner's
// name when the hive cannot be opened (HKCU then stays the administrator's, and no Startup folder is known: the
// owner's places are read-only, SetOwnersPlacesUnreachable); "" otherwise, also for a run that is the desktop
// owner's own.
std::wstring UseOwnersPlaces();

// The owner's account and computer as people read them: the names recorded, or what stands for them.
std::wstring ShownAccount(const StoreOwner& owner);
std::wstring ShownMachine(const StoreOwner& owner);

} // namespace bw
