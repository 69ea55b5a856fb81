#include "database.h"

#include <sqlite3.h>

namespace {
constexpr int kBusyTimeoutMs = 5000;

std::string errorText(sqlite3* db, const std::string& what) {
    return what + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
}
} // namespace

Database::Database(const std::filesystem::path& file, const std::vector<Migration>& migrations) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(file.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        const std::string message = errorText(m_db, "cannot open " + file.string());
        sqlite3_close(m_db);
        m_db = nullptr;
        throw DatabaseError(message);
    }
    try {
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        sqlite3_extended_result_codes(m_db, 1);
        {
            Statement wal(*this, "PRAGMA journal_mode=WAL");
            if (!wal.step() || wal.text(0) != "wal")
                throw DatabaseError("cannot switch " + file.string() + " to WAL mode");
        }
        execute("PRAGMA foreign_keys=ON");
        migrate(migrations);
    } catch (...) {
        sqlite3_close(m_db);
        m_db = nullptr;
        throw;
    }
}

Database::~Database() {
    sqlite3_close(m_db);
}

void Database::execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errmsg(m_db);
        sqlite3_free(message);
        throw DatabaseError(text);
    }
}

int Database::schemaVersion() {
    Statement query(*this, "SELECT version FROM schema_version");
    return query.step() ? static_cast<int>(query.integer(0)) : 0;
}

void Database::migrate(const std::vector<Migration>& migrations) {
    auto guard = lock();
    execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
    const int newest = migrations.empty() ? 0 : migrations.back().version;
    const int current = schemaVersion();
    if (current > newest)
        throw DatabaseError("the database has schema version " + std::to_string(current) +
                            ", newer than this program knows (" + std::to_string(newest) + ")");
    int expected = 1;
    for (const Migration& step : migrations) {
        if (step.version != expected++)
            throw DatabaseError("schema steps are not numbered 1, 2, 3 ...");
        if (step.version <= current)
            continue;
        Transaction transaction(*this);
        execute(step.sql);
        Statement(*this, "DELETE FROM schema_version").run();
        Statement(*this, "INSERT INTO schema_version (version) VALUES (?)")
            .bind(1, std::int64_t{step.version})
            .run();
        transaction.commit();
    }
}

Statement::Statement(Database& db, const char* sql) : m_db(db.handle()) {
    if (sqlite3_prepare_v2(m_db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
        fail("cannot prepare a statement");
}

Statement::~Statement() {
    sqlite3_finalize(m_stmt);
}

Statement& Statement::bind(int index, std::string_view text) {
    if (sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK)
        fail("cannot bind a value");
    return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK)
        fail("cannot bind a value");
    return *this;
}

Statement& Statement::bindNull(int index) {
    if (sqlite3_bind_null(m_stmt, index) != SQLITE_OK)
        fail("cannot bind a value");
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    fail("a statement failed");
}

void Statement::run() {
    while (step()) {
    }
}

std::string Statement::text(int column) const {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return data ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
                : std::string();
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

int Statement::changes() const {
    return sqlite3_changes(m_db);
}

void Statement::fail(const char* what) const {
    throw DatabaseError(errorText(m_db, what));
}

Transaction::Transaction(Database& db) : m_db(db) {
    m_db.execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (!m_done) {
        try {
            m_db.execute("ROLLBACK");
        } catch (const DatabaseError&) {
            // A failed statement may already have ended the transaction.
        }
    }
}

void Transaction::commit() {
    m_db.execute("COMMIT");
    m_done = true;
}
