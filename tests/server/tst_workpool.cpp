#include "workpool.h"

#include <QTest>

#include <future>
#include <mutex>
#include <vector>

// The page threads take the job of the oldest request first, so that a
// request under way does not queue behind every request that came later.
class TestWorkPool : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void oldestRequestFirst_data();
    void oldestRequestFirst();
};

void TestWorkPool::oldestRequestFirst_data() {
    QTest::addColumn<QList<int>>("ranks"); // milliseconds, in the order submitted
    QTest::addColumn<QList<int>>("expected");

    QTest::newRow("first come first served") << QList<int>{0, 1, 2} << QList<int>{0, 1, 2};
    QTest::newRow("a request under way overtakes newer ones")
        << QList<int>{5, 6, 7, 1} << QList<int>{3, 0, 1, 2};
    QTest::newRow("same rank keeps its order") << QList<int>{3, 3, 1, 3} << QList<int>{2, 0, 1, 3};
    QTest::newRow("reversed") << QList<int>{4, 3, 2, 1, 0} << QList<int>{4, 3, 2, 1, 0};
}

void TestWorkPool::oldestRequestFirst() {
    QFETCH(QList<int>, ranks);
    QFETCH(QList<int>, expected);

    WorkPool pool(1);
    std::promise<void> release;
    std::promise<void> blocking;
    // Holds the only thread while the others queue up.
    pool.submit([&] {
        blocking.set_value();
        release.get_future().wait();
    });
    blocking.get_future().wait();

    std::mutex mutex;
    QList<int> ran;
    const auto base = WorkPool::Clock::now();
    for (int i = 0; i < ranks.size(); ++i)
        pool.submit(
            [&, i] {
                std::lock_guard lock(mutex);
                ran.append(i);
            },
            base + std::chrono::milliseconds(ranks[i]));
    release.set_value();
    pool.drain();
    QCOMPARE(ran, expected);
}

QTEST_GUILESS_MAIN(TestWorkPool)
#include "tst_workpool.moc"
