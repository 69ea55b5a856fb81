#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// What simpleHttpGet() got back. status is 0 when no reply came at all.
struct SimpleHttpReply {
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // The first header of that name (case-insensitive), or empty.
    QByteArray header(const QByteArray& name) const;
    // "NAME=value" of every Set-Cookie header, attributes dropped.
    QList<QByteArray> cookies() const;
};

// One blocking HTTP/1.0 GET to 127.0.0.1:port. target is sent as given
// ("/zeb/login.asp?UID=..."), so the caller decides every escape; cookie is
// the whole Cookie header value when not empty.
SimpleHttpReply simpleHttpGet(quint16 port, const QByteArray& target,
                              const QByteArray& cookie = QByteArray(), int timeoutMs = 10000);

// One blocking HTTP/1.1 request to 127.0.0.1:port: the head lines as given
// (Content-Length, Cookie, Expect ... are the caller's), then body, which may
// be shorter than the length it declares. Reads until the reply is complete
// by its Content-Length, the connection closes or the time is up.
SimpleHttpReply simpleHttpRequest(quint16 port, const QByteArray& method, const QByteArray& target,
                                  const QList<QByteArray>& headers, const QByteArray& body,
                                  int timeoutMs = 10000);

// A page value percent-encoded the way the client sends it: everything but
// letters, digits and "-._~" escaped, so "+", "&", "=", "#", "%" and
// blanks arrive intact.
QByteArray pageValue(const QString& value);

// The password in the newest mail to that user ID (any letter case) in a
// server's mail folder, or empty when no mail to it holds one.
QString newestPasswordMail(const QString& mailDir, const QString& uid);

// A real clipnote-server (the program named by CLIPNOTE_SERVER_BIN) on a
// free loopback port with a fresh throwaway data folder and the cheapest
// password hashing. Stopped when destroyed.
class ServerProcess {
public:
    ServerProcess();
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts on a new data folder. False with errorString() when the
    // program is missing or does not report its port in time.
    bool start();
    // Starts again on the same data folder and port, after stop() or kill()
    // (stops a running server first).
    bool restart();
    // SIGTERM, then waits. True when the server ended by itself with 0.
    bool stop();
    // SIGKILL, as a crash would end it.
    void kill();

    bool isRunning() const;
    qint64 processId() const;
    QString errorString() const { return m_error; }

    quint16 port() const { return m_port; }
    // The server's PostgreSQL database; empty when it keeps its SQLite file.
    QString databaseUrl() const { return m_databaseUrl; }
    // "http://127.0.0.1:PORT/"
    QString baseUrl() const;
    QString dataDir() const;
    QString mailDir() const;

    // The password in the newest mail to that user ID (any letter case), or
    // empty when no mail to it holds one.
    QString newestMailTo(const QString& uid) const;

    // GET on this server (see simpleHttpGet).
    SimpleHttpReply get(const QByteArray& target, const QByteArray& cookie = QByteArray()) const;
    // Creates an account through the registration page; its mailed
    // password, or empty when the page refused.
    QString createAccount(const QString& uid) const;
    // Signs in through the sign-in page; the session cookie "NAME=value" to
    // send along, or empty when refused.
    QByteArray signIn(const QString& uid, const QString& password) const;

    // How many account requests one client address may make at once; set
    // before start().
    void setAccountRequestsPerClient(int count) { m_accountRequestsPerClient = count; }
    // More command-line options for the server; set before start().
    void setExtraArguments(const QStringList& arguments) { m_extraArguments = arguments; }
    // Makes the next start() use the other server's PostgreSQL database,
    // so that both act as one service (each with its own data folder).
    void shareDatabaseWith(const ServerProcess& other) {
        m_sharedDatabaseUrl = other.m_databaseUrl;
    }

private:
    bool launch(quint16 port);

    int m_accountRequestsPerClient = 100000;
    QStringList m_extraArguments;

    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_scheme = QStringLiteral("http");
    // The PostgreSQL database of this server, when the tests run on one.
    QString m_databaseUrl;
    QString m_sharedDatabaseUrl;
    QString m_error;
};
