#include "platform/FolderLink.h"

#include "platform/FileSystem.h"

namespace bw {

namespace {

std::wstring WithoutLastSeparator(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') {
        path.pop_back();
    }
    return path;
}

} // namespace

FolderLink FollowFolderLink(const std::wstring& given) {
    const std::wstring folder = WithoutLastSeparator(given);
    FolderLink link;
    const DWORD attributes = seam::LinkAttributes(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return link; // nothing there: a folder that is made where it is named
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        const auto tag = seam::ReparseTag(folder);
        if (!tag) {
            link.kind = FolderLink::Unresolved; // a reparse point whose kind cannot be read is never followed
            return link;
        }
        link.tag = *tag;
        // Junctions and volume mount points share IO_REPARSE_TAG_MOUNT_POINT. Any other name surrogate names
        // another file in a way the system does not resolve for every caller (a WSL link opens as nothing on
        // Windows, a container's link belongs to its layer): never followed. A tag that is no name surrogate is a
        // filter's mark on the folder itself (cloud files, deduplication, storage tiers).
        const bool followed = *tag == IO_REPARSE_TAG_MOUNT_POINT || *tag == IO_REPARSE_TAG_SYMLINK || *tag == 0;
        if (!followed) {
            link.kind = IsReparseTagNameSurrogate(*tag) ? FolderLink::Unfollowed : FolderLink::Own;
            return link;
        }
    } else if (!IsLink(folder)) {
        return link; // neither a reparse point nor a name whose final path leaves its folder
    }
    const auto target = seam::FinalPath(folder, true, VOLUME_NAME_DOS);
    // A volume mounted without a drive letter has no path of the DOS form; a link to a folder that is gone, or to a
    // file, leads to no folder. Neither is followed.
    if (!target || target->empty()) {
        link.kind = FolderLink::Unresolved;
        return link;
    }
    const DWORD reached = seam::LinkAttributes(*target);
    if (reached == INVALID_FILE_ATTRIBUTES || !(reached & FILE_ATTRIBUTE_DIRECTORY)) {
        link.kind = FolderLink::Unresolved;
        return link;
    }
    link.kind = FolderLink::Followed;
    link.target = WithoutLastSeparator(*target);
    return link;
}

bool FoldersOverlap(const std::wstring& first, const std::wstring& second) {
    const std::wstring a = WithoutLastSeparator(LongPathOf(first));
    const std::wstring b = WithoutLastSeparator(LongPathOf(second));
    return IsInFolder(a, b) || IsInFolder(b, a);
}

} // namespace bw
