#include "accountstore.h"
#include "schema.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QTest>

#include <memory>

using namespace std::chrono_literals;

// Accounts: IDs without regard to case, only argon2 hashes stored, and the
// rules of a mailed password (works beside the old one until either is used,
// expires after a day).
class TestAccountStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void idsCompareWithoutCase();
    void storesOnlyArgon2Hashes();
    void signInChecksPassword_data();
    void signInChecksPassword();
    void mailedPasswordReplacesOldWhenUsed();
    void oldPasswordForgetsMailedOne();
    void mailedPasswordExpires();
    void changedPasswordForgetsMailedOne();
    void unknownIdsChangeNothing();

private:
    std::string storedHash(const char* column);

    TestEnvironment m_env;
    std::shared_ptr<ManualClock> m_clock;
    std::unique_ptr<Database> m_db;
    std::unique_ptr<PasswordHasher> m_hasher;
    std::unique_ptr<AccountStore> m_store;
};

void TestAccountStore::init() {
    const QString folder = m_env.makeFolder(QStringLiteral("accounts"));
    m_clock = std::make_shared<ManualClock>();
    m_db = openTestDatabase(folder.toStdString() + "/a.db");
    m_hasher = std::make_unique<PasswordHasher>(HashStrength::Minimum);
    m_store = std::make_unique<AccountStore>(*m_db, *m_hasher, m_clock);
    QVERIFY(m_store->create("Alice@Example.org", "first pw"));
}

void TestAccountStore::cleanup() {
    m_store.reset();
    m_db.reset();
}

std::string TestAccountStore::storedHash(const char* column) {
    auto guard = m_db->lock();
    Statement query(*m_db, (std::string("SELECT ") + column +
                            " FROM accounts WHERE uid_key = 'alice@example.org'")
                               .c_str());
    return query.step() && !query.isNull(0) ? query.text(0) : std::string();
}

void TestAccountStore::idsCompareWithoutCase() {
    QVERIFY(!m_store->create("ALICE@example.ORG", "other"));
    const auto found = m_store->find("alice@EXAMPLE.org");
    QVERIFY(found.has_value());
    QCOMPARE(found->key, std::string("alice@example.org"));
    QCOMPARE(found->userId, std::string("Alice@Example.org"));
    QVERIFY(m_store->signIn("aLiCe@example.org", "first pw").has_value());
    m_store->remove("ALICE@EXAMPLE.ORG");
    QVERIFY(!m_store->find("alice@example.org"));
}

void TestAccountStore::storesOnlyArgon2Hashes() {
    QVERIFY(m_store->setMailedPassword("alice@example.org", "mailed pw"));
    for (const char* column : {"password_hash", "pending_hash"}) {
        const std::string hash = storedHash(column);
        QVERIFY2(hash.starts_with("$argon2id$"), hash.c_str());
        QVERIFY(hash.find("first pw") == std::string::npos);
        QVERIFY(hash.find("mailed pw") == std::string::npos);
    }
}

void TestAccountStore::signInChecksPassword_data() {
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("right") << QByteArray("alice@example.org") << QByteArray("first pw") << true;
    QTest::newRow("wrong") << QByteArray("alice@example.org") << QByteArray("first") << false;
    QTest::newRow("other case") << QByteArray("alice@example.org") << QByteArray("FIRST PW")
                                << false;
    QTest::newRow("trailing blank")
        << QByteArray("alice@example.org") << QByteArray("first pw ") << false;
    QTest::newRow("empty") << QByteArray("alice@example.org") << QByteArray() << false;
    QTest::newRow("unknown id") << QByteArray("bob@example.org") << QByteArray("first pw") << false;
}

void TestAccountStore::signInChecksPassword() {
    QFETCH(QByteArray, id);
    QFETCH(QByteArray, password);
    QFETCH(bool, accepted);
    QCOMPARE(m_store->signIn(id.toStdString(), password.toStdString()).has_value(), accepted);
}

void TestAccountStore::mailedPasswordReplacesOldWhenUsed() {
    QVERIFY(m_store->setMailedPassword("alice@example.org", "mailed pw"));
    QVERIFY(m_store->signIn("alice@example.org", "mailed pw"));
    QVERIFY(!m_store->signIn("alice@example.org", "first pw"));
    QVERIFY(m_store->signIn("alice@example.org", "mailed pw"));
    QCOMPARE(storedHash("pending_hash"), std::string());
}

void TestAccountStore::oldPasswordForgetsMailedOne() {
    // A stranger asked for a new password; the owner signs in as usual.
    QVERIFY(m_store->setMailedPassword("alice@example.org", "mailed pw"));
    QVERIFY(m_store->signIn("alice@example.org", "first pw"));
    QVERIFY(!m_store->signIn("alice@example.org", "mailed pw"));
    QVERIFY(m_store->signIn("alice@example.org", "first pw"));
}

void TestAccountStore::mailedPasswordExpires() {
    QVERIFY(m_store->setMailedPassword("alice@example.org", "mailed pw"));
    m_clock->advance(23h);
    QVERIFY(m_store->setMailedPassword("alice@example.org", "second mail"));
    m_clock->advance(23h);
    QVERIFY(m_store->signIn("alice@example.org", "second mail"));

    QVERIFY(m_store->setMailedPassword("alice@example.org", "third mail"));
    m_clock->advance(24h + 1s);
    QVERIFY(!m_store->signIn("alice@example.org", "third mail"));
    QVERIFY(m_store->signIn("alice@example.org", "second mail"));
}

void TestAccountStore::changedPasswordForgetsMailedOne() {
    QVERIFY(m_store->setMailedPassword("alice@example.org", "mailed pw"));
    QVERIFY(m_store->setPassword("ALICE@example.org", "chosen pw"));
    QVERIFY(!m_store->signIn("alice@example.org", "mailed pw"));
    QVERIFY(!m_store->signIn("alice@example.org", "first pw"));
    QVERIFY(m_store->signIn("alice@example.org", "chosen pw"));
}

void TestAccountStore::unknownIdsChangeNothing() {
    QVERIFY(!m_store->setPassword("bob@example.org", "x"));
    QVERIFY(!m_store->setMailedPassword("bob@example.org", "x"));
    QVERIFY(!m_store->find("bob@example.org"));
}

QTEST_GUILESS_MAIN(TestAccountStore)
#include "tst_accountstore.moc"
