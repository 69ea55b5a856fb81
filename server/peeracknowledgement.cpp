#include "peeracknowledgement.h"

#include <dirent.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace {
bool endOf(int fd, bool peer, ConnectionEnd& end) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? ::getpeername(fd, raw, &length) : ::getsockname(fd, raw, &length)) != 0)
        return false;
    if (address.ss_family == AF_INET)
        end.port = ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    else if (address.ss_family == AF_INET6)
        end.port = ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    else
        return false;
    // Formatted as the HTTP library formats it, so the texts compare.
    char host[NI_MAXHOST];
    if (::getnameinfo(raw, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return false;
    end.address = host;
    return true;
}

bool matches(int fd, const ConnectionEnd& local, const ConnectionEnd& remote) {
    ConnectionEnd end;
    return endOf(fd, true, end) && end.port == remote.port && end.address == remote.address &&
           endOf(fd, false, end) && end.port == local.port && end.address == local.address;
}
} // namespace

int findConnectionSocket(const ConnectionEnd& local, const ConnectionEnd& remote) {
    DIR* folder = ::opendir("/proc/self/fd");
    if (!folder)
        return -1;
    const int own = ::dirfd(folder);
    int found = -1;
    while (const dirent* entry = ::readdir(folder)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == own)
            continue;
        if (matches(static_cast<int>(fd), local, remote)) {
            found = static_cast<int>(fd);
            break;
        }
    }
    ::closedir(folder);
    return found;
}

bool waitForPeerAcknowledgement(int fd, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto pause = std::chrono::milliseconds(1);
    while (true) {
        int unacknowledged = 0;
        if (::ioctl(fd, SIOCOUTQ, &unacknowledged) != 0)
            return false;
        if (unacknowledged == 0)
            return true;
        // A reset leaves the unacknowledged count as it was: the state tells.
        tcp_info info{};
        socklen_t length = sizeof info;
        if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
            info.tcpi_state == TCP_CLOSE)
            return false;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}
