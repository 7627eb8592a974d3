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
inline constexpr const wchar_t* kPublisherColumn = L"Publisher";
inline constexpr const wchar_t* kFileDescriptionColumn = L"Description";
inline constexpr const wchar_t* kProgramNotFound = L"Program not found";
inline constexpr const wchar_t* kSignerColumn = L"Signer";
inline constexpr const wchar_t* kNotSigned = L"Not signed";
inline constexpr const wchar_t* kNotValid = L"Not valid";

// Why a signature does not hold, as the status bar and bwcli say it.
inline constexpr const wchar_t* kReasonBadDigest = L"the program was changed after it was signed";
inline constexpr const wchar_t* kReasonUntrustedRoot = L"its certificate chain ends in a root that is not trusted";
inline constexpr const wchar_t* kReasonChaining = L"its certificate chain could not be built";
inline constexpr const wchar_t* kReasonExpired = L"its certificate has expired or is not yet valid";
inline constexpr const wchar_t* kReasonRevoked = L"its certificate has been revoked";
inline constexpr const wchar_t* kReasonDistrusted = L"its signer is explicitly distrusted on this computer";
inline constexpr const wchar_t* kReasonWrongUsage = L"its certificate is not meant for signing programs";
inline constexpr const wchar_t* kReasonBadCertificate = L"its signing certificate is damaged or missing";
inline constexpr const wchar_t* kReasonNotTrusted = L"Windows does not trust its signature";
inline constexpr const wchar_t* kReasonPolicy = L"a policy of this computer refuses its signature";
inline constexpr const wchar_t* kReasonOther = L"Windows answered error %s";

// The status bar for a row whose program claims a publisher that its signature does not confirm.
inline constexpr const wchar_t* kClaimNotSigned = L"Claims to be from %s, but the program is not signed";
inline constexpr const wchar_t* kClaimNotValid = L"Claims to be from %s, but its signature is not valid: %s";
inline constexpr const wchar_t* kClaimOtherSigner = L"Claims to be from %s, but was signed by %s";
// The status bar for a row whose signature does not hold, whatever it claims.
inline constexpr const wchar_t* kSignatureNotValid = L"Signature not valid: %s";
// The count of rows hidden as Windows' own.
inline constexpr const wchar_t* kHiddenCount = L"%s of Windows hidden";
// The tool bar's View menu.
inline constexpr const wchar_t* kViewButtonHint = L"View";
inline constexpr const wchar_t* kMenuHideWindows = L"&Hide Windows' own entries";

// The status bar: how many entries the list shows, and of a selected row what its program says of itself.
inline constexpr const wchar_t* kEntryCount = L"%s entries";
inline constexpr const wchar_t* kShownCount = L"%s of %s entries shown";
inline constexpr const wchar_t* kProgramDetails = L"%s (%s)"; // the description, then the publisher

// The filter box's hint while it is empty.
inline constexpr const wchar_t* kFilterCue = L"Filter (Ctrl+F)";

// The list's context menu.
inline constexpr const wchar_t* kMenuSwitchOn = L"Switch &on";
inline constexpr const wchar_t* kMenuSwitchOff = L"Switch o&ff";
inline constexpr const wchar_t* kMenuProperties = L"&Properties";
inline constexpr const wchar_t* kMenuDelete = L"&Delete";
inline constexpr const wchar_t* kMenuOpenFileLocation = L"Open file &location";
inline constexpr const wchar_t* kMenuOpenInRegistryEditor = L"Open in &Registry Editor";
inline constexpr const wchar_t* kMenuCopyCommandLine = L"&Copy command line";
inline constexpr const wchar_t* kMenuChoose = L"C&hoose which change to keep...";

// Tool bar hints.
inline constexpr const wchar_t* kPropButtonHint = L"View Properties";
inline constexpr const wchar_t* kRefreshButtonHint = L"Refresh";
inline constexpr const wchar_t* kAddButtonHint = L"Add new shortcut";
inline constexpr const wchar_t* kMenuAddForMe = L"Add to &my Startup folder...";
inline constexpr const wchar_t* kMenuAddForAllUsers = L"Add to the Startup folder of &all users...";
inline constexpr const wchar_t* kDeleteButtonHint = L"Delete shortcut";
inline constexpr const wchar_t* kHelpButtonHint = L"Help";
inline constexpr const wchar_t* kRestartButtonHint = L"Restart as administrator";

// The caption when the program runs as another account than the one that owns the desktop.
inline constexpr const wchar_t* kCaptionOfAccount = L"Bootwarden - entries of %s";
// The title while entries are marked new: their count (and, as above, the account whose entries are shown).
inline constexpr const wchar_t* kCaptionNew = L"Bootwarden - %s new";
inline constexpr const wchar_t* kCaptionOfAccountNew = L"Bootwarden - entries of %s - %s new";
// The status bar's first part for a selected entry that was marked new, before what it shows of any entry.
inline constexpr const wchar_t* kNewEntryStatus = L"New: %s";
inline constexpr const wchar_t* kNewEntryStatusAlone = L"New";

// Location labels; each begins with a blank and follows the code's digit in the "Found in..." column.
inline constexpr const wchar_t* kLocalLabel = L" - Registry (HKLM)";
inline constexpr const wchar_t* kUserLabel = L" - Registry (HKCU)";
inline constexpr const wchar_t* kStartUpLabel = L" - Startup Folder";
inline constexpr const wchar_t* kLocal32Label = L" - Registry (HKLM 32-bit)";
inline constexpr const wchar_t* kCommonLabel = L" - Startup Folder (all users)";
inline constexpr const wchar_t* kPolicyLocalLabel = L" - Policy (HKLM)";
inline constexpr const wchar_t* kPolicyLocal32Label = L" - Policy (HKLM 32-bit)";
inline constexpr const wchar_t* kPolicyUserLabel = L" - Policy (HKCU)";
inline constexpr const wchar_t* kOnceLocalLabel = L" - Runs once (HKLM)";
inline constexpr const wchar_t* kOnceLocal32Label = L" - Runs once (HKLM 32-bit)";
inline constexpr const wchar_t* kOnceUserLabel = L" - Runs once (HKCU)";

// Dialogs.
inline constexpr const wchar_t* kConfirmCaption = L"Confirm";
inline constexpr const wchar_t* kYes = L"&Yes";
inline constexpr const wchar_t* kNo = L"&No";
inline constexpr const wchar_t* kLater = L"Decide &later";
inline constexpr const wchar_t* kDeleteQuestion = L"Are you sure you want to delete \"%s\"";
inline constexpr const wchar_t* kDeleteManyQuestion = L"Are you sure you want to delete these %s entries";
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
inline constexpr const wchar_t* kErrorNumber = L"error %s"; // a system error code without a text of its own
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
inline constexpr const wchar_t* kChangedWhileSwitchingOff =
    L"Another program changed \"%s\" while it was being switched off, so it stays switched on as that program "
    L"left it. Nothing was changed.";
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
inline constexpr const wchar_t* kCommonStartupFolderUnknown =
    L"The Startup folder of all users is not known, so \"%s\" cannot be put into it.";
// An entry of a place listed read-only: the first "%s" names it, the second says why.
inline constexpr const wchar_t* kReadOnlyPlaceRefused = L"\"%s\" is not changed here. %s";
inline constexpr const wchar_t* kCannotDeleteFile = L"Cannot delete file %s";
inline constexpr const wchar_t* kCannotDeleteValue = L"Cannot delete the value '%s'";
inline constexpr const wchar_t* kNameRefused = L"The name \"%s\" cannot be used as a file name";

inline constexpr const wchar_t* kCannotDisableHidden =
    L"The value \"%s\" holds more data after the end of its command line than a shortcut can keep, so it cannot "
    L"be switched off without losing that data. Nothing was changed.";
inline constexpr const wchar_t* kCannotEnableDisagreeing =
    L"The shortcut that keeps \"%s\" in the store says one command line in its Comment and another in its Target "
    L"and arguments (or has arguments and no Target), so it cannot be switched on. Make both say the same, or change "
    L"only one. Nothing was changed.";

// Edits of store links that are not written back, and entries changed on both sides (each told once).
inline constexpr const wchar_t* kEditsNotCarried = L"These edits of store shortcuts were not written back:%s";
inline constexpr const wchar_t* kEditNotCarriedLine = L"\n\n\"%s\" (%s): %s";
inline constexpr const wchar_t* kEditOfCutLine =
    L"its command line is longer than a shortcut can keep whole, so the shortcut holds only its start, and writing "
    L"it back would cut the command line. Change the value in the registry instead.";
inline constexpr const wchar_t* kEditsDisagree =
    L"its Comment was changed one way and its Target or arguments another, so it cannot be told which is meant. "
    L"Make both say the same, or change only one.";
inline constexpr const wchar_t* kEditWithoutProgram =
    L"its arguments were changed, but it has no Target, so they name no program. Give it a Target, or change its "
    L"Comment instead.";
inline constexpr const wchar_t* kBothChangedQuestion =
    L"\"%s\" was changed by another program while its shortcut in the store was edited.\n\nStarts now: %s\n"
    L"Edited in the store: %s\n\nWhich change should be kept? Until you choose, both stay as they are: what starts "
    L"now keeps starting, and the shortcut in the store keeps the edit.";
inline constexpr const wchar_t* kKeepStartsNow = L"&Keep what starts now";
inline constexpr const wchar_t* kUseEdit = L"&Use the edit";
// The status bar's first part for an entry whose choice is waiting.
inline constexpr const wchar_t* kChoiceWaitingStatus =
    L"Changed on both sides: a choice is waiting (right-click to choose). Starts now: %s";
// A command asked, and what it was to act on changed before the answer came.
inline constexpr const wchar_t* kChangedMeanwhile =
    L"\"%s\" was changed by another program while the question was open, so nothing was changed. Look at it "
    L"again and try once more.";
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
inline constexpr const wchar_t* kStoreOfAnother =
    L"This store belongs to %s on the computer %s, so its entries are only listed here: nothing is switched on, "
    L"off or deleted, so that no entry of theirs is lost or started for the wrong account. If the store is yours "
    L"now, choose \"Take over this store\" in the View menu.";
inline constexpr const wchar_t* kStoreOfAnotherRefused =
    L"\"%s\" cannot be changed here: this store belongs to %s on the computer %s. Take it over first (View menu, "
    L"\"Take over this store\"). Nothing was changed.";
inline constexpr const wchar_t* kOwnersPlacesUnreachable =
    L"Bootwarden runs as %s, but this store keeps the entries of %s, whose registry cannot be opened from here "
    L"(it is not loaded, or access is denied). The entries of HKCU and of the Startup folder are listed as the store "
    L"last saw them and cannot be changed here (HKCU and the Startup folder here are %s's own). Start Bootwarden as "
    L"%s to change them; the entries of HKLM and of the Startup folder of all users can be changed.";
inline constexpr const wchar_t* kOwnersPlaceNotReached =
    L"This entry belongs to the store's owner, whose registry and Startup folder this account cannot reach: it is "
    L"listed as the store last saw it, and cannot be changed until Bootwarden runs as its owner.";
inline constexpr const wchar_t* kOwnersPlacesRefused =
    L"\"%s\" cannot be changed here: the registry of %s, whose entries this store keeps, cannot be opened by this "
    L"account. Nothing was changed.";
inline constexpr const wchar_t* kUnknownOwner = L"an account that cannot be told";
inline constexpr const wchar_t* kUnknownMachine = L"(not known)";
inline constexpr const wchar_t* kTakeOverStore = L"&Take over this store";
inline constexpr const wchar_t* kTakeOverQuestion =
    L"This store was kept by %s on the computer %s. Take it over as %s on this computer?\n\nNothing in it is "
    L"deleted: its entries stay as they are, and you can then switch them on, off or delete them here.";
inline constexpr const wchar_t* kTakeOverFailed = L"The store could not be taken over: %s";
inline constexpr const wchar_t* kStoreFoldersAreLinks =
    L"These store folders lead where Bootwarden keeps no entries, so it neither reads nor writes them, and none of "
    L"their entries are listed:%s";
inline constexpr const wchar_t* kStoreFolderLine = L"\n%s %s";
// Why a folder of the store is refused: each completes a sentence that begins with the folder's path.
inline constexpr const wchar_t* kFolderLinkNotFollowed =
    L"is a link of a kind Bootwarden does not follow (only junctions and symbolic links are)";
inline constexpr const wchar_t* kFolderLinkUnresolved =
    L"is a link to a folder that cannot be found (it is gone, or its drive cannot tell its path)";
inline constexpr const wchar_t* kFolderLinkIntoSystem =
    L"is a link into a Startup folder or the temporary folder (or to a folder that holds one)";
inline constexpr const wchar_t* kFolderLinkIntoStore = L"is a link to a folder that another store folder uses as well";
inline constexpr const wchar_t* kDataFolderRefusedRefused =
    L"The store's Data folder leads where Bootwarden keeps nothing, so \"%s\" cannot be changed here. Nothing was "
    L"changed.";
inline constexpr const wchar_t* kStoreFolderIsLink =
    L"The store folder %s leads where Bootwarden keeps no entries, so \"%s\" cannot be kept there. Nothing was "
    L"changed.";

// Why a listed entry cannot be switched off (the status bar shows it when the row is selected).
inline constexpr const wchar_t* kNameNotStorable =
    L"This entry starts, but its name is too long to keep it in the store, so it cannot be switched off here.";
inline constexpr const wchar_t* kNameTakenInOtherCase =
    L"This entry starts, but another entry here has the same name in other letter case, and the store keeps only "
    L"one of them, so this one cannot be switched off here.";
inline constexpr const wchar_t* kNotMirrored =
    L"This entry starts, but it could not be copied into the store (%s), so it cannot be switched off now.";
// Why an entry of a place listed read-only is never changed here.
inline constexpr const wchar_t* kPolicySetsIt =
    L"A policy sets this entry: switched off or deleted here, it would come back with the policy. It is listed so "
    L"that it does not hide, and can only be changed where the policy is set.";
inline constexpr const wchar_t* kRunsOnce =
    L"This entry runs once at the next log-on; Windows removes it before it starts it. It is listed so that it does "
    L"not hide, and is not switched off here.";
inline constexpr const wchar_t* kRunsOnceUntilDone =
    L"This entry runs once at the next log-on; its name begins with \"!\", so Windows removes it only after it has "
    L"run (one that fails runs again). It is listed so that it does not hide, and is not switched off here.";
inline constexpr const wchar_t* kRunsOnceInSafeMode =
    L"This entry runs once at the next log-on, in Safe Mode as well (its name begins with \"*\"); Windows removes it "
    L"before it starts it. It is listed so that it does not hide, and is not switched off here.";
inline constexpr const wchar_t* kRunsOnceUntilDoneInSafeMode =
    L"This entry runs once at the next log-on, in Safe Mode as well; its name begins with \"!\" and \"*\", so Windows "
    L"removes it only after it has run. It is listed so that it does not hide, and is not switched off here.";
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
// A store link that the store's records do not name: said on its row, and as the reason of every refusal.
inline constexpr const wchar_t* kLinkUnknown =
    L"Bootwarden did not write this shortcut into the store folder, so what it stands for is not known: it is left as "
    L"it is, and cannot be switched on, written back, replaced or deleted here. Move it out of the store folder "
    L"yourself.";
inline constexpr const wchar_t* kLinkRenamed =
    L"Bootwarden wrote this shortcut under another name or into another folder, and it was renamed, moved or "
    L"copied since, so what it stands for is not known: it is left as it is, and cannot be switched on, written back, "
    L"replaced or deleted here. Give it back its name and folder, or move it out of the store folder yourself.";
inline constexpr const wchar_t* kLinkOnlineOnly =
    L"This shortcut of the store is online-only: its content is kept by your cloud storage and is not on this PC. "
    L"Bootwarden does not open it, since that would download it, so it cannot be switched on, switched off, written "
    L"back or deleted here. Choose \"Always keep on this device\" for the store folder in Explorer, then refresh.";
inline constexpr const wchar_t* kLinkRefused = L"\"%s\" (%s) is left as it is. %s Nothing was changed.";
inline constexpr const wchar_t* kLinkWrittenAs = L" It was written as %s.";
inline constexpr const wchar_t* kEditOfOtherType =
    L"its value is not text but of another type, which holds no command line, so the edit is not written into it. "
    L"Change the value in the registry instead, or undo the edit.";
inline constexpr const wchar_t* kSwitchedOffInWindows = L"Switched off in Windows' startup settings";

// The message box after an import that could not copy some entries into the store; each line names one.
inline constexpr const wchar_t* kImportProblems =
    L"These start-up entries could not be copied into the store, so they cannot be switched off for now:%s";
inline constexpr const wchar_t* kImportProblemLine = L"\n\"%s\" in %s";

// One program at a time on a store.
inline constexpr const wchar_t* kNamedObjectFailed = L"Cannot open the lock %s: %s";
inline constexpr const wchar_t* kStoreBusy =
    L"The store is busy: another Bootwarden program is changing it. Try again in a moment.";
inline constexpr const wchar_t* kStoreStaysBusy =
    L"The store has been busy for a while: another Bootwarden program keeps it. The list is not refreshed until "
    L"you press F5 or come back to the window.";
// The named objects that the copies of the program on one store share.
inline constexpr const wchar_t* kAnotherCopyWorks =
    L"Another copy of Bootwarden works on this store (%s), and this one may not share its lock, so the entries are "
    L"only listed: nothing can be switched on or off, edited or deleted here. Close the other copy and start "
    L"Bootwarden again.";
inline constexpr const wchar_t* kNameTaken =
    L"The name Bootwarden uses for the lock of this store (%s) is taken by a program that is not Bootwarden, so the "
    L"entries are only listed: nothing can be switched on or off, edited or deleted here.";
inline constexpr const wchar_t* kAnotherCopyRefused =
    L"Another copy of Bootwarden works on this store, and this one may not share its lock, so \"%s\" cannot be "
    L"changed here. Nothing was changed.";
inline constexpr const wchar_t* kNameTakenRefused =
    L"The name of this store's lock is taken by a program that is not Bootwarden, so \"%s\" cannot be changed "
    L"here. Nothing was changed.";

// The console program, bwcli. Each error is one line on the error output.
inline constexpr const wchar_t* kCliUsage =
    L"Usage: bwcli COMMAND [OPTIONS]\n"
    L"Lists and switches the programs that start at log-on, with the store beside bwcli.exe.\n"
    L"\n"
    L"Commands:\n"
    L"  list [--json | --csv] [--hide-windows]\n"
    L"                                 every entry: name, location, state, command line, target, publisher and\n"
    L"                                 signer (--hide-windows: without Windows' own entries)\n"
    L"  disable NAME [--location LOC]  switches an entry off (it is kept in the store)\n"
    L"  enable NAME [--location LOC] [--replace]\n"
    L"                                 switches an entry on again (--replace: also over a different entry of that\n"
    L"                                 name that starts now, which is then kept switched off instead)\n"
    L"  delete NAME [--location LOC] [--state on|off]\n"
    L"                                 removes an entry, without asking\n"
    L"  add PATH [--name NAME] [--location startup|common]\n"
    L"                                 adds a shortcut to a program to the Startup folder (common: the one of all\n"
    L"                                 users, which needs administrator rights)\n"
    L"  refresh                        carries edits of the store into Windows and imports what changed\n"
    L"  settle NAME [--location LOC] --keep system|store\n"
    L"                                 settles an entry changed both in Windows and in the store: system keeps\n"
    L"                                 what starts now, store writes the store's edit (only while Windows still\n"
    L"                                 holds what bwcli saw)\n"
    L"  adopt                          takes over a store kept by another account or on another computer (until\n"
    L"                                 then its entries are only listed); deletes nothing\n"
    L"  keep-off NAME [--location LOC] [--no]\n"
    L"                                 keeps a switched-off entry off: when its program puts it back with the same\n"
    L"                                 command line, the watcher takes it out again (--no: no longer)\n"
    L"  history [--json | --csv]       every change kept in the store's history, newest first: what changed, when\n"
    L"                                 (UTC), and by whom (window, bwcli, watcher, or outside: another program)\n"
    L"\n"
    L"Options:\n"
    L"  --location LOC   where the entry is, when its name is in several places: hklm, hklm32, hkcu, startup,\n"
    L"                   common; listed only, never changed: policy-hklm, policy-hklm32, policy-hkcu,\n"
    L"                   runonce-hklm, runonce-hklm32, runonce-hkcu\n"
    L"  --id ID          names the entry by the id that list prints, instead of NAME (for a name that cannot be\n"
    L"                   typed)\n"
    L"  --link PATH      names the entry by its shortcut in the store, instead of NAME\n"
    L"  --state on|off   for delete: the entry that starts, or the one kept switched off, when a place has both\n"
    L"  --dry-run        says what disable, enable, delete or add would do, and changes no entry\n"
    L"  --help           shows this text;  --version  shows the version\n"
    L"\n"
    L"Exit codes: 0 done, 1 no such entry, 2 refused (rights, an ambiguous name, a rule of the store, a wrong\n"
    L"command line), 3 failed (the reason follows on the error output), 4 done, but something needs you (refresh:\n"
    L"an entry changed on both sides, an edit that could not be carried; each named on the error output).\n"
    L"list --csv is made for spreadsheets (no cell can be taken for a formula), --json for scripts (exact).\n";
inline constexpr const wchar_t* kCliVersion = L"bwcli %s";
inline constexpr const wchar_t* kCliErrorPrefix = L"bwcli: ";
inline constexpr const wchar_t* kCliWarningPrefix = L"bwcli: warning: ";
inline constexpr const wchar_t* kCliUnknownCommand = L"unknown command \"%s\"; see bwcli --help";
inline constexpr const wchar_t* kCliNoCommand = L"no command given; see bwcli --help";
inline constexpr const wchar_t* kCliUnknownOption = L"unknown option \"%s\"; see bwcli --help";
inline constexpr const wchar_t* kCliOptionNeedsValue = L"option %s needs a value";
inline constexpr const wchar_t* kCliUnknownLocation =
    L"unknown location \"%s\"; use hklm, hklm32, hkcu, startup, common, policy-hklm, policy-hklm32, policy-hkcu, "
    L"runonce-hklm, runonce-hklm32 or runonce-hkcu";
inline constexpr const wchar_t* kCliAddPlaces = L"add puts a shortcut into a Startup folder: use startup or common";
inline constexpr const wchar_t* kCliUnknownState = L"unknown state \"%s\"; use on or off";
inline constexpr const wchar_t* kCliOptionNotHere = L"option %s does not go with %s";
inline constexpr const wchar_t* kCliOperands = L"%s takes %s";
inline constexpr const wchar_t* kCliOneName = L"one name";
inline constexpr const wchar_t* kCliOnePath = L"one path";
inline constexpr const wchar_t* kCliNothing = L"no name or path";
inline constexpr const wchar_t* kCliJsonAndCsv = L"--json and --csv exclude each other";
inline constexpr const wchar_t* kCliIdAndLink = L"--id and --link exclude each other";
inline constexpr const wchar_t* kCliNotAnId =
    L"\"%s\" is no entry id; bwcli list prints each entry's id (a location, \":\" and a name)";
inline constexpr const wchar_t* kCliUnknownSide = L"unknown side \"%s\"; use system or store";
inline constexpr const wchar_t* kCliSettleNeedsKeep = L"settle needs --keep system or --keep store";
inline constexpr const wchar_t* kCliNoSuchEntry = L"no entry named \"%s\"";
inline constexpr const wchar_t* kCliNoSuchEntryThere = L"no entry named \"%s\" in %s";
inline constexpr const wchar_t* kCliAmbiguous = L"\"%s\" names %s entries: %s; choose one with --location";
inline constexpr const wchar_t* kCliAmbiguousState =
    L"\"%s\" names %s entries: %s; choose one with --state on or --state off";
inline constexpr const wchar_t* kCliAmbiguousOne = L"%s (%s)";
inline constexpr const wchar_t* kCliNoSuchFile = L"no such program file: %s";
inline constexpr const wchar_t* kCliNotChanged =
    L"\"%s\" in %s was not changed: its place cannot be written (administrator rights are needed for HKLM)";
inline constexpr const wchar_t* kCliNotChangedHere = L"\"%s\" in %s was not changed: its place cannot be written";
inline constexpr const wchar_t* kCliWouldReplace =
    L"\"%s\" (%s) is not switched on: an entry of that name starts there now, and differs from the one kept "
    L"switched off (starts now: %s; kept: %s). Exchange them with --replace, or delete one of them first.";
inline constexpr const wchar_t* kCliNotAdded = L"no shortcut could be written into the Startup folder for %s";
inline constexpr const wchar_t* kCliImportProblem =
    L"\"%s\" could not be copied into the store folder %s, so it cannot be switched off for now";
inline constexpr const wchar_t* kCliStoreReadOnly =
    L"Bootwarden cannot write in its folder %s, so nothing can be changed there; entries are only listed";
inline constexpr const wchar_t* kCliAnotherCopyWorks =
    L"another copy of Bootwarden works on the store in %s, and bwcli may not share its lock, so nothing can be "
    L"changed there; entries are only listed";
inline constexpr const wchar_t* kCliNameTaken =
    L"the name of the store's lock (%s) is taken by a program that is not Bootwarden, so nothing can be changed "
    L"there; entries are only listed";
inline constexpr const wchar_t* kCliStoreOfAnother =
    L"this store belongs to %s on the computer %s: entries are only listed; \"bwcli adopt\" takes it over";
inline constexpr const wchar_t* kCliOwnersPlacesUnreachable =
    L"the registry of %s, whose entries this store keeps, cannot be opened by this account: the entries of hkcu and "
    L"startup are listed as the store last saw them, and not changed";
inline constexpr const wchar_t* kCliAdopted = L"the store now belongs to %s on the computer %s; nothing was deleted";
inline constexpr const wchar_t* kCliAlreadyYours = L"the store already belongs to %s on the computer %s";
inline constexpr const wchar_t* kCliStoreFolderIsLink =
    L"the store folder %s %s: it is neither read nor written, and its entries are not listed";
inline constexpr const wchar_t* kCliTestSeamMissing =
    L"this is a test build of bwcli; it runs only on a scratch registry named in BOOTWARDEN_TEST_REGISTRY";

// What bwcli says it did (or, with --dry-run, would do).
inline constexpr const wchar_t* kCliDisabled = L"Switched off \"%s\" (%s).";
inline constexpr const wchar_t* kCliEnabled = L"Switched on \"%s\" (%s).";
inline constexpr const wchar_t* kCliAllowed = L"Switched on \"%s\" (%s) in Windows' startup settings.";
inline constexpr const wchar_t* kCliDeleted = L"Deleted \"%s\" (%s).";
inline constexpr const wchar_t* kCliAdded = L"Added \"%s\" (%s): %s";
inline constexpr const wchar_t* kCliWouldDisable = L"Would switch off \"%s\" (%s).";
inline constexpr const wchar_t* kCliWouldEnable = L"Would switch on \"%s\" (%s).";
inline constexpr const wchar_t* kCliWouldAllow = L"Would switch on \"%s\" (%s) in Windows' startup settings.";
inline constexpr const wchar_t* kCliWouldExchange =
    L"Would switch on \"%s\" (%s), keeping the one that starts now switched off in its place.";
inline constexpr const wchar_t* kCliWouldDelete = L"Would delete \"%s\" (%s).";
inline constexpr const wchar_t* kCliWouldAdd = L"Would add \"%s\" (%s) for %s.";
inline constexpr const wchar_t* kCliKeptOff = L"Keeping \"%s\" (%s) switched off.";
inline constexpr const wchar_t* kCliNotKeptOff = L"No longer keeping \"%s\" (%s) switched off.";
inline constexpr const wchar_t* kCliAlreadyOff = L"\"%s\" (%s) is switched off already.";
inline constexpr const wchar_t* kCliAlreadyOn = L"\"%s\" (%s) is switched on already.";
inline constexpr const wchar_t* kCliStored = L"Stored \"%s\" (%s): new in Windows.";
inline constexpr const wchar_t* kCliRestored = L"Stored \"%s\" (%s) again: changed in Windows.";
inline constexpr const wchar_t* kCliDropped = L"Dropped \"%s\" (%s) from the store: gone from Windows.";
inline constexpr const wchar_t* kCliWroteBack = L"Wrote \"%s\" (%s) into Windows: edited in the store.";
inline constexpr const wchar_t* kCliNothingChanged = L"Nothing changed.";
inline constexpr const wchar_t* kCliBothChanged =
    L"\"%s\" (%s) was changed in Windows and edited in the store, and neither was written over the other. Starts "
    L"now: %s; edited in the store: %s. Choose with: bwcli settle --id \"%s\" --keep system|store";
inline constexpr const wchar_t* kCliEditNotCarried =
    L"the edit of \"%s\" (%s) in %s could not be carried into Windows, so it stays in the store: %s";
inline constexpr const wchar_t* kCliNothingToSettle = L"\"%s\" (%s) is not changed on both sides: nothing to settle.";
inline constexpr const wchar_t* kCliKeptSystem = L"Kept what starts now for \"%s\" (%s); the store mirrors it.";
inline constexpr const wchar_t* kCliKeptStore = L"Wrote the store's edit of \"%s\" (%s) into Windows.";
inline constexpr const wchar_t* kCliEditNotSettled =
    L"the store's edit of \"%s\" (%s) was not written: Windows changed it again since bwcli looked, so what "
    L"starts now stays and the store mirrors it";

// The table of bwcli list.
inline constexpr const wchar_t* kCliStateColumn = L"State";
inline constexpr const wchar_t* kCliCommandColumn = L"Command line";
inline constexpr const wchar_t* kCliStateOn = L"on";
inline constexpr const wchar_t* kCliStateOff = L"off";
inline constexpr const wchar_t* kCliStateOffInWindows = L"off in Windows";
inline constexpr const wchar_t* kCliNoEntries = L"No entries.";
inline constexpr const wchar_t* kCliNoHistory = L"No changes kept yet.";
inline constexpr const wchar_t* kHistoryTimeColumn = L"Time";
inline constexpr const wchar_t* kHistoryChangeColumn = L"Change";
inline constexpr const wchar_t* kHistoryByColumn = L"By";
// The History dialog (View menu).
inline constexpr const wchar_t* kMenuHistory = L"Hi&story...";
inline constexpr const wchar_t* kHistoryTitle = L"History of start-up changes";
inline constexpr const wchar_t* kHistoryFilterCue = L"Filter";
inline constexpr const wchar_t* kHistoryAdded = L"Added";
inline constexpr const wchar_t* kHistoryChanged = L"Changed";
inline constexpr const wchar_t* kHistoryRemoved = L"Removed";
inline constexpr const wchar_t* kHistorySwitchedOff = L"Switched off";
inline constexpr const wchar_t* kHistorySwitchedOn = L"Switched on";
inline constexpr const wchar_t* kHistoryDeleted = L"Deleted";
inline constexpr const wchar_t* kHistoryByWindow = L"Bootwarden";
inline constexpr const wchar_t* kHistoryByCli = L"bwcli";
inline constexpr const wchar_t* kHistoryByWatcher = L"Watcher";
inline constexpr const wchar_t* kHistoryByOutside = L"Another program";

// The watcher: its icon in the notification area, its notices and its menu.
inline constexpr const wchar_t* kWatcherTip = L"Bootwarden is watching start-up";
inline constexpr const wchar_t* kWatcherAddedTitle = L"A program was added to start-up: %s";
inline constexpr const wchar_t* kWatcherChangedTitle = L"A start-up entry was changed: %s";
inline constexpr const wchar_t* kWatcherManyTitle = L"%s start-up entries were added or changed";
inline constexpr const wchar_t* kWatcherNoticeText = L"In: %s\nStarts: %s\nSigner: %s";
inline constexpr const wchar_t* kWatcherSignerUnknown = L"Program not found";
inline constexpr const wchar_t* kWatcherManyMore = L"and %s more";
inline constexpr const wchar_t* kWatcherOpen = L"&Open Bootwarden";
inline constexpr const wchar_t* kWatcherPause = L"&Pause notices for an hour";
inline constexpr const wchar_t* kWatcherStop = L"&Stop watching";
inline constexpr const wchar_t* kWatcherSwitchOff = L"Switch &off";
inline constexpr const wchar_t* kWatcherShowEntry = L"&Show in Bootwarden";
inline constexpr const wchar_t* kWatcherKeep = L"&Keep";
inline constexpr const wchar_t* kWatcherQuiet = L"&Don't tell me about this entry again";
inline constexpr const wchar_t* kWatcherCannotStart = L"%s could not be started.";
inline constexpr const wchar_t* kWatcherEntryGone = L"%s is no longer where the notice saw it.";
inline constexpr const wchar_t* kMenuWatchWhileClosed = L"&Watch start-up while Bootwarden is closed";
inline constexpr const wchar_t* kWatcherEntryStatus = L"Bootwarden's own entry: it starts the watcher at log-on";
inline constexpr const wchar_t* kWatchWhileClosedFailed = L"Watching while Bootwarden is closed could not be %s.\n\n%s";
inline constexpr const wchar_t* kWatchTurnedOn = L"turned on";
inline constexpr const wchar_t* kWatchTurnedOff = L"turned off";
inline constexpr const wchar_t* kEntryThereAlready =
    L"An entry named \"%s\" is there already; nothing was written over it.";
inline constexpr const wchar_t* kRunKeyMissing = L"The Run key where \"%s\" would go is missing.";
inline constexpr const wchar_t* kKeepOffNotSwitchedOff =
    L"\"%s\" is not switched off: only a switched-off entry can be kept off.";
inline constexpr const wchar_t* kKeepOffFileNotOurs =
    L"%s cannot be read whole or was not written by Bootwarden; it is left as it is and nothing is kept off.";
inline constexpr const wchar_t* kKeepOffCommand = L"&Keep it switched off";
inline constexpr const wchar_t* kWatcherKeptOffTitle = L"Switched off again: %s";
inline constexpr const wchar_t* kWatcherKeptOffText =
    L"Its program put it back in %s. It is kept switched off, as you asked.";
inline constexpr const wchar_t* kWatcherCameBackTitle = L"Back with another command line: %s";
inline constexpr const wchar_t* kWatcherCameBackText =
    L"It was kept switched off and starts now: %s\nNothing was changed.";
inline constexpr const wchar_t* kWatcherNotKeptOffTitle = L"Could not switch off again: %s";
inline constexpr const wchar_t* kWatcherSwitchOffReplacing = L"Switch off, &replacing the kept copy";

} // namespace bw::text
