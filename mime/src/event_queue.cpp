#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "qrmime/control.h"
#include "spin_wait.h"

namespace qrmime {

QRMIMEEvents::~QRMIMEEvents() = default;
Dispatcher::~Dispatcher() = default;
ProgressWindow::~ProgressWindow() = default;
HostWindows::~HostWindows() = default;
PropertyNotifySink::~PropertyNotifySink() = default;

struct EventQueue::Impl {
    std::mutex mutex;
    std::condition_variable ready;
    std::vector<std::function<void()>> tasks;
    std::atomic<bool> queued{false};  // whether `tasks` holds any; a waiter spins on it
};

EventQueue::EventQueue() : m_impl(std::make_unique<Impl>()) {}
EventQueue::~EventQueue() = default;

void EventQueue::Post(std::function<void()> task) {
    {
        std::lock_guard lock(m_impl->mutex);
        m_impl->tasks.push_back(std::move(task));
        m_impl->queued.store(true, std::memory_order_release);
    }
    m_impl->ready.notify_all();
}

std::size_t EventQueue::Pump() {
    // The host pumps far more often than anything is queued: an empty queue costs no lock.
    if (!m_impl->queued.load(std::memory_order_acquire)) return 0;
    std::vector<std::function<void()>> batch;  // no allocation when nothing is queued
    {
        std::lock_guard lock(m_impl->mutex);
        if (m_impl->tasks.empty()) return 0;
        batch.swap(m_impl->tasks);
        m_impl->queued.store(false, std::memory_order_relaxed);
    }
    // Tasks run outside the lock: a task may post again (or pump) without deadlock.
    std::size_t ran = 0;
    for (auto& task : batch) {
        try {
            if (task) task();
        } catch (...) {
        }
        ++ran;
    }
    return ran;
}

std::size_t EventQueue::PumpFor(std::chrono::milliseconds timeout) {
    // The worker's next notification usually follows within microseconds.
    if (detail::SpinUntil([this] { return m_impl->queued.load(std::memory_order_acquire); }))
        return Pump();
    {
        std::unique_lock lock(m_impl->mutex);
        m_impl->ready.wait_for(lock, timeout, [this] { return !m_impl->tasks.empty(); });
    }
    return Pump();
}

}  // namespace qrmime
