#include "serveroptions.h"
#include "serverprocess.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>

// The clipnote-server program as the client's tests meet it: started on a
// free port, stopped by signals, restarted on the same data after a clean
// stop or a crash, refusing bad command lines and a second copy.
class TestClipnoteServer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void reportsPortAndServes();
    void administratorIsCreatedOnce();
    void restartKeepsAccountsAndSessions();
    void crashKeepsAccounts();
    void stopsCleanlyOnSignals_data();
    void stopsCleanlyOnSignals();
    void refusesSecondServerOnSameFolderOrPort();
    void databaseHoldsNoPlainPassword();
    void commandLineRefusals_data();
    void commandLineRefusals();
    void helpGoesToStandardOutput();

private:
    // Runs the program to its end; its exit code, and what it printed.
    static int runToEnd(const QStringList& arguments, QByteArray* out = nullptr,
                        QByteArray* err = nullptr);

    TestEnvironment m_env;
};

int TestClipnoteServer::runToEnd(const QStringList& arguments, QByteArray* out, QByteArray* err) {
    QProcess process;
    process.start(qEnvironmentVariable("CLIPNOTE_SERVER_BIN"), arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (out)
        *out = process.readAllStandardOutput();
    if (err)
        *err = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void TestClipnoteServer::reportsPortAndServes() {
    ServerProcess server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QVERIFY(server.port() > 0);
    QCOMPARE(server.baseUrl(), QStringLiteral("http://127.0.0.1:%1/").arg(server.port()));
    if (server.databaseUrl().isEmpty())
        QVERIFY(QFile::exists(server.dataDir() + QStringLiteral("/clipnote.db")));
    QCOMPARE(server.get("/zeb/ad.asp").status, 200);
    QCOMPARE(server.get("/zeb/missing.asp").status, 404);
}

void TestClipnoteServer::administratorIsCreatedOnce() {
    ServerProcess server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const QString admin = QStringLiteral("administrator@ostrand.example");
    const QString password = server.newestMailTo(admin);
    QVERIFY(!password.isEmpty());
    QVERIFY(server.restart());
    QCOMPARE(QDir(server.mailDir()).entryList({"*administrator*"}, QDir::Files).size(), 1);
    QVERIFY(!server.signIn(admin, password).isEmpty());
}

void TestClipnoteServer::restartKeepsAccountsAndSessions() {
    ServerProcess server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const quint16 port = server.port();
    const QString password = server.createAccount(QStringLiteral("pia@example.org"));
    QVERIFY(!password.isEmpty());
    const QByteArray cookie = server.signIn(QStringLiteral("pia@example.org"), password);
    QVERIFY(!cookie.isEmpty());

    QVERIFY(server.stop());
    QCOMPARE(server.get("/zeb/ad.asp").status, 0);
    QVERIFY2(server.restart(), qPrintable(server.errorString()));
    QCOMPARE(server.port(), port);
    QVERIFY(!server.signIn(QStringLiteral("PIA@example.org"), password).isEmpty());
    // The session from before the restart still counts.
    const SimpleHttpReply change =
        server.get("/zeb/chgpw.asp?UID=pia%40example.org&PW=after", cookie);
    QCOMPARE(change.body, QByteArray("OK"));
    QVERIFY(!server.signIn(QStringLiteral("pia@example.org"), QStringLiteral("after")).isEmpty());
}

void TestClipnoteServer::crashKeepsAccounts() {
    ServerProcess server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const QString password = server.createAccount(QStringLiteral("quin@example.org"));
    QVERIFY(!password.isEmpty());
    server.kill();
    QVERIFY(!server.isRunning());
    QVERIFY2(server.restart(), qPrintable(server.errorString()));
    QVERIFY(!server.signIn(QStringLiteral("quin@example.org"), password).isEmpty());
    QVERIFY(server.createAccount(QStringLiteral("quin@example.org")).isEmpty());
}

void TestClipnoteServer::stopsCleanlyOnSignals_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestClipnoteServer::stopsCleanlyOnSignals() {
    QFETCH(int, signalNumber);
    QProcess process;
    const QString data = m_env.makeFolder(QStringLiteral("signals"));
    process.start(qEnvironmentVariable("CLIPNOTE_SERVER_BIN"),
                  {"--port", "0", "--pwhash", "min", "--data", data});
    QVERIFY(process.waitForReadyRead(30000));
    QVERIFY(process.readLine().startsWith("clipnote-server listening on http://127.0.0.1:"));
    QVERIFY(::kill(static_cast<pid_t>(process.processId()), signalNumber) == 0);
    QVERIFY(process.waitForFinished(15000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    // A clean stop folds the write-ahead log back into the database.
    QVERIFY(!QFile::exists(data + QStringLiteral("/clipnote.db-wal")));
}

void TestClipnoteServer::refusesSecondServerOnSameFolderOrPort() {
    ServerProcess server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QByteArray err;
    QCOMPARE(
        runToEnd({"--port", "0", "--pwhash", "min", "--data", server.dataDir()}, nullptr, &err), 1);
    QVERIFY2(err.contains("another clipnote-server"), err);

    const QString other = m_env.makeFolder(QStringLiteral("other"));
    QCOMPARE(
        runToEnd({"--port", QString::number(server.port()), "--pwhash", "min", "--data", other},
                 nullptr, &err),
        1);
    QVERIFY2(err.contains("cannot listen"), err);
    QCOMPARE(server.get("/zeb/ad.asp").status, 200);
}

void TestClipnoteServer::databaseHoldsNoPlainPassword() {
    ServerProcess server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const QString mailed = server.createAccount(QStringLiteral("rex@example.org"));
    const QByteArray cookie = server.signIn(QStringLiteral("rex@example.org"), mailed);
    QCOMPARE(server.get("/zeb/chgpw.asp?UID=rex%40example.org&PW=Unusual%2BPw%231", cookie).body,
             QByteArray("OK"));

    // Read by another program while the server runs (on SQLite, as WAL mode
    // allows).
    {
        const std::unique_ptr<Database> db = openServerDatabase(server);
        auto guard = db->lock();
        Statement query(*db, "SELECT uid, password_hash FROM accounts");
        int rows = 0;
        while (query.step()) {
            ++rows;
            const std::string hash = query.text(1);
            QVERIFY2(hash.starts_with("$argon2id$"), hash.c_str());
        }
        QCOMPARE(rows, 2);
    }
    if (!server.databaseUrl().isEmpty())
        return;

    QVERIFY(server.stop());
    const QByteArray bytes = readFile(server.dataDir() + QStringLiteral("/clipnote.db"));
    QVERIFY(!bytes.isEmpty());
    QVERIFY(!bytes.contains("Unusual+Pw#1"));
    QVERIFY(!bytes.contains(mailed.toUtf8()));
}

void TestClipnoteServer::commandLineRefusals_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("mentions");
    QTest::newRow("unknown flag") << QStringList{"--bogus"} << 2 << QByteArray("--bogus");
    QTest::newRow("bad port") << QStringList{"--port", "99999"} << 2 << QByteArray("99999");
    QTest::newRow("bad hash level") << QStringList{"--pwhash", "none"} << 2 << QByteArray("none");
    QTest::newRow("database of another kind")
        << QStringList{"--database", "mysql://localhost/clipnote"} << 2 << QByteArray("--database");
    // Nothing listens there: the server says so and ends, serving nothing.
    QTest::newRow("database unreachable")
        << QStringList{"--port", "0", "--database",
                       "postgresql://nobody@/clipnote?host=/nonexistent-clipnote&port=1"}
        << 1 << QByteArray("cannot connect to the database");
    QTest::newRow("data folder impossible")
        << QStringList{"--port", "0", "--data", "/proc/clipnote-cannot-be-here"} << 1
        << QByteArray("data folder");
    QTest::newRow("address not ours")
        << QStringList{"--port", "0", "--listen", "192.0.2.1", "--pwhash", "min"} << 1
        << QByteArray("cannot listen");
}

void TestClipnoteServer::commandLineRefusals() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, mentions);
    if (!arguments.contains(QStringLiteral("--data")))
        arguments << QStringLiteral("--data") << m_env.makeFolder(QStringLiteral("refusals"));
    QByteArray out;
    QByteArray err;
    QCOMPARE(runToEnd(arguments, &out, &err), exitCode);
    QVERIFY2(err.contains(mentions), err);
    QVERIFY(!out.contains("listening"));
}

void TestClipnoteServer::helpGoesToStandardOutput() {
    QByteArray out;
    QCOMPARE(runToEnd({"--help"}, &out), 0);
    QVERIFY(out.startsWith("Usage: clipnote-server"));
    QVERIFY(out.contains("--pwhash"));
    QByteArray version;
    QCOMPARE(runToEnd({"--version"}, &version), 0);
    QCOMPARE(version, QByteArray::fromStdString(versionText()));
}

QTEST_GUILESS_MAIN(TestClipnoteServer)
#include "tst_clipnoteserver.moc"
