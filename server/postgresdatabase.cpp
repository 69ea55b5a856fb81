#include "postgresdatabase.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

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

    // Results come in binary: bytes as they are, numbers as big-endian
    // integers of their column's width, nothing to unescape.
    std::string text(int column) const override {
        return std::string(PQgetvalue(m_result, m_row, column),
                           static_cast<size_t>(PQgetlength(m_result, m_row, column)));
    }
    std::string bytes(int column) const override { return text(column); }
    std::int64_t integer(int column) const override {
        if (PQgetisnull(m_result, m_row, column))
            return 0;
        const auto* raw =
            reinterpret_cast<const unsigned char*>(PQgetvalue(m_result, m_row, column));
        const int width = PQgetlength(m_result, m_row, column);
        if (width != 2 && width != 4 && width != 8)
            throw DatabaseError("a column is not a whole number");
        std::uint64_t value = 0;
        for (int i = 0; i < width; ++i)
            value = (value << 8) | raw[i];
        // Sign-extend the narrower widths.
        const int unused = 64 - 8 * width;
        return static_cast<std::int64_t>(value << unused) >> unused;
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
        // Parsed and planned once per connection, then only executed.
        const std::string name = m_db.preparedName(conn, m_sql, static_cast<int>(values.size()));
        m_result = PQexecPrepared(conn, name.c_str(), static_cast<int>(values.size()),
                                  values.data(), lengths.data(), m_formats.data(), 1);
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

namespace {
// The connection each thread holds, per database, and how deeply.
struct HeldConnection {
    const PostgresDatabase* db = nullptr;
    PGconn* conn = nullptr;
    int depth = 0;
};
thread_local std::vector<HeldConnection> t_held;

HeldConnection* heldBy(const PostgresDatabase* db) {
    for (HeldConnection& held : t_held)
        if (held.db == db)
            return &held;
    return nullptr;
}
} // namespace

PostgresDatabase::PostgresDatabase(const std::string& url, const std::vector<Migration>& migrations,
                                   int connections)
    : m_url(url), m_connections(std::max(1, connections)) {
    // The first connection says at once whether the database is there.
    PGconn* first = connect();
    if (PQstatus(first) != CONNECTION_OK) {
        const std::string reason = connectionError(first);
        PQfinish(first);
        throw DatabaseError("cannot connect to the database: " + reason);
    }
    m_idle.push_back(first);
    m_open = 1;
    try {
        migrate(migrations);
    } catch (...) {
        for (PGconn* conn : m_idle)
            PQfinish(conn);
        m_idle.clear();
        throw;
    }
}

PostgresDatabase::~PostgresDatabase() {
    for (PGconn* conn : m_idle)
        PQfinish(conn);
}

PGconn* PostgresDatabase::connect() {
    PGconn* conn = PQconnectdb(m_url.c_str());
    // Notices (an index that exists already) are not the log's business.
    if (conn)
        PQsetNoticeProcessor(
            conn, [](void*, const char*) {}, nullptr);
    return conn;
}

void PostgresDatabase::acquire() {
    if (HeldConnection* held = heldBy(this)) {
        ++held->depth;
        return;
    }
    PGconn* conn = nullptr;
    {
        std::unique_lock lock(m_poolMutex);
        m_returned.wait(lock, [this] { return !m_idle.empty() || m_open < m_connections; });
        if (!m_idle.empty()) {
            conn = m_idle.back();
            m_idle.pop_back();
        } else {
            ++m_open;
        }
    }
    // A new connection is opened, and checked, at its first statement.
    t_held.push_back({this, conn, 1});
}

void PostgresDatabase::release() {
    HeldConnection* held = heldBy(this);
    if (!held || --held->depth > 0)
        return;
    PGconn* conn = held->conn;
    std::erase_if(t_held, [this](const HeldConnection& h) { return h.db == this; });
    {
        std::lock_guard lock(m_poolMutex);
        if (conn)
            m_idle.push_back(conn);
        else
            --m_open;
    }
    m_returned.notify_one();
}

std::string PostgresDatabase::preparedName(pg_conn* conn, const std::string& sql, int parameters) {
    {
        std::lock_guard lock(m_preparedMutex);
        const auto& known = m_prepared[conn];
        if (const auto found = known.find(sql); found != known.end())
            return found->second;
    }
    // Only the thread that holds this connection prepares on it.
    std::string name;
    {
        std::lock_guard lock(m_preparedMutex);
        name = "s" + std::to_string(m_prepared[conn].size() + 1);
    }
    Result prepared{PQprepare(conn, name.c_str(), sql.c_str(), parameters, nullptr)};
    if (PQresultStatus(prepared.result) != PGRES_COMMAND_OK)
        throw DatabaseError("a statement failed: " + connectionError(conn));
    std::lock_guard lock(m_preparedMutex);
    m_prepared[conn].emplace(sql, name);
    return name;
}

void PostgresDatabase::forgetPrepared(pg_conn* conn) {
    std::lock_guard lock(m_preparedMutex);
    m_prepared.erase(conn);
}

pg_conn* PostgresDatabase::connection() {
    HeldConnection* held = heldBy(this);
    if (!held)
        throw DatabaseError("a statement ran without the database lock");
    if (!held->conn)
        held->conn = connect();
    if (!held->conn)
        throw DatabaseError("the database cannot be reached: out of memory");
    if (PQstatus(held->conn) != CONNECTION_OK) {
        // A new session knows none of the old one's prepared statements.
        forgetPrepared(held->conn);
        PQreset(held->conn);
        if (PQstatus(held->conn) != CONNECTION_OK)
            throw DatabaseError("the database cannot be reached: " + connectionError(held->conn));
        PQsetNoticeProcessor(
            held->conn, [](void*, const char*) {}, nullptr);
    }
    return held->conn;
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

void PostgresDatabase::begin(std::string_view scope) {
    execute("BEGIN");
    try {
        if (scope.empty()) {
            execute(
                ("SELECT pg_advisory_xact_lock(" + std::to_string(kWriteLockKey) + ")").c_str());
        } else {
            // Shared against the everything-lock, exclusive within the scope.
            Statement(*this, "SELECT pg_advisory_xact_lock_shared(CAST(? AS BIGINT)), "
                             "pg_advisory_xact_lock(hashtextextended(?, 0))")
                .bind(1, std::int64_t{kWriteLockKey})
                .bind(2, scope)
                .run();
        }
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
