#include "headlessuser.h"
#include "platform/filestatus.h"
#include "serverprocess.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTest>

#include <sys/xattr.h>

namespace {
// One user of the headless client: an application folder, its own settings
// and temporary folder, and the password the service mailed.
using User = HeadlessUser;

struct SyncRun {
    int exitCode = -1;
    QString out;
    QString err;
};

bool isUnread(const QString& path) {
    char value[8] = {};
    const ssize_t n =
        getxattr(QFile::encodeName(path).constData(), "user.clipnote.read", value, sizeof value);
    if (n >= 0)
        return QByteArray(value, int(n)) != "1";
    // Folders that refuse extended attributes keep the state beside them.
    return true;
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// The bytes of the files in a folder whose names match, hidden ones too.
qint64 bytesIn(const QString& folder, const QString& pattern) {
    qint64 total = 0;
    for (const QFileInfo& file :
         QDir(folder).entryInfoList({pattern}, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot))
        total += file.size();
    return total;
}

// The same through every folder below, such as a user's private working
// folder inside the temporary folder.
qint64 bytesBelow(const QString& folder, const QString& pattern) {
    qint64 total = 0;
    QDirIterator it(folder, {pattern}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}
} // namespace

// The whole road of a message: one user's Outbox through a real service into
// another user's Inbox, with the headless client that shares the window's
// Send/Receive cycle.
class TestMessageRoad : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void outboxPairReachesInbox_data();
    void outboxPairReachesInbox();
    void onlyContactsWhenAllowAllIsOff();
    void backlogArrivesThreeAtATime();
    void unconfirmedMessageComesAgainAsOneRow();
    void unknownRecipientIsRefusedAndKept();
    void serviceDownKeepsFiles();
    void waitingReceiverGetsMessageSentMeanwhile();
    void serverKilledDuringUpload();
    void serverKilledDuringDownload();

private:
    User makeUser(const QString& id);
    // Starts the headless client for one cycle as that user.
    void startSync(QProcess& client, const User& user, const QString& serviceUrl = {},
                   const QStringList& extra = {});
    SyncRun sync(const User& user, const QString& serviceUrl = {}, const QStringList& extra = {});
    void queueMessage(const User& from, const QString& to, int tick, qint64 size = 5000);

    TestEnvironment m_env;
    std::unique_ptr<ServerProcess> m_server;
    User m_alice;
    User m_bob;
};

void TestMessageRoad::initTestCase() {
    QVERIFY2(!qEnvironmentVariableIsEmpty("CLIPNOTE_CLIENT_BIN"), "the client program is needed");
}

void TestMessageRoad::init() {
    m_server = std::make_unique<ServerProcess>();
    QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    m_alice = makeUser(QStringLiteral("alice@example.org"));
    m_bob = makeUser(QStringLiteral("bob@example.org"));
    QVERIFY(!m_alice.password.isEmpty());
    QVERIFY(!m_bob.password.isEmpty());
}

void TestMessageRoad::cleanup() {
    m_server.reset();
}

User TestMessageRoad::makeUser(const QString& id) {
    return makeHeadlessUser(m_env, *m_server, id);
}

void TestMessageRoad::startSync(QProcess& client, const User& user, const QString& serviceUrl,
                                const QStringList& extra) {
    startHeadlessSync(client, user, serviceUrl.isEmpty() ? m_server->baseUrl() : serviceUrl, extra);
}

SyncRun TestMessageRoad::sync(const User& user, const QString& serviceUrl,
                              const QStringList& extra) {
    QProcess client;
    startSync(client, user, serviceUrl, extra);
    SyncRun run;
    if (!client.waitForFinished(60000)) {
        client.kill();
        client.waitForFinished();
        return run;
    }
    run.exitCode = client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
    run.out = QString::fromUtf8(client.readAllStandardOutput());
    run.err = QString::fromUtf8(client.readAllStandardError());
    return run;
}

void TestMessageRoad::queueMessage(const User& from, const QString& to, int tick, qint64 size) {
    const QString name = QStringLiteral("%1;%2;%3").arg(to, from.id).arg(tick);
    writeFile(from.folder("Outbox/") + name, messageBytes(tick, size));
    writeFile(from.folder("Outbox/") + name + ".jpg", "thumbnail of " + name.toUtf8());
}

void TestMessageRoad::outboxPairReachesInbox_data() {
    QTest::addColumn<int>("saveSent");
    QTest::newRow("copies kept in Sent") << 1;
    QTest::newRow("no copies") << 0;
}

void TestMessageRoad::outboxPairReachesInbox() {
    QFETCH(int, saveSent);
    // Bob knows alice already, with an old picture.
    QVERIFY(sync(m_bob).exitCode == 0);
    writeFile(m_bob.folder("Contacts/alice@example.org"), "Alice");
    writeFile(m_bob.folder("Contacts/alice@example.org.jpg"), "old picture");
    m_alice.setSetting("SaveSent", saveSent);
    QVERIFY(sync(m_alice).exitCode == 0);
    queueMessage(m_alice, m_bob.id, 123);
    const QDateTime sentAt = QDateTime::currentDateTime();

    const SyncRun sent = sync(m_alice);
    const QDateTime sentBy = QDateTime::currentDateTime();
    QCOMPARE(sent.exitCode, 0);
    QCOMPARE(sent.out.count("sent "), 2);
    QCOMPARE(filesIn(m_alice.folder("Outbox")), QStringList{});
    const QString stem = m_bob.id + ";" + m_alice.id + ";123";
    const QStringList kept = saveSent ? QStringList{stem + ".jpg", stem + ".wmv"} : QStringList();
    QCOMPARE(filesIn(m_alice.folder("Sent")), kept);

    const SyncRun received = sync(m_bob);
    QCOMPARE(received.exitCode, 0);
    QCOMPARE(received.out.count("received "), 2);
    const QString video = m_bob.folder("Inbox/") + m_alice.id + ";123.wmv";
    const QString thumbnail = m_bob.folder("Inbox/") + m_alice.id + ";123.jpg";
    // The upload fills its last block with zeros and the record carries no
    // length, so a message arrives padded to whole blocks.
    const QByteArray arrived = readFile(video);
    QCOMPARE(arrived.size(), 5120);
    QCOMPARE(arrived.left(5000), messageBytes(123, 5000));
    QVERIFY(arrived.mid(5000).count('\0') == 120);
    QVERIFY(readFile(thumbnail).startsWith("thumbnail of " +
                                           (m_bob.id + ";" + m_alice.id + ";123").toUtf8() + '\0'));
    QVERIFY(isUnread(video));
    // Dated by its arrival at the service, to the second.
    const QDateTime dated = QFileInfo(video).lastModified();
    QVERIFY2(dated >= sentAt.addSecs(-1) && dated <= sentBy.addSecs(1),
             qPrintable(dated.toString(Qt::ISODate)));
    QCOMPARE(readFile(m_bob.folder("Contacts/alice@example.org.jpg")), readFile(thumbnail));

    // Nothing is delivered twice.
    const SyncRun again = sync(m_bob);
    QCOMPARE(again.exitCode, 0);
    QCOMPARE(again.out.count("received "), 0);
}

void TestMessageRoad::onlyContactsWhenAllowAllIsOff() {
    m_bob.setSetting("AllowALL", 0);
    queueMessage(m_alice, m_bob.id, 1);
    QCOMPARE(sync(m_alice).exitCode, 0);
    const SyncRun received = sync(m_bob);
    QCOMPARE(received.exitCode, 0);
    QCOMPARE(filesIn(m_bob.folder("Inbox")), QStringList{});
    // The refused messages are gone from the service too.
    m_bob.setSetting("AllowALL", 1);
    QCOMPARE(sync(m_bob).out.count("received "), 0);
}

void TestMessageRoad::backlogArrivesThreeAtATime() {
    for (int tick = 1; tick <= 5; ++tick)
        writeFile(m_alice.folder("Outbox/") +
                      QStringLiteral("%1;%2;%3").arg(m_bob.id, m_alice.id).arg(tick),
                  "video " + QByteArray::number(tick));
    QCOMPARE(sync(m_alice).exitCode, 0);
    QCOMPARE(sync(m_bob).out.count("received "), 3);
    QCOMPARE(sync(m_bob).out.count("received "), 2);
    QCOMPARE(filesIn(m_bob.folder("Inbox")).size(), 5);
}

void TestMessageRoad::unconfirmedMessageComesAgainAsOneRow() {
    for (int tick = 1; tick <= 3; ++tick)
        writeFile(m_alice.folder("Outbox/") + m_bob.id + ";" + m_alice.id + ";" +
                      QString::number(tick),
                  messageBytes(tick, 3000));
    QCOMPARE(sync(m_alice).exitCode, 0);
    // The third of a cycle is filed, and confirmed only by the next request.
    QCOMPARE(sync(m_bob).out.count("received "), 3);
    const QString toConfirm = m_bob.home + "/" + m_bob.id + "/.received";
    const QString last = QString::fromUtf8(readFile(toConfirm));
    QVERIFY2(last.startsWith(m_bob.id + ";" + m_alice.id + ";"), qPrintable(last));
    const QString video = m_bob.folder("Inbox/") + last.section(';', 1) + ".wmv";
    // Played, but the program ended before it kept the name to confirm.
    QVERIFY(FileStatus::shared().markRead(video));
    QVERIFY(QFile::remove(toConfirm));

    QCOMPARE(sync(m_bob).out.count("received "), 1);
    QCOMPARE(filesIn(m_bob.folder("Inbox")).size(), 3);
    QVERIFY(FileStatus().isRead(video));
    QCOMPARE(sync(m_bob).out.count("received "), 0);
}

void TestMessageRoad::unknownRecipientIsRefusedAndKept() {
    queueMessage(m_alice, QStringLiteral("nobody@example.org"), 9);
    const SyncRun run = sync(m_alice);
    QVERIFY(run.err.contains(QLatin1String("INVALID")));
    QVERIFY2(run.out.contains(QLatin1String("refused nobody@example.org;")), qPrintable(run.out));
    QCOMPARE(filesIn(m_alice.folder("Outbox")).size(), 2);
    // Marked failed: the next run passes it over without asking the service.
    const SyncRun again = sync(m_alice);
    QCOMPARE(again.exitCode, 0);
    QVERIFY(!again.err.contains(QLatin1String("INVALID")));
    QVERIFY(again.err.contains(QLatin1String("--retry-failed")));
    QCOMPARE(filesIn(m_alice.folder("Outbox")).size(), 2);
    const SyncRun retried = sync(m_alice, {}, {QStringLiteral("--retry-failed")});
    QVERIFY(retried.err.contains(QLatin1String("INVALID")));
    QCOMPARE(retried.exitCode, 3);
}

void TestMessageRoad::waitingReceiverGetsMessageSentMeanwhile() {
    // Bob's run waits for a message before receiving; alice sends while it
    // waits.
    QProcess bob;
    startSync(bob, m_bob, {}, {QStringLiteral("--wait"), QStringLiteral("20")});
    QVERIFY(bob.waitForStarted());
    queueMessage(m_alice, m_bob.id, 11);
    QCOMPARE(sync(m_alice).exitCode, 0);
    QVERIFY(bob.waitForFinished(60000));
    QCOMPARE(bob.exitCode(), 0);
    const QString out = QString::fromUtf8(bob.readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral("received ") + m_alice.id + QStringLiteral(";11")),
             qPrintable(out));
}

void TestMessageRoad::serviceDownKeepsFiles() {
    queueMessage(m_alice, m_bob.id, 3);
    QCOMPARE(sync(m_alice).exitCode, 0);
    queueMessage(m_alice, m_bob.id, 4);
    QVERIFY(m_server->stop());
    const SyncRun down = sync(m_alice);
    QVERIFY(down.exitCode != 0);
    QVERIFY(filesIn(m_alice.folder("Outbox")).contains(m_bob.id + ";" + m_alice.id + ";4"));
    QVERIFY(m_server->restart());
    QCOMPARE(sync(m_alice).exitCode, 0);
    QCOMPARE(filesIn(m_alice.folder("Outbox")), QStringList{});
    QCOMPARE(sync(m_bob).out.count("received "), 3);
    QCOMPARE(sync(m_bob).out.count("received "), 1);
}

void TestMessageRoad::serverKilledDuringUpload() {
    // A large message keeps the upload busy long enough to cut it.
    queueMessage(m_alice, m_bob.id, 7, 48 * 1024 * 1024);
    QProcess client;
    startSync(client, m_alice);
    // Cut once the service is receiving the file.
    QTRY_VERIFY_WITH_TIMEOUT(
        client.state() == QProcess::NotRunning ||
            bytesIn(m_server->dataDir() + "/messages", QStringLiteral(".incoming-*")) > 0,
        60000);
    m_server->kill();
    // The client may be done already, before or after the cut.
    QVERIFY(client.state() == QProcess::NotRunning || client.waitForFinished(60000));
    QVERIFY(m_server->restart());
    // Whatever reached the service before the cut, the message is either
    // still waiting to be sent or delivered once, whole.
    QCOMPARE(sync(m_alice).exitCode, 0);
    QCOMPARE(filesIn(m_alice.folder("Outbox")), QStringList{});
    QCOMPARE(sync(m_bob).exitCode, 0);
    QCOMPARE(filesIn(m_bob.folder("Inbox")).size(), 2);
    // Whole, with the block of zeros a length of whole blocks brings.
    QCOMPARE(QFileInfo(m_bob.folder("Inbox/") + m_alice.id + ";7.wmv").size(),
             qint64(48) * 1024 * 1024 + 1024);
}

void TestMessageRoad::serverKilledDuringDownload() {
    const qint64 size = qint64(40) * 1024 * 1024;
    queueMessage(m_alice, m_bob.id, 8, size);
    QCOMPARE(sync(m_alice).exitCode, 0);
    QProcess client;
    startSync(client, m_bob);
    // Cut once the client is receiving the file.
    QTRY_VERIFY_WITH_TIMEOUT(client.state() == QProcess::NotRunning ||
                                 bytesBelow(m_bob.temp, QStringLiteral("vnin.dat*")) > 0,
                             60000);
    m_server->kill();
    QVERIFY(client.state() == QProcess::NotRunning || client.waitForFinished(60000));
    // Nothing half-filed: the video is either absent or whole.
    const QString video = m_bob.folder("Inbox/") + m_alice.id + ";8.wmv";
    QVERIFY(!QFile::exists(video) || QFileInfo(video).size() == size + 1024);
    QVERIFY(m_server->restart());
    QCOMPARE(sync(m_bob).exitCode, 0);
    QCOMPARE(QFileInfo(video).size(), size + 1024);
    QCOMPARE(filesIn(m_bob.folder("Inbox")).size(), 2);
    // Nothing waits any more.
    QCOMPARE(sync(m_bob).out.count("received "), 0);
}

QTEST_GUILESS_MAIN(TestMessageRoad)
#include "tst_messageroad.moc"
