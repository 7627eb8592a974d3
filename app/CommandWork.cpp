#include "app/CommandWork.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/UniqueHandle.h"

#include <objbase.h>

#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace bw {

namespace {

// The jobs whose thread has not ended yet, whether or not someone still waits for them.
std::atomic<int> g_running{0};

// The files handed to WriteLatest that are not written yet, the newest record of each; never freed, as a job may
// still write when the process ends.
struct LatestWrites {
    std::mutex lock;
    std::map<std::wstring, std::string> pending;
    bool writing = false; // a job writes them
};
LatestWrites& Latest() {
    static auto* latest = new LatestWrites;
    return *latest;
}

} // namespace

struct TCommandWork::Shared {
    Job job;
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false}; // set last: what the job left is then the waiter's to read
    std::exception_ptr failure;
    UniqueKernelHandle ended{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

    void Run() {
        const HRESULT apartment = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        try {
            job(stop);
        } catch (...) {
            failure = std::current_exception();
        }
        job = nullptr; // what it holds goes on this thread, in this apartment
        if (SUCCEEDED(apartment)) {
            ::CoUninitialize();
        }
        finished = true;
        ::SetEvent(ended.Get());
    }
};

TCommandWork::TCommandWork(Job job) : m_shared(std::make_shared<Shared>()) {
    m_shared->job = std::move(job);
    ++g_running;
    // The thread keeps what it works on: nobody may wait for it to end.
    std::thread([shared = m_shared]() mutable {
        shared->Run();
        shared.reset();
        --g_running;
    }).detach();
}

bool TCommandWork::Wait(const bool& closing, DWORD closeWaitMs) {
    const HANDLE ended = m_shared->ended.Get();
    std::optional<ULONGLONG> until;
    std::optional<WPARAM> quit;
    while (!m_shared->finished) {
        if (!until && (quit || closing)) {
            until = ::GetTickCount64() + closeWaitMs;
        }
        DWORD wait = INFINITE;
        if (until) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= *until) {
                break;
            }
            wait = static_cast<DWORD>(*until - now);
        }
        (void)::MsgWaitForMultipleObjectsEx(1, &ended, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message{};
        while (!quit && !m_shared->finished && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = message.wParam; // the message loop's, once this wait is over
                break;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    if (quit) {
        ::PostQuitMessage(static_cast<int>(*quit));
    }
    if (!m_shared->finished) {
        m_shared->stop = true;
        return false;
    }
    return true;
}

std::exception_ptr TCommandWork::Failure() const {
    return m_shared->finished ? m_shared->failure : nullptr;
}

void TCommandWork::Detach(Job job) {
    (void)TCommandWork(std::move(job));
}

void TCommandWork::WriteLatest(const std::wstring& path, const std::string& bytes) {
    {
        const std::lock_guard<std::mutex> hold(Latest().lock);
        Latest().pending[path] = bytes;
        if (std::exchange(Latest().writing, true)) {
            return; // the job under way writes it next
        }
    }
    Detach([](const std::atomic<bool>&) {
        for (;;) {
            std::wstring path;
            std::string bytes;
            {
                const std::lock_guard<std::mutex> hold(Latest().lock);
                if (Latest().pending.empty()) {
                    Latest().writing = false;
                    return;
                }
                const auto next = Latest().pending.begin();
                path = next->first;
                bytes = std::move(next->second);
                Latest().pending.erase(next);
            }
            try {
                WriteFileReplacing(path, bytes, false);
            } catch (const EBootwarden&) {
                // left as it was: the record is of no more worth than the marks it keeps
            }
        }
    });
}

bool TCommandWork::WaitForLeftRunning(DWORD waitMs) {
    const ULONGLONG until = ::GetTickCount64() + waitMs;
    while (g_running > 0 && ::GetTickCount64() < until) {
        ::Sleep(10);
    }
    return g_running == 0;
}

} // namespace bw
