#include "passwords.h"

#include <QTest>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Password hashing under load: a few hashes at a time, the next callers
// served in turn, and a full queue turned away at once. The "slow hash"
// here is work that blocks until the test lets it finish, so nothing
// depends on how fast the machine is.
class TestHashingGate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void atMostTwoRunAndWaitersAreServed();
    void fullQueueIsBusy();
    void hasherGoesThroughGate_data();
    void hasherGoesThroughGate();
};

namespace {
// Work that counts how many run at once and blocks until opened.
class SlowWork {
public:
    void operator()() {
        const int now = ++m_running;
        int seen = m_mostAtOnce.load();
        while (now > seen && !m_mostAtOnce.compare_exchange_weak(seen, now)) {
        }
        {
            std::unique_lock lock(m_mutex);
            m_opened.wait(lock, [&] { return m_open; });
        }
        --m_running;
        ++m_finished;
    }
    void open() {
        {
            std::lock_guard guard(m_mutex);
            m_open = true;
        }
        m_opened.notify_all();
    }
    int running() const { return m_running; }
    int mostAtOnce() const { return m_mostAtOnce; }
    int finished() const { return m_finished; }

private:
    std::atomic<int> m_running{0};
    std::atomic<int> m_mostAtOnce{0};
    std::atomic<int> m_finished{0};
    std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_open = false;
};

// Callers on their own threads; busy ones are counted. Going out of scope
// lets the work finish, so a failed check does not leave threads hanging.
class Callers {
public:
    Callers(HashingGate& gate, SlowWork& work, int count) : m_work(work) {
        for (int i = 0; i < count; ++i) {
            m_threads.emplace_back([&] {
                try {
                    gate.run(std::ref(work));
                } catch (const PasswordHashingBusy&) {
                    ++m_busy;
                }
            });
        }
    }
    ~Callers() {
        m_work.open();
        join();
    }
    void join() {
        for (auto& thread : m_threads) {
            if (thread.joinable())
                thread.join();
        }
    }
    int busy() const { return m_busy; }

private:
    SlowWork& m_work;
    std::vector<std::thread> m_threads;
    std::atomic<int> m_busy{0};
};
} // namespace

void TestHashingGate::atMostTwoRunAndWaitersAreServed() {
    HashingGate gate({2, 32});
    SlowWork work;
    Callers callers(gate, work, 7);
    QTRY_COMPARE(gate.waiting(), 5);
    QCOMPARE(gate.running(), 2);
    // The two let in may not have started their work yet.
    QTRY_COMPARE(work.running(), 2);
    work.open();
    callers.join();
    QCOMPARE(work.finished(), 7);
    QCOMPARE(work.mostAtOnce(), 2);
    QCOMPARE(callers.busy(), 0);
    QCOMPARE(gate.running(), 0);
}

void TestHashingGate::fullQueueIsBusy() {
    HashingGate gate({2, 3});
    SlowWork work;
    Callers callers(gate, work, 5);
    QTRY_COMPARE(gate.waiting(), 3);
    bool ran = false;
    QVERIFY_THROWS_EXCEPTION(PasswordHashingBusy, gate.run([&] { ran = true; }));
    QVERIFY(!ran);
    work.open();
    callers.join();
    QCOMPARE(work.finished(), 5);
    QCOMPARE(callers.busy(), 0);
    // Once the queue has drained, callers are served again.
    QVERIFY(gate.run([] { return true; }));
}

void TestHashingGate::hasherGoesThroughGate_data() {
    QTest::addColumn<bool>("checking");
    QTest::newRow("hash") << false;
    QTest::newRow("verify") << true;
}

void TestHashingGate::hasherGoesThroughGate() {
    QFETCH(bool, checking);
    PasswordHasher hasher(HashStrength::Minimum, {1, 1});
    const std::string stored = hasher.hash("secret");
    const auto use = [&] {
        return checking ? std::string(hasher.verify(stored, "secret") ? "yes" : "no")
                        : hasher.hash("secret");
    };
    SlowWork work;
    {
        Callers callers(hasher.gate(), work, 2);
        QTRY_COMPARE(hasher.gate().waiting(), 1);
        QVERIFY_THROWS_EXCEPTION(PasswordHashingBusy, use());
        work.open();
    }
    const std::string result = use();
    QVERIFY(checking ? result == "yes" : result.starts_with("$argon2id$"));
}

QTEST_GUILESS_MAIN(TestHashingGate)
#include "tst_hashinggate.moc"
