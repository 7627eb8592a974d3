#pragma once

#include "platform/Registry.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace bw {

// The description that a store link of a registry entry carries: the whole command line when a link can keep
// it, else its first kLinkDescriptionLimit characters.
std::wstring DescriptionFor(const std::wstring& commandLine);

// True when a command line holds a %NAME% reference, which Windows expands only in an expandable string.
bool HasEnvironmentReference(const std::wstring& commandLine);

// What a store link of a registry entry keeps besides its description: the type of the value and whether the
// description is the whole command line or only its start.
struct ValueRecord {
    DWORD type = REG_SZ;
    bool cut = false;
    bool operator==(const ValueRecord& other) const { return type == other.type && cut == other.cut; }
    bool operator!=(const ValueRecord& other) const { return !(*this == other); }
};

// The record of a value as it stands: its type, and whether its command line is longer than a link keeps.
ValueRecord RecordOfValue(DWORD type, const std::wstring& commandLine);
// The same for a value read whole: a string that holds more after its first zero character (which ends the
// command line Windows starts) counts as cut too, since the link keeps only the command line.
ValueRecord RecordOfValue(const RegistryValue& value);

// True when a record could have been made by the program from a Run value with this description: a string
// type, or another type (never REG_LINK) only for the empty value. Any other record is taken for none.
bool IsRecordOfRunValue(const ValueRecord& record, const std::wstring& description);

// The signature of the extra data block in which a registry entry's store link keeps its record.
inline constexpr DWORD kRecordBlockSignature = 0x42570001;

// What a registry entry's store link records of itself, besides its fields: the value's record, whether its
// file name is the encoding of the entry's name, and digests of the three fields as written, by which an edit
// of each through the link's property sheet is told.
struct LinkRecord {
    ValueRecord value;
    bool nameEncoded = false;
    std::uint64_t description = 0;
    std::uint64_t target = 0;
    std::uint64_t arguments = 0;
};

// The data of the record block; and the record it holds, nothing when it holds none that is well formed and
// could have been made by the program.
std::string RecordBlockData(const LinkRecord& record);
std::optional<LinkRecord> RecordOfBlock(const std::string& data);

// A digest of a text, to tell whether a field of a link was changed since it was written.
std::uint64_t TextDigest(const std::wstring& text);
std::uint64_t BytesDigest(const std::string& bytes);

// The text with its environment references expanded (as it stands when they cannot be).
std::wstring ExpandedText(const std::wstring& text);

// A command line taken apart into the program it starts and the arguments it gives that program.
struct CommandParts {
    std::wstring program;   // as the line spells it, without its quotes
    std::wstring arguments; // everything after the blank that ends the program
    bool quoted = false;    // the line quotes the program
    bool operator==(const CommandParts& other) const {
        return program == other.program && arguments == other.arguments && quoted == other.quoted;
    }
};

// Takes a command line apart. The program of a quoted line is the quoted part; of an unquoted one the shortest
// prefix ending before a blank that names an existing file (environment references expanded, with or without
// ".exe"), or else the text up to the first blank. Nothing when the line has no program, or when joining its
// parts would not give back the very line (a quote left open, text right after the closing quote, blanks
// before the program or at the end).
std::optional<CommandParts> SplitCommandLine(const std::wstring& commandLine);

// The command line of parts: the program (quoted when `quoted` says so), then a blank and the arguments when
// there are any.
std::wstring JoinCommandLine(const CommandParts& parts);

// True when a program's path must be quoted to stand at the head of a command line.
bool NeedsQuotes(const std::wstring& program);

// One argument quoted so that the C runtime and CommandLineToArgvW give it back as it is, whatever it holds
// (blanks, quotes, backslashes, nothing at all); a NUL cannot stand in a command line and must not be in it.
std::wstring QuoteArgument(const std::wstring& argument);

// The target that a store link of a value of `type` gets for its program: the existing file it names (found
// where Windows finds programs when it is a bare name), or the program as spelt when there is none. In an
// expandable value, a program with environment references keeps them unexpanded.
std::wstring LinkTargetOf(const CommandParts& parts, DWORD type);

// The text that goes into a store link's arguments so that the link reads back as `record`, or "" when its
// description alone already reads so (which keeps such links as they were before records were kept).
std::wstring RecordArguments(const ValueRecord& record, const std::wstring& description);

// What a store link says of its value: the record in its arguments when they hold one; otherwise what its
// description tells, as links written without a record are read: expandable when it holds a %NAME%
// reference, cut when it is as long as a link is sure to keep.
ValueRecord RecordOfLink(const std::wstring& description, const std::wstring& arguments);

// The record that the arguments of a link hold in the form the program wrote before it kept records in a data
// block; nothing when they hold none that is well formed and could have been made by the program.
std::optional<ValueRecord> ArgumentsRecord(const std::wstring& description, const std::wstring& arguments);

// The program that a command line starts: the quoted part of a quoted command line; otherwise the shortest
// prefix ending before a blank that names an existing file (with or without ".exe"), or else the text up to
// the first blank. Environment references are expanded, and a bare file name is looked for where Windows
// looks for programs. Returns "" for an empty command line.
std::wstring ProgramPathOf(const std::wstring& commandLine);

} // namespace bw
