// Two clipnote-server processes on one PostgreSQL database act as one
// service: a session made on one is good on the other, a waiter on one hears
// of a message posted through the other, and clients racing for one
// recipient's messages through both get each message once, none skipped.
#include "postgrescluster.h"
#include "serverprocess.h"
#include "uploadwire.h"

#include <QDeadlineTimer>
#include <QSet>
#include <QTest>

#include <atomic>
#include <mutex>
#include <thread>

class TestTwoServers : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void sessionsAndArrivalsCrossOver();
    void racingDownloadsHandEachMessageOnce();

private:
    static SimpleHttpReply post(const ServerProcess& server, const QByteArray& body,
                                const QByteArray& cookie);

    std::unique_ptr<ServerProcess> m_a;
    std::unique_ptr<ServerProcess> m_b;
    const QString m_alice = QStringLiteral("alice@example.org");
    const QString m_bob = QStringLiteral("bob@example.org");
    QString m_alicePassword;
    QString m_bobPassword;
};

void TestTwoServers::init() {
    if (!PostgresCluster::testsUsePostgres())
        QSKIP("several servers share a PostgreSQL database only");
    m_a = std::make_unique<ServerProcess>();
    QVERIFY2(m_a->start(), qPrintable(m_a->errorString()));
    m_b = std::make_unique<ServerProcess>();
    m_b->shareDatabaseWith(*m_a);
    QVERIFY2(m_b->start(), qPrintable(m_b->errorString()));
    m_alicePassword = m_a->createAccount(m_alice);
    m_bobPassword = m_b->createAccount(m_bob);
    QVERIFY(!m_alicePassword.isEmpty());
    QVERIFY(!m_bobPassword.isEmpty());
}

void TestTwoServers::cleanup() {
    m_b.reset();
    m_a.reset();
}

SimpleHttpReply TestTwoServers::post(const ServerProcess& server, const QByteArray& body,
                                     const QByteArray& cookie) {
    return simpleHttpRequest(
        server.port(), "POST", "/zeb/post.asp",
        {"Cookie: " + cookie, "Content-Length: " + QByteArray::number(body.size())}, body);
}

void TestTwoServers::sessionsAndArrivalsCrossOver() {
    // Alice signs in through A and posts through B.
    const QByteArray alice = m_a->signIn(m_alice, m_alicePassword);
    QVERIFY(!alice.isEmpty());
    const QByteArray bob = m_b->signIn(m_bob, m_bobPassword);
    // Bob waits on A, the message goes in through B.
    SimpleHttpReply waited;
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        waited = m_a->get("/zeb/wait.asp?id=" + pageValue(m_bob) + "&timeout=25", bob);
        done = true;
    });
    const QString name = m_bob + QLatin1Char(';') + m_alice + QStringLiteral(";1");
    // The wait may not have reached A yet: posting again is answered "OK"
    // and queued once, so the post repeats until the waiter has its answer.
    QDeadlineTimer deadline(20000);
    bool answered = false;
    while (!deadline.hasExpired() && !answered) {
        QCOMPARE(post(*m_b, uploadBody(name, m_alice, m_bob, "hello"), alice).body,
                 QByteArray("OK"));
        answered = QTest::qWaitFor([&] { return done.load(); }, 500);
    }
    waiter.join();
    QCOMPARE(waited.body, QByteArray("OK"));
    const SimpleHttpReply record =
        m_a->get("/zeb/download.asp?id=" + pageValue(m_bob) + "&received=", bob);
    QVERIFY(record.body.startsWith(name.toUtf8()));
    QVERIFY(
        m_b->get("/zeb/download.asp?id=" + pageValue(m_bob) + "&received=" + pageValue(name), bob)
            .body.startsWith("ERROR"));
}

void TestTwoServers::racingDownloadsHandEachMessageOnce() {
    const QByteArray alice = m_a->signIn(m_alice, m_alicePassword);
    const QByteArray bob = m_a->signIn(m_bob, m_bobPassword);
    constexpr int kMessages = 30;
    QSet<QByteArray> posted;
    for (int i = 0; i < kMessages; ++i) {
        const QString name =
            m_bob + QLatin1Char(';') + m_alice + QLatin1Char(';') + QString::number(1000 + i);
        QCOMPARE(post(i % 2 ? *m_a : *m_b, uploadBody(name, m_alice, m_bob, "m"), alice).body,
                 QByteArray("OK"));
        posted.insert(name.toUtf8());
    }
    // Clients that do not confirm, as older ones, through both servers at
    // once: a reply retires its message once it is acknowledged.
    std::mutex mutex;
    QList<QByteArray> received;
    // Each stops once nothing waits any more: a message another client
    // holds comes back to the queue if its reply fails, so "nothing" is only
    // final when everything has been received or the time is up.
    const QDeadlineTimer deadline(60000);
    const auto fetchAll = [&](const ServerProcess& server) {
        while (!deadline.hasExpired()) {
            const SimpleHttpReply reply =
                server.get("/zeb/download.asp?id=" + pageValue(m_bob), bob);
            std::lock_guard lock(mutex);
            if (reply.status == 200 && !reply.body.startsWith("ERROR"))
                received.append(reply.body.left(reply.body.indexOf('\0')));
            else if (received.size() >= kMessages)
                return;
        }
    };
    std::thread throughA(fetchAll, std::cref(*m_a));
    std::thread throughB(fetchAll, std::cref(*m_b));
    throughA.join();
    throughB.join();
    QCOMPARE(received.size(), kMessages);
    QCOMPARE(QSet<QByteArray>(received.begin(), received.end()), posted);
}

QTEST_GUILESS_MAIN(TestTwoServers)
#include "tst_twoservers.moc"
