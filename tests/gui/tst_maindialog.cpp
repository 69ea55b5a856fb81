#include "app/clientcore.h"
#include "app/userfolderlock.h"
#include "mainwnd/maindialog.h"
#include "modal.h"
#include "platform/helpers.h"
#include "platform/messagebox.h"
#include "platform/messages.h"
#include "platform/profile.h"
#include "service/dialogs/login.h"
#include "testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

// The main window's start-up, placement and exit handshake.
class TestMainDialog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void placement_data();
    void placement();
    void cancelledSignInEndsAndKeepsRectangle();
    void unusableFoldersEndTheProgram_data();
    void unusableFoldersEndTheProgram();
    void escapeWaitsForWorker();
    void enterDoesNothing();

private:
    void storeRect(int x, int y, int x2, int y2);
    TestEnvironment m_env;
    ClientCore* m_core = nullptr;
};

void TestMainDialog::initTestCase() {
    setTimerScale(0.05);
    m_core = new ClientCore;
    m_core->SetRegistryKey(QStringLiteral("ZEB"));
}

void TestMainDialog::init() {
    QDir(m_env.configHome()).removeRecursively();
    m_core->takeApplicationFolder(m_env.makeFolder(QStringLiteral("run")));
    m_core->m_strUserId.clear();
}

void TestMainDialog::storeRect(int x, int y, int x2, int y2) {
    const QString s = QLatin1String(kSettingsSection);
    m_core->WriteProfileInt(s, QLatin1String(kSettingX), x);
    m_core->WriteProfileInt(s, QLatin1String(kSettingY), y);
    m_core->WriteProfileInt(s, QLatin1String(kSettingX2), x2);
    m_core->WriteProfileInt(s, QLatin1String(kSettingY2), y2);
}

void TestMainDialog::placement_data() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QTest::addColumn<QRect>("stored");
    QTest::addColumn<bool>("centred");
    QTest::newRow("first run") << QRect() << true;
    QTest::newRow("inside the screen") << QRect(20, 30, 600, 600) << false;
    QTest::newRow("right edge beyond the screen")
        << QRect(screen.width() - 300, 10, 600, 600) << true;
    QTest::newRow("negative left") << QRect(-5, 10, 600, 600) << true;
    QTest::newRow("bottom beyond the screen") << QRect(10, screen.height() - 100, 600, 600) << true;
}

void TestMainDialog::placement() {
    QFETCH(QRect, stored);
    QFETCH(bool, centred);
    if (!stored.isNull())
        storeRect(stored.left(), stored.top(), stored.left() + stored.width(),
                  stored.top() + stored.height());
    CMainDialog dialog;
    dialog.timers().stop(kTimerSignIn);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    if (centred) {
        QVERIFY(qAbs(dialog.geometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(dialog.geometry().center().y() - screen.center().y()) <= 1);
    } else {
        QCOMPARE(dialog.geometry(), stored);
    }
}

void TestMainDialog::cancelledSignInEndsAndKeepsRectangle() {
    auto* dialog = new CMainDialog;
    whenModal<CLogin>([](CLogin* login) { login->reject(); });
    QSignalSpy finished(dialog, &QDialog::finished);
    QMetaObject::invokeMethod(
        dialog, [dialog] { dialog->exec(); }, Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(dialog->flags().exitRequested.load(), 1);
    QCOMPARE(dialog->flags().workerStopped.load(), 1);
    const QRect shown = dialog->geometry();
    delete dialog;
    // No user folder exists after a cancelled sign-in ...
    QCOMPARE(QDir(m_core->m_strFolder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(),
             0);
    // ... but the window rectangle was written.
    const QString s = QLatin1String(kSettingsSection);
    QCOMPARE(m_core->GetProfileInt(s, QLatin1String(kSettingX2), 0), shown.left() + shown.width());
    QCOMPARE(m_core->GetProfileInt(s, QLatin1String(kSettingY), -1), shown.top());
}

void TestMainDialog::unusableFoldersEndTheProgram_data() {
    QTest::addColumn<bool>("inUse");
    QTest::newRow("user folder open in another program") << true;
    QTest::newRow("private working folder is a link elsewhere") << false;
}

void TestMainDialog::unusableFoldersEndTheProgram() {
    // The user most likely started the program twice: the box says so and
    // this program ends, as after a cancelled sign-in.
    QFETCH(bool, inUse);
    m_core->m_strUserId = QStringLiteral("alice@example.org");
    const QString userFolder = m_core->m_strFolder + QStringLiteral("/alice@example.org");
    const QString privateBase =
        m_env.tempFolder() + QStringLiteral("/clipnote-%1").arg(::geteuid());
    QDir(privateBase).removeRecursively();
    UserFolderLock otherProgram;
    if (inUse) {
        QVERIFY(QDir().mkpath(userFolder));
        QCOMPARE(otherProgram.take(userFolder), UserFolderLock::Result::Taken);
    } else {
        QVERIFY(QFile::link(m_env.makeFolder(QStringLiteral("elsewhere")), privateBase));
    }
    auto removeLink = qScopeGuard([&] { QFile::remove(privateBase); });
    QList<MessageBoxCall> boxes;
    setMessageBoxHook([&boxes](const MessageBoxCall& call) {
        boxes.append(call);
        return QMessageBox::Ok;
    });
    auto unhook = qScopeGuard([] { setMessageBoxHook({}); });
    auto* dialog = new CMainDialog;
    whenModal<CLogin>([](CLogin* login) { login->done(QDialog::Accepted); });
    QSignalSpy finished(dialog, &QDialog::finished);
    QMetaObject::invokeMethod(
        dialog, [dialog] { dialog->exec(); }, Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes.front().text.contains(inUse ? userFolder : privateBase),
             qPrintable(boxes.front().text));
    QCOMPARE(dialog->flags().exitRequested.load(), 1);
    QVERIFY(!dialog->windowTitle().contains(QLatin1String("alice@example.org")));
    delete dialog;
    // The other program's lock is untouched.
    QCOMPARE(otherProgram.held(), inUse);
}

void TestMainDialog::escapeWaitsForWorker() {
    CMainDialog dialog;
    dialog.timers().stop(kTimerSignIn);
    dialog.show();
    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(dialog.flags().exitRequested.load(), 1);
    QVERIFY(dialog.timers().isActive(kTimerExitPoll));
    // Closing again meanwhile changes nothing.
    dialog.close();
    QTest::qWait(100);
    QCOMPARE(finished.size(), 0);
    QVERIFY(dialog.isVisible());
    dialog.flags().workerStopped = 1;
    QTRY_COMPARE(finished.size(), 1);
    QVERIFY(!dialog.timers().isActive(kTimerExitPoll));
}

void TestMainDialog::enterDoesNothing() {
    CMainDialog dialog;
    dialog.timers().stop(kTimerSignIn);
    dialog.flags().workerStopped = 1;
    dialog.show();
    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::keyClick(&dialog, Qt::Key_Return);
    QTest::keyClick(&dialog, Qt::Key_Enter);
    QCOMPARE(finished.size(), 0);
    QCOMPARE(dialog.flags().exitRequested.load(), 0);
}

QTEST_MAIN(TestMainDialog)
#include "tst_maindialog.moc"
