#include "app/clientcore.h"
#include "app/synconce.h"
#include "mainwnd/maindialog.h"
#include "mainwnd/trayicon.h"
#include "mediaprobe.h"
#include "modal.h"
#include "notify/notification.h"
#include "platform/alert.h"
#include "platform/filestatus.h"
#include "platform/helpers.h"
#include "platform/messages.h"
#include "platform/tempfolder.h"
#include "serverprocess.h"
#include "service/dialogs/login.h"
#include "service/httpshared.h"
#include "service/messagepageclient.h"
#include "service/sendreceiveworker.h"
#include "service/servicetransport.h"
#include "service/uploadbody.h"
#include "store/lists/contactlist.h"
#include "store/lists/inboxlist.h"
#include "store/lists/mytabs.h"
#include "store/lists/outboxlist.h"
#include "store/messagestore.h"
#include "testenvironment.h"
#include <QImage>
#include <QScopeGuard>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

// The main window of a signed-in user with its real Send/Receive worker
// against a real service: a message waiting for the user arrives, is
// announced, counted and listed, and the popup leads to it.
class TestMainWindowService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void waitingMessageArrivesAndIsAnnounced();
    void outboxIsSentByTheWorker();
    void recordedMessageReachesTwoContacts();
    void refusalAndEndedSessionAreToldOnce();
    void messageArrivesInSecondsAndClosingIsPrompt();

private:
    void signIn(const QString& user, const QString& password);
    CNotification* onlyPopup() const;

    TestEnvironment m_env;
    ServerProcess m_server;
    ClientCore* m_core = nullptr;
    QString m_alicePassword;
    QString m_bobPassword;
    QString m_carolPassword;
};

void TestMainWindowService::initTestCase() {
    setTimerScale(0.05);
    QVERIFY(http::initialise());
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    m_alicePassword = m_server.createAccount(QStringLiteral("alice@example.org"));
    m_bobPassword = m_server.createAccount(QStringLiteral("bob@example.org"));
    m_carolPassword = m_server.createAccount(QStringLiteral("carol@example.org"));
    QVERIFY(!m_alicePassword.isEmpty() && !m_bobPassword.isEmpty() && !m_carolPassword.isEmpty());
    m_core = new ClientCore;
    m_core->SetRegistryKey(QStringLiteral("ZEB"));
    m_core->setService(ServiceAddress(m_server.baseUrl()));
    m_core->OpenSession();
}

void TestMainWindowService::cleanupTestCase() {
    m_core->CloseSession();
    delete m_core;
    http::cleanup();
}

void TestMainWindowService::signIn(const QString& user, const QString& password) {
    m_core->takeApplicationFolder(m_env.makeFolder(user + QStringLiteral("-app")));
    QString message;
    QCOMPARE(signInHeadless(*m_core, user, password, &message), 0);
}

CNotification* TestMainWindowService::onlyPopup() const {
    QList<CNotification*> popups;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* popup = qobject_cast<CNotification*>(widget))
            popups.append(popup);
    return popups.size() == 1 ? popups.front() : nullptr;
}

void TestMainWindowService::waitingMessageArrivesAndIsAnnounced() {
    // Alice posts a message for bob straight to the service.
    signIn(QStringLiteral("alice@example.org"), m_alicePassword);
    const QString source = m_env.makeFolder(QStringLiteral("source")) + QStringLiteral("/m");
    writeFile(source, QByteArray(4000, 'v'));
    MessagePageClient transfer{ServiceAddress(m_server.baseUrl())};
    const QString name = QStringLiteral("bob@example.org;alice@example.org;42");
    QCOMPARE(transfer.UploadMessage(source, name, QStringLiteral("alice@example.org"),
                                    QStringLiteral("bob@example.org"), QString()),
             1);

    signIn(QStringLiteral("bob@example.org"), m_bobPassword);
    CMainDialog dialog;
    dialog.timers().stop(kTimerSignIn);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.completeSignIn());

    // The first cycle fetches it: listed, counted, blinking, announced.
    QTRY_COMPARE_WITH_TIMEOUT(dialog.inboxList()->count(), 1, 20000);
    QCOMPARE(dialog.inboxList()->textAt(0), QStringLiteral("alice@example.org;42.wmv"));
    QTRY_COMPARE(dialog.tabs()->count(0), 1);
    QVERIFY(dialog.timers().isActive(kTimerTrayBlink));
    QTRY_VERIFY(onlyPopup() != nullptr);
    CNotification* popup = onlyPopup();
    QCOMPARE(popup->messageName(), QStringLiteral("alice@example.org;42"));

    // A click on the popup (away from its close box) shows the Inbox.
    dialog.tabs()->setCurrentIndex(3);
    dialog.ShowFolder();
    dialog.hide();
    QTRY_VERIFY(!popup->growing());
    QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(20, popup->height() / 2));
    QTRY_VERIFY(dialog.isVisible());
    QTRY_COMPARE(dialog.currentTab(), 0);

    // Closing waits for the worker, which stops at its next look.
    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
    QCOMPARE(dialog.flags().workerStopped.load(), 1);
}

void TestMainWindowService::outboxIsSentByTheWorker() {
    signIn(QStringLiteral("alice@example.org"), m_alicePassword);
    const QString userFolder = m_core->m_strFolder + QStringLiteral("/alice@example.org");
    const QString name = QStringLiteral("bob@example.org;alice@example.org;77");
    writeFile(userFolder + QStringLiteral("/Outbox/") + name, QByteArray(3000, 'v'));
    writeFile(userFolder + QStringLiteral("/Outbox/") + name + QStringLiteral(".jpg"), "jpeg");
    CMainDialog dialog;
    dialog.timers().stop(kTimerSignIn);
    dialog.show();
    QVERIFY(dialog.completeSignIn());
    // Sent with "SaveSent" on by default: the pair moves to Sent and the
    // Outbox count falls to 0.
    QTRY_VERIFY_WITH_TIMEOUT(
        QFile::exists(userFolder + QStringLiteral("/Sent/") + name + QStringLiteral(".wmv")),
        20000);
    QTRY_VERIFY(
        QFile::exists(userFolder + QStringLiteral("/Sent/") + name + QStringLiteral(".jpg")));
    QTRY_COMPARE(dialog.tabs()->count(1), 0);
    QTRY_COMPARE(dialog.tabs()->count(2), 1);
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.close();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
}

void TestMainWindowService::recordedMessageReachesTwoContacts() {
    // Recorded time adds up the time between grabbed frames only while the
    // grab timer runs slower than the 30 ms frame pacing.
    setTimerScale(0.34);
    auto restoreScale = qScopeGuard([] { setTimerScale(0.05); });
    signIn(QStringLiteral("alice@example.org"), m_alicePassword);
    const QString aliceFolder = m_core->m_strFolder + QStringLiteral("/alice@example.org");
    writeFile(aliceFolder + QStringLiteral("/Contacts/bob@example.org"), "Bob");
    writeFile(aliceFolder + QStringLiteral("/Contacts/carol@example.org"), "Carol");
    {
        CMainDialog dialog;
        dialog.timers().stop(kTimerSignIn);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(dialog.completeSignIn());
        QVERIFY(dialog.captureWindow());
        // Alice selects bob and carol and holds the space bar.
        dialog.tabs()->setCurrentIndex(3);
        dialog.ShowFolder();
        CContactList* contacts = dialog.contactList();
        for (int row = 0; row < contacts->count(); ++row)
            if (contacts->userIdAt(row) != QStringLiteral("alice@example.org") &&
                contacts->userIdAt(row).endsWith(QLatin1String("@example.org")))
                QTest::mouseClick(contacts->viewport(), Qt::LeftButton, Qt::ControlModifier,
                                  contacts->rowRect(row).center());
        QCOMPARE(dialog.GetRecipients().size(), 2);
        QTest::keyPress(contacts, Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.flags().recording.load() == 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.recordedMs >= 3000, 20000);
        QTest::keyRelease(contacts, Qt::Key_Space);
        // Filed for both and sent at once, in one cycle, without asking.
        QTRY_COMPARE_WITH_TIMEOUT(
            QDir(aliceFolder + QStringLiteral("/Sent")).entryList(QDir::Files).size(), 4, 30000);
        QCOMPARE(QDir(aliceFolder + QStringLiteral("/Outbox")).entryList(QDir::Files).size(), 0);
        QSignalSpy finished(&dialog, &QDialog::finished);
        dialog.close();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
    }
    for (const auto& [user, password] :
         {std::pair{QStringLiteral("bob@example.org"), m_bobPassword},
          std::pair{QStringLiteral("carol@example.org"), m_carolPassword}}) {
        signIn(user, password);
        QVERIFY(m_core->enterUserFolder());
        const MessageStore store(m_core->m_strFolder);
        const auto transport = makeServiceTransport(m_core->service(), user);
        QuietCycleObserver observer;
        WorkerFlags flags;
        std::atomic<int> now{0};
        SendReceiveWorker worker(store, user, GetTempPath(), *transport, observer, flags, now,
                                 [](const QString&, int defaultValue) { return defaultValue; });
        // Bob may still have alice's earlier message waiting.
        int received = 0;
        for (int cycle = 0; cycle < 4; ++cycle)
            received += worker.runCycle().received;
        QVERIFY(received >= 2);
        QStringList inbox = store.list(Folder::Inbox);
        inbox.removeAll(QStringLiteral("alice@example.org;77.wmv"));
        QCOMPARE(inbox.size(), 1);
        const QString video = store.path(Folder::Inbox, inbox.front());
        QVERIFY(inbox.front().startsWith(QLatin1String("alice@example.org;")));
        QCOMPARE(QImage(store.thumbnailPath(Folder::Inbox, inbox.front())).size(), QSize(192, 144));
        const Probe probed = probe(video);
        QVERIFY2(probed.errors.isEmpty(), qPrintable(probed.errors));
        QVERIFY(probed.stream(QStringLiteral("video")));
        QCOMPARE(probed.stream(QStringLiteral("video"))->codec, QStringLiteral("wmv2"));
        QVERIFY(probed.stream(QStringLiteral("audio")));
        QCOMPARE(probed.stream(QStringLiteral("audio"))->codec, QStringLiteral("wmav2"));
        // Three seconds of counted time, plus the first frames that do not
        // count and the last grab.
        QVERIFY2(probed.duration > 2.9 && probed.duration < 4.0,
                 qPrintable(QString::number(probed.duration)));
    }
}

void TestMainWindowService::refusalAndEndedSessionAreToldOnce() {
    const QString dave = QStringLiteral("dave@example.org");
    const QString davePassword = m_server.createAccount(dave);
    QVERIFY(!davePassword.isEmpty());
    signIn(dave, davePassword);
    const QString outbox =
        m_core->m_strFolder + QLatin1Char('/') + dave + QStringLiteral("/Outbox/");
    const QString sent = m_core->m_strFolder + QLatin1Char('/') + dave + QStringLiteral("/Sent/");
    const QString refused = QStringLiteral("nobody@example.org;dave@example.org;5");
    writeFile(outbox + refused, QByteArray(2000, 'v'));
    int alerts = 0;
    setAlertHandler([&alerts](const QString&, const QString&, AlertIcon) { ++alerts; });
    auto restoreAlerts = qScopeGuard([] { setAlertHandler({}); });

    CMainDialog dialog;
    dialog.timers().stop(kTimerSignIn);
    dialog.show();
    QVERIFY(dialog.completeSignIn());
    // Refused for good: told once, and the row says why.
    COutBoxList* list = dialog.outboxList();
    QTRY_VERIFY_WITH_TIMEOUT(list->count() == 1 && !list->problemAt(0).isEmpty(), 20000);
    QVERIFY2(list->problemAt(0).contains(QLatin1String("nobody@example.org")),
             qPrintable(list->problemAt(0)));
    QCOMPARE(alerts, 1);
    // A later cycle sends what is new and passes the refused one over quietly.
    const QString first = QStringLiteral("bob@example.org;dave@example.org;6");
    writeFile(outbox + first, QByteArray(2000, 'v'));
    m_core->m_bSendReceiveNow = 1;
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(sent + first + QStringLiteral(".wmv")), 20000);
    QCOMPARE(alerts, 1);

    // The password is changed on another computer: that ends this session,
    // and this run's password is refused. The sign-in dialog comes once.
    const QByteArray elsewhere = m_server.signIn(dave, davePassword);
    QVERIFY(!elsewhere.isEmpty());
    const QString newPassword = QStringLiteral("changed-elsewhere-1");
    QCOMPARE(m_server
                 .get("/zeb/chgpw.asp?UID=" + pageValue(dave) + "&PW=" + pageValue(newPassword),
                      elsewhere)
                 .body.left(2),
             QByteArray("OK"));
    int dialogs = 0;
    whenModal<CLogin>([&dialogs, &newPassword](CLogin* login) {
        ++dialogs;
        auto* userId = login->findChild<QLineEdit*>(QStringLiteral("userId"));
        QVERIFY(userId && userId->isReadOnly());
        login->findChild<QLineEdit*>(QStringLiteral("password"))->setText(newPassword);
        login->findChild<QPushButton*>(QStringLiteral("login"))->click();
    });
    const QString second = QStringLiteral("bob@example.org;dave@example.org;7");
    const QString third = QStringLiteral("bob@example.org;dave@example.org;8");
    writeFile(outbox + second, QByteArray(2000, 'v'));
    writeFile(outbox + third, QByteArray(2000, 'v'));
    m_core->m_bSendReceiveNow = 1;
    // Signed in again, the worker sends both at its next cycle.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(sent + second + QStringLiteral(".wmv")) &&
                                 QFile::exists(sent + third + QStringLiteral(".wmv")),
                             30000);
    QCOMPARE(dialogs, 1);
    QCOMPARE(alerts, 1);
    QCOMPARE(m_core->password(), newPassword);
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.close();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
}

// With the real 30-second cycle, a message posted while the recipient's
// window waits arrives within seconds, and closing does not wait out the
// pending wait.
void TestMainWindowService::messageArrivesInSecondsAndClosingIsPrompt() {
    setTimerScale(1.0);
    auto restoreScale = qScopeGuard([] { setTimerScale(0.05); });
    const QString erin = QStringLiteral("erin@example.org");
    const QString erinPassword = m_server.createAccount(erin);
    const QByteArray alice = m_server.signIn(QStringLiteral("alice@example.org"), m_alicePassword);
    QVERIFY(!alice.isEmpty());
    const auto post = [&](int number) {
        const QString name = erin + QStringLiteral(";alice@example.org;") + QString::number(number);
        QByteArray body = uploadHeaderBlock(name, QStringLiteral("alice@example.org"), erin, {}) +
                          QByteArray(3000, 'v');
        body.append(QByteArray(uploadBodyLength(3000) - body.size(), '\0'));
        return simpleHttpRequest(
                   m_server.port(), "POST", "/zeb/post.asp",
                   {"Content-Length: " + QByteArray::number(body.size()), "Cookie: " + alice}, body)
            .body;
    };
    QCOMPARE(post(1), QByteArray("OK"));
    signIn(erin, erinPassword);
    CMainDialog dialog;
    dialog.timers().stop(kTimerSignIn);
    dialog.show();
    QVERIFY(dialog.completeSignIn());
    // The first cycle brings the first message; the next is 30 s away.
    QTRY_COMPARE_WITH_TIMEOUT(dialog.inboxList()->count(), 1, 20000);
    QCOMPARE(post(2), QByteArray("OK"));
    QTRY_COMPARE_WITH_TIMEOUT(dialog.inboxList()->count(), 2, 10000);

    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.close();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
}

QTEST_MAIN(TestMainWindowService)
#include "tst_mainwindowservice.moc"
