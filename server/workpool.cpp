#include "workpool.h"

WorkPool::WorkPool(int threads) {
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

WorkPool::~WorkPool() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void WorkPool::submit(std::function<void()> job, Clock::time_point rank) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.emplace(std::pair(rank, m_submitted++), std::move(job));
    }
    m_wake.notify_one();
}

void WorkPool::drain() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_jobs.empty() && m_running == 0; });
}

void WorkPool::work() {
    std::unique_lock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;
        std::function<void()> job = std::move(m_jobs.begin()->second);
        m_jobs.erase(m_jobs.begin());
        ++m_running;
        lock.unlock();
        job();
        lock.lock();
        --m_running;
        if (m_jobs.empty() && m_running == 0)
            m_idle.notify_all();
    }
}
