#pragma once

#include "app/EntryOrder.h"
#include "app/IconReader.h"
#include "app/UiHandles.h"
#include "app/WindowMessages.h"
#include "store/Entry.h"
#include "store/FileFacts.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace bw {

// The entry list: a report-style list view with a check box, an icon and six columns per entry. Its rows
// are a model of entries owned here; nothing is ever read back out of the list view to learn what a row is.
// A new set of entries changes only the rows that differ, and each distinct icon is added to the image list
// once, its image shared by every row that shows it. The rows shown are the entries that match the filter,
// in the order of the sort column.
class TEntryList {
public:
    using Column = ListColumn;

    // Sent to the parent window when a key is released in the list after it was also pressed there; wParam
    // is the virtual-key code.
    static constexpr UINT WM_LISTKEYUP = kListKeyUpMessage;
    // Posted to the list itself by the reader of file facts when it has read something.
    static constexpr UINT WM_FACTSREAD = kFactsReadMessage;
    // Posted to the list itself by the reader of icons when it has read some.
    static constexpr UINT WM_ICONSREAD = kIconsReadMessage;

    struct Handlers {
        std::function<void(int row, bool checked)> toggled;   // the user changed a row's box while ready
        std::function<void(int row, bool selected)> selected; // a row was selected or deselected
        std::function<void()> doubleClicked;
        std::function<void()> listed;            // the rows shown, or their order, changed
        std::function<bool(const Entry&)> isNew; // the entry is marked new (drawn in bold)
        std::function<void()> factsRead;         // rows got their programs' publisher, description or signer
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
    // The entries get the publisher, description and signature of their programs as far as they are known; the
    // reader of file facts reads the rest off the window's thread, and the rows show it as it comes.
    void MakeList(const std::vector<Entry>& entries, bool everyBox = false);
    // The entries stay as they are, but the reader looks at their programs again (their stamps only, off the
    // window's thread): an updated program is read again and its row shows it.
    void LookAgain();
    // True while some rows wait for their programs' facts.
    bool FactsPending() const { return m_factsPending; }
    // True while some rows show the default icon in place of their own, which is being read.
    bool IconsPending() const { return (m_iconReader && m_iconReader->Pending()) || !m_iconsArrived.empty(); }

    // Hides the rows of Windows' own entries (IsWindowsOwn), or shows them again.
    void SetHideWindows(bool hide);
    bool HidesWindows() const { return m_hideWindows; }
    // The rows hidden as Windows' own by the last showing.
    int HiddenCount() const { return m_hiddenCount; }

    // Shows only the entries whose name, command line, publisher or description hold `text` (any case); ""
    // shows every entry.
    void SetFilter(const std::wstring& text);
    const std::wstring& FilterText() const { return m_filterText; }
    // Every entry of the last MakeList, shown or not.
    int TotalCount() const { return static_cast<int>(m_all.size()); }

    // Sorts by a column: upwards, or the other way when it is already sorted by it upwards (a header click).
    void SortBy(int column);
    void SetSort(SortOrder order);
    SortOrder Sort() const { return m_sort; }

    // The widths of the columns, by column index. Once set here or by the user dragging a divider, the widths
    // stay as they are; until then the list sizes its columns to their texts and its width.
    std::vector<int> ColumnWidths() const;
    void SetColumnWidths(const std::vector<int>& widths);
    bool ColumnsSizedByUser() const { return m_fixedWidths; }

    // True while a change of a box counts as the user's toggle.
    bool ListReady() const { return m_ready; }
    // Until the next MakeList, changes of the boxes count for nothing (a toggle is under way).
    void HoldToggles() { m_ready = false; }
    // Holds the readers of file facts and icons, or lets them go on (TFileFactsReader::Hold). While they are held,
    // the facts reader is told which programs to read only once it goes on: the first start lists its rows in
    // slices, and each slice would tell it of every program listed so far, for nothing.
    void HoldReaders(bool held);

    int Count() const { return static_cast<int>(m_rows.size()); }
    const Entry& RowEntry(int row) const { return m_rows.at(static_cast<size_t>(row)).entry; }
    // The row of an entry, found by name and location code; -1 when it is not listed.
    int FindRow(const std::wstring& name, int code) const;
    // The selected row, or -1.
    int Selected() const;
    // Every selected row, upwards.
    std::vector<int> SelectedRows() const;
    // Makes `row` the one selected row and the one with the keyboard focus, scrolled into view.
    void SelectRow(int row);
    // The text that the Target column shows for a row.
    std::wstring TargetText(int row) const;

    HIMAGELIST Images() const { return m_images.Get(); }
    HICON DefIcon() const { return m_defIcon.Get(); }

    // Handles a notification of the list view (WM_NOTIFY from it).
    LRESULT HandleNotify(const NMHDR& header);

    // Sizes the columns to the list's width: Name and "Found in..." as wide as their texts, Publisher, Signer and
    // Description too up to a limit, as far as the width allows; Target takes the rest, so all six stay in view.
    void SizeColumns();

private:
    struct Row {
        Entry entry;
        std::wstring iconKey;
        int nameWidth = 0;  // of the caption's text, measured once
        bool newBox = true; // its box may not show its entry's state yet
        std::wstring sortKey;
        int publisherWidth = 0;
        int descriptionWidth = 0;
        int signerWidth = 0;
    };
    struct Shown {
        const Entry* entry;
        std::wstring sortKey;
    };
    static LRESULT CALLBACK ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnListMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // The image of an icon key: the default icon's while the icon is read, or while it waits for ApplyIcons to add
    // it (`addImage` adds it at once).
    int ImageOf(const std::wstring& key, const Entry& entry, bool addImage = false);
    void ShowRows(bool everyBox);
    void InsertRow(int row, const Shown& shown);
    void UpdateRow(int row, const Shown& shown);
    void ShowSortArrow();
    int TextWidth(const std::wstring& text);
    void ApplyChecks(bool everyBox);
    void CompactImages();
    void MakeImages();
    void ApplyFacts();
    void ApplyIcons();

    HINSTANCE m_instance;
    Handlers m_handlers;
    UINT m_dpi = USER_DEFAULT_SCREEN_DPI;
    HWND m_list = nullptr;
    WNDPROC m_listProc = nullptr;

    std::vector<Row> m_rows;
    std::vector<Entry> m_all; // the entries of the last MakeList, shown or not
    std::unique_ptr<TFileFactsReader> m_facts;
    std::wstring m_filterText;
    std::wstring m_filterKey;
    SortOrder m_sort;
    bool m_fixedWidths = false;
    bool m_factsPending = false;
    bool m_readersHeld = false;
    bool m_lookWhenLetGo = false; // the list changed while the readers were held
    bool m_hideWindows = false;
    int m_hiddenCount = 0;
    std::map<std::wstring, int> m_textWidths; // of publishers and descriptions, in the list's font
    bool m_ready = false;
    std::set<WPARAM> m_pressed; // keys pressed while the list had the focus and not yet released

    UniqueFont m_boldFont; // the list's font, bold: the rows of new entries
    UniqueImageList m_images;
    UniqueHicon m_defIcon;
    std::unique_ptr<TIconReader> m_iconReader;
    std::map<std::wstring, UniqueHicon> m_icons; // by icon key: the icons read (none: the file gives none)
    std::map<std::wstring, int> m_imageOf;       // by icon key: the image that shows it
    std::set<std::wstring> m_iconsArrived;       // icons read whose rows do not show them yet
    // What a column needs beside its widest text (check box, icon, margins), as the list itself sizes it; taken
    // once per font, so that sizing the columns never measures every row again.
    int m_nameExtra = -1;
    int m_locationExtra = -1;
};

} // namespace bw
