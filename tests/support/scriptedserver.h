#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// A loopback port on which nothing listens: bound once and closed again.
quint16 closedLoopbackPort();

// A tiny HTTP server on loopback that answers each connection with the next
// scripted reply, byte for byte, and records every request it received. It
// runs on its own thread, so blocking clients can talk to it from the test.
class ScriptedServer {
public:
    struct Reply {
        QByteArray raw;           // bytes sent back as they are
        int delayMs = 0;          // wait before answering
        bool stall = false;       // accept, read the request, never answer
        bool closeAtOnce = false; // close without reading or answering
        int cutAfterBytes = -1;   // close after sending this many bytes
    };

    // Later: the port is taken but refuses connections until startListening().
    enum class Listening { Now, Later };

    explicit ScriptedServer(Listening listening = Listening::Now);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    quint16 port() const { return m_port; }
    QString baseUrl() const;

    // Replies are used in order; a connection finding none gets a 404.
    void enqueue(const Reply& reply);
    static Reply http(int status, const QByteArray& contentType, const QByteArray& body,
                      const QList<QByteArray>& extraHeaders = {});
    static Reply raw(const QByteArray& bytes);

    // Every request received so far (head and body), oldest first.
    QList<QByteArray> requests() const;
    int connectionCount() const { return m_connections.load(); }
    // Starts accepting connections; safe to call from any one thread, once.
    void startListening();
    // Ends stalled connections and stops the server thread.
    void stop();

private:
    void serve();
    void handle(int fd);
    Reply nextReply();

    int m_listenFd = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    std::deque<Reply> m_replies;
    QList<QByteArray> m_requests;
    std::condition_variable m_stopped;
};
