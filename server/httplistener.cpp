#include "httplistener.h"

#include "serverlog.h"
#include "workpool.h"

#include <microhttpd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kStreamBlockBytes = 64 * 1024;
constexpr auto kSweepPeriod = std::chrono::milliseconds(200);

constexpr char kPlainText[] = "text/plain; charset=utf-8";
constexpr char kNotFound[] = "Page not found.";
constexpr char kRefused[] = "Request refused.";
constexpr char kFailed[] = "The service could not complete this request. Please try again later.";
constexpr char kStopping[] = "The service is stopping. Please try again later.";

// One open connection, for the head deadline.
struct LiveConnection {
    int fd = -1;
    SteadyClock::time_point headStarted = SteadyClock::now();
    bool inRequest = false;
    bool cut = false;
};

// A reply queued before the request's end would close the connection, so
// pages without a body run once the whole request is in.
enum class Phase {
    AwaitingEnd,   // a request without a body page: wait for its end
    Working,       // a page thread has it; the connection is put aside
    ReadyForBody,  // the body reader is there; the next call is the head's
    ReceivingBody, // body pieces come; an empty call ends the body
    Ready,         // the reply is set
};

struct RequestState {
    HttpListener::Impl* owner = nullptr;
    MHD_Connection* connection = nullptr;
    LiveConnection* live = nullptr;
    HttpRequest request;
    HttpResponse response;
    const Routes::Route* route = nullptr;
    // The rank of the request's page work: older requests go first.
    WorkPool::Clock::time_point began = WorkPool::Clock::now();
    std::unique_ptr<BodyReader> body;
    std::atomic<Phase> phase{Phase::AwaitingEnd};
    // Whether the stream's last byte was read out, for its completion.
    std::shared_ptr<std::atomic<bool>> streamEnded;
};

struct StreamSource {
    std::shared_ptr<HttpStream> stream;
    std::shared_ptr<std::atomic<bool>> ended;
    // A range reply sends `length` bytes from `first`, and never counts as
    // the whole stream.
    std::uint64_t first = 0;
    std::uint64_t length = 0;
    bool partial = false;
};

// One range of "Range: bytes=A-B", "bytes=A-" or "bytes=-N" within `size`
// bytes; false for anything else (several ranges, other units), which is
// answered with the whole body.
bool parseRange(const std::string& header, std::uint64_t size, std::uint64_t* first,
                std::uint64_t* length) {
    const std::string prefix = "bytes=";
    if (header.rfind(prefix, 0) != 0 || header.find(',') != std::string::npos || size == 0)
        return false;
    const std::string byteRange = header.substr(prefix.size());
    const std::size_t dash = byteRange.find('-');
    if (dash == std::string::npos)
        return false;
    const auto number = [](const std::string& text, std::uint64_t* value) {
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
            text.size() > 18)
            return false;
        *value = std::stoull(text);
        return true;
    };
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    if (dash == 0) {
        if (!number(byteRange.substr(1), &b) || b == 0)
            return false;
        *first = b >= size ? 0 : size - b;
        *length = size - *first;
        return true;
    }
    if (!number(byteRange.substr(0, dash), &a) || a >= size)
        return false;
    const std::string end = byteRange.substr(dash + 1);
    if (end.empty())
        b = size - 1;
    else if (!number(end, &b) || b < a)
        return false;
    *first = a;
    *length = std::min(b, size - 1) - a + 1;
    return true;
}

void plainReply(HttpResponse& response, int status, const char* text) {
    response = HttpResponse();
    response.status = status;
    response.setContent(text, kPlainText);
    response.setHeader("Cache-Control", "no-store");
}

std::string numericAddress(const sockaddr* address) {
    if (!address)
        return {};
    const socklen_t length =
        address->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    char host[NI_MAXHOST];
    if (::getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return host;
}

MHD_Result collectField(void* fields, MHD_ValueKind, const char* key, size_t keySize,
                        const char* value, size_t valueSize) {
    static_cast<HttpFields*>(fields)->emplace_back(
        std::string(key, keySize), value ? std::string(value, valueSize) : std::string());
    return MHD_YES;
}

ssize_t readStream(void* cls, uint64_t offset, char* buffer, size_t max) {
    auto* source = static_cast<StreamSource*>(cls);
    if (offset >= source->length) {
        source->ended->store(!source->partial);
        return MHD_CONTENT_READER_END_OF_STREAM;
    }
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(max, source->length - offset));
    const std::int64_t n = source->stream->read(source->first + offset, buffer, want);
    if (n <= 0)
        return MHD_CONTENT_READER_END_WITH_ERROR;
    if (offset + static_cast<std::uint64_t>(n) >= source->length)
        source->ended->store(!source->partial);
    return static_cast<ssize_t>(n);
}

std::string terminationText(MHD_RequestTerminationCode code) {
    switch (code) {
    case MHD_REQUEST_TERMINATED_WITH_ERROR:
        return "connection error";
    case MHD_REQUEST_TERMINATED_TIMEOUT_REACHED:
        return "timed out";
    case MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN:
        return "service stopping";
    case MHD_REQUEST_TERMINATED_READ_ERROR:
        return "read error";
    case MHD_REQUEST_TERMINATED_CLIENT_ABORT:
        return "client closed";
    default:
        return "code " + std::to_string(int(code));
    }
}

void freeStream(void* cls) {
    delete static_cast<StreamSource*>(cls);
}

HttpResponse stoppingReply() {
    HttpResponse response;
    plainReply(response, 503, kStopping);
    response.closeConnection = true;
    return response;
}

// The replies still open, so that stopping can answer them all.
struct DeferredRegistry {
    std::mutex mutex;
    std::set<class OpenReply*> open;
    bool closed = false;
};

class OpenReply : public DeferredReply {
public:
    OpenReply(std::shared_ptr<DeferredRegistry> registry, RequestState* state)
        : m_registry(std::move(registry)), m_state(state) {
        std::lock_guard lock(m_registry->mutex);
        m_registry->open.insert(this);
    }
    ~OpenReply() override {
        std::lock_guard lock(m_registry->mutex);
        m_registry->open.erase(this);
    }

    void complete(HttpResponse response) override {
        std::lock_guard lock(m_registry->mutex);
        completeLocked(std::move(response));
    }

    // The page has it: from now on stopping may answer it.
    void handedOver() {
        std::lock_guard lock(m_registry->mutex);
        m_handed = true;
        if (m_registry->closed)
            completeLocked(stoppingReply());
    }
    bool isHandedOver() const { return m_handed; }

    // The caller holds the registry's mutex.
    void completeLocked(HttpResponse response) {
        if (m_done)
            return;
        m_done = true;
        m_state->response = std::move(response);
        m_state->phase = Phase::Ready;
        // From here on the state may go at any time.
        MHD_resume_connection(m_state->connection);
        m_state = nullptr;
    }

private:
    std::shared_ptr<DeferredRegistry> m_registry;
    RequestState* m_state;
    bool m_done = false;
    bool m_handed = false;
};
} // namespace

struct HttpListener::Impl {
    Impl(const Routes& r, ListenerLimits l) : routes(r), limits(l), pages(l.pageThreads) {}

    const Routes& routes;
    ListenerLimits limits;
    WorkPool pages;
    MHD_Daemon* daemon = nullptr;
    // PEM texts, which the library reads for as long as it serves.
    std::string tlsCertificate;
    std::string tlsKey;
    int listenFd = -1;
    int port = -1;
    std::mutex stopMutex;
    bool stopping = false;

    mutable std::mutex liveMutex;
    std::set<LiveConnection*> live;
    std::shared_ptr<DeferredRegistry> deferred = std::make_shared<DeferredRegistry>();
    std::condition_variable sweepWake;
    bool sweepStop = false;
    std::thread sweeper;

    // The head deadline: a connection whose head is not complete in time is
    // shut down; its event thread then sees the end and closes it.
    void sweep() {
        std::unique_lock lock(liveMutex);
        while (!sweepStop) {
            sweepWake.wait_for(lock, kSweepPeriod);
            const auto now = SteadyClock::now();
            for (LiveConnection* connection : live) {
                if (connection->inRequest || connection->cut ||
                    now - connection->headStarted < limits.headTimeout)
                    continue;
                connection->cut = true;
                ::shutdown(connection->fd, SHUT_RDWR);
            }
        }
    }

    static void onConnection(void* cls, MHD_Connection* connection, void** socketContext,
                             MHD_ConnectionNotificationCode code) {
        auto* self = static_cast<Impl*>(cls);
        std::lock_guard lock(self->liveMutex);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* live = new LiveConnection;
            const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            live->fd = info ? info->connect_fd : -1;
            *socketContext = live;
            self->live.insert(live);
        } else if (auto* live = static_cast<LiveConnection*>(*socketContext)) {
            // Called before the socket is closed, so the sweeper never
            // touches a descriptor that may already name something else.
            self->live.erase(live);
            delete live;
            *socketContext = nullptr;
        }
    }

    static void onCompleted(void* cls, MHD_Connection*, void** context,
                            MHD_RequestTerminationCode code) {
        auto* self = static_cast<Impl*>(cls);
        auto* state = static_cast<RequestState*>(*context);
        if (!state)
            return;
        *context = nullptr;
        if (state->live) {
            std::lock_guard lock(self->liveMutex);
            state->live->inRequest = false;
            state->live->headStarted = SteadyClock::now();
        }
        if (state->response.stream && state->response.stream->done) {
            const bool complete = code == MHD_REQUEST_TERMINATED_COMPLETED_OK &&
                                  state->request.method != "HEAD" && state->streamEnded &&
                                  state->streamEnded->load();
            // An operator, and a test that fails, can tell a client that
            // went away from a reply the service cut.
            if (code != MHD_REQUEST_TERMINATED_COMPLETED_OK)
                logServerProblem(state->request.path + " reply ended early (" +
                                 terminationText(code) + ")");
            // The page's own bookkeeping may wait on the database.
            self->pages.submit(
                [stream = state->response.stream, complete] { stream->done(complete); },
                state->began);
        }
        delete state;
    }

    static MHD_Result onRequest(void* cls, MHD_Connection* connection, const char* url,
                                const char* method, const char*, const char* data, size_t* dataSize,
                                void** context) {
        auto* self = static_cast<Impl*>(cls);
        auto* state = static_cast<RequestState*>(*context);
        if (!state) {
            state = new RequestState;
            *context = state;
            return self->begin(state, connection, url, method);
        }
        switch (state->phase.load()) {
        case Phase::AwaitingEnd:
            if (*dataSize > 0) {
                *dataSize = 0;
                return MHD_YES;
            }
            return self->runPage(state);
        case Phase::Working:
            return MHD_YES;
        case Phase::Ready:
            return self->queue(state);
        case Phase::ReadyForBody:
            state->phase = Phase::ReceivingBody;
            if (*dataSize == 0)
                return MHD_YES;
            [[fallthrough]];
        case Phase::ReceivingBody:
            if (*dataSize > 0) {
                const std::size_t taken = state->body->receive(data, *dataSize);
                if (taken == BodyReader::kStop || taken > *dataSize)
                    return MHD_NO;
                *dataSize -= taken;
                // The rest comes again once the page thread is done.
                if (state->body->needsPageWork())
                    return self->runOnPage(
                        state, [state] { state->body->pageWork(); }, Phase::ReceivingBody);
                return taken > 0 ? MHD_YES : MHD_NO;
            }
            return self->runOnPage(state, [state] { state->body->finish(state->response); });
        }
        return MHD_NO;
    }

    MHD_Result begin(RequestState* state, MHD_Connection* connection, const char* url,
                     const char* method) {
        state->owner = this;
        state->connection = connection;
        if (const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)) {
            state->live = static_cast<LiveConnection*>(info->socket_context);
            if (state->live) {
                std::lock_guard lock(liveMutex);
                state->live->inRequest = true;
            }
        }
        HttpRequest& request = state->request;
        request.method = method;
        request.path = url;
        const int fields = MHD_get_connection_values_n(connection, MHD_HEADER_KIND, collectField,
                                                       &request.headers);
        MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, collectField,
                                    &request.params);
        if (const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
            request.remoteAddress = numericAddress(info->client_addr);
        if (state->live)
            request.socket = state->live->fd;

        if (fields > limits.maxHeaderFields) {
            plainReply(state->response, 431, kRefused);
            state->response.closeConnection = true;
            return queue(state);
        }
        state->route = routes.find(request.method, request.path);
        if (state->route && state->route->body)
            return runOnPage(state, [state] {
                state->body = state->route->body(state->request, state->response);
            });
        state->phase = Phase::AwaitingEnd;
        return MHD_YES;
    }

    MHD_Result runPage(RequestState* state) {
        if (!state->route) {
            plainReply(state->response, 404, kNotFound);
            state->phase = Phase::Ready;
            return queue(state);
        }
        if (state->route->deferred) {
            // The page keeps the reply; the connection stays aside until it
            // is completed.
            auto reply = std::make_shared<OpenReply>(deferred, state);
            return runOnPage(
                state,
                [state, reply] {
                    // The reply may be completed inside the handler, and the
                    // state go with it: the handler works on copies.
                    const HttpRequest request = state->request;
                    const Routes::Route* route = state->route;
                    try {
                        route->deferred(request, reply);
                    } catch (const std::exception& e) {
                        logServerProblem(request.path + " failed: " + e.what());
                        HttpResponse failure;
                        plainReply(failure, 500, kFailed);
                        reply->complete(std::move(failure));
                    }
                    reply->handedOver();
                },
                Phase::Ready, false);
        }
        return runOnPage(state, [state] { state->route->page(state->request, state->response); });
    }

    // Puts the connection aside while a page thread runs the work; the
    // connection comes back with its reply or its body reader.
    // With resume false the work hands the connection on to a deferred
    // reply, which brings it back.
    template <typename Work>
    MHD_Result runOnPage(RequestState* state, Work work, Phase after = Phase::Ready,
                         bool resume = true) {
        // Taken by stop() too: once it has said stop, no connection is put
        // aside any more, so none is left aside when the daemon ends.
        std::lock_guard lock(stopMutex);
        if (stopping) {
            state->body.reset();
            plainReply(state->response, 503, kStopping);
            state->response.closeConnection = true;
            state->phase = Phase::Ready;
            return queue(state);
        }
        state->phase = Phase::Working;
        MHD_suspend_connection(state->connection);
        pages.submit(
            [state, work, after, resume] {
                if (!resume) {
                    work();
                    return;
                }
                Phase next = after;
                try {
                    const bool hadBody = state->body != nullptr;
                    work();
                    if (!hadBody && state->body)
                        next = Phase::ReadyForBody;
                } catch (const std::exception& e) {
                    logServerProblem(state->request.path + " failed: " + e.what());
                    state->body.reset();
                    plainReply(state->response, 500, kFailed);
                } catch (...) {
                    logServerProblem(state->request.path + " failed");
                    state->body.reset();
                    plainReply(state->response, 500, kFailed);
                }
                state->phase = next;
                MHD_resume_connection(state->connection);
            },
            state->began);
        return MHD_YES;
    }

    MHD_Result queue(RequestState* state) {
        HttpResponse& response = state->response;
        MHD_Response* reply = nullptr;
        if (response.stream) {
            state->streamEnded = std::make_shared<std::atomic<bool>>(false);
            auto* source = new StreamSource{response.stream, state->streamEnded, 0,
                                            response.stream->size, false};
            const std::string range = state->request.header("Range");
            if (response.status == 200 && !range.empty() &&
                parseRange(range, response.stream->size, &source->first, &source->length)) {
                source->partial = true;
                response.status = 206;
                response.setHeader("Content-Range",
                                   "bytes " + std::to_string(source->first) + "-" +
                                       std::to_string(source->first + source->length - 1) + "/" +
                                       std::to_string(response.stream->size));
            }
            reply = MHD_create_response_from_callback(source->length, kStreamBlockBytes, readStream,
                                                      source, freeStream);
            if (!reply)
                delete source;
        } else {
            reply = MHD_create_response_from_buffer(response.body.size(), response.body.data(),
                                                    MHD_RESPMEM_MUST_COPY);
        }
        if (!reply)
            return MHD_NO;
        for (const auto& [name, value] : response.headers)
            MHD_add_response_header(reply, name.c_str(), value.c_str());
        if (response.closeConnection)
            MHD_add_response_header(reply, MHD_HTTP_HEADER_CONNECTION, "close");
        const MHD_Result queued =
            MHD_queue_response(state->connection, static_cast<unsigned>(response.status), reply);
        MHD_destroy_response(reply);
        return queued;
    }
};

HttpListener::HttpListener(const Routes& routes, ListenerLimits limits)
    : m(std::make_unique<Impl>(routes, limits)) {}

HttpListener::~HttpListener() {
    stop();
}

namespace {
int openListeningSocket(const std::string& address, int port, int backlog, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(address.empty() ? nullptr : address.c_str(), service.c_str(), &hints,
                      &found) != 0) {
        *error = "cannot listen on " + address + ": the address is not known";
        return -1;
    }
    int fd = -1;
    for (addrinfo* candidate = found; candidate && fd < 0; candidate = candidate->ai_next) {
        fd = ::socket(candidate->ai_family, candidate->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                      candidate->ai_protocol);
        if (fd < 0)
            continue;
        // Rebinding over connections that are still closing is allowed; a
        // port another listener holds is not.
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, candidate->ai_addr, candidate->ai_addrlen) != 0 ||
            ::listen(fd, backlog) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0)
        *error = "cannot listen on " + address + " port " + std::to_string(port) +
                 ": the address is not available or the port is in use";
    return fd;
}

int boundPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}
} // namespace

void HttpListener::setTls(std::string certificatePem, std::string keyPem) {
    m->tlsCertificate = std::move(certificatePem);
    m->tlsKey = std::move(keyPem);
}

bool HttpListener::start(const std::string& address, int port, std::string* error) {
    std::string reason;
    m->listenFd = openListeningSocket(address, port, m->limits.backlog, &reason);
    if (m->listenFd < 0) {
        if (error)
            *error = reason;
        return false;
    }
    m->port = boundPort(m->listenFd);
    const ListenerLimits& limits = m->limits;
    const bool tls = !m->tlsCertificate.empty();
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_LISTEN_SOCKET, m->listenFd, nullptr},
        {MHD_OPTION_THREAD_POOL_SIZE, limits.eventThreads, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, limits.maxConnections, nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits.maxConnectionsPerAddress, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(limits.idleTimeout.count()), nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(limits.connectionMemoryBytes),
         nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Impl::onCompleted), m.get()},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Impl::onConnection), m.get()},
    };
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, m->tlsCertificate.data()});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, m->tlsKey.data()});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    m->daemon = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL |
                                     MHD_ALLOW_SUSPEND_RESUME | (tls ? MHD_USE_TLS : 0),
                                 0, nullptr, nullptr, &Impl::onRequest, m.get(), MHD_OPTION_ARRAY,
                                 options.data(), MHD_OPTION_END);
    if (!m->daemon) {
        ::close(m->listenFd);
        m->listenFd = -1;
        m->port = -1;
        if (error)
            *error = tls ? "cannot serve TLS on " + address + " port " + std::to_string(port) +
                               ": the certificate or the key is not usable"
                         : "cannot serve on " + address + " port " + std::to_string(port);
        return false;
    }
    m->sweeper = std::thread([this] { m->sweep(); });
    return true;
}

void HttpListener::stop() {
    if (!m->daemon)
        return;
    {
        std::lock_guard lock(m->stopMutex);
        m->stopping = true;
    }
    // Replies that wait for something are answered now.
    {
        std::lock_guard lock(m->deferred->mutex);
        m->deferred->closed = true;
        // One still in its page's hands is answered when handed over.
        for (OpenReply* reply : m->deferred->open)
            if (reply->isHandedOver())
                reply->completeLocked(stoppingReply());
    }
    // Pages under way finish and bring their connections back, so none is
    // put aside when the daemon closes them all.
    m->pages.drain();
    MHD_stop_daemon(m->daemon);
    m->daemon = nullptr;
    m->pages.drain();
    ::close(m->listenFd);
    m->listenFd = -1;
    {
        std::lock_guard lock(m->liveMutex);
        m->sweepStop = true;
    }
    m->sweepWake.notify_all();
    if (m->sweeper.joinable())
        m->sweeper.join();
}

int HttpListener::port() const {
    return m->port;
}

int HttpListener::openConnections() const {
    std::lock_guard lock(m->liveMutex);
    return static_cast<int>(m->live.size());
}
