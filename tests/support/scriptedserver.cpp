#include "scriptedserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {
bool sendAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// Reads one request: the head up to the blank line and as many body bytes
// as its Content-Length declares. Answers "100 Continue" when asked.
QByteArray readRequest(int fd, const std::atomic<bool>& stopping) {
    QByteArray data;
    qsizetype headEnd = -1;
    qsizetype wanted = -1;
    bool continued = false;
    char buf[8192];
    while (!stopping.load()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        data.append(buf, n);
        if (headEnd < 0) {
            headEnd = data.indexOf("\r\n\r\n");
            if (headEnd < 0)
                continue;
            headEnd += 4;
            const QByteArray head = data.left(headEnd).toLower();
            const qsizetype cl = head.indexOf("content-length:");
            wanted = 0;
            if (cl >= 0) {
                const qsizetype eol = head.indexOf("\r\n", cl);
                wanted = head.mid(cl + 15, eol - cl - 15).trimmed().toLongLong();
            }
            if (!continued && head.contains("expect: 100-continue")) {
                continued = true;
                const QByteArray go = "HTTP/1.1 100 Continue\r\n\r\n";
                sendAll(fd, go.constData(), go.size());
            }
        }
        if (headEnd >= 0 && data.size() - headEnd >= wanted)
            break;
    }
    return data;
}
} // namespace

quint16 closedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

ScriptedServer::ScriptedServer(Listening listening) {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    if (listening == Listening::Now)
        startListening();
}

void ScriptedServer::startListening() {
    // A bound socket that does not listen refuses every connection.
    ::listen(m_listenFd, 16);
    m_thread = std::thread([this] { serve(); });
}

ScriptedServer::~ScriptedServer() {
    stop();
}

void ScriptedServer::stop() {
    if (m_stopping.exchange(true))
        return;
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listenFd);
}

QString ScriptedServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1/").arg(m_port);
}

void ScriptedServer::enqueue(const Reply& reply) {
    std::lock_guard lock(m_mutex);
    m_replies.push_back(reply);
}

ScriptedServer::Reply ScriptedServer::http(int status, const QByteArray& contentType,
                                           const QByteArray& body,
                                           const QList<QByteArray>& extraHeaders) {
    QByteArray raw = "HTTP/1.1 " + QByteArray::number(status) + " Scripted\r\n";
    if (!contentType.isEmpty())
        raw += "Content-Type: " + contentType + "\r\n";
    raw += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    for (const QByteArray& h : extraHeaders)
        raw += h + "\r\n";
    raw += "Connection: close\r\n\r\n" + body;
    Reply r;
    r.raw = raw;
    return r;
}

ScriptedServer::Reply ScriptedServer::raw(const QByteArray& bytes) {
    Reply r;
    r.raw = bytes;
    return r;
}

QList<QByteArray> ScriptedServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

ScriptedServer::Reply ScriptedServer::nextReply() {
    std::lock_guard lock(m_mutex);
    if (m_replies.empty())
        return http(404, "text/plain", "no scripted reply");
    Reply r = m_replies.front();
    m_replies.pop_front();
    return r;
}

void ScriptedServer::serve() {
    while (!m_stopping.load()) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++m_connections;
        handle(fd);
        ::close(fd);
    }
}

void ScriptedServer::handle(int fd) {
    const Reply reply = nextReply();
    if (reply.closeAtOnce)
        return;
    const QByteArray request = readRequest(fd, m_stopping);
    {
        std::lock_guard lock(m_mutex);
        m_requests.append(request);
    }
    if (reply.stall) {
        // Hold the connection open until the client gives up or the test ends.
        char byte;
        while (!m_stopping.load()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0 && ::recv(fd, &byte, 1, 0) <= 0)
                break;
        }
        return;
    }
    if (reply.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
    const qsizetype n = reply.cutAfterBytes >= 0
                            ? qMin<qsizetype>(reply.cutAfterBytes, reply.raw.size())
                            : reply.raw.size();
    sendAll(fd, reply.raw.constData(), n);
}
