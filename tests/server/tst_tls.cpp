// The service over HTTPS, end to end: certificates made here with openssl,
// a real clipnote-server serving them, and the client's own transfers.
#include "headlessuser.h"
#include "rawsocket.h"
#include "serverprocess.h"
#include "testenvironment.h"

#include "app/clientcore.h"
#include "app/synconce.h"
#include "service/httpshared.h"
#include "service/messagepageclient.h"
#include "service/messagerecord.h"
#include "service/pagefetch.h"
#include "service/serviceaddress.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

class TestTls : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void sameBytesOverHttps();
    void hostileConnectionsLeaveHttpsServing();
    void unverifiableServiceGetsNothing_data();
    void unverifiableServiceGetsNothing();
    void unusableCertificateStopsTheStart();
    void programRefusesUnverifiedServiceAndTrustsCaFile();

private:
    bool openssl(const QStringList& arguments);
    // A key and a certificate for `names` (subjectAltName), signed by the
    // test authority, or by itself when selfSigned.
    bool makeCertificate(const QString& stem, const QString& names, bool selfSigned);
    std::unique_ptr<ServerProcess> startServer(const QString& stem, const QStringList& extra = {});
    // A 300 KB message from Alice to Bob and back out, compared byte for byte.
    void relayOneMessage(const ServerProcess& server);
    // An account made and signed in over the client's own HTTPS handles.
    QString signUp(const ServerProcess& server, const QString& uid);

    TestEnvironment m_env;
    QString m_dir;
};

void TestTls::initTestCase() {
    QVERIFY(http::initialise());
    m_dir = m_env.makeFolder(QStringLiteral("tls"));
    QVERIFY(openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                     "/CN=Clipnote test authority", "-keyout", m_dir + "/ca.key", "-out",
                     m_dir + "/ca.pem"}));
    QVERIFY(makeCertificate("local", "IP:127.0.0.1,DNS:localhost", false));
    QVERIFY(makeCertificate("elsewhere", "DNS:other.example", false));
    QVERIFY(makeCertificate("self", "IP:127.0.0.1", true));
}

void TestTls::cleanupTestCase() {
    http::cleanup();
}

void TestTls::cleanup() {
    http::setExtraCaFile(QString());
}

bool TestTls::openssl(const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        qWarning("openssl %s: %s", qPrintable(arguments.join(' ')), process.readAll().constData());
        return false;
    }
    return true;
}

bool TestTls::makeCertificate(const QString& stem, const QString& names, bool selfSigned) {
    const QString base = m_dir + QLatin1Char('/') + stem;
    if (selfSigned)
        return openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=" + stem, "-addext", "subjectAltName=" + names, "-keyout",
                        base + ".key", "-out", base + ".pem"});
    if (!writeFile(base + ".ext", ("subjectAltName=" + names + "\n").toUtf8()))
        return false;
    return openssl({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + stem, "-keyout",
                    base + ".key", "-out", base + ".csr"}) &&
           openssl({"x509", "-req", "-in", base + ".csr", "-CA", m_dir + "/ca.pem", "-CAkey",
                    m_dir + "/ca.key", "-CAcreateserial", "-days", "2", "-extfile", base + ".ext",
                    "-out", base + ".pem"});
}

std::unique_ptr<ServerProcess> TestTls::startServer(const QString& stem, const QStringList& extra) {
    auto server = std::make_unique<ServerProcess>();
    const QString base = m_dir + QLatin1Char('/') + stem;
    server->setExtraArguments(QStringList{"--tls-cert", base + ".pem", "--tls-key", base + ".key"} +
                              extra);
    if (!server->start())
        qWarning("%s", qPrintable(server->errorString()));
    return server;
}

QString TestTls::signUp(const ServerProcess& server, const QString& uid) {
    const FetchedPage created = fetchPage(
        server.baseUrl() + pagePath(QStringLiteral("zeb/reg.asp"), {{"UID", uid}}), 4096, 30000);
    if (created.error != 0 || !created.body.startsWith("OK"))
        return {};
    const QString password = newestPasswordMail(server.dataDir() + QStringLiteral("/mail"), uid);
    const FetchedPage signedIn =
        fetchPage(server.baseUrl() +
                      pagePath(QStringLiteral("zeb/login.asp"), {{"UID", uid}, {"PW", password}}),
                  4096, 30000);
    return signedIn.error == 0 && signedIn.body.startsWith("OK") ? password : QString();
}

void TestTls::sameBytesOverHttps() {
    http::setExtraCaFile(m_dir + QStringLiteral("/ca.pem"));
    const auto server = startServer(QStringLiteral("local"));
    QVERIFY(server->isRunning());
    QVERIFY(server->baseUrl().startsWith(QLatin1String("https://")));
    relayOneMessage(*server);
}

// Connections that never start their handshake, stop in the middle of it or
// speak plain HTTP to the HTTPS port: everyone else is served meanwhile, and
// each of them is cut at the head deadline.
void TestTls::hostileConnectionsLeaveHttpsServing() {
    http::setExtraCaFile(m_dir + QStringLiteral("/ca.pem"));
    const auto server = startServer(QStringLiteral("local"),
                                    {QStringLiteral("--head-timeout"), QStringLiteral("2")});
    QVERIFY(server->isRunning());
    // A TLS record header announcing a ClientHello that never comes.
    const QByteArray halfHello("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11);
    const QList<QByteArray> openings = {QByteArray(), halfHello,
                                        "GET /zeb/login.asp HTTP/1.1\r\nHost: x\r\n"};
    QList<int> hostile;
    const auto closeAll = qScopeGuard([&hostile] {
        for (const int fd : hostile)
            ::close(fd);
    });
    for (int i = 0; i < 150; ++i) {
        const int fd = connectToLoopback(quint16(server->port()));
        QVERIFY(fd >= 0);
        hostile << fd;
        const QByteArray& opening = openings[i % openings.size()];
        if (!opening.isEmpty())
            QVERIFY(::send(fd, opening.constData(), size_t(opening.size()), MSG_NOSIGNAL) > 0);
    }
    relayOneMessage(*server);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(hostile.cbegin(), hostile.cend(), closedByServer), 30000);
    QVERIFY(server->isRunning());
}

void TestTls::relayOneMessage(const ServerProcess& server) {
    const QString alice = QStringLiteral("alice@example.org");
    const QString bob = QStringLiteral("bob@example.org");
    QVERIFY(!signUp(server, bob).isEmpty());
    QVERIFY(!signUp(server, alice).isEmpty());

    const QByteArray message = messageBytes(7, 300 * 1024);
    const QString name = bob + QLatin1Char(';') + alice + QStringLiteral(";4711");
    const QString file = m_dir + QStringLiteral("/outgoing");
    QVERIFY(writeFile(file, message));
    MessagePageClient alicesClient(server.baseUrl());
    QVERIFY(alicesClient.upload(file, name, alice, bob, QString()).succeeded());

    // Bob's sign-in puts his session into the shared cookie store.
    const FetchedPage bobIn = fetchPage(
        server.baseUrl() +
            pagePath(QStringLiteral("zeb/login.asp"),
                     {{"UID", bob}, {"PW", newestPasswordMail(server.dataDir() + "/mail", bob)}}),
        4096, 30000);
    QVERIFY(bobIn.body.startsWith("OK"));
    const QString target = m_dir + QStringLiteral("/received");
    MessagePageClient bobsClient(server.baseUrl());
    QVERIFY(bobsClient.download(target, bob).succeeded());
    QFile record(target);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const MessageRecord fields = readMessageRecord(record);
    QCOMPARE(fields.name, name);
    // The relayed file ends with the upload's closing block of zeros, as
    // over plain HTTP.
    const QByteArray expected = message + QByteArray(1024, '\0');
    const QByteArray got = record.readAll();
    QCOMPARE(got.size(), expected.size());
    QVERIFY(got == expected);
}

void TestTls::unverifiableServiceGetsNothing_data() {
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QString>("caFile");
    QTest::newRow("self-signed, no CA file") << "self" << QString();
    QTest::newRow("signed for another host") << "elsewhere"
                                             << "ca.pem";
    QTest::newRow("trusted CA, but its file is missing") << "local"
                                                         << "no-such-ca.pem";
    QTest::newRow("the system's trust store alone") << "local" << QString();
}

void TestTls::unverifiableServiceGetsNothing() {
    QFETCH(QString, certificate);
    QFETCH(QString, caFile);
    if (!caFile.isEmpty())
        http::setExtraCaFile(m_dir + QLatin1Char('/') + caFile);
    const auto server = startServer(certificate);
    QVERIFY(server->isRunning());
    // The sign-in would carry the password in its query: it never leaves.
    ClientCore core;
    core.setService(ServiceAddress(server->baseUrl()));
    QCOMPARE(core.OpenSession(), 1);
    QString message;
    QCOMPARE(signInHeadless(core, QStringLiteral("alice@example.org"), QStringLiteral("secret"),
                            &message),
             3);
    QCOMPARE(message, http::secureFailureText(server->baseUrl()));
    QCOMPARE(core.GetPage(QStringLiteral("zeb/login.asp?UID=a&PW=b")),
             http::secureFailureText(server->baseUrl()));
    const QString file = m_dir + QStringLiteral("/unsent");
    QVERIFY(writeFile(file, "message"));
    MessagePageClient transfers(server->baseUrl());
    QCOMPARE(int(transfers.upload(file, "b;a;1", "a", "b", QString()).outcome),
             int(TransferResult::Outcome::Failed));
    // Nothing reached the pages: no mail, no account, no waiting message.
    QVERIFY(QDir(server->dataDir() + QStringLiteral("/messages")).isEmpty(QDir::Files));
}

void TestTls::unusableCertificateStopsTheStart() {
    // The key of another certificate: the pair is refused before serving.
    QVERIFY(QFile::copy(m_dir + "/self.key", m_dir + "/mismatch.key"));
    QVERIFY(QFile::copy(m_dir + "/local.pem", m_dir + "/mismatch.pem"));
    ServerProcess server;
    server.setExtraArguments(
        {"--tls-cert", m_dir + "/mismatch.pem", "--tls-key", m_dir + "/mismatch.key"});
    QVERIFY(!server.start());
    QVERIFY(!server.isRunning());
}

// The real companion program: its own argument and environment handling.
void TestTls::programRefusesUnverifiedServiceAndTrustsCaFile() {
    QVERIFY2(!qEnvironmentVariableIsEmpty("CLIPNOTE_CLIENT_BIN"), "the client program is needed");
    http::setExtraCaFile(m_dir + QStringLiteral("/ca.pem"));
    const auto server = startServer(QStringLiteral("local"));
    QVERIFY(server->isRunning());
    const QString alice = QStringLiteral("alice@example.org");
    const QString password = signUp(*server, alice);
    QVERIFY(!password.isEmpty());
    const HeadlessUser user = makeHeadlessUser(m_env, *server, alice, password);
    const auto run = [&](const QStringList& extra, const QProcessEnvironment& environment) {
        QProcess client;
        startHeadlessSync(client, user, server->baseUrl(), extra, environment);
        if (!client.waitForFinished(60000))
            return std::pair(-1, QString());
        return std::pair(client.exitCode(), QString::fromUtf8(client.readAllStandardError()));
    };
    const auto [refused, told] = run({}, {});
    QCOMPARE(refused, 3);
    QVERIFY2(told.contains(QLatin1String("did not show a certificate that can be verified")),
             qPrintable(told));
    QCOMPARE(run({"--ca-file", m_dir + QStringLiteral("/ca.pem")}, {}).first, 0);
    QProcessEnvironment byEnvironment;
    byEnvironment.insert(QStringLiteral("CLIPNOTE_CA_FILE"), m_dir + QStringLiteral("/ca.pem"));
    QCOMPARE(run({}, byEnvironment).first, 0);
}

QTEST_GUILESS_MAIN(TestTls)
#include "tst_tls.moc"
