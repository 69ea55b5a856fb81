#include "postgrescluster.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <csignal>

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int kToolTimeoutMs = 120000;

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

qint64 readOwner(const QString& folder) {
    QFile file(folder + QStringLiteral("/owner"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
}

QString serverTools() {
    // Debian keeps the server's tools out of PATH, one folder per version.
    const QStringList versions =
        QDir(QStringLiteral("/usr/lib/postgresql"))
            .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
    for (const QString& version : versions) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(version);
        if (QFileInfo(bin + QStringLiteral("/initdb")).isExecutable())
            return bin;
    }
    return {};
}
} // namespace

PostgresCluster::~PostgresCluster() {
    stop();
}

bool PostgresCluster::testsUsePostgres() {
    return qEnvironmentVariable("CLIPNOTE_TEST_DATABASE") == QLatin1String("postgresql");
}

PostgresCluster* PostgresCluster::shared() {
    // Stopped and removed as the program ends.
    static const std::unique_ptr<PostgresCluster> cluster = [] {
        auto c = std::make_unique<PostgresCluster>();
        if (!c->start()) {
            qWarning("no PostgreSQL cluster: %s", qPrintable(c->errorString()));
            c.reset();
        }
        return c;
    }();
    return cluster.get();
}

void PostgresCluster::removeAbandoned() {
    // A test program that was killed left its cluster running: its folder
    // names the program, which is gone.
    const QStringList folders =
        QDir(QStringLiteral("/tmp"))
            .entryList({QStringLiteral("clipnote-pg-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : folders) {
        const QString folder = QStringLiteral("/tmp/") + name;
        const qint64 owner = readOwner(folder);
        if (owner <= 0 || ::kill(static_cast<pid_t>(owner), 0) == 0 || errno != ESRCH)
            continue;
        if (QFileInfo::exists(folder + QStringLiteral("/data/postmaster.pid")))
            run(QStringLiteral("pg_ctl"),
                {"-D", folder + QStringLiteral("/data"), "-m", "immediate", "-w", "stop"});
        QDir(folder).removeRecursively();
    }
}

bool PostgresCluster::run(const QString& tool, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QString program = m_bin + QLatin1Char('/') + tool;
    QStringList all = arguments;
    // The server refuses to run as root: its tools then run as postgres.
    if (::geteuid() == 0) {
        all.prepend(program);
        all.prepend(QStringLiteral("--"));
        all.prepend(QStringLiteral("postgres"));
        all.prepend(QStringLiteral("-u"));
        program = QStringLiteral("runuser");
    }
    process.start(program, all);
    if (!process.waitForFinished(kToolTimeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_error = tool + QStringLiteral(": ") +
                  QString::fromLocal8Bit(process.readAll()).trimmed() + process.errorString();
        return false;
    }
    return true;
}

bool PostgresCluster::start() {
    m_bin = serverTools();
    if (m_bin.isEmpty()) {
        m_error = QStringLiteral("the PostgreSQL server is not installed (postgresql-15)");
        return false;
    }
    removeAbandoned();
    // A short folder: the socket's path must fit in 107 bytes.
    m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/clipnote-pg-XXXXXX"));
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("cannot create a folder for the cluster");
        return false;
    }
    if (::geteuid() == 0) {
        const passwd* postgres = ::getpwnam("postgres");
        if (!postgres || ::chown(QFile::encodeName(m_dir->path()).constData(), postgres->pw_uid,
                                 postgres->pw_gid) != 0) {
            m_error = QStringLiteral("there is no postgres user to run the cluster");
            return false;
        }
    }
    QFile owner(m_dir->path() + QStringLiteral("/owner"));
    if (!owner.open(QIODevice::WriteOnly) ||
        owner.write(QByteArray::number(QCoreApplication::applicationPid())) <= 0) {
        m_error = QStringLiteral("cannot write the cluster's owner");
        return false;
    }
    owner.close();
    const QString data = m_dir->path() + QStringLiteral("/data");
    if (!run(QStringLiteral("initdb"), {"-D", data, "-A", "trust", "-U", "postgres", "-E", "UTF8",
                                        "--no-sync", "--no-instructions"}))
        return false;
    m_port = freePort();
    return restart();
}

bool PostgresCluster::restart() {
    const QString data = m_dir->path() + QStringLiteral("/data");
    // Only the socket in the cluster's folder, no TCP: nothing else on the
    // machine meets this server. No fsync: the data is thrown away anyway.
    // Room for the write-ahead log of a load test between checkpoints, and
    // the settings the README asks of an operator for the churning bodies.
    const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses='' -c fsync=off "
                                           "-c max_connections=200 -c max_wal_size=4GB "
                                           "-c checkpoint_timeout=30min -c autovacuum_naptime=1s "
                                           "-c shared_buffers=512MB")
                                .arg(m_port)
                                .arg(m_dir->path());
    if (!run(QStringLiteral("pg_ctl"), {"-D", data, "-o", options, "-w", "-t", "60", "-l",
                                        m_dir->path() + QStringLiteral("/log"), "start"}))
        return false;
    m_running = true;
    return true;
}

bool PostgresCluster::stop() {
    if (!m_running)
        return true;
    m_running = false;
    return run(QStringLiteral("pg_ctl"),
               {"-D", m_dir->path() + QStringLiteral("/data"), "-m", "immediate", "-w", "stop"});
}

QString PostgresCluster::createDatabase() {
    const QString name = QStringLiteral("clipnote%1").arg(++m_databases);
    if (!run(QStringLiteral("createdb"),
             {"-h", m_dir->path(), "-p", QString::number(m_port), "-U", "postgres", name}))
        return {};
    return url(name);
}

QString PostgresCluster::url(const QString& database) const {
    return QStringLiteral("postgresql://postgres@/%1?host=%2&port=%3")
        .arg(database, m_dir->path())
        .arg(m_port);
}
