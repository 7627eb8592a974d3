#include "store/StoreLinkCodec.h"

#include "platform/ShellLink.h"
#include "store/CommandLine.h"
#include "store/Locations.h"

#include <optional>

namespace bw {

namespace {

// The target a link keeps of `target`: the target itself, or, where the link object cannot keep it as given
// (Wine's takes an environment reference for part of a relative path, and keeps only characters of the ANSI
// code page), its expansion; else none.
std::wstring SetLinkTarget(TShellLink& link, const std::wstring& target, TLinkTargets* targets) {
    if (!target.empty()) {
        const bool set = targets ? link.SetPathIn(targets->Folders(), target) : link.SetPath(target);
        if (set && link.RawPath() == target) {
            return target;
        }
        const std::wstring expanded = ExpandedText(target);
        if (expanded != target && link.SetPath(expanded) && link.RawPath() == expanded) {
            return expanded;
        }
    }
    (void)link.SetPath(L"");
    return {};
}

} // namespace

const std::string* TLinkTargets::Find(const std::wstring& target) const {
    const auto found = m_bytes.find(target);
    return found == m_bytes.end() ? nullptr : &found->second;
}

void TLinkTargets::Keep(const std::wstring& target, std::string bytes) {
    m_bytes[target] = std::move(bytes);
}

std::string RegistryStoreLinkBytes(TShellLink& link, const RegistryValue& value) {
    return RegistryStoreLinkBytes(link, value, nullptr, nullptr);
}

std::string RegistryStoreLinkBytes(TShellLink& link, const RegistryValue& value, TShellLink* checker,
                                   TLinkTargets* targets) {
    const std::wstring commandLine = value.Text();
    const ValueRecord valueRecord = RecordOfValue(value);
    std::wstring target;
    std::wstring arguments;
    // A cut line's program may be whole, but its arguments are not: such a link starts nothing.
    if (!valueRecord.cut) {
        if (const auto parts = SplitCommandLine(commandLine)) {
            target = LinkTargetOf(*parts, value.type);
            arguments = parts->arguments;
        }
    }
    const std::string* known = targets && !target.empty() ? targets->Find(target) : nullptr;
    if (known && link.LoadBytes(*known)) {
        // The link as it was once its target was set and checked; every field read back is set again below.
    } else {
        const std::wstring asked = target;
        target = SetLinkTarget(link, target, targets);
        if (!target.empty()) {
            // The target must come back from the file as it was set (Wine's link object keeps it in the ANSI code
            // page only); one that comes back otherwise would read as an edit of the target and be written into
            // the value. Such a link keeps no target, as a line that cannot be split.
            std::optional<TShellLink> own;
            TShellLink& saved = checker ? *checker : own.emplace();
            std::string bytes = link.SaveBytes();
            if (!saved.LoadBytes(bytes) || saved.RawPath() != target) {
                (void)link.SetPath(L"");
                target.clear();
            } else if (targets && asked == target) {
                targets->Keep(target, std::move(bytes));
            }
        }
    }
    (void)link.SetDescription(DescriptionFor(commandLine));
    (void)link.SetArguments(target.empty() ? std::wstring() : arguments);
    (void)link.SetIconLocation(target, 0);
    LinkRecord record;
    record.value = valueRecord;
    const auto stored = StoredNameOf(value.name);
    record.nameEncoded = stored && *stored != value.name;
    record.description = TextDigest(link.Description());
    record.target = TextDigest(link.RawPath());
    record.arguments = TextDigest(link.Arguments());
    link.SetDataBlock(kRecordBlockSignature, RecordBlockData(record));
    return link.SaveBytes();
}

RegistryLinkReading ReadRegistryLink(const StoreLink& link) {
    RegistryLinkReading reading;
    reading.commandLine = link.description;
    // The record is the store's own (TakeStoreRecord), never the link's block: a save by the shell may drop that.
    const std::optional<LinkRecord>& record = link.record;
    if (!record) {
        reading.record = RecordOfLink(link.description, link.arguments);
        return reading;
    }
    reading.recorded = true;
    reading.record = record->value;
    const bool descriptionEdited = TextDigest(link.description) != record->description;
    const bool targetEdited = TextDigest(link.rawTarget) != record->target;
    if (!targetEdited && TextDigest(link.arguments) == record->arguments) {
        reading.edit = descriptionEdited ? LinkEdit::Description : LinkEdit::None;
        return reading;
    }
    // The target or the arguments were changed: they make the command line, which keeps the program as the
    // line spelt it (quotes, references, a bare name) while the target is the one written.
    const auto before = descriptionEdited ? std::nullopt : SplitCommandLine(link.description);
    CommandParts parts;
    parts.program = !targetEdited && before ? before->program : link.rawTarget;
    parts.arguments = link.arguments;
    parts.quoted = NeedsQuotes(parts.program) || (!targetEdited && before && before->quoted);
    if (parts.program.empty()) {
        // A target taken away with no arguments left names nothing; with the comment changed, the comment is meant.
        if (descriptionEdited && link.arguments.empty()) {
            reading.edit = LinkEdit::Description;
            return reading;
        }
        reading.edit = LinkEdit::NoProgram;
        return reading;
    }
    const std::wstring joined = JoinCommandLine(parts);
    if (descriptionEdited && joined != link.description) {
        reading.edit = LinkEdit::Disagreeing;
        return reading;
    }
    reading.commandLine = joined;
    reading.edit = LinkEdit::Fields;
    return reading;
}

bool StoreLinkMirrors(const StoreLink& link, const RegistryValue& value) {
    if (!link.readWhole) {
        return false;
    }
    const RegistryLinkReading reading = ReadRegistryLink(link);
    if (!reading.recorded) {
        return false; // written before records were kept: the import writes it anew
    }
    const auto stored = StoredNameOf(value.name);
    return reading.edit == LinkEdit::None && link.record->nameEncoded == (stored && *stored != value.name) &&
           link.description == DescriptionFor(value.Text()) && reading.record == RecordOfValue(value);
}

bool StoreLinkSays(const StoreLink& link, const RegistryValue& value) {
    if (!link.readWhole) {
        return false;
    }
    const RegistryLinkReading reading = ReadRegistryLink(link);
    return reading.edit != LinkEdit::Disagreeing && reading.edit != LinkEdit::NoProgram &&
           reading.commandLine == DescriptionFor(value.Text()) && reading.record == RecordOfValue(value);
}

} // namespace bw
