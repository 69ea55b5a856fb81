#pragma once

#include "database.h"

struct pg_conn;

// A PostgreSQL database that any number of server processes share. A
// transaction takes one database-wide write lock first, so writers take
// turns across processes just as they do on SQLite within one; readers do
// not wait. A connection that broke is opened again at the next statement,
// so the service recovers by itself when the database is back.
class PostgresDatabase : public Database {
public:
    // Connects (a clear error when the database cannot be reached), then
    // applies every step newer than the database.
    PostgresDatabase(const std::string& url, const std::vector<Migration>& migrations);
    ~PostgresDatabase() override;

    Kind kind() const override { return Kind::Postgres; }
    void execute(const char* sql) override;

    // The connection, opened again first when it broke. Throws when the
    // database cannot be reached. The caller holds lock().
    pg_conn* connection();

private:
    std::unique_ptr<StatementBackend> prepare(const char* sql) override;
    void begin() override;
    void holdMigrationLock() override;

    pg_conn* m_conn = nullptr;
};

// "?" placeholders as PostgreSQL numbers them: "$1", "$2" ... Text in single
// quotes is left alone.
std::string numberedPlaceholders(std::string_view sql);
