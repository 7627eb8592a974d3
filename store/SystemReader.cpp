#include "store/SystemReader.h"

#include "store/Locations.h"
#include "store/StartupApproved.h"

#include <algorithm>

namespace bw {

std::vector<int> RunKeyCodes() {
    std::vector<int> codes;
    for (int code : ListedCodes()) {
        if (IsEnabledCode(code) && IsRegistryCode(code)) {
            codes.push_back(code);
        }
    }
    return codes;
}

bool TSystemReader::ReadKey(KeyMemo& memo, HKEY root, const std::wstring& path, REGSAM view,
                            std::vector<RegistryValue>& values, bool& changed, bool* refused) {
    TRegistry registry;
    registry.SelectRoot(root);
    if (!registry.OpenExistingKey(path, view)) {
        if (refused != nullptr) {
            *refused = registry.Refused();
        }
        changed = changed || memo.opened;
        memo = KeyMemo{};
        return false;
    }
    const FILETIME readAt = SystemTimeNow();
    const auto stamp = registry.Stamp();
    const bool unchanged = memo.opened && stamp && *stamp == memo.stamp &&
                           !IsWithinClockStep(memo.stamp.written, memo.readAt, kRegistryClockStep);
    if (unchanged) {
        values = memo.values;
        return true;
    }
    values = registry.ListValues();
    changed = changed || !memo.opened || values != memo.values;
    // Read so soon after its last change that the next read enumerates it again.
    memo = KeyMemo{true, stamp.value_or(KeyStamp{}), readAt, values};
    return true;
}

namespace {

// True when the 32-bit view of a key that a place names is the very key of the native view (WOW64 shares some
// keys between the views, and a system without a 32-bit view has one key): its entries are listed once, under
// the native view's place. False where the 32-bit view's key does not open at all.
bool SharedWithNativeView(int code) {
    const LocationInfo& info = InfoOfCode(code);
    if (!info.view32 || info.readOnly == ReadOnlyCause::None) {
        return false; // the 32-bit view of the Run key is told once at the start (RecomputeLocations)
    }
    TRegistry view32;
    view32.SelectRoot(info.root);
    if (!view32.OpenExistingKey(info.keyPath, KEY_WOW64_32KEY)) {
        return false;
    }
    TRegistry native;
    native.SelectRoot(info.root);
    return !native.OpenExistingKey(info.keyPath, KEY_WOW64_64KEY) || view32.KeyName().empty() ||
           SameFileName(view32.KeyName(), native.KeyName());
}

} // namespace

void TSystemReader::ReadFolder(StartupFolderRead& folder, bool& changed) {
    const FILETIME readAt = SystemTimeNow();
    auto step = m_clockSteps.find(folder.dir);
    if (step == m_clockSteps.end()) {
        step = m_clockSteps.emplace(folder.dir, FileClockStep(folder.dir)).first;
    }
    ForEachMatch(folder.dir + L"\\*.lnk", [&](const WIN32_FIND_DATAW& found) {
        const std::wstring name = found.cFileName;
        // A search for "*.lnk" also matches longer extensions through short names; a folder starts nothing.
        if (!HasLinkExtension(name) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return;
        }
        StartupFile file{name, StampOf(found), false};
        file.settled = !IsWithinClockStep(file.stamp.written, readAt, step->second);
        folder.files.push_back(std::move(file));
    });
    std::sort(folder.files.begin(), folder.files.end(),
              [](const StartupFile& a, const StartupFile& b) { return a.fileName < b.fileName; });
    if (changed) {
        return;
    }
    const auto before = std::find_if(m_last.folders.begin(), m_last.folders.end(),
                                     [&](const StartupFolderRead& last) { return last.code == folder.code; });
    if (before == m_last.folders.end() || before->dir != folder.dir || before->known != folder.known) {
        changed = true;
        return;
    }
    const auto& was = before->files;
    const auto& now = folder.files;
    changed = was.size() != now.size();
    for (size_t i = 0; !changed && i < now.size(); ++i) {
        changed =
            now[i].fileName != was[i].fileName || now[i].stamp != was[i].stamp || !now[i].settled || !was[i].settled;
    }
}

bool TSystemReader::Read() {
    RecomputeStartupDir();
    SystemRead read;
    read.startupDir = StartupDir();
    read.startupDirKnown = IsStartupDirKnown();
    bool changed = !m_hasRead || read.startupDir != m_last.startupDir || read.startupDirKnown != m_last.startupDirKnown;

    for (int code : RunKeyCodes()) {
        RunKeyRead key;
        key.code = code;
        if (IsUnreachablePlace(code)) {
            // The owner's key cannot be reached from this run, and HKCU is another account's: nothing is read, and
            // the key says nothing of its entries, as one the user may not read.
            changed = changed || m_keys[code].opened;
            m_keys[code] = KeyMemo{};
            key.refused = true;
        } else if (SharedWithNativeView(code)) {
            changed = changed || m_keys[code].opened;
            m_keys[code] = KeyMemo{};
        } else {
            key.opened = ReadKey(m_keys[code], RegistryRoot(code), KeyPathOf(code), RegistryView(code), key.values,
                                 changed, &key.refused);
        }
        read.keys.push_back(std::move(key));
    }

    for (int code : AllCodes()) {
        const auto place = IsEnabledCode(code) && !IsUnreachablePlace(code) ? ApprovalPlaceOf(code) : std::nullopt;
        if (!place) {
            continue;
        }
        const std::wstring path = std::wstring(kStartupApprovedPath) + place->subkey;
        KeyMemo& memo = m_flagKeys[(place->root == HKEY_LOCAL_MACHINE ? L"HKLM\\" : L"HKCU\\") + path];
        std::vector<RegistryValue> flags;
        if (ReadKey(memo, place->root, path, 0, flags, changed)) {
            auto& off = read.switchedOff[code];
            for (const RegistryValue& flag : flags) {
                if (KeepsFromStarting(flag)) {
                    off.insert(FoldedName(flag.name));
                }
            }
        }
    }

    // Where a Startup folder's store folder is a link, none of its shortcuts is listed or mirrored.
    for (int code : AllCodes()) {
        if (!IsEnabledCode(code) || !IsFolderCode(code)) {
            continue;
        }
        StartupFolderRead folder;
        folder.code = code;
        folder.dir = StartupDirOf(code);
        folder.known = IsStartupDirKnownOf(code) && !IsUnreachablePlace(code);
        folder.refused = IsUnreachablePlace(code);
        if (folder.known) {
            ReadFolder(folder, changed);
        } else {
            const auto before = std::find_if(m_last.folders.begin(), m_last.folders.end(),
                                             [&](const StartupFolderRead& last) { return last.code == code; });
            changed = changed || before == m_last.folders.end() || before->known;
        }
        read.folders.push_back(std::move(folder));
    }
    changed = changed || read.folders.size() != m_last.folders.size();
    m_last = std::move(read);
    m_hasRead = true;
    return changed;
}

} // namespace bw
