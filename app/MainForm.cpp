#include "app/MainForm.h"

#include "app/ContextMenu.h"
#include "app/Controls.h"
#include "app/EntryOrder.h"
#include "app/SingleInstance.h"
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
constexpr int kFilterWidth = 200;
constexpr int kDetailsPart = 300; // the status bar's part for a program's description and publisher
constexpr int kCountsPart = 230;

// At close, a store that another process keeps busy is waited for only this long when the window is closed while a
// question was open: closing must end the process within a second. (The edits stay in the store for the next start.)
constexpr DWORD kCloseLockWait = 500;

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
    } catch (const ENotShared& error) {
        (form.*show)(NotSharedText(error));
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
      m_list(instance, TEntryList::Handlers{
                           [this](int row, bool checked) { ListChange(row, checked); },
                           [this](int row, bool selected) { ListSelectItem(row, selected); },
                           [this] { PropButtonClick(); }, [this] { ShowCounts(); },
                           [this](const Entry& entry) { return m_seen.IsNew(entry) || m_notices.IsWaiting(entry); },
                           [this] { FactsRead(); }}),
      m_filterBox(instance),
      m_scheduler(m_sharedDoor, m_toolBar.Progress(),
                  TScheduler::Hooks{[this](bool everyBox) { ShowEntries(everyBox); },
                                    [this] { m_list.MakeList(m_session.Entries(), true); },
                                    [this](const std::wstring& text) { SbSetText(m_statusBar, text); },
                                    [this] { CycleEnded(); }, [this](const std::wstring& text) { ShowException(text); },
                                    [this] { return m_list.TotalCount() == 0; },
                                    [this](const std::vector<Entry>& entries) {
                                        m_list.MakeList(entries);
                                        m_list.HoldToggles();
                                    },
                                    [this](bool held) { m_list.HoldReaders(held); }}),
      m_notices(desktop, m_scheduler, m_session, [this] { RestartAsAdministrator(); }) {}

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
    m_notices.ShowError(message);
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
    case WM_COPYDATA: {
        const auto selection = SelectionHandedOver(*reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        if (selection) {
            SelectEntry(*selection);
        }
        return selection ? TRUE : FALSE;
    }
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
        case TToolBar::AddForAllUsersCommand:
            AddButtonClick(kCommonCode);
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
        if (header.code == TBN_DROPDOWN && reinterpret_cast<const NMTOOLBARW&>(header).iItem == AddButton) {
            ShowAddMenu();
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
            ::PostMessageW(m_window, kActivateMessage, 0, 0);
        }
        return 0;
    case kActivateMessage:
        // Coming back to the window: carry the store's edits into the system and show what others changed. While
        // a command is under way (a question, the error box) the refresh waits for it to end.
        RefreshAll();
        return 0;
    case kToggleMessage:
        ToggleEntry();
        return 0;
    case kStartMessage:
        if (!OpenStore()) {
            ::DestroyWindow(m_window); // the message loop ends at once
            return 0;
        }
        m_scheduler.Refresh(false);
        return 0;
    case kStartImportMessage:
        m_scheduler.StartImportNews();
        return 0;
    case kNoticesMessage:
        m_notices.ShowHeldBack();
        return 0;
    case kWatchChangedMessage:
        m_scheduler.WatchChanged();
        return 0;
    case WM_TIMER:
        if (m_scheduler.TimerFired(wParam)) {
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
        Close();
        return 0;
    case WM_QUERYENDSESSION:
        // Windows ends: a question still open is no answer.
        if (m_scheduler.InCommand()) {
            m_scheduler.WantClose();
            EndQuestions(m_window);
        }
        return TRUE;
    case WM_ENDSESSION:
        if (wParam && !m_scheduler.InCommand()) {
            m_scheduler.WantClose(); // nothing is asked any more
            Close();
        }
        return 0;
    case WM_DESTROY:
        m_scheduler.Stop();
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
    m_notices.Attach(m_window);
    m_toolBar.ShowRestart(!RunsAsAdministrator());
    ShowAccountInTitle();
    // Not here: the window is shown first. Opening the store makes and reads files (its folders, its owner's
    // record, the lock), which the first paint does not wait for; and a first start reads and copies many entries
    // while the window answers.
    ::PostMessageW(m_window, kStartMessage, 0, 0);
}

bool TMainForm::OpenStore() {
    try {
        m_door.Open();
    } catch (const EStoreNotHere& error) {
        // Nothing was made and nothing is changed: the program ends once the user has read why.
        ::ShowWindow(m_window, SW_HIDE);
        ShowException(ErrorText(error));
        return false;
    }
    if (!m_door.RefusedFolders().empty()) {
        std::wstring lines;
        for (const RefusedFolder& folder : m_door.RefusedFolders()) {
            lines += FormatMessageText(text::kStoreFolderLine, {folder.folder, folder.why});
        }
        ShowException(FormatMessageText(text::kStoreFoldersAreLinks, lines));
    }
    // Either way the entries are listed, and a change is refused with the reason; said once, here.
    if (const auto& notShared = m_door.NotShared()) {
        ShowException(NotSharedText(notShared->reason, notShared->name));
    } else if (!m_door.UnreachableOwner().empty()) {
        const std::wstring me = ProcessAccountName();
        const std::wstring& owner = m_door.UnreachableOwner();
        ShowException(FormatMessageText(text::kOwnersPlacesUnreachable, {me, owner, me, owner}));
    } else if (const auto& owner = m_door.OtherOwner()) {
        ShowException(FormatMessageText(text::kStoreOfAnother, {ShownAccount(*owner), ShownMachine(*owner)}));
    } else if (m_door.ReadOnly()) {
        ShowException(FormatMessageText(text::kStoreReadOnly, ProgramDir()));
    }
    m_seen.Load(StoreDataFile(kSeenEntriesFile));
    m_scheduler.Start(m_window);
    return true;
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
    // Beside a program run from a share, the record is written where the window does not wait for it.
    m_seen.WriteThrough(m_scheduler.StoreIsRemote() ? &TCommandWork::WriteLatest : nullptr);
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
    m_notices.OfferRestart(message);
}

void TMainForm::ShowEntries(bool everyBox) {
    m_list.MakeList(m_session.Entries(), everyBox);
    LookAtEntries();
    const int selected = m_list.Selected();
    ListSelectItem(selected, selected >= 0);
}

void TMainForm::CycleEnded() {
    ApplyRowChoice(); // a long import's end: the row its command chose
    m_notices.Report();
}

void TMainForm::ListSelectItem(int row, bool selected) {
    if (!selected && m_list.Selected() >= 0) {
        row = m_list.Selected(); // of several rows, one was deselected: the status tells of the first left
        selected = true;
    }
    ShowRowDetails(selected ? row : -1);
    std::wstring status;
    if (selected && row >= 0 && row < m_list.Count()) {
        const Entry& entry = m_list.RowEntry(row);
        status = m_notices.IsWaiting(entry) ? FormatMessageText(text::kChoiceWaitingStatus, CommandLineOf(entry))
                                            : RowStatus(row);
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

void TMainForm::RefreshAll(bool everyPlace) {
    // A program updated in place changes no place the list reads: its stamp is looked at again, off the window's
    // thread, and only a program whose stamp moved is read and verified again.
    m_list.LookAgain();
    m_scheduler.RefreshAll(everyPlace);
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
        RefreshAll(true);
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

void TMainForm::Close() {
    if (m_scheduler.InCommand()) {
        // A question, a message or a menu is open: closing is no answer to it. The command ends as if the user
        // had pressed Escape, and the window closes then (TScheduler posts WM_CLOSE again).
        m_scheduler.WantClose();
        EndQuestions(m_window);
        return;
    }
    if (FormClose()) {
        ::DestroyWindow(m_window);
    }
}

bool TMainForm::FormClose() {
    const TScheduler::TCommand command(m_scheduler);
    // What an import under way copied so far stays; the rest is done at the next start.
    m_scheduler.AbandonImport();
    std::wstring failure;
    try {
        // A window closed while a question was open ends within a second: a store kept busy by another process
        // is not waited for long, and the edits stay in the store for the next start. So they do, unasked, where a
        // read or a write held by the network still holds the store.
        m_scheduler.WriteBackAtClose(m_scheduler.Closing() ? kCloseLockWait : kStoreLockWait);
    } catch (const EBootwarden& error) {
        failure = ErrorText(error);
    }
    // A disk that is full or a shortcut held by another program must not trap the window: the user is told what
    // failed and chooses, with the lock free. The edit stays in the store either way; closing again retries.
    // "No", the default, and no answer keep the window open; a window closed meanwhile closes.
    if (!failure.empty() && !m_scheduler.Closing() &&
        !(m_desktop.ConfirmDefaultNo(m_window, FormatMessageText(text::kCloseAnyway, ErrorBoxText(failure))) ||
          m_scheduler.Closing())) {
        return false;
    }
    SaveWindowSettings();
    m_scheduler.CloseDone();
    return true;
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

} // namespace bw
