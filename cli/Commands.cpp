#include "cli/Commands.h"

#include "BootwardenVersion.h"
#include "cli/EntryFormats.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/ShellLink.h"
#include "resources/Texts.h"
#include "store/ErrorText.h"
#include "store/Locations.h"
#include "store/FileFacts.h"
#include "store/History.h"
#include "store/StoreDoor.h"
#include "store/StoreLock.h"
#include "store/StoreQueries.h"
#include "store/StoreSession.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>

namespace bw::cli {

namespace {

// A command line that bwcli does not take.
class EUsage : public EBootwarden {
public:
    using EBootwarden::EBootwarden;
};

// A command that ends with an exit code and a message on the error output.
struct Outcome {
    int code;
    std::wstring message;
};

struct Request {
    std::wstring command;
    std::vector<std::wstring> operands;
    std::optional<Location> location;
    std::optional<std::wstring> name;
    std::optional<bool> enabled;      // --state on|off: which of two entries of one name in one place
    std::optional<std::wstring> id;   // --id: an entry named by the id that list prints, instead of NAME
    std::optional<std::wstring> link; // --link: an entry named by its store link's path, instead of NAME
    std::optional<bool> keepStore;    // --keep system|store: which side settle keeps
    bool json = false;
    bool csv = false;
    bool dryRun = false;
    bool replace = false;
    bool no = false; // keep-off --no: the mark goes
    bool help = false;
    bool version = false;
    bool hideWindows = false; // list: Windows' own entries left out
};

// --id and --link name an entry instead of NAME, for the commands that take one; settle needs --keep.
void CheckEntryNaming(const Request& request, bool namesEntry) {
    const auto refuse = [&](const wchar_t* option) {
        throw EUsage(FormatMessageText(text::kCliOptionNotHere, {option, request.command}));
    };
    if (!namesEntry && (request.id || request.link)) {
        refuse(request.id ? L"--id" : L"--link");
    }
    if (request.id && request.link) {
        throw EUsage(text::kCliIdAndLink);
    }
    if ((request.id || request.link) && request.location) {
        refuse(L"--location"); // the id and the store link say where the entry is
    }
    if (request.keepStore.has_value() != (request.command == L"settle")) {
        if (request.keepStore) {
            refuse(L"--keep");
        }
        throw EUsage(text::kCliSettleNeedsKeep);
    }
}

Request ParseRequest(const std::vector<std::wstring>& arguments) {
    Request request;
    bool optionsEnded = false;
    std::vector<std::wstring> words;
    for (size_t at = 0; at < arguments.size(); ++at) {
        const std::wstring& argument = arguments[at];
        if (optionsEnded || argument.size() < 2 || argument[0] != L'-') {
            words.push_back(argument);
            continue;
        }
        if (argument == L"--") {
            optionsEnded = true; // what follows is a name or a path, even when it begins with "-"
            continue;
        }
        const size_t equals = argument.find(L'=');
        const std::wstring option = argument.substr(0, equals);
        const auto value = [&]() -> std::wstring {
            if (equals != std::wstring::npos) {
                return argument.substr(equals + 1);
            }
            if (at + 1 >= arguments.size()) {
                throw EUsage(FormatMessageText(text::kCliOptionNeedsValue, option));
            }
            return arguments[++at];
        };
        if (option == L"--location") {
            const std::wstring key = value();
            request.location = LocationOfKey(key);
            if (!request.location) {
                throw EUsage(FormatMessageText(text::kCliUnknownLocation, key));
            }
        } else if (option == L"--name") {
            request.name = value();
        } else if (option == L"--id") {
            request.id = value();
        } else if (option == L"--link") {
            request.link = value();
        } else if (option == L"--keep") {
            const std::wstring side = value();
            if (side != L"system" && side != L"store") {
                throw EUsage(FormatMessageText(text::kCliUnknownSide, side));
            }
            request.keepStore = side == L"store";
        } else if (option == L"--state") {
            const std::wstring state = value();
            if (state != L"on" && state != L"off") {
                throw EUsage(FormatMessageText(text::kCliUnknownState, state));
            }
            request.enabled = state == L"on";
        } else if (equals != std::wstring::npos) {
            throw EUsage(FormatMessageText(text::kCliUnknownOption, argument));
        } else if (option == L"--json") {
            request.json = true;
        } else if (option == L"--csv") {
            request.csv = true;
        } else if (option == L"--dry-run") {
            request.dryRun = true;
        } else if (option == L"--replace") {
            request.replace = true;
        } else if (option == L"--no") {
            request.no = true;
        } else if (option == L"--hide-windows") {
            request.hideWindows = true;
        } else if (option == L"--help" || option == L"-h" || option == L"-?") {
            request.help = true;
        } else if (option == L"--version") {
            request.version = true;
        } else {
            throw EUsage(FormatMessageText(text::kCliUnknownOption, argument));
        }
    }
    if (request.help || request.version) {
        return request;
    }
    if (words.empty()) {
        throw EUsage(text::kCliNoCommand);
    }
    request.command = words.front();
    request.operands.assign(words.begin() + 1, words.end());

    const std::wstring& command = request.command;
    const bool isList = command == L"list" || command == L"history";
    const bool namesEntry = command == L"disable" || command == L"enable" || command == L"delete" ||
                            command == L"settle" || command == L"keep-off";
    const bool isAdd = command == L"add";
    if (!isList && !namesEntry && !isAdd && command != L"refresh" && command != L"adopt") {
        throw EUsage(FormatMessageText(text::kCliUnknownCommand, command));
    }
    const auto refuseOption = [&](bool given, const wchar_t* option) {
        if (given) {
            throw EUsage(FormatMessageText(text::kCliOptionNotHere, {option, command}));
        }
    };
    refuseOption((request.json || request.csv) && !isList, request.json ? L"--json" : L"--csv");
    refuseOption(request.location.has_value() && !namesEntry && !isAdd, L"--location");
    if (isAdd && request.location && !IsFolderCode(InfoOf(*request.location).code)) {
        throw EUsage(text::kCliAddPlaces);
    }
    refuseOption(request.name.has_value() && !isAdd, L"--name");
    refuseOption(request.enabled.has_value() && command != L"delete", L"--state");
    CheckEntryNaming(request, namesEntry);
    refuseOption(request.replace && command != L"enable", L"--replace");
    refuseOption(request.no && command != L"keep-off", L"--no");
    refuseOption(request.hideWindows && command != L"list", L"--hide-windows");
    refuseOption(request.dryRun && (!namesEntry || command == L"settle" || command == L"keep-off") && !isAdd,
                 L"--dry-run");
    if (request.json && request.csv) {
        throw EUsage(text::kCliJsonAndCsv);
    }
    const size_t wanted = (namesEntry && !request.id && !request.link) || isAdd ? 1 : 0;
    if (request.operands.size() != wanted) {
        throw EUsage(FormatMessageText(text::kCliOperands, {command, wanted == 1 && !isAdd ? text::kCliOneName
                                                                     : isAdd               ? text::kCliOnePath
                                                                                           : text::kCliNothing}));
    }
    return request;
}

std::vector<ListedEntry> Listed(const std::vector<Entry>& entries) {
    std::unique_ptr<TShellLink> loader;
    std::vector<ListedEntry> listed;
    for (const Entry& entry : entries) {
        ListedEntry item;
        item.name = entry.name;
        item.location = LocationKeyOf(entry.code);
        item.code = entry.code;
        item.label = PlainLocationLabel(entry.code);
        item.enabled = IsEnabledCode(entry.code);
        item.switchedOffInWindows = entry.switchedOffInWindows;
        if (IsRegistryCode(entry.code)) {
            item.commandLine = entry.description;
        } else {
            if (!loader) {
                loader = std::make_unique<TShellLink>();
            }
            item.commandLine = StartupLinkCommandLine(entry, *loader);
        }
        item.target = entry.target.size() >= 2 ? entry.target : std::wstring();
        item.problem = ProblemText(entry.problem);
        item.storeLink = entry.storeLinkPath;
        item.publisher = entry.publisher;
        item.description = entry.fileDescription;
        item.id = EntryIdOf(entry.code, entry.name);
        switch (entry.signature.kind) {
        case SignatureKind::Verified:
            item.signature = L"verified";
            item.signer = entry.signature.signer;
            break;
        case SignatureKind::NotSigned:
            item.signature = L"none";
            break;
        case SignatureKind::NotValid:
            item.signature = L"invalid";
            break;
        case SignatureKind::Missing:
            item.signature = L"missing";
            break;
        }
        listed.push_back(std::move(item));
    }
    return listed;
}

std::wstring StateText(const Entry& entry) {
    return !IsEnabledCode(entry.code)   ? text::kCliStateOff
           : entry.switchedOffInWindows ? text::kCliStateOffInWindows
                                        : text::kCliStateOn;
}

// The commands that change nothing, and so run on a store that cannot be changed.
bool OnlyReads(const std::wstring& command) {
    return command == L"list" || command == L"history";
}

std::wstring Where(const Entry& entry) {
    return LocationKeyOf(entry.code);
}

// Everything bwcli does on the store, in one unit of work on it.
class TCommandRun {
public:
    TCommandRun(TStreams& streams, TStoreDoor& door, TStoreDoor::TWork& work)
        : m_streams(streams), m_door(door), m_work(work) {}

    int Run(const Request& request) {
        for (const RefusedFolder& folder : m_door.RefusedFolders()) {
            m_streams.Warning(FormatMessageText(text::kCliStoreFolderIsLink, {folder.folder, folder.why}));
        }
        // A store of another account or computer is listed; everything else waits until it is taken over.
        if (const auto& owner = m_door.OtherOwner()) {
            const std::wstring line =
                FormatMessageText(text::kCliStoreOfAnother, {ShownAccount(*owner), ShownMachine(*owner)});
            if (OnlyReads(request.command)) {
                m_streams.Warning(line);
            } else if (request.command != L"adopt") {
                m_streams.Error(line);
                return kRefused;
            }
        }
        if (request.command == L"adopt") {
            return Adopt();
        }
        if (!m_door.UnreachableOwner().empty()) {
            // HKLM's entries and those of all users stay changeable; each of the owner's is refused with the reason.
            m_streams.Warning(FormatMessageText(text::kCliOwnersPlacesUnreachable, m_door.UnreachableOwner()));
        }
        // A store that cannot be written is listed; every command that would change something is refused.
        if (m_door.ReadOnly() && !OnlyReads(request.command)) {
            const auto& notShared = m_door.NotShared();
            m_streams.Error(!notShared ? FormatMessageText(text::kCliStoreReadOnly, ProgramDir())
                            : notShared->reason == ENotShared::AccessDenied
                                ? FormatMessageText(text::kCliAnotherCopyWorks, ProgramDir())
                                : FormatMessageText(text::kCliNameTaken, notShared->name));
            return kRefused;
        }
        if (request.command == L"refresh") {
            return Refresh();
        }
        RefreshStore(false);
        if (request.command == L"list") {
            return List(request);
        }
        if (request.command == L"history") {
            return History(request);
        }
        if (request.command == L"add") {
            return Add(request);
        }
        return Act(request);
    }

private:
    int Adopt() {
        const StoreOwner me = ThisRunsOwner();
        if (!m_door.OtherOwner()) {
            m_streams.Line(FormatMessageText(text::kCliAlreadyYours, {ShownAccount(me), ShownMachine(me)}));
            return kDone;
        }
        m_work.TakeOver();
        m_streams.Line(FormatMessageText(text::kCliAdopted, {ShownAccount(me), ShownMachine(me)}));
        return kDone;
    }

    void RefreshStore(bool writeBack) {
        (void)m_work.Refresh(writeBack);
        for (const ImportProblem& problem : m_work.Session().TakeNewProblems()) {
            m_streams.Warning(
                FormatMessageText(text::kCliImportProblem, {problem.name, ProgramDir() + problem.folder}));
        }
    }

    int List(const Request& request) {
        // Who made and who signed each program, as the window's Publisher, Description and Signer columns say it;
        // read here and now, by the same code as the window's reader.
        std::vector<Entry> entries = m_work.Entries();
        FillFileFactsNow(entries);
        if (request.hideWindows) {
            entries.erase(std::remove_if(entries.begin(), entries.end(), IsWindowsOwn), entries.end());
        }
        const std::vector<ListedEntry> listed = Listed(entries);
        if (request.json) {
            m_streams.Out(WideOf(JsonOf(listed)));
        } else if (request.csv) {
            m_streams.Out(CsvOf(listed));
        } else {
            m_streams.Out(TableOf(listed));
        }
        return kDone;
    }

    // The history, after the import above has kept what it saw changed meanwhile.
    int History(const Request& request) {
        std::vector<ListedChange> listed;
        for (const HistoryLine& line : ReadHistory()) {
            ListedChange change;
            change.time = HistoryTimeText(line.time);
            change.change = HistoryChangeWord(line.change);
            change.by = HistoryActorWord(line.by);
            change.location = LocationKeyOf(line.code);
            change.code = line.code;
            change.label = PlainLocationLabel(line.code);
            change.name = line.name;
            change.id = EntryIdOf(line.code, line.name);
            change.commandLine = line.start;
            listed.push_back(std::move(change));
        }
        if (request.json) {
            m_streams.Out(WideOf(HistoryJsonOf(listed)));
        } else if (request.csv) {
            m_streams.Out(HistoryCsvOf(listed));
        } else {
            m_streams.Out(HistoryTableOf(listed));
        }
        return kDone;
    }

    // The entries that the name names, within the location asked for.
    std::vector<Entry> Named(const std::wstring& name, const std::optional<Location>& location) const {
        std::vector<Entry> found;
        const std::wstring folded = FoldedName(name);
        for (const Entry& entry : m_work.Entries()) {
            if (FoldedName(entry.name) == folded && (!location || LocationOf(entry.code) == *location)) {
                found.push_back(entry);
            }
        }
        return found;
    }

    // The entries that a command names: by NAME (within --location), by the id that list prints, or by a store
    // link's path. An id and a path name one exact spelling of a name; NAME is compared as Windows compares names.
    struct Naming {
        std::wstring name;
        std::optional<Location> location;
        std::vector<Entry> found;
    };

    Naming NamingOf(const Request& request) const {
        Naming naming;
        if (request.link) {
            const std::wstring path = FullPath(*request.link);
            naming.name = *request.link;
            for (const Entry& entry : m_work.Session().Entries()) {
                if (!entry.storeLinkPath.empty() && SameFileName(FullPath(entry.storeLinkPath), path)) {
                    naming.name = entry.name;
                    naming.found.push_back(entry);
                }
            }
            return naming;
        }
        if (request.id) {
            const auto id = ParseEntryId(*request.id);
            if (!id) {
                throw EUsage(FormatMessageText(text::kCliNotAnId, *request.id));
            }
            naming.name = id->name;
            naming.location = id->location;
            for (const Entry& entry : Named(id->name, id->location)) {
                if (entry.name == id->name) {
                    naming.found.push_back(entry);
                }
            }
            return naming;
        }
        naming.name = request.operands.front();
        naming.location = request.location;
        naming.found = Named(naming.name, naming.location);
        return naming;
    }

    // Settles an entry changed on both sides, as the window's question does: "system" keeps what starts now (the
    // store then mirrors it), "store" writes the store's edit into the system, but only while the system side is
    // still what this run saw.
    int Settle(const std::wstring& name, const std::vector<Entry>& found, bool keepStore) {
        // Only an entry that starts can have changed on both sides; a name kept switched off as well is no question.
        const std::vector<Entry> on = InState(found, true);
        const Entry& entry = OneOf(name, on.empty() ? found : on);
        std::optional<BothChanged> conflict;
        for (const BothChanged& both : m_work.Session().TakeBothChanged()) {
            if (both.code == entry.code && both.name == entry.name) {
                conflict = both;
            }
        }
        if (!conflict) {
            return Done(text::kCliNothingToSettle, entry);
        }
        m_work.Session().Settle(*conflict, keepStore);
        RefreshStore(false); // mirrors the entry afresh from the system as it now is
        if (!keepStore) {
            return Done(text::kCliKeptSystem, entry);
        }
        const bool written =
            std::any_of(m_work.Session().Entries().begin(), m_work.Session().Entries().end(), [&](const Entry& now) {
                return now.code == entry.code && now.name == entry.name &&
                       (IsRegistryCode(now.code) ? now.description : now.target) == conflict->storeSide;
            });
        if (!written) {
            throw Refusal{kRefused, FormatMessageText(text::kCliEditNotSettled, {entry.name, Where(entry)})};
        }
        return Done(text::kCliKeptStore, entry);
    }

    // Each entry that a refresh left for a person, one line each on the error output; true when there was one.
    bool ReportLeftForYou() {
        bool left = false;
        for (const BothChanged& both : m_work.Session().TakeBothChanged()) {
            m_streams.Error(
                FormatMessageText(text::kCliBothChanged, {both.name, LocationKeyOf(both.code), both.systemSide,
                                                          both.storeSide, EntryIdOf(both.code, both.name)}));
            left = true;
        }
        for (const EditNotCarried& edit : m_work.Session().TakeEditsNotCarried()) {
            m_streams.Error(FormatMessageText(text::kCliEditNotCarried,
                                              {edit.name, LocationKeyOf(edit.code), edit.storeLinkPath, edit.reason}));
            left = true;
        }
        for (const WriteBackFailure& failure : m_work.Session().TakeWriteBackFailures()) {
            m_streams.Error(FormatMessageText(text::kWriteBackFailed, {failure.name, failure.message}));
            left = true;
        }
        return left;
    }

    [[noreturn]] static void RefuseAmbiguous(const std::wstring& name, const std::vector<Entry>& entries) {
        std::wstring list;
        for (const Entry& entry : entries) {
            list += (list.empty() ? L"" : L", ") +
                    FormatMessageText(text::kCliAmbiguousOne, {Where(entry), StateText(entry)});
        }
        // Two entries of one name in one place, one starting and one kept switched off: --state tells them apart.
        const bool onePlace = std::all_of(entries.begin(), entries.end(), [&](const Entry& entry) {
            return LocationOf(entry.code) == LocationOf(entries.front().code);
        });
        const bool bothStates = std::any_of(entries.begin(), entries.end(), [&](const Entry& entry) {
            return IsEnabledCode(entry.code) != IsEnabledCode(entries.front().code);
        });
        throw Refusal{kRefused,
                      FormatMessageText(onePlace && bothStates ? text::kCliAmbiguousState : text::kCliAmbiguous,
                                        {name, std::to_wstring(entries.size()), list})};
    }

    // One of `candidates`: the only one, or the only one whose name is spelt exactly so (a folder that tells case
    // apart can hold both "Tool" and "TOOL").
    static const Entry& OneOf(const std::wstring& name, const std::vector<Entry>& candidates) {
        if (candidates.size() == 1) {
            return candidates.front();
        }
        std::vector<Entry> exact;
        std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(exact),
                     [&](const Entry& entry) { return entry.name == name; });
        if (exact.size() != 1) {
            RefuseAmbiguous(name, candidates);
        }
        for (const Entry& entry : candidates) {
            if (entry.name == name) {
                return entry;
            }
        }
        return candidates.front();
    }

    struct Refusal {
        int code;
        std::wstring message;
    };

    bool StillThere(const Entry& entry, const std::function<bool(const Entry&)>& unchanged) {
        RefreshStore(false);
        return std::any_of(m_work.Entries().begin(), m_work.Entries().end(), [&](const Entry& now) {
            return now.code == entry.code && now.name == entry.name && unchanged(now);
        });
    }

    int Act(const Request& request) {
        const Naming naming = NamingOf(request);
        const std::wstring& name = naming.name;
        std::vector<Entry> found = naming.found;
        if (request.enabled) {
            found = InState(found, *request.enabled);
        }
        if (found.empty()) {
            m_streams.Error(naming.location
                                ? FormatMessageText(text::kCliNoSuchEntryThere, {name, LocationKey(*naming.location)})
                                : FormatMessageText(text::kCliNoSuchEntry, name));
            return kNoSuchEntry;
        }
        std::set<Location> locations;
        for (const Entry& entry : found) {
            locations.insert(LocationOf(entry.code));
        }
        try {
            if (locations.size() > 1) {
                RefuseAmbiguous(name, found);
            }
            if (request.command == L"disable") {
                return Disable(name, found, request.dryRun);
            }
            if (request.command == L"enable") {
                return Enable(name, found, request.dryRun, request.replace);
            }
            if (request.command == L"keep-off") {
                return KeepOff(name, found, !request.no);
            }
            if (request.command == L"settle") {
                return Settle(name, found, *request.keepStore);
            }
            return Delete(name, found, request.dryRun);
        } catch (const Refusal& refusal) {
            m_streams.Error(refusal.message);
            return refusal.code;
        }
    }

    static std::vector<Entry> InState(const std::vector<Entry>& entries, bool enabled) {
        std::vector<Entry> chosen;
        std::copy_if(entries.begin(), entries.end(), std::back_inserter(chosen),
                     [&](const Entry& entry) { return IsEnabledCode(entry.code) == enabled; });
        return chosen;
    }

    int Done(const wchar_t* pattern, const Entry& entry) {
        m_streams.Line(FormatMessageText(pattern, {entry.name, Where(entry)}));
        return kDone;
    }

    [[noreturn]] static void RefuseUnchanged(const Entry& entry) {
        // Only HKLM's places and the all-users Startup folder need administrator rights; saying so of another
        // place would send the user astray.
        const bool machine =
            RegistryRoot(EnabledCodeOf(entry.code)) == HKEY_LOCAL_MACHINE || LocationOf(entry.code) == Location::Common;
        throw Refusal{kRefused, FormatMessageText(machine ? text::kCliNotChanged : text::kCliNotChangedHere,
                                                  {entry.name, Where(entry)})};
    }

    // An entry of a place listed read-only (a policy or RunOnce key) is never changed here: refused with why.
    static void RefuseReadOnly(const Entry& entry) {
        if (IsReadOnlyCode(entry.code)) {
            throw Refusal{kRefused,
                          FormatMessageText(text::kReadOnlyPlaceRefused, {entry.name, ProblemText(entry.problem)})};
        }
    }

    int Disable(const std::wstring& name, const std::vector<Entry>& found, bool dryRun) {
        const std::vector<Entry> on = InState(found, true);
        if (on.empty()) {
            return Done(text::kCliAlreadyOff, OneOf(name, found));
        }
        const Entry& entry = OneOf(name, on);
        RefuseReadOnly(entry);
        if (entry.problem != EntryProblem::None) {
            throw Refusal{kRefused,
                          FormatMessageText(text::kEntryNotAvailable, {entry.name, ProblemText(entry.problem)})};
        }
        if (dryRun) {
            return Done(text::kCliWouldDisable, entry);
        }
        m_work.Disable(entry);
        if (StillThere(entry, [](const Entry&) { return true; })) {
            RefuseUnchanged(entry);
        }
        return Done(text::kCliDisabled, entry);
    }

    int Enable(const std::wstring& name, const std::vector<Entry>& found, bool dryRun, bool replace) {
        const std::vector<Entry> off = InState(found, false);
        if (off.empty()) {
            RefuseReadOnly(OneOf(name, found)); // it starts, and is not Bootwarden's to switch
            std::vector<Entry> kept;
            std::copy_if(found.begin(), found.end(), std::back_inserter(kept),
                         [](const Entry& entry) { return entry.switchedOffInWindows; });
            if (kept.empty()) {
                return Done(text::kCliAlreadyOn, OneOf(name, found));
            }
            // Listed as starting but kept from it by Windows' own switch: the flag goes, nothing else changes.
            const Entry& entry = OneOf(name, kept);
            if (dryRun) {
                return Done(text::kCliWouldAllow, entry);
            }
            m_work.AllowToStart(entry);
            if (StillThere(entry, [](const Entry& now) { return now.switchedOffInWindows; })) {
                RefuseUnchanged(entry);
            }
            return Done(text::kCliAllowed, entry);
        }
        const Entry& entry = OneOf(name, off);
        // Switching on never overwrites what starts now: a different entry of that name in its place (a program
        // that added itself again) is exchanged for it only when asked for with --replace.
        const std::optional<StartingTwin> twin = StartingTwinOf(entry);
        if (twin && !replace) {
            throw Refusal{kRefused, FormatMessageText(text::kCliWouldReplace,
                                                      {entry.name, Where(entry), twin->startsNow, twin->switchedOff})};
        }
        if (dryRun) {
            return Done(twin ? text::kCliWouldExchange : text::kCliWouldEnable, entry);
        }
        m_work.Enable(entry, nullptr, twin.has_value());
        if (twin) {
            // The two changed places: what was switched off starts now, and the other is kept under its name.
            Entry started = entry;
            started.code = EnabledCodeOf(entry.code);
            if (!StillThere(started, [&](const Entry& now) {
                    return !IsRegistryCode(entry.code) || now.description == entry.description;
                })) {
                RefuseUnchanged(entry);
            }
        } else if (StillThere(entry, [](const Entry&) { return true; })) {
            RefuseUnchanged(entry);
        }
        return Done(text::kCliEnabled, entry);
    }

    // Marks the switched-off entry to be kept off, or takes the mark away: only the store's file changes.
    int KeepOff(const std::wstring& name, const std::vector<Entry>& found, bool keep) {
        const std::vector<Entry> off = InState(found, false);
        if (off.empty()) {
            throw Refusal{kRefused, FormatMessageText(text::kKeepOffNotSwitchedOff, OneOf(name, found).name)};
        }
        const Entry& entry = OneOf(name, off);
        RefuseReadOnly(entry);
        try {
            m_work.KeepOff(entry, keep);
        } catch (const ERightsMissing& error) {
            throw Refusal{kRefused, ErrorText(error)};
        }
        return Done(keep ? text::kCliKeptOff : text::kCliNotKeptOff, entry);
    }

    int Delete(const std::wstring& name, const std::vector<Entry>& found, bool dryRun) {
        const Entry& entry = OneOf(name, found);
        RefuseReadOnly(entry);
        if (dryRun) {
            return Done(text::kCliWouldDelete, entry);
        }
        m_work.Delete(entry);
        if (StillThere(entry, [](const Entry&) { return true; })) {
            RefuseUnchanged(entry);
        }
        return Done(text::kCliDeleted, entry);
    }

    int Add(const Request& request) {
        const std::wstring program = FullPath(request.operands.front());
        if (!FileExists(program)) {
            m_streams.Error(FormatMessageText(text::kCliNoSuchFile, program));
            return kNoSuchEntry;
        }
        const std::wstring name = request.name ? *request.name : EntryNameForProgram(program);
        const int code = request.location ? InfoOf(*request.location).code : kStartUpCode;
        if (request.dryRun) {
            // The name the shortcut would get is refused here as it would be then.
            (void)StartupLinkPath(code, name);
            m_streams.Line(FormatMessageText(text::kCliWouldAdd, {name, LocationKeyOf(code), program}));
            return kDone;
        }
        const std::wstring shortcut = m_work.AddStartupShortcut(program, name, code);
        if (!FileExists(shortcut)) {
            m_streams.Error(FormatMessageText(text::kCliNotAdded, program));
            return kFailed;
        }
        RefreshStore(false);
        const std::wstring fileName = FileNamePart(shortcut);
        m_streams.Line(FormatMessageText(text::kCliAdded,
                                         {fileName.substr(0, fileName.size() - 4), LocationKeyOf(code), program}));
        return kDone;
    }

    // What the store folders and the system hold, enough to tell what a refresh changed.
    struct Snapshot {
        std::map<std::wstring, std::pair<int, std::wstring>> links; // by folded path: code and entry name
        std::map<std::wstring, std::string> linkBytes;
        std::map<std::wstring, std::string> system; // by code and folded name: what the entry holds
        std::map<std::wstring, std::pair<int, std::wstring>> systemNames;
    };

    static Snapshot Take() {
        Snapshot snapshot;
        TStoreReader store;
        (void)store.Read(AllCodes());
        for (const auto& link : store.Links()) {
            if (IsEnabledCode(link->code)) {
                const std::wstring key = FoldedName(link->path);
                snapshot.links[key] = {link->code, link->name};
                snapshot.linkBytes[key] = std::to_string(LinkBytesDigest(*link)) + "/" +
                                          std::to_string(link->bytesDropped ? link->bytesDropped->size : link->bytes.size());
            }
        }
        TSystemReader system;
        (void)system.Read();
        for (const RunKeyRead& key : system.Last().keys) {
            for (const RegistryValue& value : key.values) {
                const std::wstring id = std::to_wstring(key.code) + L"|" + FoldedName(value.name);
                snapshot.system[id] = std::to_string(value.type) + "|" + value.data;
                snapshot.systemNames[id] = {key.code, value.name};
            }
        }
        for (const StartupFolderRead& folder : system.Last().folders) {
            for (const StartupFile& file : folder.files) {
                const std::wstring id = std::to_wstring(folder.code) + L"|" + FoldedName(file.fileName);
                const FileStamp& stamp = file.stamp;
                snapshot.system[id] = std::to_string(stamp.written.dwHighDateTime) + ":" +
                                      std::to_string(stamp.written.dwLowDateTime) + ":" + std::to_string(stamp.size);
                snapshot.systemNames[id] = {folder.code, file.fileName.substr(0, file.fileName.size() - 4)};
            }
        }
        return snapshot;
    }

    int Refresh() {
        const Snapshot before = Take();
        RefreshStore(true);
        const Snapshot after = Take();
        bool changed = false;
        const auto say = [&](const wchar_t* pattern, const std::pair<int, std::wstring>& entry) {
            m_streams.Line(FormatMessageText(pattern, {entry.second, LocationKeyOf(entry.first)}));
            changed = true;
        };
        for (const auto& [id, bytes] : after.system) {
            const auto was = before.system.find(id);
            if (was != before.system.end() && was->second != bytes) {
                say(text::kCliWroteBack, after.systemNames.at(id));
            }
        }
        for (const auto& [path, entry] : after.links) {
            const auto was = before.linkBytes.find(path);
            if (was == before.linkBytes.end()) {
                say(text::kCliStored, entry);
            } else if (was->second != after.linkBytes.at(path)) {
                say(text::kCliRestored, entry);
            }
        }
        for (const auto& [path, entry] : before.links) {
            if (after.links.count(path) == 0) {
                say(text::kCliDropped, entry);
            }
        }
        if (!changed) {
            m_streams.Line(text::kCliNothingChanged);
        }
        return ReportLeftForYou() ? kNeedsYou : kDone;
    }

    TStreams& m_streams;
    TStoreDoor& m_door;
    TStoreDoor::TWork& m_work;
};

} // namespace

int RunCommandLine(const std::vector<std::wstring>& arguments, TStreams& streams) {
    try {
        const Request request = ParseRequest(arguments);
        if (request.help) {
            streams.Out(text::kCliUsage);
            return kDone;
        }
        if (request.version) {
            streams.Line(FormatMessageText(text::kCliVersion, WideOf(BOOTWARDEN_VERSION_TEXT)));
            return kDone;
        }
        // The same checks as the window's at its start; then the whole command, from the first read to the last
        // write, is one unit of work on the store (bwcli asks nothing). However it ends, a window open on the
        // store learns that this process worked on it.
        TStoreDoor door(HistoryActor::Cli);
        door.Open();
        const std::unique_ptr<TStoreDoor::TWork> work = door.BeginWork();
        TCommandRun run(streams, door, *work);
        return run.Run(request);
    } catch (const EStoreNotHere& error) {
        streams.Error(ErrorText(error));
        return kRefused;
    } catch (const EUsage& error) {
        streams.Error(ErrorText(error));
        return kRefused;
    } catch (const EEntryRefused& error) {
        streams.Error(ErrorText(error));
        return kRefused;
    } catch (const EBootwarden& error) {
        streams.Error(ErrorText(error));
        return kFailed;
    } catch (const std::exception& error) {
        streams.Error(WideOf(error.what()));
        return kFailed;
    }
}

} // namespace bw::cli
