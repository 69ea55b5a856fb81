#include "database.h"
#include "schema.h"
#include "sqlitedatabase.h"
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

    TestEnvironment m_env;
    std::filesystem::path m_file;
};

void TestDatabase::init() {
    m_file = std::filesystem::path(m_env.makeFolder(QStringLiteral("db")).toStdString()) / "t.db";
}

bool TestDatabase::hasTable(Database& db, const char* name) {
    auto guard = db.lock();
    Statement query(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
    query.bind(1, name);
    return query.step();
}

void TestDatabase::serverSchemaIsComplete() {
    SqliteDatabase db(m_file, serverMigrations());
    QVERIFY(hasTable(db, "accounts"));
    QVERIFY(hasTable(db, "sessions"));
    auto guard = db.lock();
    QCOMPARE(db.schemaVersion(), serverMigrations().back().version);
    Statement mode(db, "PRAGMA journal_mode");
    QVERIFY(mode.step());
    QCOMPARE(mode.text(0), std::string("wal"));
}

void TestDatabase::stepsRunOnceEach() {
    // Running this step twice would fail: the table exists.
    const std::vector<Migration> steps = {{1, "CREATE TABLE once (a INTEGER)"}};
    { SqliteDatabase first(m_file, steps); }
    SqliteDatabase again(m_file, steps);
    auto guard = again.lock();
    QCOMPARE(again.schemaVersion(), 1);
}

void TestDatabase::laterStepsApplyOnNextOpen() {
    { SqliteDatabase v1(m_file, {{1, "CREATE TABLE a (x INTEGER)"}}); }
    SqliteDatabase v2(m_file,
                      {{1, "CREATE TABLE a (x INTEGER)"}, {2, "CREATE TABLE b (y INTEGER)"}});
    QVERIFY(hasTable(v2, "a"));
    QVERIFY(hasTable(v2, "b"));
    auto guard = v2.lock();
    QCOMPARE(v2.schemaVersion(), 2);
}

void TestDatabase::failedStepLeavesNoTrace() {
    { SqliteDatabase v1(m_file, {{1, "CREATE TABLE a (x INTEGER)"}}); }
    QVERIFY_THROWS_EXCEPTION(
        DatabaseError,
        SqliteDatabase(m_file,
                       {{1, "CREATE TABLE a (x INTEGER)"},
                        {2, "CREATE TABLE half (y INTEGER); SELECT nothing FROM nowhere;"}}));
    SqliteDatabase v1(m_file, {{1, "CREATE TABLE a (x INTEGER)"}});
    QVERIFY(!hasTable(v1, "half"));
    auto guard = v1.lock();
    QCOMPARE(v1.schemaVersion(), 1);
}

void TestDatabase::newerFileIsRefused() {
    {
        SqliteDatabase v2(m_file,
                          {{1, "CREATE TABLE a (x INTEGER)"}, {2, "CREATE TABLE b (y INTEGER)"}});
    }
    QVERIFY_THROWS_EXCEPTION(DatabaseError,
                             SqliteDatabase(m_file, {{1, "CREATE TABLE a (x INTEGER)"}}));
}

void TestDatabase::misnumberedStepsAreRefused() {
    QVERIFY_THROWS_EXCEPTION(DatabaseError,
                             SqliteDatabase(m_file, {{1, "SELECT 1"}, {3, "SELECT 1"}}));
}

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
