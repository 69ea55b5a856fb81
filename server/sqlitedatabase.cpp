#include "sqlitedatabase.h"

#include <sqlite3.h>

namespace {
constexpr int kBusyTimeoutMs = 5000;

std::string errorText(sqlite3* db, const std::string& what) {
    return what + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
}

class SqliteStatement : public StatementBackend {
public:
    SqliteStatement(sqlite3* db, const char* sql) : m_db(db) {
        if (sqlite3_prepare_v2(m_db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            fail("cannot prepare a statement");
    }
    ~SqliteStatement() override { sqlite3_finalize(m_stmt); }

    void bindText(int index, std::string_view text) override {
        check(sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT));
    }
    void bindBytes(int index, std::string_view bytes) override {
        check(sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()),
                                SQLITE_TRANSIENT));
    }
    void bindInteger(int index, std::int64_t value) override {
        check(sqlite3_bind_int64(m_stmt, index, value));
    }
    void bindNull(int index) override { check(sqlite3_bind_null(m_stmt, index)); }

    bool step() override {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        fail("a statement failed");
    }

    std::string text(int column) const override {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return data ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
                    : std::string();
    }
    std::string bytes(int column) const override {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
        return data ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
                    : std::string();
    }
    std::int64_t integer(int column) const override { return sqlite3_column_int64(m_stmt, column); }
    bool isNull(int column) const override {
        return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
    }
    int changes() const override { return sqlite3_changes(m_db); }

private:
    void check(int rc) const {
        if (rc != SQLITE_OK)
            fail("cannot bind a value");
    }
    [[noreturn]] void fail(const char* what) const { throw DatabaseError(errorText(m_db, what)); }

    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};
} // namespace

SqliteDatabase::SqliteDatabase(const std::filesystem::path& file,
                               const std::vector<Migration>& migrations) {
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

SqliteDatabase::~SqliteDatabase() {
    sqlite3_close(m_db);
}

void SqliteDatabase::execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errmsg(m_db);
        sqlite3_free(message);
        throw DatabaseError(text);
    }
}

std::unique_ptr<StatementBackend> SqliteDatabase::prepare(const char* sql) {
    return std::make_unique<SqliteStatement>(m_db, sql);
}
