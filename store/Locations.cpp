#include "store/Locations.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/FolderLink.h"
#include "platform/KnownFolders.h"
#include "platform/Registry.h"
#include "platform/Token.h"
#include "resources/Texts.h"
#include "store/Entry.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <map>
#include <set>

namespace bw {

const LocationInfo kLocations[11] = {
    {Location::Local, kLocalCode, kLocalOffCode, L"Run\\Local\\", L"NoRun\\Local\\", HKEY_LOCAL_MACHINE,
     KEY_WOW64_64KEY, text::kLocalLabel, kRunKeyPath, L"hklm", false, ReadOnlyCause::None},
    {Location::Local32, kLocal32Code, kLocal32OffCode, L"Run\\Local32\\", L"NoRun\\Local32\\", HKEY_LOCAL_MACHINE,
     KEY_WOW64_32KEY, text::kLocal32Label, kRunKeyPath, L"hklm32", true, ReadOnlyCause::None},
    // HKCU's keys are one key in both views.
    {Location::User, kUserCode, kUserOffCode, L"Run\\User\\", L"NoRun\\User\\", HKEY_CURRENT_USER, 0, text::kUserLabel,
     kRunKeyPath, L"hkcu", false, ReadOnlyCause::None},
    {Location::StartUp, kStartUpCode, kStartUpOffCode, L"Run\\StartUp\\", L"NoRun\\StartUp\\", nullptr, 0,
     text::kStartUpLabel, nullptr, L"startup", false, ReadOnlyCause::None},
    {Location::Common, kCommonCode, kCommonOffCode, L"Run\\Common\\", L"NoRun\\Common\\", nullptr, 0,
     text::kCommonLabel, nullptr, L"common", false, ReadOnlyCause::None},
    {Location::PolicyLocal, kPolicyLocalCode, 0, nullptr, nullptr, HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY,
     text::kPolicyLocalLabel, kPolicyRunKeyPath, L"policy-hklm", false, ReadOnlyCause::Policy},
    {Location::PolicyLocal32, kPolicyLocal32Code, 0, nullptr, nullptr, HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY,
     text::kPolicyLocal32Label, kPolicyRunKeyPath, L"policy-hklm32", true, ReadOnlyCause::Policy},
    {Location::PolicyUser, kPolicyUserCode, 0, nullptr, nullptr, HKEY_CURRENT_USER, 0, text::kPolicyUserLabel,
     kPolicyRunKeyPath, L"policy-hkcu", false, ReadOnlyCause::Policy},
    {Location::OnceLocal, kOnceLocalCode, 0, nullptr, nullptr, HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY,
     text::kOnceLocalLabel, kRunOnceKeyPath, L"runonce-hklm", false, ReadOnlyCause::RunOnce},
    {Location::OnceLocal32, kOnceLocal32Code, 0, nullptr, nullptr, HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY,
     text::kOnceLocal32Label, kRunOnceKeyPath, L"runonce-hklm32", true, ReadOnlyCause::RunOnce},
    {Location::OnceUser, kOnceUserCode, 0, nullptr, nullptr, HKEY_CURRENT_USER, 0, text::kOnceUserLabel,
     kRunOnceKeyPath, L"runonce-hkcu", false, ReadOnlyCause::RunOnce},
};

const LocationInfo& InfoOf(Location location) {
    for (const LocationInfo& info : kLocations) {
        if (info.location == location) {
            return info;
        }
    }
    throw EEntryRefused(L"Invalid location code");
}

namespace {
// The row whose enabled or disabled code is `code`, or null.
const LocationInfo* FindCode(int code) {
    for (const LocationInfo& info : kLocations) {
        if (info.code == code || (info.disabledCode != 0 && info.disabledCode == code)) {
            return &info;
        }
    }
    return nullptr;
}
} // namespace

const LocationInfo& InfoOfCode(int code) {
    if (const LocationInfo* info = FindCode(code)) {
        return *info;
    }
    throw EEntryRefused(L"Invalid location code");
}

bool IsEnabledCode(int code) {
    const LocationInfo* info = FindCode(code);
    return info != nullptr && info->code == code;
}

Location LocationOf(int code) {
    return InfoOfCode(code).location;
}

bool IsRegistryCode(int code) {
    const LocationInfo* info = FindCode(code);
    return info != nullptr && info->root != nullptr;
}

bool IsReadOnlyCode(int code) {
    return ReadOnlyCauseOf(code) != ReadOnlyCause::None;
}

ReadOnlyCause ReadOnlyCauseOf(int code) {
    const LocationInfo* info = FindCode(code);
    return info != nullptr ? info->readOnly : ReadOnlyCause::None;
}

void RequireChangeablePlace(int code, const std::wstring& name) {
    if (IsReadOnlyCode(code)) {
        throw EEntryRefused(
            FormatMessageText(text::kReadOnlyPlaceRefused, {name, ProblemText(ReadOnlyProblemOf(code, name))}));
    }
}

int DisabledCodeOf(int code) {
    RequireChangeablePlace(code, L""); // a place listed read-only has nowhere to keep an entry switched off
    return InfoOfCode(code).disabledCode;
}

int EnabledCodeOf(int code) {
    return InfoOfCode(code).code;
}

namespace {
std::wstring g_programDir;
bool g_separate32BitView = false;
bool g_locationsKnown = false;
std::wstring g_startupDir = L"c:";
bool g_startupDirKnown = false;
std::wstring g_commonStartupDir;
bool g_commonStartupDirKnown = false;
bool g_startupDirFromCopy = false; // taken from the "Shell Folders" copy
bool g_commonStartupDirFromCopy = false;
bool g_storeReadOnly = false;
// What a change is refused with while the store is read-only (%s: the entry's name).
const wchar_t* g_readOnlyRefusal = text::kStoreReadOnlyRefused;
std::optional<std::pair<std::wstring, std::wstring>> g_otherOwner; // while the store is another's: account, computer
std::wstring g_unreachableOwner; // while the owner's HKCU cannot be reached from this run: the owner, for people
// Where the run is elevated as another account: the owner's Startup folder (nothing: it cannot be told), in place
// of the shell's answer, which is the administrator's own.
std::optional<std::optional<std::wstring>> g_ownersStartupDir;
std::set<int> g_refusedCodes; // codes whose store folder (or its parent) leads where no entry is kept: left alone
// Store folders reached through a link, by code: the folder the link resolved to at the start of the run, ending in
// "\". A code not here is ProgramDir + its store folder, as named.
std::map<int, std::wstring> g_storeFolders;
std::wstring g_dataFolder; // the store's data folder, ending in "\" (as resolved, where it is a link)

// A file name holds at most 255 characters, and every store link ends in ".lnk".
constexpr size_t kLongestStoredName = 255 - 4;
constexpr wchar_t kEncodingMark = L'=';

// Characters that an encoded name writes as "%" and four hexadecimal digits: those no file name may hold, and
// the "%" itself.
bool NeedsEscape(wchar_t c) {
    return c < 0x20 || std::wcschr(L"\\/:*?\"<>|%", c) != nullptr;
}

// Half of a surrogate pair without its other half: no character, so a file system may refuse it or take it for
// another (one that keeps names in UTF-8 can only replace it).
bool IsLoneSurrogateAt(const std::wstring& name, size_t at) {
    const wchar_t c = name[at];
    if (c >= 0xD800 && c <= 0xDBFF) {
        return at + 1 >= name.size() || name[at + 1] < 0xDC00 || name[at + 1] > 0xDFFF;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) {
        return at == 0 || name[at - 1] < 0xD800 || name[at - 1] > 0xDBFF;
    }
    return false;
}

bool HasLoneSurrogate(const std::wstring& name) {
    for (size_t at = 0; at < name.size(); ++at) {
        if (IsLoneSurrogateAt(name, at)) {
            return true;
        }
    }
    return false;
}

std::wstring Escaped(const std::wstring& name) {
    std::wstring text;
    for (size_t at = 0; at < name.size(); ++at) {
        const wchar_t c = name[at];
        if (NeedsEscape(c) || IsLoneSurrogateAt(name, at)) {
            wchar_t escape[8];
            std::swprintf(escape, 8, L"%%%04X", static_cast<unsigned>(c));
            text += escape;
        } else {
            text += c;
        }
    }
    return text;
}

std::optional<std::wstring> Unescaped(const std::wstring& text) {
    std::wstring name;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%') {
            name += text[i];
            continue;
        }
        if (i + 4 >= text.size()) {
            return std::nullopt;
        }
        unsigned value = 0;
        for (size_t k = i + 1; k <= i + 4; ++k) {
            const wchar_t digit = text[k];
            value <<= 4;
            if (digit >= L'0' && digit <= L'9') {
                value |= digit - L'0';
            } else if (digit >= L'A' && digit <= L'F') {
                value |= digit - L'A' + 10;
            } else {
                return std::nullopt;
            }
        }
        name += static_cast<wchar_t>(value);
        i += 4;
    }
    return name;
}
} // namespace

namespace {
// True when the row is a location of this system: a 32-bit view's key only where that view is a key of its own.
bool IsPresent(const LocationInfo& info) {
    return !info.view32 || g_separate32BitView;
}
} // namespace

std::vector<int> AllCodes() {
    if (!g_locationsKnown) {
        RecomputeLocations();
    }
    // The enabled folders, then the disabled ones, each in the table's order.
    std::vector<int> codes;
    for (const bool enabled : {true, false}) {
        for (const LocationInfo& info : kLocations) {
            if (info.storeFolder != nullptr && IsPresent(info)) {
                codes.push_back(enabled ? info.code : info.disabledCode);
            }
        }
    }
    if (!g_refusedCodes.empty()) {
        // A store folder that leads where no entry is kept is neither read nor written: for the rest of the program
        // it is not there.
        codes.erase(std::remove_if(codes.begin(), codes.end(), [](int code) { return g_refusedCodes.count(code); }),
                    codes.end());
    }
    return codes;
}

std::vector<int> ListedCodes() {
    std::vector<int> codes = AllCodes();
    const auto firstDisabled = std::find_if(codes.begin(), codes.end(), [](int code) { return !IsEnabledCode(code); });
    std::vector<int> readOnly;
    for (const LocationInfo& info : kLocations) {
        if (info.readOnly != ReadOnlyCause::None && IsPresent(info)) {
            readOnly.push_back(info.code);
        }
    }
    codes.insert(firstDisabled, readOnly.begin(), readOnly.end());
    return codes;
}

int ListRankOf(int code) {
    const LocationInfo* info = FindCode(code);
    if (info == nullptr) {
        return 0;
    }
    const int place = static_cast<int>(info - kLocations) + 1;
    return info->code == code ? place : place + static_cast<int>(std::size(kLocations));
}

void RecomputeLocations() {
    // The views are two keys where opening one path in each gives two keys of different names. On a 32-bit
    // system, and in a registry whose HKLM is a key elsewhere, both give one key. Read access is all it takes,
    // and all that Windows grants a standard user there.
    const auto nameIn = [](REGSAM view) {
        TRegistry registry;
        registry.SelectRoot(HKEY_LOCAL_MACHINE);
        return registry.OpenExistingKey(L"Software\\Microsoft\\Windows\\CurrentVersion", view) ? registry.KeyName()
                                                                                               : std::wstring();
    };
    const std::wstring native = nameIn(KEY_WOW64_64KEY);
    const std::wstring view32 = nameIn(KEY_WOW64_32KEY);
    g_separate32BitView = !native.empty() && !view32.empty() && !SameFileName(native, view32);
    g_locationsKnown = true;
}

bool HasSeparate32BitView() {
    if (!g_locationsKnown) {
        RecomputeLocations();
    }
    return g_separate32BitView;
}

const wchar_t* StoreFolder(int code) {
    const LocationInfo& info = InfoOfCode(code);
    if (info.storeFolder == nullptr) {
        RequireChangeablePlace(code, L""); // nothing of a place listed read-only is kept in the store
    }
    return info.code == code ? info.storeFolder : info.disabledStoreFolder;
}

const wchar_t* LocationLabel(int code) {
    return InfoOfCode(code).label;
}

std::wstring PlainLocationLabel(int code) {
    const std::wstring label = LocationLabel(code);
    const std::wstring lead = L" - ";
    return label.compare(0, lead.size(), lead) == 0 ? label.substr(lead.size()) : label;
}

HKEY RegistryRoot(int code) {
    return InfoOfCode(code).root;
}

REGSAM RegistryView(int code) {
    return InfoOfCode(code).view;
}

const wchar_t* KeyPathOf(int code) {
    return InfoOfCode(code).keyPath;
}

bool IsFolderCode(int code) {
    const LocationInfo* info = FindCode(code);
    return info != nullptr && info->root == nullptr;
}

std::wstring LocationText(int code) {
    return std::to_wstring(code) + LocationLabel(code); // the label raises for a code that is none
}

const std::wstring& ProgramDir() {
    return g_programDir;
}

void SetProgramDir(const std::wstring& folder) {
    g_storeReadOnly = false;
    g_readOnlyRefusal = text::kStoreReadOnlyRefused;
    g_otherOwner.reset();
    g_unreachableOwner.clear();
    g_ownersStartupDir.reset();
    g_refusedCodes.clear();
    g_storeFolders.clear();
    g_programDir = folder;
    if (!g_programDir.empty() && g_programDir.back() != L'\\') {
        g_programDir += L'\\';
    }
    g_dataFolder = g_programDir + kDataFolderName + L'\\';
}

std::wstring ProgramDirOf(const std::wstring& executablePath) {
    return FolderPart(executablePath);
}

const std::wstring& StartupDir() {
    return g_startupDir;
}

bool IsStartupDirKnown() {
    return g_startupDirKnown;
}

namespace {
// A Startup folder as it is named now: the folder, whether it is known, and whether "Shell Folders" named it.
struct NamedFolder {
    std::wstring folder;
    bool known = false;
    bool fromCopy = false;
};

NamedFolder CommonStartupNamedNow() {
    // As for the user's folder: the shell's answer, else the copy that "Shell Folders" keeps for old programs.
    if (const auto shell = ShellCommonStartupFolder()) {
        return {*shell, true, false};
    }
    NamedFolder named{L"", false, true};
    TRegistry registry;
    registry.SelectRoot(HKEY_LOCAL_MACHINE);
    if (registry.OpenExistingKey(kShellFoldersKeyPath)) {
        named.folder = registry.ReadText(kCommonStartupValueName);
    }
    named.known = !named.folder.empty();
    return named;
}

NamedFolder UserStartupNamedNow() {
    if (g_ownersStartupDir) {
        return {g_ownersStartupDir->value_or(L"c:"), g_ownersStartupDir->has_value(), false};
    }
    // The shell's answer follows folder redirection; the "Shell Folders" value is a copy kept for old programs,
    // stale or missing once the folder moved, and is read only where the shell cannot tell.
    if (const auto shell = ShellStartupFolder()) {
        return {*shell, true, false};
    }
    NamedFolder named{L"c:", false, true};
    TRegistry registry;
    registry.SelectRoot(HKEY_CURRENT_USER);
    if (registry.OpenExistingKey(kShellFoldersKeyPath)) {
        named.folder = registry.ReadText(kStartupValueName);
        named.known = !named.folder.empty();
    }
    return named;
}
} // namespace

void RecomputeStartupDir() {
    const NamedFolder common = CommonStartupNamedNow();
    g_commonStartupDir = common.folder;
    g_commonStartupDirKnown = common.known;
    g_commonStartupDirFromCopy = common.fromCopy;
    const NamedFolder user = UserStartupNamedNow();
    g_startupDir = user.folder;
    g_startupDirKnown = user.known;
    g_startupDirFromCopy = user.fromCopy;
}

std::vector<std::wstring> StartupDirsNamedNow() {
    std::vector<std::wstring> folders;
    try {
        for (const NamedFolder& named : {UserStartupNamedNow(), CommonStartupNamedNow()}) {
            if (named.known) {
                folders.push_back(named.folder);
            }
        }
    } catch (const EBootwarden&) {
        // a value of another type: the import that reads it tells
    }
    return folders;
}

bool StartupDirFromShellFolders(bool common) {
    return common ? g_commonStartupDirFromCopy : g_startupDirFromCopy;
}

const std::wstring& CommonStartupDir() {
    return g_commonStartupDir;
}

bool IsCommonStartupDirKnown() {
    return g_commonStartupDirKnown;
}

const std::wstring& StartupDirOf(int code) {
    return LocationOf(code) == Location::Common ? g_commonStartupDir : g_startupDir;
}

bool IsStartupDirKnownOf(int code) {
    return LocationOf(code) == Location::Common ? g_commonStartupDirKnown : g_startupDirKnown;
}

void RequireRightsToChangeFolder(int code, const std::wstring& name) {
    if (!IsFolderCode(code) || LocationOf(code) != Location::Common) {
        return;
    }
    // Windows lets only administrators change the folder of all users; where the program runs without an
    // administrator's token the folder itself answers (its rights may have been widened).
    if (!RunsAsAdministrator() && (!g_commonStartupDirKnown || !CanWriteIn(g_commonStartupDir))) {
        throw ERightsMissing(FormatMessageText(text::kNeedsAdministrator, name));
    }
}

bool IsSafeEntryName(const std::wstring& name) {
    if (name == L"." || name == L"..") {
        return false;
    }
    for (wchar_t c : name) {
        if (c < 0x20 || std::wcschr(L"\\/:*?\"<>|", c) != nullptr) {
            return false;
        }
    }
    // Device names stay devices whatever extension follows them ("CON.lnk", "nul.x.lnk").
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') {
        stem.pop_back();
    }
    for (auto& c : stem) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices) {
        if (stem == device) {
            return false;
        }
    }
    if (stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0)) {
        const wchar_t last = stem[3];
        if ((last >= L'0' && last <= L'9') || last == L'\u00B9' || last == L'\u00B2' || last == L'\u00B3') {
            return false;
        }
    }
    return true;
}

std::optional<std::wstring> StoredNameOf(const std::wstring& entryName) {
    std::wstring stored = entryName;
    // A name that begins with the mark is encoded as well, so that every encoded name reads back one way.
    if (!IsSafeEntryName(entryName) || (!entryName.empty() && entryName[0] == kEncodingMark) ||
        HasLoneSurrogate(entryName)) {
        stored = kEncodingMark + Escaped(entryName);
    }
    if (stored.size() > kLongestStoredName) {
        return std::nullopt;
    }
    return stored;
}

std::wstring EntryNameOf(const std::wstring& storedName) {
    if (storedName.empty() || storedName[0] != kEncodingMark) {
        return storedName;
    }
    // Only the very encoding of a name is read as one: a store link written before, whose name happens to
    // begin with the mark, keeps standing for the name it spells.
    const auto name = Unescaped(storedName.substr(1));
    if (name && StoredNameOf(*name) == storedName) {
        return *name;
    }
    return storedName;
}

bool HasLinkExtension(const std::wstring& fileName) {
    const size_t length = std::wcslen(kLinkExtension);
    return fileName.size() >= length && SameFileName(fileName.substr(fileName.size() - length), kLinkExtension);
}

namespace {

// The first folder of a store folder's path ("Run" of "Run\\Local\\"), and what follows it ("Local").
std::pair<std::wstring, std::wstring> TopAndRest(const wchar_t* storeFolder) {
    const std::wstring folder = storeFolder;
    const size_t separator = folder.find(L'\\');
    return {folder.substr(0, separator), folder.substr(separator + 1, folder.size() - separator - 2)};
}

// The folders of the store that PrepareStore makes where they are missing: the parents of the store folders and the
// data folder.
const wchar_t* const kTopFolders[] = {L"Run", L"NoRun", kDataFolderName};

} // namespace

void CreateStoreFolders() {
    RecomputeLocations(); // at the start of a run: which folders this system has
    std::wstring failed;
    const auto create = [&](const std::wstring& folder) {
        if (!DirectoryExists(folder) && !::CreateDirectoryW(folder.c_str(), nullptr) && !DirectoryExists(folder) &&
            failed.empty()) {
            failed = folder;
        }
    };
    for (const wchar_t* top : kTopFolders) {
        const std::wstring folder = ProgramDir() + top;
        if (FollowFolderLink(folder).kind == FolderLink::Own) {
            create(folder); // one that is a link is there (or refused)
        }
    }
    for (int code : AllCodes()) { // without the folders refused
        create(StoreFolderPath(code));
    }
    if (!failed.empty()) {
        throw EFCreateError(FormatMessageText(text::kCannotCreateFolder, failed));
    }
}

namespace {

// One folder of the store as its name leads at the start of the run.
struct StorePlace {
    std::wstring named;  // where the program names it, without a last "\\"
    std::wstring path;   // where it leads, without a last "\\": the name itself unless a link is on the way
    bool linked = false; // it, or the folder it lies in, is a link that was followed
    int top = -1;        // for a store folder: the index of its parent's place
    const wchar_t* refusal = nullptr; // why it is refused; null when it is used
};

const wchar_t* RefusalOf(const FolderLink& link) {
    return link.kind == FolderLink::Unfollowed   ? text::kFolderLinkNotFollowed
           : link.kind == FolderLink::Unresolved ? text::kFolderLinkUnresolved
                                                 : nullptr;
}

// Where `named` leads: through its own link, or as named (inside a folder that a link reached already).
StorePlace PlaceOf(const std::wstring& named, const std::wstring& within, bool parentLinked) {
    StorePlace place;
    place.named = named;
    place.path = within;
    place.linked = parentLinked;
    const FolderLink link = FollowFolderLink(within);
    place.refusal = RefusalOf(link);
    if (link.kind == FolderLink::Followed) {
        place.path = link.target;
        place.linked = true;
    }
    return place;
}

// The folders where no store folder may lead: the Startup folders (a store link there would start, and the import
// would mirror the store into itself) and the temporary folder (cleaned by Windows), each by its name and by its
// final path.
std::vector<std::wstring> ForbiddenFolders() {
    std::vector<std::wstring> folders;
    const auto add = [&](const std::optional<std::wstring>& folder) {
        if (!folder || folder->empty()) {
            return;
        }
        folders.push_back(*folder);
        const FolderLink link = FollowFolderLink(*folder);
        if (link.kind == FolderLink::Followed) {
            folders.push_back(link.target);
        }
        if (const auto real = seam::FinalPath(*folder, true, VOLUME_NAME_DOS)) {
            folders.push_back(*real);
        }
    };
    try {
        RecomputeStartupDir();
    } catch (const EBootwarden&) {
        // a "Startup" value of another type: the shell's answer below still counts
    }
    if (IsStartupDirKnown()) {
        add(StartupDir());
    }
    if (IsCommonStartupDirKnown()) {
        add(CommonStartupDir());
    }
    add(ShellStartupFolder());
    add(ShellCommonStartupFolder());
    add(TemporaryFolder());
    return folders;
}

// Refuses every place reached through a link that leads into a forbidden folder, holds one, or meets another place
// of the store (two store folders in one folder would empty each other).
void RefuseDangerousPlaces(std::vector<StorePlace>& places) {
    const std::vector<std::wstring> forbidden = ForbiddenFolders();
    for (StorePlace& place : places) {
        if (!place.linked || place.refusal != nullptr) {
            continue;
        }
        for (const std::wstring& folder : forbidden) {
            if (FoldersOverlap(place.path, folder)) {
                place.refusal = text::kFolderLinkIntoSystem;
            }
        }
    }
    for (size_t i = 0; i < places.size(); ++i) {
        for (size_t j = i + 1; j < places.size(); ++j) {
            StorePlace& a = places[i];
            StorePlace& b = places[j];
            const bool family = a.top == static_cast<int>(j) || b.top == static_cast<int>(i);
            if (family || (!a.linked && !b.linked) || !FoldersOverlap(a.path, b.path)) {
                continue;
            }
            for (StorePlace* place : {&a, &b}) {
                if (place->linked && place->refusal == nullptr) {
                    place->refusal = text::kFolderLinkIntoStore;
                }
            }
        }
    }
}

} // namespace

StoreStart PrepareStore() {
    RecomputeLocations(); // at the start of a run: which folders this system has
    StoreStart start;
    g_storeReadOnly = false;
    g_readOnlyRefusal = text::kStoreReadOnlyRefused;
    g_otherOwner.reset();
    g_unreachableOwner.clear();
    g_refusedCodes.clear();
    g_storeFolders.clear();
    g_dataFolder = ProgramDir() + kDataFolderName + L'\\';
    // Explorer runs a program opened inside a zip file from a folder below the user's temporary folder, which
    // is cleaned sooner or later: a store there would lose every entry switched off.
    const std::wstring temporary = TemporaryFolder();
    if (!temporary.empty() && IsInFolder(LongPathOf(ProgramDir()), temporary)) {
        start.kind = StoreStart::Temporary;
        return start;
    }
    // Each folder of the store is resolved once, here, before anything is made: an installer may have made it a
    // junction or a symbolic link to a folder that outlives the program's own (Scoop's persist folder). From here
    // on the store works in the folder it leads to, whatever becomes of the link; the program itself is still named
    // by ProgramDir, the path it was started from.
    std::vector<StorePlace> places;
    for (const wchar_t* top : kTopFolders) {
        places.push_back(PlaceOf(ProgramDir() + top, ProgramDir() + top, false));
    }
    const std::vector<int> codes = AllCodes();
    std::map<int, size_t> placeOfCode;
    for (int code : codes) {
        const auto [top, rest] = TopAndRest(StoreFolder(code));
        const size_t parent = top == L"Run" ? 0 : 1;
        const StorePlace& above = places[parent];
        StorePlace place = PlaceOf(above.named + L"\\" + rest, above.path + L"\\" + rest, above.linked);
        place.top = static_cast<int>(parent);
        placeOfCode[code] = places.size();
        places.push_back(std::move(place));
    }
    RefuseDangerousPlaces(places);
    for (size_t at = 0; at < std::size(kTopFolders); ++at) {
        if (places[at].refusal != nullptr) {
            start.refusedFolders.push_back({places[at].named, places[at].refusal});
        }
    }
    for (int code : codes) {
        const StorePlace& place = places[placeOfCode[code]];
        const StorePlace& above = places[static_cast<size_t>(place.top)];
        if (above.refusal != nullptr) {
            g_refusedCodes.insert(code); // named once, by its parent
        } else if (place.refusal != nullptr) {
            g_refusedCodes.insert(code);
            start.refusedFolders.push_back({place.named, place.refusal});
        } else if (place.linked) {
            g_storeFolders[code] = place.path + L"\\";
        }
    }
    const StorePlace& data = places[2];
    if (data.linked && data.refusal == nullptr) {
        g_dataFolder = data.path + L"\\";
    }
    // Asked of the folder itself: Program Files refuses a standard user, and a half-made store is worse than none.
    if (!CanWriteIn(ProgramDir())) {
        start.kind = StoreStart::ReadOnly;
        g_storeReadOnly = true;
        return start;
    }
    CreateStoreFolders();
    if (data.refusal != nullptr) {
        // Without its data folder the store could keep no bases, records or owner: it only lists.
        MakeStoreReadOnly(text::kDataFolderRefusedRefused);
    }
    return start;
}

bool IsStoreReadOnly() {
    return g_storeReadOnly || g_otherOwner.has_value();
}

bool IsUnreachablePlace(int code) {
    if (g_unreachableOwner.empty()) {
        return false;
    }
    const LocationInfo* info = FindCode(code);
    return info != nullptr && (info->root == HKEY_CURRENT_USER || info->location == Location::StartUp);
}

void RequireReachablePlace(int code, const std::wstring& name) {
    if (IsUnreachablePlace(code)) {
        throw EEntryRefused(FormatMessageText(text::kOwnersPlacesRefused, {name, g_unreachableOwner}));
    }
}

void SetOwnersPlacesUnreachable(const std::wstring& owner) {
    g_unreachableOwner = owner;
}

void SetOwnersStartupDir(const std::optional<std::optional<std::wstring>>& folder) {
    g_ownersStartupDir = folder;
    RecomputeStartupDir();
}

void SetStoreOfAnother(const std::optional<std::pair<std::wstring, std::wstring>>& owner) {
    g_otherOwner = owner;
}

void MakeStoreReadOnly(const wchar_t* refusal) {
    g_storeReadOnly = true;
    g_readOnlyRefusal = refusal;
}

void RequireChangeableStore(const std::wstring& name) {
    if (g_storeReadOnly) {
        throw EEntryRefused(FormatMessageText(g_readOnlyRefusal, name));
    }
    if (g_otherOwner) {
        throw EEntryRefused(
            FormatMessageText(text::kStoreOfAnotherRefused, {name, g_otherOwner->first, g_otherOwner->second}));
    }
}

std::wstring StoreFolderPath(int code) {
    const auto resolved = g_storeFolders.find(code);
    return resolved != g_storeFolders.end() ? resolved->second : ProgramDir() + StoreFolder(code);
}

const std::wstring& StoreDataFolder() {
    return g_dataFolder;
}

std::wstring StoreDataFile(const wchar_t* name) {
    // A file of a store made before the data folder was, not yet moved into it, is used where it is until it is.
    const std::wstring moved = g_dataFolder + name;
    const std::wstring old = ProgramDir() + name;
    return !PathExists(moved) && FileExists(old) ? old : moved;
}

bool StorePathFits(const std::wstring& path) {
    return path.size() <= LongestPathAccepted();
}

std::wstring StoreLinkPath(int code, const std::wstring& name) {
    const auto stored = StoredNameOf(name);
    if (!stored) {
        throw EEntryRefused(FormatMessageText(text::kNameRefused, name));
    }
    (void)InfoOfCode(code); // a code that is none is refused before any path is made of it
    if (g_refusedCodes.count(code)) {
        throw EEntryRefused(FormatMessageText(text::kStoreFolderIsLink, {ProgramDir() + StoreFolder(code), name}));
    }
    const std::wstring path = StoreFolderPath(code) + *stored + kLinkExtension;
    if (!StorePathFits(path)) {
        throw EEntryRefused(FormatMessageText(text::kEntryNotAvailable, {name, text::kStorePathTooLong}));
    }
    return path;
}

std::wstring StartupLinkPath(const std::wstring& name) {
    return StartupLinkPath(kStartUpCode, name);
}

std::wstring StartupLinkPath(int code, const std::wstring& name) {
    if (!IsSafeEntryName(name)) {
        throw EEntryRefused(FormatMessageText(text::kNameRefused, name));
    }
    return StartupDirOf(code) + L"\\" + name + kLinkExtension;
}

} // namespace bw
