#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace Veltrane {

/// A thread that runs one task at a time for its owner, so that the owner can
/// do other work meanwhile: start() hands a task over, wait() returns once it
/// is done. The thread is started with the first task and kept for the next
/// ones; handing a task to a thread that waits for it is quick even on a busy
/// machine, where a newly created thread may first wait to be scheduled.
///
/// Used by one owning thread; tasks must not throw.
class HelperThread {
public:
    HelperThread() = default;
    /// Waits for the task handed over last, then ends the thread.
    ~HelperThread();
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;

    /// Hands `task` to the thread and returns. When no thread can be started,
    /// runs the task at once on the caller's thread. The task handed over
    /// before must have been waited for.
    void start(std::function<void()> task);
    /// Returns once the task handed over last is done.
    void wait();

private:
    void serve();

    std::mutex m_mutex;
    /// Signalled when a task is handed over or done, and when the thread is
    /// to end.
    std::condition_variable m_changed;
    /// The task handed over and not yet done; empty otherwise.
    std::function<void()> m_task;
    bool m_ending = false;
    std::thread m_thread;
};

}  // namespace Veltrane
