#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

// Recipients waiting for their next message. A waiter is answered once:
// true as soon as a message arrives for it, false when its time is up. One
// thread keeps the deadlines for all of them, so a waiter costs an entry,
// never a thread.
class WaitingRoom {
public:
    using Answer = std::function<void(bool arrived)>;

    WaitingRoom();
    // Answers everyone still waiting with false.
    ~WaitingRoom();
    WaitingRoom(const WaitingRoom&) = delete;
    WaitingRoom& operator=(const WaitingRoom&) = delete;

    void wait(const std::string& recipientKey, std::chrono::steady_clock::time_point deadline,
              Answer answer);
    // A message arrived for the recipient here: everyone waiting for it is
    // told, and so, through the announcer, are the other server processes.
    void arrived(const std::string& recipientKey);
    // Another process (or this one, through the channel) says a message
    // arrived: the waiters here are told.
    void heard(const std::string& recipientKey);
    // Set before the service starts.
    void setAnnouncer(std::function<void(const std::string&)> announcer) {
        m_announcer = std::move(announcer);
    }
    std::size_t waiting() const;

private:
    struct Waiter {
        std::string key;
        std::chrono::steady_clock::time_point deadline;
        Answer answer;
    };
    void keepDeadlines();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::uint64_t m_next = 0;
    std::map<std::uint64_t, Waiter> m_waiters;
    std::multimap<std::chrono::steady_clock::time_point, std::uint64_t> m_deadlines;
    std::unordered_multimap<std::string, std::uint64_t> m_byKey;
    bool m_stopping = false;
    std::function<void(const std::string&)> m_announcer;
    std::thread m_thread;
};
