#include "waitingroom.h"

#include <QTest>

#include <atomic>
#include <memory>

using namespace std::chrono_literals;

// Recipients waiting for their next message: each is answered exactly once,
// by an arrival for it, by its deadline, or when the room closes.
class TestWaitingRoom : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void arrivalAnswersOnlyThatRecipient();
    void deadlinesAnswerInTheirOrder();
    void closingAnswersEveryone();
};

namespace {
struct Answers {
    std::atomic<int> arrived{0};
    std::atomic<int> timedOut{0};
    WaitingRoom::Answer answer() {
        return [this](bool came) { ++(came ? arrived : timedOut); };
    }
};
} // namespace

void TestWaitingRoom::arrivalAnswersOnlyThatRecipient() {
    WaitingRoom room;
    Answers bob;
    Answers carol;
    const auto later = std::chrono::steady_clock::now() + 1h;
    room.wait("bob", later, bob.answer());
    room.wait("bob", later, bob.answer());
    room.wait("carol", later, carol.answer());
    room.arrived("bob");
    QCOMPARE(bob.arrived.load(), 2);
    QCOMPARE(carol.arrived.load(), 0);
    QCOMPARE(room.waiting(), std::size_t(1));
    // A second arrival finds nobody left to tell.
    room.arrived("bob");
    QCOMPARE(bob.arrived.load(), 2);
}

void TestWaitingRoom::deadlinesAnswerInTheirOrder() {
    WaitingRoom room;
    Answers soon;
    Answers late;
    const auto now = std::chrono::steady_clock::now();
    room.wait("late", now + 1h, late.answer());
    room.wait("soon", now + 50ms, soon.answer());
    QTRY_COMPARE(soon.timedOut.load(), 1);
    QCOMPARE(late.timedOut.load(), 0);
    QCOMPARE(room.waiting(), std::size_t(1));
    // An arrival after the deadline answers nobody twice.
    room.arrived("soon");
    QCOMPARE(soon.arrived.load(), 0);
}

void TestWaitingRoom::closingAnswersEveryone() {
    Answers answers;
    {
        WaitingRoom room;
        for (int i = 0; i < 100; ++i)
            room.wait("user" + std::to_string(i % 7), std::chrono::steady_clock::now() + 1h,
                      answers.answer());
        room.arrived("user3");
    }
    QCOMPARE(answers.arrived.load() + answers.timedOut.load(), 100);
    QCOMPARE(answers.arrived.load(), 14);
}

QTEST_GUILESS_MAIN(TestWaitingRoom)
#include "tst_waitingroom.moc"
