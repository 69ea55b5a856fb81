#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of threads taking jobs in order. The listener's event threads
// never wait on a disk, the database or a password hash: such work comes
// here while its connection is put aside.
class WorkPool {
public:
    explicit WorkPool(int threads);
    // Runs what is queued, then joins.
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    void submit(std::function<void()> job);
    // Waits until no job is queued or running.
    void drain();

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    int m_running = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};
