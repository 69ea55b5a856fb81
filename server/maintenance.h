#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class MessageQueue;

// The service's housekeeping while it runs: messages nobody fetched within
// the expiry time are removed, and names of messages delivered long ago are
// forgotten. Runs once at start, then periodically on its own thread, which
// also keeps the claims of the deliveries under way fresh.
class Maintenance {
public:
    Maintenance(MessageQueue& queue, int expireDays, std::chrono::seconds period);
    ~Maintenance();
    Maintenance(const Maintenance&) = delete;
    Maintenance& operator=(const Maintenance&) = delete;

    // One round; returns the number of messages that expired.
    int runOnce();

private:
    void loop();

    MessageQueue& m_queue;
    int m_expireDays;
    std::chrono::seconds m_period;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};
