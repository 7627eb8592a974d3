#include "app/MainForm.h"

#include "app/ContextMenu.h"
#include "app/Controls.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Token.h"
#include "resources/Texts.h"
#include "resources/resource.h"
#include "store/ErrorText.h"
#include "store/FileFacts.h"
#include "store/Locations.h"

#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <exception>

namespace bw {

namespace {

constexpr const wchar_t* kWindowClass = L"BootwardenMainWindow";
constexpr const wchar_t* kHelpFile = L"help.html";

// Pixel sizes at 96 DPI.
constexpr RECT kRestoredBounds{196, 122, 196 + 544, 122 + 387};
constexpr int kFontPoints = 9; // Segoe UI's size where the system cannot tell its message font
constexpr int kFilterWidth = 200;
constexpr int kDetailsPart = 300; // the status bar's part for a program's description and publisher
constexpr int kCountsPart = 230;

// A long import runs in parts of this length from a timer, so that the window answers in between. (A timer,
// not posted messages: those would come before the user's input every time.)
constexpr UINT_PTR kImportTimer = 1;
constexpr DWORD kFirstImportPart = 200; // milliseconds; most refreshes end within it
constexpr DWORD kImportPart = 60;

// While another process (bwcli) works on the store, a refresh waits this long for it, and otherwise runs again
// from a timer after a while; a command waits the store lock's own time, then says that the store is busy.
constexpr UINT_PTR kBusyTimer = 3;
constexpr DWORD kRefreshLockWait = 250;
constexpr DWORD kBusyRetry = 500;

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

// The font Windows uses for message boxes, at the size it has for `dpi`: the window's text looks like the rest of
// the system and stays sharp at any scale (a bitmap font such as MS Sans Serif turns jagged past 100 %).
LOGFONTW MessageFontFor(UINT dpi) {
    // SystemParametersInfoForDpi exists from Windows 10 1607 on; before, the metrics are the primary monitor's,
    // scaled from the system's DPI.
    using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = reinterpret_cast<ForDpiFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (forDpi != nullptr && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        return metrics.lfMessageFont;
    }
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        HDC screen = ::GetDC(nullptr);
        const int systemDpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : USER_DEFAULT_SCREEN_DPI;
        ::ReleaseDC(nullptr, screen);
        LOGFONTW font = metrics.lfMessageFont;
        font.lfHeight = ::MulDiv(font.lfHeight, static_cast<int>(dpi), systemDpi > 0 ? systemDpi : 96);
        return font;
    }
    LOGFONTW font{};
    font.lfHeight = -::MulDiv(kFontPoints, static_cast<int>(dpi), 72);
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    wcscpy_s(font.lfFaceName, L"Segoe UI");
    return font;
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
    } catch (const ERightsMissing& error) {
        form.OfferRestartAsAdministrator(ErrorText(error));
    } catch (const EBootwarden& error) {
        (form.*show)(ErrorText(error));
    } catch (const std::exception& error) {
        (form.*show)(Widen(error.what()));
    }
    return 0;
}

} // namespace

TMainForm::TMainForm(HINSTANCE instance, TDesktop& desktop, std::wstring programDir)
    : m_instance(instance), m_desktop(desktop), m_programDir(std::move(programDir)), m_toolBar(instance),
      m_list(instance,
             TEntryList::Handlers{[this](int row, bool checked) { ListChange(row, checked); },
                                  [this](int row, bool selected) { ListSelectItem(row, selected); },
                                  [this] { PropButtonClick(); }, [this] { ShowCounts(); },
                                  [this](const Entry& entry) { return m_seen.IsNew(entry); }, [this] { FactsRead(); }}),
      m_filterBox(instance) {}

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
    m_settings = LoadSettings(SettingsPath());
    m_window =
        ::CreateWindowExW(0, kWindowClass, text::kCaption, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, kRestoredBounds.left,
                          kRestoredBounds.top, kRestoredBounds.right - kRestoredBounds.left,
                          kRestoredBounds.bottom - kRestoredBounds.top, nullptr, nullptr, m_instance, this);
    if (m_window == nullptr) {
        return false;
    }
    if (m_endAtStart) {
        ::DestroyWindow(m_window); // the message loop ends at once
        return true;
    }
    // The restored bounds are 96-DPI pixels and scale with the window's monitor.
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    ::GetWindowPlacement(m_window, &placement);
    placement.rcNormalPosition = {ScaleToDpi(kRestoredBounds.left, m_dpi), ScaleToDpi(kRestoredBounds.top, m_dpi),
                                  ScaleToDpi(kRestoredBounds.right, m_dpi), ScaleToDpi(kRestoredBounds.bottom, m_dpi)};
    placement.showCmd = SW_HIDE;
    ::SetWindowPlacement(m_window, &placement);
    PlaceFromSettings(showCommand);
    ::ShowWindow(m_window, showCommand);
    ::UpdateWindow(m_window);
    ::SetFocus(m_list.Handle());
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
        ApplyListSettings();
        FormCreate();
        return 0;
    case WM_SIZE:
        LayOutControls();
        return 0;
    case WM_SETFOCUS:
        ::SetFocus(m_list.Handle());
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
        case RestartButton:
            RestartAsAdministrator();
            return 0;
        case ViewButton: // the keyboard's way to the drop-down
            ShowViewMenu();
            return 0;
        case TToolBar::HideWindowsCommand:
            HideWindowsClick();
            return 0;
        case TFilterBox::kControlId:
            if (HIWORD(wParam) == EN_CHANGE) {
                FilterChanged();
            }
            return 0;
        }
        break;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == m_list.Handle()) {
            ShowContextMenu(lParam);
            return 0;
        }
        break;
    case WM_NOTIFY: {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (header.hwndFrom == m_list.Handle()) {
            return m_list.HandleNotify(header);
        }
        if (header.code == TBN_DROPDOWN && reinterpret_cast<const NMTOOLBARW&>(header).iItem == ViewButton) {
            ShowViewMenu();
            return TBDDRET_DEFAULT;
        }
        (void)m_toolBar.HandleNotify(header);
        return 0;
    }
    case TEntryList::WM_LISTKEYUP:
        ListKeyUp(wParam);
        return 0;
    case WM_ACTIVATEAPP:
        if (wParam) {
            // The refresh runs once the activation itself has been handled.
            ::PostMessageW(m_window, WM_APP_ACTIVATE, 0, 0);
        }
        return 0;
    case WM_APP_ACTIVATE:
        // Coming back to the window: carry the store's edits into the system and show what others changed.
        // While the error box is open the refresh waits for it, so that the box is not stacked on another.
        if (m_errorBoxOpen) {
            m_refreshAfterErrorBox = true;
            return 0;
        }
        RefreshAll();
        return 0;
    case WM_APP_TOGGLE:
        ToggleEntry();
        return 0;
    case TLiveWatch::kChangedMessage:
        if (m_live) {
            m_live->Changed();
        }
        return 0;
    case WM_TIMER:
        if (m_live && m_live->TimerFired(wParam)) {
            RefreshChanged();
            return 0;
        }
        if (wParam == kImportTimer) {
            ContinueImport();
            return 0;
        }
        if (wParam == kBusyTimer) {
            ::KillTimer(m_window, kBusyTimer);
            RefreshAll();
            return 0;
        }
        break;
    case WM_DPICHANGED: {
        ApplyDpi(HIWORD(wParam));
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(m_window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_CLOSE:
        if (FormClose()) {
            SaveWindowSettings();
            ::DestroyWindow(m_window);
        }
        return 0;
    case WM_DESTROY:
        ::KillTimer(m_window, kImportTimer);
        ::KillTimer(m_window, kBusyTimer);
        m_live.reset();
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

void TMainForm::CreateControls() {
    m_dpi = WindowDpi(m_window);
    m_toolBar.Create(m_window, m_dpi);
    m_list.Create(m_window, m_dpi);
    m_statusBar = ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0,
                                    m_window, nullptr, m_instance, nullptr);
    m_filterBox.Create(m_window, [this] { ::SetFocus(m_list.Handle()); });
    ApplyDpi(m_dpi);
}

void TMainForm::ApplyDpi(UINT dpi) {
    m_dpi = dpi;
    const LOGFONTW font = MessageFontFor(dpi);
    m_font.Reset(::CreateFontIndirectW(&font));
    for (HWND control : {m_toolBar.Handle(), m_statusBar, m_filterBox.Handle()}) {
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.Get()), TRUE);
    }
    m_toolBar.ApplyDpi(dpi);
    m_list.ApplyDpi(dpi, m_font.Get());
    LayOutControls();
}

void TMainForm::LayOutControls() {
    if (m_statusBar == nullptr) {
        return;
    }
    RECT client{};
    ::GetClientRect(m_window, &client);
    // The filter box stands at the tool bar's right end, the bar's buttons to its left.
    const int filterWidth = std::min<int>(ScaleToDpi(kFilterWidth, m_dpi), client.right / 3);
    const int toolBarHeight = m_toolBar.LayOut(client.right - filterWidth - ScaleToDpi(4, m_dpi));
    const int margin = ScaleToDpi(2, m_dpi);
    m_filterBox.Move(client.right - filterWidth - margin, margin, filterWidth, toolBarHeight - 2 * margin);
    ::SendMessageW(m_statusBar, WM_SIZE, 0, 0);
    // The first part (the selected row's target, or why it cannot be switched off) takes what the others leave.
    const int counts = ScaleToDpi(kCountsPart, m_dpi);
    const int details = std::min<int>(ScaleToDpi(kDetailsPart, m_dpi), std::max(0L, client.right - counts) / 2);
    int parts[] = {std::max(0, static_cast<int>(client.right) - counts - details),
                   std::max(0, static_cast<int>(client.right) - counts), -1};
    ::SendMessageW(m_statusBar, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));
    RECT status{};
    ::GetWindowRect(m_statusBar, &status);
    const int statusHeight = status.bottom - status.top;
    m_list.Move(0, toolBarHeight, client.right, std::max(0L, client.bottom - toolBarHeight - statusHeight));
}

void TMainForm::FormCreate() {
    SetProgramDir(m_programDir.empty() ? ProgramDirOf(ModulePath()) : m_programDir);
    m_toolBar.ShowRestart(!RunsAsAdministrator());
    ShowAccountInTitle();
    try {
        m_door.Open();
    } catch (const EStoreNotHere& error) {
        // Nothing was made and nothing is changed: the program ends once the user has read why.
        m_endAtStart = true;
        ShowException(ErrorText(error));
        return;
    }
    if (!m_door.LinkedFolders().empty()) {
        std::wstring lines;
        for (const std::wstring& folder : m_door.LinkedFolders()) {
            lines += FormatMessageText(text::kStoreFolderLine, folder);
        }
        ShowException(FormatMessageText(text::kStoreFoldersAreLinks, lines));
    }
    if (m_door.ReadOnly()) {
        ShowException(FormatMessageText(text::kStoreReadOnly, ProgramDir()));
    }
    m_seen.Load(ProgramDir() + kSeenEntriesFile);
    m_live = std::make_unique<TLiveWatch>(m_window);
    Refresh(false);
}

void TMainForm::ShowAccountInTitle() {
    // Elevated with another account's password, the program sees that account's HKCU and Startup folder.
    const std::wstring process = ProcessAccountName();
    const std::wstring desktop = DesktopAccountName();
    if (process.empty() || desktop.empty() || SameFileName(process, desktop)) {
        return;
    }
    m_account = FileNamePart(process);
    ShowTitle();
}

void TMainForm::ShowTitle() {
    const size_t marked = m_seen.NewCount();
    const std::wstring count = std::to_wstring(marked);
    const std::wstring title =
        m_account.empty() ? (marked == 0 ? std::wstring(text::kCaption) : FormatMessageText(text::kCaptionNew, count))
        : marked == 0     ? FormatMessageText(text::kCaptionOfAccount, m_account)
                          : FormatMessageText(text::kCaptionOfAccountNew, {m_account, count});
    ::SetWindowTextW(m_window, title.c_str());
}

void TMainForm::LookAtEntries() {
    if (m_seen.Look(m_session.Entries())) {
        ::InvalidateRect(m_list.Handle(), nullptr, FALSE); // the bold rows
    }
    ShowTitle(); // at the first look too, which may find the marks of the last run as they were
}

bool TMainForm::SeeRow(int row) {
    if (row < 0 || row >= m_list.Count() || !m_seen.See(m_list.RowEntry(row))) {
        return false;
    }
    ShowTitle();
    ::InvalidateRect(m_list.Handle(), nullptr, FALSE);
    return true;
}

void TMainForm::OfferRestartAsAdministrator(const std::wstring& message) {
    if (RunsAsAdministrator()) {
        ShowException(message); // refused all the same: restarting would not help
        return;
    }
    if (m_desktop.Confirm(m_window, FormatMessageText(text::kRestartQuestion, message))) {
        RestartAsAdministrator();
    }
}

void TMainForm::RestartAsAdministrator() {
    // The same program, on the same store; this window closes only when the new one has started.
    if (m_desktop.RunAsAdministrator(m_window, ModulePath(), ProgramDir())) {
        ::PostMessageW(m_window, WM_CLOSE, 0, 0);
    }
}

void TMainForm::RefreshChanged() {
    if (m_errorBoxOpen) {
        m_refreshAfterErrorBox = true; // as on activation: once the box is closed
        return;
    }
    const TLiveWatch::Scope scope = m_live->MustRead(false);
    if (scope.Any()) {
        Refresh(true, false, scope);
    }
}

void TMainForm::Refresh(bool writeBack, bool afterToggle, TLiveWatch::Scope scope) {
    if (m_importing) {
        m_refreshAfterImport = true; // one more once the import under way has ended
        return;
    }
    std::unique_ptr<TStoreDoor::TWork> lock = m_door.TryBeginWork(kRefreshLockWait);
    if (!lock) {
        ::SetTimer(m_window, kBusyTimer, kBusyRetry, nullptr);
        if (afterToggle) {
            m_list.MakeList(m_session.Entries(), true); // the box clicked shows its entry's state again
        }
        return;
    }
    if (m_live) {
        m_live->CycleStarts(scope);
    }
    if (!m_session.BeginRefresh(writeBack, &m_toolBar.Progress(), scope.system, scope.store)) {
        // Nothing changed: the list stays as it is. After a toggle that changed nothing, the box the user
        // clicked shows its entry's state again.
        if (afterToggle) {
            m_list.MakeList(m_session.Entries(), true);
        } else {
            m_list.LookAgain(); // a program may have been updated in its place all the same
        }
        if (m_live) {
            m_live->CycleEnds(m_session.Settled());
        }
        return;
    }
    if (m_session.ContinueRefresh(kFirstImportPart)) {
        if (m_live) {
            m_live->CycleEnds(m_session.Settled());
        }
        ShowEntries(afterToggle);
        return;
    }
    // Many entries to copy (the first start with a large system): the window answers meanwhile, and no
    // command reaches the store until the import has ended.
    m_importing = true;
    m_importLock = std::move(lock);
    m_list.HoldToggles();
    SbSetText(m_statusBar, FormatMessageText(text::kImportProgress, {std::to_wstring(m_session.ImportDone()),
                                                                     std::to_wstring(m_session.ImportTotal())}));
    ::SetTimer(m_window, kImportTimer, 1, nullptr);
}

void TMainForm::RefreshAndSelect(bool writeBack, bool afterToggle, RowChoice choice) {
    m_rowChoice = std::move(choice);
    try {
        Refresh(writeBack, afterToggle);
    } catch (...) {
        if (!m_importing) {
            m_rowChoice.reset(); // the list was not rebuilt; what was selected stays so
        }
        throw;
    }
    if (!m_importing) {
        ApplyRowChoice();
    }
}

void TMainForm::ApplyRowChoice() {
    if (!m_rowChoice) {
        return;
    }
    const RowChoice choice = *std::exchange(m_rowChoice, std::nullopt);
    int row = -1;
    for (const int code : choice.codes) {
        row = m_list.FindRow(choice.name, code);
        if (row >= 0) {
            break;
        }
    }
    if (row < 0 && choice.fallbackRow >= 0 && m_list.Count() > 0) {
        row = std::min(choice.fallbackRow, m_list.Count() - 1);
    }
    if (row >= 0) {
        m_list.SelectRow(row);
    }
}

void TMainForm::ContinueImport() {
    if (!m_importing) {
        ::KillTimer(m_window, kImportTimer);
        return;
    }
    bool done = false;
    try {
        done = m_session.ContinueRefresh(kImportPart);
    } catch (...) {
        ::KillTimer(m_window, kImportTimer);
        m_importing = false;
        m_importLock.reset();
        m_session.AbandonRefresh();
        throw;
    }
    if (!done) {
        SbSetText(m_statusBar, FormatMessageText(text::kImportProgress, {std::to_wstring(m_session.ImportDone()),
                                                                         std::to_wstring(m_session.ImportTotal())}));
        return;
    }
    ::KillTimer(m_window, kImportTimer);
    m_importing = false;
    m_importLock.reset();
    if (m_live) {
        m_live->CycleEnds(m_session.Settled());
    }
    SbSetText(m_statusBar, L"");
    ShowEntries(true); // commands waited meanwhile, but a box may have been clicked
    ApplyRowChoice();
    if (std::exchange(m_refreshAfterImport, false)) {
        ::PostMessageW(m_window, WM_APP_ACTIVATE, 0, 0);
    }
}

void TMainForm::ShowEntries(bool everyBox) {
    m_list.MakeList(m_session.Entries(), everyBox);
    LookAtEntries();
    const int selected = m_list.Selected();
    ListSelectItem(selected, selected >= 0);
    ReportImportProblems();
    ReportStoreEdits();
    ReportWriteBackFailures();
}

void TMainForm::ReportWriteBackFailures() {
    std::wstring others;
    std::wstring needRights;
    for (const WriteBackFailure& failure : m_session.TakeWriteBackFailures()) {
        std::wstring& text = failure.needsRights ? needRights : others;
        text +=
            (text.empty() ? L"" : L"\n") + FormatMessageText(text::kWriteBackFailed, {failure.name, failure.message});
    }
    if (!others.empty()) {
        ShowException(others);
    }
    if (!needRights.empty()) {
        OfferRestartAsAdministrator(needRights);
    }
}

void TMainForm::ReportImportProblems() {
    const std::vector<ImportProblem> problems = m_session.TakeNewProblems();
    if (problems.empty()) {
        return;
    }
    std::wstring lines;
    for (const ImportProblem& problem : problems) {
        lines += FormatMessageText(text::kImportProblemLine, {problem.name, ProgramDir() + problem.folder});
    }
    ShowException(FormatMessageText(text::kImportProblems, lines)); // once per entry and run, never at each refresh
}

void TMainForm::ReportStoreEdits() {
    const std::vector<EditNotCarried> edits = m_session.TakeEditsNotCarried();
    const std::vector<BothChanged> both = m_session.TakeBothChanged();
    if (!edits.empty()) {
        std::wstring lines;
        for (const EditNotCarried& edit : edits) {
            lines += FormatMessageText(text::kEditNotCarriedLine, {edit.name, edit.storeLinkPath, edit.reason});
        }
        ShowException(FormatMessageText(text::kEditsNotCarried, lines));
    }
    bool settled = false;
    for (const BothChanged& entry : both) {
        // "Yes", the default, keeps what starts now; the edit is used only when asked for.
        const bool keep = m_desktop.Confirm(
            m_window, FormatMessageText(text::kBothChangedQuestion, {entry.name, entry.systemSide, entry.storeSide}));
        m_door.Work([&](TStoreDoor::TWork& work) { work.Session().Settle(entry, !keep); });
        settled = true;
    }
    if (settled) {
        ::PostMessageW(m_window, WM_APP_ACTIVATE, 0, 0); // the entries are mirrored afresh
    }
}

void TMainForm::ListSelectItem(int row, bool selected) {
    if (!selected && m_list.Selected() >= 0) {
        row = m_list.Selected(); // of several rows, one was deselected: the status tells of the first left
        selected = true;
    }
    ShowRowDetails(selected ? row : -1);
    std::wstring status;
    if (selected && row >= 0 && row < m_list.Count()) {
        status = RowStatus(row);
        // A marked entry is seen once selected; the status bar says what it was.
        if (SeeRow(row)) {
            status = status.empty() ? std::wstring(text::kNewEntryStatusAlone)
                                    : FormatMessageText(text::kNewEntryStatus, status);
        }
    }
    SbSetText(m_statusBar, status);
    m_toolBar.Enable(PropButton, selected);
    m_toolBar.Enable(DeleteButton, selected);
}

void TMainForm::ListChange(int row, bool checked) {
    if (m_pendingToggle || m_importing) {
        return;
    }
    // The list must not change inside its own notification: the toggle runs as soon as the notification has
    // returned. Until then, further changes count for nothing.
    m_pendingToggle = PendingToggle{m_list.RowEntry(row), checked};
    m_list.HoldToggles();
    ::PostMessageW(m_window, WM_APP_TOGGLE, 0, 0);
}

void TMainForm::ToggleEntry() {
    if (!m_pendingToggle) {
        return;
    }
    const PendingToggle toggle = *std::exchange(m_pendingToggle, std::nullopt);
    const int code = toggle.entry.code;
    // The entry stays selected in its new place (its old one when the toggle changed nothing), so that the
    // next press of space undoes what this one did.
    RowChoice choice{toggle.entry.name, {code}};
    std::exception_ptr failure;
    try {
        const auto work = m_door.BeginWork();
        if (toggle.enable && IsEnabledCode(code)) {
            work->AllowToStart(toggle.entry); // a box set on an entry that Windows kept from starting
        } else if (toggle.enable) {
            choice.codes.insert(choice.codes.begin(), EnabledCodeOf(code));
            // A different entry of that name that starts now is replaced only when the user says so; "No", the
            // default, changes nothing.
            const auto twin = StartingTwinOf(toggle.entry);
            const bool replace =
                twin && m_desktop.ConfirmDefaultNo(
                            m_window, FormatMessageText(text::kEnableReplaceQuestion,
                                                        {toggle.entry.name, twin->startsNow, twin->switchedOff}));
            if (!twin || replace) {
                work->Enable(toggle.entry, &m_toolBar.Progress(), replace);
            }
        } else {
            choice.codes.insert(choice.codes.begin(), DisabledCodeOf(code));
            work->Disable(toggle.entry);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    // Whatever became of it, the list shows the store and the system as they now are.
    RefreshAndSelect(false, true, std::move(choice));
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TMainForm::RefreshAll() {
    // Where every place is watched and none changed since a cycle that ran to its end, there is nothing to read.
    // (A refresh that left something to try again, or an entry settled since, reads everything.)
    const TLiveWatch::Scope scope = m_live && m_session.Settled() ? m_live->MustRead(true) : TLiveWatch::Scope{};
    if (scope.Any()) {
        Refresh(true, false, scope);
    }
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
    case 'F':
        if (::GetKeyState(VK_CONTROL) < 0) {
            m_filterBox.Focus(); // Ctrl+F
        }
        break;
    }
}

void TMainForm::PropButtonClick() {
    const int row = m_list.Selected();
    if (row >= 0 && row < m_list.Count()) {
        ShowEntryProperties(m_list.RowEntry(row));
    }
}

void TMainForm::ShowEntryProperties(const Entry& entry) {
    if (!entry.storeLinkPath.empty()) {
        m_desktop.ShowProperties(m_window, entry.storeLinkPath);
    }
}

void TMainForm::HelpButtonClick() {
    (void)OpenWithShell(ProgramDir() + kHelpFile, L"", L"", SW_SHOW);
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
    const auto work = m_door.BeginWork();
    const std::wstring shortcut = work->AddStartupShortcut(*program);
    // The new entry is selected: its name is the shortcut's file name without ".lnk".
    const size_t slash = shortcut.find_last_of(L'\\');
    std::wstring name = slash == std::wstring::npos ? shortcut : shortcut.substr(slash + 1);
    name.resize(name.size() >= 4 ? name.size() - 4 : 0);
    RefreshAndSelect(true, false, RowChoice{name, {kStartUpCode}});
}

void TMainForm::DeleteButtonClick() {
    // The entries are taken (copied) before the question: a refresh while the dialog is open may change the
    // rows, and whatever row then stands at this place is not what the user was asked about.
    DeleteEntries(SelectedEntries());
}

void TMainForm::DeleteEntries(const std::vector<Entry>& entries) {
    if (entries.empty()) {
        return;
    }
    const std::wstring question = entries.size() == 1
                                      ? FormatMessageText(text::kDeleteQuestion, entries[0].name)
                                      : FormatMessageText(text::kDeleteManyQuestion, std::to_wstring(entries.size()));
    if (!m_desktop.Confirm(m_window, question)) {
        return;
    }
    const auto work = m_door.BeginWork();
    // The row that takes the (first) entry's place is selected afterwards (the last row, when it was the last); a
    // delete that failed leaves the entry itself selected.
    const int row = m_list.FindRow(entries[0].name, entries[0].code);
    RowChoice choice{entries[0].name, {entries[0].code}, row >= 0 ? row : m_list.Selected()};
    // Each entry is removed or left as it was; one that cannot be removed does not keep the others.
    std::wstring failures;
    for (const Entry& entry : entries) {
        try {
            work->Delete(entry);
        } catch (const EBootwarden& error) {
            failures += (failures.empty() ? L"" : L"\n") + ErrorText(error);
        }
    }
    RefreshAndSelect(true, false, std::move(choice));
    if (!failures.empty()) {
        ShowException(failures);
    }
}

bool TMainForm::FormClose() {
    if (m_importing) {
        // What the import copied so far stays; the rest is done at the next start.
        ::KillTimer(m_window, kImportTimer);
        m_importing = false;
        m_importLock.reset();
        m_session.AbandonRefresh();
    }
    if (!m_door.IsOpen()) {
        return true; // the store was never opened here (started inside its zip): nothing to carry
    }
    const auto work = m_door.BeginWork();
    try {
        m_session.WriteBack(&m_toolBar.Progress());
    } catch (const EBootwarden& error) {
        // A disk that is full or a shortcut held by another program must not trap the window: the user is told
        // what failed and chooses. The edit stays in the store either way; closing again retries.
        return m_desktop.ConfirmDefaultNo(m_window,
                                          FormatMessageText(text::kCloseAnyway, ErrorBoxText(ErrorText(error))));
    }
    return true;
}

std::vector<Entry> TMainForm::SelectedEntries() const {
    std::vector<Entry> entries;
    for (int row : m_list.SelectedRows()) {
        entries.push_back(m_list.RowEntry(row));
    }
    return entries;
}

void TMainForm::ShowContextMenu(LPARAM at) {
    if (m_importing || m_pendingToggle) {
        return; // no command reaches the store while an import or a toggle is under way
    }
    // The entries are taken before the menu opens, as for a question: the command acts on what it was shown for.
    const std::vector<Entry> entries = SelectedEntries();
    if (entries.empty()) {
        return;
    }
    POINT point{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    if (at == -1) {
        // From the keyboard: below the focused row, or the first selected one.
        const HWND list = m_list.Handle();
        int row = ListView_GetNextItem(list, -1, LVNI_FOCUSED | LVNI_SELECTED);
        row = row >= 0 ? row : m_list.Selected();
        ListView_EnsureVisible(list, row, FALSE);
        RECT bounds{};
        ListView_GetItemRect(list, row, &bounds, LVIR_LABEL);
        point = {bounds.left, bounds.bottom};
        ::ClientToScreen(list, &point);
    }
    const UniqueMenu menu = MakeEntryMenu(entries);
    RunMenuCommand(m_desktop.ChooseFromMenu(m_window, menu.Get(), point), entries);
}

void TMainForm::RunMenuCommand(UINT command, const std::vector<Entry>& entries) {
    if (!MenuCommandApplies(command, entries)) {
        return; // nothing chosen, or a greyed command
    }
    switch (command) {
    case SwitchOnCommand:
    case SwitchOffCommand:
        SwitchEntries(entries, command == SwitchOnCommand);
        break;
    case PropertiesCommand:
        ShowEntryProperties(entries[0]);
        break;
    case DeleteCommand:
        DeleteEntries(entries);
        break;
    case OpenFileLocationCommand:
        m_desktop.ShowInFolder(m_window, entries[0].target);
        break;
    case OpenInRegistryEditorCommand:
        OpenInRegistryEditor(entries[0]);
        break;
    case CopyCommandLineCommand:
        m_desktop.CopyText(m_window, CommandLinesOf(entries));
        break;
    }
}

void TMainForm::SwitchEntries(const std::vector<Entry>& entries, bool on) {
    // Each entry goes the way a click on its box sends it, one after the other; each is switched or left as it
    // was, and one that fails does not keep the others.
    std::wstring failures;
    for (const Entry& entry : entries) {
        const bool starts = IsEnabledCode(entry.code) && !entry.switchedOffInWindows;
        if (starts == on || (!on && entry.problem != EntryProblem::None) || m_importing) {
            continue;
        }
        m_pendingToggle = PendingToggle{entry, on};
        try {
            ToggleEntry();
        } catch (const EBootwarden& error) {
            failures += (failures.empty() ? L"" : L"\n") + ErrorText(error);
        }
    }
    if (!failures.empty()) {
        ShowException(failures);
    }
}

void TMainForm::OpenInRegistryEditor(const Entry& entry) {
    if (IsRegistryCode(entry.code)) {
        m_desktop.OpenRegistryEditor(m_window, RegistryEditorKeyOf(entry));
    } else {
        m_desktop.ShowInFolder(m_window, StartupLinkPath(entry.name)); // the Startup folder, the shortcut selected
    }
}

void TMainForm::ShowRowDetails(int row) {
    std::wstring details;
    if (row >= 0 && row < m_list.Count()) {
        const Entry& entry = m_list.RowEntry(row);
        if (!entry.fileDescription.empty() && !entry.publisher.empty()) {
            details = FormatMessageText(text::kProgramDetails, {entry.fileDescription, entry.publisher});
        } else {
            details = entry.fileDescription + entry.publisher;
        }
    }
    ::SendMessageW(m_statusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(details.c_str()));
}

std::wstring TMainForm::RowStatus(int row) const {
    const Entry& entry = m_list.RowEntry(row);
    if (entry.problem != EntryProblem::None) {
        return ProblemText(entry.problem);
    }
    if (entry.switchedOffInWindows) {
        return text::kSwitchedOffInWindows;
    }
    const SignatureVerdict& signature = entry.signature;
    if (ClaimUnconfirmed(entry)) {
        switch (signature.kind) {
        case SignatureKind::NotValid:
            return FormatMessageText(text::kClaimNotValid, {entry.publisher, SignatureReasonText(signature.status)});
        case SignatureKind::Verified:
            return FormatMessageText(text::kClaimOtherSigner, {entry.publisher, signature.signer});
        default:
            return FormatMessageText(text::kClaimNotSigned, entry.publisher);
        }
    }
    if (entry.factsKnown && signature.kind == SignatureKind::NotValid) {
        return FormatMessageText(text::kSignatureNotValid, SignatureReasonText(signature.status));
    }
    return m_list.TargetText(row);
}

void TMainForm::FactsRead() {
    const int row = m_list.Selected();
    if (row < 0) {
        return;
    }
    ShowRowDetails(row);
    std::wstring status = RowStatus(row);
    if (m_seen.IsNew(m_list.RowEntry(row))) {
        status = FormatMessageText(text::kNewEntryStatus, status);
    }
    SbSetText(m_statusBar, status);
}

void TMainForm::ShowViewMenu() {
    UniqueMenu menu(::CreatePopupMenu());
    ::AppendMenuW(menu.Get(), MF_STRING | (m_list.HidesWindows() ? MF_CHECKED : MF_UNCHECKED),
                  TToolBar::HideWindowsCommand, text::kMenuHideWindows);
    const RECT button = m_toolBar.ButtonRect(ViewButton);
    const UINT command = m_desktop.ChooseFromMenu(m_window, menu.Get(), POINT{button.left, button.bottom});
    if (command == TToolBar::HideWindowsCommand) {
        HideWindowsClick();
    }
}

void TMainForm::HideWindowsClick() {
    m_list.SetHideWindows(!m_list.HidesWindows());
    const int selected = m_list.Selected();
    ListSelectItem(selected, selected >= 0);
    SaveWindowSettings();
}

void TMainForm::ShowCounts() {
    const std::wstring all = std::to_wstring(m_list.TotalCount());
    std::wstring counts = m_list.FilterText().empty() && m_list.HiddenCount() == 0
                              ? FormatMessageText(text::kEntryCount, all)
                              : FormatMessageText(text::kShownCount, {std::to_wstring(m_list.Count()), all});
    if (m_list.HiddenCount() > 0) {
        counts += L"; " + FormatMessageText(text::kHiddenCount, std::to_wstring(m_list.HiddenCount()));
    }
    ::SendMessageW(m_statusBar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(counts.c_str()));
}

void TMainForm::FilterChanged() {
    m_list.SetFilter(m_filterBox.Text());
    const int selected = m_list.Selected();
    ListSelectItem(selected, selected >= 0);
    ShowCounts();
}

void TMainForm::PlaceFromSettings(int& showCommand) {
    if (!m_settings.bounds) {
        return; // the defaults
    }
    // The placement's coordinates are the work area's of the main monitor; the bounds are kept on whichever
    // monitor is nearest, so a monitor unplugged since does not leave the window out of reach.
    HMONITOR primary = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO primaryInfo{};
    primaryInfo.cbSize = sizeof primaryInfo;
    ::GetMonitorInfoW(primary, &primaryInfo);
    const POINT offset{primaryInfo.rcWork.left, primaryInfo.rcWork.top};
    RECT bounds = *m_settings.bounds;
    ::OffsetRect(&bounds, offset.x, offset.y);
    MONITORINFO nearest{};
    nearest.cbSize = sizeof nearest;
    ::GetMonitorInfoW(::MonitorFromRect(&bounds, MONITOR_DEFAULTTONEAREST), &nearest);
    bounds = KeepOnWorkArea(bounds, nearest.rcWork);
    ::OffsetRect(&bounds, -offset.x, -offset.y);

    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    ::GetWindowPlacement(m_window, &placement);
    placement.rcNormalPosition = bounds;
    placement.showCmd = SW_HIDE;
    ::SetWindowPlacement(m_window, &placement);
    // Of the usual ways to start, the one the window was closed in wins; minimised or hidden starts stay so.
    if (showCommand == SW_SHOWNORMAL || showCommand == SW_SHOWMAXIMIZED || showCommand == SW_SHOWDEFAULT) {
        showCommand = m_settings.maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    }
}

void TMainForm::ApplyListSettings() {
    if (m_settings.sort) {
        m_list.SetSort(*m_settings.sort);
    }
    m_list.SetHideWindows(m_settings.hideWindows);
    if (m_settings.columnWidths.size() + 1 >= static_cast<size_t>(kColumnCount)) {
        std::vector<int> widths;
        for (int width : m_settings.columnWidths) {
            widths.push_back(ScaleToDpi(width, m_dpi));
        }
        m_list.SetColumnWidths(widths);
    }
}

void TMainForm::SaveWindowSettings() {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!::GetWindowPlacement(m_window, &placement)) {
        return;
    }
    WindowSettings settings;
    settings.bounds = placement.rcNormalPosition;
    settings.maximized = placement.showCmd == SW_SHOWMAXIMIZED ||
                         (placement.showCmd == SW_SHOWMINIMIZED && (placement.flags & WPF_RESTORETOMAXIMIZED) != 0);
    if (m_list.ColumnsSizedByUser()) {
        for (int width : m_list.ColumnWidths()) {
            settings.columnWidths.push_back(::MulDiv(width, USER_DEFAULT_SCREEN_DPI, static_cast<int>(m_dpi)));
        }
    }
    settings.sort = m_list.Sort();
    settings.hideWindows = m_list.HidesWindows();
    (void)SaveSettings(SettingsPath(), settings); // not kept where the folder cannot be written: no box for that
}

} // namespace bw
