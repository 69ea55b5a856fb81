#include "accountstore.h"
#include "schema.h"
#include "sessionstore.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QTest>

#include "httpmessage.h"

#include <memory>

using namespace std::chrono_literals;

// Sessions: found from the cookie of a request, kept across a reopened
// database, stored only as hashes, ended by idleness, by a password change
// elsewhere and with the account.
class TestSessionStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void cookieValues_data();
    void cookieValues();
    void requestNamesItsUser();
    void unknownTokensNameNobody_data();
    void unknownTokensNameNobody();
    void survivesReopen();
    void tokenIsStoredOnlyAsHash();
    void endsAfterIdleTime();
    void useKeepsSessionAlive();
    void endOthersKeepsOnlyOne();
    void endsWithAccount();

private:
    void open();

    TestEnvironment m_env;
    std::string m_file;
    std::shared_ptr<ManualClock> m_clock;
    std::unique_ptr<Database> m_db;
    std::unique_ptr<PasswordHasher> m_hasher;
    std::unique_ptr<AccountStore> m_accounts;
    std::unique_ptr<SessionStore> m_sessions;
};

void TestSessionStore::open() {
    m_sessions.reset();
    m_accounts.reset();
    m_db.reset();
    m_db = openTestDatabase(m_file);
    m_accounts = std::make_unique<AccountStore>(*m_db, *m_hasher, m_clock);
    m_sessions = std::make_unique<SessionStore>(*m_db, m_clock);
}

void TestSessionStore::init() {
    m_file = m_env.makeFolder(QStringLiteral("sessions")).toStdString() + "/s.db";
    m_clock = std::make_shared<ManualClock>();
    m_hasher = std::make_unique<PasswordHasher>(HashStrength::Minimum);
    open();
    QVERIFY(m_accounts->create("Alice@Example.org", "pw"));
    QVERIFY(m_accounts->create("bob@example.org", "pw"));
}

void TestSessionStore::cleanup() {
    m_sessions.reset();
    m_accounts.reset();
    m_db.reset();
}

void TestSessionStore::cookieValues_data() {
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("none") << QStringList{} << QStringList{};
    QTest::newRow("alone") << QStringList{"CLIPSESSION=abc"} << QStringList{"abc"};
    QTest::newRow("among others") << QStringList{"a=1; CLIPSESSION=abc; b=2"} << QStringList{"abc"};
    QTest::newRow("blanks around") << QStringList{"  CLIPSESSION = abc ;x=y"} << QStringList{"abc"};
    QTest::newRow("quoted") << QStringList{"CLIPSESSION=\"abc\""} << QStringList{"abc"};
    QTest::newRow("two in one header")
        << QStringList{"CLIPSESSION=old; CLIPSESSION=new"} << QStringList{"old", "new"};
    QTest::newRow("two headers") << QStringList{"CLIPSESSION=one", "x=1; CLIPSESSION=two"}
                                 << QStringList{"one", "two"};
    QTest::newRow("name is a suffix only") << QStringList{"XCLIPSESSION=abc"} << QStringList{};
    QTest::newRow("name is a prefix only") << QStringList{"CLIPSESSIONX=abc"} << QStringList{};
    QTest::newRow("name in other case") << QStringList{"clipsession=abc"} << QStringList{};
    QTest::newRow("no value") << QStringList{"CLIPSESSION"} << QStringList{};
}

void TestSessionStore::cookieValues() {
    QFETCH(QStringList, headers);
    QFETCH(QStringList, values);
    HttpRequest request;
    for (const QString& header : headers)
        request.headers.emplace_back("Cookie", header.toStdString());
    QStringList found;
    for (const std::string& value : SessionStore::cookieValues(request, "CLIPSESSION"))
        found << QString::fromStdString(value);
    QCOMPARE(found, values);
}

void TestSessionStore::requestNamesItsUser() {
    const std::string token = m_sessions->start("alice@example.org");
    const std::string cookie = SessionStore::cookieFor(token);
    QVERIFY(cookie.starts_with("CLIPSESSION=" + token + ";"));
    QVERIFY(cookie.find("HttpOnly") != std::string::npos);
    QVERIFY(cookie.find("Path=/") != std::string::npos);

    HttpRequest request;
    // A stale cookie sent first must not hide the live one.
    request.headers.emplace_back("Cookie", "CLIPSESSION=0000; CLIPSESSION=" + token);
    const auto user = m_sessions->userOf(request);
    QVERIFY(user.has_value());
    QCOMPARE(user->key, std::string("alice@example.org"));
    QCOMPARE(user->userId, std::string("Alice@Example.org"));
    QVERIFY(!m_sessions->userOf(HttpRequest()).has_value());
}

void TestSessionStore::unknownTokensNameNobody_data() {
    QTest::addColumn<QByteArray>("token");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("made up") << QByteArray("0123456789abcdef");
    QTest::newRow("huge") << QByteArray(100000, 'a');
    QTest::newRow("SQL") << QByteArray("' OR 1=1 --");
}

void TestSessionStore::unknownTokensNameNobody() {
    QFETCH(QByteArray, token);
    m_sessions->start("alice@example.org");
    QVERIFY(!m_sessions->userOfToken(token.toStdString()).has_value());
}

void TestSessionStore::survivesReopen() {
    const std::string token = m_sessions->start("alice@example.org");
    open();
    const auto user = m_sessions->userOfToken(token);
    QVERIFY(user.has_value());
    QCOMPARE(user->key, std::string("alice@example.org"));
}

void TestSessionStore::tokenIsStoredOnlyAsHash() {
    const std::string token = m_sessions->start("alice@example.org");
    auto guard = m_db->lock();
    Statement query(*m_db, "SELECT token_hash FROM sessions");
    QVERIFY(query.step());
    QVERIFY(!query.text(0).empty());
    QVERIFY(query.text(0) != token);
    Statement search(*m_db, "SELECT COUNT(*) FROM sessions WHERE token_hash = ? OR "
                            "token_hash LIKE '%' || ? || '%'");
    search.bind(1, token).bind(2, token);
    QVERIFY(search.step());
    QCOMPARE(search.integer(0), 0);
}

void TestSessionStore::endsAfterIdleTime() {
    const std::string token = m_sessions->start("alice@example.org");
    m_clock->advance(SessionStore::kIdleLifetime - 1h);
    const std::string idle = m_sessions->start("bob@example.org");
    m_clock->advance(2h);
    QVERIFY(!m_sessions->userOfToken(token).has_value());
    QVERIFY(m_sessions->userOfToken(idle).has_value());
}

void TestSessionStore::useKeepsSessionAlive() {
    const std::string token = m_sessions->start("alice@example.org");
    for (int i = 0; i < 4; ++i) {
        m_clock->advance(SessionStore::kIdleLifetime / 2);
        QVERIFY2(m_sessions->userOfToken(token).has_value(), qPrintable(QString::number(i)));
    }
}

void TestSessionStore::endOthersKeepsOnlyOne() {
    const std::string kept = m_sessions->start("alice@example.org");
    const std::string other = m_sessions->start("alice@example.org");
    const std::string bobs = m_sessions->start("bob@example.org");
    m_sessions->endOthers(*m_sessions->userOfToken(kept));
    QVERIFY(m_sessions->userOfToken(kept).has_value());
    QVERIFY(!m_sessions->userOfToken(other).has_value());
    QVERIFY(m_sessions->userOfToken(bobs).has_value());
}

void TestSessionStore::endsWithAccount() {
    const std::string token = m_sessions->start("alice@example.org");
    m_accounts->remove("alice@example.org");
    QVERIFY(!m_sessions->userOfToken(token).has_value());
    QVERIFY(m_accounts->create("alice@example.org", "again"));
    QVERIFY(!m_sessions->userOfToken(token).has_value());
}

QTEST_GUILESS_MAIN(TestSessionStore)
#include "tst_sessionstore.moc"
