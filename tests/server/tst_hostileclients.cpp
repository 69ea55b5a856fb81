#include "rawsocket.h"
#include "serverprocess.h"
#include "service/uploadbody.h"
#include "uploadwire.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <sqlite3.h>

namespace {
const QString kAlice = QStringLiteral("alice@example.org");
const QString kBob = QStringLiteral("bob@example.org");

qint64 statusKiB(qint64 pid, const QByteArray& field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').front().toLongLong();
    return -1;
}

} // namespace

// A real clipnote-server against clients that dawdle, idle, flood or abuse
// the pages that need no sign-in: it keeps serving everyone else, cuts what
// never finishes, and its memory stays bounded.
class TestHostileClients : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void slowIdleAndFloodingConnectionsLeaveServiceServing();
    void headerFloodIsCutAndMemoryStaysBounded();
    void connectionsPerAddressAreBounded();
    void accountRequestBurstsAreLimited_data();
    void accountRequestBurstsAreLimited();
    void fullQueueRefusesUntilFetched();
    void unfetchedMessagesExpire();

private:
    bool startServer(const QStringList& extra, int accountRequestsPerClient = 100000);
    QByteArray post(const QByteArray& cookie, int number, const QByteArray& file = "video");
    void closeAll(QList<int>& sockets);

    std::unique_ptr<ServerProcess> m_server;
    QList<int> m_open;
};

bool TestHostileClients::startServer(const QStringList& extra, int accountRequestsPerClient) {
    m_server = std::make_unique<ServerProcess>();
    m_server->setExtraArguments(extra);
    m_server->setAccountRequestsPerClient(accountRequestsPerClient);
    if (!m_server->start()) {
        qWarning("%s", qPrintable(m_server->errorString()));
        return false;
    }
    return true;
}

void TestHostileClients::closeAll(QList<int>& sockets) {
    for (const int fd : sockets)
        ::close(fd);
    sockets.clear();
}

void TestHostileClients::cleanup() {
    closeAll(m_open);
    m_server.reset();
}

QByteArray TestHostileClients::post(const QByteArray& cookie, int number, const QByteArray& file) {
    const QString name = kBob + ';' + kAlice + ';' + QString::number(number);
    const QByteArray body = uploadBody(name, kAlice, kBob, file);
    return simpleHttpRequest(
               m_server->port(), "POST", "/zeb/post.asp",
               {"Content-Length: " + QByteArray::number(body.size()), "Cookie: " + cookie}, body)
        .body;
}

void TestHostileClients::slowIdleAndFloodingConnectionsLeaveServiceServing() {
    QVERIFY(startServer({QStringLiteral("--head-timeout"), QStringLiteral("2")}));
    const QString alicePassword = m_server->createAccount(kAlice);
    const QString bobPassword = m_server->createAccount(kBob);
    QList<int> slow;
    QList<int> idle;
    for (int i = 0; i < 100; ++i) {
        const int fd = connectToLoopback(m_server->port());
        QVERIFY(fd >= 0);
        const QByteArray start = "GET /zeb/login.asp HTTP/1.1\r\nHost: x\r\n";
        QVERIFY(::send(fd, start.constData(), size_t(start.size()), MSG_NOSIGNAL) > 0);
        slow << fd;
    }
    for (int i = 0; i < 300; ++i) {
        const int fd = connectToLoopback(m_server->port());
        QVERIFY(fd >= 0);
        idle << fd;
    }
    m_open << slow << idle;
    // Each slow client sends one more header line now and then, never the
    // end of its head.
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, [&slow] {
        for (const int fd : slow)
            ::send(fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL | MSG_DONTWAIT);
    });
    drip.start(300);

    // Meanwhile everyone else is served: sign in, post, fetch.
    const QByteArray alice = m_server->signIn(kAlice, alicePassword);
    QVERIFY(!alice.isEmpty());
    QCOMPARE(post(alice, 1), QByteArray("OK"));
    const QByteArray bob = m_server->signIn(kBob, bobPassword);
    QVERIFY(!bob.isEmpty());
    const SimpleHttpReply record =
        m_server->get("/zeb/download.asp?id=" + pageValue(kBob) + "&received=", bob);
    QCOMPARE(record.status, 200);
    QVERIFY(record.body.startsWith((kBob + ';' + kAlice + ";1").toUtf8()));

    // Heads that never end are cut at their deadline, idle ones too.
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(slow.cbegin(), slow.cend(), closedByServer), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(idle.cbegin(), idle.cend(), closedByServer), 30000);
    drip.stop();
}

void TestHostileClients::headerFloodIsCutAndMemoryStaysBounded() {
    QVERIFY(startServer({}));
    const qint64 before = statusKiB(m_server->processId(), "VmRSS");
    QVERIFY(before > 0);
    // Eight requests, each with a million header lines (about 16 MiB).
    QList<int> floods;
    const QByteArray lines = QByteArray("X-Flood: aaaaaa\r\n").repeated(4096);
    for (int i = 0; i < 8; ++i) {
        const int fd = connectToLoopback(m_server->port());
        QVERIFY(fd >= 0);
        ::send(fd, "GET /zeb/ad.asp HTTP/1.1\r\nHost: x\r\n", 35, MSG_NOSIGNAL);
        floods << fd;
    }
    m_open << floods;
    int refused = 0;
    for (const int fd : floods) {
        for (int sent = 0; sent < 1000000 / 4096; ++sent) {
            if (::send(fd, lines.constData(), size_t(lines.size()), MSG_NOSIGNAL) < 0)
                break;
        }
        QTRY_VERIFY_WITH_TIMEOUT(closedByServer(fd), 20000);
        ++refused;
    }
    QCOMPARE(refused, 8);
    const qint64 peak = statusKiB(m_server->processId(), "VmHWM");
    QVERIFY2(peak - before < 64 * 1024,
             qPrintable(QStringLiteral("%1 KiB before, %2 KiB at the peak").arg(before).arg(peak)));
    // And it still answers.
    QCOMPARE(m_server->get("/zeb/ad.asp").status, 200);
}

void TestHostileClients::connectionsPerAddressAreBounded() {
    QVERIFY(startServer({QStringLiteral("--max-connections-per-address"), QStringLiteral("20")}));
    QList<int> many;
    for (int i = 0; i < 30; ++i) {
        const int fd = connectToLoopback(m_server->port());
        QVERIFY(fd >= 0);
        many << fd;
    }
    m_open << many;
    // The kernel takes every connection; the server closes those beyond 20.
    QTRY_COMPARE_WITH_TIMEOUT(std::count_if(many.cbegin(), many.cend(), closedByServer), 10, 10000);
    closeAll(m_open);
    // Once they are gone, the address is served again.
    QTRY_COMPARE_WITH_TIMEOUT(m_server->get("/zeb/ad.asp").status, 200, 10000);
}

void TestHostileClients::accountRequestBurstsAreLimited_data() {
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<bool>("oneAddress");
    QTest::addColumn<int>("perClient");
    QTest::addColumn<int>("mostAccepted");
    // One e-mail address: a small burst, then one a minute.
    QTest::newRow("password mails for one address") << QByteArray("pwmail") << true << 100000 << 4;
    // One client address: its own burst, whatever the addresses.
    QTest::newRow("accounts for many addresses from one client")
        << QByteArray("reg") << false << 5 << 5;
}

void TestHostileClients::accountRequestBurstsAreLimited() {
    QFETCH(QByteArray, page);
    QFETCH(bool, oneAddress);
    QFETCH(int, perClient);
    QFETCH(int, mostAccepted);
    QVERIFY(startServer({}, perClient));
    if (oneAddress)
        QVERIFY(!m_server->createAccount(kBob).isEmpty());
    const int mailsBefore = QDir(m_server->mailDir()).entryList(QDir::Files).size();
    int accepted = 0;
    int refused = 0;
    for (int i = 0; i < 40; ++i) {
        const QString uid = oneAddress ? kBob : QStringLiteral("user%1@example.org").arg(i);
        const QByteArray reply = m_server->get("/zeb/" + page + ".asp?UID=" + pageValue(uid)).body;
        if (reply.startsWith("OK"))
            ++accepted;
        else if (reply.startsWith("Too many requests"))
            ++refused;
    }
    QVERIFY2(accepted >= 1 && accepted <= mostAccepted, qPrintable(QString::number(accepted)));
    QCOMPARE(accepted + refused, 40);
    const int mails = QDir(m_server->mailDir()).entryList(QDir::Files).size() - mailsBefore;
    QVERIFY(mails <= accepted);
}

void TestHostileClients::fullQueueRefusesUntilFetched() {
    QVERIFY(startServer({QStringLiteral("--queue-limit-files"), QStringLiteral("2")}));
    const QByteArray alice = m_server->signIn(kAlice, m_server->createAccount(kAlice));
    const QByteArray bob = m_server->signIn(kBob, m_server->createAccount(kBob));
    QCOMPARE(post(alice, 1), QByteArray("OK"));
    QCOMPARE(post(alice, 2), QByteArray("OK"));
    const QByteArray full = post(alice, 3);
    QVERIFY2(full.startsWith("INVALID: The queue of " + kBob.toUtf8() + " is full"), full);
    // A repeat of a message already waiting is still taken: it is not queued twice.
    QCOMPARE(post(alice, 2), QByteArray("OK"));
    // Once bob has fetched one, there is room again.
    const QByteArray first =
        m_server->get("/zeb/download.asp?id=" + pageValue(kBob) + "&received=", bob).body;
    QVERIFY(first.startsWith((kBob + ';' + kAlice + ";1").toUtf8()));
    m_server->get("/zeb/download.asp?id=" + pageValue(kBob) +
                      "&received=" + pageValue(kBob + ';' + kAlice + ";1"),
                  bob);
    QCOMPARE(post(alice, 3), QByteArray("OK"));
}

void TestHostileClients::unfetchedMessagesExpire() {
    QVERIFY(startServer({QStringLiteral("--expire-days"), QStringLiteral("1")}));
    const QByteArray alice = m_server->signIn(kAlice, m_server->createAccount(kAlice));
    const QByteArray bob = m_server->signIn(kBob, m_server->createAccount(kBob));
    QCOMPARE(post(alice, 1), QByteArray("OK"));
    QCOMPARE(post(alice, 2), QByteArray("OK"));
    QVERIFY(m_server->stop());
    // The first has waited two days, the second a few hours.
    sqlite3* db = nullptr;
    const QByteArray file = (m_server->dataDir() + QStringLiteral("/clipnote.db")).toLocal8Bit();
    QCOMPARE(sqlite3_open(file.constData(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db,
                          "UPDATE messages SET arrived_at = arrived_at - 2 * 86400 WHERE name LIKE "
                          "'%;1'; UPDATE messages SET arrived_at = arrived_at - 5 * 3600 WHERE "
                          "name LIKE '%;2';",
                          nullptr, nullptr, nullptr),
             SQLITE_OK);
    sqlite3_close(db);
    QVERIFY(m_server->restart());
    const QStringList files =
        QDir(m_server->dataDir() + QStringLiteral("/messages")).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    const QByteArray record =
        m_server->get("/zeb/download.asp?id=" + pageValue(kBob) + "&received=", bob).body;
    QVERIFY(record.startsWith((kBob + ';' + kAlice + ";2").toUtf8()));
}

QTEST_GUILESS_MAIN(TestHostileClients)
#include "tst_hostileclients.moc"
