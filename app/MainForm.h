#pragma once

#include "app/Desktop.h"
#include "app/EntrySelection.h"
#include "app/EntryList.h"
#include "app/FilterBox.h"
#include "app/LiveWatch.h"
#include "app/Notices.h"
#include "app/Scheduler.h"
#include "app/Settings.h"
#include "app/ToolBar.h"
#include "app/UiHandles.h"
#include "app/WindowMessages.h"
#include "store/SeenEntries.h"
#include "store/StoreLock.h"
#include "store/StoreDoor.h"
#include "store/StoreSession.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bw {

// The one window of the program: the tool bar, the entry list and a status bar, and the commands. Every
// command asks what it must ask first, then hands an entry to the store with the lock taken (TScheduler); afterwards
// the store is refreshed and the list shows what changed. What the window says goes through TNotices.
class TMainForm {
public:
    using Command = TToolBar::Command;
    static constexpr Command PropButton = TToolBar::PropButton;
    static constexpr Command RefreshButton = TToolBar::RefreshButton;
    static constexpr Command AddButton = TToolBar::AddButton;
    static constexpr Command DeleteButton = TToolBar::DeleteButton;
    static constexpr Command HelpButton = TToolBar::HelpButton;
    static constexpr Command RestartButton = TToolBar::RestartButton;
    static constexpr Command ViewButton = TToolBar::ViewButton;

    static constexpr UINT WM_APP_ACTIVATE = kActivateMessage;
    static constexpr UINT WM_APP_TOGGLE = kToggleMessage;

    // `programDir` empty: the executable's folder.
    TMainForm(HINSTANCE instance, TDesktop& desktop, std::wstring programDir = {});
    ~TMainForm();
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // Creates the window (running FormCreate) and shows it with `showCommand`.
    bool Create(int showCommand);

    // Selects the entry's row, now or, while an import runs, once it has listed every row; an entry not listed
    // then leaves the selection as it is. Also what a second start hands over (WM_COPYDATA).
    void SelectEntry(const EntrySelection& selection);

    HWND Handle() const { return m_window; }
    HWND List() const { return m_list.Handle(); }
    HWND ToolBar() const { return m_toolBar.Handle(); }
    HWND StatusBar() const { return m_statusBar; }
    HWND ProgressBar() const { return m_toolBar.ProgressBar(); }
    HWND FilterBox() const { return m_filterBox.Handle(); }
    const TEntryList& EntryList() const { return m_list; }
    bool ListReady() const { return m_list.ListReady(); }
    // True while a long import copies entries into the store, a part at a time.
    bool Importing() const { return m_scheduler.Importing(); }

    // The commands, as the events call them.
    // `everyPlace` (F5, the Refresh button): every place is read by its stamps, whatever the watches said; else
    // (activation) only what may have changed. Either way every watch is armed anew.
    void RefreshAll(bool everyPlace = false);
    void ListKeyUp(WPARAM key);
    void PropButtonClick();
    void RefreshButtonClick() { RefreshAll(true); }
    // Adds a shortcut to a program the user chooses to the Startup folder of the enabled folder code `code`.
    void AddButtonClick(int code = kStartUpCode);
    void ShowAddMenu();
    void DeleteButtonClick();
    void HelpButtonClick();
    // The close work: the store's edits written back and the settings saved. False keeps the window open.
    bool FormClose();

    // The list's context menu, as a right click, the Menu key or Shift+F10 open it (WM_CONTEXTMENU from the
    // list; `at` -1 for the keyboard): the desktop shows it for the selected entries, and the chosen command acts
    // on them.
    void ShowContextMenu(LPARAM at);
    // A change needed rights the program lacks: says so, and offers to start the program anew as administrator
    // (only where it does not run as one already).
    void OfferRestartAsAdministrator(const std::wstring& message);
    // Hands the store over to a copy of the program started as administrator: this window does its close work
    // first, then starts the new copy, which waits for this process to end; it closes once the new one started,
    // and stays as it was when the user declined Windows' prompt.
    void RestartAsAdministrator();

private:
    struct PendingToggle {
        Entry entry;
        bool enable;
    };
    // The row a command leaves selected once the list shows its outcome: the first of `codes` under which
    // `name` is listed, else the row at `fallbackRow` (the last row when the list has become shorter), else none.
    struct RowChoice {
        std::wstring name;
        std::vector<int> codes;
        int fallbackRow = -1;
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void ShowException(const std::wstring& message);
    // WM_CLOSE: at once when no command is under way; else every question open is ended as no answer, and the
    // window closes when the command has ended.
    void Close();

    void FormCreate();
    // The store's door opened, what it found said, the watches started; false when the program must not go on
    // (started inside its zip).
    bool OpenStore();
    void CreateControls();
    void ApplyDpi(UINT dpi);
    void LayOutControls();

    // The command's refresh, then selects the row `choice` names (once a long import has ended, when it had to run
    // one).
    void RefreshAndSelect(bool writeBack, bool afterToggle, RowChoice choice);
    void ApplyRowChoice();
    void ShowEntries(bool everyBox = false);
    void CycleEnded();
    void ShowAccountInTitle();
    // The title: the account whose entries are shown (where it is not the desktop's) and the count of new entries.
    void ShowTitle();
    // The entries listed are looked at: those that came since the last look are marked new.
    void LookAtEntries();
    // The entry in `row` has been seen: its mark goes. True when it was marked.
    bool SeeRow(int row);

    void ListSelectItem(int row, bool selected);
    void ListChange(int row, bool checked);
    void ToggleEntry();
    // Switches `toggle` as asked, with the lock held. Raises what the store raises.
    void SwitchEntry(const PendingToggle& toggle, RowChoice& choice);
    void DeleteEntries(const std::vector<Entry>& entries);
    void ShowEntryProperties(const Entry& entry);
    // The list's context menu and the commands only it has; the selected entries, copied.
    std::vector<Entry> SelectedEntries() const;
    void RunMenuCommand(UINT command, const std::vector<Entry>& entries);
    void KeepEntryOff(const Entry& entry); // turns the entry's "Keep it switched off" mark
    void SwitchEntries(const std::vector<Entry>& entries, bool on);
    void OpenInRegistryEditor(const Entry& entry);
    // The status bar's other parts: what the selected row's program says of itself, and the count of rows.
    void ShowRowDetails(int row);
    void ShowCounts();
    // What the status bar's first part says of a row: why it cannot be switched off, why its publisher is marked,
    // or its target.
    std::wstring RowStatus(int row) const;
    // The rows' programs were read: the selected row's parts of the status bar say what is now known.
    void FactsRead();
    // The View button's menu, and its option to hide Windows' own entries.
    void ShowViewMenu();
    void HideWindowsClick();
    void TakeOverClick();
    bool WatchesWhileClosed() const;
    void WatchWhileClosedClick();
    void FilterChanged();
    // The window as the settings file left it, and the settings as the window now is.
    void PlaceFromSettings(int& showCommand);
    void ApplyListSettings();
    void SaveWindowSettings();

    INT_PTR OpenWithShell(const std::wstring& file, const std::wstring& parameters, const std::wstring& folder,
                          int showCommand);

    HINSTANCE m_instance;
    TDesktop& m_desktop;
    std::wstring m_programDir;
    UINT m_dpi = USER_DEFAULT_SCREEN_DPI;

    HWND m_window = nullptr;
    TToolBar m_toolBar;
    TEntryList m_list;
    TFilterBox m_filterBox;
    WindowSettings m_settings;
    HWND m_statusBar = nullptr;
    UniqueFont m_font;

    std::shared_ptr<TStoreDoor> m_sharedDoor = std::make_shared<TStoreDoor>(); // with a refresh's thread
    TStoreDoor& m_door = *m_sharedDoor;
    TStoreSession& m_session = m_door.Session();
    TScheduler m_scheduler;
    TNotices m_notices;
    std::optional<PendingToggle> m_pendingToggle;
    std::optional<RowChoice> m_rowChoice;
    TSeenEntries m_seen;
    std::wstring m_account; // the account whose entries are shown, where it is not the desktop's
};

} // namespace bw
