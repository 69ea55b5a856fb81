#include "serverprocess.h"
#include "service/uploadbody.h"
#include "testdatabase.h"
#include "uploadwire.h"

#include <QDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <limits>
#include <optional>

// Delivery with confirmed receipt on a real clipnote-server: a message stays
// waiting until the client names it as filed, whatever happens to the
// replies before; an older client's message goes once its whole reply was
// acknowledged; a message posted again is delivered once.
class TestConfirmedReceipt : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void brokenDownloadKeepsMessage_data();
    void brokenDownloadKeepsMessage();
    void olderClientRetiresOnlyWholeReplies_data();
    void olderClientRetiresOnlyWholeReplies();
    void confirmation_data();
    void confirmation();
    void repeatedPostIsDeliveredOnce_data();
    void repeatedPostIsDeliveredOnce();

private:
    static QByteArray patterned(int size, int seed);
    static QByteArray uploadBody(const QString& name, const QByteArray& file);
    QByteArray post(const QString& name, const QByteArray& file) const;
    // A download by bob; received is left out of the query when absent.
    SimpleHttpReply fetch(const std::optional<QString>& received) const;
    // The name field of a reply, or its text when it holds no record.
    static QByteArray nameOf(const SimpleHttpReply& reply);
    QStringList messageFiles() const;
    // Asks for bob's next message as a confirming client, reads `bytes` of
    // the reply and goes away.
    void downloadAndHangUp(int bytes) const;
    // Bob's downloads one after the other on one kept-alive connection, so
    // each is over on the server before the next begins; each request's
    // extra header lines are given with it. The bodies of the replies.
    QList<QByteArray> downloadsInTurn(const QList<QPair<QByteArray, QByteArray>>& requests) const;

    std::unique_ptr<ServerProcess> m_server;
    QByteArray m_alice;
    QByteArray m_bob;
};

namespace {
const QString kAlice = QStringLiteral("alice@example.org");
const QString kBob = QStringLiteral("bob@example.org");
const QString kFirst = QStringLiteral("bob@example.org;alice@example.org;1");
const QString kSecond = QStringLiteral("bob@example.org;alice@example.org;2");
constexpr int kRecordFieldBytes = 287;
} // namespace

void TestConfirmedReceipt::init() {
    m_server = std::make_unique<ServerProcess>();
    QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    m_alice = m_server->signIn(kAlice, m_server->createAccount(kAlice));
    m_bob = m_server->signIn(kBob, m_server->createAccount(kBob));
    QVERIFY(!m_alice.isEmpty() && !m_bob.isEmpty());
}

void TestConfirmedReceipt::cleanup() {
    m_server.reset();
}

QByteArray TestConfirmedReceipt::patterned(int size, int seed) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + seed) & 0xff);
    return bytes;
}

QByteArray TestConfirmedReceipt::uploadBody(const QString& name, const QByteArray& file) {
    return ::uploadBody(name, name.section(';', 1, 1), name.section(';', 0, 0), file);
}

QByteArray TestConfirmedReceipt::post(const QString& name, const QByteArray& file) const {
    const QByteArray body = uploadBody(name, file);
    return simpleHttpRequest(
               m_server->port(), "POST", "/zeb/post.asp",
               {"Content-Length: " + QByteArray::number(body.size()), "Cookie: " + m_alice}, body)
        .body;
}

SimpleHttpReply TestConfirmedReceipt::fetch(const std::optional<QString>& received) const {
    QByteArray target = "/zeb/download.asp?id=" + pageValue(kBob);
    if (received)
        target += "&received=" + pageValue(*received);
    return m_server->get(target, m_bob);
}

QByteArray TestConfirmedReceipt::nameOf(const SimpleHttpReply& reply) {
    if (reply.body.startsWith("ERROR"))
        return "ERROR";
    return reply.body.left(qMin(reply.body.indexOf('\0'), 255));
}

QStringList TestConfirmedReceipt::messageFiles() const {
    return storedMessageBodies(*m_server);
}

void TestConfirmedReceipt::downloadAndHangUp(int bytes) const {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(m_server->port());
    QCOMPARE(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const QByteArray request = "GET /zeb/download.asp?id=" + pageValue(kBob) +
                               "&received= HTTP/1.1\r\nHost: x\r\nCookie: " + m_bob + "\r\n\r\n";
    QCOMPARE(::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL),
             ssize_t(request.size()));
    // Negative: the whole reply, as far as its Content-Length says.
    QByteArray got;
    qsizetype wanted = bytes < 0 ? std::numeric_limits<qsizetype>::max() : bytes;
    char buffer[4096];
    while (got.size() < wanted) {
        pollfd p{fd, POLLIN, 0};
        QVERIFY(::poll(&p, 1, 10000) > 0);
        const qsizetype room = qMin<qsizetype>(sizeof buffer, wanted - got.size());
        const ssize_t n = ::recv(fd, buffer, size_t(room), 0);
        QVERIFY(n > 0);
        got.append(buffer, n);
        const qsizetype headEnd = got.indexOf("\r\n\r\n");
        if (bytes < 0 && headEnd > 0) {
            const QByteArray head = got.left(headEnd).toLower();
            const qsizetype at = head.indexOf("content-length:");
            QVERIFY(at > 0);
            wanted = headEnd + 4 +
                     head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
        }
    }
    // Unread bytes make the close a reset, as when the client dies.
    ::close(fd);
}

void TestConfirmedReceipt::brokenDownloadKeepsMessage_data() {
    QTest::addColumn<int>("readBytes");
    const int size = 300 * 1024;
    QTest::newRow("hang up at once") << 0;
    QTest::newRow("hang up after 100 bytes") << 100;
    QTest::newRow("hang up after half") << (kRecordFieldBytes + size) / 2;
    // The reply arrived whole, but the client died before filing it.
    QTest::newRow("hang up after all of it") << -1;
}

void TestConfirmedReceipt::brokenDownloadKeepsMessage() {
    QFETCH(int, readBytes);
    const QByteArray file = patterned(300 * 1024, 7);
    QCOMPARE(post(kFirst, file), QByteArray("OK"));
    downloadAndHangUp(readBytes);
    const SimpleHttpReply reply = fetch(QString());
    QCOMPARE(nameOf(reply), kFirst.toLatin1());
    // The file as uploaded: with the zeros of its last block.
    QVERIFY(reply.body.mid(kRecordFieldBytes) == file + QByteArray(1024, '\0'));
    QCOMPARE(nameOf(fetch(kFirst)), QByteArray("ERROR"));
    QVERIFY(messageFiles().isEmpty());
}

QList<QByteArray>
TestConfirmedReceipt::downloadsInTurn(const QList<QPair<QByteArray, QByteArray>>& requests) const {
    QList<QByteArray> bodies;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(m_server->port());
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return bodies;
    QByteArray raw;
    for (const auto& [query, extra] : requests) {
        const QByteArray request = "GET /zeb/download.asp?id=" + pageValue(kBob) + query +
                                   " HTTP/1.1\r\nHost: x\r\nCookie: " + m_bob + "\r\n" + extra +
                                   "\r\n";
        if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) !=
            ssize_t(request.size()))
            break;
        qsizetype end = -1;
        char buffer[65536];
        while (true) {
            const qsizetype headEnd = raw.indexOf("\r\n\r\n");
            if (headEnd > 0) {
                const QByteArray head = raw.left(headEnd).toLower();
                const qsizetype at = head.indexOf("content-length:") + 15;
                end =
                    headEnd + 4 + head.mid(at, head.indexOf('\r', at) - at).trimmed().toLongLong();
                if (raw.size() >= end)
                    break;
            }
            pollfd p{fd, POLLIN, 0};
            const ssize_t n =
                ::poll(&p, 1, 10000) > 0 ? ::recv(fd, buffer, sizeof buffer, 0) : ssize_t(0);
            if (n <= 0)
                break;
            raw.append(buffer, n);
        }
        if (end < 0 || raw.size() < end)
            break;
        bodies << raw.mid(raw.indexOf("\r\n\r\n") + 4, end - raw.indexOf("\r\n\r\n") - 4);
        raw.remove(0, end);
    }
    ::close(fd);
    return bodies;
}

void TestConfirmedReceipt::olderClientRetiresOnlyWholeReplies_data() {
    QTest::addColumn<QByteArray>("extra");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QString>("next");
    const int whole = kRecordFieldBytes + 301 * 1024;
    QTest::newRow("whole reply") << QByteArray() << whole << kSecond;
    QTest::newRow("range of the first bytes")
        << QByteArray("Range: bytes=0-99\r\n") << 100 << kFirst;
    QTest::newRow("range of the last bytes")
        << QByteArray("Range: bytes=-100\r\n") << 100 << kFirst;
}

void TestConfirmedReceipt::olderClientRetiresOnlyWholeReplies() {
    QFETCH(QByteArray, extra);
    QFETCH(int, bytes);
    QFETCH(QString, next);
    QCOMPARE(post(kFirst, patterned(300 * 1024, 3)), QByteArray("OK"));
    QCOMPARE(post(kSecond, patterned(1024, 4)), QByteArray("OK"));
    const QList<QByteArray> bodies = downloadsInTurn({{"", extra}, {"&received=", ""}});
    QCOMPARE(bodies.size(), 2);
    QCOMPARE(bodies[0].size(), bytes);
    QCOMPARE(bodies[1].left(next.size()), next.toLatin1());
}

void TestConfirmedReceipt::confirmation_data() {
    QTest::addColumn<QStringList>("received");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("bobsLeft");
    QTest::newRow("never confirmed") << QStringList{"", ""} << QStringList{kFirst, kFirst} << 2;
    QTest::newRow("confirmed one by one")
        << QStringList{"", kFirst, kSecond} << QStringList{kFirst, kSecond, "ERROR"} << 0;
    QTest::newRow("confirmed twice")
        << QStringList{kFirst, kFirst} << QStringList{kSecond, kSecond} << 1;
    QTest::newRow("unknown name") << QStringList{"bob@example.org;alice@example.org;99",
                                                 "no;such;thing%+&="}
                                  << QStringList{kFirst, kFirst} << 2;
    QTest::newRow("other letter case")
        << QStringList{kFirst.toUpper()} << QStringList{kSecond} << 1;
    QTest::newRow("someone else's message")
        << QStringList{"alice@example.org;bob@example.org;9"} << QStringList{kFirst} << 2;
    QTest::newRow("second before first")
        << QStringList{kSecond, ""} << QStringList{kFirst, kFirst} << 1;
}

void TestConfirmedReceipt::confirmation() {
    QFETCH(QStringList, received);
    QFETCH(QStringList, expected);
    QFETCH(int, bobsLeft);
    QCOMPARE(post(kFirst, "1"), QByteArray("OK"));
    QCOMPARE(post(kSecond, "2"), QByteArray("OK"));
    // Bob's confirmations never reach a message for alice.
    const QByteArray body = uploadBody("alice@example.org;bob@example.org;9", "9");
    QCOMPARE(simpleHttpRequest(
                 m_server->port(), "POST", "/zeb/post.asp",
                 {"Content-Length: " + QByteArray::number(body.size()), "Cookie: " + m_bob}, body)
                 .body,
             QByteArray("OK"));
    for (qsizetype i = 0; i < received.size(); ++i) {
        const SimpleHttpReply reply = fetch(received[i]);
        QCOMPARE(reply.status, 200);
        QCOMPARE(nameOf(reply), expected[i].toLatin1());
    }
    QCOMPARE(messageFiles().size(), bobsLeft + 1);
}

void TestConfirmedReceipt::repeatedPostIsDeliveredOnce_data() {
    QTest::addColumn<bool>("deliverFirst");
    QTest::addColumn<bool>("restart");
    QTest::addColumn<QString>("repeatedAs");
    QTest::newRow("first still waiting") << false << false << kFirst;
    QTest::newRow("first delivered") << true << false << kFirst;
    QTest::newRow("first delivered, server crashed") << true << true << kFirst;
    QTest::newRow("first waiting, server crashed") << false << true << kFirst;
    QTest::newRow("other letter case") << true << false << kFirst.toUpper();
}

void TestConfirmedReceipt::repeatedPostIsDeliveredOnce() {
    QFETCH(bool, deliverFirst);
    QFETCH(bool, restart);
    QFETCH(QString, repeatedAs);
    QCOMPARE(post(kFirst, patterned(5000, 1)), QByteArray("OK"));
    if (deliverFirst) {
        QCOMPARE(nameOf(fetch(QString())), kFirst.toLatin1());
        QCOMPARE(nameOf(fetch(kFirst)), QByteArray("ERROR"));
    }
    if (restart) {
        m_server->kill();
        QVERIFY2(m_server->restart(), qPrintable(m_server->errorString()));
    }
    QCOMPARE(post(repeatedAs, patterned(5000, 2)), QByteArray("OK"));
    QCOMPARE(post(kSecond, "2"), QByteArray("OK"));
    QStringList delivered;
    QString last;
    while (true) {
        const QByteArray name = nameOf(fetch(last));
        if (name == "ERROR")
            break;
        QVERIFY2(delivered.size() < 3, qPrintable(delivered.join(' ')));
        last = QString::fromLatin1(name);
        delivered << last;
    }
    const QStringList expected = deliverFirst ? QStringList{kSecond} : QStringList{kFirst, kSecond};
    QCOMPARE(delivered, expected);
    QVERIFY(messageFiles().isEmpty());
}

QTEST_GUILESS_MAIN(TestConfirmedReceipt)
#include "tst_confirmedreceipt.moc"
