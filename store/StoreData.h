#pragma once

#include <string>

namespace bw {

// The store's own files, kept in its data folder (StoreDataFolder): everything besides the store links that must
// outlive an update of the program.
inline constexpr const wchar_t* kStoreBaseFile = L"StoreBase.dat";       // what the mirrors held (TMirror)
inline constexpr const wchar_t* kStoreRecordsFile = L"StoreRecords.dat"; // what each store link stands for
inline constexpr const wchar_t* kStoreOwnerFile = L"StoreOwner.dat";     // whose the store is
inline constexpr const wchar_t* kSeenEntriesFile = L"SeenEntries.dat";   // the entries the user has seen
inline constexpr const wchar_t* kSettingsFile = L"Bootwarden.ini";       // the window's settings
inline constexpr const wchar_t* kHistoryFile = L"History.dat";           // the changes seen and made (THistory)
inline constexpr const wchar_t* kQuietEntriesFile = L"QuietEntries.dat"; // the entries the watcher tells nothing of
inline constexpr const wchar_t* kKeptOffFile = L"KeptOff.dat";           // the entries kept switched off (KeptOff.h)

// Every file of the data folder that a store made before the folder existed kept beside its store folders (the
// history came after the folder: it has only ever been kept there).
inline constexpr const wchar_t* kDataFiles[] = {kStoreBaseFile, kStoreRecordsFile, kStoreOwnerFile, kSeenEntriesFile,
                                                kSettingsFile};

// Moves each of kDataFiles that still lies beside the store folders (ProgramDir) into the data folder: read whole,
// written there in one step and flushed, and only then removed from its old place. A file that is a link, that
// cannot be read whole now, or whose new place holds other bytes already (the data folder's file is the store's
// then) stays where it is; one whose new place holds the very same bytes (a move stopped after its copy) is
// removed. Called with the store's lock held, in a store that can be written. Never throws.
void MoveOldDataFiles();

} // namespace bw
