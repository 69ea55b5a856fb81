#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>

// A throwaway PostgreSQL cluster for one test program: initdb into a
// temporary folder (as the postgres user when the tests run as root), a
// server on a free port reachable only through its own socket folder, and
// one fresh database per caller. Stopped and removed when destroyed.
class PostgresCluster {
public:
    PostgresCluster() = default;
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    bool start();
    bool isRunning() const { return m_running; }
    // Stops the server at once, as a crash or an unplugged machine would.
    bool stop();
    // Starts the stopped server again on the same port and data.
    bool restart();
    QString errorString() const { return m_error; }

    // Makes a new, empty database and returns its address for --database.
    QString createDatabase();
    QString url(const QString& database) const;

    // The cluster every PostgreSQL run of a test program shares, started on
    // first use; null when it cannot start (errorString of the attempt is
    // printed).
    static PostgresCluster* shared();
    // True when the tests of this run go against PostgreSQL
    // (CLIPNOTE_TEST_DATABASE=postgresql).
    static bool testsUsePostgres();

private:
    bool run(const QString& tool, const QStringList& arguments);
    // Stops and removes the clusters of test programs that died.
    void removeAbandoned();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_bin;
    int m_port = 0;
    int m_databases = 0;
    bool m_running = false;
    QString m_error;
};
