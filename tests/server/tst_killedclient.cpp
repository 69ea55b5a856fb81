#include "headlessuser.h"
#include "serverprocess.h"
#include "testenvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <dirent.h>

namespace {
// One user of the headless client: an application folder, its own settings
// and temporary folder, and the password the service mailed.
using User = HeadlessUser;

// Small messages: a kill then lands in a transfer as often as between them.
constexpr qint64 kVideoBytes = 1500;
constexpr int kKills = 50;
constexpr quint32 kSeed = 20261208;

// Files directly in a folder, hidden ones left out as a list leaves them.
QStringList listed(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// Cheap enough to be asked every fraction of a millisecond.
int entriesIn(const QString& folder) {
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return 0;
    int count = 0;
    while (const dirent* entry = ::readdir(dir))
        count += entry->d_name[0] != '.';
    ::closedir(dir);
    return count;
}

// How a run of the client ended.
enum class RunEnd { Finished, Killed };
} // namespace

// The headless client killed with SIGKILL at random moments while it sends
// and while it receives, against a real service: once clean runs have let
// everything through, every message is in the recipient's Inbox exactly
// once and whole, no working file is listed or left behind, and nothing
// waits on the service any more.
class TestKilledClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void killedWhileReceiving();
    void killedWhileSending();

private:
    User makeUser(const QString& id);
    void startSync(QProcess& client, const User& user);
    // One clean run; its standard output, or a failed test.
    QString syncClean(const User& user);
    // Whether the process holds the locks of its user folder and of its
    // private working folder, both written out.
    bool holdsItsLocks(const User& user, qint64 pid) const;
    // Runs the client and kills it at a random moment: at a random time
    // within the length of a clean run, or just after it has moved
    // `progressFiles` more files into `watched`, when that is not 0.
    RunEnd syncKilled(const User& user, const QString& watched, int progressFiles);
    void queuePairs(int firstTick, int count);
    // Clean runs of the recipient until one brings nothing more; the files
    // they received in all.
    int receiveEverything();
    void verifyDelivered(const QList<int>& ticks);

    TestEnvironment m_env;
    std::unique_ptr<ServerProcess> m_server;
    QRandomGenerator m_random{kSeed};
    User m_alice;
    User m_bob;
    qint64 m_cleanRunMs = 0;
};

void TestKilledClient::initTestCase() {
    QVERIFY2(!qEnvironmentVariableIsEmpty("CLIPNOTE_CLIENT_BIN"), "the client program is needed");
}

void TestKilledClient::init() {
    m_server = std::make_unique<ServerProcess>();
    QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    m_alice = makeUser(QStringLiteral("alice@example.org"));
    m_bob = makeUser(QStringLiteral("bob@example.org"));
    QVERIFY(!m_alice.password.isEmpty());
    QVERIFY(!m_bob.password.isEmpty());
    // The first runs make the user folders and time a clean run: the
    // shorter of two, as a busy moment may hold up one.
    for (const User& user : {m_alice, m_bob}) {
        QElapsedTimer timer;
        timer.start();
        syncClean(user);
        m_cleanRunMs = m_cleanRunMs ? qMin(m_cleanRunMs, timer.elapsed()) : timer.elapsed();
    }
}

void TestKilledClient::cleanup() {
    m_server.reset();
}

User TestKilledClient::makeUser(const QString& id) {
    return makeHeadlessUser(m_env, *m_server, id);
}

void TestKilledClient::startSync(QProcess& client, const User& user) {
    // The idle pause of a cycle without anything to send, shortened.
    QProcessEnvironment env;
    env.insert("CLIPNOTE_TIMER_SCALE", "0.05");
    startHeadlessSync(client, user, m_server->baseUrl(), {}, env);
}

QString TestKilledClient::syncClean(const User& user) {
    QProcess client;
    startSync(client, user);
    if (!client.waitForFinished(60000)) {
        client.kill();
        client.waitForFinished();
        QTest::qFail(qPrintable("a clean run did not end: " + client.errorString()), __FILE__,
                     __LINE__);
        return {};
    }
    if (client.exitStatus() != QProcess::NormalExit || client.exitCode() != 0)
        QTest::qFail(qPrintable("a clean run failed: " + client.readAllStandardError()), __FILE__,
                     __LINE__);
    return QString::fromUtf8(client.readAllStandardOutput());
}

bool TestKilledClient::holdsItsLocks(const User& user, qint64 pid) const {
    const QByteArray line = QByteArray::number(pid) + '\n';
    const auto names = [&line](const QString& path) {
        QFile lock(path);
        return lock.open(QIODevice::ReadOnly) && lock.readLine() == line;
    };
    if (!names(user.folder(".clipnote.lock")))
        return false;
    // The private working folder lies somewhere under the temporary folder.
    QDirIterator it(user.temp, {".clipnote.lock"}, QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    return it.hasNext() && names(it.next());
}

RunEnd TestKilledClient::syncKilled(const User& user, const QString& watched, int progressFiles) {
    const int before = entriesIn(watched);
    // Up to the length of a clean run after the program holds its folders,
    // so that some runs end by themselves. A program killed while it takes
    // a lock would only keep the next one out for a while, which is not
    // what is tested here.
    const qint64 killAtUs =
        progressFiles == 0 ? qint64(m_random.bounded(int(m_cleanRunMs * 1000) + 1)) : -1;
    // After the progress seen, up to the time of a small transfer or two.
    const qint64 extraUs = m_random.bounded(1500);
    QProcess client;
    startSync(client, user);
    client.waitForStarted(60000);
    QElapsedTimer timer;
    timer.start();
    qint64 progressAtUs = -1;
    qint64 lockedAtUs = -1;
    while (client.state() == QProcess::Running) {
        const qint64 nowUs = timer.nsecsElapsed() / 1000;
        if (progressAtUs < 0 && progressFiles > 0 && entriesIn(watched) >= before + progressFiles)
            progressAtUs = nowUs;
        if (lockedAtUs < 0 && killAtUs >= 0 && holdsItsLocks(user, client.processId()))
            lockedAtUs = nowUs;
        const bool due = killAtUs >= 0 ? lockedAtUs >= 0 && nowUs >= lockedAtUs + killAtUs
                                       : progressAtUs >= 0 && nowUs >= progressAtUs + extraUs;
        if (due) {
            client.kill();
            client.waitForFinished(60000);
            return client.exitStatus() == QProcess::CrashExit ? RunEnd::Killed : RunEnd::Finished;
        }
        if (nowUs > 60'000'000) {
            client.kill();
            client.waitForFinished(60000);
            QTest::qFail("a run hung", __FILE__, __LINE__);
            return RunEnd::Finished;
        }
        // A state change of the process is seen only through its events.
        client.waitForFinished(0);
        QThread::usleep(100);
    }
    client.waitForFinished(60000);
    return RunEnd::Finished;
}

void TestKilledClient::queuePairs(int firstTick, int count) {
    for (int tick = firstTick; tick < firstTick + count; ++tick) {
        const QString name = QStringLiteral("%1;%2;%3").arg(m_bob.id, m_alice.id).arg(tick);
        writeFile(m_alice.folder("Outbox/") + name, messageBytes(tick, kVideoBytes));
        writeFile(m_alice.folder("Outbox/") + name + ".jpg", "thumbnail of " + name.toUtf8());
    }
}

int TestKilledClient::receiveEverything() {
    int received = 0;
    // Three files a run at most; the bound only keeps a fault from looping.
    for (int run = 0; run < 400; ++run) {
        const int now = int(syncClean(m_bob).count("received "));
        received += now;
        if (QTest::currentTestFailed() || now == 0)
            return received;
    }
    QTest::qFail("the Inbox never stopped growing", __FILE__, __LINE__);
    return received;
}

void TestKilledClient::verifyDelivered(const QList<int>& ticks) {
    QStringList expected;
    QStringList sent;
    for (const int tick : ticks) {
        expected << QStringLiteral("%1;%2.wmv").arg(m_alice.id).arg(tick)
                 << QStringLiteral("%1;%2.jpg").arg(m_alice.id).arg(tick);
        sent << QStringLiteral("%1;%2;%3.wmv").arg(m_bob.id, m_alice.id).arg(tick)
             << QStringLiteral("%1;%2;%3.jpg").arg(m_bob.id, m_alice.id).arg(tick);
    }
    expected.sort();
    sent.sort();
    // Each message once, and nothing half-written among them.
    const QStringList inbox = listed(m_bob.folder("Inbox"));
    QStringList missing = expected;
    missing.removeIf([&inbox](const QString& name) { return inbox.contains(name); });
    QStringList extra = inbox;
    extra.removeIf([&expected](const QString& name) { return expected.contains(name); });
    QVERIFY2(missing.isEmpty() && extra.isEmpty(),
             qPrintable("missing: " + missing.join(' ') + " extra: " + extra.join(' ')));
    QCOMPARE(listed(m_alice.folder("Outbox")), QStringList());
    QCOMPARE(listed(m_alice.folder("Sent")), sent);
    for (const int tick : ticks) {
        // Uploads go in whole blocks, so a video arrives padded with zeros.
        const QByteArray video = readFile(m_bob.folder("Inbox/") +
                                          QStringLiteral("%1;%2.wmv").arg(m_alice.id).arg(tick));
        QCOMPARE(video.size(), 2048);
        QCOMPARE(video.left(kVideoBytes), messageBytes(tick, kVideoBytes));
        const QByteArray thumbnail = readFile(
            m_bob.folder("Inbox/") + QStringLiteral("%1;%2.jpg").arg(m_alice.id).arg(tick));
        QVERIFY(thumbnail.startsWith(
            QStringLiteral("thumbnail of %1;%2;%3").arg(m_bob.id, m_alice.id).arg(tick).toUtf8() +
            '\0'));
    }
    // What killed writers left was swept by the clean runs.
    for (const User& user : {m_alice, m_bob})
        QCOMPARE(QDir(user.folder()).entryList({"*.part"}, QDir::Files | QDir::Hidden),
                 QStringList());
    // Nothing waits on the service: no copy was queued twice.
    QCOMPARE(syncClean(m_bob).count("received "), 0);
}

void TestKilledClient::killedWhileReceiving() {
    QElapsedTimer timer;
    timer.start();
    int pairs = 0;
    int kills = 0;
    int runs = 0;
    while (kills < kKills && runs < 20 * kKills) {
        ++runs;
        // Every killed run has more waiting than a run can take.
        if (entriesIn(m_bob.folder("Inbox")) + 12 > 2 * pairs) {
            queuePairs(pairs + 1, 40);
            pairs += 40;
            QCOMPARE(syncClean(m_alice).count("sent "), 80);
        }
        // Half of the kills follow a filing, the moment before its receipt
        // is confirmed; the others fall anywhere in a run.
        const int progress = m_random.bounded(2) ? int(m_random.bounded(1, 3)) : 0;
        kills += syncKilled(m_bob, m_bob.folder("Inbox"), progress) == RunEnd::Killed;
        if (QTest::currentTestFailed())
            return;
    }
    QCOMPARE(kills, kKills);
    const int filedBeforeCleanRuns = entriesIn(m_bob.folder("Inbox"));
    receiveEverything();
    QList<int> ticks;
    for (int tick = 1; tick <= pairs; ++tick)
        ticks << tick;
    verifyDelivered(ticks);
    qInfo("receiving: %d runs, %d killed, %d of %d files filed by then, %lld ms", runs, kills,
          filedBeforeCleanRuns, 2 * pairs, timer.elapsed());
}

void TestKilledClient::killedWhileSending() {
    QElapsedTimer timer;
    timer.start();
    QList<int> ticks;
    int kills = 0;
    int runs = 0;
    while (kills < kKills && runs < 20 * kKills) {
        ++runs;
        // New messages for every run, so that each one has uploads to cut.
        queuePairs(2 * runs - 1, 2);
        ticks << 2 * runs - 1 << 2 * runs;
        // Half of the kills follow a file's move to Sent, when the next
        // upload is under way or has just been answered.
        const int progress = m_random.bounded(2) ? int(m_random.bounded(1, 4)) : 0;
        kills += syncKilled(m_alice, m_alice.folder("Sent"), progress) == RunEnd::Killed;
        if (QTest::currentTestFailed())
            return;
    }
    QCOMPARE(kills, kKills);
    // What a killed run left in the Outbox goes out again.
    syncClean(m_alice);
    // A file posted again after its "OK" was never queued twice.
    QCOMPARE(receiveEverything(), 2 * int(ticks.size()));
    verifyDelivered(ticks);
    qInfo("sending: %d runs, %d killed, %lld messages, %lld ms", runs, kills, qint64(ticks.size()),
          timer.elapsed());
}

QTEST_GUILESS_MAIN(TestKilledClient)
#include "tst_killedclient.moc"
