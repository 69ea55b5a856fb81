#include "platform/messagebox.h"
#include "platform/profile.h"
#include "scriptedserver.h"
#include "service/httpshared.h"
#include "service/messagepageclient.h"
#include "testenvironment.h"

#include <QApplication>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

// An upload refused with "INVALID" on the Send/Receive worker's thread: the
// service's text appears in one message box on the UI thread, and the worker
// goes on only once the box is dismissed.
class TestUploadRefusal : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void refusalIsShownWhileWorkerWaits();

private:
    TestEnvironment m_env;
};

void TestUploadRefusal::initTestCase() {
    QVERIFY(http::initialise());
    installAlertBoxes();
}

void TestUploadRefusal::cleanupTestCase() {
    setMessageBoxHook({});
    http::cleanup();
}

void TestUploadRefusal::refusalIsShownWhileWorkerWaits() {
    const QString file = m_env.makeFolder(QStringLiteral("outbox")) + QStringLiteral("/m");
    QVERIFY(writeFile(file, "video"));
    ScriptedServer server;
    server.enqueue(ScriptedServer::http(200, "text/plain",
                                        "INVALID: bob@example.org is not a registered user ID."));

    std::atomic<int> finished{0};
    std::atomic<int> result{-1};
    QList<MessageBoxCall> boxes;
    bool onUiThread = false;
    bool workerWaited = false;
    setMessageBoxHook([&](const MessageBoxCall& call) {
        boxes << call;
        onUiThread = QThread::currentThread() == qApp->thread();
        // Keep the box "open" for a moment: the worker must still be waiting.
        QTest::qWait(100);
        workerWaited = finished.load() == 0;
        return QMessageBox::Ok;
    });

    std::thread worker([&] {
        MessagePageClient transfer(server.baseUrl());
        result =
            transfer.UploadMessage(file, "m", "alice@example.org", "bob@example.org", QString());
        finished = 1;
    });
    QTRY_COMPARE_WITH_TIMEOUT(finished.load(), 1, 10000);
    worker.join();

    QCOMPARE(result.load(), 0);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text,
             QStringLiteral("INVALID: bob@example.org is not a registered user ID."));
    QCOMPARE(boxes.first().caption, Profile::executableBaseName());
    QCOMPARE(boxes.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(onUiThread);
    QVERIFY(workerWaited);
}

QTEST_MAIN(TestUploadRefusal)
#include "tst_uploadrefusal.moc"
