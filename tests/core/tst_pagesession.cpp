#include "platform/helpers.h"
#include "scriptedserver.h"
#include "service/httpshared.h"
#include "service/pagesession.h"
#include "service/serviceaddress.h"
#include "service/servicesession.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QTest>

namespace {
// Follows the session's status log: notes when each connect attempt begins
// and lets the server start listening as a chosen attempt begins, which is
// before that attempt connects.
struct ConnectAttempts {
    static inline ScriptedServer* server = nullptr;
    static inline int listenAtAttempt = 0;
    static inline QList<qint64> startedAtMs;
    static inline QElapsedTimer clock;
    static inline QtMessageHandler previous = nullptr;

    static void watch(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (qstrcmp(context.category, "clipnote.http") != 0) {
            if (previous)
                previous(type, context, text);
            return;
        }
        if (text != QLatin1String("Connecting to server..."))
            return;
        startedAtMs.append(clock.elapsed());
        if (startedAtMs.size() == listenAtAttempt)
            server->startListening();
    }
};
} // namespace

// The account-page session against scripted replies: what is accepted, how
// the reply text is shaped, and how failures are numbered and recovered.
class TestPageSession : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void contentTypes_data();
    void contentTypes();
    void lineEnds_data();
    void lineEnds();
    void statusOtherThanOkFails_data();
    void statusOtherThanOkFails();
    void requestShape();
    void hostCheck_data();
    void hostCheck();
    void unreachableHostThenRecovery();
    void refusedConnectIsRetriedOnce_data();
    void refusedConnectIsRetriedOnce();
    void unresolvableName();
    void stalledReplyTimesOut();
    void replyCutOffMidway();
    void hugeReplyIsBounded();
    void cookiesAreShared();
    void pagePathEncodesValues_data();
    void pagePathEncodesValues();
    void statusTexts_data();
    void statusTexts();
};

void TestPageSession::initTestCase() {
    QVERIFY(http::initialise());
    setTimerScale(0.01);
}

void TestPageSession::cleanupTestCase() {
    http::cleanup();
}

void TestPageSession::contentTypes_data() {
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("reply");
    QTest::newRow("html") << QByteArray("text/html") << "zeb/login.asp" << 0 << "OK\r\n";
    QTest::newRow("plain with charset")
        << QByteArray("text/plain; charset=utf-8") << "a" << 0 << "OK\r\n";
    QTest::newRow("javascript") << QByteArray("application/x-javascript") << "a.js" << 0
                                << "OK\r\n";
    QTest::newRow("image elsewhere") << QByteArray("image/gif") << "zeb/x.asp" << -3 << "image/gif";
    QTest::newRow("image as template") << QByteArray("image/gif") << "page.tpl" << 0 << "OK\r\n";
    QTest::newRow("bare .tpl is too short")
        << QByteArray("image/gif") << ".tpl" << -3 << "image/gif";
    QTest::newRow("upper-case TEXT is not text")
        << QByteArray("TEXT/HTML") << "a" << -3 << "TEXT/HTML";
    QTest::newRow("no content type") << QByteArray() << "a" << -3 << "";
}

void TestPageSession::contentTypes() {
    QFETCH(QByteArray, contentType);
    QFETCH(QString, path);
    QFETCH(int, result);
    QFETCH(QString, reply);
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, contentType, "OK\n"));
    PageSession session;
    session.setServiceBase(server.baseUrl());
    QCOMPARE(session.OpenSession(), 1);
    QString text;
    QCOMPARE(session.FetchPage(QStringLiteral("127.0.0.1"), path, text), result);
    QCOMPARE(text, reply);
}

void TestPageSession::lineEnds_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reply");
    QTest::newRow("CR LF kept") << QByteArray("one\r\ntwo\r\n") << "one\r\ntwo\r\n";
    QTest::newRow("LF becomes CR LF") << QByteArray("one\ntwo") << "one\r\ntwo";
    QTest::newRow("bare CR dropped") << QByteArray("one\rtwo\r") << "onetwo";
    QTest::newRow("no line end") << QByteArray("Unknown user ID or wrong password.")
                                 << "Unknown user ID or wrong password.";
    QTest::newRow("empty body") << QByteArray() << "";
    QTest::newRow("utf-8") << QByteArray("Gr\xc3\xbc\xc3\x9f"
                                         "e\n")
                           << QString::fromUtf8("Grüße\r\n");
}

void TestPageSession::lineEnds() {
    QFETCH(QByteArray, body);
    QFETCH(QString, reply);
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "text/plain", body));
    PageSession session;
    session.setServiceBase(server.baseUrl());
    session.OpenSession();
    QString text = QStringLiteral("stale");
    QCOMPARE(session.FetchPage(QStringLiteral("127.0.0.1"), QStringLiteral("p"), text), 0);
    QCOMPARE(text, reply);
}

void TestPageSession::statusOtherThanOkFails_data() {
    QTest::addColumn<int>("status");
    QTest::newRow("not found") << 404;
    QTest::newRow("server error") << 500;
    QTest::newRow("redirect is not followed") << 302;
}

void TestPageSession::statusOtherThanOkFails() {
    QFETCH(int, status);
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(status, "text/html", "OK but not really",
                                        {"Location: http://127.0.0.1:1/"}));
    PageSession session;
    session.setServiceBase(server.baseUrl());
    session.OpenSession();
    QString text;
    QCOMPARE(session.FetchPage(QStringLiteral("127.0.0.1"), QStringLiteral("zeb/x.asp"), text), -2);
    QVERIFY(text.isEmpty());
}

void TestPageSession::requestShape() {
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "text/plain", "OK"));
    PageSession session;
    session.setServiceBase(server.baseUrl());
    session.OpenSession();
    QString text;
    session.FetchPage(QStringLiteral("127.0.0.1"), QStringLiteral("zeb/login.asp?UID=a&PW=b"),
                      text);
    const QList<QByteArray> requests = server.requests();
    QCOMPARE(requests.size(), 1);
    const QByteArray& r = requests.first();
    QVERIFY2(r.startsWith("GET /zeb/login.asp?UID=a&PW=b HTTP/1.0\r\n"), r.constData());
    QVERIFY(r.contains("\r\nUser-Agent: DODERO\r\n"));
    QVERIFY(r.contains("\r\nPragma: no-cache\r\n"));
}

void TestPageSession::hostCheck_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("requests");
    QTest::newRow("no www") << "zeb/login.asp?UID=a" << 0 << 1;
    QTest::newRow("other host") << "zeb/login.asp?UID=bob@www.elsewhere.org" << -1 << 0;
    QTest::newRow("own host after www") << "www.127.0.0.1/zeb/ad.asp" << 0 << 1;
    QTest::newRow("stretch ends at slash") << "www.elsewhere.org/127.0.0.1" << -1 << 0;
}

void TestPageSession::hostCheck() {
    QFETCH(QString, path);
    QFETCH(int, result);
    QFETCH(int, requests);
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "text/plain", "OK"));
    PageSession session;
    session.setServiceBase(server.baseUrl());
    session.OpenSession();
    QString text;
    QCOMPARE(session.FetchPage(QStringLiteral("127.0.0.1"), path, text), result);
    server.stop();
    QCOMPARE(server.connectionCount(), requests);
}

void TestPageSession::unreachableHostThenRecovery() {
    PageSession session;
    session.setServiceBase(QStringLiteral("http://127.0.0.1:%1/").arg(closedLoopbackPort()));
    session.OpenSession();
    QCOMPARE(session.OpenPageRequest(QStringLiteral("127.0.0.1"), QStringLiteral("a")),
             http::kErrorCannotConnect);
    QVERIFY(!session.hasSession());
    QString text;
    QCOMPARE(session.FetchPage(QStringLiteral("127.0.0.1"), QStringLiteral("a"), text), -2);
    QVERIFY(text.isEmpty());

    // Once the service answers again, the next request opens a new session.
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "text/plain", "OK"));
    session.setServiceBase(server.baseUrl());
    QCOMPARE(session.FetchPage(QStringLiteral("127.0.0.1"), QStringLiteral("a"), text), 0);
    QCOMPARE(text, QStringLiteral("OK"));
    QVERIFY(session.hasSession());
}

void TestPageSession::refusedConnectIsRetriedOnce_data() {
    QTest::addColumn<int>("listenAtAttempt"); // 0: never
    QTest::addColumn<long>("connectTimeoutMs");
    QTest::addColumn<double>("timerScale");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("attempts");
    QTest::newRow("service up for the retry") << 2 << 30000L << 0.01 << 200 << 2;
    QTest::newRow("service never up") << 0 << 30000L << 0.01 << http::kErrorCannotConnect << 2;
    // A full back-off would overrun the time-out: no retry.
    QTest::newRow("no time left for a retry")
        << 0 << 1000L << 1.0 << http::kErrorCannotConnect << 1;
}

void TestPageSession::refusedConnectIsRetriedOnce() {
    QFETCH(int, listenAtAttempt);
    QFETCH(long, connectTimeoutMs);
    QFETCH(double, timerScale);
    QFETCH(int, result);
    QFETCH(int, attempts);
    setTimerScale(timerScale);
    ScriptedServer server(ScriptedServer::Listening::Later);
    server.enqueue(ScriptedServer::http(200, "text/plain", "OK"));
    ConnectAttempts::server = &server;
    ConnectAttempts::listenAtAttempt = listenAtAttempt;
    ConnectAttempts::startedAtMs.clear();
    ConnectAttempts::clock.start();
    QLoggingCategory::setFilterRules(QStringLiteral("clipnote.http.debug=true"));
    ConnectAttempts::previous = qInstallMessageHandler(ConnectAttempts::watch);
    const auto restore = qScopeGuard([] {
        qInstallMessageHandler(ConnectAttempts::previous);
        QLoggingCategory::setFilterRules(QString());
        setTimerScale(0.01);
    });

    PageSession session;
    session.setConnectTimeoutMs(connectTimeoutMs);
    session.setServiceBase(server.baseUrl());
    session.OpenSession();
    QCOMPARE(session.OpenPageRequest(QStringLiteral("127.0.0.1"), QStringLiteral("a")), result);
    QCOMPARE(ConnectAttempts::startedAtMs.size(), attempts);
    if (attempts == 2)
        QVERIFY(ConnectAttempts::startedAtMs[1] - ConnectAttempts::startedAtMs[0] >=
                scaledPeriod(1000));
    server.stop();
    QCOMPARE(server.connectionCount(), result == 200 ? 1 : 0);
}

void TestPageSession::unresolvableName() {
    PageSession session;
    session.setServiceBase(QStringLiteral("http://no-such-host.invalid/"));
    session.OpenSession();
    QCOMPARE(session.OpenPageRequest(QStringLiteral("no-such-host.invalid"), QStringLiteral("a")),
             http::kErrorNameNotResolved);
}

void TestPageSession::stalledReplyTimesOut() {
    ScriptedServer server;
    ScriptedServer::Reply stall;
    stall.stall = true;
    server.enqueue(stall);
    PageSession session;
    session.setConnectTimeoutMs(300);
    session.setServiceBase(server.baseUrl());
    session.OpenSession();
    QCOMPARE(session.OpenPageRequest(QStringLiteral("127.0.0.1"), QStringLiteral("slow")),
             http::kErrorTimeout);
    QVERIFY(!session.hasSession());
}

void TestPageSession::replyCutOffMidway() {
    ScriptedServer server;
    ScriptedServer::Reply cut = ScriptedServer::http(200, "text/plain", QByteArray(5000, 'x'));
    cut.cutAfterBytes = 200;
    server.enqueue(cut);
    PageSession session;
    session.setServiceBase(server.baseUrl());
    session.OpenSession();
    QString text;
    QCOMPARE(session.FetchPage(QStringLiteral("127.0.0.1"), QStringLiteral("cut"), text), -2);
    QVERIFY(text.isEmpty());
}

void TestPageSession::hugeReplyIsBounded() {
    ScriptedServer server;
    server.enqueue(
        ScriptedServer::http(200, "text/plain", "OK" + QByteArray(3 * 1024 * 1024, 'z')));
    PageSession session;
    session.setServiceBase(server.baseUrl());
    session.OpenSession();
    QString text;
    QCOMPARE(session.FetchPage(QStringLiteral("127.0.0.1"), QStringLiteral("big"), text), 0);
    QCOMPARE(text.size(), PageSession::kMaxReplyBytes);
    QVERIFY(text.startsWith(QLatin1String("OKzzz")));
}

void TestPageSession::cookiesAreShared() {
    ScriptedServer server;
    server.enqueue(
        ScriptedServer::http(200, "text/plain", "OK", {"Set-Cookie: CLIPSESSION=abc123; Path=/"}));
    server.enqueue(ScriptedServer::http(200, "text/plain", "OK"));
    PageSession first;
    first.setServiceBase(server.baseUrl());
    first.OpenSession();
    QString text;
    QCOMPARE(first.FetchPage(QStringLiteral("127.0.0.1"), QStringLiteral("login"), text), 0);
    // A second, separate session of the same process presents the cookie.
    PageSession second;
    second.setServiceBase(server.baseUrl());
    second.OpenSession();
    QCOMPARE(second.FetchPage(QStringLiteral("127.0.0.1"), QStringLiteral("next"), text), 0);
    QVERIFY(server.requests().value(1).contains("Cookie: CLIPSESSION=abc123"));
}

void TestPageSession::pagePathEncodesValues_data() {
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("path");
    QTest::newRow("plain") << "bob@example.org"
                           << "secret"
                           << "zeb/login.asp?UID=bob%40example.org&PW=secret";
    QTest::newRow("separators") << "a&b=c"
                                << "x#y"
                                << "zeb/login.asp?UID=a%26b%3Dc&PW=x%23y";
    QTest::newRow("plus percent blank") << "a+b"
                                        << "100% sure"
                                        << "zeb/login.asp?UID=a%2Bb&PW=100%25%20sure";
    QTest::newRow("unreserved stay") << "A-z_0.9~"
                                     << ""
                                     << "zeb/login.asp?UID=A-z_0.9~&PW=";
}

void TestPageSession::pagePathEncodesValues() {
    QFETCH(QString, uid);
    QFETCH(QString, password);
    QFETCH(QString, path);
    QCOMPARE(pagePath(QStringLiteral("zeb/login.asp"),
                      {{QStringLiteral("UID"), uid}, {QStringLiteral("PW"), password}}),
             path);
}

void TestPageSession::statusTexts_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    QTest::newRow("resolving") << 10 << "resolving name for host.example";
    QTest::newRow("resolved") << 11 << "resolved name for host.example!";
    QTest::newRow("closed") << 51 << "Connection close!";
    QTest::newRow("handle closing") << 70 << "Closing Connection...";
    QTest::newRow("busy") << 200 << "Busy";
    QTest::newRow("unknown") << 77 << "Unknown status: 77";
}

void TestPageSession::statusTexts() {
    QFETCH(int, status);
    QFETCH(QString, text);
    QCOMPARE(internetStatusText(status, QStringLiteral("host.example")), text);
}

QTEST_GUILESS_MAIN(TestPageSession)
#include "tst_pagesession.moc"
