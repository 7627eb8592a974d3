#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace bw {

// Work of the window that may read or write a place on another machine, on a thread of its own: where the share
// went away, each call there returns only once the network's timeout has passed. The thread has an apartment of
// its own for the shell's link objects.
//
// The window waits for it handling its messages as its message loop does (Wait). A window that closes waits a
// moment only: the job is then told to stop before it changes anything more and left to end by itself; the
// process's end waits for it a little longer (WaitForLeftRunning) and then ends without it. So the job holds
// everything it works on (copies, shared owners): nothing on the window's stack or in the window, which may both have
// gone before it ends.
class TCommandWork {
public:
    // `stop` turns true once nobody waits for the job's outcome any more.
    using Job = std::function<void(const std::atomic<bool>& stop)>;

    explicit TCommandWork(Job job); // starts the thread
    TCommandWork(const TCommandWork&) = delete;
    TCommandWork& operator=(const TCommandWork&) = delete;

    // Handles this thread's messages until the job has ended; once `closing` holds (looked at after each message),
    // for `closeWaitMs` more at most, after which the job is told to stop. True when it ended: what it raised is then
    // Failure().
    bool Wait(const bool& closing, DWORD closeWaitMs);
    std::exception_ptr Failure() const;

    // Runs `job` on a thread of its own that nobody waits for but the process's end.
    static void Detach(Job job);
    // Waits up to `waitMs` for the jobs that still run though nobody waits for them; true when none runs any more.
    static bool WaitForLeftRunning(DWORD waitMs);
    // Replaces the file at `path` with `bytes` (WriteFileReplacing, not flushed) on such a job: one job writes the
    // files handed to it one after another, and of several records handed for one path before its turn comes, only
    // the newest is written. A file that cannot be written is left as it was.
    static void WriteLatest(const std::wstring& path, const std::string& bytes);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

// Raised inside a job that was told to stop, at the point after which it would have changed something.
class EWorkStopped : public std::exception {
public:
    const char* what() const noexcept override { return "stopped"; }
};

} // namespace bw
