#include "platform/filestatus.h"
#include "platform/helpers.h"
#include "platform/profile.h"
#include "service/sendreceiveworker.h"
#include "store/messagestore.h"
#include "storefixture.h"
#include "unwritable.h"

#include <QDateTime>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>

#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
// A downloaded record: 255-byte name field, 32-byte date, then the file.
QByteArray record(const QByteArray& name, const QByteArray& date, const QByteArray& body) {
    QByteArray bytes(255 + 32, '\0');
    bytes.replace(0, std::min<qsizetype>(name.size(), 255), name.left(255));
    bytes.replace(255, std::min<qsizetype>(date.size(), 31), date.left(31));
    return bytes + body;
}

struct Upload {
    QString path, name, sender, recipient;
    QByteArray bytes;
};

// Stands in for the service: uploads succeed unless refused by name, and
// each download hands out the next queued record.
class FakeTransport : public MessageTransport {
public:
    TransferResult upload(const QString& path, const QString& name, const QString& sender,
                          const QString& recipient) override {
        QFile file(path);
        if (signedOut)
            return {TransferResult::Outcome::SessionGone, {}};
        if (refusedForGood.contains(name))
            return {TransferResult::Outcome::Refused, refusedForGood.value(name)};
        if (!file.open(QIODevice::ReadOnly) || refused.contains(name))
            return TransferResult::failed();
        uploads.append({path, name, sender, recipient, file.readAll()});
        return TransferResult::done();
    }
    TransferResult download(const QString& targetPath) override {
        ++downloads;
        confirmations.append(received);
        if (signedOut)
            return {TransferResult::Outcome::SessionGone, {}};
        if (waiting.isEmpty())
            return TransferResult::failed();
        writeFile(targetPath, waiting.takeFirst());
        return TransferResult::done();
    }
    void setReceived(const QString& name) override { received = name; }
    bool signInAgain() override { return false; }
    // Answers from the list; with none left, waits until told to stop.
    WaitOutcome waitForMessage(int, const std::function<bool()>& abort) override {
        ++waits;
        {
            std::lock_guard lock(waitMutex);
            if (!waitAnswers.isEmpty())
                return waitAnswers.takeFirst();
        }
        while (!abort())
            std::this_thread::yield();
        return WaitOutcome::Aborted;
    }
    std::mutex waitMutex;
    QList<WaitOutcome> waitAnswers{WaitOutcome::Unsupported};
    std::atomic<int> waits{0};
    QList<Upload> uploads;
    // Refused without a reason (a failure that may pass) ...
    QStringList refused;
    // ... or for good, with the service's reason.
    QMap<QString, QString> refusedForGood;
    std::atomic<bool> signedOut{false};
    // The confirmation each download carried.
    QString received;
    QStringList confirmations;
    QList<QByteArray> waiting;
    int downloads = 0;
};

class RecordingObserver : public CycleObserver {
public:
    void setStatus(const QString& text) override { statuses.append(text); }
    void reloadList(int folder) override { reloads.append(folder); }
    void setTabCount(int tab, int count) override { counts[tab] = count; }
    void setTrayBlinking(bool on) override { blinking = on ? 1 : 0; }
    void newMessage(const QString& name) override { newMessages.append(name); }
    void contactsChanged() override { ++contactChanges; }
    void updateAllCounts() override { ++allCounts; }
    void signedOut() override { ++signedOuts; }
    void sendRefused(const QString& name, const QString& reason) override {
        refusals.append(name + QLatin1Char(':') + reason);
    }
    std::atomic<int> signedOuts{0};
    QStringList refusals;
    QStringList statuses, newMessages;
    QList<int> reloads;
    QMap<int, int> counts;
    int blinking = -1;
    int contactChanges = 0;
    std::atomic<int> allCounts{0};
};
} // namespace

// One Send/Receive cycle against a stand-in service: what is sent, kept,
// received, refused, and what the window is told.
class TestSendReceiveWorker : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void sendPhaseKeepsOrDropsCopies_data();
    void sendPhaseKeepsOrDropsCopies();
    void failedUploadStaysInOutbox();
    void refusedUploadWaitsForRetry();
    void signedOutAsksAgainOnlyWhenAskedAndResumes();
    void emptyOutboxReloadsNothing();
    void receivedRecordsAreFiled_data();
    void receivedRecordsAreFiled();
    void receivedThumbnailBecomesContactPicture();
    void fiveWaitingArriveAsThreeThenTwo();
    void onlyContactsWhenAllowAllIsOff_data();
    void onlyContactsWhenAllowAllIsOff();
    void badRecordsAreDiscarded_data();
    void badRecordsAreDiscarded();
    void eachDownloadConfirmsTheRecordBefore_data();
    void eachDownloadConfirmsTheRecordBefore();
    void unwritableInboxConfirmsNothing();
    void redeliveredMessageIsFiledOnce();
    void firstCycleSweepsAbandonedWorkingFiles();
    void gestureSkipsTransfers();
    void earlyCycleAndExit();
    void waitingOnTheService_data();
    void waitingOnTheService();

private:
    std::unique_ptr<SendReceiveWorker> makeWorker();
    TestEnvironment m_env;
    QString m_folder;
    QString m_temp;
    std::unique_ptr<MessageStore> m_store;
    FakeTransport m_transport;
    RecordingObserver m_observer;
    QMap<QString, int> m_profile;
    std::unique_ptr<WorkerFlags> m_flags;
    std::atomic<int> m_now{0};
};

void TestSendReceiveWorker::initTestCase() {
    setTimerScale(0.01);
}

void TestSendReceiveWorker::init() {
    static int run = 0;
    m_folder = makeUserFolder(m_env, QStringLiteral("Users%1").arg(++run), QStringLiteral("Alice"));
    m_temp = m_env.makeFolder(QStringLiteral("tmp%1").arg(run));
    m_store = std::make_unique<MessageStore>(m_folder);
    m_transport.uploads.clear();
    m_transport.refused.clear();
    m_transport.refusedForGood.clear();
    m_transport.signedOut = false;
    m_transport.received.clear();
    m_transport.confirmations.clear();
    m_transport.waiting.clear();
    m_transport.downloads = 0;
    m_transport.waitAnswers = {WaitOutcome::Unsupported};
    m_transport.waits = 0;
    m_observer.signedOuts = 0;
    m_observer.refusals.clear();
    m_observer.statuses.clear();
    m_observer.newMessages.clear();
    m_observer.reloads.clear();
    m_observer.counts.clear();
    m_observer.blinking = -1;
    m_observer.contactChanges = 0;
    m_observer.allCounts = 0;
    m_profile.clear();
    m_flags = std::make_unique<WorkerFlags>();
    m_now = 0;
}

std::unique_ptr<SendReceiveWorker> TestSendReceiveWorker::makeWorker() {
    return std::make_unique<SendReceiveWorker>(*m_store, QStringLiteral("alice"), m_temp,
                                               m_transport, m_observer, *m_flags, m_now,
                                               [this](const QString& entry, int defaultValue) {
                                                   return m_profile.value(entry, defaultValue);
                                               });
}

void TestSendReceiveWorker::sendPhaseKeepsOrDropsCopies_data() {
    QTest::addColumn<int>("saveSent");
    QTest::addColumn<QStringList>("sentFiles");
    QTest::newRow("kept in Sent") << 1 << QStringList{"bob;alice;123.jpg", "bob;alice;123.wmv"};
    QTest::newRow("dropped") << 0 << QStringList{};
}

void TestSendReceiveWorker::sendPhaseKeepsOrDropsCopies() {
    QFETCH(int, saveSent);
    QFETCH(QStringList, sentFiles);
    m_profile.insert(QLatin1String(kSettingSaveSent), saveSent);
    writeFile(m_folder + "/Outbox/Bob;alice;123", "video");
    writeFile(m_folder + "/Outbox/Bob;alice;123.jpg", "jpeg");
    const auto result = makeWorker()->runCycle();
    QCOMPARE(result.sent, 2);
    QCOMPARE(m_transport.uploads.size(), 2);
    for (const Upload& upload : m_transport.uploads) {
        // Names travel in lower case; the recipient is the name's first field.
        QVERIFY(upload.name.startsWith(QLatin1String("bob;alice;123")));
        QCOMPARE(upload.recipient, QStringLiteral("bob"));
        QCOMPARE(upload.sender, QStringLiteral("alice"));
    }
    QCOMPARE(filesIn(m_folder + "/Outbox"), QStringList{});
    QCOMPARE(filesIn(m_folder + "/Sent"), sentFiles);
    QVERIFY(m_observer.reloads.contains(1));
    QVERIFY(m_observer.reloads.contains(2));
    QCOMPARE(m_observer.counts.value(1, -1), 0);
    QCOMPARE(m_observer.statuses.first(), QStringLiteral("Sending..."));
    QCOMPARE(m_observer.statuses.last(), QString());
    QCOMPARE(m_flags->transferBusy.load(), 0);
}

void TestSendReceiveWorker::failedUploadStaysInOutbox() {
    writeFile(m_folder + "/Outbox/bob;alice;1", "video");
    writeFile(m_folder + "/Outbox/carol;alice;2", "video");
    m_transport.refused = {QStringLiteral("bob;alice;1")};
    const auto result = makeWorker()->runCycle();
    QCOMPARE(result.sent, 1);
    QCOMPARE(result.failedUploads, 1);
    QCOMPARE(filesIn(m_folder + "/Outbox"), QStringList{"bob;alice;1"});
    QCOMPARE(m_observer.counts.value(1), 1);
}

void TestSendReceiveWorker::refusedUploadWaitsForRetry() {
    writeFile(m_folder + "/Outbox/bob;alice;1", "video");
    writeFile(m_folder + "/Outbox/carol;alice;2", "video");
    m_transport.refused = {QStringLiteral("carol;alice;2")};
    m_transport.refusedForGood.insert(QStringLiteral("bob;alice;1"), QStringLiteral("no bob"));
    auto result = makeWorker()->runCycle();
    QCOMPARE(result.failedUploads, 2);
    QCOMPARE(result.refused, 1);
    QCOMPARE(m_observer.refusals, QStringList{"bob;alice;1:no bob"});
    QVERIFY(m_observer.reloads.contains(1));
    QCOMPARE(m_store->sendFailures().all().value(QStringLiteral("bob;alice;1")),
             QStringLiteral("no bob"));

    // The next run passes it over, not telling again; the other is tried again.
    m_transport.refusedForGood.clear();
    m_transport.refused.clear();
    result = makeWorker()->runCycle();
    QCOMPARE(result.held, 1);
    QCOMPARE(result.sent, 1);
    QCOMPARE(m_observer.refusals.size(), 1);
    QCOMPARE(filesIn(m_folder + "/Outbox"), QStringList{"bob;alice;1"});

    // Retrying forgets the refusal: it goes at the next cycle.
    QVERIFY(m_store->sendFailures().clear(QStringLiteral("bob;alice;1")));
    result = makeWorker()->runCycle();
    QCOMPARE(result.sent, 1);
    QCOMPARE(result.held, 0);
    QCOMPARE(filesIn(m_folder + "/Outbox"), QStringList{});
}

void TestSendReceiveWorker::signedOutAsksAgainOnlyWhenAskedAndResumes() {
    writeFile(m_folder + "/Outbox/bob;alice;1", "video");
    m_transport.signedOut = true;
    m_flags->idleTicks = 1;
    auto worker = makeWorker();
    std::thread thread([&worker] { worker->run(); });
    auto stop = qScopeGuard([&] {
        m_flags->exitRequested = 1;
        thread.join();
    });
    QTRY_VERIFY(worker->isSignedOut());
    QCOMPARE(m_observer.signedOuts.load(), 1);
    // Cycles that nobody asked for stay quiet and send nothing.
    const int seen = m_observer.allCounts.load();
    QTRY_VERIFY(m_observer.allCounts.load() > seen + 3);
    QCOMPARE(m_observer.signedOuts.load(), 1);
    // A cycle the user asks for asks for the sign-in again.
    m_now = 1;
    QTRY_COMPARE(m_observer.signedOuts.load(), 2);
    QVERIFY(m_transport.uploads.isEmpty());
    QCOMPARE(filesIn(m_folder + "/Outbox"), QStringList{"bob;alice;1"});
    // Signed in again: the file goes.
    m_transport.signedOut = false;
    worker->resume();
    QTRY_COMPARE(filesIn(m_folder + "/Outbox"), QStringList{});
    QCOMPARE(m_transport.uploads.size(), 1);
}

void TestSendReceiveWorker::emptyOutboxReloadsNothing() {
    const auto result = makeWorker()->runCycle();
    QCOMPARE(result.sent, 0);
    QCOMPARE(m_observer.reloads, QList<int>{});
    QCOMPARE(m_observer.statuses, (QStringList{"Sending...", "Receiving...", QString()}));
    QCOMPARE(m_observer.allCounts.load(), 1);
    QCOMPARE(m_transport.downloads, 1);
}

void TestSendReceiveWorker::receivedRecordsAreFiled_data() {
    QTest::addColumn<QByteArray>("nameField");
    QTest::addColumn<QByteArray>("dateField");
    QTest::addColumn<QString>("inboxName");
    QTest::addColumn<QString>("announced");
    QTest::addColumn<QDateTime>("date");
    QTest::newRow("afternoon") << QByteArray("bob;alice;456") << QByteArray("12/7/2008 3:45:12 PM")
                               << "alice;456.wmv"
                               << "alice;456" << QDateTime(QDate(2008, 12, 7), QTime(15, 45, 12));
    QTest::newRow("mixed case kept in the announcement")
        << QByteArray("Bob;Alice;456   ") << QByteArray("1/2/2009 12:05:00 AM") << "alice;456.wmv"
        << "Alice;456" << QDateTime(QDate(2009, 1, 2), QTime(0, 5, 0));
    QTest::newRow("garbage date gives the filing time")
        << QByteArray("bob;alice;9") << QByteArray("not a date") << "alice;9.wmv"
        << "alice;9" << QDateTime();
}

void TestSendReceiveWorker::receivedRecordsAreFiled() {
    QFETCH(QByteArray, nameField);
    QFETCH(QByteArray, dateField);
    QFETCH(QString, inboxName);
    QFETCH(QString, announced);
    QFETCH(QDateTime, date);
    m_transport.waiting = {record(nameField, dateField, "video bytes")};
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    const auto result = makeWorker()->runCycle();
    QCOMPARE(result.received, 1);
    const QString path = m_folder + "/Inbox/" + inboxName;
    QCOMPARE(readFile(path), QByteArray("video bytes"));
    QVERIFY(!m_store->fileStatus().isRead(path));
    const QDateTime filedDate = QFileInfo(path).lastModified();
    if (date.isValid())
        QCOMPARE(filedDate, date);
    else
        QVERIFY(filedDate >= before);
    QCOMPARE(m_observer.newMessages, QStringList{announced});
    QCOMPARE(m_observer.counts.value(0), 1);
    QCOMPARE(m_observer.blinking, 1);
    QVERIFY(m_observer.reloads.contains(0));
    // The record is gone once filed.
    QVERIFY(!QFile::exists(m_temp + "/vnin.dat"));
}

void TestSendReceiveWorker::receivedThumbnailBecomesContactPicture() {
    writeFile(m_folder + "/Contacts/alice.jpg", "old picture");
    m_transport.waiting = {record("bob;alice;456.jpg", "12/7/2008 3:45:12 PM", "new picture")};
    makeWorker()->runCycle();
    QCOMPARE(readFile(m_folder + "/Inbox/alice;456.jpg"), QByteArray("new picture"));
    QCOMPARE(readFile(m_folder + "/Contacts/alice.jpg"), QByteArray("new picture"));
    QCOMPARE(m_observer.contactChanges, 1);
    QCOMPARE(m_observer.newMessages, QStringList{});
}

void TestSendReceiveWorker::fiveWaitingArriveAsThreeThenTwo() {
    for (int i = 1; i <= 5; ++i)
        m_transport.waiting.append(
            record(QByteArray("bob;carol;") + QByteArray::number(i), "1/1/2020 1:00:00 AM", "v"));
    auto worker = makeWorker();
    QCOMPARE(worker->runCycle().received, 3);
    QCOMPARE(worker->runCycle().received, 2);
    QCOMPARE(filesIn(m_folder + "/Inbox").size(), 5);
}

void TestSendReceiveWorker::onlyContactsWhenAllowAllIsOff_data() {
    QTest::addColumn<int>("firstCycle");
    QTest::addColumn<int>("secondCycle");
    QTest::newRow("switched to anyone") << 0 << 1;
    QTest::newRow("switched to contacts only") << 1 << 0;
}

void TestSendReceiveWorker::onlyContactsWhenAllowAllIsOff() {
    QFETCH(int, firstCycle);
    QFETCH(int, secondCycle);
    writeFile(m_folder + "/Contacts/carol", "Carol");
    // One worker for both cycles: a switch counts from the next cycle on.
    m_profile.insert(QLatin1String(kSettingAllowAll), firstCycle);
    auto worker = makeWorker();
    for (const int allowAll : {firstCycle, secondCycle}) {
        m_profile.insert(QLatin1String(kSettingAllowAll), allowAll);
        const QString tick = QString::number(m_transport.downloads);
        m_transport.waiting = {record("me;alice;" + tick.toLatin1(), "1/1/2020 1:00:00 AM", "v"),
                               record("me;Carol;" + tick.toLatin1(), "1/1/2020 1:00:00 AM", "v")};
        const auto result = worker->runCycle();
        // A stranger's message is fetched either way and kept only when anyone
        // may send.
        QVERIFY(m_transport.waiting.isEmpty());
        QCOMPARE(result.received, allowAll ? 2 : 1);
        QCOMPARE(result.discarded, allowAll ? 0 : 1);
        QVERIFY(QFile::exists(m_folder + "/Inbox/carol;" + tick + ".wmv"));
        QCOMPARE(QFile::exists(m_folder + "/Inbox/alice;" + tick + ".wmv"), allowAll != 0);
    }
}

void TestSendReceiveWorker::badRecordsAreDiscarded_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("shorter than the name field") << QByteArray("bob;alice;1");
    QTest::newRow("climbs out of the Inbox") << record("bob;../../x", "1/1/2020 1:00:00 AM", "v");
    QTest::newRow("path separator") << record("bob;a/b;1", "1/1/2020 1:00:00 AM", "v");
    QTest::newRow("empty name") << record("", "1/1/2020 1:00:00 AM", "v");
}

void TestSendReceiveWorker::badRecordsAreDiscarded() {
    QFETCH(QByteArray, bytes);
    const auto before = snapshotTree(m_env.root());
    m_transport.waiting = {bytes, record("bob;alice;7", "1/1/2020 1:00:00 AM", "good")};
    const auto result = makeWorker()->runCycle();
    QCOMPARE(result.discarded, 1);
    QCOMPARE(result.received, 1);
    auto after = snapshotTree(m_env.root());
    after.remove(m_folder + "/Inbox/alice;7.wmv");
    after.remove(m_folder + "/.received");
    QCOMPARE(after.keys(), before.keys());
}

void TestSendReceiveWorker::eachDownloadConfirmsTheRecordBefore_data() {
    QTest::addColumn<int>("allowAll");
    QTest::addColumn<QStringList>("inbox");
    QTest::newRow("filed") << 1 << QStringList{"carol;1.wmv", "carol;2.jpg"};
    // A refused record would otherwise come back for ever.
    QTest::newRow("refused") << 0 << QStringList{};
}

void TestSendReceiveWorker::eachDownloadConfirmsTheRecordBefore() {
    QFETCH(int, allowAll);
    QFETCH(QStringList, inbox);
    m_profile.insert(QLatin1String(kSettingAllowAll), allowAll);
    m_transport.waiting = {record("Me;Carol;1  ", "1/1/2020 1:00:00 AM", "v"),
                           record("Me;Carol;2.jpg", "1/1/2020 1:00:00 AM", "p")};
    makeWorker()->runCycle();
    // The name field as it came, trimmed.
    QCOMPARE(m_transport.confirmations, (QStringList{"", "Me;Carol;1", "Me;Carol;2.jpg"}));
    QCOMPARE(filesIn(m_folder + "/Inbox"), inbox);
    // A run that ends before confirming leaves it to the next run.
    makeWorker()->runCycle();
    QCOMPARE(m_transport.confirmations.last(), QStringLiteral("Me;Carol;2.jpg"));
}

void TestSendReceiveWorker::unwritableInboxConfirmsNothing() {
    m_transport.waiting = {record("me;carol;1", "1/1/2020 1:00:00 AM", "v"),
                           record("me;carol;2", "1/1/2020 1:00:00 AM", "v")};
    ReadOnlyFolder inbox(m_folder + "/Inbox");
    if (!inbox.active())
        QSKIP("this machine cannot make a folder refuse new files");
    const auto result = makeWorker()->runCycle();
    // The service keeps the message to hand it out again; the phase ends.
    QCOMPARE(result.received, 0);
    QCOMPARE(m_transport.confirmations, QStringList{""});
    QCOMPARE(m_store->receivedToConfirm(), QString());
}

void TestSendReceiveWorker::redeliveredMessageIsFiledOnce() {
    const QByteArray message = record("me;carol;1", "1/1/2020 1:00:00 AM", "v");
    m_transport.waiting = {message};
    auto worker = makeWorker();
    worker->runCycle();
    QVERIFY(m_store->markRead(QStringLiteral("carol;1.wmv")));
    // Its confirmation was lost: the service hands it out again.
    m_transport.waiting = {message};
    QCOMPARE(worker->runCycle().received, 1);
    QCOMPARE(filesIn(m_folder + "/Inbox"), QStringList{"carol;1.wmv"});
    QCOMPARE(m_store->countUnread(), 0);
    QCOMPARE(m_observer.newMessages, QStringList{"carol;1"});
}

void TestSendReceiveWorker::firstCycleSweepsAbandonedWorkingFiles() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    QVERIFY(child > 0);
    QCOMPARE(::waitpid(child, nullptr, 0), child);
    const QString abandoned = m_folder + QStringLiteral("/.clipnote-%1-0-0badf00d.part").arg(child);
    QVERIFY(writeFile(abandoned, "half a message"));
    makeWorker()->runCycle();
    QVERIFY(!QFile::exists(abandoned));
}

void TestSendReceiveWorker::gestureSkipsTransfers() {
    m_flags->gestureActive = 1;
    writeFile(m_folder + "/Outbox/bob;alice;1", "video");
    m_transport.waiting = {record("bob;alice;7", "1/1/2020 1:00:00 AM", "v")};
    makeWorker()->runCycle();
    QCOMPARE(m_transport.uploads.size(), 0);
    QCOMPARE(m_transport.downloads, 0);
    QCOMPARE(m_observer.allCounts.load(), 1);
}

void TestSendReceiveWorker::earlyCycleAndExit() {
    m_flags->idleTicks = 100000; // far longer than the test may take
    auto worker = makeWorker();
    std::thread thread([&worker] { worker->run(); });
    QTRY_COMPARE(m_observer.allCounts.load(), 1);
    m_transport.waiting = {record("bob;alice;7", "1/1/2020 1:00:00 AM", "v")};
    // Asking for an early cycle ends the wait.
    m_now = 1;
    QTRY_COMPARE(m_observer.allCounts.load(), 2);
    QVERIFY(QFile::exists(m_folder + "/Inbox/alice;7.wmv"));
    QCOMPARE(m_flags->workerStopped.load(), 0);
    m_flags->exitRequested = 1;
    thread.join();
    QCOMPARE(m_flags->workerStopped.load(), 1);
}

void TestSendReceiveWorker::waitingOnTheService_data() {
    QTest::addColumn<QList<WaitOutcome>>("answers");
    QTest::addColumn<bool>("cycleWithoutAsking");
    QTest::addColumn<int>("waitsAfterAsking");
    // The next cycle starts as soon as the service says a message waits.
    QTest::newRow("a message arrives")
        << QList<WaitOutcome>{WaitOutcome::NothingYet, WaitOutcome::Arrived} << true << 3;
    // A service without the page: the plain period it is, never asked again.
    QTest::newRow("an older service") << QList<WaitOutcome>{WaitOutcome::Unsupported} << false << 1;
    // A failed wait sleeps out the period, and tries again after the next cycle.
    QTest::newRow("a failed wait") << QList<WaitOutcome>{WaitOutcome::Failed} << false << 2;
}

void TestSendReceiveWorker::waitingOnTheService() {
    QFETCH(QList<WaitOutcome>, answers);
    QFETCH(bool, cycleWithoutAsking);
    QFETCH(int, waitsAfterAsking);
    m_transport.waitAnswers = answers;
    m_flags->idleTicks = 100000; // a period far longer than the test may take
    auto worker = makeWorker();
    std::thread thread([&worker] { worker->run(); });
    auto stop = qScopeGuard([&] {
        m_flags->exitRequested = 1;
        thread.join();
    });
    if (cycleWithoutAsking) {
        QTRY_COMPARE(m_observer.allCounts.load(), 2);
    } else {
        QTRY_COMPARE(m_transport.waits.load(), int(answers.size()));
        QCOMPARE(m_observer.allCounts.load(), 1);
        m_now = 1;
        QTRY_COMPARE(m_observer.allCounts.load(), 2);
    }
    QTRY_COMPARE(m_transport.waits.load(), waitsAfterAsking);
    // Closing ends a wait that is under way.
    stop.dismiss();
    m_flags->exitRequested = 1;
    thread.join();
    QCOMPARE(m_flags->workerStopped.load(), 1);
}

QTEST_GUILESS_MAIN(TestSendReceiveWorker)
#include "tst_sendreceiveworker.moc"
