#pragma once

#include "app/Desktop.h"
#include "platform/FileCopy.h"
#include "platform/UniqueHandle.h"
#include "store/EntryOperations.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bw {

class TShellLink;

// The main window's progress bar as the copy sees it.
class TProgressBarAdapter : public ProgressControl {
public:
    explicit TProgressBarAdapter(HWND bar) : m_bar(bar) {}
    void SetMax(int value) override;
    void SetMin(int value) override;
    void SetPosition(int value) override;

private:
    HWND m_bar;
    int m_min = 0;
    int m_max = 100;
};

// The one window of the program: a tool bar, the entry list and a status bar. Every command reads the
// rows back into EntryRef values and hands them to the store; after each change the store is imported
// again and the whole list rebuilt from it.
class TMainForm {
public:
    // Tool bar commands.
    enum Command { PropButton = 101, RefreshButton, AddButton, DeleteButton, HelpButton };

    // Window messages of our own.
    enum : UINT {
        WM_APP_ACTIVATE = WM_APP + 1, // posted on activation, so the refresh runs after it has been handled
        WM_APP_TOGGLE,                // posted by a check-box change, so the list is not rebuilt inside its
                                      // own notification
    };

    // `programDir` empty: the executable's folder.
    TMainForm(HINSTANCE instance, TDesktop& desktop, std::wstring programDir = {});
    ~TMainForm();
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // Creates the window (running FormCreate) and shows it with `showCommand`.
    bool Create(int showCommand);

    HWND Handle() const { return m_window; }
    HWND List() const { return m_list; }
    HWND ToolBar() const { return m_toolBar; }
    HWND StatusBar() const { return m_statusBar; }
    HWND ProgressBar() const { return m_progressBar; }
    HIMAGELIST ImageList1() const { return m_imageList1.Get(); }
    HICON DefIcon() const { return m_defIcon.Get(); }
    bool ListReady() const { return m_listReady; }

    // The row's entry: caption, location code and the description read from its store link.
    EntryRef RowEntry(int item) const;
    // The row of an entry, found by name and location code; -1 when it is not listed.
    int FindRow(const std::wstring& name, int code) const;
    std::wstring RowStoreLinkPath(int item) const;

    // The commands, as the events call them.
    void MakeList();
    void RefreshAll();
    void ListKeyUp(WPARAM key);
    void PropButtonClick();
    void RefreshButtonClick() { RefreshAll(); }
    void AddButtonClick();
    void DeleteButtonClick();
    void HelpButtonClick();
    bool FormClose(); // false keeps the window open

private:
    struct RowData {
        std::wstring description;
        std::wstring storeLinkPath;
    };
    // What a rebuild read from one store link, with the file's times and size when it was read.
    struct LinkContent {
        FILETIME written{};
        FILETIME created{};
        ULONGLONG size = 0;
        std::wstring target;
        std::wstring description;
        int iconIndex = 0;
    };
    struct PendingToggle {
        EntryRef entry;
        bool enable;
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR data);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleNotify(const NMHDR& header);
    void ShowException(const std::wstring& message);

    void FormCreate();
    void CreateControls();
    void ApplyDpi(UINT dpi);
    int Scale(int pixels) const;
    void LayOutControls();
    void SizeColumns();

    HICON LoadEntryIcon(const std::wstring& path, int index) const;
    LinkContent ReadStoreLink(const std::wstring& path, const WIN32_FIND_DATAW& found,
                              std::map<std::wstring, LinkContent>& previous, std::unique_ptr<TShellLink>& link);
    int RowImage(int row, const std::wstring& source, int index, std::map<std::wstring, UniqueHicon>& previousIcons);
    void ListSelectItem(int item, bool selected);
    void ListChanging(int item);
    void ListChange(int item);
    void ToggleEntry();
    void DisableEntry(const EntryRef& entry);
    void EnableEntry(const EntryRef& entry);
    // Runs an enable or disable; a change is followed by the import and the rebuild.
    void RunToggle(const std::function<bool()>& toggle);
    void ReimportAndRebuild();
    void DeleteEntry(int item);
    void ShowEntryProperties(int item);
    INT_PTR OpenWithShell(const std::wstring& file, const std::wstring& parameters, const std::wstring& folder,
                          int showCommand);
    std::vector<EntryRef> AllRows() const;

    HINSTANCE m_instance;
    TDesktop& m_desktop;
    std::wstring m_programDir;
    UINT m_dpi = USER_DEFAULT_SCREEN_DPI;

    HWND m_window = nullptr;
    HWND m_toolBar = nullptr;
    HWND m_list = nullptr;
    HWND m_statusBar = nullptr;
    HWND m_progressBar = nullptr;
    UniqueFont m_font;
    UniqueImageList m_toolBarImages;
    UniqueImageList m_disabledToolBarImages;
    UniqueImageList m_imageList1;
    UniqueHicon m_defIcon;
    std::optional<TProgressBarAdapter> m_progress;

    // What the last rebuild read, kept so that a refresh that finds nothing changed is cheap (it runs on
    // every activation). Loading a link and taking an icon out of a program cost far more than the rest of
    // a row. Each holds only what the list shows now.
    std::map<std::wstring, LinkContent> m_linkCache; // by store link path, valid while time and size hold
    std::map<std::wstring, UniqueHicon> m_iconCache; // by icon source and index; empty: the default icon
    std::vector<std::wstring> m_imageKeys;           // the icon key of each image of ImageList1

    std::vector<RowData> m_rows; // by the row's LPARAM
    bool m_listReady = false;
    bool m_checkedBeforeChange = false;
    std::optional<PendingToggle> m_pendingToggle;
    bool m_errorBoxOpen = false;
    bool m_refreshAfterErrorBox = false;
};

} // namespace bw
