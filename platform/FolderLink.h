#pragma once

#include <windows.h>

#include <string>

namespace bw {

// What stands at the name of a folder: the folder itself, or a link that leads to another one.
struct FolderLink {
    enum Kind {
        Own,        // the folder itself (or nothing at all): a plain folder, or one whose reparse point is a filter's
                    // own (a cloud file's placeholder, deduplication) rather than a name for another folder
        Followed,   // a junction, a mount point or a directory symbolic link, resolved to `target`
        Unfollowed, // a link of another kind (a name surrogate other than those, such as WSL's symbolic links)
        Unresolved, // a link whose target cannot be told: gone, not a folder, or a path the system cannot give
    } kind = Own;
    std::wstring target; // for Followed: the final path of the folder it leads to, without "\\?\" or a last "\"
    DWORD tag = 0;       // the reparse tag read, where there is one
};

// Looks at the name `folder` (not at what it leads to) and, for a junction or a symbolic link, asks the system
// for the final path of the folder it leads to. The system's answers come through the seams of IsLink
// (LinkAttributes, ReparseTag, FinalPath), so that a test can answer as Windows does where Wine answers
// otherwise: Wine reports a host's symbolic link with no tag (0), which counts as a symbolic link here.
FolderLink FollowFolderLink(const std::wstring& folder);

// True when the two paths name the same folder or one lies inside the other, compared by name without regard to
// case (both as the system gives them: full, and in their long form).
bool FoldersOverlap(const std::wstring& first, const std::wstring& second);

} // namespace bw
