#include "capture/HelperThread.h"

#include <system_error>
#include <utility>

namespace Veltrane {

HelperThread::~HelperThread()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void HelperThread::start(std::function<void()> task)
{
    if (!m_thread.joinable()) {
        try {
            m_thread = std::thread(&HelperThread::serve, this);
        } catch (const std::system_error&) {
            task();
            return;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_task = std::move(task);
    }
    m_changed.notify_all();
}

void HelperThread::wait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_task; });
}

void HelperThread::serve()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_task || m_ending; });
        if (!m_task)
            return;
        // The owner does not touch the task until it is done.
        lock.unlock();
        m_task();
        lock.lock();
        m_task = nullptr;
        m_changed.notify_all();
    }
}

}  // namespace Veltrane
