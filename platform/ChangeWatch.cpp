#include "platform/ChangeWatch.h"

#include "platform/Registry.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <utility>

namespace bw {

namespace seam {
TSeam<HANDLE(const std::wstring&, DWORD)> WatchFolder([](const std::wstring& folder, DWORD filter) {
    return ::FindFirstChangeNotificationW(folder.c_str(), FALSE, filter);
});
TSeam<LONG(HKEY, HANDLE)> WatchKey([](HKEY key, HANDLE event) {
    // Registered on the window's thread, which lives as long as the watch: a registration ends with the thread
    // that made it, and REG_NOTIFY_THREAD_AGNOSTIC, which would lift that, exists only from Windows 8 on.
    return ::RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
});
} // namespace seam

TChangeWatch TChangeWatch::Folder(std::wstring folder, bool attributes) {
    TChangeWatch watch;
    watch.m_attributes = attributes;
    watch.m_name = folder;
    watch.m_path = std::move(folder);
    return watch;
}

TChangeWatch TChangeWatch::Key(HKEY root, std::wstring path, REGSAM view) {
    TChangeWatch watch;
    watch.m_isKey = true;
    watch.m_root = root;
    watch.m_view = view;
    const wchar_t* rootName = root == HKEY_LOCAL_MACHINE ? L"HKEY_LOCAL_MACHINE\\" : L"HKEY_CURRENT_USER\\";
    watch.m_name = rootName + path + (view == KEY_WOW64_32KEY ? L" (32-bit)" : L"");
    watch.m_path = std::move(path);
    return watch;
}

TChangeWatch TChangeWatch::Unarmed() const {
    TChangeWatch watch;
    watch.m_isKey = m_isKey;
    watch.m_attributes = m_attributes;
    watch.m_stamp = m_stamp; // what the place was when last armed: a fresh arm tells whether it moved since
    watch.m_name = m_name;
    watch.m_path = m_path;
    watch.m_root = m_root;
    watch.m_view = m_view;
    return watch;
}

HANDLE TChangeWatch::Handle() const {
    return m_isKey ? m_event.Get() : m_folder.Get() == INVALID_HANDLE_VALUE ? nullptr : m_folder.Get();
}

bool TChangeWatch::Continue() {
    if (m_isKey || m_watchingParent || !m_folder) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(m_path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        !::FindNextChangeNotification(m_folder.Get())) {
        return false;
    }
    TakeStamp(m_path);
    return true;
}

void TChangeWatch::TakeStamp(const std::wstring& watched) {
    // Taken after the watch is armed: a change between the two is signalled as well as stamped.
    m_stamp.clear();
    const auto add = [this](const FILETIME& time) {
        m_stamp += std::to_wstring((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) + L"|";
    };
    m_stamp = watched + L"|";
    if (m_isKey) {
        FILETIME written{};
        if (m_key && ::RegQueryInfoKeyW(m_key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, &written) == ERROR_SUCCESS) {
            add(written);
            return;
        }
    } else {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (::GetFileAttributesExW(watched.c_str(), GetFileExInfoStandard, &data)) {
            add(data.ftCreationTime);
            add(data.ftLastWriteTime);
            return;
        }
    }
    m_stamp.clear();
}

void TChangeWatch::Disarm() {
    m_folder.Reset();
    m_key.Reset();
    m_event.Reset();
}

namespace {

bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The path one level up ("" above a key's first name); false where there is none.
bool ParentOf(std::wstring& path, bool isKey) {
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) {
        if (!isKey || path.empty()) {
            return false;
        }
        path.clear(); // the root key itself
        return true;
    }
    if (!isKey && (slash < 3 || (path.compare(0, 2, L"\\\\") == 0 && path.find(L'\\', 2) == slash))) {
        return false; // a drive's root or a share's server stands above nothing that could be made
    }
    path.resize(slash);
    return true;
}

// The slots marked in `signalled`, each unmarked.
std::vector<size_t> TakeSlots(std::vector<bool>& signalled) {
    std::vector<size_t> slots;
    for (size_t slot = 0; slot < signalled.size(); ++slot) {
        if (signalled[slot]) {
            slots.push_back(slot);
            signalled[slot] = false;
        }
    }
    return slots;
}

} // namespace

bool TChangeWatch::Arm() {
    Disarm();
    m_watchingParent = false;
    // A place that is not there yet is watched through the nearest folder or key above it that is: the change
    // that makes it tells the caller, whose next arm then watches the place itself.
    std::wstring path = m_path;
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) {
        path.pop_back();
    }
    for (;;) {
        const DWORD error = m_isKey ? ArmKey(path) : ArmFolder(path);
        if (error == ERROR_SUCCESS) {
            TakeStamp(path);
            return true;
        }
        if (!IsMissing(error) || !ParentOf(path, m_isKey)) {
            Disarm();
            m_stamp.clear();
            return false; // not to be watched: read at each refresh instead
        }
        m_watchingParent = true;
    }
}

DWORD TChangeWatch::ArmFolder(const std::wstring& folder) {
    // A folder's watch names the folder that stood at the path when it began; one deleted since (and perhaps
    // made again) would tell of nothing more, so each arm watches the path afresh.
    DWORD filter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE |
                   FILE_NOTIFY_CHANGE_LAST_WRITE;
    if (m_attributes) {
        filter |= FILE_NOTIFY_CHANGE_ATTRIBUTES;
    }
    m_folder.Reset(seam::WatchFolder(folder, filter));
    const DWORD error = m_folder ? ERROR_SUCCESS : ::GetLastError();
    return m_folder || error != ERROR_SUCCESS ? error : ERROR_NOT_SUPPORTED;
}

DWORD TChangeWatch::ArmKey(const std::wstring& path) {
    HKEY key = nullptr;
    // Its stamp is asked through the same handle; a key that grants notifications alone is watched without one.
    LONG opened = seam::OpenRegistryKey(m_root, path, KEY_NOTIFY | KEY_QUERY_VALUE | m_view, &key);
    if (opened == ERROR_ACCESS_DENIED) {
        opened = seam::OpenRegistryKey(m_root, path, KEY_NOTIFY | m_view, &key);
    }
    if (opened != ERROR_SUCCESS) {
        return static_cast<DWORD>(opened);
    }
    m_key.Reset(key);
    // Manual reset: the waiter's wait leaves it signalled, so that a refresh still sees a change not yet handled.
    m_event.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_event) {
        return ::GetLastError();
    }
    const LONG watched = seam::WatchKey(m_key.Get(), m_event.Get());
    // A missing key's parent is told of its subkeys only; a failure there must not read as "missing" again.
    return watched == ERROR_SUCCESS          ? ERROR_SUCCESS
           : watched == ERROR_FILE_NOT_FOUND ? ERROR_NOT_SUPPORTED
                                             : static_cast<DWORD>(watched);
}

TChangeWaiter::TChangeWaiter(HWND window, UINT message)
    : m_window(window), m_message(message), m_stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)), m_taken(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    m_thread = std::thread([this] { Run(); });
}

TChangeWaiter::~TChangeWaiter() {
    ::SetEvent(m_stop.Get());
    m_thread.join();
}

void TChangeWaiter::Wait(const std::vector<HANDLE>& handles) {
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_next.assign(handles.begin(),
                      handles.begin() + static_cast<std::ptrdiff_t>(std::min(handles.size(), kMaxHandles)));
        m_hasNext = true;
        m_signalled.resize(m_next.size(), false); // what was signalled and not yet taken stays so
    }
    // Until the thread has taken the new set it may still wait on handles that the caller closes next.
    ::SetEvent(m_wake.Get());
    (void)::WaitForSingleObject(m_taken.Get(), kTakeWait);
}

std::vector<size_t> TChangeWaiter::TakeSignalled() {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_posted = false;
    return TakeSlots(m_signalled);
}

void TChangeWaiter::Run() {
    std::vector<HANDLE> handles; // the set of the last Wait
    std::vector<bool> waiting;   // by slot: not signalled since the last Wait
    for (;;) {
        std::vector<HANDLE> waitOn{m_stop.Get(), m_wake.Get()};
        std::vector<size_t> slotOf;
        for (size_t slot = 0; slot < handles.size(); ++slot) {
            if (handles[slot] != nullptr && waiting[slot]) {
                waitOn.push_back(handles[slot]);
                slotOf.push_back(slot);
            }
        }
        const DWORD result =
            ::WaitForMultipleObjects(static_cast<DWORD>(waitOn.size()), waitOn.data(), FALSE, INFINITE);
        if (result == WAIT_OBJECT_0 || result == WAIT_FAILED) {
            return;
        }
        if (result == WAIT_OBJECT_0 + 1) {
            const std::lock_guard<std::mutex> guard(m_lock);
            if (m_hasNext) {
                handles = std::move(m_next);
                m_next.clear();
                m_hasNext = false;
                waiting.assign(handles.size(), true);
                ::SetEvent(m_taken.Get());
            }
            continue;
        }
        if (result < WAIT_OBJECT_0 + 2 || result >= WAIT_OBJECT_0 + waitOn.size()) {
            continue; // an abandoned wait: none of ours is a mutex
        }
        const size_t slot = slotOf[result - WAIT_OBJECT_0 - 2];
        waiting[slot] = false;
        {
            const std::lock_guard<std::mutex> guard(m_lock);
            // A slot names the same place in every set, so a signal of the set that is being replaced counts too.
            if (slot < m_signalled.size()) {
                m_signalled[slot] = true;
            }
        }
        if (!m_posted.exchange(true)) {
            ::PostMessageW(m_window, m_message, 0, 0);
        }
    }
}

void TLoopWaiter::Wait(const std::vector<HANDLE>& handles) {
    m_handles.assign(handles.begin(),
                     handles.begin() + static_cast<std::ptrdiff_t>(std::min(handles.size(), kMaxHandles)));
    m_signalled.resize(m_handles.size(), false); // what was signalled and not yet taken stays so
}

std::vector<size_t> TLoopWaiter::TakeSignalled() {
    m_posted = false;
    return TakeSlots(m_signalled);
}

bool TLoopWaiter::WaitForInput(DWORD timeout) {
    HANDLE waitOn[kMaxHandles];
    size_t slotOf[kMaxHandles];
    DWORD count = 0;
    for (size_t slot = 0; slot < m_handles.size(); ++slot) {
        if (m_handles[slot] != nullptr) {
            waitOn[count] = m_handles[slot];
            slotOf[count++] = slot;
        }
    }
    // MWMO_INPUTAVAILABLE: a message that came before this call and is still in the queue ends the wait as well.
    const DWORD result = ::MsgWaitForMultipleObjectsEx(count, waitOn, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (result == WAIT_FAILED) {
        // A handle of the set closed before its Wait: none is waited on until the next Wait, rather than a loop
        // that fails at once and again.
        m_handles.assign(m_handles.size(), nullptr);
    }
    if (result >= WAIT_OBJECT_0 + count) {
        return false; // a message or the timeout
    }
    const size_t slot = slotOf[result - WAIT_OBJECT_0];
    m_handles[slot] = nullptr; // not waited on again until the next Wait: a handle that stays signalled wakes once
    m_signalled[slot] = true;
    if (!m_posted) {
        m_posted = true;
        ::PostMessageW(m_window, m_message, 0, 0);
    }
    return true;
}

struct TWatchArmer::Shared {
    struct Request {
        size_t ticket;
        bool close;
        TChangeWatch watch;
    };
    HWND window;
    UINT message;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Request> requests;
    std::vector<Armed> armed;
    bool stop = false;
    bool ended = false;

    void Run() {
        std::unique_lock<std::mutex> guard(lock);
        while (!stop) {
            if (requests.empty()) {
                changed.wait(guard);
                continue;
            }
            Request request = std::move(requests.front());
            requests.pop_front();
            guard.unlock();
            if (request.close) {
                request.watch.Disarm();
                guard.lock();
                continue;
            }
            (void)request.watch.Arm();
            guard.lock();
            armed.push_back({request.ticket, std::move(request.watch)});
            ::PostMessageW(window, message, 0, 0);
        }
        // What is left is closed here: the handles this thread armed go before it does.
        requests.clear();
        armed.clear();
        ended = true;
        changed.notify_all();
    }
};

TWatchArmer::TWatchArmer(HWND window, UINT message) : m_shared(std::make_shared<Shared>()) {
    m_shared->window = window;
    m_shared->message = message;
    std::thread([shared = m_shared] { shared->Run(); }).detach();
}

TWatchArmer::~TWatchArmer() {
    std::unique_lock<std::mutex> guard(m_shared->lock);
    m_shared->stop = true;
    m_shared->changed.notify_all();
    // A watch held by the network keeps its thread (and what the thread shares) until the timeout; nothing of the
    // armer's owner is touched from there on.
    (void)m_shared->changed.wait_for(guard, std::chrono::milliseconds(kEndWait), [this] { return m_shared->ended; });
}

void TWatchArmer::Arm(size_t ticket, TChangeWatch watch) {
    const std::lock_guard<std::mutex> guard(m_shared->lock);
    m_shared->requests.push_back({ticket, false, std::move(watch)});
    m_shared->changed.notify_all();
}

void TWatchArmer::Close(TChangeWatch watch) {
    const std::lock_guard<std::mutex> guard(m_shared->lock);
    m_shared->requests.push_back({0, true, std::move(watch)});
    m_shared->changed.notify_all();
}

std::vector<TWatchArmer::Armed> TWatchArmer::TakeArmed() {
    const std::lock_guard<std::mutex> guard(m_shared->lock);
    return std::exchange(m_shared->armed, {});
}

} // namespace bw
