#include "app/MainForm.h"

#include "app/Controls.h"
#include "app/EntryIcon.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/ShellLink.h"
#include "resources/resource.h"
#include "store/Import.h"
#include "store/Locations.h"

#include <shellapi.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace bw {

namespace {

constexpr const wchar_t* kWindowClass = L"BootwardenMainWindow";
constexpr const wchar_t* kCaption = L"Bootwarden";
constexpr UINT_PTR kListSubclassId = 1;

// Pixel sizes at 96 DPI.
constexpr RECT kRestoredBounds{196, 122, 196 + 544, 122 + 387};
constexpr int kToolBarHeight = 25;
constexpr int kButtonWidth = 25;
constexpr int kButtonHeight = 23;
constexpr int kSeparator = 8;
constexpr int kHelpSeparator = 109;
constexpr int kProgressWidth = 11;
constexpr int kEntryIconSize = 32;
constexpr int kFontPoints = 8;
constexpr int kMinimumTargetWidth = 120;

// Glyph indices in the tool bar strip.
enum Glyph { RefreshGlyph = 0, DeleteGlyph = 1, AddGlyph = 2, HelpGlyph = 3, PropertiesGlyph = 4 };

// Columns of the list: the caption, the target ("Target") and the location text ("Found in...").
enum Column { NameColumn = 0, TargetColumn = 1, LocationColumn = 2 };

constexpr const wchar_t* kNotFound = L"Not Found";

const wchar_t* HintOf(UINT_PTR command) {
    switch (command) {
    case TMainForm::PropButton:
        return L"View Properties";
    case TMainForm::RefreshButton:
        return L"Refresh";
    case TMainForm::AddButton:
        return L"Add new shortcut";
    case TMainForm::DeleteButton:
        return L"Delete shortcut";
    case TMainForm::HelpButton:
        return L"Help";
    }
    return L"";
}

UINT WindowDpi(HWND window) {
    // GetDpiForWindow exists from Windows 10 1607 on; earlier systems scale nothing for us.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi != 0) {
            return dpi;
        }
    }
    HDC dc = ::GetDC(window);
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

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

// A greyed, lighter copy of a glyph strip for disabled buttons; the magenta background stays as it is.
// (Deriving disabled glyphs from the mask alone turns a glyph with a light body into a grey block.)
HBITMAP FadedCopy(HBITMAP strip) {
    DIBSECTION section{};
    if (::GetObjectW(strip, sizeof section, &section) != sizeof section || section.dsBm.bmBitsPixel != 24 ||
        section.dsBm.bmBits == nullptr) {
        return nullptr;
    }
    auto copy = static_cast<HBITMAP>(::CopyImage(strip, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    DIBSECTION target{};
    if (copy == nullptr || ::GetObjectW(copy, sizeof target, &target) != sizeof target ||
        target.dsBm.bmBits == nullptr) {
        return copy;
    }
    auto* bits = static_cast<BYTE*>(target.dsBm.bmBits);
    for (LONG y = 0; y < target.dsBm.bmHeight; ++y) {
        BYTE* pixel = bits + static_cast<size_t>(y) * static_cast<size_t>(target.dsBm.bmWidthBytes);
        for (LONG x = 0; x < target.dsBm.bmWidth; ++x, pixel += 3) {
            if (pixel[0] == 255 && pixel[1] == 0 && pixel[2] == 255) {
                continue;
            }
            const int grey = (pixel[0] * 11 + pixel[1] * 59 + pixel[2] * 30) / 100;
            const auto faded = static_cast<BYTE>(128 + grey / 2);
            pixel[0] = pixel[1] = pixel[2] = faded;
        }
    }
    return copy;
}

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (; *text != '\0'; ++text) {
        wide.push_back(static_cast<unsigned char>(*text));
    }
    return wide;
}

// Runs one message handler of the window. This is the one place where the program's errors are caught:
// the error box shows them, and the window goes on.
template <typename Handler>
LRESULT Guarded(TMainForm& form, Handler handler, void (TMainForm::*show)(const std::wstring&)) {
    try {
        return handler();
    } catch (const EBootwarden& error) {
        (form.*show)(error.Message());
    } catch (const std::exception& error) {
        (form.*show)(Widen(error.what()));
    }
    return 0;
}

} // namespace

void TProgressBarAdapter::SetMax(int value) {
    m_max = value;
    ::SendMessageW(m_bar, PBM_SETRANGE32, static_cast<WPARAM>(m_min), static_cast<LPARAM>(m_max));
}

void TProgressBarAdapter::SetMin(int value) {
    m_min = value;
    ::SendMessageW(m_bar, PBM_SETRANGE32, static_cast<WPARAM>(m_min), static_cast<LPARAM>(m_max));
}

void TProgressBarAdapter::SetPosition(int value) {
    ::SendMessageW(m_bar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

TMainForm::TMainForm(HINSTANCE instance, TDesktop& desktop, std::wstring programDir)
    : m_instance(instance), m_desktop(desktop), m_programDir(std::move(programDir)) {}

TMainForm::~TMainForm() {
    if (m_window != nullptr && ::IsWindow(m_window)) {
        ::DestroyWindow(m_window);
    }
}

bool TMainForm::Create(int showCommand) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    if (!::GetClassInfoExW(m_instance, kWindowClass, &windowClass)) {
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = m_instance;
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kWindowClass;
        windowClass.hIcon = static_cast<HICON>(
            ::LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
        windowClass.hIconSm = static_cast<HICON>(::LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                                              ::GetSystemMetrics(SM_CXSMICON),
                                                              ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        if (!::RegisterClassExW(&windowClass)) {
            return false;
        }
    }
    m_window = ::CreateWindowExW(0, kWindowClass, kCaption, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, kRestoredBounds.left,
                                 kRestoredBounds.top, kRestoredBounds.right - kRestoredBounds.left,
                                 kRestoredBounds.bottom - kRestoredBounds.top, nullptr, nullptr, m_instance, this);
    if (m_window == nullptr) {
        return false;
    }
    // The restored bounds are 96-DPI pixels and scale with the window's monitor.
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    ::GetWindowPlacement(m_window, &placement);
    placement.rcNormalPosition = {Scale(kRestoredBounds.left), Scale(kRestoredBounds.top), Scale(kRestoredBounds.right),
                                  Scale(kRestoredBounds.bottom)};
    placement.showCmd = SW_HIDE;
    ::SetWindowPlacement(m_window, &placement);
    ::ShowWindow(m_window, showCommand);
    ::UpdateWindow(m_window);
    ::SetFocus(m_list);
    return true;
}

LRESULT CALLBACK TMainForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* form = static_cast<TMainForm*>(create->lpCreateParams);
        form->m_window = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TMainForm*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    return Guarded(
        *form, [&] { return form->HandleMessage(message, wParam, lParam); }, &TMainForm::ShowException);
}

LRESULT CALLBACK TMainForm::ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR data) {
    auto* form = reinterpret_cast<TMainForm*>(data);
    if (message == WM_KEYUP) {
        Guarded(
            *form,
            [&]() -> LRESULT {
                form->ListKeyUp(wParam);
                return 0;
            },
            &TMainForm::ShowException);
    }
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(window, ListProc, kListSubclassId);
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

void TMainForm::ShowException(const std::wstring& message) {
    // While the box is open, coming back to the window must not refresh: the refresh would as likely fail
    // the same way and stack a second box on the first. It runs once the box is closed.
    m_errorBoxOpen = true;
    m_desktop.ShowError(m_window, ApplicationTitle(ModulePath()), ErrorBoxText(message));
    m_errorBoxOpen = false;
    if (m_refreshAfterErrorBox && m_window != nullptr) {
        m_refreshAfterErrorBox = false;
        ::PostMessageW(m_window, WM_APP_ACTIVATE, 0, 0);
    }
}

LRESULT TMainForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        CreateControls();
        FormCreate();
        return 0;
    case WM_SIZE:
        LayOutControls();
        return 0;
    case WM_SETFOCUS:
        ::SetFocus(m_list);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case PropButton:
            PropButtonClick();
            return 0;
        case RefreshButton:
            RefreshButtonClick();
            return 0;
        case AddButton:
            AddButtonClick();
            return 0;
        case DeleteButton:
            DeleteButtonClick();
            return 0;
        case HelpButton:
            HelpButtonClick();
            return 0;
        }
        break;
    case WM_NOTIFY:
        return HandleNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_ACTIVATEAPP:
        if (wParam) {
            // The refresh runs once the activation itself has been handled.
            ::PostMessageW(m_window, WM_APP_ACTIVATE, 0, 0);
        }
        return 0;
    case WM_APP_ACTIVATE: // AppEvents1Activate
        if (m_errorBoxOpen) {
            m_refreshAfterErrorBox = true;
            return 0;
        }
        RefreshAll();
        return 0;
    case WM_APP_TOGGLE:
        ToggleEntry();
        return 0;
    case WM_DPICHANGED: {
        ApplyDpi(HIWORD(wParam));
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(m_window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        if (m_listReady) {
            MakeList(); // the rows' icons are made anew at the new size
        }
        return 0;
    }
    case WM_CLOSE:
        if (FormClose()) {
            ::DestroyWindow(m_window);
        }
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        const HWND window = m_window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        m_window = nullptr;
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    }
    return ::DefWindowProcW(m_window, message, wParam, lParam);
}

LRESULT TMainForm::HandleNotify(const NMHDR& header) {
    if (header.hwndFrom == m_list) {
        switch (header.code) {
        case LVN_ITEMCHANGING: {
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            if (change.iItem >= 0) {
                ListChanging(change.iItem);
            }
            return FALSE; // every change goes ahead
        }
        case LVN_ITEMCHANGED: {
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            if (change.iItem < 0) {
                return 0;
            }
            if ((change.uChanged & LVIF_STATE) && ((change.uOldState ^ change.uNewState) & LVIS_SELECTED)) {
                ListSelectItem(change.iItem, (change.uNewState & LVIS_SELECTED) != 0);
            }
            ListChange(change.iItem);
            return 0;
        }
        case NM_DBLCLK: // ListDblClick
            PropButtonClick();
            return 0;
        }
        return 0;
    }
    if (header.code == TTN_GETDISPINFOW) {
        auto& info = const_cast<NMTTDISPINFOW&>(reinterpret_cast<const NMTTDISPINFOW&>(header));
        info.lpszText = const_cast<wchar_t*>(HintOf(header.idFrom));
        return 0;
    }
    return 0;
}

int TMainForm::Scale(int pixels) const {
    return ::MulDiv(pixels, static_cast<int>(m_dpi), USER_DEFAULT_SCREEN_DPI);
}

void TMainForm::CreateControls() {
    m_toolBar = ::CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                                  WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NODIVIDER |
                                      CCS_NORESIZE | CCS_NOPARENTALIGN,
                                  0, 0, 0, 0, m_window, nullptr, m_instance, nullptr);
    ::SendMessageW(m_toolBar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);

    m_list = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, nullptr,
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_NOSORTHEADER, 0, 0,
                               0, 0, m_window, nullptr, m_instance, nullptr);
    ListView_SetExtendedListViewStyle(m_list, LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    ::SetWindowSubclass(m_list, ListProc, kListSubclassId, reinterpret_cast<DWORD_PTR>(this));
    LvInsertColumn(m_list, NameColumn, L"Name", 100);
    LvInsertColumn(m_list, TargetColumn, L"Target", 200);
    LvInsertColumn(m_list, LocationColumn, L"Found in...", 120);

    m_statusBar = ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0,
                                    m_window, nullptr, m_instance, nullptr);
    // One panel of width 50 which, as the only one, stretches over the whole bar.
    int parts[] = {-1};
    ::SendMessageW(m_statusBar, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));

    m_progressBar = ::CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD, 0, 0, 0, 0, m_toolBar, nullptr, m_instance,
                                      nullptr); // hidden: nothing shows it
    ::SendMessageW(m_progressBar, PBM_SETRANGE32, 0, 100);
    m_progress.emplace(m_progressBar);

    ApplyDpi(WindowDpi(m_window));

    // Separators carry their width in iBitmap.
    const TBBUTTON buttons[] = {
        {kSeparator, 0, 0, BTNS_SEP, {}, 0, 0},
        {PropertiesGlyph, PropButton, 0, BTNS_BUTTON, {}, 0, 0},
        {kSeparator, 0, 0, BTNS_SEP, {}, 0, 0},
        {RefreshGlyph, RefreshButton, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0},
        {kSeparator, 0, 0, BTNS_SEP, {}, 0, 0},
        {AddGlyph, AddButton, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0},
        {DeleteGlyph, DeleteButton, 0, BTNS_BUTTON, {}, 0, 0},
        {kHelpSeparator, 0, 0, BTNS_SEP, {}, 0, 0},
        {HelpGlyph, HelpButton, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0},
    };
    ::SendMessageW(m_toolBar, TB_ADDBUTTONSW, static_cast<WPARAM>(std::size(buttons)),
                   reinterpret_cast<LPARAM>(buttons));
    LayOutControls();
}

void TMainForm::ApplyDpi(UINT dpi) {
    m_dpi = dpi;

    LOGFONTW font{};
    font.lfHeight = -::MulDiv(kFontPoints, static_cast<int>(dpi), 72);
    font.lfCharSet = DEFAULT_CHARSET;
    wcscpy_s(font.lfFaceName, L"MS Sans Serif");
    m_font.Reset(::CreateFontIndirectW(&font));
    for (HWND control : {m_toolBar, m_list, m_statusBar}) {
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.Get()), TRUE);
    }

    // The glyph strip drawn for the nearest size at or below the monitor's.
    const int glyph = dpi >= 192 ? 32 : dpi >= 144 ? 24 : 16;
    const int strip = glyph == 32 ? IDB_TOOLBAR32 : glyph == 24 ? IDB_TOOLBAR24 : IDB_TOOLBAR16;
    m_toolBarImages.Reset(::ImageList_Create(glyph, glyph, ILC_COLOR24 | ILC_MASK, 5, 0));
    UniqueBitmap bitmap(static_cast<HBITMAP>(
        ::LoadImageW(m_instance, MAKEINTRESOURCEW(strip), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (bitmap) {
        ::ImageList_AddMasked(m_toolBarImages.Get(), bitmap.Get(), RGB(255, 0, 255));
    }
    m_disabledToolBarImages.Reset(::ImageList_Create(glyph, glyph, ILC_COLOR24 | ILC_MASK, 5, 0));
    if (bitmap) {
        UniqueBitmap faded(FadedCopy(bitmap.Get()));
        ::ImageList_AddMasked(m_disabledToolBarImages.Get(), faded ? faded.Get() : bitmap.Get(), RGB(255, 0, 255));
    }
    ::SendMessageW(m_toolBar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_toolBarImages.Get()));
    ::SendMessageW(m_toolBar, TB_SETDISABLEDIMAGELIST, 0, reinterpret_cast<LPARAM>(m_disabledToolBarImages.Get()));
    ::SendMessageW(m_toolBar, TB_SETBITMAPSIZE, 0, MAKELPARAM(glyph, glyph));
    ::SendMessageW(m_toolBar, TB_SETBUTTONSIZE, 0, MAKELPARAM(Scale(kButtonWidth), Scale(kButtonHeight)));

    const int iconSize = Scale(kEntryIconSize);
    m_imageList1.Reset(::ImageList_Create(iconSize, iconSize, ILC_COLOR32 | ILC_MASK, 0, 16));
    m_iconCache.clear(); // made for the old size
    m_imageKeys.clear();
    ListView_SetImageList(m_list, m_imageList1.Get(), LVSIL_SMALL);

    HICON defIcon = static_cast<HICON>(
        ::LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_DEFAULT_ENTRY), IMAGE_ICON, iconSize, iconSize, 0));
    m_defIcon.Reset(defIcon != nullptr ? defIcon : ::CopyIcon(::LoadIconW(nullptr, IDI_APPLICATION)));
}

void TMainForm::LayOutControls() {
    if (m_toolBar == nullptr) {
        return;
    }
    RECT client{};
    ::GetClientRect(m_window, &client);
    const int toolBarHeight = Scale(kToolBarHeight);
    ::MoveWindow(m_toolBar, 0, 0, client.right, toolBarHeight, TRUE);

    RECT help{};
    ::SendMessageW(m_toolBar, TB_GETRECT, HelpButton, reinterpret_cast<LPARAM>(&help));
    ::MoveWindow(m_progressBar, help.right, help.top, Scale(kProgressWidth), Scale(kButtonHeight), FALSE);

    ::SendMessageW(m_statusBar, WM_SIZE, 0, 0);
    RECT status{};
    ::GetWindowRect(m_statusBar, &status);
    const int statusHeight = status.bottom - status.top;
    ::MoveWindow(m_list, 0, toolBarHeight, client.right, std::max(0L, client.bottom - toolBarHeight - statusHeight),
                 TRUE);
    SizeColumns();
}

void TMainForm::SizeColumns() {
    // Name and "Found in..." as wide as their texts and headers; Target takes the rest of the width, so all
    // three stay in view and a long target is cut short with an ellipsis. (Sizing the last column to its
    // header would stretch it over the rest of the list.)
    ListView_SetColumnWidth(m_list, NameColumn, LVSCW_AUTOSIZE_USEHEADER);
    ListView_SetColumnWidth(m_list, LocationColumn, LVSCW_AUTOSIZE);
    const int locationHeader = ListView_GetStringWidth(m_list, L"Found in...") + Scale(16);
    if (ListView_GetColumnWidth(m_list, LocationColumn) < locationHeader) {
        ListView_SetColumnWidth(m_list, LocationColumn, locationHeader);
    }
    RECT client{};
    ::GetClientRect(m_list, &client);
    const int rest =
        client.right - ListView_GetColumnWidth(m_list, NameColumn) - ListView_GetColumnWidth(m_list, LocationColumn);
    ListView_SetColumnWidth(m_list, TargetColumn, std::max(rest, Scale(kMinimumTargetWidth)));
}

void TMainForm::FormCreate() {
    SetProgramDir(m_programDir.empty() ? ProgramDirOf(ModulePath()) : m_programDir);
    CreateStoreFolders();
    ImportSystemEntries();
    MakeList();
}

HICON TMainForm::LoadEntryIcon(const std::wstring& path, int index) const {
    const auto iconAt = [&](const std::wstring& file) -> HICON {
        if (file.empty()) {
            return nullptr;
        }
        HICON icon = ::ExtractIconW(m_instance, file.c_str(), static_cast<UINT>(index));
        // 0: no icon there; 1: not a file that holds icons.
        return reinterpret_cast<UINT_PTR>(icon) >= 2 ? icon : nullptr;
    };
    if (HICON icon = iconAt(path)) {
        return icon;
    }
    // A registry entry's target is its whole command line: look into the program it starts.
    const std::wstring program = ProgramPathOf(path);
    if (program != path) {
        if (HICON icon = iconAt(program)) {
            return icon;
        }
    }
    const std::wstring& file = program.empty() ? path : program;
    if (!file.empty()) {
        // The call may write a path of up to MAX_PATH characters back into its buffer.
        std::vector<wchar_t> buffer(std::max<size_t>(MAX_PATH, file.size() + 1), L'\0');
        std::copy(file.begin(), file.end(), buffer.begin());
        WORD iconIndex = static_cast<WORD>(index);
        HICON icon = ::ExtractAssociatedIconW(m_instance, buffer.data(), &iconIndex);
        if (reinterpret_cast<UINT_PTR>(icon) >= 2) {
            return icon;
        }
    }
    return nullptr; // the default icon
}

TMainForm::LinkContent TMainForm::ReadStoreLink(const std::wstring& path, const WIN32_FIND_DATAW& found,
                                                std::map<std::wstring, LinkContent>& previous,
                                                std::unique_ptr<TShellLink>& link) {
    const ULONGLONG size = (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    const auto known = previous.find(path);
    LinkContent content;
    if (known != previous.end() && !::CompareFileTime(&known->second.written, &found.ftLastWriteTime) &&
        !::CompareFileTime(&known->second.created, &found.ftCreationTime) && known->second.size == size) {
        content = known->second; // the very file read last time
    } else {
        if (!link->Load(path)) {
            link = std::make_unique<TShellLink>(); // a link that cannot be loaded shows empty values
        }
        content = {found.ftLastWriteTime, found.ftCreationTime, size,
                   link->Path(),          link->Description(),  link->IconIndex()};
    }
    m_linkCache.insert_or_assign(path, content);
    return content;
}

int TMainForm::RowImage(int row, const std::wstring& source, int index,
                        std::map<std::wstring, UniqueHicon>& previousIcons) {
    const std::wstring key = std::to_wstring(index) + L"|" + source;
    // The image list keeps one image per row, by row number: a row that shows the same icon as the row of
    // that number did last time keeps its image, so an unchanged list costs no icon work at all.
    if (static_cast<size_t>(row) < m_imageKeys.size() && m_imageKeys[static_cast<size_t>(row)] == key) {
        return row;
    }
    auto cached = previousIcons.find(key);
    if (cached != previousIcons.end()) {
        m_iconCache.emplace(key, std::move(cached->second));
        previousIcons.erase(cached);
    }
    auto [icon, added] = m_iconCache.try_emplace(key);
    if (added) {
        icon->second.Reset(LoadEntryIcon(source, index));
    }
    // From the first row whose icon differs on, the images are appended afresh: replacing an image in
    // place does not reliably carry the new icon's transparency over the old one's.
    if (static_cast<size_t>(row) < m_imageKeys.size()) {
        ::ImageList_SetImageCount(m_imageList1.Get(), static_cast<UINT>(row));
        m_imageKeys.resize(static_cast<size_t>(row));
    }
    const int image = ::ImageList_AddIcon(m_imageList1.Get(), icon->second ? icon->second.Get() : m_defIcon.Get());
    m_imageKeys.push_back(key);
    return image;
}

void TMainForm::MakeList() {
    {
        RedrawSuspension suspension(m_list);
        ListView_DeleteAllItems(m_list);
        m_rows.clear();

        // What was read from links and programs no longer listed is dropped when this pass ends.
        std::map<std::wstring, UniqueHicon> previousIcons = std::move(m_iconCache);
        m_iconCache.clear();
        std::map<std::wstring, LinkContent> previousLinks = std::move(m_linkCache);
        m_linkCache.clear();
        auto link = std::make_unique<TShellLink>(); // one link object serves every row of the pass
        for (int code = kFirstCode; code <= kLastCode; ++code) {
            const std::wstring folder = StoreFolderPath(code);
            const std::wstring locationText = LocationText(code);
            ForEachMatch(folder + L"*.lnk", [&](const WIN32_FIND_DATAW& found) {
                const std::wstring fileName = found.cFileName;
                if (!HasLinkExtension(fileName)) {
                    return;
                }
                const std::wstring fullPath = folder + fileName;
                const LinkContent content = ReadStoreLink(fullPath, found, previousLinks, link);
                // A registry entry's target is only what the link made of its command line (a quoted one
                // is no path at all); the command line itself, in the description, names the program.
                const bool fromCommandLine = IsRegistryCode(code) && !content.description.empty();
                const int row = static_cast<int>(m_rows.size());
                const int image = RowImage(row, fromCommandLine ? content.description : content.target,
                                           content.iconIndex, previousIcons);

                m_rows.push_back({content.description, fullPath});
                const int item =
                    LvInsertItem(m_list, row, fileName.substr(0, fileName.size() - 4), image, static_cast<LPARAM>(row));
                LvSetItemText(m_list, item, TargetColumn, content.target.size() >= 2 ? content.target : kNotFound);
                LvSetItemText(m_list, item, LocationColumn, locationText);
            });
        }
        // The images of rows that are gone go with them.
        const int count = LvGetItemCount(m_list);
        ::ImageList_SetImageCount(m_imageList1.Get(), static_cast<UINT>(count));
        m_imageKeys.resize(static_cast<size_t>(count));
        for (int item = 0; item < count; ++item) {
            LvSetCheck(m_list, item, IsEnabledCode(CodeFromLocationText(LvGetItemText(m_list, item, LocationColumn))));
        }
        SizeColumns();
    }
    // No row is selected after a rebuild: the status and the row commands say so.
    SbSetText(m_statusBar, L"");
    TbEnable(m_toolBar, PropButton, false);
    TbEnable(m_toolBar, DeleteButton, false);
    m_listReady = true;
}

EntryRef TMainForm::RowEntry(int item) const {
    EntryRef entry;
    entry.name = LvGetItemText(m_list, item, NameColumn);
    entry.code = CodeFromLocationText(LvGetItemText(m_list, item, LocationColumn));
    const auto row = static_cast<size_t>(LvGetItemParam(m_list, item));
    if (row < m_rows.size()) {
        entry.description = m_rows[row].description;
    }
    return entry;
}

std::wstring TMainForm::RowStoreLinkPath(int item) const {
    const auto row = static_cast<size_t>(LvGetItemParam(m_list, item));
    return row < m_rows.size() ? m_rows[row].storeLinkPath : std::wstring();
}

int TMainForm::FindRow(const std::wstring& name, int code) const {
    const int count = LvGetItemCount(m_list);
    for (int item = 0; item < count; ++item) {
        const EntryRef entry = RowEntry(item);
        if (entry.code == code && entry.name == name) {
            return item;
        }
    }
    return -1;
}

std::vector<EntryRef> TMainForm::AllRows() const {
    std::vector<EntryRef> entries;
    const int count = LvGetItemCount(m_list);
    entries.reserve(static_cast<size_t>(count));
    for (int item = 0; item < count; ++item) {
        entries.push_back(RowEntry(item));
    }
    return entries;
}

void TMainForm::ListSelectItem(int item, bool selected) {
    SbSetText(m_statusBar, selected ? LvGetItemText(m_list, item, TargetColumn) : std::wstring());
    TbEnable(m_toolBar, PropButton, selected);
    TbEnable(m_toolBar, DeleteButton, selected);
}

void TMainForm::ListChanging(int item) {
    m_checkedBeforeChange = LvGetCheck(m_list, item);
}

void TMainForm::ListChange(int item) {
    if (!m_listReady) {
        return;
    }
    const bool checked = LvGetCheck(m_list, item);
    if (checked == m_checkedBeforeChange) {
        return; // the change touched something else: a text, an image, the selection
    }
    // Clearing the list inside its own notification is unsafe: the toggle runs as soon as the notification
    // has returned. Until the rebuild, further changes count for nothing.
    m_pendingToggle = PendingToggle{RowEntry(item), checked};
    m_listReady = false;
    ::PostMessageW(m_window, WM_APP_TOGGLE, 0, 0);
}

void TMainForm::ToggleEntry() {
    if (!m_pendingToggle) {
        return;
    }
    const PendingToggle toggle = *m_pendingToggle;
    m_pendingToggle.reset();
    if (toggle.enable) {
        EnableEntry(toggle.entry);
    } else {
        DisableEntry(toggle.entry);
    }
}

void TMainForm::DisableEntry(const EntryRef& entry) {
    RunToggle([&] { return bw::DisableEntry(entry); });
}

void TMainForm::EnableEntry(const EntryRef& entry) {
    RunToggle([&] { return bw::EnableEntry(entry, &*m_progress); });
}

void TMainForm::RunToggle(const std::function<bool()>& toggle) {
    bool changed = false;
    try {
        changed = toggle();
    } catch (...) {
        m_listReady = true; // no rebuild follows: the list stays live as it is
        throw;
    }
    if (changed) {
        ReimportAndRebuild();
    } else {
        m_listReady = true; // nothing changed, nothing to rebuild
    }
}

void TMainForm::ReimportAndRebuild() {
    m_listReady = false;
    ImportSystemEntries();
    MakeList();
}

void TMainForm::RefreshAll() {
    m_listReady = false;
    WriteBackEntries(AllRows(), &*m_progress);
    ImportSystemEntries();
    MakeList();
}

void TMainForm::ListKeyUp(WPARAM key) {
    // The modifier keys are not looked at: Shift+F5 refreshes as F5 does.
    switch (key) {
    case VK_RETURN:
        PropButtonClick();
        break;
    case VK_DELETE:
        DeleteButtonClick();
        break;
    case VK_F5:
        RefreshAll();
        break;
    case VK_F1:
        HelpButtonClick();
        break;
    }
}

void TMainForm::PropButtonClick() {
    const int item = LvGetSelected(m_list);
    if (item >= 0) {
        ShowEntryProperties(item);
    }
}

void TMainForm::ShowEntryProperties(int item) {
    const EntryRef entry = RowEntry(item);
    m_desktop.ShowProperties(m_window, StoreLinkPath(entry.code, entry.name));
}

void TMainForm::HelpButtonClick() {
    (void)OpenWithShell(ProgramDir() + L"help.html", L"", L"", SW_SHOW);
}

INT_PTR TMainForm::OpenWithShell(const std::wstring& file, const std::wstring& parameters, const std::wstring& folder,
                                 int showCommand) {
    return m_desktop.OpenWithShell(m_window, file, parameters, folder, showCommand);
}

void TMainForm::AddButtonClick() {
    const auto program = m_desktop.BrowseForProgram(m_window);
    if (!program) {
        return; // cancelled: nothing changes, no refresh
    }
    (void)AddStartupShortcut(*program);
    RefreshAll();
}

void TMainForm::DeleteButtonClick() {
    const int item = LvGetSelected(m_list);
    if (item >= 0) {
        DeleteEntry(item);
    }
}

void TMainForm::DeleteEntry(int item) {
    // The entry is taken before the question: a refresh while the dialog is open rebuilds the list, and
    // whatever row then stands at this place is not what the user was asked about.
    const EntryRef entry = RowEntry(item);
    if (!m_desktop.Confirm(m_window, L"Are you sure you want to delete \"" + entry.name + L"\"")) {
        return;
    }
    bw::DeleteEntry(entry);
    RefreshAll();
}

bool TMainForm::FormClose() {
    WriteBackEntries(AllRows(), &*m_progress); // an error here keeps the window open; closing again retries
    return true;
}

} // namespace bw
