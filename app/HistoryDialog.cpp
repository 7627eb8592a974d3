#include "app/HistoryDialog.h"

#include "app/Controls.h"
#include "platform/FileSystem.h"
#include "resources/Texts.h"
#include "store/Entry.h"
#include "store/Locations.h"

#include <commctrl.h>

#include <cwchar>

namespace bw {

namespace {

const wchar_t* ChangeText(HistoryChange change) {
    switch (change) {
    case HistoryChange::Added:
        return text::kHistoryAdded;
    case HistoryChange::Changed:
        return text::kHistoryChanged;
    case HistoryChange::Removed:
        return text::kHistoryRemoved;
    case HistoryChange::SwitchedOff:
        return text::kHistorySwitchedOff;
    case HistoryChange::SwitchedOn:
        return text::kHistorySwitchedOn;
    case HistoryChange::Deleted:
        return text::kHistoryDeleted;
    }
    return L"";
}

const wchar_t* ActorText(HistoryActor actor) {
    switch (actor) {
    case HistoryActor::Window:
        return text::kHistoryByWindow;
    case HistoryActor::Cli:
        return text::kHistoryByCli;
    case HistoryActor::Watcher:
        return text::kHistoryByWatcher;
    case HistoryActor::Outside:
        return text::kHistoryByOutside;
    }
    return L"";
}

std::wstring LocalTimeText(std::uint64_t time) {
    const FILETIME utc{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    SYSTEMTIME universal{};
    SYSTEMTIME local{};
    if (!::FileTimeToSystemTime(&utc, &universal) || !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
        return HistoryTimeText(time);
    }
    wchar_t text[32];
    std::swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
                  local.wMinute, local.wSecond);
    return text;
}

constexpr int kColumnWidths[] = {130, 80, 90, 140, 150, 320};
const wchar_t* const kColumnTitles[] = {text::kHistoryTimeColumn, text::kHistoryChangeColumn, text::kHistoryByColumn,
                                        text::kLocationColumn,    text::kNameColumn,          text::kCliCommandColumn};

struct DialogState {
    std::vector<std::vector<std::wstring>> rows;
    HWND filter = nullptr;
    HWND list = nullptr;
};

void FillList(DialogState& state) {
    ::SendMessageW(state.list, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(state.list);
    int item = 0;
    for (const auto& row : FilteredRows(state.rows, HwndGetText(state.filter))) {
        LvInsertItem(state.list, item, row[0], -1, 0);
        for (int column = 1; column < static_cast<int>(row.size()); ++column) {
            LvSetItemText(state.list, item, column, row[column]);
        }
        ++item;
    }
    ::SendMessageW(state.list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(state.list, nullptr, TRUE);
}

void Layout(HWND dialog, const DialogState& state) {
    RECT client{};
    ::GetClientRect(dialog, &client);
    const UINT dpi = WindowDpi(dialog);
    const int margin = ScaleToDpi(8, dpi);
    const int editHeight = ScaleToDpi(23, dpi);
    const int width = client.right - 2 * margin;
    ::MoveWindow(state.filter, margin, margin, width, editHeight, TRUE);
    const int top = 2 * margin + editHeight;
    ::MoveWindow(state.list, margin, top, width, client.bottom - top - margin, TRUE);
}

INT_PTR CALLBACK HistoryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<DialogState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<DialogState*>(lParam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        ::SetWindowTextW(dialog, text::kHistoryTitle);
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        state->filter = ::CreateWindowExW(
            WS_EX_CLIENTEDGE, WC_EDITW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0, 0, 0, dialog,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kHistoryFilterId)), instance, nullptr);
        ::SendMessageW(state->filter, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(text::kHistoryFilterCue));
        state->list = ::CreateWindowExW(
            WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS, 0,
            0, 0, 0, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kHistoryListId)), instance, nullptr);
        ListView_SetExtendedListViewStyle(state->list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
        const HFONT font = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
        ::SendMessageW(state->filter, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        ::SendMessageW(state->list, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        const UINT dpi = WindowDpi(dialog);
        for (int column = 0; column < 6; ++column) {
            LvInsertColumn(state->list, column, kColumnTitles[column], ScaleToDpi(kColumnWidths[column], dpi));
        }
        if (state->rows.empty()) {
            ::SendMessageW(state->filter, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(text::kCliNoHistory));
        }
        Layout(dialog, *state);
        FillList(*state);
        // Each column but the last as wide as its widest text or its title: a time or a name is read whole.
        for (int column = 0; column < 5; ++column) {
            ListView_SetColumnWidth(state->list, column, LVSCW_AUTOSIZE_USEHEADER);
        }
        ::SetFocus(state->filter);
        return FALSE; // the focus is set
    }
    case WM_SIZE:
        if (state) {
            Layout(dialog, *state);
        }
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
            ::EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        if (LOWORD(wParam) == kHistoryFilterId && HIWORD(wParam) == EN_CHANGE && state) {
            FillList(*state);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// A dialog template of no items, in memory: the controls are made at WM_INITDIALOG, the texts are the program's.
std::vector<WORD> EmptyTemplate(short cx, short cy) {
    std::vector<WORD> words;
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME | DS_SETFONT | DS_CENTER;
    words.push_back(LOWORD(style));
    words.push_back(HIWORD(style));
    words.push_back(0); // extended style
    words.push_back(0);
    words.push_back(0); // no items
    for (short value : {short(0), short(0), cx, cy}) {
        words.push_back(static_cast<WORD>(value));
    }
    words.push_back(0); // no menu
    words.push_back(0); // the standard dialog class
    words.push_back(0); // the title is set at WM_INITDIALOG
    words.push_back(9);
    for (const wchar_t* font = L"Segoe UI"; *font != L'\0'; ++font) {
        words.push_back(static_cast<WORD>(*font));
    }
    words.push_back(0);
    return words;
}

} // namespace

std::vector<std::vector<std::wstring>> HistoryRows(const std::vector<HistoryLine>& history) {
    std::vector<std::vector<std::wstring>> rows;
    rows.reserve(history.size());
    for (const HistoryLine& line : history) {
        rows.push_back({LocalTimeText(line.time), ChangeText(line.change), ActorText(line.by), LocationText(line.code),
                        VisibleName(line.name), line.start});
    }
    return rows;
}

std::vector<std::vector<std::wstring>> FilteredRows(const std::vector<std::vector<std::wstring>>& rows,
                                                    const std::wstring& filter) {
    if (filter.empty()) {
        return rows;
    }
    const std::wstring folded = FoldedName(filter);
    std::vector<std::vector<std::wstring>> kept;
    for (const auto& row : rows) {
        for (const std::wstring& cell : row) {
            if (FoldedName(cell).find(folded) != std::wstring::npos) {
                kept.push_back(row);
                break;
            }
        }
    }
    return kept;
}

void ShowHistoryDialog(HWND owner) {
    DialogState state;
    state.rows = HistoryRows(ReadHistory());
    const std::vector<WORD> dialog = EmptyTemplate(460, 260);
    (void)::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(dialog.data()),
                                    owner, HistoryProc, reinterpret_cast<LPARAM>(&state));
}

} // namespace bw
