#pragma once

// Every text that Bootwarden shows: captions, hints, column titles, labels, questions and messages. A "%s"
// stands for a name or a path; FormatMessageText puts them in, in order.

namespace bw::text {

// The main window.
inline constexpr const wchar_t* kCaption = L"Bootwarden";
inline constexpr const wchar_t* kNameColumn = L"Name";
inline constexpr const wchar_t* kTargetColumn = L"Target";
inline constexpr const wchar_t* kLocationColumn = L"Found in...";
inline constexpr const wchar_t* kNotFound = L"Not Found";

// Tool bar hints.
inline constexpr const wchar_t* kPropButtonHint = L"View Properties";
inline constexpr const wchar_t* kRefreshButtonHint = L"Refresh";
inline constexpr const wchar_t* kAddButtonHint = L"Add new shortcut";
inline constexpr const wchar_t* kDeleteButtonHint = L"Delete shortcut";
inline constexpr const wchar_t* kHelpButtonHint = L"Help";
inline constexpr const wchar_t* kRestartButtonHint = L"Restart as administrator";

// The caption when the program runs as another account than the one that owns the desktop.
inline constexpr const wchar_t* kCaptionOfAccount = L"Bootwarden - entries of %s";

// Location labels; each begins with a blank and follows the code's digit in the "Found in..." column.
inline constexpr const wchar_t* kLocalLabel = L" - Registry (HKLM)";
inline constexpr const wchar_t* kUserLabel = L" - Registry (HKCU)";
inline constexpr const wchar_t* kStartUpLabel = L" - Startup Folder";
inline constexpr const wchar_t* kLocal32Label = L" - Registry (HKLM 32-bit)";

// Dialogs.
inline constexpr const wchar_t* kConfirmCaption = L"Confirm";
inline constexpr const wchar_t* kYes = L"&Yes";
inline constexpr const wchar_t* kNo = L"&No";
inline constexpr const wchar_t* kDeleteQuestion = L"Are you sure you want to delete \"%s\"";
inline constexpr const wchar_t* kBrowseTitle = L"Browse";
inline constexpr const wchar_t* kBrowseFolder = L"c:\\";
// Pairs of a filter's name and its patterns, separated by zeros and ended by two.
inline constexpr wchar_t kBrowseFilter[] = L"Programs\0*.com;*.exe;*.bat;*.lnk\0All files\0*.*\0";

// The status bar while a long import runs; the first "%s" is the count done, the second the whole count.
inline constexpr const wchar_t* kImportProgress = L"Copying the start-up entries into the store: %s of %s";

// Errors of the platform layer.
inline constexpr const wchar_t* kInvalidDataType = L"Invalid data type for '%s'";
inline constexpr const wchar_t* kFailedToGetData = L"Failed to get data for '%s'";
inline constexpr const wchar_t* kFailedToSetData = L"Failed to set data for '%s'";
inline constexpr const wchar_t* kCannotOpenFile = L"Cannot open file %s";
inline constexpr const wchar_t* kCannotCreateFile = L"Cannot create file %s";
inline constexpr const wchar_t* kCannotCreateFolder = L"Cannot create folder %s";
inline constexpr const wchar_t* kStreamReadError = L"Stream read error";
inline constexpr const wchar_t* kStreamWriteError = L"Stream write error";
inline constexpr const wchar_t* kCannotMoveFile = L"Cannot move file %s";
inline constexpr const wchar_t* kOleError = L"OLE error %.8x";
inline constexpr const wchar_t* kInterfaceNotSupported = L"Interface not supported";

// Switching entries off and on, deleting and adding.
inline constexpr const wchar_t* kCannotDisableCut = L"The command line of \"%s\" is longer than a shortcut can keep "
                                                    L"whole, so it cannot be switched off without losing it.";
inline constexpr const wchar_t* kCannotEnableCut = L"The command line of \"%s\" was stored cut to the length a "
                                                   L"shortcut can keep, so it cannot be switched on without "
                                                   L"breaking it.";
inline constexpr const wchar_t* kCannotEnableUnread =
    L"The shortcut that keeps \"%s\" in the store could not be read, so it cannot be switched on. Nothing was "
    L"changed.";
inline constexpr const wchar_t* kNotAShortcut =
    L"%s cannot be read as a shortcut, so it cannot be switched off. Nothing was changed.";
inline constexpr const wchar_t* kDisabledTwinExists =
    L"A switched-off entry named \"%s\" is already kept for this location, with other contents. Delete it or "
    L"switch it on first. Nothing was changed.";
inline constexpr const wchar_t* kValueStays =
    L"The value \"%s\" could not be removed from its Run key, so the entry stays switched on. Nothing was changed.";
inline constexpr const wchar_t* kShortcutStays =
    L"The shortcut %s could not be deleted, so the entry stays switched on. Nothing was changed.";
inline constexpr const wchar_t* kEnableUndone =
    L"%s could not be removed from the store, so \"%s\" stays switched off. What stood in its place before was "
    L"put back.";
inline constexpr const wchar_t* kEnableNotUndone =
    L"%s could not be removed from the store, and \"%s\" could not be switched off again: it is switched on "
    L"now and also kept switched off in the store. Delete the switched-off copy.";
inline constexpr const wchar_t* kEnableNotRemoved =
    L"%s could not be removed from the store. \"%s\" starts already as it is kept there.";
inline constexpr const wchar_t* kEnableWouldReplace =
    L"\"%s\" starts already with another command line, which switching it on would replace. Nothing was "
    L"changed.\n\nStarts now: %s\nSwitched off: %s";
inline constexpr const wchar_t* kCloseAnyway =
    L"An edit of a store shortcut could not be written back: %s\n\nClose Bootwarden anyway? The edit stays in the "
    L"store shortcut and is tried again at the next start.";
inline constexpr const wchar_t* kEnableOccupied =
    L"Something named \"%s\" that cannot be read as a command line or a shortcut stands where switching it on "
    L"would put it, and it is not replaced. Nothing was changed.";
inline constexpr const wchar_t* kEnableReplaceQuestion =
    L"\"%s\" starts already with another command line.\n\nStarts now: %s\nSwitched off: %s\n\nSwitch on the "
    L"switched-off one, and keep the one that starts now switched off in its place?";
inline constexpr const wchar_t* kSwapKeptAside =
    L"\"%s\" was switched on. The entry that started before it is kept switched off as %s.";
inline constexpr const wchar_t* kStartupFolderUnknown =
    L"The Startup folder is not known (the \"Startup\" value of \"Shell Folders\" is empty or missing), so \"%s\" "
    L"cannot be put into it.";
inline constexpr const wchar_t* kCannotDeleteFile = L"Cannot delete file %s";
inline constexpr const wchar_t* kCannotDeleteValue = L"Cannot delete the value '%s'";
inline constexpr const wchar_t* kNameRefused = L"The name \"%s\" cannot be used as a file name";

// Rights, and where the program runs from.
inline constexpr const wchar_t* kNeedsAdministrator =
    L"Changing \"%s\" needs administrator rights, which Bootwarden does not have now. Nothing was changed.";
inline constexpr const wchar_t* kRestartQuestion = L"%s\n\nRestart Bootwarden as administrator?";
inline constexpr const wchar_t* kWriteBackFailed =
    L"The edit of \"%s\" could not be carried into the system, so it stays in the store: %s";
inline constexpr const wchar_t* kExtractFirst =
    L"Bootwarden was started from a temporary folder (%s), as happens when it is opened inside its zip file. "
    L"Entries switched off there would be lost when the folder is cleaned, so nothing was changed. Extract the "
    L"whole folder first, then start Bootwarden from there.";
inline constexpr const wchar_t* kStoreReadOnly =
    L"Bootwarden cannot write in its folder %s, so the entries are only listed: nothing can be switched on or "
    L"off, added or deleted. Copy the whole folder where you may write, for example into your Documents.";
inline constexpr const wchar_t* kStoreReadOnlyRefused =
    L"Bootwarden cannot write in its folder, so \"%s\" cannot be changed here. Nothing was changed.";
inline constexpr const wchar_t* kStoreFoldersAreLinks =
    L"These store folders are links to other folders, so Bootwarden neither reads nor writes them, and none of "
    L"their entries are listed:%s";
inline constexpr const wchar_t* kStoreFolderLine = L"\n%s";
inline constexpr const wchar_t* kStoreFolderIsLink =
    L"The store folder %s is a link to another folder, so \"%s\" cannot be kept there. Nothing was changed.";

// Why a listed entry cannot be switched off (the status bar shows it when the row is selected).
inline constexpr const wchar_t* kNameNotStorable =
    L"This entry starts, but its name is too long to keep it in the store, so it cannot be switched off here.";
inline constexpr const wchar_t* kNameTakenInOtherCase =
    L"This entry starts, but another entry here has the same name in other letter case, and the store keeps only "
    L"one of them, so this one cannot be switched off here.";
inline constexpr const wchar_t* kNotMirrored =
    L"This entry starts, but it could not be copied into the store (%s), so it cannot be switched off now.";
inline constexpr const wchar_t* kShortcutUnreadable =
    L"This shortcut cannot be read (it is in use, damaged, or no shortcut), so it is left as it is and cannot be "
    L"switched off.";
inline constexpr const wchar_t* kShortcutIsDevice =
    L"Windows takes this shortcut's name for a device, so it is never opened here and cannot be switched off.";
inline constexpr const wchar_t* kStorePathTooLong =
    L"This entry starts, but the path of its store link would be longer than Windows accepts here, so it cannot "
    L"be switched off here.";
inline constexpr const wchar_t* kShortcutIsLink =
    L"This shortcut is a link to another file, so it is not opened here and cannot be switched off.";
inline constexpr const wchar_t* kEntryNotAvailable = L"\"%s\" cannot be switched off: %s";
inline constexpr const wchar_t* kSwitchedOffInWindows = L"Switched off in Windows' startup settings";

// The message box after an import that could not copy some entries into the store; each line names one.
inline constexpr const wchar_t* kImportProblems =
    L"These start-up entries could not be copied into the store, so they cannot be switched off for now:%s";
inline constexpr const wchar_t* kImportProblemLine = L"\n\"%s\" in %s";

} // namespace bw::text
