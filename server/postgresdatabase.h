#pragma once

#include "database.h"

#include <condition_variable>
#include <mutex>
#include <unordered_map>
#include <vector>

struct pg_conn;

// A PostgreSQL database that any number of server processes share, through
// a few connections per process: lock() lends the calling thread one of
// them (again the same one when the thread holds it already). A transaction
// takes one database-wide write lock first, so writers take turns across
// processes and threads just as they do on SQLite; readers do not wait. A
// connection that broke is opened again at the next statement, so the
// service recovers by itself when the database is back.
class PostgresDatabase : public Database {
public:
    // Connects (a clear error when the database cannot be reached), then
    // applies every step newer than the database.
    PostgresDatabase(const std::string& url, const std::vector<Migration>& migrations,
                     int connections = 4);
    ~PostgresDatabase() override;

    Kind kind() const override { return Kind::Postgres; }
    void execute(const char* sql) override;

    // The calling thread's connection, opened again first when it broke.
    // Throws when the database cannot be reached. The caller holds lock().
    pg_conn* connection();

    // The name of sql prepared on conn, which the calling thread holds;
    // prepared there first if need be.
    std::string preparedName(pg_conn* conn, const std::string& sql, int parameters);

private:
    void acquire() override;
    void release() override;
    pg_conn* connect();
    void forgetPrepared(pg_conn* conn);

    std::unique_ptr<StatementBackend> prepare(const char* sql) override;
    void begin(std::string_view scope) override;
    void holdMigrationLock() override;

    std::string m_url;
    std::mutex m_poolMutex;
    std::condition_variable m_returned;
    std::vector<pg_conn*> m_idle;
    int m_open = 0;
    const int m_connections;
    std::mutex m_preparedMutex;
    std::unordered_map<pg_conn*, std::unordered_map<std::string, std::string>> m_prepared;
};

// "?" placeholders as PostgreSQL numbers them: "$1", "$2" ... Text in single
// quotes is left alone.
std::string numberedPlaceholders(std::string_view sql);
