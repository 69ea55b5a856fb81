#include "database.h"
#include "messagequeue.h"
#include "schema.h"
#include "testdatabase.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

// The queue's memory of delivered names (a repeated upload is recognised for
// thirty days after the delivery), its limits per recipient, and the expiry
// of messages nobody fetches.
class TestMessageQueue : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void deliveredNamesAreForgottenAfterThirtyDays_data();
    void deliveredNamesAreForgottenAfterThirtyDays();
    void deliveredNamesCanBeForgottenWhileRunning();
    void limitsPerRecipient_data();
    void limitsPerRecipient();
    void repeatIsTakenWhenFull_data();
    void repeatIsTakenWhenFull();
    void lastRoomGoesToOneOfTwo();
    void oldMessagesExpire_data();
    void oldMessagesExpire();
    void messageBeingDeliveredDoesNotExpire();
    void claimOfAProcessThatDiedLapses();

private:
    void makeQueue(QueueLimits limits = {});
    // Stores `size` bytes under name; the refusal is left in m_refusal.
    bool enqueue(const std::string& recipient, const std::string& name, int size = 1);
    int filesOnDisk() const;

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<Database> m_db;
    std::shared_ptr<ManualClock> m_clock;
    std::unique_ptr<MessageQueue> m_queue;
    EnqueueRefusal m_refusal = EnqueueRefusal::StorageFailed;
};

void TestMessageQueue::init() {
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    m_db = openTestDatabase(m_folder->path().toStdString() + "/clipnote.db");
    auto guard = m_db->lock();
    m_db->execute("INSERT INTO accounts (uid_key, uid, password_hash, created_at) "
                  "VALUES ('bob', 'bob', 'x', 0), ('carol', 'carol', 'x', 0)");
    m_clock = std::make_shared<ManualClock>();
}

void TestMessageQueue::cleanup() {
    m_queue.reset();
    m_db.reset();
    m_folder.reset();
}

void TestMessageQueue::makeQueue(QueueLimits limits) {
    m_queue = std::make_unique<MessageQueue>(*m_db, m_folder->path().toStdString() + "/messages",
                                             m_clock, limits);
    std::string error;
    QVERIFY2(m_queue->prepare(&error), error.c_str());
}

bool TestMessageQueue::enqueue(const std::string& recipient, const std::string& name, int size) {
    std::string error;
    auto file = m_queue->receive(&error);
    return file && file->write(std::string(size, 'x').data(), size) &&
           m_queue->enqueue(std::move(file), recipient, "alice", name, &error, &m_refusal);
}

// Stored bodies: files in the message folder, or bodies in the database.
int TestMessageQueue::filesOnDisk() const {
    if (m_db->kind() == Database::Kind::Postgres) {
        auto guard = m_db->lock();
        Statement query(*m_db, "SELECT COUNT(DISTINCT body_key) FROM message_bodies");
        return query.step() ? static_cast<int>(query.integer(0)) : -1;
    }
    return static_cast<int>(QDir(m_folder->path() + QStringLiteral("/messages"))
                                .entryList(QDir::Files | QDir::Hidden)
                                .size());
}

void TestMessageQueue::deliveredNamesAreForgottenAfterThirtyDays_data() {
    QTest::addColumn<int>("days");
    QTest::addColumn<int>("waiting");
    QTest::newRow("a day later") << 1 << 0;
    QTest::newRow("29 days later") << 29 << 0;
    QTest::newRow("31 days later") << 31 << 1;
}

void TestMessageQueue::deliveredNamesAreForgottenAfterThirtyDays() {
    QFETCH(int, days);
    QFETCH(int, waiting);
    makeQueue();
    const std::string name = "bob;alice;1";
    QVERIFY(enqueue("bob", name));
    QVERIFY(m_queue->confirm("bob", "BOB;Alice;1"));
    QCOMPARE(m_queue->waitingCount("bob"), 0);
    m_clock->advance(std::chrono::hours(24 * days));
    m_queue->sweep();
    QVERIFY(enqueue("bob", name));
    QCOMPARE(m_queue->waitingCount("bob"), waiting);
}

void TestMessageQueue::deliveredNamesCanBeForgottenWhileRunning() {
    makeQueue();
    QVERIFY(enqueue("bob", "bob;alice;1"));
    QVERIFY(m_queue->confirm("bob", "bob;alice;1"));
    std::string error;
    auto arriving = m_queue->receive(&error);
    QVERIFY(arriving && arriving->write("x", 1));
    m_clock->advance(31 * 24h);
    QCOMPARE(m_queue->forgetOldDeliveredNames(), 1);
    // Unlike the sweep at start, this leaves an upload in progress alone.
    QVERIFY(m_queue->enqueue(std::move(arriving), "bob", "alice", "bob;alice;1", &error));
    QCOMPARE(m_queue->waitingCount("bob"), 1);
}

void TestMessageQueue::limitsPerRecipient_data() {
    QTest::addColumn<int>("maxFiles");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<QList<int>>("stored");
    QTest::addColumn<int>("refused");
    QTest::newRow("one file too many") << 3 << 1000 << QList<int>{10, 10, 10} << 10;
    QTest::newRow("one byte too many") << 100 << 100 << QList<int>{60, 40} << 1;
    QTest::newRow("would pass the bytes") << 100 << 100 << QList<int>{60} << 41;
    QTest::newRow("larger than the queue") << 100 << 100 << QList<int>{} << 101;
}

void TestMessageQueue::limitsPerRecipient() {
    QFETCH(int, maxFiles);
    QFETCH(int, maxBytes);
    QFETCH(QList<int>, stored);
    QFETCH(int, refused);
    makeQueue({std::uint64_t(maxFiles), std::uint64_t(maxBytes)});
    for (int i = 0; i < stored.size(); ++i) {
        const std::string name = "bob;alice;" + std::to_string(i);
        QVERIFY(m_queue->hasRoomFor("bob", name, stored[i]));
        QVERIFY(enqueue("bob", name, stored[i]));
    }
    QVERIFY(!m_queue->hasRoomFor("bob", "bob;alice;new", refused));
    QVERIFY(!enqueue("bob", "bob;alice;new", refused));
    QCOMPARE(m_refusal, EnqueueRefusal::QueueFull);
    QCOMPARE(m_queue->waitingCount("bob"), int(stored.size()));
    QCOMPARE(filesOnDisk(), int(stored.size()));
    // Bob's full queue is no concern of Carol's.
    QVERIFY(m_queue->hasRoomFor("carol", "carol;alice;1", 1));
    QVERIFY(enqueue("carol", "carol;alice;1", 1));
}

void TestMessageQueue::repeatIsTakenWhenFull_data() {
    QTest::addColumn<bool>("delivered");
    QTest::newRow("repeat of a waiting message") << false;
    QTest::newRow("repeat of a delivered message") << true;
}

void TestMessageQueue::repeatIsTakenWhenFull() {
    QFETCH(bool, delivered);
    makeQueue({1, 1000});
    QVERIFY(enqueue("bob", "bob;alice;1"));
    if (delivered) {
        QVERIFY(m_queue->confirm("bob", "bob;alice;1"));
        QVERIFY(enqueue("bob", "bob;alice;2"));
    }
    QVERIFY(!m_queue->hasRoomFor("bob", "bob;alice;3", 1));
    QVERIFY(m_queue->hasRoomFor("bob", "BOB;Alice;1", 1));
    QVERIFY(enqueue("bob", "BOB;Alice;1"));
    QCOMPARE(m_queue->waitingCount("bob"), 1);
    QCOMPARE(filesOnDisk(), 1);
}

void TestMessageQueue::lastRoomGoesToOneOfTwo() {
    makeQueue({2, 1000});
    QVERIFY(enqueue("bob", "bob;alice;1"));
    // Both uploads were told there is room, then finish one after the other.
    QVERIFY(m_queue->hasRoomFor("bob", "bob;alice;2", 1));
    QVERIFY(m_queue->hasRoomFor("bob", "bob;alice;3", 1));
    std::string error;
    auto first = m_queue->receive(&error);
    auto second = m_queue->receive(&error);
    QVERIFY(first && first->write("a", 1) && second && second->write("b", 1));
    QVERIFY(m_queue->enqueue(std::move(first), "bob", "alice", "bob;alice;2", &error));
    EnqueueRefusal refusal = EnqueueRefusal::StorageFailed;
    QVERIFY(!m_queue->enqueue(std::move(second), "bob", "alice", "bob;alice;3", &error, &refusal));
    QCOMPARE(refusal, EnqueueRefusal::QueueFull);
    QCOMPARE(m_queue->waitingCount("bob"), 2);
    QCOMPARE(filesOnDisk(), 2);
}

void TestMessageQueue::oldMessagesExpire_data() {
    QTest::addColumn<int>("ageSeconds");
    QTest::addColumn<int>("expired");
    const int thirtyDays = 30 * 24 * 3600;
    QTest::newRow("a day old") << 24 * 3600 << 0;
    QTest::newRow("exactly thirty days old") << thirtyDays << 0;
    QTest::newRow("a second older") << thirtyDays + 1 << 1;
}

void TestMessageQueue::oldMessagesExpire() {
    QFETCH(int, ageSeconds);
    QFETCH(int, expired);
    makeQueue();
    QVERIFY(enqueue("bob", "bob;alice;1"));
    m_clock->advance(std::chrono::seconds(ageSeconds));
    QVERIFY(enqueue("carol", "carol;alice;1"));
    QCOMPARE(m_queue->expireWaiting(30 * 24 * 3600), expired);
    QCOMPARE(m_queue->waitingCount("bob"), 1 - expired);
    QCOMPARE(m_queue->waitingCount("carol"), 1);
    QCOMPARE(filesOnDisk(), 2 - expired);
}

void TestMessageQueue::messageBeingDeliveredDoesNotExpire() {
    makeQueue();
    QVERIFY(enqueue("bob", "bob;alice;1"));
    QVERIFY(enqueue("bob", "bob;alice;2"));
    const auto delivering = m_queue->claimOldest("bob");
    QVERIFY(delivering);
    m_clock->advance(31 * 24h);
    QCOMPARE(m_queue->expireWaiting(30 * 24 * 3600), 1);
    QCOMPARE(m_queue->oldest("bob")->name, std::string("bob;alice;1"));
    QVERIFY(m_queue->openBody(*delivering));
    m_queue->release(*delivering);
    QCOMPARE(m_queue->expireWaiting(30 * 24 * 3600), 1);
    QCOMPARE(m_queue->waitingCount("bob"), 0);
    QCOMPARE(filesOnDisk(), 0);
}

// Two server processes on one database: a delivery kept fresh is never
// handed out by the other, one whose process died is, soon after.
void TestMessageQueue::claimOfAProcessThatDiedLapses() {
    if (m_db->kind() != Database::Kind::Postgres)
        QSKIP("claims are shared between processes on PostgreSQL only");
    makeQueue();
    MessageQueue other(*m_db, m_folder->path().toStdString() + "/messages", m_clock, {});
    // Two deliveries under way, renewed together.
    QVERIFY(enqueue("bob", "bob;alice;1"));
    QVERIFY(enqueue("carol", "carol;alice;1"));
    const auto delivering = m_queue->claimOldest("bob");
    const auto alsoDelivering = m_queue->claimOldest("carol");
    QVERIFY(delivering);
    QVERIFY(alsoDelivering);
    const std::chrono::seconds claim(MessageQueue::kClaimSeconds);
    for (int round = 0; round < 3; ++round) {
        m_clock->advance(claim * 3 / 4);
        m_queue->renewClaims();
        QVERIFY(!other.claimOldest("bob"));
        QVERIFY(!other.claimOldest("carol"));
    }
    // Its process is gone: nothing renews the claims any more.
    m_clock->advance(claim + std::chrono::seconds(1));
    const auto takenOver = other.claimOldest("bob");
    QVERIFY(takenOver);
    QCOMPARE(takenOver->id, delivering->id);
    other.release(*takenOver);
    const auto alsoTakenOver = other.claimOldest("carol");
    QVERIFY(alsoTakenOver);
    QCOMPARE(alsoTakenOver->id, alsoDelivering->id);
    other.release(*alsoTakenOver);
}

QTEST_GUILESS_MAIN(TestMessageQueue)
#include "tst_messagequeue.moc"
