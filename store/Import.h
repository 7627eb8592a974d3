#pragma once

#include <string>

namespace bw {

// Makes the three enabled store folders a fresh mirror of the system: empties them, recomputes StartupDir
// and writes one store link per value of the two Run keys and one per shortcut of the Startup folder. The
// disabled folders are never touched. Values that cannot stand as a store link (a name that is no single
// file name, data of a non-string type) are passed over; everything else is still imported.
void ImportSystemEntries();

// Deletes every file below `folder`, read-only ones included, and keeps every folder (emptied) and every
// name that begins with a dot. Never follows a junction or symbolic link out of the folder. True when the
// folder existed and every deletion succeeded.
bool EmptyDirectory(const std::wstring& folder);

// The description that a store link of a registry entry carries: the whole command line when the link can
// keep it, else its first kLinkDescriptionLimit characters.
std::wstring DescriptionFor(const std::wstring& commandLine);

// False when a store link's description may have been cut, that is when it is as long as the most a link
// keeps. Such a description is never written anywhere as a command line.
bool IsCarriedWhole(const std::wstring& description);

// True when a file name ends in ".lnk" (in any case). A search for "*.lnk" may also match longer
// extensions through the short names of files; those are not shortcuts of the store.
bool HasLinkExtension(const std::wstring& fileName);

} // namespace bw
