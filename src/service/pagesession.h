#pragma once

#include <QString>

#include <memory>

class CServiceSession;
struct PageConnection;
struct PageRequest;

// The long-lived HTTP session for the account pages: one reused libcurl
// handle ("session"), the host it talks to ("connection") and the latest
// request with its reply ("request"). Only the account dialogs use it, one
// call at a time on the UI thread.
class PageSession {
public:
    PageSession();
    ~PageSession();
    PageSession(const PageSession&) = delete;
    PageSession& operator=(const PageSession&) = delete;

    // Base address the relative page paths are appended to.
    void setServiceBase(const QString& baseUrl);
    // Connect time-out; 30 s unless a test injects a shorter one. A reply
    // that stalls for longer than the same time also times out.
    void setConnectTimeoutMs(long milliseconds);

    int OpenSession();
    int CloseSession();
    int OpenPageRequest(const QString& server, const QString& path);
    int FetchPage(const QString& server, const QString& path, QString& reply);

    bool hasSession() const { return m_session != nullptr; }
    // The error number of the last page request that got no reply (0 when
    // one came), as OpenPageRequest returned it.
    int lastError() const { return m_lastError; }

    // Largest reply body kept; the rest of a longer reply is not read.
    static constexpr qsizetype kMaxReplyBytes = 1024 * 1024;

private:
    std::unique_ptr<CServiceSession> m_session;
    std::unique_ptr<PageConnection> m_connection;
    std::unique_ptr<PageRequest> m_request;
    QString m_base;
    long m_connectTimeoutMs = 30000;
    bool m_reopenAfterFailure = false;
    int m_lastError = 0;
};
