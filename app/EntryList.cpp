#include "app/EntryList.h"

#include "app/CheckBoxes.h"
#include "app/Controls.h"
#include "platform/Dpi.h"
#include "platform/FileSystem.h"
#include "resources/Texts.h"
#include "resources/resource.h"
#include "store/Locations.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>

namespace bw {

namespace {

constexpr int kEntryIconSize = 32; // at 96 DPI
constexpr int kBoxSize = 16;       // a check box's image, at 96 DPI (the small icons' size, as the list view has it)
constexpr int kBoxMargin = 1;
constexpr int kMinimumTarget = 120; // the least width left to Target, at 96 DPI
constexpr int kMinimumName = 60;
constexpr int kShortenedName = 150; // where a long name stops giving way to Publisher
constexpr int kMaximumPublisher = 150;
constexpr int kMaximumDescription = 220;
constexpr int kMinimumDetail = 60; // the least that Publisher and Description keep while Name can give way
// A Publisher cell whose claim the signature does not confirm: dark red on a pale amber ground.
constexpr COLORREF kUnconfirmedText = RGB(160, 0, 0);
constexpr COLORREF kUnconfirmedGround = RGB(255, 236, 200);
constexpr ULONGLONG kIconsSliceMs = 30;    // the icons read go into the list for about this long at a time
constexpr LPARAM kKeyWasDown = 0x40000000; // of a key message: the key was down before it, the press repeats

// Suspends the list's redrawing for its lifetime and resumes it on every exit.
class RedrawSuspension {
public:
    explicit RedrawSuspension(HWND window) : m_window(window) { ::SendMessageW(m_window, WM_SETREDRAW, FALSE, 0); }
    ~RedrawSuspension() {
        ::SendMessageW(m_window, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(m_window, nullptr, TRUE);
    }
    RedrawSuspension(const RedrawSuspension&) = delete;
    RedrawSuspension& operator=(const RedrawSuspension&) = delete;

private:
    HWND m_window;
};

// Clears ListReady for its lifetime and puts back what it was, however the work ends (a message box, an
// exception): a change the list makes itself is never taken for the user's, and none leaves the boxes dead.
class HeldReady {
public:
    explicit HeldReady(bool& ready) : m_ready(ready), m_was(std::exchange(ready, false)) {}
    ~HeldReady() { m_ready = m_was; }
    HeldReady(const HeldReady&) = delete;
    HeldReady& operator=(const HeldReady&) = delete;

private:
    bool& m_ready;
    bool m_was;
};

// Clears ListReady for its lifetime; only a rebuild that reaches its end sets it again.
class NotReady {
public:
    explicit NotReady(bool& ready) : m_ready(ready) { m_ready = false; }
    void Done() { m_done = true; }
    ~NotReady() { m_ready = m_done; }
    NotReady(const NotReady&) = delete;
    NotReady& operator=(const NotReady&) = delete;

private:
    bool& m_ready;
    bool m_done = false;
};

std::wstring IconKeyOf(const Entry& entry) {
    return entry.iconSource.empty() ? std::wstring() : std::to_wstring(entry.iconIndex) + L"|" + entry.iconSource;
}

bool IsContextMenuKey(WPARAM key) {
    return key == VK_APPS || (key == VK_F10 && ::GetKeyState(VK_SHIFT) < 0);
}

// A box is set for an entry that starts: enabled, and not kept from starting by Windows' own switch.
bool IsChecked(const Entry& entry) {
    return IsEnabledCode(entry.code) && !entry.switchedOffInWindows;
}

} // namespace

TEntryList::TEntryList(HINSTANCE instance, Handlers handlers) : m_instance(instance), m_handlers(std::move(handlers)) {}

TEntryList::~TEntryList() {
    if (m_list != nullptr && ::IsWindow(m_list)) {
        ::SetWindowLongPtrW(m_list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_listProc));
        ::SetWindowLongPtrW(m_list, GWLP_USERDATA, 0);
    }
}

void TEntryList::Create(HWND parent, UINT dpi) {
    m_list = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, nullptr,
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 0, 0, parent,
                               nullptr, m_instance, nullptr);
    ListView_SetExtendedListViewStyle(m_list, LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    // A plain window-procedure subclass: the list gets no notification of a key's release. (The common
    // controls' subclass helper costs two server round trips per message under Wine.)
    ::SetWindowLongPtrW(m_list, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_listProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(m_list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TEntryList::ListProc)));
    LvInsertColumn(m_list, NameColumn, text::kNameColumn, 100);
    LvInsertColumn(m_list, TargetColumn, text::kTargetColumn, 200);
    LvInsertColumn(m_list, LocationColumn, text::kLocationColumn, 120);
    LvInsertColumn(m_list, PublisherColumn, text::kPublisherColumn, 100);
    LvInsertColumn(m_list, DescriptionColumn, text::kFileDescriptionColumn, 120);
    LvInsertColumn(m_list, SignerColumn, text::kSignerColumn, 100);
    // The columns keep their indices (Target is 1, "Found in..." 2); only the order they are shown in changes.
    int order[kColumnCount];
    std::copy(std::begin(kColumnDisplayOrder), std::end(kColumnDisplayOrder), std::begin(order));
    ListView_SetColumnOrderArray(m_list, kColumnCount, order);
    m_dpi = dpi;
    ShowSortArrow();
    // The reader tells the list itself, which takes what it read on the window's thread.
    const HWND list = m_list;
    m_facts = std::make_unique<TFileFactsReader>([list] { ::PostMessageW(list, WM_FACTSREAD, 0, 0); });
    m_iconReader = std::make_unique<TIconReader>(m_instance, [list] { ::PostMessageW(list, WM_ICONSREAD, 0, 0); });
}

LRESULT CALLBACK TEntryList::ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* list = reinterpret_cast<TEntryList*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    return list->OnListMessage(message, wParam, lParam);
}

LRESULT TEntryList::OnListMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_FACTSREAD:
        ApplyFacts();
        return 0;
    case WM_ICONSREAD:
        ApplyIcons();
        return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: // with Alt held
        // Only a key that goes down here is pressed here. A key held on a dialog's button that closed repeats into
        // the list, and those repeats are not a press of the list's; the repeats of its own presses change nothing.
        if ((lParam & kKeyWasDown) == 0) {
            m_pressed.insert(wParam);
        }
        if (IsContextMenuKey(wParam)) {
            return 0; // the menu opens at the release
        }
        break;
    case WM_NOTIFY: {
        // The header tells its parent, the list view, when the user has sized a column; from then on the
        // columns keep the widths the user gave them.
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom == ListView_GetHeader(m_list) &&
            (header->code == HDN_ENDTRACKW || header->code == HDN_DIVIDERDBLCLICKW)) {
            m_fixedWidths = true;
        }
        break;
    }
    case WM_KILLFOCUS:
        // Whatever takes the focus (a dialog, another window) takes the presses with it: their releases are
        // not the list's.
        m_pressed.clear();
        break;
    case WM_KEYUP:
    case WM_SYSKEYUP: // Alt held at the release, whether or not at the press: the modifiers are not examined
        if (IsContextMenuKey(wParam)) {
            // The Menu key and Shift+F10 open the context menu, as the system's window procedure would; it does
            // not see them, so the menu opens once (Wine's list view does not pass them on at all).
            if (m_pressed.erase(wParam) != 0) {
                ::SendMessageW(m_list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_list), -1);
            }
            return 0;
        }
        if (m_pressed.erase(wParam) != 0) {
            ::SendMessageW(::GetParent(m_list), WM_LISTKEYUP, wParam, 0);
            if (!::IsWindow(m_list)) {
                return 0; // the command closed the window
            }
        }
        break; // the list view and the system see every release as before (Alt's opens the window menu)
    }
    return ::CallWindowProcW(m_listProc, m_list, message, wParam, lParam);
}

void TEntryList::ApplyDpi(UINT dpi, HFONT font) {
    // The images change under the rows; the boxes do not, and nothing of it is a toggle.
    const HeldReady held(m_ready);
    m_dpi = dpi;
    ::SendMessageW(m_list, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    LOGFONTW bold{};
    if (font != nullptr && ::GetObjectW(font, sizeof bold, &bold) == sizeof bold) {
        bold.lfWeight = FW_BOLD;
        m_boldFont.Reset(::CreateFontIndirectW(&bold));
    }
    const int iconSize = ScaleToDpi(kEntryIconSize, dpi);
    m_images.Reset(::ImageList_Create(iconSize, iconSize, ILC_COLOR32 | ILC_MASK, 0, 16));
    ListView_SetImageList(m_list, m_images.Get(), LVSIL_SMALL);
    HICON defIcon = static_cast<HICON>(
        ::LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_DEFAULT_ENTRY), IMAGE_ICON, iconSize, iconSize, 0));
    m_defIcon.Reset(defIcon != nullptr ? defIcon : ::CopyIcon(::LoadIconW(nullptr, IDI_APPLICATION)));
    // The rows' images are made anew at the new size from the icons read (the icons a file gives do not depend on
    // the window's DPI), and the texts measured in the new font.
    m_textWidths.clear();
    for (Row& row : m_rows) {
        row.nameWidth = ListView_GetStringWidth(m_list, VisibleName(row.entry.name).c_str());
        row.publisherWidth = TextWidth(row.entry.publisher);
        row.descriptionWidth = TextWidth(row.entry.fileDescription);
        row.signerWidth = TextWidth(SignerText(row.entry));
    }
    m_nameExtra = m_locationExtra = -1;
    m_imageOf.clear();
    MakeImages();
    FitCheckBoxes(m_list, dpi);
    SizeColumns();
}

void TEntryList::Move(int x, int y, int width, int height) {
    ::MoveWindow(m_list, x, y, width, height, TRUE);
    SizeColumns();
}

int TEntryList::ImageOf(const std::wstring& key, const Entry& entry, bool addImage) {
    const auto known = m_imageOf.find(key);
    if (known != m_imageOf.end()) {
        return known->second;
    }
    if (key.empty()) {
        const int image = ::ImageList_AddIcon(m_images.Get(), m_defIcon.Get());
        m_imageOf[key] = image;
        return image;
    }
    const auto icon = m_icons.find(key);
    if (icon == m_icons.end()) {
        // Reading an icon opens its file: the reader does it off the window's thread, and the default icon stands in
        // until it comes (ApplyIcons).
        m_iconReader->Ask(key, entry.iconSource, entry.iconIndex);
        return ImageOf(std::wstring(), entry);
    }
    if (!addImage) {
        // Read, but not in the image list yet: rows that bring hundreds of programs at once would add an image each
        // while they are put in. The images go in with ApplyIcons' slices, the default icon standing in meanwhile.
        if (m_iconsArrived.insert(key).second && m_iconsArrived.size() == 1) {
            ::PostMessageW(m_list, WM_ICONSREAD, 0, 0);
        }
        return ImageOf(std::wstring(), entry);
    }
    // Every entry without an icon of its own shares the one image of the default icon.
    const int image =
        icon->second ? ::ImageList_AddIcon(m_images.Get(), icon->second.Get()) : ImageOf(std::wstring(), entry);
    m_imageOf[key] = image;
    return image;
}

void TEntryList::ApplyIcons() {
    for (TIconReader::Icon& read : m_iconReader->Take()) {
        m_iconsArrived.insert(read.key);
        m_icons[read.key] = std::move(read.icon);
    }
    if (m_iconsArrived.empty()) {
        return;
    }
    // Only the images change; nothing of it is a toggle. Adding an image costs its time: a thousand icons read at
    // once go into the list in slices, so that the window answers in between.
    const HeldReady held(m_ready);
    const ULONGLONG start = ::GetTickCount64();
    std::set<std::wstring> shown;
    for (int row = 0; row < Count(); ++row) {
        const Row& model = m_rows[static_cast<size_t>(row)];
        if (m_iconsArrived.count(model.iconKey) == 0 ||
            (shown.count(model.iconKey) == 0 && ::GetTickCount64() - start >= kIconsSliceMs)) {
            continue;
        }
        shown.insert(model.iconKey);
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        item.iImage = ImageOf(model.iconKey, model.entry, true);
        ::SendMessageW(m_list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    for (const std::wstring& key : shown) {
        m_iconsArrived.erase(key);
    }
    if (shown.empty()) {
        m_iconsArrived.clear(); // icons that no row shows any more wait for nothing
    }
    if (!m_iconsArrived.empty()) {
        ::PostMessageW(m_list, WM_ICONSREAD, 0, 0); // the next slice
    }
}

int TEntryList::TextWidth(const std::wstring& text) {
    if (text.empty()) {
        return 0;
    }
    const auto known = m_textWidths.find(text);
    if (known != m_textWidths.end()) {
        return known->second;
    }
    const int width = ListView_GetStringWidth(m_list, text.c_str());
    m_textWidths.emplace(text, width);
    return width;
}

void TEntryList::InsertRow(int row, const Shown& shown) {
    const Entry& entry = *shown.entry;
    Row model;
    model.entry = entry;
    model.iconKey = IconKeyOf(entry);
    model.nameWidth = ListView_GetStringWidth(m_list, VisibleName(entry.name).c_str());
    model.sortKey = shown.sortKey;
    model.publisherWidth = TextWidth(entry.publisher);
    model.descriptionWidth = TextWidth(entry.fileDescription);
    model.signerWidth = TextWidth(SignerText(entry));
    const int image = ImageOf(model.iconKey, entry);
    m_rows.insert(m_rows.begin() + row, std::move(model));
    LvInsertItem(m_list, row, VisibleName(entry.name), image, 0); // a name may hold a zero
    for (int column : {TargetColumn, LocationColumn, PublisherColumn, DescriptionColumn, SignerColumn}) {
        LvSetItemText(m_list, row, column, ColumnText(entry, column));
    }
}

void TEntryList::UpdateRow(int row, const Shown& shown) {
    const Entry& entry = *shown.entry;
    Row& model = m_rows[static_cast<size_t>(row)];
    const Entry before = std::move(model.entry);
    model.entry = entry;
    model.sortKey = shown.sortKey;
    model.newBox = true;
    const std::wstring key = IconKeyOf(entry);
    if (key != model.iconKey) {
        model.iconKey = key;
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        item.iImage = ImageOf(key, entry);
        ::SendMessageW(m_list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    if (before.target != entry.target) {
        LvSetItemText(m_list, row, TargetColumn, TargetText(row));
    }
    if (before.publisher != entry.publisher) {
        model.publisherWidth = TextWidth(entry.publisher);
        LvSetItemText(m_list, row, PublisherColumn, entry.publisher);
    }
    if (before.fileDescription != entry.fileDescription) {
        model.descriptionWidth = TextWidth(entry.fileDescription);
        LvSetItemText(m_list, row, DescriptionColumn, entry.fileDescription);
    }
    const std::wstring signer = SignerText(entry);
    if (SignerText(before) != signer) {
        model.signerWidth = TextWidth(signer);
        LvSetItemText(m_list, row, SignerColumn, signer);
    }
    if (ClaimUnconfirmed(before) != ClaimUnconfirmed(entry)) {
        ListView_RedrawItems(m_list, row, row); // its Publisher cell is marked, or no longer
    }
}

void TEntryList::ApplyChecks(bool everyBox) {
    // Set after the rows are in: a check state given at insertion is dropped by some list views.
    for (int row = 0; row < Count(); ++row) {
        Row& model = m_rows[static_cast<size_t>(row)];
        if (!everyBox && !model.newBox) {
            continue;
        }
        model.newBox = false;
        const bool checked = IsChecked(model.entry);
        if (LvGetCheck(m_list, row) != checked) {
            LvSetCheck(m_list, row, checked);
        }
    }
}

void TEntryList::MakeList(const std::vector<Entry>& entries, bool everyBox) {
    NotReady notReady(m_ready);
    m_all = entries;
    if (m_readersHeld) {
        m_lookWhenLetGo = true;
    } else {
        m_facts->Look(m_all);
    }
    m_factsPending = !m_facts->Apply(m_all);
    ShowRows(everyBox);
    notReady.Done();
}

void TEntryList::HoldReaders(bool held) {
    if (m_facts && m_iconReader) {
        m_readersHeld = held;
        if (!held && std::exchange(m_lookWhenLetGo, false)) {
            m_facts->Look(m_all);
        }
        m_facts->Hold(held);
        m_iconReader->Hold(held);
    }
}

void TEntryList::LookAgain() {
    m_facts->Look(m_all);
    // Pending until the reader has looked (at once done when no entry names a program).
    m_factsPending = !m_facts->Apply(m_all);
}

void TEntryList::ApplyFacts() {
    m_factsPending = !m_facts->Apply(m_all);
    {
        const HeldReady held(m_ready);
        ShowRows(false);
    }
    if (m_handlers.factsRead) {
        m_handlers.factsRead();
    }
}

void TEntryList::SetHideWindows(bool hide) {
    if (hide == m_hideWindows) {
        return;
    }
    m_hideWindows = hide;
    const HeldReady held(m_ready);
    ShowRows(false);
}

void TEntryList::ShowRows(bool everyBox) {
    // The entries to show, in the list's order; each sort key is made once.
    std::vector<Shown> entries;
    entries.reserve(m_all.size());
    m_hiddenCount = 0;
    for (const Entry& entry : m_all) {
        if (m_hideWindows && IsWindowsOwn(entry)) {
            ++m_hiddenCount;
        } else if (MatchesFilter(entry, m_filterKey)) {
            entries.push_back({&entry, SortKeyOf(entry, m_sort.column)});
        }
    }
    const bool descending = m_sort.descending;
    std::sort(entries.begin(), entries.end(), [descending](const Shown& a, const Shown& b) {
        return CompareEntries(a.sortKey, *a.entry, b.sortKey, *b.entry, descending) < 0;
    });
    // The selected entries and the one with the focus keep them wherever their rows move; some list views let
    // the focus go when rows are inserted or deleted before it.
    std::vector<std::pair<std::wstring, int>> selected;
    for (int row : SelectedRows()) {
        selected.emplace_back(RowEntry(row).name, RowEntry(row).code);
    }
    const int focusedRow = ListView_GetNextItem(m_list, -1, LVNI_FOCUSED);
    std::optional<std::pair<std::wstring, int>> focused;
    if (focusedRow >= 0 && focusedRow < Count()) {
        focused.emplace(RowEntry(focusedRow).name, RowEntry(focusedRow).code);
    }
    bool changed = false;
    const int top = Count() > 0 ? ListView_GetTopIndex(m_list) : 0;
    {
        std::unique_ptr<RedrawSuspension> suspension;
        size_t next = 0;
        int row = 0;
        while (next < entries.size() || row < Count()) {
            const Row* model = row < Count() ? &m_rows[static_cast<size_t>(row)] : nullptr;
            const int order = next == entries.size() ? 1
                              : model == nullptr     ? -1
                                                     : CompareEntries(entries[next].sortKey, *entries[next].entry,
                                                                      model->sortKey, model->entry, descending);
            if (order == 0 && *entries[next].entry == model->entry) {
                ++next;
                ++row;
                continue; // an unchanged row is left alone
            }
            if (!suspension) {
                suspension = std::make_unique<RedrawSuspension>(m_list);
                changed = true;
            }
            if (order == 0) {
                UpdateRow(row++, entries[next++]);
            } else if (order < 0) {
                InsertRow(row++, entries[next++]);
            } else {
                ListView_DeleteItem(m_list, row);
                m_rows.erase(m_rows.begin() + row);
            }
        }
        ApplyChecks(everyBox);
        if (suspension) {
            CompactImages();
            SizeColumns();
        }
    }
    if (changed) {
        for (const auto& [name, code] : selected) {
            const int row = FindRow(name, code);
            if (row >= 0 && !(ListView_GetItemState(m_list, row, LVIS_SELECTED) & LVIS_SELECTED)) {
                ListView_SetItemState(m_list, row, LVIS_SELECTED, LVIS_SELECTED);
            }
        }
        const int row = focused ? FindRow(focused->first, focused->second) : -1;
        if (row >= 0 && ListView_GetNextItem(m_list, -1, LVNI_FOCUSED) != row) {
            ListView_SetItemState(m_list, row, LVIS_FOCUSED, LVIS_FOCUSED);
        }
        // Rows removed and put in again elsewhere, and the selection set again, do not scroll the list: the rows
        // in view stay in view.
        const int nowTop = Count() > 0 ? ListView_GetTopIndex(m_list) : 0;
        RECT first{};
        if (nowTop != top && Count() > 0 && ListView_GetItemRect(m_list, 0, &first, LVIR_BOUNDS)) {
            ListView_Scroll(m_list, 0, (top - nowTop) * (first.bottom - first.top));
        }
    }
    if (m_handlers.listed) {
        m_handlers.listed();
    }
}

void TEntryList::SetFilter(const std::wstring& text) {
    if (text == m_filterText) {
        return;
    }
    m_filterText = text;
    m_filterKey = FilterKeyOf(text);
    const HeldReady held(m_ready);
    ShowRows(false);
}

void TEntryList::SortBy(int column) {
    SetSort(SortOrder{column, m_sort.column == column && !m_sort.descending});
}

void TEntryList::SetSort(SortOrder order) {
    if (!IsListColumn(order.column) || order == m_sort) {
        return;
    }
    m_sort = order;
    ShowSortArrow();
    if (m_rows.empty()) {
        return;
    }
    // The rows are put in again in the new order; the selection and the focus go with their entries, and the
    // focused row stays in view.
    std::set<std::pair<int, std::wstring>> selected;
    for (int row : SelectedRows()) {
        selected.emplace(RowEntry(row).code, RowEntry(row).name);
    }
    const int focusedRow = ListView_GetNextItem(m_list, -1, LVNI_FOCUSED);
    std::optional<std::pair<int, std::wstring>> focused;
    if (focusedRow >= 0 && focusedRow < Count()) {
        focused.emplace(RowEntry(focusedRow).code, RowEntry(focusedRow).name);
    }
    const HeldReady held(m_ready);
    {
        RedrawSuspension suspension(m_list);
        ListView_DeleteAllItems(m_list);
        m_rows.clear();
        ShowRows(false);
        for (int row = 0; row < Count(); ++row) {
            const std::pair<int, std::wstring> key(RowEntry(row).code, RowEntry(row).name);
            UINT state = selected.count(key) != 0 ? LVIS_SELECTED : 0;
            if (focused && *focused == key) {
                state |= LVIS_FOCUSED;
                ListView_EnsureVisible(m_list, row, FALSE);
            }
            if (state != 0) {
                ListView_SetItemState(m_list, row, state, state);
            }
        }
    }
}

void TEntryList::ShowSortArrow() {
    const HWND header = ListView_GetHeader(m_list);
    for (int column = 0; column < kColumnCount; ++column) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        if (!Header_GetItem(header, column, &item)) {
            continue;
        }
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (column == m_sort.column) {
            item.fmt |= m_sort.descending ? HDF_SORTDOWN : HDF_SORTUP;
        }
        Header_SetItem(header, column, &item);
    }
}

std::vector<int> TEntryList::ColumnWidths() const {
    std::vector<int> widths;
    for (int column = 0; column < kColumnCount; ++column) {
        widths.push_back(ListView_GetColumnWidth(m_list, column));
    }
    return widths;
}

void TEntryList::SetColumnWidths(const std::vector<int>& widths) {
    for (int column = 0; column < kColumnCount && column < static_cast<int>(widths.size()); ++column) {
        ListView_SetColumnWidth(m_list, column, widths[static_cast<size_t>(column)]);
    }
    m_fixedWidths = true;
}

void TEntryList::MakeImages() {
    for (int row = 0; row < Count(); ++row) {
        Row& model = m_rows[static_cast<size_t>(row)];
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        item.iImage = ImageOf(model.iconKey, model.entry, true);
        ::SendMessageW(m_list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
}

void TEntryList::CompactImages() {
    // Images of icons no row shows any more are let go once there are more of them than of rows, so the
    // image list never grows beyond a bound over a long run.
    std::set<std::wstring> used;
    for (const Row& row : m_rows) {
        used.insert(row.iconKey);
    }
    if (m_imageOf.size() <= used.size() * 2 + 16) {
        return;
    }
    for (auto icon = m_icons.begin(); icon != m_icons.end();) {
        icon = used.count(icon->first) ? std::next(icon) : m_icons.erase(icon);
    }
    m_imageOf.clear();
    ::ImageList_RemoveAll(m_images.Get());
    MakeImages();
}

int TEntryList::FindRow(const std::wstring& name, int code) const {
    for (int row = 0; row < Count(); ++row) {
        if (RowEntry(row).code == code && RowEntry(row).name == name) {
            return row;
        }
    }
    return -1;
}

int TEntryList::Selected() const {
    return LvGetSelected(m_list);
}

std::vector<int> TEntryList::SelectedRows() const {
    std::vector<int> rows;
    for (int row = ListView_GetNextItem(m_list, -1, LVNI_SELECTED); row >= 0 && row < Count();
         row = ListView_GetNextItem(m_list, row, LVNI_SELECTED)) {
        rows.push_back(row);
    }
    return rows;
}

void TEntryList::SelectRow(int row) {
    ListView_SetItemState(m_list, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(m_list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetSelectionMark(m_list, row);
    ListView_EnsureVisible(m_list, row, FALSE);
}

std::wstring TEntryList::TargetText(int row) const {
    return ColumnText(RowEntry(row), TargetColumn);
}

LRESULT TEntryList::HandleNotify(const NMHDR& header) {
    switch (header.code) {
    case LVN_ITEMCHANGED: {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if (change.iItem < 0 || change.iItem >= Count()) {
            return 0;
        }
        if ((change.uChanged & LVIF_STATE) && ((change.uOldState ^ change.uNewState) & LVIS_SELECTED) &&
            m_handlers.selected) {
            m_handlers.selected(change.iItem, (change.uNewState & LVIS_SELECTED) != 0);
        }
        // A toggle is a change of this item's box in this very notification, and nothing else: a notification
        // about the selection or the focus says nothing of the box, whatever the box shows, and no state kept
        // from an earlier notification (which may have been about another item) takes part.
        const UINT oldBox = change.uOldState & LVIS_STATEIMAGEMASK;
        const UINT newBox = change.uNewState & LVIS_STATEIMAGEMASK;
        if (m_ready && (change.uChanged & LVIF_STATE) && oldBox != 0 && newBox != 0 && oldBox != newBox &&
            m_handlers.toggled) {
            m_handlers.toggled(change.iItem, newBox == INDEXTOSTATEIMAGEMASK(2));
        }
        return 0;
    }
    case NM_CUSTOMDRAW: {
        // An entry that Windows' own switch keeps from starting is drawn in the grey of what is not in force; one
        // marked new, in bold; the Publisher cell of one whose claim its signature does not confirm, in dark red on
        // amber.
        auto& draw = const_cast<NMLVCUSTOMDRAW&>(reinterpret_cast<const NMLVCUSTOMDRAW&>(header));
        if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) {
            return CDRF_NOTIFYITEMDRAW;
        }
        const auto row = static_cast<int>(draw.nmcd.dwItemSpec);
        if (row < 0 || row >= Count()) {
            return CDRF_DODEFAULT;
        }
        const Entry& entry = RowEntry(row);
        const bool unconfirmed = ClaimUnconfirmed(entry);
        if (draw.nmcd.dwDrawStage == (CDDS_ITEMPREPAINT | CDDS_SUBITEM)) {
            // Each cell of a marked row is drawn on its own; only the Publisher cell stands out, and a selected
            // row keeps the selection's colours.
            const bool marked = draw.iSubItem == PublisherColumn &&
                                (ListView_GetItemState(m_list, row, LVIS_SELECTED) & LVIS_SELECTED) == 0;
            draw.clrText = marked                       ? kUnconfirmedText
                           : entry.switchedOffInWindows ? ::GetSysColor(COLOR_GRAYTEXT)
                                                        : CLR_DEFAULT;
            draw.clrTextBk = marked ? kUnconfirmedGround : CLR_DEFAULT;
            return CDRF_NEWFONT;
        }
        if (draw.nmcd.dwDrawStage != CDDS_ITEMPREPAINT) {
            return CDRF_DODEFAULT;
        }
        if (entry.switchedOffInWindows) {
            draw.clrText = ::GetSysColor(COLOR_GRAYTEXT);
        }
        LRESULT result = unconfirmed ? CDRF_NOTIFYSUBITEMDRAW : CDRF_DODEFAULT;
        if (m_boldFont && m_handlers.isNew && m_handlers.isNew(entry)) {
            ::SelectObject(draw.nmcd.hdc, m_boldFont.Get());
            result |= CDRF_NEWFONT;
        }
        return result;
    }
    case LVN_COLUMNCLICK:
        SortBy(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
        return 0;
    case NM_DBLCLK: // a double click on a row opens its properties, as Enter does
        if (m_handlers.doubleClicked) {
            m_handlers.doubleClicked();
        }
        return 0;
    }
    return 0;
}

void TEntryList::SizeColumns() {
    RECT client{};
    ::GetClientRect(m_list, &client);
    // Rows put in or taken out while the list does not redraw show or hide its vertical scroll bar only when it
    // redraws again: the columns share the width that is left beside the bar as those rows will have it, so that
    // no horizontal bar comes with the vertical one (and no second sizing, nor a second drawing of the bars).
    const bool barShown = (::GetWindowLongPtrW(m_list, GWL_STYLE) & WS_VSCROLL) != 0;
    const bool barWanted = Count() > ListView_GetCountPerPage(m_list);
    const int bar = barShown == barWanted ? 0 : MetricAtDpi(SM_CXVSCROLL, m_dpi);
    const int width = client.right - client.left + (barShown ? bar : 0) - (barWanted ? bar : 0);
    if (width <= 0 || m_rows.empty() || m_fixedWidths) {
        return;
    }
    int widestName = ListView_GetStringWidth(m_list, text::kNameColumn);
    int widestPublisher = ListView_GetStringWidth(m_list, text::kPublisherColumn);
    int widestDescription = ListView_GetStringWidth(m_list, text::kFileDescriptionColumn);
    int widestSigner = ListView_GetStringWidth(m_list, text::kSignerColumn);
    std::set<int> codes;
    for (const Row& row : m_rows) {
        widestName = std::max(widestName, row.nameWidth);
        widestPublisher = std::max(widestPublisher, row.publisherWidth);
        widestDescription = std::max(widestDescription, row.descriptionWidth);
        widestSigner = std::max(widestSigner, row.signerWidth);
        codes.insert(row.entry.code);
    }
    int widestLocation = ListView_GetStringWidth(m_list, text::kLocationColumn);
    for (int code : codes) {
        widestLocation = std::max(widestLocation, ListView_GetStringWidth(m_list, LocationText(code).c_str()));
    }
    if (m_nameExtra < 0) {
        // The list sizes a column to its texts once; what it adds to the widest text is kept.
        ListView_SetColumnWidth(m_list, NameColumn, LVSCW_AUTOSIZE_USEHEADER);
        m_nameExtra = std::max(0, ListView_GetColumnWidth(m_list, NameColumn) - widestName);
        ListView_SetColumnWidth(m_list, LocationColumn, LVSCW_AUTOSIZE);
        m_locationExtra =
            std::max(ScaleToDpi(12, m_dpi), ListView_GetColumnWidth(m_list, LocationColumn) - widestLocation);
    }
    const int location = widestLocation + m_locationExtra;
    int name = widestName + m_nameExtra;
    int publisher = std::min(widestPublisher + m_locationExtra, ScaleToDpi(kMaximumPublisher, m_dpi));
    int description = std::min(widestDescription + m_locationExtra, ScaleToDpi(kMaximumDescription, m_dpi));
    int signer = std::min(widestSigner + m_locationExtra, ScaleToDpi(kMaximumPublisher, m_dpi));
    // Target keeps at least its share; Description, Publisher and then a long name are cut short rather than
    // pushing "Found in..." out of view.
    const int leastTarget = ScaleToDpi(kMinimumTarget, m_dpi);
    int over = name + publisher + signer + description + location + leastTarget - width;
    const int leastDetail = ScaleToDpi(kMinimumDetail, m_dpi);
    for (const auto& [column, least] : {std::pair<int*, int>{&description, leastDetail},
                                        {&name, ScaleToDpi(kShortenedName, m_dpi)},
                                        {&signer, leastDetail},
                                        {&publisher, leastDetail},
                                        {&name, ScaleToDpi(kMinimumName, m_dpi)},
                                        {&description, 0},
                                        {&signer, 0},
                                        {&publisher, 0}}) {
        const int given = std::clamp(*column - least, 0, std::max(over, 0));
        *column -= given;
        over -= given;
    }
    ListView_SetColumnWidth(m_list, NameColumn, name);
    ListView_SetColumnWidth(m_list, PublisherColumn, publisher);
    ListView_SetColumnWidth(m_list, DescriptionColumn, description);
    ListView_SetColumnWidth(m_list, SignerColumn, signer);
    ListView_SetColumnWidth(m_list, LocationColumn, location);
    ListView_SetColumnWidth(
        m_list, TargetColumn,
        std::max(width - name - publisher - signer - description - location, ScaleToDpi(40, m_dpi)));
}

} // namespace bw
