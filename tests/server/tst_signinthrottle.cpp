#include "signinthrottle.h"
#include "testdatabase.h"

#include <QTest>

#include <memory>
#include <string>

using namespace std::chrono_literals;

// Throttling of failed sign-ins per user ID, on a clock the test moves.
class TestSignInThrottle : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void locksAfterFreeFailures();
    void lockGrowsAndIsCapped_data();
    void lockGrowsAndIsCapped();
    void refusalsDuringLockDoNotCount();
    void successClearsRecord();
    void quietWindowForgets();
    void idsAreIndependent();
    void memoryIsBounded();
    void serversOnOneDatabaseShareRecords();

private:
    // Fails `count` admitted attempts for key; false if one was refused.
    bool fail(SignInThrottle& throttle, const std::string& key, int count);

    std::shared_ptr<ManualClock> m_clock;
};

void TestSignInThrottle::init() {
    m_clock = std::make_shared<ManualClock>();
}

bool TestSignInThrottle::fail(SignInThrottle& throttle, const std::string& key, int count) {
    for (int i = 0; i < count; ++i) {
        if (throttle.admit(key) != 0s)
            return false;
    }
    return true;
}

void TestSignInThrottle::locksAfterFreeFailures() {
    SignInThrottle throttle(m_clock);
    QVERIFY(fail(throttle, "a@example.org", 5));
    QCOMPARE(throttle.admit("a@example.org"), 30s);
    m_clock->advance(29s);
    QCOMPARE(throttle.admit("a@example.org"), 1s);
    m_clock->advance(1s);
    QCOMPARE(throttle.admit("a@example.org"), 0s);
}

void TestSignInThrottle::lockGrowsAndIsCapped_data() {
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("lockSeconds");
    QTest::newRow("5th failure") << 5 << 30;
    QTest::newRow("6th failure") << 6 << 60;
    QTest::newRow("7th failure") << 7 << 120;
    QTest::newRow("9th failure") << 9 << 480;
    QTest::newRow("11th failure") << 11 << 1920;
    QTest::newRow("12th failure, capped") << 12 << 3600;
    QTest::newRow("40th failure, capped") << 40 << 3600;
}

void TestSignInThrottle::lockGrowsAndIsCapped() {
    QFETCH(int, failures);
    QFETCH(int, lockSeconds);
    SignInThrottle throttle(m_clock);
    for (int i = 0; i < failures; ++i) {
        const auto wait = throttle.admit("a@example.org");
        if (wait != 0s) {
            // Sit out the lock, then the next attempt is admitted.
            m_clock->advance(wait);
            QCOMPARE(throttle.admit("a@example.org"), 0s);
        }
    }
    QCOMPARE(throttle.admit("a@example.org"), std::chrono::seconds(lockSeconds));
}

void TestSignInThrottle::refusalsDuringLockDoNotCount() {
    SignInThrottle throttle(m_clock);
    QVERIFY(fail(throttle, "a@example.org", 5));
    for (int i = 0; i < 20; ++i)
        QVERIFY(throttle.admit("a@example.org") > 0s);
    m_clock->advance(30s);
    QVERIFY(fail(throttle, "a@example.org", 1));
    // Still the 6th failure, not the 26th.
    QCOMPARE(throttle.admit("a@example.org"), 60s);
}

void TestSignInThrottle::successClearsRecord() {
    SignInThrottle throttle(m_clock);
    QVERIFY(fail(throttle, "a@example.org", 4));
    throttle.succeeded("a@example.org");
    QCOMPARE(throttle.tracked(), size_t(0));
    QVERIFY(fail(throttle, "a@example.org", 4));
    QCOMPARE(throttle.admit("a@example.org"), 0s);
}

void TestSignInThrottle::quietWindowForgets() {
    SignInThrottle throttle(m_clock);
    QVERIFY(fail(throttle, "a@example.org", 4));
    m_clock->advance(15min + 1s);
    QVERIFY(fail(throttle, "a@example.org", 4));
    QCOMPARE(throttle.admit("a@example.org"), 0s);

    // A long lock is measured from its end, so the growth is not lost just
    // because the lock outlasted the window.
    SignInThrottle second(m_clock);
    for (int i = 0; i < 11; ++i) {
        if (const auto wait = second.admit("b@example.org"); wait != 0s) {
            m_clock->advance(wait);
            QCOMPARE(second.admit("b@example.org"), 0s);
        }
    }
    m_clock->advance(1920s + 10min);
    QVERIFY(fail(second, "b@example.org", 1));
    QCOMPARE(second.admit("b@example.org"), 3600s);
    m_clock->advance(3600s + 15min + 1s);
    QVERIFY(fail(second, "b@example.org", 4));
    QCOMPARE(second.admit("b@example.org"), 0s);
}

void TestSignInThrottle::idsAreIndependent() {
    SignInThrottle throttle(m_clock);
    QVERIFY(fail(throttle, "a@example.org", 5));
    QVERIFY(throttle.admit("a@example.org") > 0s);
    QVERIFY(fail(throttle, "b@example.org", 4));
}

void TestSignInThrottle::memoryIsBounded() {
    SignInThrottle::Policy policy;
    policy.maxTracked = 3;
    SignInThrottle throttle(m_clock, policy);
    QVERIFY(fail(throttle, "locked@example.org", 5));
    m_clock->advance(1s);
    for (int i = 0; i < 10; ++i) {
        QVERIFY(fail(throttle, "x" + std::to_string(i) + "@example.org", 1));
        QVERIFY(throttle.tracked() <= 3);
    }
}

// Two servers on one database: failures on either count for the ID, a lock
// holds on both, and a success on one clears the record for both.
void TestSignInThrottle::serversOnOneDatabaseShareRecords() {
    TestEnvironment env;
    const auto db =
        openTestDatabase(env.makeFolder(QStringLiteral("throttle")).toStdString() + "/t.db");
    SignInThrottle first(m_clock, {}, *db);
    SignInThrottle second(m_clock, {}, *db);
    QVERIFY(fail(first, "alice", 3));
    QVERIFY(fail(second, "alice", 2));
    QCOMPARE(first.admit("alice"), 30s);
    QCOMPARE(second.admit("alice"), 30s);
    QCOMPARE(second.admit("bob"), 0s);
    m_clock->advance(30s);
    QCOMPARE(second.admit("alice"), 0s);
    QCOMPARE(first.admit("alice"), 60s);
    m_clock->advance(60s);
    second.succeeded("alice");
    QVERIFY(fail(first, "alice", 4));
}

QTEST_GUILESS_MAIN(TestSignInThrottle)
#include "tst_signinthrottle.moc"
