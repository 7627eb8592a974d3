#include "watch/Watcher.h"

#include "app/ContextMenu.h"
#include "app/EntrySelection.h"
#include "app/EntryOrder.h"
#include "app/LiveWatch.h"
#include "app/WatchCommand.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/NamedObjects.h"
#include "platform/NotifyIcon.h"
#include "platform/PackedHeap.h"
#include "platform/Process.h"
#include "resources/Texts.h"
#include "resources/resource.h"
#include "store/ErrorText.h"
#include "store/FileFacts.h"
#include "store/History.h"
#include "store/Locations.h"
#include "store/StoreData.h"
#include "store/StoreDoor.h"
#include "watch/StartingEntries.h"

#include <windowsx.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace bw {

namespace {

constexpr const wchar_t* kWindowClass = kWatcherWindowClass;
// One watcher per user session, whichever store it watches: two would give every notice twice.
constexpr const wchar_t* kWatcherMutex = L"Local\\Bootwarden-Watcher";
constexpr UINT_PTR kNoticeTimer = 41;
constexpr UINT_PTR kBusyTimer = 42;
// A program that writes many entries at once (an installer) writes them within a moment: the notice waits this long
// after the first change it tells of, and as long again after each further one, but never longer than kNoticeLongest,
// so that it comes within two seconds of the first write.
constexpr UINT kNoticeQuiet = 300;        // milliseconds
constexpr ULONGLONG kNoticeLongest = 900; // milliseconds
constexpr UINT kBusyRetry = 250;          // milliseconds: another process holds the store
constexpr DWORD kLockWait = 200;          // milliseconds
constexpr ULONGLONG kPause = 60ull * 60 * 1000;
constexpr size_t kLastNotices = 5; // the entries of the last notices that the icon's menu offers
constexpr size_t kNamesInNotice = 3;

struct EntryKey {
    int code;
    std::wstring name;
    bool operator<(const EntryKey& other) const { return code != other.code ? code < other.code : name < other.name; }
    bool operator==(const EntryKey& other) const { return code == other.code && name == other.name; }
};

// What the notices tell of: an entry that starts and was not there before, or starts something else now.
struct News {
    EntryKey key;
    bool added;
    std::wstring start;
    std::wstring target;
    bool replacesKept = false; // kept switched off, and back with another command line
};

// The entries the person asked not to hear of again, kept in the store's data folder: per entry its code, the
// length of its name and the name (any character), in UTF-16.
std::wstring QuietFile() {
    return StoreDataFile(kQuietEntriesFile);
}

std::set<EntryKey> ReadQuiet() {
    std::set<EntryKey> quiet;
    const auto bytes = ReadWholeFile(QuietFile(), 1024 * 1024);
    if (!bytes || bytes->size() % sizeof(wchar_t) != 0) {
        return quiet;
    }
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes->data()), bytes->size() / sizeof(wchar_t));
    size_t at = 0;
    while (at < text.size()) {
        wchar_t* end = nullptr;
        const long code = std::wcstol(text.c_str() + at, &end, 10);
        if (end == nullptr || *end != L' ') {
            break;
        }
        at = static_cast<size_t>(end - text.c_str()) + 1;
        const unsigned long length = std::wcstoul(text.c_str() + at, &end, 10);
        if (end == nullptr || *end != L' ') {
            break;
        }
        at = static_cast<size_t>(end - text.c_str()) + 1;
        if (length > text.size() - at) {
            break;
        }
        quiet.insert({static_cast<int>(code), text.substr(at, length)});
        at += length + 1; // and its line's end
    }
    return quiet;
}

void WriteQuiet(const std::set<EntryKey>& quiet) {
    std::wstring text;
    for (const EntryKey& key : quiet) {
        text += std::to_wstring(key.code) + L" " + std::to_wstring(key.name.size()) + L" " + key.name + L"\n";
    }
    WriteFileReplacing(QuietFile(), std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
}

// Opens the window, as its own process; with an entry, that entry's row selected once it is listed.
void OpenWindow(const std::optional<EntryKey>& select) {
    const std::wstring program = ModulePath();
    const std::wstring arguments = select ? SelectArguments({select->code, select->name}) : std::wstring();
    const std::wstring folder = ProgramDir();
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = program.c_str();
    info.lpParameters = arguments.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!seam::ShellExecute(&info)) {
        const std::wstring failure = FormatMessageText(text::kWatcherCannotStart, program);
        (void)::MessageBoxW(nullptr, failure.c_str(), text::kCaption, MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
    }
}

class TWatcher {
public:
    explicit TWatcher(HINSTANCE instance) : m_instance(instance), m_door(HistoryActor::Watcher) {}

    bool Create();
    // Waits for a message or a change of a place watched (which posts its message).
    void WaitForInput() {
        if (m_live) {
            m_live->WaitForInput();
        } else {
            (void)::WaitMessage(); // the window went: WM_QUIT is in the queue
        }
    }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    // Reads the system and the store again, mirrors and records what changed, and gathers the news of it.
    void Cycle();
    void Gathered(std::vector<News> news);
    void ShowNotice();
    void ShowMenu();
    void MenuChosen(UINT command);
    void SwitchOff(const EntryKey& key, bool replaceKept);
    void TellKeptOff(const std::vector<KeptOffFinding>& findings);
    bool StoreGone() const;
    void Pack();

    HINSTANCE m_instance;
    HWND m_window = nullptr;
    UINT m_taskbarCreated = 0;
    TStoreDoor m_door;
    std::unique_ptr<TLiveWatch> m_live;
    std::unique_ptr<TNotifyIcon> m_icon;
    TStartingEntries m_starting; // what started as the last cycle read it
    std::vector<News> m_pending; // the news the notice to come tells of
    ULONGLONG m_firstPending = 0;
    std::vector<News> m_last;              // the entries of the last notices, newest first
    std::optional<EntryKey> m_noticeEntry; // the row a click on the last notice selects
    ULONGLONG m_pausedUntil = 0;
};

bool TWatcher::Create() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = m_instance;
    windowClass.lpszClassName = kWindowClass;
    (void)::RegisterClassExW(&windowClass); // a class registered before is fine
    // A top-level window that is never shown: only those hear TaskbarCreated, which is broadcast.
    m_window = ::CreateWindowExW(0, kWindowClass, text::kCaption, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                 m_instance, this);
    if (m_window == nullptr) {
        return false;
    }
    m_taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
    // Windows lets a process that runs with raised rights hear the message only when it says so.
    (void)::ChangeWindowMessageFilterEx(m_window, m_taskbarCreated, MSGFLT_ALLOW, nullptr);
    const auto icon =
        static_cast<HICON>(::LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                        ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    // What starts now is what the notices are measured against: changes made while nothing watched are mirrored
    // and kept in the history by this first read, but not told. The opening reads no entry; what it sets up stays
    // as long as the watcher (the store's folders, its count of work), so it is not made inside a block of work,
    // which it would hold for good.
    m_door.Open();
    m_live = std::make_unique<TLiveWatch>(m_window, TLiveWatch::Waiting::InLoop);
    m_live->CycleStarts({});
    // Entries kept off that were put back while nothing watched leave the system again now.
    const std::vector<KeptOffFinding> keptOff = TPackedHeap::Work([this] {
        return m_door.Work([](TStoreDoor::TWork& work) {
            (void)work.Refresh(false);
            return work.KeepOffReAdded();
        });
    });
    m_live->CycleEnds(m_door.Session().Settled());
    m_starting.Take(m_door.Entries());

    // The icon comes once the watch is armed: from then on every change is told.
    m_icon = std::make_unique<TNotifyIcon>(m_window, kWatcherIconMessage, icon, text::kWatcherTip);
    (void)m_icon->Add(); // no taskbar yet (a log-on): TaskbarCreated adds it
    TellKeptOff(keptOff);
    Pack();
    return true;
}

LRESULT CALLBACK TWatcher::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        static_cast<TWatcher*>(create->lpCreateParams)->m_window = window;
    }
    auto* self = reinterpret_cast<TWatcher*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    try {
        return self->Handle(message, wParam, lParam);
    } catch (const EBootwarden& error) {
        // A cycle that failed (a key or file that could not be read) is tried again at the next change.
        (void)error;
        return 0;
    }
}

LRESULT TWatcher::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == m_taskbarCreated && m_taskbarCreated != 0) {
        if (m_icon) {
            (void)m_icon->Add();
        }
        return 0;
    }
    switch (message) {
    case TLiveWatch::kChangedMessage:
        if (m_live) {
            m_live->Changed();
        }
        return 0;
    case WM_TIMER:
        if (m_live && m_live->TimerFired(wParam)) {
            Cycle();
        } else if (wParam == kBusyTimer) {
            ::KillTimer(m_window, kBusyTimer);
            Cycle();
        } else if (wParam == kNoticeTimer) {
            ::KillTimer(m_window, kNoticeTimer);
            ShowNotice();
        }
        return 0;
    case kWatcherIconMessage:
        switch (LOWORD(lParam)) {
        case NIN_BALLOONUSERCLICK:
            OpenWindow(m_noticeEntry);
            return 0;
        case WM_CONTEXTMENU:
        case WM_RBUTTONUP:
            ShowMenu();
            return 0;
        case NIN_SELECT:
        case NIN_KEYSELECT:
            OpenWindow(std::nullopt);
            return 0;
        }
        return 0;
    case kWatcherMenuMessage: // what the icon's menu gives, also as a message of its own
        MenuChosen(static_cast<UINT>(wParam));
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE; // nothing is held between changes: the session may end at any time
    case WM_ENDSESSION:
        if (wParam != FALSE) {
            ::DestroyWindow(m_window);
        }
        return 0;
    case WM_DESTROY:
        m_live.reset(); // its thread ends before the window goes
        m_icon.reset();
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(m_window, message, wParam, lParam);
}

bool TWatcher::StoreGone() const {
    return !DirectoryExists(ProgramDir()) || !DirectoryExists(JoinPath(ProgramDir(), L"Run"));
}

void TWatcher::Cycle() {
    if (StoreGone()) {
        ::DestroyWindow(m_window); // the program was moved or removed with its store: nothing is left to keep
        return;
    }
    const TLiveWatch::Scope scope = m_live->MustRead(false);
    if (!scope.Any()) {
        return;
    }
    // The lock only while the import runs; never while a notice waits or a menu is open. What the import needs while
    // it runs is given back when it ends (TPackedHeap).
    std::vector<KeptOffFinding> keptOff;
    const bool worked = TPackedHeap::Work([&] {
        const std::unique_ptr<TStoreDoor::TWork> work = m_door.TryBeginWork(kLockWait);
        if (!work) {
            return false;
        }
        m_live->CycleStarts(scope);
        (void)work->Refresh(false);
        keptOff = work->KeepOffReAdded();
        return true;
    });
    if (!worked) {
        ::SetTimer(m_window, kBusyTimer, kBusyRetry, nullptr);
        return;
    }
    m_live->CycleEnds(m_door.Session().Settled());
    TellKeptOff(keptOff);

    std::vector<News> news;
    for (const Entry& entry : m_door.Entries()) {
        if (!IsEnabledCode(entry.code)) {
            continue;
        }
        const EntryKey key{entry.code, entry.name};
        const TStartingEntries::Standing standing = m_starting.Of(entry);
        if (standing != TStartingEntries::Standing::Same) {
            news.push_back({key, standing == TStartingEntries::Standing::Added, StartOf(entry), entry.target});
            news.back().replacesKept = std::any_of(keptOff.begin(), keptOff.end(), [&](const KeptOffFinding& finding) {
                return finding.kind == KeptOffFinding::CameBack && finding.entry.code == key.code &&
                       finding.entry.name == key.name;
            });
        }
    }
    m_starting.Take(m_door.Entries());
    // What the person did in Bootwarden itself (switched on or added in the window, through bwcli) is no news: the
    // notices are for what other programs do.
    if (!news.empty()) {
        const TDoorsOwn doorsOwn;
        news.erase(std::remove_if(news.begin(), news.end(),
                                  [&](const News& one) {
                                      return doorsOwn({0, one.added ? HistoryChange::Added : HistoryChange::Changed,
                                                       HistoryActor::Outside, one.key.code, one.key.name, one.start});
                                  }),
                   news.end());
    }
    Gathered(std::move(news));
    Pack();
}

// What is kept until the next change is copied, once a cycle's work is done, into a block of memory of its own: the
// block the work filled is then free and given back, instead of held for good around the pieces kept amid it. At 1000
// entries that is most of the watcher's own memory.
void TWatcher::Pack() {
    // The entries are listed afresh by each cycle's refresh (the watcher's cycles run on a change only); what started
    // is kept as m_starting.
    m_door.LetGoOfEntries();
    TPackedHeap::Repack([this] {
        m_door.Repack();
        m_starting.Repack();
    });
}

void TWatcher::Gathered(std::vector<News> news) {
    const std::set<EntryKey> quiet = news.empty() ? std::set<EntryKey>() : ReadQuiet();
    news.erase(std::remove_if(news.begin(), news.end(), [&](const News& one) { return quiet.count(one.key) > 0; }),
               news.end());
    if (news.empty()) {
        return;
    }
    const ULONGLONG now = ::GetTickCount64();
    if (m_pending.empty()) {
        m_firstPending = now;
    }
    for (News& one : news) {
        // An entry changed twice within one notice is told once, as it is now.
        m_pending.erase(
            std::remove_if(m_pending.begin(), m_pending.end(), [&](const News& told) { return told.key == one.key; }),
            m_pending.end());
        m_pending.push_back(std::move(one));
    }
    const ULONGLONG waited = now - m_firstPending;
    const ULONGLONG left = waited >= kNoticeLongest ? 0 : kNoticeLongest - waited;
    ::SetTimer(m_window, kNoticeTimer, static_cast<UINT>(std::min<ULONGLONG>(kNoticeQuiet, left)) + 1, nullptr);
}

// Tells of the entries kept off that came back with the same command line and left the system again, and of those
// the watcher may not take out here. Those back with another command line are told as any changed entry is.
void TWatcher::TellKeptOff(const std::vector<KeptOffFinding>& findings) {
    for (const KeptOffFinding& finding : findings) {
        if (::GetTickCount64() < m_pausedUntil) {
            return;
        }
        const std::wstring name = VisibleName(finding.entry.name);
        if (finding.kind == KeptOffFinding::SwitchedOffAgain) {
            m_noticeEntry = EntryKey{DisabledCodeOf(finding.entry.code), finding.entry.name}; // its kept copy
            (void)m_icon->Notify(FormatMessageText(text::kWatcherKeptOffTitle, name),
                                 FormatMessageText(text::kWatcherKeptOffText, PlainLocationLabel(finding.entry.code)));
        } else if (finding.kind == KeptOffFinding::NotChanged) {
            m_noticeEntry = EntryKey{finding.entry.code, finding.entry.name};
            (void)m_icon->Notify(FormatMessageText(text::kWatcherNotKeptOffTitle, name), finding.why);
        }
    }
}

void TWatcher::ShowNotice() {
    std::vector<News> news = std::move(m_pending);
    m_pending.clear();
    if (news.empty()) {
        return;
    }
    for (const News& one : news) {
        m_last.erase(
            std::remove_if(m_last.begin(), m_last.end(), [&](const News& kept) { return kept.key == one.key; }),
            m_last.end());
        m_last.insert(m_last.begin(), one);
    }
    if (m_last.size() > kLastNotices) {
        m_last.resize(kLastNotices);
    }
    if (::GetTickCount64() < m_pausedUntil) {
        return; // kept for the menu all the same
    }
    m_noticeEntry = news.front().key; // of several, the first told
    if (news.size() == 1) {
        const News& one = news.front();
        Entry program;
        const FileFacts facts = ReadFileFacts(one.target);
        program.factsKnown = facts.found;
        program.signature = facts.signature;
        const std::wstring signer = facts.found ? SignerText(program) : std::wstring(text::kWatcherSignerUnknown);
        if (one.replacesKept) {
            (void)m_icon->Notify(FormatMessageText(text::kWatcherCameBackTitle, VisibleName(one.key.name)),
                                 FormatMessageText(text::kWatcherCameBackText, one.start));
            return;
        }
        (void)m_icon->Notify(
            FormatMessageText(one.added ? text::kWatcherAddedTitle : text::kWatcherChangedTitle,
                              VisibleName(one.key.name)),
            FormatMessageText(text::kWatcherNoticeText, {PlainLocationLabel(one.key.code), one.start, signer}));
        return;
    }
    std::wstring names;
    for (size_t i = 0; i < news.size() && i < kNamesInNotice; ++i) {
        names += (i > 0 ? L", " : L"") + VisibleName(news[i].key.name);
    }
    if (news.size() > kNamesInNotice) {
        names += L" " + FormatMessageText(text::kWatcherManyMore, std::to_wstring(news.size() - kNamesInNotice));
    }
    (void)m_icon->Notify(FormatMessageText(text::kWatcherManyTitle, std::to_wstring(news.size())), names);
}

void TWatcher::ShowMenu() {
    UniqueMenu menu(::CreatePopupMenu());
    (void)::AppendMenuW(menu.Get(), MF_STRING, WatcherOpenCommand, text::kWatcherOpen);
    const bool paused = ::GetTickCount64() < m_pausedUntil;
    (void)::AppendMenuW(menu.Get(), MF_STRING | (paused ? MF_CHECKED : 0), WatcherPauseCommand, text::kWatcherPause);
    (void)::AppendMenuW(menu.Get(), MF_STRING, WatcherStopCommand, text::kWatcherStop);
    if (!m_last.empty()) {
        (void)::AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
    }
    for (size_t i = 0; i < m_last.size(); ++i) {
        const HMENU entry = ::CreatePopupMenu(); // owned by `menu` once appended
        const UINT first = WatcherEntryCommands + static_cast<UINT>(i) * kCommandsPerEntry;
        (void)::AppendMenuW(entry, MF_STRING, first + EntryShowCommand, text::kWatcherShowEntry);
        (void)::SetMenuDefaultItem(entry, first + EntryShowCommand, FALSE);
        (void)::AppendMenuW(entry, MF_STRING, first + EntrySwitchOffCommand,
                            m_last[i].replacesKept ? text::kWatcherSwitchOffReplacing : text::kWatcherSwitchOff);
        (void)::AppendMenuW(entry, MF_STRING, first + EntryKeepCommand, text::kWatcherKeep);
        (void)::AppendMenuW(entry, MF_STRING, first + EntryQuietCommand, text::kWatcherQuiet);
        const std::wstring label = VisibleName(m_last[i].key.name) + LocationLabel(m_last[i].key.code);
        (void)::AppendMenuW(menu.Get(), MF_POPUP, reinterpret_cast<UINT_PTR>(entry), label.c_str());
    }
    POINT at{};
    (void)::GetCursorPos(&at);
    // The menu goes when the person clicks elsewhere only while the window is in the foreground.
    (void)::SetForegroundWindow(m_window);
    const UINT chosen = static_cast<UINT>(
        ::TrackPopupMenuEx(menu.Get(), TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, m_window, nullptr));
    (void)::PostMessageW(m_window, WM_NULL, 0, 0);
    if (chosen != 0) {
        MenuChosen(chosen);
    }
}

void TWatcher::MenuChosen(UINT command) {
    switch (command) {
    case WatcherOpenCommand:
        OpenWindow(std::nullopt);
        return;
    case WatcherPauseCommand:
        m_pausedUntil = ::GetTickCount64() < m_pausedUntil ? 0 : ::GetTickCount64() + kPause;
        return;
    case WatcherStopCommand:
        ::DestroyWindow(m_window);
        return;
    }
    if (command < WatcherEntryCommands || command >= WatcherEntryCommands + m_last.size() * kCommandsPerEntry) {
        return;
    }
    const size_t index = (command - WatcherEntryCommands) / kCommandsPerEntry;
    const EntryKey key = m_last[index].key;
    const bool replaceKept = m_last[index].replacesKept;
    const UINT chosen = (command - WatcherEntryCommands) % kCommandsPerEntry;
    if (chosen == EntryShowCommand) {
        OpenWindow(key); // not yet answered: the entry stays in the menu
        return;
    }
    m_last.erase(m_last.begin() + static_cast<std::ptrdiff_t>(index)); // whatever was chosen, it has been answered
    switch (chosen) {
    case EntrySwitchOffCommand:
        SwitchOff(key, replaceKept);
        return;
    case EntryKeepCommand:
        return; // kept: it starts as it does
    case EntryQuietCommand: {
        m_door.Work([&](TStoreDoor::TWork&) {
            std::set<EntryKey> quiet = ReadQuiet();
            quiet.insert(key);
            WriteQuiet(quiet);
        });
        return;
    }
    }
}

void TWatcher::SwitchOff(const EntryKey& key, bool replaceKept) {
    std::wstring failure;
    bool listed = false;
    try {
        TPackedHeap::Work([&] {
            m_door.Work([&](TStoreDoor::TWork& work) {
                (void)work.Refresh(false); // acts on the entry as it is now, never on what the notice saw
                listed = true;
                const auto& entries = work.Entries();
                const auto found = std::find_if(entries.begin(), entries.end(), [&](const Entry& entry) {
                    return entry.code == key.code && entry.name == key.name;
                });
                if (found == entries.end()) {
                    failure = FormatMessageText(text::kWatcherEntryGone, VisibleName(key.name));
                    return;
                }
                work.Disable(*found, replaceKept);
            });
        });
    } catch (const EBootwarden& error) {
        failure = ErrorText(error);
    }
    if (listed) { // else the entries stand empty (Pack let go of them) and what started stays as the last cycle saw it
        m_starting.Take(m_door.Entries());
    }
    Pack();
    if (!failure.empty()) { // shown once the lock is free
        (void)::MessageBoxW(nullptr, failure.c_str(), text::kCaption, MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
    }
}

} // namespace

bool IsWatchCommand(const std::wstring& commandLine) {
    // The switch as a word of its own: a path or a name that merely holds it does not count.
    size_t at = 0;
    while ((at = commandLine.find(kWatchSwitch, at)) != std::wstring::npos) {
        const size_t end = at + std::wcslen(kWatchSwitch);
        const bool startsWord = at == 0 || commandLine[at - 1] == L' ' || commandLine[at - 1] == L'\t';
        const bool endsWord = end == commandLine.size() || commandLine[end] == L' ' || commandLine[end] == L'\t';
        if (startsWord && endsWord) {
            return true;
        }
        at = end;
    }
    return false;
}

int RunWatcher(HINSTANCE instance) {
    TNamedMutex running(kWatcherMutex);
    if (!running.Acquire(0)) {
        return 0; // another watcher keeps watch in this session already
    }
    SetProgramDir(ProgramDirOf(ModulePath()));
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
        return 1;
    }
    int result = 0;
    try {
        TWatcher watcher(instance);
        if (!watcher.Create()) {
            result = 1;
        } else {
            // The watch's handles are waited on here with the messages: the watcher runs no thread beside this one.
            MSG message{};
            for (;;) {
                if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                    watcher.WaitForInput();
                    continue;
                }
                if (message.message == WM_QUIT) {
                    break;
                }
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
    } catch (const EBootwarden&) {
        result = 1;
    }
    ::CoUninitialize();
    return result;
}

} // namespace bw
