// Many clients at once against a real clipnote-server: each signs in, then
// posts messages of 50-300 KB to random other users and fetches its own with
// confirmation, all over one keep-alive connection per client, for a fixed
// time. Optionally some connections meanwhile trickle a request head that
// never ends. Afterwards every queue is drained and each message answered
// "OK" must have arrived exactly once and byte for byte. Prints requests per
// second, latencies per page, errors and the server's peak memory; exits 0
// only when nothing failed, got lost or came twice.
//
//   bench_serviceload [--clients N] [--seconds S] [--slow-headers M]
//                     [--database sqlite|postgresql] [--servers N] [--tls]
//                     [--database-connections N] [--tls-key ec|rsa]
//
// With --database postgresql the servers run on a throwaway PostgreSQL
// cluster; --servers 2 starts two processes on that one database and spreads
// the clients over them, so that messages cross from one to the other; with
// --tls every connection is HTTPS, checked against a certificate made here.
// --database-connections is handed to every server (their default otherwise).
// The certificate's key is P-256 unless --tls-key rsa asks for RSA-2048,
// whose signature makes each new connection's handshake far dearer for the
// server: the sign-ins, which all open their connections at once, show it.

#include "serverprocess.h"
#include "service/uploadbody.h"

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <latch>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

constexpr std::size_t kSmallestMessage = 50 * 1024;
constexpr std::size_t kLargestMessage = 300 * 1024;
// A record starts with the name and the arrival date, each padded with zero
// bytes to its width.
constexpr std::size_t kRecordNameBytes = 255;
constexpr std::size_t kRecordDateBytes = 32;
constexpr char kNothingWaiting[] = "ERROR: No message is waiting.";
constexpr char kSessionCookie[] = "CLIPSESSION";
// Two cores shared with 200 clients can keep a request waiting for long; a
// reply slower than this counts as failed.
constexpr int kSocketTimeoutSeconds = 120;
// A drain that keeps failing gives up rather than looping for ever.
constexpr int kDrainAttempts = 50;

struct Options {
    int clients = 200;
    int seconds = 60;
    int slowHeaders = 0;
    // Server processes, all on one database (PostgreSQL when more than one).
    int servers = 1;
    bool postgres = false;
    bool tls = false;
    bool rsaKey = false;
    // 0: the servers' default.
    int databaseConnections = 0;
};

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--tls") {
            options.tls = true;
            continue;
        }
        if (arg == "--tls-key" && i + 1 < argc) {
            const std::string_view kind = argv[++i];
            if (kind != "ec" && kind != "rsa")
                return false;
            options.rsaKey = kind == "rsa";
            continue;
        }
        if (arg == "--database" && i + 1 < argc) {
            const std::string_view kind = argv[++i];
            if (kind != "sqlite" && kind != "postgresql")
                return false;
            options.postgres = kind == "postgresql";
            continue;
        }
        int* target = nullptr;
        if (arg == "--servers")
            target = &options.servers;
        else if (arg == "--clients")
            target = &options.clients;
        else if (arg == "--seconds")
            target = &options.seconds;
        else if (arg == "--slow-headers")
            target = &options.slowHeaders;
        else if (arg == "--database-connections")
            target = &options.databaseConnections;
        if (!target || i + 1 >= argc)
            return false;
        char* end = nullptr;
        const long value = std::strtol(argv[++i], &end, 10);
        if (*end != '\0' || value < 0 || value > 100000)
            return false;
        *target = static_cast<int>(value);
    }
    return options.clients >= 2 && options.seconds >= 1 && options.servers >= 1 &&
           (options.servers == 1 || options.postgres);
}

std::string userId(int index) {
    char text[32];
    std::snprintf(text, sizeof text, "load%03d@example.org", index);
    return text;
}

std::string percentEncoded(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

// The content of a message follows from its name, so the receiving side can
// check every byte without anyone keeping the bodies.
std::uint64_t nameSeed(std::string_view name) {
    std::uint64_t hash = 1469598103934665603ULL;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

void fillPattern(std::string_view name, char* out, std::size_t size) {
    std::uint64_t state = nameSeed(name);
    for (std::size_t at = 0; at < size; at += 8) {
        state += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        std::memcpy(out + at, &z, std::min<std::size_t>(8, size - at));
    }
}

struct Reply {
    int status = 0;
    std::string contentType;
    std::string sessionCookie;
    std::string body;

    bool isRecord() const { return contentType.starts_with("application/octet-stream"); }
};

// A blocking HTTP/1.1 client on one keep-alive connection to the server.
// A connection the server closed while it was idle is opened again quietly;
// one that breaks during a request makes that request fail.
class Connection {
public:
    // With tls, every connection speaks TLS and checks the server's
    // certificate against the context's authority.
    Connection(quint16 port, SSL_CTX* tls) : m_port(port), m_tls(tls) {}
    ~Connection() { close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // False, with why(), when no whole reply came.
    bool request(const std::string& head, std::string_view body, Reply& reply) {
        reply = Reply{};
        if (!ensureOpen())
            return false;
        if (!sendAll(head, body))
            return fail("send");
        return readReply(reply);
    }

    const std::string& why() const { return m_why; }
    int reopened() const { return m_reopened; }

private:
    bool ensureOpen() {
        if (m_fd >= 0) {
            pollfd p{m_fd, POLLIN, 0};
            // Readable while idle means closed (or a stray reply): start afresh.
            // Over TLS the server may also have sent session tickets.
            if (::poll(&p, 1, 0) == 0 || (m_ssl && stillOpenAfterTickets()))
                return true;
            close();
            ++m_reopened;
        }
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            return fail("socket");
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const timeval timeout{kSocketTimeoutSeconds, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(m_port);
        if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            return fail("connect");
        m_buffer.clear();
        if (m_tls) {
            m_ssl = SSL_new(m_tls);
            SSL_set_fd(m_ssl, m_fd);
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), "127.0.0.1");
            if (SSL_connect(m_ssl) != 1)
                return fail("TLS handshake");
        }
        return true;
    }

    // Reads what waits without blocking: nothing but TLS records of the
    // session means the connection is still good.
    bool stillOpenAfterTickets() {
        char probe[1];
        const int flags = ::fcntl(m_fd, F_GETFL);
        ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
        const int n = SSL_read(m_ssl, probe, sizeof probe);
        const int error = n > 0 ? SSL_ERROR_NONE : SSL_get_error(m_ssl, n);
        ::fcntl(m_fd, F_SETFL, flags);
        return n <= 0 && error == SSL_ERROR_WANT_READ;
    }

    bool sendAll(std::string_view head, std::string_view body) {
        std::size_t sent = 0;
        const std::size_t total = head.size() + body.size();
        while (sent < total) {
            iovec parts[2];
            int count = 0;
            if (sent < head.size())
                parts[count++] = {const_cast<char*>(head.data() + sent), head.size() - sent};
            const std::size_t bodyAt = sent > head.size() ? sent - head.size() : 0;
            if (bodyAt < body.size())
                parts[count++] = {const_cast<char*>(body.data() + bodyAt), body.size() - bodyAt};
            msghdr message{};
            message.msg_iov = parts;
            message.msg_iovlen = static_cast<std::size_t>(count);
            const ssize_t n =
                m_ssl ? SSL_write(m_ssl, parts[0].iov_base, static_cast<int>(parts[0].iov_len))
                      : ::sendmsg(m_fd, &message, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool fill() {
        char chunk[64 * 1024];
        const ssize_t n =
            m_ssl ? SSL_read(m_ssl, chunk, sizeof chunk) : ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            if (n == 0)
                errno = 0;
            return false;
        }
        m_buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    static std::string lowered(std::string_view text) {
        std::string out(text);
        std::transform(out.begin(), out.end(), out.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return out;
    }

    bool readReply(Reply& reply) {
        std::size_t headEnd;
        while ((headEnd = m_buffer.find("\r\n\r\n")) == std::string::npos) {
            if (!fill())
                return fail("reply head");
        }
        const std::string_view head(m_buffer.data(), headEnd);
        if (!head.starts_with("HTTP/1.") || head.size() < 12)
            return fail("status line");
        reply.status = std::atoi(std::string(head.substr(9, 3)).c_str());
        std::size_t length = 0;
        bool hasLength = false;
        bool closing = head.starts_with("HTTP/1.0");
        std::size_t at = head.find("\r\n");
        while (at != std::string_view::npos && at < head.size()) {
            const std::size_t lineStart = at + 2;
            std::size_t lineEnd = head.find("\r\n", lineStart);
            if (lineEnd == std::string_view::npos)
                lineEnd = head.size();
            const std::string_view line = head.substr(lineStart, lineEnd - lineStart);
            const std::size_t colon = line.find(':');
            if (colon != std::string_view::npos) {
                const std::string key = lowered(line.substr(0, colon));
                std::string_view value = line.substr(colon + 1);
                while (!value.empty() && value.front() == ' ')
                    value.remove_prefix(1);
                if (key == "content-length") {
                    length = std::strtoull(std::string(value).c_str(), nullptr, 10);
                    hasLength = true;
                } else if (key == "content-type") {
                    reply.contentType = value;
                } else if (key == "connection") {
                    closing = closing || lowered(value) == "close";
                } else if (key == "transfer-encoding") {
                    return fail("chunked reply");
                } else if (key == "set-cookie" &&
                           value.starts_with(std::string(kSessionCookie) + "=")) {
                    reply.sessionCookie = value.substr(0, value.find(';'));
                }
            }
            at = lineEnd;
        }
        const std::size_t bodyStart = headEnd + 4;
        if (hasLength) {
            while (m_buffer.size() < bodyStart + length) {
                if (!fill())
                    return fail("reply body");
            }
        } else {
            closing = true;
            while (fill()) {
            }
            length = m_buffer.size() - bodyStart;
        }
        reply.body.assign(m_buffer, bodyStart, length);
        m_buffer.erase(0, bodyStart + length);
        if (closing)
            close();
        return true;
    }

    bool fail(const char* where) {
        m_why = std::string(where) + ": " +
                (errno == 0 ? std::string("connection closed") : std::strerror(errno));
        close();
        return false;
    }

    void close() {
        if (m_ssl)
            SSL_free(m_ssl);
        m_ssl = nullptr;
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_buffer.clear();
    }

    quint16 m_port;
    SSL_CTX* m_tls;
    SSL* m_ssl = nullptr;
    int m_fd = -1;
    std::string m_buffer;
    std::string m_why;
    int m_reopened = 0;
};

struct Received {
    std::string name;
    std::size_t size = 0;
    bool bytesMatch = false;
};

// What one client thread saw; merged once all have ended.
struct ClientRecord {
    std::vector<double> loginMs, postMs, downloadMs;
    std::uint64_t failed = 0;
    std::uint64_t notOk = 0;
    std::uint64_t busy = 0;
    std::uint64_t misdelivered = 0;
    std::uint64_t drainRequests = 0;
    std::uint64_t postedBytes = 0;
    std::uint64_t receivedBytes = 0;
    std::vector<std::pair<std::string, std::size_t>> posted;
    std::vector<Received> received;
    std::vector<std::string> samples;
    bool drained = false;
    int reopened = 0;

    void note(std::string text) {
        if (samples.size() < 3)
            samples.push_back(std::move(text));
    }
};

class Client {
public:
    Client(int index, int clients, quint16 port, SSL_CTX* tls, const std::string& password,
           std::atomic<std::uint64_t>& postedByAll)
        : m_postedByAll(postedByAll), m_index(index), m_clients(clients), m_user(userId(index)),
          m_password(password), m_host("Host: 127.0.0.1:" + std::to_string(port) + "\r\n"),
          m_connection(port, tls), m_random(0x5eed0000u + static_cast<unsigned>(index)) {}

    void runLoad(const std::atomic<bool>& stop) {
        while (!stop.load() && !signIn()) {
        }
        std::uint64_t number = 0;
        while (!stop.load() && !m_cookie.empty()) {
            post(++number);
            fetch(&m_record.downloadMs);
        }
    }

    // Fetches until nothing waits. A queue that hands out more records than
    // were ever posted does not retire what is confirmed; the drain then
    // stops rather than looping for ever.
    void drain(std::uint64_t postedByAll) {
        if (m_cookie.empty())
            return;
        int failures = 0;
        std::uint64_t records = 0;
        while (failures < kDrainAttempts && records <= postedByAll) {
            ++m_record.drainRequests;
            const FetchOutcome outcome = fetch(nullptr);
            if (outcome == FetchOutcome::Nothing) {
                m_record.drained = true;
                return;
            }
            if (outcome == FetchOutcome::Failed)
                ++failures;
            else
                ++records;
        }
    }

    ClientRecord& record() {
        m_record.reopened = m_connection.reopened();
        return m_record;
    }

private:
    enum class FetchOutcome { Record, Nothing, Failed };

    static double msSince(Clock::time_point start) {
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }

    std::string head(const char* method, const std::string& target,
                     const std::string& extra = {}) const {
        std::string text = std::string(method) + " " + target + " HTTP/1.1\r\n" + m_host;
        if (!m_cookie.empty())
            text += "Cookie: " + m_cookie + "\r\n";
        return text + extra + "\r\n";
    }

    // Times one request; false when no whole reply came.
    bool timed(const std::string& requestHead, std::string_view body, Reply& reply,
               std::vector<double>* latencies) {
        const auto start = Clock::now();
        const bool ok = m_connection.request(requestHead, body, reply);
        if (latencies)
            latencies->push_back(msSince(start));
        if (!ok) {
            ++m_record.failed;
            m_record.note(m_connection.why());
        }
        return ok;
    }

    bool signIn() {
        Reply reply;
        const std::string target =
            "/zeb/login.asp?UID=" + percentEncoded(m_user) + "&PW=" + percentEncoded(m_password);
        if (!timed(head("GET", target), {}, reply, &m_record.loginMs))
            return false;
        if (reply.status == 200 && reply.body.starts_with("OK") && !reply.sessionCookie.empty()) {
            m_cookie = reply.sessionCookie;
            return true;
        }
        // Too many sign-ins waiting for a password hash: the service asks
        // the client to come back shortly, which is what a client does.
        if (reply.body.starts_with("The service is busy")) {
            ++m_record.busy;
            std::this_thread::sleep_for(std::chrono::milliseconds(200 + m_random() % 300));
            return false;
        }
        ++m_record.notOk;
        m_record.note("login: " + reply.body.substr(0, 100));
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return false;
    }

    void post(std::uint64_t number) {
        int other = static_cast<int>(m_random() % static_cast<unsigned>(m_clients - 1));
        if (other >= m_index)
            ++other;
        const std::string recipient = userId(other);
        const std::string name = recipient + ";" + m_user + ";" + std::to_string(number);
        const std::size_t size =
            kSmallestMessage + m_random() % (kLargestMessage - kSmallestMessage + 1);
        const QByteArray block =
            uploadHeaderBlock(QString::fromStdString(name), QString::fromStdString(m_user),
                              QString::fromStdString(recipient), QString());
        m_body.resize(static_cast<std::size_t>(block.size()) + size);
        std::memcpy(m_body.data(), block.constData(), static_cast<std::size_t>(block.size()));
        fillPattern(name, m_body.data() + block.size(), size);
        Reply reply;
        const std::string requestHead =
            head("POST", "/zeb/post.asp",
                 "Content-Type: application/octet-stream\r\nContent-Length: " +
                     std::to_string(m_body.size()) + "\r\n");
        if (!timed(requestHead, m_body, reply, &m_record.postMs))
            return;
        if (reply.status == 200 && reply.body == "OK") {
            m_record.posted.emplace_back(name, size);
            m_record.postedBytes += size;
            ++m_postedByAll;
            return;
        }
        ++m_record.notOk;
        m_record.note("post: " + std::to_string(reply.status) + " " + reply.body.substr(0, 100));
    }

    FetchOutcome fetch(std::vector<double>* latencies) {
        Reply reply;
        const std::string target = "/zeb/download.asp?id=" + percentEncoded(m_user) +
                                   "&received=" + percentEncoded(m_lastReceived);
        if (!timed(head("GET", target), {}, reply, latencies))
            return FetchOutcome::Failed;
        if (reply.status == 200 && reply.isRecord() &&
            reply.body.size() >= kRecordNameBytes + kRecordDateBytes) {
            takeRecord(reply.body);
            return FetchOutcome::Record;
        }
        if (reply.status == 200 && reply.body.starts_with(kNothingWaiting))
            return FetchOutcome::Nothing;
        ++m_record.notOk;
        m_record.note("download: " + std::to_string(reply.status) + " " +
                      reply.body.substr(0, 100));
        return FetchOutcome::Failed;
    }

    void takeRecord(const std::string& record) {
        const std::string_view nameField(record.data(), kRecordNameBytes);
        const std::string name(nameField.substr(0, nameField.find('\0')));
        const std::size_t size = record.size() - kRecordNameBytes - kRecordDateBytes;
        m_check.resize(size);
        fillPattern(name, m_check.data(), size);
        const bool match =
            std::memcmp(m_check.data(), record.data() + kRecordNameBytes + kRecordDateBytes,
                        size) == 0;
        if (!name.starts_with(m_user + ";")) {
            ++m_record.misdelivered;
            m_record.note("download: a message for someone else: " + name);
        }
        m_record.received.push_back({name, size, match});
        m_record.receivedBytes += size;
        // Confirmed by the next request, which then gets the next message.
        m_lastReceived = name;
    }

    std::atomic<std::uint64_t>& m_postedByAll;
    const int m_index;
    const int m_clients;
    const std::string m_user;
    const std::string m_password;
    const std::string m_host;
    Connection m_connection;
    std::mt19937 m_random;
    std::string m_cookie;
    std::string m_lastReceived;
    std::string m_body;
    std::string m_check;
    ClientRecord m_record;
};

// Connections that send one more header line every second and never end
// their head, as a slow or hostile client would. When the server drops one
// (its head deadline), another takes its place.
class SlowHeaders {
public:
    SlowHeaders(quint16 port, int count)
        : m_port(port), m_fds(static_cast<std::size_t>(count), -1) {}

    void run(const std::atomic<bool>& stop) {
        int line = 0;
        while (!stop.load()) {
            for (int& fd : m_fds) {
                if (fd >= 0 && droppedByServer(fd)) {
                    ::close(fd);
                    fd = -1;
                    ++m_dropped;
                }
                if (fd < 0) {
                    fd = open();
                    continue;
                }
                const std::string text = "X-Slow-" + std::to_string(line) + ": still coming\r\n";
                if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT) <= 0) {
                    ::close(fd);
                    fd = -1;
                    ++m_dropped;
                }
            }
            ++line;
            for (int i = 0; i < 10 && !stop.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        for (int& fd : m_fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    int opened() const { return m_opened; }
    int dropped() const { return m_dropped; }
    int failedToOpen() const { return m_failedToOpen; }

private:
    static bool droppedByServer(int fd) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) == 0)
            return false;
        // Whatever came (a refusal or the end), the head will never be read.
        return true;
    }

    int open() {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(m_port);
        const std::string start = "GET /zeb/download.asp?id=slow%40example.org HTTP/1.1\r\n"
                                  "Host: 127.0.0.1\r\n";
        if (fd < 0 ||
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::send(fd, start.data(), start.size(), MSG_NOSIGNAL) <= 0) {
            if (fd >= 0)
                ::close(fd);
            ++m_failedToOpen;
            return -1;
        }
        ++m_opened;
        return fd;
    }

    quint16 m_port;
    std::vector<int> m_fds;
    int m_opened = 0;
    int m_dropped = 0;
    int m_failedToOpen = 0;
};

// The server's memory, from /proc: the kernel's own high-water mark and the
// highest resident size seen while sampling.
class MemorySampler {
public:
    explicit MemorySampler(qint64 pid) : m_path("/proc/" + std::to_string(pid) + "/status") {}

    void run(const std::atomic<bool>& stop) {
        while (!stop.load()) {
            sample();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        sample();
    }

    long highWaterKiB() const { return m_highWater; }
    long peakResidentKiB() const { return m_peakResident; }

private:
    void sample() {
        std::ifstream status(m_path);
        std::string line;
        while (std::getline(status, line)) {
            if (line.starts_with("VmHWM:"))
                m_highWater = std::max(m_highWater, std::strtol(line.c_str() + 6, nullptr, 10));
            else if (line.starts_with("VmRSS:"))
                m_peakResident =
                    std::max(m_peakResident, std::strtol(line.c_str() + 6, nullptr, 10));
        }
    }

    std::string m_path;
    long m_highWater = -1;
    long m_peakResident = -1;
};

double percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty())
        return 0.0;
    const auto at = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1));
    return sorted[at];
}

void printPage(const char* page, std::vector<double> latencies) {
    std::sort(latencies.begin(), latencies.end());
    std::printf("  %-9s %8zu %10.1f %10.1f %10.1f\n", page, latencies.size(),
                percentile(latencies, 0.50), percentile(latencies, 0.99),
                latencies.empty() ? 0.0 : latencies.back());
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: bench_serviceload [--clients N] [--seconds S] [--slow-headers M]\n"
                     "                         [--database sqlite|postgresql] [--servers N] "
                     "[--tls]\n"
                     "                         [--database-connections N] [--tls-key ec|rsa]\n"
                     "(more than one server needs --database postgresql)\n");
        return 2;
    }
    qputenv("CLIPNOTE_SERVER_BIN", CLIPNOTE_SERVER_PROGRAM);
    if (options.postgres)
        qputenv("CLIPNOTE_TEST_DATABASE", "postgresql");
    QTemporaryDir certificates;
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> tls(nullptr, SSL_CTX_free);
    QStringList tlsArguments;
    if (options.tls) {
        const QString cert = certificates.filePath(QStringLiteral("cert.pem"));
        const QString key = certificates.filePath(QStringLiteral("key.pem"));
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.setStandardOutputFile(QProcess::nullDevice());
        const QStringList newKey =
            options.rsaKey ? QStringList{"-newkey", "rsa:2048"}
                           : QStringList{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256"};
        openssl.start(QStringLiteral("openssl"),
                      QStringList{"req", "-x509"} + newKey +
                          QStringList{"-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                                      "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert});
        if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
            std::fprintf(stderr, "openssl could not make a certificate\n");
            return 1;
        }
        tls.reset(SSL_CTX_new(TLS_client_method()));
        SSL_CTX_set_verify(tls.get(), SSL_VERIFY_PEER, nullptr);
        SSL_CTX_load_verify_locations(tls.get(), cert.toLocal8Bit().constData(), nullptr);
        tlsArguments = {"--tls-cert", cert, "--tls-key", key};
    }
    std::vector<std::unique_ptr<ServerProcess>> servers;
    for (int i = 0; i < options.servers; ++i) {
        auto server = std::make_unique<ServerProcess>();
        QStringList arguments = tlsArguments;
        if (options.databaseConnections > 0)
            arguments << QStringLiteral("--database-connections")
                      << QString::number(options.databaseConnections);
        server->setExtraArguments(arguments);
        if (i > 0)
            server->shareDatabaseWith(*servers.front());
        if (!server->start()) {
            std::fprintf(stderr, "server: %s\n", qPrintable(server->errorString()));
            return 1;
        }
        servers.push_back(std::move(server));
    }
    const auto portOf = [&](int client) {
        return servers[static_cast<std::size_t>(client % options.servers)]->port();
    };
    std::atomic<bool> samplingDone{false};
    std::vector<std::unique_ptr<MemorySampler>> memory;
    std::vector<std::thread> samplers;
    for (const auto& server : servers) {
        memory.push_back(std::make_unique<MemorySampler>(server->processId()));
        samplers.emplace_back([&, m = memory.back().get()] { m->run(samplingDone); });
    }
    const auto stopSampling = [&] {
        samplingDone = true;
        for (std::thread& sampler : samplers)
            sampler.join();
    };

    // Accounts are made through the first server, over the clients' own
    // connection kind; the password is mailed into its data folder.
    std::vector<std::string> passwords;
    {
        Connection pages(servers.front()->port(), tls.get());
        const std::string host = "Host: 127.0.0.1:" + std::to_string(servers.front()->port());
        for (int i = 0; i < options.clients; ++i) {
            Reply reply;
            const bool made = pages.request("GET /zeb/reg.asp?UID=" + percentEncoded(userId(i)) +
                                                " HTTP/1.1\r\n" + host + "\r\n\r\n",
                                            {}, reply) &&
                              reply.body.starts_with("OK");
            const QString password =
                made ? newestPasswordMail(servers.front()->dataDir() + QStringLiteral("/mail"),
                                          QString::fromStdString(userId(i)))
                     : QString();
            if (password.isEmpty()) {
                std::fprintf(stderr, "could not create account %s\n", userId(i).c_str());
                stopSampling();
                return 1;
            }
            passwords.push_back(password.toStdString());
        }
    }

    std::atomic<std::uint64_t> postedByAll{0};
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < options.clients; ++i)
        clients.push_back(std::make_unique<Client>(i, options.clients, portOf(i), tls.get(),
                                                   passwords[static_cast<std::size_t>(i)],
                                                   postedByAll));

    std::atomic<bool> stopLoad{false};
    std::atomic<bool> stopSlow{false};
    SlowHeaders slow(servers.front()->port(), options.slowHeaders);
    std::thread slowThread;
    if (options.slowHeaders > 0) {
        slowThread = std::thread([&] { slow.run(stopSlow); });
        // Let them all get their connections before the load starts.
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }

    std::latch ready(options.clients + 1);
    std::latch loadDone(options.clients + 1);
    std::latch drainDone(options.clients + 1);
    std::vector<std::thread> threads;
    for (auto& client : clients) {
        threads.emplace_back([&, c = client.get()] {
            ready.arrive_and_wait();
            c->runLoad(stopLoad);
            loadDone.arrive_and_wait();
            c->drain(postedByAll.load());
            drainDone.count_down();
        });
    }
    ready.arrive_and_wait();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(options.seconds));
    stopLoad = true;
    loadDone.arrive_and_wait();
    const double loadSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    stopSlow = true;
    if (slowThread.joinable())
        slowThread.join();
    const auto drainStart = Clock::now();
    drainDone.arrive_and_wait();
    const double drainSeconds = std::chrono::duration<double>(Clock::now() - drainStart).count();
    for (auto& thread : threads)
        thread.join();
    stopSampling();
    for (const auto& server : servers)
        server->stop();

    std::vector<double> loginMs, postMs, downloadMs;
    std::uint64_t failed = 0, notOk = 0, busy = 0, misdelivered = 0, drainRequests = 0;
    std::uint64_t postedBytes = 0, receivedBytes = 0;
    int reopened = 0, undrained = 0;
    std::unordered_map<std::string, std::size_t> posted;
    std::unordered_map<std::string, int> receivedCount;
    std::uint64_t corrupt = 0, receivedRecords = 0;
    std::vector<std::string> samples;
    for (auto& client : clients) {
        ClientRecord& r = client->record();
        loginMs.insert(loginMs.end(), r.loginMs.begin(), r.loginMs.end());
        postMs.insert(postMs.end(), r.postMs.begin(), r.postMs.end());
        downloadMs.insert(downloadMs.end(), r.downloadMs.begin(), r.downloadMs.end());
        failed += r.failed;
        notOk += r.notOk;
        busy += r.busy;
        misdelivered += r.misdelivered;
        drainRequests += r.drainRequests;
        postedBytes += r.postedBytes;
        receivedBytes += r.receivedBytes;
        reopened += r.reopened;
        undrained += r.drained ? 0 : 1;
        for (const auto& [name, size] : r.posted)
            posted.emplace(name, size);
        for (const std::string& sample : r.samples) {
            if (samples.size() < 8)
                samples.push_back(sample);
        }
        for (const Received& got : r.received) {
            ++receivedRecords;
            ++receivedCount[got.name];
        }
    }
    // Sizes are checked once every client's posts are known.
    for (auto& client : clients) {
        for (const Received& got : client->record().received) {
            const auto sent = posted.find(got.name);
            if (!got.bytesMatch || (sent != posted.end() && sent->second != got.size))
                ++corrupt;
        }
    }
    std::uint64_t lost = 0, duplicated = 0, unasked = 0;
    for (const auto& [name, size] : posted) {
        const auto got = receivedCount.find(name);
        if (got == receivedCount.end())
            ++lost;
    }
    for (const auto& [name, count] : receivedCount) {
        if (count > 1)
            duplicated += static_cast<std::uint64_t>(count - 1);
        if (!posted.contains(name))
            ++unasked;
    }
    const std::uint64_t loadRequests = loginMs.size() + postMs.size() + downloadMs.size();
    const std::uint64_t errors = failed + notOk + corrupt + misdelivered + undrained;

    std::printf("clipnote-server under load: %d clients, %d s, %d slow-header connections, %d "
                "server%s on %s over %s (shared 2-core machine: figures are noisy)\n",
                options.clients, options.seconds, options.slowHeaders, options.servers,
                options.servers > 1 ? "s" : "", options.postgres ? "PostgreSQL" : "SQLite",
                !options.tls     ? "HTTP"
                : options.rsaKey ? "HTTPS (RSA-2048 key)"
                                 : "HTTPS (P-256 key)");
    std::printf("  requests   %llu in %.1f s = %.1f per second; posted %.1f MB/s, fetched %.1f "
                "MB/s\n",
                static_cast<unsigned long long>(loadRequests), loadSeconds,
                static_cast<double>(loadRequests) / loadSeconds,
                static_cast<double>(postedBytes) / 1e6 / loadSeconds,
                static_cast<double>(receivedBytes) / 1e6 / loadSeconds);
    std::printf("  %-9s %8s %10s %10s %10s\n", "page", "requests", "p50 ms", "p99 ms", "max ms");
    printPage("login", loginMs);
    printPage("post", postMs);
    printPage("download", downloadMs);
    std::printf("  drain      %llu requests in %.1f s\n",
                static_cast<unsigned long long>(drainRequests), drainSeconds);
    std::printf("  errors     %llu (failed or reset %llu, other replies %llu, corrupt %llu, for "
                "someone else %llu, queues not drained %d); busy sign-ins retried %llu; "
                "connections reopened after an idle close %d\n",
                static_cast<unsigned long long>(errors), static_cast<unsigned long long>(failed),
                static_cast<unsigned long long>(notOk), static_cast<unsigned long long>(corrupt),
                static_cast<unsigned long long>(misdelivered), undrained,
                static_cast<unsigned long long>(busy), reopened);
    std::printf("  messages   posted OK %zu, received %llu; lost %llu, duplicated %llu, received "
                "without an OK %llu\n",
                posted.size(), static_cast<unsigned long long>(receivedRecords),
                static_cast<unsigned long long>(lost), static_cast<unsigned long long>(duplicated),
                static_cast<unsigned long long>(unasked));
    for (const auto& sampled : memory)
        std::printf("  server     peak memory %ld KiB (VmHWM), highest sampled VmRSS %ld KiB\n",
                    sampled->highWaterKiB(), sampled->peakResidentKiB());
    if (options.slowHeaders > 0)
        std::printf("  slow heads %d held: %d opened, %d dropped by the server, %d not accepted\n",
                    options.slowHeaders, slow.opened(), slow.dropped(), slow.failedToOpen());
    for (const std::string& sample : samples)
        std::printf("  e.g.       %s\n", sample.c_str());
    return errors == 0 && lost == 0 && duplicated == 0 ? 0 : 1;
}
