#pragma once

#include "platform/Registry.h"
#include "store/Mirror.h"
#include "store/StoreReader.h"

#include <optional>
#include <string>

namespace bw {

// Which side of an entry changed since its base: the one decision that the import, the write-back and settling
// make, made here.
enum class EntryChange {
    Unchanged,        // the store link mirrors the system side as it is
    EditedInStore,    // only the store link changed: the write-back carries it into the system
    ChangedInSystem,  // only the system side changed, or nothing tells otherwise: the import mirrors it
    ChangedOnBoth,    // both changed, differently: neither is written over the other until the user chooses
    SystemUnreadable, // a Startup shortcut that cannot be read now: its side is unknown
};

// True when the store link is still what the import left, told by its stamp where that can tell, else by what
// it holds (including the link that an import ended before saving was about to overwrite).
bool LinkAsMirrored(const StoreLink& link, const MirrorBase& base);

// A registry entry: `link` its enabled store link and `base` its base (null when there is none), `value` the Run
// value now (nothing when it is gone). A link without a base, or not read whole, tells no edit.
EntryChange ClassifyRunValue(const StoreLink* link, const MirrorBase* base, const std::optional<RegistryValue>& value);

// A Startup entry: `shortcut` the shortcut's bytes now (nothing when they cannot be read), `stampAsBase` true when
// its stamp is still the one the base recorded (which then tells without the bytes).
EntryChange ClassifyShortcut(const StoreLink* link, const MirrorBase* base, const std::optional<std::string>& shortcut,
                             bool stampAsBase);

} // namespace bw
