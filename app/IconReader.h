#pragma once

#include "app/UiHandles.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace bw {

// Reads the entries' icons off the window's thread: extracting an icon opens its file, which on a slow disk, a
// program scanned on first touch or a network share takes as long as the file takes. Each icon asked for is read
// once, on a thread with a shell apartment of its own; an icon on a network path is read on a lane of its own, so
// that a slow or vanished share delays only its own icons.
class TIconReader {
public:
    // `ready` is called on a reader's thread when icons wait to be taken; the window posts itself a message from it
    // and calls Take.
    TIconReader(HINSTANCE instance, std::function<void()> ready);
    ~TIconReader();
    TIconReader(const TIconReader&) = delete;
    TIconReader& operator=(const TIconReader&) = delete;

    // Asks for the icon at `index` in `path` (as ReadFileIcon reads it), known by `key`. A key asked for and not
    // yet taken is not asked for again.
    void Ask(const std::wstring& key, const std::wstring& path, int index);

    struct Icon {
        std::wstring key;
        UniqueHicon icon; // none when the file gives no icon: the default icon stands for it
    };
    // The icons read since the last call, in the order they were read.
    std::vector<Icon> Take();

    // True while an icon asked for has not been taken.
    bool Pending() const;

    // While held, no icon is read (those asked for wait until it is let go): see TFileFactsReader::Hold.
    void Hold(bool held);

private:
    struct Request {
        std::wstring key;
        std::wstring path;
        int index = 0;
    };
    struct Lane {
        std::deque<Request> requests;
        std::thread thread;
    };
    void StartLanes();
    void Work(Lane& lane);

    HINSTANCE m_instance;
    std::function<void()> m_ready;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_held = false;
    std::atomic<bool> m_signalled{false}; // `ready` was called and Take has not run since
    std::set<std::wstring> m_asked;       // keys asked for and not yet taken
    std::vector<Icon> m_read;
    Lane m_local;
    Lane m_network;
};

} // namespace bw
