#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// What a backend does with one prepared statement. Placeholders are "?",
// numbered from 1 in the order they appear.
class StatementBackend {
public:
    virtual ~StatementBackend() = default;
    virtual void bindText(int index, std::string_view text) = 0;
    virtual void bindInteger(int index, std::int64_t value) = 0;
    virtual void bindBytes(int index, std::string_view bytes) = 0;
    virtual void bindNull(int index) = 0;
    virtual bool step() = 0;
    virtual std::string text(int column) const = 0;
    virtual std::string bytes(int column) const = 0;
    virtual std::int64_t integer(int column) const = 0;
    virtual bool isNull(int column) const = 0;
    virtual int changes() const = 0;
};

// The service's database, shared by all request threads: SQLite (one file,
// one process, one connection) or PostgreSQL (any number of server
// processes on one database, a few connections each). A page holds lock()
// for the whole sequence of statements it needs, so a sequence never
// interleaves with another on the same connection; on SQLite it is the one
// lock of the whole database. Slow work (password hashing, files) happens
// outside it.
class Database {
public:
    enum class Kind { Sqlite, Postgres };

    virtual ~Database() = default;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // The right to run statements, held for a whole sequence of them and
    // given back when it goes out of scope.
    class Lease {
    public:
        explicit Lease(Database* db) : m_db(db) {}
        Lease(Lease&& other) noexcept : m_db(std::exchange(other.m_db, nullptr)) {}
        Lease& operator=(Lease&&) = delete;
        ~Lease() {
            if (m_db)
                m_db->release();
        }

    private:
        Database* m_db;
    };
    [[nodiscard]] Lease lock() {
        acquire();
        return Lease(this);
    }
    virtual Kind kind() const = 0;

    // Runs statements that return no rows. The caller holds lock().
    virtual void execute(const char* sql) = 0;
    // The schema version the database is at. The caller holds lock().
    int schemaVersion();

protected:
    Database() = default;
    // One connection and one lease at a time, unless a backend has more.
    virtual void acquire() { m_mutex.lock(); }
    virtual void release() { m_mutex.unlock(); }
    // Applies every step newer than the database, each in its own
    // transaction: a step that fails leaves nothing of itself behind.
    void migrate(const std::vector<Migration>& migrations);
    // Serialises the steps of several processes starting at once; called
    // inside each step's transaction.
    virtual void holdMigrationLock() {}

private:
    friend class Statement;
    friend class Transaction;
    virtual std::unique_ptr<StatementBackend> prepare(const char* sql) = 0;
    // Starts a transaction that takes the write lock of its scope at once
    // (of everything when the scope is empty).
    virtual void begin(std::string_view scope) = 0;

    std::mutex m_mutex;
};

// Opens the service's database: "sqlite:PATH", "postgresql://..." (or
// "postgres://..."); empty for the SQLite file defaultFile. The schema is
// created or brought up to date before it returns. Throws DatabaseError.
// `connections` bounds the connections to PostgreSQL.
std::unique_ptr<Database> openDatabase(const std::string& url,
                                       const std::filesystem::path& defaultFile,
                                       const std::vector<Migration>& sqliteSteps,
                                       const std::vector<Migration>& postgresSteps,
                                       int connections = 4);

// One prepared statement; values are always bound, never pasted into SQL.
class Statement {
public:
    Statement(Database& db, const char* sql);
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, std::int64_t value);
    // Bytes that are not text (a message's body).
    Statement& bindBytes(int index, std::string_view bytes);
    Statement& bindNull(int index);

    // Advances to the next row; false when there is none.
    bool step() { return m_backend->step(); }
    // Runs a statement that returns no rows.
    void run();

    std::string text(int column) const { return m_backend->text(column); }
    std::string bytes(int column) const { return m_backend->bytes(column); }
    std::int64_t integer(int column) const { return m_backend->integer(column); }
    bool isNull(int column) const { return m_backend->isNull(column); }
    // Rows changed by the last run().
    int changes() const { return m_backend->changes(); }

private:
    std::unique_ptr<StatementBackend> m_backend;
};

// A transaction that takes the write lock at once; rolled back when left
// without commit(). The caller holds Database::lock(). Writers with the same
// scope (a recipient's queue, one user ID's sign-ins) take turns; on SQLite
// every writer takes turns with every other, on PostgreSQL an empty scope
// does.
class Transaction {
public:
    explicit Transaction(Database& db, std::string_view scope = {});
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Database& m_db;
    bool m_done = false;
};
