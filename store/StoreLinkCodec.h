#pragma once

#include "platform/Registry.h"
#include "platform/ShellLink.h"
#include "store/CommandLine.h"
#include "store/StoreReader.h"

#include <map>
#include <string>

namespace bw {

// The codec of a registry entry's store link: the link written for a Run value, and what a link read from the
// store stands for.

// The bytes of a store link for a Run value: a shortcut to the program of its command line with the rest as
// arguments and the program's icon (no target when the line cannot be taken apart, or is cut), its command
// line as description (cut to what a link keeps), and its record in the record block. `link` may be used
// again for the next value: every field that is read back is set each time.
std::string RegistryStoreLinkBytes(TShellLink& link, const RegistryValue& value);

// What an import that writes many store links learns once per program: setting a link's target asks the shell
// for the file's place and volume, which costs more than all the rest of a link. Kept for one import only (a
// program may move or change between imports).
class TLinkTargets {
public:
    // The bytes of a link whose target was set to `target` and came back from a save as it was set; null when
    // none was kept.
    const std::string* Find(const std::wstring& target) const;
    void Keep(const std::wstring& target, std::string bytes);
    // The folders of the targets set so far (TShellLink::SetPathIn).
    TTargetFolders& Folders() { return m_folders; }

private:
    std::map<std::wstring, std::string> m_bytes;
    TTargetFolders m_folders;
};

// The same, with `checker` to load each link back for the check of its target, and `targets` to take a target's
// link from instead of setting the target again (each may be null).
std::string RegistryStoreLinkBytes(TShellLink& link, const RegistryValue& value, TShellLink* checker,
                                   TLinkTargets* targets);

// How the fields of a registry entry's store link were changed since the program wrote it.
enum class LinkEdit {
    None,        // not at all (or the store holds no record that could tell)
    Description, // the description alone: it is the command line
    Fields,      // the target or the arguments (the description not, or to the same line): they make it
    Disagreeing, // the description one way, the target or arguments another: nothing can be carried
    NoProgram,   // the target or arguments, to a link that now has no target: they name no program
};

// What a registry entry's store link stands for: the command line and its record (the store's record of the link,
// StoreLink::record), read as the fields the user changed say (links without a record read as they always did:
// the description and the record in the arguments, or what the description tells).
struct RegistryLinkReading {
    std::wstring commandLine;
    ValueRecord record;
    bool recorded = false; // the store holds a record of the link
    LinkEdit edit = LinkEdit::None;
};
RegistryLinkReading ReadRegistryLink(const StoreLink& link);

// True when a store link is what a link written for `value` now would be, unedited.
bool StoreLinkMirrors(const StoreLink& link, const RegistryValue& value);

// True when a store link stands for `value`'s command line and record, in whatever form it was written.
bool StoreLinkSays(const StoreLink& link, const RegistryValue& value);

} // namespace bw
