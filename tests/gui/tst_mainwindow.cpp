#include "app/clientcore.h"
#include "mainwnd/adpanel.h"
#include "mainwnd/maindialog.h"
#include "mainwnd/recordindicator.h"
#include "mainwnd/statusline.h"
#include "mainwnd/trayicon.h"
#include "modal.h"
#include "notify/notification.h"
#include "platform/filestatus.h"
#include "platform/messages.h"
#include "platform/popupmenu.h"
#include "platform/profile.h"
#include "platform/timerscale.h"
#include "service/sendreceive.h"
#include "store/aboutbox.h"
#include "store/contactlist.h"
#include "store/inboxlist.h"
#include "store/mytabs.h"
#include "store/ocx1.h"
#include "store/optionssheet.h"
#include "store/outboxlist.h"
#include "testenvironment.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {
// Transfers that reach no service: uploads wait until the test lets them go,
// so a cycle can be held open; downloads find nothing.
class HeldTransport : public MessageTransport {
public:
    struct Gate {
        std::mutex mutex;
        std::condition_variable released;
        bool open = true;
        std::atomic<int> uploads{0};
    };
    explicit HeldTransport(std::shared_ptr<Gate> gate) : m_gate(std::move(gate)) {}
    int UploadMessage(const QString&, const QString&, const QString&, const QString&) override {
        ++m_gate->uploads;
        std::unique_lock lock(m_gate->mutex);
        m_gate->released.wait(lock, [this] { return m_gate->open; });
        return 0;
    }
    int DownloadMessage(const QString&) override { return 0; }

private:
    std::shared_ptr<Gate> m_gate;
};

QList<CNotification*> openPopups() {
    QList<CNotification*> popups;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* popup = qobject_cast<CNotification*>(widget))
            popups.append(popup);
    return popups;
}
} // namespace

// The main window once signed in: tabs and counts, selecting and playing,
// the tray, private messages, F5, the layout, and closing during a cycle.
class TestMainWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void signInFillsInboxAndCounts();
    void selectingPlaysAndMarksRead();
    void clearingSelectionHidesPlayer();
    void trayBlinksWhileUnread();
    void minimiseHidesAndTrayClickShows_data();
    void minimiseHidesAndTrayClickShows();
    void popupClickShowsInbox();
    void newMessageShowsPopupUnlessOff_data();
    void newMessageShowsPopupUnlessOff();
    void updateCountsMessage();
    void f5RefillsCurrentList();
    void layoutFollowsSize();
    void statusColours_data();
    void statusColours();
    void closingWaitsForCycle();
    void aboutFromWindowMenu();
    void optionsButtonOpensSheet();
    void screenshot();

private:
    void signIn();
    TestEnvironment m_env;
    ClientCore* m_core = nullptr;
    std::unique_ptr<CMainDialog> m_dialog;
    std::shared_ptr<HeldTransport::Gate> m_gate;
    QString m_folder;
};

void TestMainWindow::initTestCase() {
    setTimerScale(0.05);
    m_core = new ClientCore;
    m_core->SetRegistryKey(QStringLiteral("ZEB"));
    CMainDialog::setTransportFactory([this] { return std::make_unique<HeldTransport>(m_gate); });
}

void TestMainWindow::init() {
    static int run = 0;
    QDir(m_env.configHome()).removeRecursively();
    m_gate = std::make_shared<HeldTransport::Gate>();
    m_core->takeApplicationFolder(m_env.makeFolder(QStringLiteral("Run%1").arg(++run)));
    m_core->m_strUserId = QStringLiteral("alice");
    m_folder = m_core->m_strFolder + QStringLiteral("/alice");
    // An Inbox with two messages (one played) and a thumbnail, an Outbox pair.
    writeFile(m_folder + "/Inbox/bob;200.wmv", "video");
    QImage thumbnail(192, 144, QImage::Format_RGB32);
    thumbnail.fill(QColor(90, 140, 200));
    QPainter(&thumbnail).fillRect(40, 30, 100, 80, QColor(240, 200, 60));
    QVERIFY(thumbnail.save(m_folder + "/Inbox/bob;200.jpg", "JPEG"));
    writeFile(m_folder + "/Inbox/carol;100.wmv", "video");
    writeFile(m_folder + "/Outbox/bob;alice;5", "video");
    writeFile(m_folder + "/Outbox/bob;alice;5.jpg", "jpeg");
    FileStatus status;
    status.setDate(m_folder + "/Inbox/bob;200.wmv", QDateTime::currentDateTime());
    status.setDate(m_folder + "/Inbox/carol;100.wmv", QDateTime::currentDateTime().addDays(-1));
    status.setRead(m_folder + "/Inbox/bob;200.wmv", false);
    status.setRead(m_folder + "/Inbox/carol;100.wmv", true);
}

void TestMainWindow::cleanup() {
    if (m_dialog) {
        m_dialog->exitRequested = 1;
        std::lock_guard lock(m_gate->mutex);
        m_gate->open = true;
    }
    m_gate->released.notify_all();
    m_dialog.reset();
    for (CNotification* popup : openPopups())
        delete popup;
}

void TestMainWindow::signIn() {
    m_dialog = std::make_unique<CMainDialog>();
    m_dialog->timers().stop(kTimerSignIn);
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    QVERIFY(m_dialog->completeSignIn());
}

void TestMainWindow::signInFillsInboxAndCounts() {
    signIn();
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Clipnote- alice"));
    // Two messages, the thumbnail is no row, the newest first.
    QCOMPARE(m_dialog->inboxList()->model()->rowCount(), 2);
    QCOMPARE(m_dialog->inboxList()->model()->index(0, 0).data().toString(),
             QStringLiteral("bob;200.wmv"));
    QCOMPARE(m_dialog->tabs()->count(0), 1);
    QCOMPARE(m_dialog->tabs()->count(1), 1);
    QCOMPARE(m_dialog->tabs()->count(2), 0);
    QVERIFY(m_dialog->timers().isActive(kTimerTrayBlink));
    QVERIFY(m_dialog->webPanel()->currentUrl().endsWith(QLatin1String("zeb/ad.asp")));
}

void TestMainWindow::selectingPlaysAndMarksRead() {
    signIn();
    QAbstractItemView* inbox = m_dialog->inboxList();
    const QModelIndex first = inbox->model()->index(0, 0);
    QTest::mouseClick(inbox->viewport(), Qt::LeftButton, {}, inbox->visualRect(first).center());
    const QString played = m_folder + "/Inbox/bob;200.wmv";
    QCOMPARE(m_dialog->player()->url(), played);
    QVERIFY(m_dialog->player()->isVisible());
    QCOMPARE(m_dialog->playerShown.load(), 1);
    QVERIFY(FileStatus().isRead(played));
    QCOMPARE(m_dialog->tabs()->count(0), 0);
    // No unread message is left: the blinking stops on the normal icon.
    QVERIFY(!m_dialog->timers().isActive(kTimerTrayBlink));
    QVERIFY(!m_dialog->tray().showsAlert());
    // The sender is the recipient of a reply.
    QCOMPARE(m_dialog->indicator()->state(), int(RecordIndicator::Ready));

    // A second row added to the selection leaves the first one playing.
    const QModelIndex second = inbox->model()->index(1, 0);
    QTest::mouseClick(inbox->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      inbox->visualRect(second).center());
    QCOMPARE(m_dialog->player()->url(), played);
    QVERIFY(m_dialog->player()->isVisible());
}

void TestMainWindow::clearingSelectionHidesPlayer() {
    signIn();
    QAbstractItemView* inbox = m_dialog->inboxList();
    const QModelIndex first = inbox->model()->index(0, 0);
    QTest::mouseClick(inbox->viewport(), Qt::LeftButton, {}, inbox->visualRect(first).center());
    QVERIFY(m_dialog->player()->isVisible());
    inbox->clearSelection();
    QVERIFY(!m_dialog->player()->isVisible());
    QCOMPARE(m_dialog->player()->url(), QString());
    QCOMPARE(m_dialog->playerShown.load(), 0);
}

void TestMainWindow::trayBlinksWhileUnread() {
    signIn();
    QVERIFY(m_dialog->timers().isActive(kTimerTrayBlink));
    const bool first = m_dialog->tray().showsAlert();
    QTRY_VERIFY(m_dialog->tray().showsAlert() != first);
    QTRY_VERIFY(m_dialog->tray().showsAlert() == first);
}

void TestMainWindow::minimiseHidesAndTrayClickShows_data() {
    QTest::addColumn<int>("mouseMessage");
    QTest::addColumn<bool>("shown");
    QTest::newRow("left button up shows") << int(WM_LBUTTONUP) << true;
    QTest::newRow("right button does nothing") << int(WM_RBUTTONUP) << false;
    QTest::newRow("left button down does nothing") << int(WM_LBUTTONDOWN) << false;
}

void TestMainWindow::minimiseHidesAndTrayClickShows() {
    QFETCH(int, mouseMessage);
    QFETCH(bool, shown);
    signIn();
    m_dialog->showMinimized();
    QTRY_VERIFY(!m_dialog->isVisible());
    QCoreApplication::postEvent(m_dialog.get(),
                                new PrivateEvent(WM_TRAY_NOTIFY, kTrayIconId, mouseMessage));
    QCoreApplication::processEvents();
    QTRY_COMPARE(m_dialog->isVisible(), shown);
    if (shown)
        QVERIFY(!m_dialog->isMinimized());
}

void TestMainWindow::popupClickShowsInbox() {
    signIn();
    m_dialog->tabs()->setCurrentIndex(3);
    m_dialog->ShowFolder();
    QVERIFY(m_dialog->contactList()->isVisible());
    QCoreApplication::postEvent(m_dialog.get(), new PrivateEvent(WM_HIDE_MAIN, 0, 0));
    QTRY_VERIFY(!m_dialog->isVisible());
    QCoreApplication::postEvent(m_dialog.get(), new PrivateEvent(WM_TRAY_NOTIFY, 1, WM_LBUTTONUP));
    QTRY_VERIFY(m_dialog->isVisible());
    QCOMPARE(m_dialog->currentTab(), 0);
    QVERIFY(m_dialog->inboxList()->isVisible());
    QVERIFY(!m_dialog->contactList()->isVisible());
}

void TestMainWindow::newMessageShowsPopupUnlessOff_data() {
    QTest::addColumn<int>("notifyPopup");
    QTest::addColumn<int>("popups");
    QTest::newRow("on") << 1 << 1;
    QTest::newRow("off") << 0 << 0;
}

void TestMainWindow::newMessageShowsPopupUnlessOff() {
    QFETCH(int, notifyPopup);
    QFETCH(int, popups);
    m_core->WriteProfileInt(QLatin1String(kSettingsSection), QLatin1String(kSettingNotifyPopup),
                            notifyPopup);
    signIn();
    QCoreApplication::postEvent(m_dialog.get(),
                                new PrivateEvent(WM_NEW_MESSAGE, 0, 0, QStringLiteral("bob;200")));
    QCoreApplication::processEvents();
    QTRY_COMPARE(openPopups().size(), popups);
}

void TestMainWindow::updateCountsMessage() {
    signIn();
    writeFile(m_folder + "/Contacts/dave", "Dave");
    writeFile(m_folder + "/Contacts/dave.jpg", "jpeg");
    const int before = m_dialog->tabs()->count(3);
    QCoreApplication::postEvent(m_dialog.get(), new PrivateEvent(WM_UPDATE_COUNTS, 0, 3));
    // Every file of Contacts counts, pictures too.
    QTRY_COMPARE(m_dialog->tabs()->count(3), before + 2);
    writeFile(m_folder + "/Outbox/carol;alice;6", "video");
    QCoreApplication::postEvent(m_dialog.get(), new PrivateEvent(WM_UPDATE_COUNTS, 0, -1));
    QTRY_COMPARE(m_dialog->tabs()->count(1), 2);
}

void TestMainWindow::f5RefillsCurrentList() {
    signIn();
    m_dialog->tabs()->setCurrentIndex(1);
    m_dialog->ShowFolder();
    QAbstractItemView* outbox = m_dialog->outboxList();
    QCOMPARE(outbox->model()->rowCount(), 1);
    writeFile(m_folder + "/Outbox/carol;alice;6", "video");
    // Showing the tab again does not reload a filled list; F5 does.
    m_dialog->ShowFolder();
    QCOMPARE(outbox->model()->rowCount(), 1);
    outbox->setFocus();
    QTest::keyClick(outbox, Qt::Key_F5);
    QTRY_COMPARE(outbox->model()->rowCount(), 2);
}

void TestMainWindow::layoutFollowsSize() {
    signIn();
    m_dialog->resize(300, 300);
    QCOMPARE(m_dialog->size(), QSize(500, 550));
    m_dialog->resize(900, 700);
    QTRY_COMPARE(m_dialog->size(), QSize(900, 700));
    const QRect list = m_dialog->inboxList()->geometry();
    QCOMPARE(list.topLeft(), QPoint(335, 12));
    QCOMPARE(list.right(), 900 - 5 - 1);
    QVERIFY(list.bottom() < m_dialog->tabs()->geometry().top());
    QCOMPARE(m_dialog->webPanel()->geometry(), QRect(4, 380, 320, 700 - 385));
}

void TestMainWindow::statusColours_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("countdown") << "Start in 3 seconds..." << QColor(128, 192, 128);
    QTest::newRow("recording") << "Recording (4 sec)..." << QColor(192, 128, 128);
    QTest::newRow("worker") << "Sending..." << QColor(128, 128, 192);
    QTest::newRow("empty") << "" << QColor(128, 128, 192);
}

void TestMainWindow::statusColours() {
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    StatusLine line;
    line.setStatus(text);
    QCOMPARE(line.text(), text);
    QCOMPARE(line.palette().color(QPalette::WindowText), colour);
}

void TestMainWindow::closingWaitsForCycle() {
    {
        std::lock_guard lock(m_gate->mutex);
        m_gate->open = false;
    }
    signIn();
    // The worker is held inside its upload.
    QTRY_VERIFY(m_gate->uploads.load() > 0);
    QSignalSpy finished(m_dialog.get(), &QDialog::finished);
    QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
    QTest::qWait(200);
    QCOMPARE(finished.size(), 0);
    QVERIFY(m_dialog->isVisible());
    {
        std::lock_guard lock(m_gate->mutex);
        m_gate->open = true;
    }
    m_gate->released.notify_all();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(m_dialog->workerStopped.load(), 1);
}

void TestMainWindow::aboutFromWindowMenu() {
    signIn();
    QStringList items;
    setPopupMenuHook([&items](QMenu& menu) {
        for (const QAction* action : menu.actions())
            items.append(action->text());
        return findCommand(menu, 16);
    });
    bool aboutShown = false;
    whenModal<CAboutBox>([&aboutShown](CAboutBox* box) {
        aboutShown = true;
        box->accept();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(100, 320),
                            m_dialog->mapToGlobal(QPoint(100, 320)));
    QCoreApplication::sendEvent(m_dialog.get(), &event);
    setPopupMenuHook({});
    QCOMPARE(items, QStringList{"&About Clipnote..."});
    QVERIFY(aboutShown);
}

void TestMainWindow::optionsButtonOpensSheet() {
    signIn();
    QString caption;
    whenModal<COptionsSheet>([&caption](COptionsSheet* sheet) {
        caption = sheet->windowTitle();
        sheet->reject();
    });
    auto* options = m_dialog->findChild<QPushButton*>(QStringLiteral("options"));
    QVERIFY(options);
    QTest::mouseClick(options, Qt::LeftButton);
    QCOMPARE(caption, QStringLiteral("Settings"));
}

void TestMainWindow::screenshot() {
    signIn();
    m_dialog->resize(760, 600);
    QCoreApplication::processEvents();
    const QImage shot = m_dialog->grab().toImage();
    const QString path = QDir(QCoreApplication::applicationDirPath())
                             .filePath("mainwindow-" + QGuiApplication::platformName() + ".png");
    QVERIFY(shot.save(path));
    QVERIFY(QFileInfo(path).size() > 0);
    QCOMPARE(shot.size(), m_dialog->size() * shot.devicePixelRatio());
    // Something was drawn: lists, tabs and pictures give many colours.
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 4)
        for (int x = 0; x < shot.width(); x += 4)
            colours.insert(shot.pixel(x, y));
    QVERIFY(colours.size() > 20);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
