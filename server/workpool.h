#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// A fixed set of threads taking jobs oldest first. The listener's event
// threads never wait on a disk, the database or a password hash: such work
// comes here while its connection is put aside.
//
// A request may need several jobs (a post: its head, a piece of its body,
// its end). Each job is ranked by when its request began, not when the job
// came, so a request under way goes before ones that came after it: under
// load, first come first served per job would make a post queue behind the
// whole backlog at every step.
class WorkPool {
public:
    using Clock = std::chrono::steady_clock;

    explicit WorkPool(int threads);
    // Runs what is queued, then joins.
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    // Jobs with the same rank run in the order they came.
    void submit(std::function<void()> job, Clock::time_point rank = Clock::now());
    // Waits until no job is queued or running.
    void drain();

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::map<std::pair<Clock::time_point, std::uint64_t>, std::function<void()>> m_jobs;
    std::uint64_t m_submitted = 0;
    int m_running = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};
