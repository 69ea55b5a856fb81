#include "platform/alert.h"
#include "serverprocess.h"
#include "service/httpshared.h"
#include "service/messagepageclient.h"
#include "service/pagefetch.h"
#include "service/replytext.h"
#include "service/sendreceiveworker.h"
#include "service/serviceaddress.h"
#include "service/servicetransport.h"
#include "store/messagestore.h"
#include "testenvironment.h"

#include <QDir>
#include <QTest>

namespace {
class SignOutObserver : public QuietCycleObserver {
public:
    void signedOut() override { ++signOuts; }
    int signOuts = 0;
};

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}
} // namespace

// The Send/Receive worker against a real service that ends the program's
// session from elsewhere: it signs in again with the password of the run
// and goes on, or, when the password has changed, stops without a box.
class TestSessionRenewal : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void endedSessionIsRenewed_data();
    void endedSessionIsRenewed();
    void changedPasswordStopsTransfers();

private:
    // Signs this process in (its shared cookie store) as that user.
    bool signInHere(const QString& uid, const QString& password) const;
    // Sets a password from a second session, which ends this process's one.
    void changePasswordElsewhere(const QString& password);
    void queueForAlice();
    std::unique_ptr<SendReceiveWorker> makeWorker();

    TestEnvironment m_env;
    std::unique_ptr<ServerProcess> m_server;
    const QString m_aliceId = QStringLiteral("alice@example.org");
    const QString m_bobId = QStringLiteral("bob@example.org");
    QString m_alicePassword;
    QString m_bobPassword;
    QString m_folder;
    QString m_temp;
    std::unique_ptr<MessageStore> m_store;
    std::unique_ptr<MessageTransport> m_transport;
    SignOutObserver m_observer;
    int m_alerts = 0;
    WorkerFlags m_flags;
    std::atomic<int> m_now{0};
};

void TestSessionRenewal::initTestCase() {
    QVERIFY(http::initialise());
    setAlertHandler([this](const QString&, const QString&, AlertIcon) { ++m_alerts; });
}

void TestSessionRenewal::cleanupTestCase() {
    setAlertHandler({});
    http::cleanup();
}

void TestSessionRenewal::init() {
    static int run = 0;
    ++run;
    m_server = std::make_unique<ServerProcess>();
    QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    m_alicePassword = m_server->createAccount(m_aliceId);
    m_bobPassword = m_server->createAccount(m_bobId);
    QVERIFY(!m_alicePassword.isEmpty() && !m_bobPassword.isEmpty());
    m_folder = m_env.makeFolder(QStringLiteral("Users%1/%2").arg(run).arg(m_aliceId));
    for (const char* folder : {"Inbox", "Outbox", "Sent", "Contacts"})
        QVERIFY(QDir().mkpath(m_folder + "/" + folder));
    m_temp = m_env.makeFolder(QStringLiteral("tmp%1").arg(run));
    m_store = std::make_unique<MessageStore>(m_folder);
    m_transport =
        makeServiceTransport(ServiceAddress(m_server->baseUrl()), m_aliceId, m_alicePassword);
    m_observer.signOuts = 0;
    m_alerts = 0;
}

void TestSessionRenewal::cleanup() {
    m_transport.reset();
    m_store.reset();
    m_server.reset();
}

bool TestSessionRenewal::signInHere(const QString& uid, const QString& password) const {
    const FetchedPage reply =
        fetchPage(m_server->baseUrl() +
                      pagePath(QStringLiteral("zeb/login.asp"),
                               {{QStringLiteral("UID"), uid}, {QStringLiteral("PW"), password}}),
                  4096, 30000);
    return reply.error == 0 && isOkReply(QString::fromUtf8(reply.body));
}

void TestSessionRenewal::changePasswordElsewhere(const QString& password) {
    const QByteArray elsewhere = m_server->signIn(m_aliceId, m_alicePassword);
    QVERIFY(!elsewhere.isEmpty());
    const SimpleHttpReply reply = m_server->get(
        "/zeb/chgpw.asp?UID=" + pageValue(m_aliceId) + "&PW=" + pageValue(password), elsewhere);
    QCOMPARE(reply.body.left(2), QByteArray("OK"));
}

void TestSessionRenewal::queueForAlice() {
    QVERIFY(signInHere(m_bobId, m_bobPassword));
    const QString file = m_temp + "/for-alice";
    QVERIFY(writeFile(file, QByteArray(3000, 'v')));
    MessagePageClient transfer(m_server->baseUrl());
    const QString name = m_aliceId + ";" + m_bobId + ";1";
    QCOMPARE(transfer.UploadMessage(file, name, m_bobId, m_aliceId, QString()), 1);
    QVERIFY(signInHere(m_aliceId, m_alicePassword));
}

std::unique_ptr<SendReceiveWorker> TestSessionRenewal::makeWorker() {
    return std::make_unique<SendReceiveWorker>(
        *m_store, m_aliceId, m_temp, *m_transport, m_observer, m_flags, m_now,
        [](const QString&, int defaultValue) { return defaultValue; });
}

void TestSessionRenewal::endedSessionIsRenewed_data() {
    QTest::addColumn<bool>("outboxFile");
    // Without an Outbox file the download is the first request to be refused.
    QTest::newRow("upload refused first") << true;
    QTest::newRow("download refused first") << false;
}

void TestSessionRenewal::endedSessionIsRenewed() {
    QFETCH(bool, outboxFile);
    queueForAlice();
    const QString outboxName = m_bobId + ";" + m_aliceId + ";7";
    if (outboxFile)
        QVERIFY(writeFile(m_folder + "/Outbox/" + outboxName, QByteArray(2000, 'm')));
    // The same password again: only the sessions are gone.
    changePasswordElsewhere(m_alicePassword);

    const SendReceiveWorker::CycleResult result = makeWorker()->runCycle();
    QCOMPARE(result.sent, outboxFile ? 1 : 0);
    QCOMPARE(result.failedUploads, 0);
    QCOMPARE(result.received, 1);
    QVERIFY(filesIn(m_folder + "/Outbox").isEmpty());
    QCOMPARE(filesIn(m_folder + "/Sent").size(), outboxFile ? 1 : 0);
    QCOMPARE(filesIn(m_folder + "/Inbox").size(), 1);
    QCOMPARE(m_alerts, 0);
    QCOMPARE(m_observer.signOuts, 0);
}

void TestSessionRenewal::changedPasswordStopsTransfers() {
    queueForAlice();
    const QStringList outbox = {m_bobId + ";" + m_aliceId + ";7", m_bobId + ";" + m_aliceId + ";8"};
    for (const QString& name : outbox)
        QVERIFY(writeFile(m_folder + "/Outbox/" + name, QByteArray(2000, 'm')));
    changePasswordElsewhere(QStringLiteral("a new secret"));

    const std::unique_ptr<SendReceiveWorker> worker = makeWorker();
    // The second cycle neither asks again nor tells the user again.
    for (int cycle = 0; cycle < 2; ++cycle) {
        const SendReceiveWorker::CycleResult result = worker->runCycle();
        QCOMPARE(result.sent, 0);
        QCOMPARE(result.received, 0);
    }
    QVERIFY(worker->isSignedOut());
    QCOMPARE(m_observer.signOuts, 1);
    QCOMPARE(m_alerts, 0);
    QCOMPARE(filesIn(m_folder + "/Outbox"), outbox);
    QVERIFY(filesIn(m_folder + "/Inbox").isEmpty());

    // The message for alice was not taken: signed in anew, it still waits.
    QVERIFY(signInHere(m_aliceId, QStringLiteral("a new secret")));
    MessagePageClient transfer(m_server->baseUrl());
    QCOMPARE(transfer.DownloadMessage(m_temp + "/check", m_aliceId), 1);
}

QTEST_GUILESS_MAIN(TestSessionRenewal)
#include "tst_sessionrenewal.moc"
