#pragma once

#include "routes.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

// What the listener allows each connection, so that slow, idle or hostile
// clients cost a bounded amount and never hold up the others.
struct ListenerLimits {
    int maxConnections = 8192;
    int maxConnectionsPerAddress = 2048;
    // A request head (or, between requests, the next one) must be complete
    // this long after it started; a connection that dawdles is cut.
    std::chrono::seconds headTimeout{10};
    // A connection on which nothing moves for this long is closed.
    std::chrono::seconds idleTimeout{60};
    // Everything a connection holds of a request head, header lines included.
    std::size_t connectionMemoryBytes = 32 * 1024;
    int maxHeaderFields = 100;
    // Threads that move bytes for every connection (epoll) ...
    int eventThreads = 2;
    // ... and threads that run the pages, which may wait on the disk, the
    // database or a password hash.
    int pageThreads = 16;
    int backlog = 1024;
};

// The service's HTTP/1.1 listener: event threads over epoll carry every
// connection; a page runs on a page thread while its connection is put
// aside, so a waiting page costs a connection, not an event thread.
class HttpListener {
public:
    HttpListener(const Routes& routes, ListenerLimits limits);
    ~HttpListener();
    HttpListener(const HttpListener&) = delete;
    HttpListener& operator=(const HttpListener&) = delete;

    // Serves HTTPS with this certificate (chain) and private key, both PEM
    // texts; called before start().
    void setTls(std::string certificatePem, std::string keyPem);
    // Binds address:port (0 picks a free port) and serves from then on.
    // False with a reason when it cannot.
    bool start(const std::string& address, int port, std::string* error);
    // Finishes the pages under way, closes every connection. Idempotent.
    void stop();

    int port() const;
    // Connections open right now.
    int openConnections() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m;
};
