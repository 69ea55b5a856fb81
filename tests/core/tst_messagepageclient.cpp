#include "platform/alert.h"
#include "scriptedserver.h"
#include "service/httpshared.h"
#include "service/messagepageclient.h"
#include "service/pagesession.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <atomic>

#include <thread>

// Upload and download on the wire, against scripted replies: the exact body
// of an upload, how its reply is judged, and how a download's reply becomes
// a record on disk or nothing at all.
class TestMessagePageClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void uploadWire_data();
    void uploadWire();
    void uploadHeaderOnWire();
    void uploadRequestShape();
    void uploadPresentsSessionCookie();
    void uploadReplies_data();
    void uploadReplies();
    void uploadWithoutFileSendsNothing_data();
    void uploadWithoutFileSendsNothing();
    void uploadToNobody();
    void uploadProgress();

    void downloadRequestShape_data();
    void downloadRequestShape();
    void downloadRecords_data();
    void downloadRecords();
    void downloadFailures_data();
    void downloadFailures();
    void downloadReadsInPieces();
    void downloadReplacesStaleTarget();
    void downloadKeepsStaleTargetOnFailure();
    void downloadStalledReplyGivesUp();
    void downloadIntoMissingFolder();

    void waitOutcomes_data();
    void waitOutcomes();

private:
    static QByteArray bodyOf(const QByteArray& request);
    static QByteArray patterned(int size);
    QString makeFile(const QString& name, const QByteArray& bytes) const;
    void verifyNoWorkingFile() const;

    TestEnvironment m_env;
    QString m_dir;
    QString m_target;
    QStringList m_alerts;
};

void TestMessagePageClient::initTestCase() {
    QVERIFY(http::initialise());
    setAlertHandler([this](const QString& text, const QString&, AlertIcon) { m_alerts << text; });
}

void TestMessagePageClient::cleanupTestCase() {
    setAlertHandler({});
    http::cleanup();
}

void TestMessagePageClient::init() {
    static int round = 0;
    m_dir = m_env.makeFolder(QStringLiteral("case%1").arg(++round));
    m_target = m_dir + QStringLiteral("/vnin.dat");
    m_alerts.clear();
}

void TestMessagePageClient::cleanup() {
    verifyNoWorkingFile();
}

void TestMessagePageClient::verifyNoWorkingFile() const {
    QVERIFY2(!QFile::exists(m_target + QLatin1Char('~')), "the working file was left behind");
}

QByteArray TestMessagePageClient::bodyOf(const QByteArray& request) {
    const qsizetype end = request.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : request.mid(end + 4);
}

QByteArray TestMessagePageClient::patterned(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + 7) & 0xff);
    return bytes;
}

QString TestMessagePageClient::makeFile(const QString& name, const QByteArray& bytes) const {
    const QString path = m_dir + QLatin1Char('/') + name;
    writeFile(path, bytes);
    return path;
}

void TestMessagePageClient::uploadWire_data() {
    QTest::addColumn<int>("fileLength");
    QTest::addColumn<int>("bodyLength");
    QTest::newRow("empty file: header and a block of zeros") << 0 << 2048;
    QTest::newRow("1024 bytes: header, the file, a block of zeros") << 1024 << 3072;
    QTest::newRow("1500 bytes: last block padded") << 1500 << 3072;
    QTest::newRow("three blocks and a bit") << 3100 << 5120;
}

void TestMessagePageClient::uploadWire() {
    QFETCH(int, fileLength);
    QFETCH(int, bodyLength);
    const QByteArray file = patterned(fileLength);
    const QString path = makeFile(QStringLiteral("bob;alice;1"), file);
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "text/plain", "OK"));
    MessagePageClient transfer(server.baseUrl());
    QCOMPARE(transfer.UploadMessage(path, "bob;alice;1", "alice", "bob", QString()), 1);

    const QByteArray body = bodyOf(server.requests().value(0));
    QCOMPARE(body.size(), bodyLength);
    QCOMPARE(body.left(1024), uploadHeaderBlock("bob;alice;1", "alice", "bob", QString()));
    QCOMPARE(body.mid(1024, fileLength), file);
    QCOMPARE(body.mid(1024 + fileLength), QByteArray(bodyLength - 1024 - fileLength, '\0'));
    // The file is sent, not moved or deleted.
    QCOMPARE(readFile(path), file);
}

void TestMessagePageClient::uploadHeaderOnWire() {
    const QString path = makeFile(QStringLiteral("m"), "x");
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "text/plain", "OK"));
    MessagePageClient transfer(server.baseUrl());
    const QString name = QStringLiteral("bob;alice;1234567890"); // 20 characters
    const QString longId = QString(300, QLatin1Char('b'));
    QCOMPARE(transfer.UploadMessage(path, name, "alice", longId, QString()), 1);
    const QByteArray header = bodyOf(server.requests().value(0)).left(1024);
    QCOMPARE(header.left(20), name.toUtf8());
    QCOMPARE(header.mid(20, 108), QByteArray(108, ' '));
    QCOMPARE(header.mid(128, 5), QByteArray("alice"));
    QCOMPARE(header.mid(383, 255), QByteArray(255, 'b'));
    QCOMPARE(header.mid(638, 255), QByteArray(255, ' '));
    QCOMPARE(header.mid(893), QByteArray(131, '\0'));
}

void TestMessagePageClient::uploadRequestShape() {
    const QString path = makeFile(QStringLiteral("m"), patterned(1500));
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "text/plain", "OK"));
    MessagePageClient transfer(server.baseUrl());
    transfer.UploadMessage(path, "m", "a", "b", QString());
    const QByteArray request = server.requests().value(0);
    QVERIFY2(request.startsWith("POST /zeb/post.asp HTTP/1.1\r\n"), request.left(80).constData());
    QVERIFY(request.contains("\r\nUser-Agent: HttpSendRequestEx\r\n"));
    QVERIFY(request.contains("\r\nContent-Length: 3072\r\n"));
    QVERIFY(!request.toLower().contains("content-type"));
}

void TestMessagePageClient::uploadPresentsSessionCookie() {
    ScriptedServer server;
    server.enqueue(
        ScriptedServer::http(200, "text/plain", "OK", {"Set-Cookie: CLIPSESSION=t0ken; Path=/"}));
    server.enqueue(ScriptedServer::http(200, "text/plain", "OK"));
    server.enqueue(ScriptedServer::http(200, "text/plain", "ERROR"));
    PageSession pages;
    pages.setServiceBase(server.baseUrl());
    pages.OpenSession();
    QString reply;
    QCOMPARE(pages.FetchPage("127.0.0.1", "zeb/login.asp?UID=a&PW=b", reply), 0);

    MessagePageClient transfer(server.baseUrl());
    QCOMPARE(transfer.UploadMessage(makeFile("m", "x"), "m", "a", "b", QString()), 1);
    QCOMPARE(transfer.DownloadMessage(m_target, "a"), 0);
    QVERIFY(server.requests().value(1).contains("\r\nCookie: CLIPSESSION=t0ken\r\n"));
    QVERIFY(server.requests().value(2).contains("\r\nCookie: CLIPSESSION=t0ken\r\n"));
}

void TestMessagePageClient::uploadReplies_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QStringList>("boxes");
    const int done = int(TransferResult::Outcome::Done);
    const int failed = int(TransferResult::Outcome::Failed);
    const int refused = int(TransferResult::Outcome::Refused);
    QTest::newRow("OK") << QByteArray("OK") << done << QString() << QStringList();
    QTest::newRow("OK followed by anything")
        << QByteArray("OK, stored as 17\r\n") << done << QString() << QStringList();
    QTest::newRow("lower-case ok") << QByteArray("ok") << failed << QString() << QStringList();
    QTest::newRow("empty") << QByteArray() << failed << QString() << QStringList();
    QTest::newRow("other text") << QByteArray("Thanks") << failed << QString() << QStringList();
    QTest::newRow("INVALID shown") << QByteArray("INVALID: bob@example.org is not registered.")
                                   << refused << "bob@example.org is not registered."
                                   << QStringList{"INVALID: bob@example.org is not registered."};
    QTest::newRow("INVALID without a reason")
        << QByteArray("INVALID") << refused << "The service refused the message."
        << QStringList{"INVALID"};
    QTest::newRow("INVALID in its first 127-byte piece only")
        << QByteArray("INVALID ") + QByteArray(200, 'w') << refused
        << QString(119, QLatin1Char('w'))
        << QStringList{"INVALID " + QString(92, QLatin1Char('w')) + "\n" +
                       QString(27, QLatin1Char('w'))};
    QTest::newRow("INVALID piece ends at zero byte")
        << QByteArray("INVALID: no\0secret", 18) << refused << "no" << QStringList{"INVALID: no"};
    QTest::newRow("OK in the second piece")
        << QByteArray(127, '-') + "OK" << done << QString() << QStringList();
    QTest::newRow("INVALID then OK")
        << QByteArray("INVALID later") + QByteArray(114, ' ') + "OK" << done << QString()
        << QStringList{"INVALID later" + QString(87, ' ') + "\n" + QString(27, ' ')};
    // Signing in again is the caller's remedy: no box.
    QTest::newRow("no session") << QByteArray("INVALID: You are not signed in.")
                                << int(TransferResult::Outcome::SessionGone) << QString()
                                << QStringList();
}

void TestMessagePageClient::uploadReplies() {
    QFETCH(QByteArray, reply);
    QFETCH(int, outcome);
    QFETCH(QString, reason);
    QFETCH(QStringList, boxes);
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "text/plain", reply));
    MessagePageClient transfer(server.baseUrl());
    const TransferResult result = transfer.upload(makeFile("m", "x"), "m", "a", "b", QString());
    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(result.reason, reason);
    QCOMPARE(m_alerts, boxes);
}

void TestMessagePageClient::uploadWithoutFileSendsNothing_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("missing file") << "no-such-file";
    QTest::newRow("a folder") << ".";
    QTest::newRow("empty path") << "";
}

void TestMessagePageClient::uploadWithoutFileSendsNothing() {
    QFETCH(QString, path);
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "text/plain", "OK"));
    MessagePageClient transfer(server.baseUrl());
    const QString full = path.isEmpty() ? path : m_dir + QLatin1Char('/') + path;
    QCOMPARE(transfer.UploadMessage(full, "m", "a", "b", QString()), 0);
    server.stop();
    QCOMPARE(server.connectionCount(), 0);
    QVERIFY(m_alerts.isEmpty());
}

void TestMessagePageClient::uploadToNobody() {
    MessagePageClient transfer(QStringLiteral("http://127.0.0.1:%1/").arg(closedLoopbackPort()));
    QCOMPARE(transfer.UploadMessage(makeFile("m", "x"), "m", "a", "b", QString()), 0);
    QCOMPARE(transfer.DownloadMessage(m_target, "a"), 0);
    QVERIFY(!QFile::exists(m_target));
}

void TestMessagePageClient::uploadProgress() {
    struct Progress : UploadProgress {
        QList<int> calls;
        void setRange(int lower, int upper) override { calls << -100 - lower << -upper; }
        void setPosition(int position) override { calls << position; }
    } progress;
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "text/plain", "OK"));
    MessagePageClient transfer(server.baseUrl());
    QCOMPARE(
        transfer.UploadMessage(makeFile("m", patterned(2100)), "m", "a", "b", QString(), &progress),
        1);
    // Position 0, range 0 to 4 blocks, a position per file block, then the
    // upper bound.
    QCOMPARE(progress.calls, (QList<int>{0, -100, -4, 1, 2, 3, 4}));
}

void TestMessagePageClient::downloadRequestShape_data() {
    QTest::addColumn<QString>("received");
    QTest::addColumn<QByteArray>("query");
    QTest::newRow("nothing to confirm") << QString() << QByteArray("&received=");
    QTest::newRow("a thumbnail to confirm")
        << "bob+x@example.org;Carol & Co;-12.jpg"
        << QByteArray("&received=bob%2Bx%40example.org%3BCarol%20%26%20Co%3B-12.jpg");
}

void TestMessagePageClient::downloadRequestShape() {
    QFETCH(QString, received);
    QFETCH(QByteArray, query);
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "text/plain", "ERROR"));
    MessagePageClient transfer(server.baseUrl());
    QCOMPARE(transfer.DownloadMessage(m_target, "bob+x@example.org", received), 0);
    const QByteArray request = server.requests().value(0);
    QVERIFY2(request.startsWith("GET /zeb/download.asp?id=bob%2Bx%40example.org" + query +
                                " HTTP/1.1\r\n"),
             request.left(160).constData());
    QVERIFY(request.contains("\r\nUser-Agent: HttpSendRequestEx\r\n"));
    QVERIFY(request.contains("\r\nAccept: */*\r\n"));
}

void TestMessagePageClient::downloadRecords_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("stored");
    const QByteArray record = patterned(3000);
    QTest::newRow("3000 bytes with Content-Length")
        << ScriptedServer::http(200, "application/octet-stream", record).raw << record;
    QTest::newRow("no Content-Length, read to the end")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n") + record
        << record;
    QTest::newRow("chunked") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                           "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n")
                             << QByteArray("hello world");
    QByteArray errorInside = patterned(2048);
    errorInside.replace(1024, 5, "ERROR");
    QTest::newRow("ERROR inside the data is data")
        << ScriptedServer::http(200, "application/octet-stream", errorInside).raw << errorInside;
    QTest::newRow("body shorter than the mark")
        << ScriptedServer::http(200, "text/plain", "ERR").raw << QByteArray("ERR");
}

void TestMessagePageClient::downloadRecords() {
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, stored);
    ScriptedServer server;
    server.enqueue(ScriptedServer::raw(reply));
    // A working file an earlier run left open to others.
    QVERIFY(writeFile(m_target + "~", "stale"));
    QVERIFY(QFile::setPermissions(m_target + "~", QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ReadOther | QFile::ReadGroup));
    MessagePageClient transfer(server.baseUrl());
    QCOMPARE(transfer.DownloadMessage(m_target, "bob"), 1);
    QCOMPARE(readFile(m_target), stored);
    // A message is the user's alone.
    QCOMPARE(QFileInfo(m_target).permissions() & (QFile::ReadGroup | QFile::ReadOther),
             QFileDevice::Permissions());
}

void TestMessagePageClient::downloadFailures_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("cutAfter");
    const QByteArray record =
        ScriptedServer::http(200, "application/octet-stream", patterned(3000)).raw;
    QTest::newRow("ERROR") << ScriptedServer::http(200, "text/plain", "ERROR").raw << -1;
    QTest::newRow("ERROR with a reason")
        << ScriptedServer::http(200, "text/plain", "ERROR: nothing waits").raw << -1;
    QTest::newRow("empty body") << ScriptedServer::http(200, "text/plain", "").raw << -1;
    QTest::newRow("body ends before its Content-Length") << record << int(record.size() - 1500);
    QTest::newRow("no reply at all") << QByteArray() << -1;
    QTest::newRow("not found page")
        << ScriptedServer::http(404, "text/plain", QByteArray(400, 'p')).raw << -1;
    QTest::newRow("server error page")
        << ScriptedServer::http(500, "text/html", patterned(3000)).raw << -1;
    QTest::newRow("chunked reply broken off")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n400\r\n") +
               patterned(300)
        << -1;
}

void TestMessagePageClient::downloadFailures() {
    QFETCH(QByteArray, reply);
    QFETCH(int, cutAfter);
    ScriptedServer server;
    ScriptedServer::Reply r = ScriptedServer::raw(reply);
    r.cutAfterBytes = cutAfter;
    server.enqueue(r);
    MessagePageClient transfer(server.baseUrl());
    transfer.setStallTimeoutMs(2000);
    QCOMPARE(transfer.DownloadMessage(m_target, "bob"), 0);
    QVERIFY(!QFile::exists(m_target));
}

void TestMessagePageClient::downloadReadsInPieces() {
    const QByteArray record = patterned(3000);
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "application/octet-stream", record));
    MessagePageClient transfer(server.baseUrl());
    QCOMPARE(transfer.DownloadMessage(m_target, "bob"), 1);
    const MessagePageClient::ReadCounts reads = transfer.lastDownloadReads();
    QVERIFY2(reads.largestRead <= 1024, qPrintable(QString::number(reads.largestRead)));
    QVERIFY(reads.reads >= 3);
    QCOMPARE(reads.bytes, 3000);
}

void TestMessagePageClient::downloadReplacesStaleTarget() {
    writeFile(m_target, "stale record from an earlier run");
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "application/octet-stream", "fresh"));
    MessagePageClient transfer(server.baseUrl());
    QCOMPARE(transfer.DownloadMessage(m_target, "bob"), 1);
    QCOMPARE(readFile(m_target), QByteArray("fresh"));
}

void TestMessagePageClient::downloadKeepsStaleTargetOnFailure() {
    writeFile(m_target, "earlier");
    writeFile(m_target + QLatin1Char('~'), "half a record from a crash");
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "text/plain", "ERROR"));
    MessagePageClient transfer(server.baseUrl());
    QCOMPARE(transfer.DownloadMessage(m_target, "bob"), 0);
    QCOMPARE(readFile(m_target), QByteArray("earlier"));
}

void TestMessagePageClient::downloadStalledReplyGivesUp() {
    ScriptedServer server;
    ScriptedServer::Reply stall;
    stall.stall = true;
    server.enqueue(stall);
    MessagePageClient transfer(server.baseUrl());
    transfer.setStallTimeoutMs(300);
    QCOMPARE(transfer.DownloadMessage(m_target, "bob"), 0);
    QVERIFY(!QFile::exists(m_target));
}

void TestMessagePageClient::downloadIntoMissingFolder() {
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "application/octet-stream", "data"));
    MessagePageClient transfer(server.baseUrl());
    const QString target = m_dir + QStringLiteral("/missing/vnin.dat");
    QCOMPARE(transfer.DownloadMessage(target, "bob"), 0);
    server.stop();
    QCOMPARE(server.connectionCount(), 0);
}

void TestMessagePageClient::waitOutcomes_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("stall");
    QTest::addColumn<int>("outcome");
    const auto text = [](const QByteArray& body) {
        return ScriptedServer::http(200, "text/plain", body).raw;
    };
    QTest::newRow("a message waits") << text("OK") << false << int(WaitOutcome::Arrived);
    QTest::newRow("time is up") << text("ERROR: No message is waiting.") << false
                                << int(WaitOutcome::NothingYet);
    QTest::newRow("an older service")
        << ScriptedServer::http(404, "text/plain", "Page not found.").raw << false
        << int(WaitOutcome::Unsupported);
    QTest::newRow("session gone") << text("ERROR: You are not signed in.") << false
                                  << int(WaitOutcome::SessionGone);
    QTest::newRow("no reply at all") << QByteArray() << false << int(WaitOutcome::Failed);
    QTest::newRow("closing while it waits") << QByteArray() << true << int(WaitOutcome::Aborted);
}

void TestMessagePageClient::waitOutcomes() {
    QFETCH(QByteArray, reply);
    QFETCH(bool, stall);
    QFETCH(int, outcome);
    ScriptedServer server;
    ScriptedServer::Reply r = ScriptedServer::raw(reply);
    r.stall = stall;
    server.enqueue(r);
    MessagePageClient transfer(server.baseUrl());
    // A stalled wait ends only when the caller says so.
    std::atomic<bool> closing{false};
    std::thread closer;
    if (stall)
        closer = std::thread([&] {
            while (server.requests().isEmpty())
                std::this_thread::yield();
            closing = true;
        });
    const WaitOutcome got =
        transfer.WaitForMessage(QStringLiteral("bob"), 20, [&] { return closing.load(); });
    if (closer.joinable())
        closer.join();
    server.stop();
    QCOMPARE(int(got), outcome);
    const QList<QByteArray> requests = server.requests();
    QCOMPARE(requests.size(), 1);
    QVERIFY(requests.front().startsWith("GET /zeb/wait.asp?id=bob&timeout=20 "));
}

QTEST_GUILESS_MAIN(TestMessagePageClient)
#include "tst_messagepageclient.moc"
