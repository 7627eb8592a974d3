#include "store/SystemReader.h"

#include "store/Locations.h"
#include "store/StartupApproved.h"

#include <algorithm>

namespace bw {

std::vector<int> RunKeyCodes() {
    std::vector<int> codes;
    for (int code : AllCodes()) {
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

bool TSystemReader::Read() {
    RecomputeStartupDir();
    SystemRead read;
    read.startupDir = StartupDir();
    read.startupDirKnown = IsStartupDirKnown();
    bool changed = !m_hasRead || read.startupDir != m_last.startupDir || read.startupDirKnown != m_last.startupDirKnown;

    for (int code : RunKeyCodes()) {
        RunKeyRead key;
        key.code = code;
        key.opened = ReadKey(m_keys[code], RegistryRoot(code), kRunKeyPath, RegistryView(code), key.values, changed,
                             &key.refused);
        read.keys.push_back(std::move(key));
    }

    for (int code : AllCodes()) {
        const auto place = IsEnabledCode(code) ? ApprovalPlaceOf(code) : std::nullopt;
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

    const std::vector<int> codes = AllCodes();
    const bool startupStored =
        std::find(codes.begin(), codes.end(), kStartUpCode) != codes.end();
    // Where the Startup folder's store folder is a link, none of its shortcuts is listed or mirrored.
    if (read.startupDirKnown && startupStored) {
        const FILETIME readAt = SystemTimeNow();
        if (m_startupStepDir != read.startupDir) {
            m_startupStepDir = read.startupDir;
            m_startupStep = FileClockStep(read.startupDir);
        }
        const ULONGLONG step = m_startupStep;
        ForEachMatch(read.startupDir + L"\\*.lnk", [&](const WIN32_FIND_DATAW& found) {
            const std::wstring name = found.cFileName;
            // A search for "*.lnk" also matches longer extensions through short names; a folder starts nothing.
            if (!HasLinkExtension(name) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                return;
            }
            StartupFile file{name, StampOf(found), false};
            file.settled = !IsWithinClockStep(file.stamp.written, readAt, step);
            read.startupFiles.push_back(std::move(file));
        });
        std::sort(read.startupFiles.begin(), read.startupFiles.end(),
                  [](const StartupFile& a, const StartupFile& b) { return a.fileName < b.fileName; });
    }
    if (!changed) {
        const auto& before = m_last.startupFiles;
        const auto& now = read.startupFiles;
        changed = before.size() != now.size();
        for (size_t i = 0; !changed && i < now.size(); ++i) {
            changed = now[i].fileName != before[i].fileName || now[i].stamp != before[i].stamp || !now[i].settled ||
                      !before[i].settled;
        }
    }
    m_last = std::move(read);
    m_hasRead = true;
    return changed;
}

} // namespace bw
