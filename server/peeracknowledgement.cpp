#include "peeracknowledgement.h"

#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace {
// Acknowledgements come within a round trip; a short period keeps the wait
// small without spinning.
constexpr auto kPollPeriod = std::chrono::milliseconds(5);
// TCP_CLOSE of the kernel's connection states, which no user header names
// beside <linux/tcp.h>.
constexpr std::uint8_t kTcpClose = 7;
} // namespace

PeerAcknowledgement peerAcknowledgement(int fd) {
    int unacknowledged = 0;
    if (::ioctl(fd, SIOCOUTQ, &unacknowledged) != 0)
        return PeerAcknowledgement::Broken;
    if (unacknowledged == 0)
        return PeerAcknowledgement::Complete;
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return PeerAcknowledgement::Broken;
    if (info.tcpi_state != kTcpClose)
        return PeerAcknowledgement::Pending;
    // The connection is over. The send queue's count still holds the
    // closing FIN when the peer answered it with a reset, as a client that
    // has read everything and gone may: what counts is whether every byte
    // of data was sent and acknowledged. A reset leaves the data it cut off
    // unacknowledged or unsent.
    const bool knowsBytes =
        length >= offsetof(tcp_info, tcpi_bytes_retrans) + sizeof info.tcpi_bytes_retrans;
    if (knowsBytes && info.tcpi_notsent_bytes == 0 &&
        info.tcpi_bytes_acked >= info.tcpi_bytes_sent - info.tcpi_bytes_retrans)
        return PeerAcknowledgement::Complete;
    return PeerAcknowledgement::Broken;
}

AcknowledgementWatcher::AcknowledgementWatcher() : m_thread([this] { run(); }) {}

AcknowledgementWatcher::~AcknowledgementWatcher() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void AcknowledgementWatcher::watch(int fd, std::chrono::milliseconds timeout,
                                   std::function<void(bool)> done) {
    {
        std::lock_guard lock(m_mutex);
        m_watched.push_back({fd, std::chrono::steady_clock::now() + timeout, std::move(done)});
    }
    m_wake.notify_all();
}

void AcknowledgementWatcher::run() {
    std::unique_lock lock(m_mutex);
    while (true) {
        if (m_watched.empty() && !m_stopping)
            m_wake.wait(lock, [this] { return m_stopping || !m_watched.empty(); });
        std::vector<std::pair<Watched, bool>> ended;
        const auto now = std::chrono::steady_clock::now();
        for (auto it = m_watched.begin(); it != m_watched.end();) {
            const PeerAcknowledgement state = peerAcknowledgement(it->fd);
            if (state == PeerAcknowledgement::Pending && now < it->deadline && !m_stopping) {
                ++it;
                continue;
            }
            ended.emplace_back(std::move(*it), state == PeerAcknowledgement::Complete);
            it = m_watched.erase(it);
        }
        const bool stop = m_stopping && m_watched.empty();
        lock.unlock();
        for (auto& [watched, acknowledged] : ended) {
            ::close(watched.fd);
            watched.done(acknowledged);
        }
        lock.lock();
        if (stop)
            return;
        if (!m_watched.empty())
            m_wake.wait_for(lock, kPollPeriod);
    }
}
