#pragma once

#include "platform/UniqueHandle.h"
#include "store/Entry.h"

#include <windows.h>

#include <string>
#include <vector>

namespace bw {

namespace detail {
inline void CloseMenu(HMENU menu) {
    ::DestroyMenu(menu);
}
} // namespace detail
using UniqueMenu = UniqueHandle<HMENU, detail::CloseMenu>;

// The commands of the entry list's context menu, as the menu returns them.
enum MenuCommand : UINT {
    SwitchOnCommand = 301,
    SwitchOffCommand,
    PropertiesCommand,
    DeleteCommand,
    OpenFileLocationCommand,
    OpenInRegistryEditorCommand,
    CopyCommandLineCommand,
    ChooseChangeCommand, // an entry changed on both sides: which change to keep
    KeepOffCommand,      // one switched-off entry: keep it switched off (checked while it is)
};

// The context menu for the selected entries: each command greyed where it has nothing to act on (Switch on when
// every entry starts already, Properties, Open file location and Open in Registry Editor for more than one entry
// or one without what they open). Properties, the double click's command, is the default. `choiceWaiting`: the one
// entry selected was changed on both sides and waits for the user's choice, which the menu offers first.
UniqueMenu MakeEntryMenu(const std::vector<Entry>& selected, bool choiceWaiting = false);

// True when the command would act on `selected`: what MakeEntryMenu greys or not.
bool MenuCommandApplies(UINT command, const std::vector<Entry>& selected, bool choiceWaiting = false);

// The key of a registry entry's Run value as the Registry Editor names it ("Computer\HKEY_CURRENT_USER\...\Run");
// "" for an entry that is no value in a Run key (a Startup shortcut, or an entry switched off into the store).
std::wstring RegistryEditorKeyOf(const Entry& entry);

// The command lines of the entries, one a line.
std::wstring CommandLinesOf(const std::vector<Entry>& entries);

} // namespace bw
