#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One step of the schema: the statements that lead from version - 1 to
// version. Steps are never edited once released; a change of the schema is a
// new step at the end of the list.
struct Migration {
    int version;
    const char* sql;
};

// The server's one SQLite connection, shared by all request threads. A page
// holds lock() for the whole sequence of statements it needs, so a sequence
// never interleaves with another thread's. Slow work (password hashing,
// files) happens outside the lock.
class Database {
public:
    // Opens or creates the file in WAL mode with a busy timeout, so that
    // other programs (tests, an administrator's sqlite3 shell) can read it
    // while the server runs, then applies every step newer than the file.
    Database(const std::filesystem::path& file, const std::vector<Migration>& migrations);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    [[nodiscard]] std::unique_lock<std::mutex> lock() { return std::unique_lock(m_mutex); }
    sqlite3* handle() const { return m_db; }

    // Runs statements that return no rows. The caller holds lock().
    void execute(const char* sql);
    // The schema version the file is at. The caller holds lock().
    int schemaVersion();

private:
    void migrate(const std::vector<Migration>& migrations);

    sqlite3* m_db = nullptr;
    std::mutex m_mutex;
};

// One prepared statement; values are always bound, never pasted into SQL.
class Statement {
public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, std::int64_t value);
    Statement& bindNull(int index);

    // Advances to the next row; false when there is none.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    std::string text(int column) const;
    std::int64_t integer(int column) const;
    bool isNull(int column) const;
    // Rows changed by the last run().
    int changes() const;

private:
    [[noreturn]] void fail(const char* what) const;

    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

// BEGIN IMMEDIATE ... COMMIT; rolled back when left without commit(). The
// caller holds Database::lock().
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Database& m_db;
    bool m_done = false;
};
