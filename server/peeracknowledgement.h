#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

enum class PeerAcknowledgement {
    Complete, // the peer's machine has acknowledged every byte written
    Pending,  // bytes are still on their way
    Broken,   // the connection broke first
};

// What the kernel says of a TCP socket's send queue right now.
PeerAcknowledgement peerAcknowledgement(int fd);

// Watches sockets whose reply is written until the peer's machine has
// acknowledged all of it, on one thread for all of them: a reply to a client
// that never confirms what it filed is only known to have arrived that way.
class AcknowledgementWatcher {
public:
    AcknowledgementWatcher();
    // Ends what is still watched as not acknowledged.
    ~AcknowledgementWatcher();
    AcknowledgementWatcher(const AcknowledgementWatcher&) = delete;
    AcknowledgementWatcher& operator=(const AcknowledgementWatcher&) = delete;

    // Takes over fd (a duplicate of the connection's socket, which keeps the
    // socket open as long as it is watched) and closes it when done.
    // `done` runs on the watcher's thread: true once everything was
    // acknowledged, false when the connection broke or the time ran out.
    void watch(int fd, std::chrono::milliseconds timeout, std::function<void(bool)> done);

private:
    struct Watched {
        int fd;
        std::chrono::steady_clock::time_point deadline;
        std::function<void(bool)> done;
    };
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Watched> m_watched;
    bool m_stopping = false;
    std::thread m_thread;
};
