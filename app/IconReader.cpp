#include "app/IconReader.h"

#include "platform/FileIcon.h"
#include "platform/FileSystem.h"

#include <objbase.h>

#include <optional>
#include <utility>

namespace bw {

namespace {

// The shell's functions want an apartment on the thread that calls them; this one is the lane's for its life.
class Apartment {
public:
    Apartment() : m_result(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~Apartment() {
        if (SUCCEEDED(m_result)) {
            ::CoUninitialize();
        }
    }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

private:
    HRESULT m_result;
};

} // namespace

TIconReader::TIconReader(HINSTANCE instance, std::function<void()> ready)
    : m_instance(instance), m_ready(std::move(ready)) {}

void TIconReader::StartLanes() {
    // With the first icon asked for: a window that makes its reader is shown first, and has no icon to read yet.
    if (!m_local.thread.joinable()) {
        m_local.thread = std::thread([this] { Work(m_local); });
        m_network.thread = std::thread([this] { Work(m_network); });
    }
}

TIconReader::~TIconReader() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_local.thread.joinable()) {
        m_local.thread.join();
        // A lane that waits on a vanished share may wait for the network's timeout; the window is gone by then.
        m_network.thread.join();
    }
}

void TIconReader::Ask(const std::wstring& key, const std::wstring& path, int index) {
    StartLanes();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_asked.insert(key).second) {
            return;
        }
        // The local lane sends what lies on a share to the network lane (asking a drive's type is a round trip to
        // the system, which the window does not wait for).
        m_local.requests.push_back(Request{key, path, index});
        if (m_held) {
            return; // read once the reader is let go (a thousand programs asked for wake nobody a thousand times)
        }
    }
    m_wake.notify_all();
}

std::vector<TIconReader::Icon> TIconReader::Take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = false;
    std::vector<Icon> read = std::move(m_read);
    m_read.clear();
    for (const Icon& icon : read) {
        m_asked.erase(icon.key);
    }
    return read;
}

void TIconReader::Hold(bool held) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = held;
    }
    m_wake.notify_all();
}

bool TIconReader::Pending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_asked.empty();
}

void TIconReader::Work(Lane& lane) {
    const Apartment apartment;
    std::optional<TNetworkPaths> onNetwork; // the local lane's, for one run of requests
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (lane.requests.empty()) {
            onNetwork.reset(); // a drive mapped meanwhile is seen by the next run
        }
        m_wake.wait(lock, [&] { return m_stop || (!m_held && !lane.requests.empty()); });
        if (m_stop) {
            return;
        }
        Request request = std::move(lane.requests.front());
        lane.requests.pop_front();
        lock.unlock();
        if (&lane == &m_local) {
            if (!onNetwork) {
                onNetwork.emplace();
            }
            if (onNetwork->Holds(request.path)) {
                lock.lock();
                m_network.requests.push_back(std::move(request));
                m_wake.notify_all();
                continue;
            }
        }
        UniqueHicon icon(ReadFileIcon(m_instance, request.path, request.index));
        lock.lock();
        m_read.push_back(Icon{request.key, std::move(icon)});
        // One call until the window has taken what was read: a thousand icons are a few messages, not a thousand.
        if (m_ready && !m_signalled.exchange(true)) {
            lock.unlock();
            m_ready();
            lock.lock();
        }
    }
}

} // namespace bw
