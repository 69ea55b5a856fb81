#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class Database;

// Carries "a message arrived for this recipient" between the server
// processes that share one PostgreSQL database (LISTEN/NOTIFY), so that a
// client waiting on one process hears of a message posted through another.
// One thread per process listens on a connection of its own, opened again
// whenever it breaks.
class ArrivalChannel {
public:
    using Heard = std::function<void(const std::string& recipientKey)>;

    ArrivalChannel(std::string url, Heard heard);
    ~ArrivalChannel();
    ArrivalChannel(const ArrivalChannel&) = delete;
    ArrivalChannel& operator=(const ArrivalChannel&) = delete;

    // Tells every listening process, this one included. A failure is only
    // logged: the waiters then hear of the message at their next cycle.
    static void announce(Database& db, const std::string& recipientKey);

    static constexpr char kChannel[] = "clipnote_arrivals";

private:
    void listen();

    std::string m_url;
    Heard m_heard;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};
