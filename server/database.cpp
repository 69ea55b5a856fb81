#include "database.h"

#include "postgresdatabase.h"
#include "sqlitedatabase.h"

int Database::schemaVersion() {
    Statement query(*this, "SELECT version FROM schema_version");
    return query.step() ? static_cast<int>(query.integer(0)) : 0;
}

void Database::migrate(const std::vector<Migration>& migrations) {
    auto guard = lock();
    execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
    const int newest = migrations.empty() ? 0 : migrations.back().version;
    int expected = 1;
    for (const Migration& step : migrations)
        if (step.version != expected++)
            throw DatabaseError("schema steps are not numbered 1, 2, 3 ...");
    for (const Migration& step : migrations) {
        Transaction transaction(*this);
        holdMigrationLock();
        // Read inside the lock: another process may have stepped meanwhile.
        const int current = schemaVersion();
        if (current > newest)
            throw DatabaseError("the database has schema version " + std::to_string(current) +
                                ", newer than this program knows (" + std::to_string(newest) + ")");
        if (step.version <= current)
            continue;
        execute(step.sql);
        Statement(*this, "DELETE FROM schema_version").run();
        Statement(*this, "INSERT INTO schema_version (version) VALUES (?)")
            .bind(1, std::int64_t{step.version})
            .run();
        transaction.commit();
    }
    if (migrations.empty() && schemaVersion() > 0)
        throw DatabaseError("the database has a schema this program does not know");
}

std::unique_ptr<Database> openDatabase(const std::string& url,
                                       const std::filesystem::path& defaultFile,
                                       const std::vector<Migration>& sqliteSteps,
                                       const std::vector<Migration>& postgresSteps,
                                       int connections) {
    if (url.empty())
        return std::make_unique<SqliteDatabase>(defaultFile, sqliteSteps);
    if (url.starts_with("sqlite:")) {
        const std::string path = url.substr(7);
        if (path.empty())
            throw DatabaseError("sqlite: needs a file, as in sqlite:/var/lib/clipnote/clipnote.db");
        return std::make_unique<SqliteDatabase>(path, sqliteSteps);
    }
    if (url.starts_with("postgresql://") || url.starts_with("postgres://"))
        return std::make_unique<PostgresDatabase>(url, postgresSteps, connections);
    throw DatabaseError("the database must be sqlite:PATH or postgresql://...");
}

Statement::Statement(Database& db, const char* sql) : m_backend(db.prepare(sql)) {}

Statement& Statement::bind(int index, std::string_view text) {
    m_backend->bindText(index, text);
    return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
    m_backend->bindInteger(index, value);
    return *this;
}

Statement& Statement::bindBytes(int index, std::string_view bytes) {
    m_backend->bindBytes(index, bytes);
    return *this;
}

Statement& Statement::bindNull(int index) {
    m_backend->bindNull(index);
    return *this;
}

void Statement::run() {
    while (step()) {
    }
}

Transaction::Transaction(Database& db, std::string_view scope) : m_db(db) {
    m_db.begin(scope);
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
