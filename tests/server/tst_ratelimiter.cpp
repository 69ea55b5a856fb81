#include "ratelimiter.h"
#include "testdatabase.h"

#include <QTest>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

// Per-key allowances on a clock the test moves: a burst, then a slow refill,
// and a table that stays small whatever keys arrive.
class TestRateLimiter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void burstThenRefill_data();
    void burstThenRefill();
    void refusalsCostNothing();
    void keysAreIndependent();
    void parallelCallersShareOneBurst();
    void tableStaysBounded();
    void wholeRecordsAreForgotten();
    void serversOnOneDatabaseShareAllowances();

private:
    // How many of `count` attempts on key are admitted.
    static int admitted(RateLimiter& limiter, const std::string& key, int count);

    std::shared_ptr<ManualClock> m_clock;
};

void TestRateLimiter::init() {
    m_clock = std::make_shared<ManualClock>();
}

int TestRateLimiter::admitted(RateLimiter& limiter, const std::string& key, int count) {
    int admitted = 0;
    for (int i = 0; i < count; ++i)
        admitted += limiter.admit(key) == 0s;
    return admitted;
}

void TestRateLimiter::burstThenRefill_data() {
    QTest::addColumn<int>("burst");
    QTest::addColumn<int>("refillSeconds");
    QTest::newRow("per address: 3, one a minute") << 3 << 60;
    QTest::newRow("per client: 20, one per 10 s") << 20 << 10;
}

void TestRateLimiter::burstThenRefill() {
    QFETCH(int, burst);
    QFETCH(int, refillSeconds);
    const std::chrono::seconds refill(refillSeconds);
    RateLimiter limiter(m_clock, {burst, refill});
    QCOMPARE(admitted(limiter, "a@example.org", burst), burst);
    QCOMPARE(limiter.admit("a@example.org"), refill);
    m_clock->advance(refill - 1s);
    QCOMPARE(limiter.admit("a@example.org"), 1s);
    m_clock->advance(1s);
    QCOMPARE(limiter.admit("a@example.org"), 0s);
    QCOMPARE(limiter.admit("a@example.org"), refill);
    // A long pause refills the whole burst, never more.
    m_clock->advance(refill * (burst + 5));
    QCOMPARE(admitted(limiter, "a@example.org", burst + 1), burst);
}

void TestRateLimiter::refusalsCostNothing() {
    RateLimiter limiter(m_clock, {3, 60s});
    QCOMPARE(admitted(limiter, "a@example.org", 3), 3);
    QCOMPARE(admitted(limiter, "a@example.org", 50), 0);
    m_clock->advance(60s);
    QCOMPARE(limiter.admit("a@example.org"), 0s);
}

void TestRateLimiter::keysAreIndependent() {
    RateLimiter limiter(m_clock, {3, 60s});
    QCOMPARE(admitted(limiter, "a@example.org", 4), 3);
    QCOMPARE(admitted(limiter, "b@example.org", 4), 3);
}

void TestRateLimiter::parallelCallersShareOneBurst() {
    RateLimiter limiter(m_clock, {3, 60s});
    std::atomic<int> admissions{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i)
                admissions += limiter.admit("a@example.org") == 0s;
        });
    }
    for (auto& thread : threads)
        thread.join();
    QCOMPARE(admissions.load(), 3);
}

void TestRateLimiter::tableStaysBounded() {
    RateLimiter limiter(m_clock, {3, 60s, 1000});
    for (int i = 0; i < 100000; ++i) {
        QCOMPARE(limiter.admit("k" + std::to_string(i)), 0s);
        if (limiter.tracked() > 1000)
            QFAIL(qPrintable(QStringLiteral("%1 keys tracked").arg(limiter.tracked())));
    }
    QCOMPARE(limiter.tracked(), std::size_t(1000));
    // The newest keys are still held to their allowance.
    QCOMPARE(admitted(limiter, "k99999", 3), 2);
}

void TestRateLimiter::wholeRecordsAreForgotten() {
    RateLimiter limiter(m_clock, {3, 60s});
    for (int i = 0; i < 50; ++i)
        limiter.admit("k" + std::to_string(i));
    m_clock->advance(59s);
    // Still owed: nothing may be forgotten yet.
    for (int i = 0; i < 10; ++i)
        limiter.admit("fresh");
    QCOMPARE(limiter.tracked(), std::size_t(51));
    m_clock->advance(1s);
    // Calls keep clearing whole records without anyone asking.
    for (int i = 0; i < 50; ++i)
        limiter.admit("fresh");
    QCOMPARE(limiter.tracked(), std::size_t(1));
}

// Two servers on one database, each with its own limiter: one allowance.
void TestRateLimiter::serversOnOneDatabaseShareAllowances() {
    TestEnvironment env;
    const auto db =
        openTestDatabase(env.makeFolder(QStringLiteral("limits")).toStdString() + "/l.db");
    RateLimiter first(m_clock, {3, 60s}, *db, "per-address");
    RateLimiter second(m_clock, {3, 60s}, *db, "per-address");
    RateLimiter otherKind(m_clock, {3, 60s}, *db, "per-client");
    QCOMPARE(admitted(first, "a@example.org", 2), 2);
    QCOMPARE(admitted(second, "a@example.org", 1), 1);
    QCOMPARE(second.admit("a@example.org"), 60s);
    QCOMPARE(first.admit("a@example.org"), 60s);
    QCOMPARE(admitted(otherKind, "a@example.org", 3), 3);
    QCOMPARE(admitted(first, "b@example.org", 1), 1);
    m_clock->advance(60s);
    QCOMPARE(admitted(second, "a@example.org", 2), 1);
}

QTEST_GUILESS_MAIN(TestRateLimiter)
#include "tst_ratelimiter.moc"
