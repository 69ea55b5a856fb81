#include "database.h"
#include "messagequeue.h"
#include "schema.h"

#include <QTemporaryDir>
#include <QTest>

// The queue's memory of delivered names: a repeated upload is recognised
// for thirty days after the delivery, and the sweep forgets it after that.
class TestMessageQueue : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void deliveredNamesAreForgottenAfterThirtyDays_data();
    void deliveredNamesAreForgottenAfterThirtyDays();
};

namespace {
bool enqueue(MessageQueue& queue, const std::string& name) {
    std::string error;
    auto file = queue.receive(&error);
    return file && file->write("x", 1) &&
           queue.enqueue(std::move(file), "bob", "alice", name, &error);
}
} // namespace

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
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::filesystem::path root = folder.path().toStdString();
    Database db(root / "clipnote.db", serverMigrations());
    {
        auto guard = db.lock();
        db.execute("INSERT INTO accounts (uid_key, uid, password_hash, created_at) "
                   "VALUES ('bob', 'bob', 'x', 0)");
    }
    auto clock = std::make_shared<ManualClock>();
    MessageQueue queue(db, root / "messages", clock);
    std::string error;
    QVERIFY2(queue.prepare(&error), error.c_str());
    const std::string name = "bob;alice;1";
    QVERIFY(enqueue(queue, name));
    QVERIFY(queue.confirm("bob", "BOB;Alice;1"));
    QCOMPARE(queue.waitingCount("bob"), 0);
    clock->advance(std::chrono::hours(24 * days));
    queue.sweep();
    QVERIFY(enqueue(queue, name));
    QCOMPARE(queue.waitingCount("bob"), waiting);
}

QTEST_GUILESS_MAIN(TestMessageQueue)
#include "tst_messagequeue.moc"
