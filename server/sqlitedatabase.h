#pragma once

#include "database.h"

struct sqlite3;

// The embedded default: one SQLite file in WAL mode with a busy timeout, so
// that other programs (tests, an administrator's sqlite3 shell) can read it
// while the server runs.
class SqliteDatabase : public Database {
public:
    // Opens or creates the file, then applies every step newer than it.
    SqliteDatabase(const std::filesystem::path& file, const std::vector<Migration>& migrations);
    ~SqliteDatabase() override;

    Kind kind() const override { return Kind::Sqlite; }
    void execute(const char* sql) override;

private:
    std::unique_ptr<StatementBackend> prepare(const char* sql) override;
    void begin(std::string_view) override { execute("BEGIN IMMEDIATE"); }

    sqlite3* m_db = nullptr;
};
