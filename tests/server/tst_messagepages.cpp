#include "platform/alert.h"
#include "serverprocess.h"
#include "service/httpshared.h"
#include "service/messagepageclient.h"
#include "service/messagerecord.h"
#include "service/pagesession.h"
#include "service/serviceaddress.h"
#include "service/uploadbody.h"
#include "testdatabase.h"
#include "testenvironment.h"
#include "uploadwire.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// The message pages of a real clipnote-server: uploads accepted or refused
// with their reasons, records handed out oldest first, retired only after
// the client confirmed them (or, for a client that does not confirm, after
// its machine acknowledged the whole reply), and the data folder cleaned of
// what was delivered.
class TestMessagePages : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void roundTripThroughClient();
    void clientShowsRefusalOfLargeUpload();
    void recordShape();
    void refusedUploads_data();
    void refusedUploads();
    void largeDeclaredBodyIsRefusedUnread_data();
    void largeDeclaredBodyIsRefusedUnread();
    void downloadErrors_data();
    void downloadErrors();
    void oldestFirst();
    void interruptedDeliveryLeavesMessageWaiting();
    void acceptedUploadSurvivesCrash();
    void leftoversAreSweptAtStart();

private:
    static QByteArray patterned(int size);
    SimpleHttpReply post(const QByteArray& body, const QByteArray& cookie,
                         const QList<QByteArray>& extra = {}) const;
    SimpleHttpReply fetch(const QString& uid, const QByteArray& cookie) const;
    QStringList messageFiles() const;
    // Reads the first bytes of a download reply, then drops the connection
    // with a reset, as a client that dies midway does.
    void readPartlyAndReset(const QString& uid, const QByteArray& cookie, int bytes) const;

    TestEnvironment m_env;
    std::unique_ptr<ServerProcess> m_server;
    QByteArray m_alice;
    QByteArray m_bob;
    const QString m_aliceId = QStringLiteral("alice@example.org");
    const QString m_bobId = QStringLiteral("bob@example.org");
    QString m_alicePassword;
    QString m_bobPassword;
};

void TestMessagePages::initTestCase() {
    QVERIFY(http::initialise());
}

void TestMessagePages::cleanupTestCase() {
    http::cleanup();
}

void TestMessagePages::init() {
    m_server = std::make_unique<ServerProcess>();
    QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    m_alicePassword = m_server->createAccount(m_aliceId);
    m_bobPassword = m_server->createAccount(m_bobId);
    m_alice = m_server->signIn(m_aliceId, m_alicePassword);
    m_bob = m_server->signIn(m_bobId, m_bobPassword);
    QVERIFY(!m_alice.isEmpty() && !m_bob.isEmpty());
}

void TestMessagePages::cleanup() {
    m_server.reset();
}

QByteArray TestMessagePages::patterned(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + 5) & 0xff);
    return bytes;
}

SimpleHttpReply TestMessagePages::post(const QByteArray& body, const QByteArray& cookie,
                                       const QList<QByteArray>& extra) const {
    QList<QByteArray> headers{"Content-Length: " + QByteArray::number(body.size())};
    if (!cookie.isEmpty())
        headers << "Cookie: " + cookie;
    headers << extra;
    return simpleHttpRequest(m_server->port(), "POST", "/zeb/post.asp", headers, body);
}

SimpleHttpReply TestMessagePages::fetch(const QString& uid, const QByteArray& cookie) const {
    return m_server->get("/zeb/download.asp?id=" + pageValue(uid), cookie);
}

QStringList TestMessagePages::messageFiles() const {
    return storedMessageBodies(*m_server);
}

void TestMessagePages::readPartlyAndReset(const QString& uid, const QByteArray& cookie,
                                          int bytes) const {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // A small receive window keeps the server's writes waiting on this
    // client instead of filling a large buffer.
    int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(m_server->port());
    QCOMPARE(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const QByteArray request = "GET /zeb/download.asp?id=" + pageValue(uid) +
                               " HTTP/1.1\r\nHost: x\r\nCookie: " + cookie + "\r\n\r\n";
    QCOMPARE(::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL),
             ssize_t(request.size()));
    int got = 0;
    char buffer[1024];
    while (got < bytes) {
        pollfd p{fd, POLLIN, 0};
        QVERIFY(::poll(&p, 1, 10000) > 0);
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        QVERIFY(n > 0);
        got += int(n);
    }
    linger reset{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(fd);
}

void TestMessagePages::roundTripThroughClient() {
    PageSession pages;
    pages.setServiceBase(m_server->baseUrl());
    pages.OpenSession();
    QString reply;
    QCOMPARE(pages.FetchPage(
                 "127.0.0.1",
                 pagePath("zeb/login.asp", {{"UID", m_aliceId}, {"PW", m_alicePassword}}), reply),
             0);
    QVERIFY(reply.startsWith("OK"));

    const QString name = QStringLiteral("bob@example.org;alice@example.org;4711");
    const QByteArray video = patterned(5000);
    const QString file = m_env.makeFolder("outbox") + QLatin1Char('/') + name;
    QVERIFY(writeFile(file, video));
    MessagePageClient transfer(m_server->baseUrl());
    QCOMPARE(transfer.UploadMessage(file, name, m_aliceId, m_bobId, QString()), 1);
    QCOMPARE(messageFiles().size(), 1);

    QCOMPARE(pages.FetchPage("127.0.0.1",
                             pagePath("zeb/login.asp", {{"UID", m_bobId}, {"PW", m_bobPassword}}),
                             reply),
             0);
    const QString target = m_env.makeFolder("tmp-bob") + QStringLiteral("/vnin.dat");
    const QDateTime before = QDateTime::currentDateTime().addSecs(-5);
    QCOMPARE(transfer.DownloadMessage(target, m_bobId), 1);
    QFile record(target);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const MessageRecord fields = readMessageRecord(record);
    QVERIFY(fields.isValid());
    QCOMPARE(fields.name, name);
    QVERIFY2(fields.date.isValid(), fields.dateText.constData());
    QVERIFY(fields.date >= before && fields.date <= QDateTime::currentDateTime().addSecs(5));
    // The bytes as uploaded: the file and the zeros of its last block.
    QCOMPARE(record.readAll(), video + QByteArray(5120 - 5000, '\0'));

    // Until the client confirms it, the same message comes again.
    QCOMPARE(transfer.DownloadMessage(target, m_bobId), 1);
    QCOMPARE(transfer.DownloadMessage(target, m_bobId, fields.name), 0);
    QVERIFY(QFile::exists(target));
    QVERIFY(messageFiles().isEmpty());
}

void TestMessagePages::clientShowsRefusalOfLargeUpload() {
    PageSession pages;
    pages.setServiceBase(m_server->baseUrl());
    pages.OpenSession();
    QString reply;
    pages.FetchPage("127.0.0.1",
                    pagePath("zeb/login.asp", {{"UID", m_aliceId}, {"PW", m_alicePassword}}),
                    reply);
    QVERIFY(reply.startsWith("OK"));
    // A password change elsewhere ends the client's session.
    const QByteArray other = m_server->signIn(m_aliceId, m_alicePassword);
    QCOMPARE(m_server->get("/zeb/chgpw.asp?UID=" + pageValue(m_aliceId) + "&PW=new", other).body,
             QByteArray("OK"));

    QStringList alerts;
    setAlertHandler([&](const QString& text, const QString&, AlertIcon) { alerts << text; });
    const QString name = QStringLiteral("bob@example.org;alice@example.org;8");
    const QString file = m_env.makeFolder("outbox-large") + QLatin1Char('/') + name;
    QVERIFY(writeFile(file, patterned(3 << 20)));
    MessagePageClient transfer(m_server->baseUrl());
    const TransferResult result = transfer.upload(file, name, m_aliceId, m_bobId, QString());
    setAlertHandler({});
    // The refusal was read although the body was not taken; it is left to the
    // worker, which signs in again, so no box shows it.
    QCOMPARE(int(result.outcome), int(TransferResult::Outcome::SessionGone));
    QVERIFY(alerts.isEmpty());
    QVERIFY(messageFiles().isEmpty());
}

void TestMessagePages::recordShape() {
    const QByteArray file = patterned(2048);
    QCOMPARE(post(uploadBody("bob@example.org;alice@example.org;1.jpg", m_aliceId, m_bobId, file),
                  m_alice)
                 .body,
             QByteArray("OK"));
    const SimpleHttpReply reply = fetch(m_bobId, m_bob);
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.header("Content-Length").toLongLong(), 287 + 3072);
    QCOMPARE(reply.body.size(), 287 + 3072);
    const QByteArray name = "bob@example.org;alice@example.org;1.jpg";
    QCOMPARE(reply.body.left(name.size()), name);
    QCOMPARE(reply.body.mid(name.size(), 255 - name.size()), QByteArray(255 - name.size(), '\0'));
    const QByteArray date = reply.body.mid(255, 32);
    const QByteArray dateText = date.left(date.indexOf('\0'));
    static const QRegularExpression shape(
        QStringLiteral("^\\d{1,2}/\\d{1,2}/\\d{4} \\d{1,2}:\\d{2}:\\d{2} (AM|PM)$"));
    QVERIFY2(shape.match(QString::fromLatin1(dateText)).hasMatch(), dateText.constData());
    QCOMPARE(date.mid(dateText.size()), QByteArray(32 - dateText.size(), '\0'));
    QCOMPARE(reply.body.mid(287), file + QByteArray(1024, '\0'));
}

void TestMessagePages::refusedUploads_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("who");
    QTest::addColumn<QString>("reason");
    const QString name = QStringLiteral("bob@example.org;alice@example.org;1");
    const QByteArray file = patterned(1500);
    const QByteArray good = uploadBody(name, "alice@example.org", "bob@example.org", file);
    QTest::newRow("not signed in") << good << "nobody"
                                   << "not signed in";
    QTest::newRow("sender is someone else")
        << uploadBody("bob@example.org;bob@example.org;1", "bob@example.org", "bob@example.org",
                      file)
        << "alice"
        << "only send messages as the user ID you are signed in with";
    QTest::newRow("sender of the other session")
        << good << "bob"
        << "only send messages as the user ID you are signed in with";
    QTest::newRow("unknown recipient") << uploadBody("carol@example.org;alice@example.org;1",
                                                     "alice@example.org", "carol@example.org", file)
                                       << "alice"
                                       << "carol@example.org is not a registered user ID";
    QTest::newRow("recipient that is no user ID")
        << uploadBody("bob;alice@example.org;1", "alice@example.org", "bob", file) << "alice"
        << "The recipient is not a registered user ID";
    QTest::newRow("short header") << good.left(700) << "alice"
                                  << "1024-byte header";
    QTest::newRow("unterminated header") << QByteArray(1024, 'x') + file.left(1024) << "alice"
                                         << "header is malformed";
    QByteArray overlong = good;
    overlong.replace(128, 0, "xx"); // the name runs two bytes into the sender
    QTest::newRow("field past its width") << overlong.left(good.size()) << "alice"
                                          << "header is malformed";
    QTest::newRow("name climbing out") << uploadBody("bob@example.org;alice@example.org;../../x",
                                                     "alice@example.org", "bob@example.org", file)
                                       << "alice"
                                       << "message name";
    QTest::newRow("name with a slash") << uploadBody("bob@example.org;alice@example.org/1",
                                                     "alice@example.org", "bob@example.org", file)
                                       << "alice"
                                       << "message name";
    QTest::newRow("name with a backslash")
        << uploadBody("bob@example.org;alice@example.org;..\\1", "alice@example.org",
                      "bob@example.org", file)
        << "alice"
        << "message name";
    QTest::newRow("name naming another sender")
        << uploadBody("bob@example.org;mallory@example.org;1", "alice@example.org",
                      "bob@example.org", file)
        << "alice"
        << "message name";
    QTest::newRow("name without stamp") << uploadBody("bob@example.org;alice@example.org",
                                                      "alice@example.org", "bob@example.org", file)
                                        << "alice"
                                        << "message name";
    QTest::newRow("header without a file") << good.left(1024) << "alice"
                                           << "holds no message";
}

void TestMessagePages::refusedUploads() {
    QFETCH(QByteArray, body);
    QFETCH(QString, who);
    QFETCH(QString, reason);
    const QByteArray cookie = who == "alice" ? m_alice : who == "bob" ? m_bob : QByteArray();
    const SimpleHttpReply reply = post(body, cookie);
    QCOMPARE(reply.status, 200);
    QVERIFY2(reply.body.startsWith("INVALID"), reply.body.constData());
    QVERIFY2(reply.body.contains(reason.toUtf8()), reply.body.constData());
    // The client shows the first 127 bytes: the reason must fit.
    QVERIFY(reply.body.size() <= 127);
    QVERIFY(messageFiles().isEmpty());
    QVERIFY(fetch(m_bobId, m_bob).body.startsWith("ERROR"));
}

void TestMessagePages::largeDeclaredBodyIsRefusedUnread_data() {
    QTest::addColumn<QByteArray>("cookieOf");
    QTest::addColumn<bool>("expectContinue");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("too large, asking to continue")
        << QByteArray("alice") << true << QByteArray("too large: at most 64 MiB");
    QTest::newRow("too large, body announced only")
        << QByteArray("alice") << false << QByteArray("too large: at most 64 MiB");
    QTest::newRow("not signed in, asking to continue")
        << QByteArray() << true << QByteArray("not signed in");
    QTest::newRow("not signed in, large body announced only")
        << QByteArray() << false << QByteArray("not signed in");
}

void TestMessagePages::largeDeclaredBodyIsRefusedUnread() {
    QFETCH(QByteArray, cookieOf);
    QFETCH(bool, expectContinue);
    QFETCH(QByteArray, reason);
    // 70 MiB are announced and none is sent: the answer must come anyway.
    QList<QByteArray> headers{"Content-Length: " + QByteArray::number(70 << 20)};
    if (!cookieOf.isEmpty())
        headers << "Cookie: " + m_alice;
    if (expectContinue)
        headers << "Expect: 100-continue";
    const SimpleHttpReply reply =
        simpleHttpRequest(m_server->port(), "POST", "/zeb/post.asp", headers, QByteArray(), 5000);
    QCOMPARE(reply.status, 200);
    QVERIFY2(reply.body.startsWith("INVALID") && reply.body.contains(reason),
             reply.body.constData());
    // Framed by exactly one length, so a client stops reading at its end.
    int lengths = 0;
    for (const auto& [name, value] : reply.headers) {
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            ++lengths;
            QCOMPARE(value.toLongLong(), reply.body.size());
        }
    }
    QCOMPARE(lengths, 1);
    QVERIFY(messageFiles().isEmpty());
}

void TestMessagePages::downloadErrors_data() {
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QByteArray>("cookieOf");
    QTest::newRow("nothing waits") << "bob@example.org" << QByteArray("bob");
    QTest::newRow("no session") << "bob@example.org" << QByteArray();
    QTest::newRow("someone else's messages") << "bob@example.org" << QByteArray("alice");
    QTest::newRow("no id") << "" << QByteArray("bob");
}

void TestMessagePages::downloadErrors() {
    QFETCH(QString, uid);
    QFETCH(QByteArray, cookieOf);
    if (QByteArray(QTest::currentDataTag()) != "nothing waits") {
        // Something waits for bob, but this caller may not have it.
        QCOMPARE(post(uploadBody("bob@example.org;alice@example.org;1", m_aliceId, m_bobId, "v"),
                      m_alice)
                     .body,
                 QByteArray("OK"));
    }
    const QByteArray cookie = cookieOf == "alice" ? m_alice : cookieOf == "bob" ? m_bob : "";
    const SimpleHttpReply reply = fetch(uid, cookie);
    QCOMPARE(reply.status, 200);
    QVERIFY2(reply.body.startsWith("ERROR"), reply.body.constData());
    // A refused caller takes nothing away.
    QCOMPARE(messageFiles().size(), QByteArray(QTest::currentDataTag()) == "nothing waits" ? 0 : 1);
}

void TestMessagePages::oldestFirst() {
    for (const char* stamp : {"1", "2", "3"}) {
        const QString name = QStringLiteral("bob@example.org;alice@example.org;") + stamp;
        QCOMPARE(post(uploadBody(name, m_aliceId, m_bobId, stamp), m_alice).body, QByteArray("OK"));
    }
    // A message for alice is not bob's to fetch.
    QCOMPARE(post(uploadBody("alice@example.org;bob@example.org;9", m_bobId, m_aliceId, "a"), m_bob)
                 .body,
             QByteArray("OK"));
    for (const char* stamp : {"1", "2", "3"}) {
        const SimpleHttpReply reply = fetch(m_bobId, m_bob);
        QCOMPARE(reply.body.left(reply.body.indexOf('\0')),
                 QByteArray("bob@example.org;alice@example.org;") + stamp);
    }
    QVERIFY(fetch(m_bobId, m_bob).body.startsWith("ERROR"));
    QVERIFY(fetch(m_aliceId, m_alice).body.startsWith("alice@example.org;bob@example.org;9"));
}

void TestMessagePages::interruptedDeliveryLeavesMessageWaiting() {
    const QByteArray big = patterned(20 << 20);
    QCOMPARE(
        post(uploadBody("bob@example.org;alice@example.org;7", m_aliceId, m_bobId, big), m_alice)
            .body,
        QByteArray("OK"));
    readPartlyAndReset(m_bobId, m_bob, 64 * 1024);
    // Once the server has noticed the broken connection, the same message is
    // handed out again, whole.
    SimpleHttpReply reply;
    const QDeadlineTimer deadline(60000);
    do {
        reply = fetch(m_bobId, m_bob);
        if (!reply.body.startsWith("ERROR"))
            break;
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    QVERIFY(reply.body.startsWith("bob@example.org;alice@example.org;7"));
    QCOMPARE(reply.body.size(), 287 + (20 << 20) + 1024);
    QCOMPARE(reply.body.mid(287, big.size()), big);
    QTRY_VERIFY(messageFiles().isEmpty());
    QVERIFY(fetch(m_bobId, m_bob).body.startsWith("ERROR"));
}

void TestMessagePages::acceptedUploadSurvivesCrash() {
    QCOMPARE(
        post(uploadBody("bob@example.org;alice@example.org;5", m_aliceId, m_bobId, patterned(3000)),
             m_alice)
            .body,
        QByteArray("OK"));
    m_server->kill();
    QVERIFY2(m_server->restart(), qPrintable(m_server->errorString()));
    const SimpleHttpReply reply = fetch(m_bobId, m_bob);
    QVERIFY(reply.body.startsWith("bob@example.org;alice@example.org;5"));
    QCOMPARE(reply.body.mid(287, 3000), patterned(3000));
}

void TestMessagePages::leftoversAreSweptAtStart() {
    if (!m_server->databaseUrl().isEmpty())
        QSKIP("the message folder's leftovers; on PostgreSQL the bodies live in the database");
    QCOMPARE(
        post(uploadBody("bob@example.org;alice@example.org;1", m_aliceId, m_bobId, "1"), m_alice)
            .body,
        QByteArray("OK"));
    const QStringList first = messageFiles();
    QCOMPARE(first.size(), 1);
    QCOMPARE(
        post(uploadBody("bob@example.org;alice@example.org;2", m_aliceId, m_bobId, "2"), m_alice)
            .body,
        QByteArray("OK"));
    QStringList files = messageFiles();
    QCOMPARE(files.size(), 2);
    QVERIFY(m_server->stop());
    // What a crash can leave: a half-received upload, the file of a message
    // whose entry was already retired, and an entry whose file is gone.
    const QString folder = m_server->dataDir() + QStringLiteral("/messages/");
    QVERIFY(QFile::remove(folder + first.first()));
    files.removeOne(first.first());
    QVERIFY(writeFile(folder + QStringLiteral(".incoming-abc123"), "half"));
    QVERIFY(writeFile(folder + QStringLiteral("m0123456789abcdef0123456789abcdef"), "retired"));
    QVERIFY2(m_server->restart(), qPrintable(m_server->errorString()));
    QCOMPARE(messageFiles(), files);
    // The message that lost its file is gone; the other one still comes.
    const SimpleHttpReply reply = fetch(m_bobId, m_bob);
    QVERIFY(reply.body.startsWith("bob@example.org;alice@example.org;2"));
    QVERIFY(fetch(m_bobId, m_bob).body.startsWith("ERROR"));
    QTRY_VERIFY(messageFiles().isEmpty());
}

QTEST_GUILESS_MAIN(TestMessagePages)
#include "tst_messagepages.moc"
