#pragma once

#include "platform/UniqueHandle.h"
#include "store/EntryOperations.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace bw {

// The entry list: a report-style list view with a check box, an icon and three columns per entry. Its rows
// are a model of entries owned here; nothing is ever read back out of the list view to learn what a row is.
// A new set of entries changes only the rows that differ, and each distinct icon is added to the image list
// once, its image shared by every row that shows it.
class TEntryList {
public:
    enum Column { NameColumn = 0, TargetColumn = 1, LocationColumn = 2 };

    // Sent to the parent window when a key is released in the list after it was also pressed there; wParam
    // is the virtual-key code.
    static constexpr UINT WM_LISTKEYUP = WM_APP + 10;

    struct Handlers {
        std::function<void(int row, bool checked)> toggled;   // the user changed a row's box while ready
        std::function<void(int row, bool selected)> selected; // a row was selected or deselected
        std::function<void()> doubleClicked;
    };

    TEntryList(HINSTANCE instance, Handlers handlers);
    ~TEntryList();
    TEntryList(const TEntryList&) = delete;
    TEntryList& operator=(const TEntryList&) = delete;

    void Create(HWND parent, UINT dpi);
    // Takes the window's new DPI: a font for it, and icons made anew at the new size.
    void ApplyDpi(UINT dpi, HFONT font);
    void Move(int x, int y, int width, int height);
    HWND Handle() const { return m_list; }

    // Shows `entries` (in their order): rows of entries no longer there go, new ones come, changed ones are
    // updated, and their boxes show their entries' state (every box, with `everyBox`: after a toggle, whose
    // click changed a box of an entry that may not have changed). ListReady is false from its first line to its
    // last, so that the check changes it makes itself are never taken for the user's.
    void MakeList(const std::vector<Entry>& entries, bool everyBox = false);

    // True while a change of a box counts as the user's toggle.
    bool ListReady() const { return m_ready; }
    // Until the next MakeList, changes of the boxes count for nothing (a toggle is under way).
    void HoldToggles() { m_ready = false; }

    int Count() const { return static_cast<int>(m_rows.size()); }
    const Entry& RowEntry(int row) const { return m_rows.at(static_cast<size_t>(row)).entry; }
    // The row of an entry, found by name and location code; -1 when it is not listed.
    int FindRow(const std::wstring& name, int code) const;
    // The selected row, or -1.
    int Selected() const;
    // Makes `row` the one selected row and the one with the keyboard focus, scrolled into view.
    void SelectRow(int row);
    // The text that the Target column shows for a row.
    std::wstring TargetText(int row) const;

    HIMAGELIST Images() const { return m_images.Get(); }
    HICON DefIcon() const { return m_defIcon.Get(); }

    // Handles a notification of the list view (WM_NOTIFY from it).
    LRESULT HandleNotify(const NMHDR& header);

    // Sizes the columns to the list's width: Name and "Found in..." as wide as their texts, as far as the
    // width allows; Target takes the rest, so all three stay in view.
    void SizeColumns();

private:
    struct Row {
        Entry entry;
        std::wstring iconKey;
        int nameWidth = 0;  // of the caption's text, measured once
        bool newBox = true; // its box may not show its entry's state yet
    };
    static LRESULT CALLBACK ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnListMessage(UINT message, WPARAM wParam, LPARAM lParam);

    int ImageOf(const std::wstring& key, const Entry& entry);
    void InsertRow(int row, const Entry& entry);
    void UpdateRow(int row, const Entry& entry);
    void ApplyChecks(bool everyBox);
    void CompactImages();
    void MakeImages();

    HINSTANCE m_instance;
    Handlers m_handlers;
    UINT m_dpi = USER_DEFAULT_SCREEN_DPI;
    HWND m_list = nullptr;
    WNDPROC m_listProc = nullptr;

    std::vector<Row> m_rows;
    bool m_ready = false;
    std::set<WPARAM> m_pressed; // keys pressed while the list had the focus and not yet released

    UniqueImageList m_images;
    UniqueHicon m_defIcon;
    std::map<std::wstring, UniqueHicon> m_icons; // by icon key: the icons the rows show
    std::map<std::wstring, int> m_imageOf;       // by icon key: the image that shows it
    // What a column needs beside its widest text (check box, icon, margins), as the list itself sizes it; taken
    // once per font, so that sizing the columns never measures every row again.
    int m_nameExtra = -1;
    int m_locationExtra = -1;
};

} // namespace bw
