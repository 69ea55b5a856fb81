#include "database.h"
#include "schema.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QTest>

#include <filesystem>

// Opening the database and stepping its schema forward: each step once, in
// order, all or nothing, and never a file from a newer program.
class TestDatabase : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void serverSchemaIsComplete();
    void stepsRunOnceEach();
    void laterStepsApplyOnNextOpen();
    void failedStepLeavesNoTrace();
    void newerFileIsRefused();
    void misnumberedStepsAreRefused();

private:
    static bool hasTable(Database& db, const char* name);
    // The database of this case with these steps: the SQLite file, or its
    // PostgreSQL database when the run goes against PostgreSQL.
    std::unique_ptr<Database> open(const std::vector<Migration>& steps) const;

    TestEnvironment m_env;
    std::filesystem::path m_file;
};

void TestDatabase::init() {
    m_file = std::filesystem::path(m_env.makeFolder(QStringLiteral("db")).toStdString()) / "t.db";
}

bool TestDatabase::hasTable(Database& db, const char* name) {
    auto guard = db.lock();
    Statement query(db, db.kind() == Database::Kind::Sqlite
                            ? "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"
                            : "SELECT 1 FROM information_schema.tables WHERE table_name = ?");
    query.bind(1, name);
    return query.step();
}

std::unique_ptr<Database> TestDatabase::open(const std::vector<Migration>& steps) const {
    return openTestDatabase(m_file.string(), steps, steps);
}

void TestDatabase::serverSchemaIsComplete() {
    const auto db =
        open(PostgresCluster::testsUsePostgres() ? serverPostgresMigrations() : serverMigrations());
    for (const char* table : {"accounts", "sessions", "messages", "delivered", "message_bodies"})
        QVERIFY2(hasTable(*db, table), table);
    auto guard = db->lock();
    QCOMPARE(db->schemaVersion(), serverMigrations().back().version);
    QCOMPARE(serverPostgresMigrations().back().version, serverMigrations().back().version);
    if (db->kind() == Database::Kind::Sqlite) {
        Statement mode(*db, "PRAGMA journal_mode");
        QVERIFY(mode.step());
        QCOMPARE(mode.text(0), std::string("wal"));
    }
}

void TestDatabase::stepsRunOnceEach() {
    // Running this step twice would fail: the table exists.
    const std::vector<Migration> steps = {{1, "CREATE TABLE once (a INTEGER)"}};
    open(steps);
    const auto again = open(steps);
    auto guard = again->lock();
    QCOMPARE(again->schemaVersion(), 1);
}

void TestDatabase::laterStepsApplyOnNextOpen() {
    open({{1, "CREATE TABLE a (x INTEGER)"}});
    const auto v2 = open({{1, "CREATE TABLE a (x INTEGER)"}, {2, "CREATE TABLE b (y INTEGER)"}});
    QVERIFY(hasTable(*v2, "a"));
    QVERIFY(hasTable(*v2, "b"));
    auto guard = v2->lock();
    QCOMPARE(v2->schemaVersion(), 2);
}

void TestDatabase::failedStepLeavesNoTrace() {
    open({{1, "CREATE TABLE a (x INTEGER)"}});
    QVERIFY_THROWS_EXCEPTION(
        DatabaseError, open({{1, "CREATE TABLE a (x INTEGER)"},
                             {2, "CREATE TABLE half (y INTEGER); SELECT nothing FROM nowhere;"}}));
    const auto v1 = open({{1, "CREATE TABLE a (x INTEGER)"}});
    QVERIFY(!hasTable(*v1, "half"));
    auto guard = v1->lock();
    QCOMPARE(v1->schemaVersion(), 1);
}

void TestDatabase::newerFileIsRefused() {
    open({{1, "CREATE TABLE a (x INTEGER)"}, {2, "CREATE TABLE b (y INTEGER)"}});
    QVERIFY_THROWS_EXCEPTION(DatabaseError, open({{1, "CREATE TABLE a (x INTEGER)"}}));
}

void TestDatabase::misnumberedStepsAreRefused() {
    QVERIFY_THROWS_EXCEPTION(DatabaseError, open({{1, "SELECT 1"}, {3, "SELECT 1"}}));
}

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
