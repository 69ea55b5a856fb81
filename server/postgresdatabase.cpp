#include "postgresdatabase.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <optional>

namespace {
// Keys of the advisory locks: one for the schema steps, one for writers.
constexpr long long kMigrationLockKey = 0x436c6970'01;
constexpr long long kWriteLockKey = 0x436c6970'02;

std::string connectionError(PGconn* conn) {
    std::string text = conn ? PQerrorMessage(conn) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// A result freed however its scope is left.
struct Result {
    PGresult* result = nullptr;
    ~Result() { PQclear(result); }
};

class PostgresStatement : public StatementBackend {
public:
    PostgresStatement(PostgresDatabase& db, const char* sql)
        : m_db(db), m_sql(numberedPlaceholders(sql)) {}
    ~PostgresStatement() override { PQclear(m_result); }

    void bindText(int index, std::string_view text) override { set(index, text, 0); }
    void bindBytes(int index, std::string_view bytes) override { set(index, bytes, 1); }
    void bindInteger(int index, std::int64_t value) override {
        set(index, std::to_string(value), 0);
    }
    void bindNull(int index) override {
        grow(index);
        m_values[index - 1].reset();
    }

    bool step() override {
        if (!m_result)
            run();
        return ++m_row < PQntuples(m_result);
    }

    std::string text(int column) const override {
        return std::string(PQgetvalue(m_result, m_row, column),
                           static_cast<size_t>(PQgetlength(m_result, m_row, column)));
    }
    std::string bytes(int column) const override {
        size_t length = 0;
        unsigned char* raw = PQunescapeBytea(
            reinterpret_cast<const unsigned char*>(PQgetvalue(m_result, m_row, column)), &length);
        if (!raw)
            throw DatabaseError("cannot read bytes from the database");
        std::string out(reinterpret_cast<const char*>(raw), length);
        PQfreemem(raw);
        return out;
    }
    std::int64_t integer(int column) const override {
        return std::strtoll(PQgetvalue(m_result, m_row, column), nullptr, 10);
    }
    bool isNull(int column) const override { return PQgetisnull(m_result, m_row, column) != 0; }
    int changes() const override { return m_result ? std::atoi(PQcmdTuples(m_result)) : 0; }

private:
    void grow(int index) {
        if (index < 1)
            throw DatabaseError("placeholders count from 1");
        if (static_cast<size_t>(index) > m_values.size()) {
            m_values.resize(static_cast<size_t>(index));
            m_formats.resize(static_cast<size_t>(index), 0);
        }
    }
    void set(int index, std::string_view value, int format) {
        grow(index);
        m_values[index - 1] = std::string(value);
        m_formats[index - 1] = format;
    }
    void run() {
        PGconn* conn = m_db.connection();
        std::vector<const char*> values;
        std::vector<int> lengths;
        for (const auto& value : m_values) {
            values.push_back(value ? value->data() : nullptr);
            lengths.push_back(value ? static_cast<int>(value->size()) : 0);
        }
        m_result = PQexecParams(conn, m_sql.c_str(), static_cast<int>(values.size()), nullptr,
                                values.data(), lengths.data(), m_formats.data(), 0);
        const ExecStatusType status = PQresultStatus(m_result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            throw DatabaseError("a statement failed: " + connectionError(conn));
    }

    PostgresDatabase& m_db;
    std::string m_sql;
    std::vector<std::optional<std::string>> m_values;
    std::vector<int> m_formats;
    PGresult* m_result = nullptr;
    int m_row = -1;
};
} // namespace

std::string numberedPlaceholders(std::string_view sql) {
    std::string out;
    out.reserve(sql.size() + 16);
    int next = 1;
    bool quoted = false;
    for (char c : sql) {
        if (c == '\'')
            quoted = !quoted;
        if (c == '?' && !quoted)
            out += "$" + std::to_string(next++);
        else
            out += c;
    }
    return out;
}

PostgresDatabase::PostgresDatabase(const std::string& url,
                                   const std::vector<Migration>& migrations) {
    m_conn = PQconnectdb(url.c_str());
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const std::string reason = connectionError(m_conn);
        PQfinish(m_conn);
        m_conn = nullptr;
        throw DatabaseError("cannot connect to the database: " + reason);
    }
    try {
        // Notices (an index that exists already) are not the log's business.
        PQsetNoticeProcessor(
            m_conn, [](void*, const char*) {}, nullptr);
        migrate(migrations);
    } catch (...) {
        PQfinish(m_conn);
        m_conn = nullptr;
        throw;
    }
}

PostgresDatabase::~PostgresDatabase() {
    PQfinish(m_conn);
}

pg_conn* PostgresDatabase::connection() {
    if (PQstatus(m_conn) != CONNECTION_OK) {
        PQreset(m_conn);
        if (PQstatus(m_conn) != CONNECTION_OK)
            throw DatabaseError("the database cannot be reached: " + connectionError(m_conn));
        PQsetNoticeProcessor(
            m_conn, [](void*, const char*) {}, nullptr);
    }
    return m_conn;
}

void PostgresDatabase::execute(const char* sql) {
    PGconn* conn = connection();
    Result result{PQexec(conn, sql)};
    const ExecStatusType status = PQresultStatus(result.result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw DatabaseError(connectionError(conn));
}

std::unique_ptr<StatementBackend> PostgresDatabase::prepare(const char* sql) {
    return std::make_unique<PostgresStatement>(*this, sql);
}

void PostgresDatabase::begin() {
    execute("BEGIN");
    try {
        execute(("SELECT pg_advisory_xact_lock(" + std::to_string(kWriteLockKey) + ")").c_str());
    } catch (...) {
        try {
            execute("ROLLBACK");
        } catch (const DatabaseError&) {
        }
        throw;
    }
}

void PostgresDatabase::holdMigrationLock() {
    execute(("SELECT pg_advisory_xact_lock(" + std::to_string(kMigrationLockKey) + ")").c_str());
}
