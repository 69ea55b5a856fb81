// A real clipnote-server process for a test: see serverprocess.h.
#include "serverprocess.h"

#include "postgrescluster.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Start-up under the sanitizers is slow; 30 s is never reached otherwise.
constexpr int kStartTimeoutMs = 30000;
constexpr int kStopTimeoutMs = 15000;
// Mail names begin with a fixed-width stamp "20261208-153012-000123-".
constexpr int kMailStampLength = 23;

bool sendAll(int fd, const QByteArray& bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent,
                                 static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

SimpleHttpReply parseReply(const QByteArray& raw) {
    SimpleHttpReply reply;
    const qsizetype headEnd = raw.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return reply;
    const QList<QByteArray> lines = raw.left(headEnd).split('\n');
    const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
    if (statusLine.size() < 2 || !statusLine[0].startsWith("HTTP/"))
        return reply;
    reply.status = statusLine[1].toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            reply.headers.append(
                {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    reply.body = raw.mid(headEnd + 4);
    bool ok = false;
    const qsizetype length = reply.header("Content-Length").toLongLong(&ok);
    if (ok && length < reply.body.size())
        reply.body.truncate(length);
    return reply;
}
} // namespace

QByteArray SimpleHttpReply::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QList<QByteArray> SimpleHttpReply::cookies() const {
    QList<QByteArray> result;
    for (const auto& [key, value] : headers) {
        if (key.compare("Set-Cookie", Qt::CaseInsensitive) == 0)
            result.append(value.left(value.indexOf(';')).trimmed());
    }
    return result;
}

namespace {
// Whether raw holds a whole reply: its head and as many body bytes as its
// Content-Length declares. Without one, only the closing connection tells.
bool replyComplete(const QByteArray& raw) {
    const qsizetype headEnd = raw.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return false;
    const SimpleHttpReply head = parseReply(raw.left(headEnd + 4));
    bool ok = false;
    const qint64 length = head.header("Content-Length").toLongLong(&ok);
    return ok && raw.size() - headEnd - 4 >= length;
}

QByteArray exchange(quint16 port, const QByteArray& request, int timeoutMs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    QByteArray raw;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        sendAll(fd, request)) {
        const QDeadlineTimer deadline(timeoutMs);
        char buffer[8192];
        while (!deadline.hasExpired() && !replyComplete(raw)) {
            pollfd p{fd, POLLIN, 0};
            const int remaining = static_cast<int>(qMax<qint64>(0, deadline.remainingTime()));
            if (::poll(&p, 1, remaining) <= 0)
                break;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            raw.append(buffer, n);
        }
    }
    ::close(fd);
    return raw;
}
} // namespace

SimpleHttpReply simpleHttpGet(quint16 port, const QByteArray& target, const QByteArray& cookie,
                              int timeoutMs) {
    QByteArray request =
        "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    if (!cookie.isEmpty())
        request += "Cookie: " + cookie + "\r\n";
    request += "Connection: close\r\n\r\n";
    return parseReply(exchange(port, request, timeoutMs));
}

SimpleHttpReply simpleHttpRequest(quint16 port, const QByteArray& method, const QByteArray& target,
                                  const QList<QByteArray>& headers, const QByteArray& body,
                                  int timeoutMs) {
    QByteArray request =
        method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    for (const QByteArray& header : headers)
        request += header + "\r\n";
    request += "\r\n" + body;
    return parseReply(exchange(port, request, timeoutMs));
}

QByteArray pageValue(const QString& value) {
    return QUrl::toPercentEncoding(value);
}

QString newestPasswordMail(const QString& mailDir, const QString& uid) {
    const QString wanted = uid.toLower() + QStringLiteral(".txt");
    const QStringList names = QDir(mailDir).entryList({QStringLiteral("*.txt")}, QDir::Files,
                                                      QDir::Name | QDir::Reversed);
    for (const QString& name : names) {
        if (name.mid(kMailStampLength) != wanted)
            continue;
        QFile file(mailDir + QLatin1Char('/') + name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray& line : lines) {
            if (line.startsWith("Password: "))
                return QString::fromUtf8(line.mid(10).trimmed());
        }
    }
    return {};
}

ServerProcess::ServerProcess() = default;

ServerProcess::~ServerProcess() {
    if (isRunning())
        stop();
}

bool ServerProcess::start() {
    if (isRunning())
        stop();
    m_data = std::make_unique<QTemporaryDir>();
    if (!m_data->isValid()) {
        m_error = QStringLiteral("cannot create a data folder: ") + m_data->errorString();
        return false;
    }
    m_databaseUrl = m_sharedDatabaseUrl;
    if (m_databaseUrl.isEmpty() && PostgresCluster::testsUsePostgres()) {
        PostgresCluster* cluster = PostgresCluster::shared();
        m_databaseUrl = cluster ? cluster->createDatabase() : QString();
        if (m_databaseUrl.isEmpty()) {
            m_error = QStringLiteral("no PostgreSQL database for the server");
            return false;
        }
    }
    return launch(0);
}

bool ServerProcess::restart() {
    if (!m_data) {
        m_error = QStringLiteral("restart() before start()");
        return false;
    }
    if (isRunning())
        stop();
    return launch(m_port);
}

bool ServerProcess::launch(quint16 port) {
    const QString program = qEnvironmentVariable("CLIPNOTE_SERVER_BIN");
    if (program.isEmpty()) {
        m_error = QStringLiteral("CLIPNOTE_SERVER_BIN is not set");
        return false;
    }
    m_process = std::make_unique<QProcess>();
    // The server's own complaints show up in the test's output.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QStringList arguments{QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                                QStringLiteral("--port"), QString::number(port),
                                QStringLiteral("--pwhash"), QStringLiteral("min"),
                                QStringLiteral("--data"), dataDir(),
                                // Tests make many accounts from one address.
                                QStringLiteral("--account-requests-per-client"),
                                QString::number(m_accountRequestsPerClient)};
    QStringList database;
    if (!m_databaseUrl.isEmpty())
        database = {QStringLiteral("--database"), m_databaseUrl};
    m_process->start(program, arguments + database + m_extraArguments);
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!m_process->canReadLine() && !deadline.hasExpired() &&
           m_process->state() != QProcess::NotRunning) {
        m_process->waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    const QString line = QString::fromUtf8(m_process->readLine()).trimmed();
    static const QRegularExpression pattern(QStringLiteral(
        "^clipnote-server listening on (https?)://127\\.0\\.0\\.1:(\\d+)/ data (.+)$"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch()) {
        m_error = QStringLiteral("clipnote-server did not report its port (got \"%1\", %2)")
                      .arg(line, m_process->errorString());
        kill();
        return false;
    }
    m_scheme = match.captured(1);
    m_port = static_cast<quint16>(match.captured(2).toUInt());
    return true;
}

bool ServerProcess::stop() {
    if (!isRunning())
        return false;
    m_process->terminate();
    if (!m_process->waitForFinished(kStopTimeoutMs)) {
        m_error = QStringLiteral("clipnote-server did not stop on SIGTERM");
        kill();
        return false;
    }
    return m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
}

void ServerProcess::kill() {
    if (!isRunning())
        return;
    m_process->kill();
    m_process->waitForFinished(kStopTimeoutMs);
}

bool ServerProcess::isRunning() const {
    return m_process && m_process->state() != QProcess::NotRunning;
}

qint64 ServerProcess::processId() const {
    return isRunning() ? m_process->processId() : 0;
}

QString ServerProcess::baseUrl() const {
    return QStringLiteral("%1://127.0.0.1:%2/").arg(m_scheme).arg(m_port);
}

QString ServerProcess::dataDir() const {
    return m_data ? m_data->path() : QString();
}

QString ServerProcess::mailDir() const {
    return m_data ? m_data->path() + QStringLiteral("/mail") : QString();
}

QString ServerProcess::newestMailTo(const QString& uid) const {
    return newestPasswordMail(mailDir(), uid);
}

SimpleHttpReply ServerProcess::get(const QByteArray& target, const QByteArray& cookie) const {
    return simpleHttpGet(m_port, target, cookie);
}

QString ServerProcess::createAccount(const QString& uid) const {
    const SimpleHttpReply reply = get("/zeb/reg.asp?UID=" + pageValue(uid));
    if (reply.status != 200 || !reply.body.startsWith("OK"))
        return {};
    return newestMailTo(uid);
}

QByteArray ServerProcess::signIn(const QString& uid, const QString& password) const {
    const SimpleHttpReply reply =
        get("/zeb/login.asp?UID=" + pageValue(uid) + "&PW=" + pageValue(password));
    if (reply.status != 200 || !reply.body.startsWith("OK") || reply.cookies().isEmpty())
        return {};
    return reply.cookies().constFirst();
}
