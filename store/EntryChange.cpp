#include "store/EntryChange.h"

#include "store/StoreLinkCodec.h"

namespace bw {

bool LinkAsMirrored(const StoreLink& link, const MirrorBase& base) {
    if (base.linkSettled && link.settled && link.stamp == base.link) {
        return true;
    }
    // The import that was about to write the link anew ended before it saved: the link as it was before is the
    // import's as much as the one it wrote, and one that cannot be read now tells no edit either. So for a link the
    // import wrote that lost its bytes to a power cut before they reached the disk.
    if (base.overwriting && (!link.readWhole || LinkBytesDigest(link) == *base.overwriting)) {
        return true;
    }
    // A stamp taken within a step of the clock of its change may stay the same through a second change.
    return link.readWhole &&
           (base.value ? StoreLinkMirrors(link, *base.value) : LinkBytesDigest(link) == base.linkDigest);
}

EntryChange ClassifyRunValue(const StoreLink* link, const MirrorBase* base, const std::optional<RegistryValue>& value) {
    if (!value) {
        return EntryChange::ChangedInSystem; // gone: nothing of it is made again
    }
    if (link && StoreLinkMirrors(*link, *value)) {
        return EntryChange::Unchanged;
    }
    if (!link || !base || !base->value || LinkAsMirrored(*link, *base)) {
        return EntryChange::ChangedInSystem;
    }
    // The link changed. (One not read whole is an edit all the same: the write-back never writes it, and the import
    // leaves it.)
    if (*base->value == *value) {
        return EntryChange::EditedInStore;
    }
    // Both changed to the same line: an edit written back by a run that ended before it saved its bases.
    if (link->readWhole && StoreLinkSays(*link, *value)) {
        return EntryChange::ChangedInSystem;
    }
    return EntryChange::ChangedOnBoth;
}

EntryChange ClassifyShortcut(const StoreLink* link, const MirrorBase* base, const std::optional<std::string>& shortcut,
                             bool stampAsBase) {
    if (!link || !base) {
        return EntryChange::ChangedInSystem;
    }
    if (!link->readWhole && base->overwriting) {
        return EntryChange::ChangedInSystem; // a write of the import's that did not reach the disk whole
    }
    const bool linkAsBase = link->readWhole && LinkAsMirrored(*link, *base);
    if (stampAsBase) {
        return linkAsBase ? EntryChange::Unchanged : EntryChange::EditedInStore;
    }
    if (!link->readWhole) {
        return EntryChange::ChangedInSystem;
    }
    if (!shortcut) {
        return EntryChange::SystemUnreadable;
    }
    if (LinkHeldBytes(*link, *shortcut)) {
        return linkAsBase ? EntryChange::Unchanged : EntryChange::ChangedInSystem; // both say the same
    }
    const bool shortcutAsBase = BytesDigest(*shortcut) == base->linkDigest;
    if (linkAsBase) {
        return shortcutAsBase ? EntryChange::Unchanged : EntryChange::ChangedInSystem;
    }
    return shortcutAsBase ? EntryChange::EditedInStore : EntryChange::ChangedOnBoth;
}

} // namespace bw
