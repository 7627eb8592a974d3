#include "app/ContextMenu.h"

#include "app/EntryOrder.h"
#include "resources/Texts.h"
#include "store/Locations.h"
#include "store/StoreDoor.h"

#include <algorithm>

namespace bw {

namespace {

// A box is set for an entry that starts: enabled, and not kept from starting by Windows' own switch.
bool Starts(const Entry& entry) {
    return IsEnabledCode(entry.code) && !entry.switchedOffInWindows;
}

} // namespace

bool MenuCommandApplies(UINT command, const std::vector<Entry>& selected, bool choiceWaiting) {
    const bool one = selected.size() == 1;
    switch (command) {
    case ChooseChangeCommand:
        return one && choiceWaiting;
    case SwitchOnCommand:
        return std::any_of(selected.begin(), selected.end(), [](const Entry& entry) { return !Starts(entry); });
    case SwitchOffCommand:
        return std::any_of(selected.begin(), selected.end(),
                           [](const Entry& entry) { return Starts(entry) && entry.problem == EntryProblem::None; });
    case PropertiesCommand:
        return one && !selected[0].storeLinkPath.empty();
    case DeleteCommand: // an entry of a place listed read-only is never deleted here
        return std::any_of(selected.begin(), selected.end(),
                           [](const Entry& entry) { return !IsReadOnlyCode(entry.code); });
    case CopyCommandLineCommand:
        return !selected.empty();
    case OpenFileLocationCommand:
        return one && selected[0].target.size() >= 2;
    case OpenInRegistryEditorCommand:
        return one && IsEnabledCode(selected[0].code);
    case KeepOffCommand:
        return one && !IsEnabledCode(selected[0].code) && !IsReadOnlyCode(selected[0].code);
    }
    return false;
}

UniqueMenu MakeEntryMenu(const std::vector<Entry>& selected, bool choiceWaiting) {
    UniqueMenu menu(::CreatePopupMenu());
    const auto add = [&](UINT command, const wchar_t* caption) {
        const UINT state = MenuCommandApplies(command, selected, choiceWaiting) ? MF_ENABLED : MF_GRAYED;
        ::AppendMenuW(menu.Get(), MF_STRING | state, command, caption);
    };
    if (choiceWaiting && selected.size() == 1) {
        add(ChooseChangeCommand, text::kMenuChoose); // first: it is what the row waits for
        ::AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
    }
    add(SwitchOnCommand, text::kMenuSwitchOn);
    add(SwitchOffCommand, text::kMenuSwitchOff);
    add(KeepOffCommand, text::kKeepOffCommand);
    if (selected.size() == 1 && !IsEnabledCode(selected[0].code) && IsKeptOff(selected[0].code, selected[0].name)) {
        ::CheckMenuItem(menu.Get(), KeepOffCommand, MF_BYCOMMAND | MF_CHECKED);
    }
    ::AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
    add(PropertiesCommand, text::kMenuProperties);
    add(DeleteCommand, text::kMenuDelete);
    ::AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
    add(OpenFileLocationCommand, text::kMenuOpenFileLocation);
    add(OpenInRegistryEditorCommand, text::kMenuOpenInRegistryEditor);
    add(CopyCommandLineCommand, text::kMenuCopyCommandLine);
    ::SetMenuDefaultItem(menu.Get(), PropertiesCommand, FALSE);
    return menu;
}

std::wstring RegistryEditorKeyOf(const Entry& entry) {
    if (!IsRegistryCode(entry.code) || !IsEnabledCode(entry.code)) {
        return {};
    }
    const wchar_t* root = RegistryRoot(entry.code) == HKEY_CURRENT_USER ? L"HKEY_CURRENT_USER" : L"HKEY_LOCAL_MACHINE";
    // A 32-bit view's key is where the Registry Editor shows it, under WOW6432Node.
    const std::wstring software = L"Software\\";
    const std::wstring keyPath = KeyPathOf(entry.code);
    const std::wstring path =
        InfoOfCode(entry.code).view32 ? software + L"WOW6432Node\\" + keyPath.substr(software.size()) : keyPath;
    return std::wstring(L"Computer\\") + root + L"\\" + path;
}

std::wstring CommandLinesOf(const std::vector<Entry>& entries) {
    std::wstring lines;
    for (const Entry& entry : entries) {
        lines += (lines.empty() ? L"" : L"\r\n") + CommandLineOf(entry);
    }
    return lines;
}

} // namespace bw
