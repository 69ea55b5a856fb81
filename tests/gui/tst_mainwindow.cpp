#include "app/appfonts.h"
#include "app/clientcore.h"
#include "mainwnd/adpanel.h"
#include "mainwnd/maindialog.h"
#include "mainwnd/recordindicator.h"
#include "mainwnd/statusline.h"
#include "mainwnd/trayicon.h"
#include "modal.h"
#include "notify/notification.h"
#include "platform/filestatus.h"
#include "platform/helpers.h"
#include "platform/messages.h"
#include "platform/popupmenu.h"
#include "platform/profile.h"
#include "platform/resources.h"
#include "platform/tempfolder.h"
#include "service/sendreceiveworker.h"
#include "store/dialogs/aboutbox.h"
#include "store/lists/contactlist.h"
#include "store/lists/inboxlist.h"
#include "store/lists/mytabs.h"
#include "store/lists/outboxlist.h"
#include "store/lists/sentlist.h"
#include "store/options/optionssheet.h"
#include "store/player/ocx1.h"
#include "store/player/playercontrols.h"
#include "testenvironment.h"
#include "testmessage.h"

#include <QApplication>
#include <QAudioOutput>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

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
    TransferResult upload(const QString&, const QString&, const QString&, const QString&) override {
        ++m_gate->uploads;
        std::unique_lock lock(m_gate->mutex);
        m_gate->released.wait(lock, [this] { return m_gate->open; });
        return TransferResult::failed();
    }
    TransferResult download(const QString&) override { return TransferResult::failed(); }

private:
    std::shared_ptr<Gate> m_gate;
};

// The preview's background, around the pictures and under the texts.
const QColor kPreviewColour(220, 220, 255);

bool sameColour(QColor a, QColor b, int tolerance) {
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

// Whether `shot` shows `picture` stretched into `target`, sampled on a grid
// wherever the picture is opaque.
bool showsPicture(const QImage& shot, const QImage& picture, const QRect& target,
                  int tolerance = 24) {
    const QImage expected =
        picture.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    int compared = 0;
    for (int y = 6; y < target.height() - 6; y += 13)
        for (int x = 6; x < target.width() - 6; x += 17) {
            const QColor want = expected.pixelColor(x, y);
            if (want.alpha() < 255)
                continue;
            if (!sameColour(shot.pixelColor(target.topLeft() + QPoint(x, y)), want, tolerance))
                return false;
            ++compared;
        }
    return compared > 20;
}

// The dark pixels of a part of an image: black text on light ground.
QList<QPoint> inkIn(const QImage& image, const QRect& area) {
    QList<QPoint> ink;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 100)
                ink.append(QPoint(x, y));
    return ink;
}

QStringList outboxFiles(const QString& folder, const QString& prefix) {
    return QDir(folder + "/Outbox").entryList({prefix + '*'}, QDir::Files, QDir::Name);
}

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
    void selectingSentPlaysWithoutMarkingRead();
    void clearingSelectionHidesPlayer();
    void contactSummaryWaitsForLastChange();
    void oneContactSummary_data();
    void oneContactSummary();
    void trayBlinksWhileUnread();
    void minimiseHidesAndTrayClickShows_data();
    void minimiseHidesAndTrayClickShows();
    void minimiseWithoutTrayKeepsTheWindow();
    void popupClickShowsInbox();
    void newMessageShowsPopupUnlessOff_data();
    void newMessageShowsPopupUnlessOff();
    void updateCountsMessage();
    void f5RefillsCurrentList();
    void layoutFollowsSize();
    void statusColours_data();
    void statusColours();
    void savingShownUntilFiled();
    void backgroundClickClearsStatus_data();
    void backgroundClickClearsStatus();
    void releaseDuringCountdownRecordsNothing_data();
    void releaseDuringCountdownRecordsNothing();
    void closingWaitsForCycle();
    void aboutFromWindowMenu();
    void optionsButtonOpensSheet();
    void clickOnSelectedRowPlaysAgain();
    void playerKeys_data();
    void playerKeys();
    void spaceRecordsWhateverHasFocus_data();
    void spaceRecordsWhateverHasFocus();
    void screenshot();
    void playerScreenshot();

private:
    void signIn();
    // Holds the worker inside its first upload, with "Sending..." shown, so
    // it neither writes the status line nor repaints meanwhile. Call before
    // signIn(); waitForHeldUpload() after.
    void holdUploads();
    void waitForHeldUpload();
    void showTab(int tab);
    void selectContacts(const QStringList& ids);
    // Bob's Inbox message becomes a real one of that many seconds, playing
    // once signed in and selected.
    void playRealMessage(int seconds);
    QMediaPlayer* media() const { return m_dialog->player()->mediaPlayer(); }
    QImage onScreen() const;
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
    setTimerScale(0.05);
    if (m_dialog) {
        m_dialog->flags().exitRequested = 1;
        QTRY_COMPARE_WITH_TIMEOUT(m_dialog->flags().savingWorkers.load(), 0, 20000);
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

void TestMainWindow::holdUploads() {
    std::lock_guard lock(m_gate->mutex);
    m_gate->open = false;
}

void TestMainWindow::waitForHeldUpload() {
    QTRY_VERIFY(m_gate->uploads.load() > 0);
    QTRY_COMPARE(m_dialog->statusText(), QStringLiteral("Sending..."));
}

void TestMainWindow::showTab(int tab) {
    m_dialog->tabs()->setCurrentIndex(tab);
    m_dialog->ShowFolder();
}

void TestMainWindow::selectContacts(const QStringList& ids) {
    CContactList* contacts = m_dialog->contactList();
    for (int row = 0; row < contacts->count(); ++row)
        if (ids.contains(contacts->userIdAt(row)))
            QTest::mouseClick(contacts->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              contacts->rowRect(row).center());
}

void TestMainWindow::playRealMessage(int seconds) {
    QVERIFY(writeMessage(m_folder + "/Inbox/bob;200.wmv", seconds));
    signIn();
    CInBoxList* inbox = m_dialog->inboxList();
    QCOMPARE(inbox->textAt(0), QStringLiteral("bob;200.wmv"));
    QTest::mouseClick(inbox->viewport(), Qt::LeftButton, {}, inbox->rowRect(0).center());
    // Generous: the media pipeline starts slowly on a loaded machine.
    QTRY_COMPARE_WITH_TIMEOUT(media()->mediaStatus(), QMediaPlayer::BufferedMedia, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(media()->playbackState(), QMediaPlayer::PlayingState, 30000);
    QVERIFY(m_dialog->player()->controls()->isVisible());
}

// What the window last painted, as it stands on the screen.
QImage TestMainWindow::onScreen() const {
    return m_dialog->screen()->grabWindow(m_dialog->winId()).toImage();
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
    QCOMPARE(m_dialog->flags().playerShown.load(), 1);
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

void TestMainWindow::selectingSentPlaysWithoutMarkingRead() {
    // An Inbox message of the very name of the Sent row must stay unread too.
    writeFile(m_folder + "/Sent/bob;alice;7.wmv", "video");
    writeFile(m_folder + "/Inbox/bob;alice;7.wmv", "video");
    signIn();
    QCOMPARE(m_dialog->tabs()->count(0), 2);
    showTab(2);
    CSentList* sent = m_dialog->sentList();
    QCOMPARE(sent->count(), 1);
    QTest::mouseClick(sent->viewport(), Qt::LeftButton, {}, sent->rowRect(0).center());
    const QString played = m_folder + "/Sent/bob;alice;7.wmv";
    QCOMPARE(m_dialog->player()->url(), played);
    QVERIFY(m_dialog->player()->isVisible());
    QCOMPARE(m_dialog->flags().playerShown.load(), 1);
    QVERIFY(!FileStatus().isRead(played));
    QVERIFY(!FileStatus().isRead(m_folder + "/Inbox/bob;200.wmv"));
    QVERIFY(!FileStatus().isRead(m_folder + "/Inbox/bob;alice;7.wmv"));
    QCOMPARE(m_dialog->tabs()->count(0), 2);
    QVERIFY(m_dialog->timers().isActive(kTimerTrayBlink));
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
    QCOMPARE(m_dialog->flags().playerShown.load(), 0);
}

void TestMainWindow::contactSummaryWaitsForLastChange() {
    for (const char* id : {"bob", "carol"})
        writeFile(m_folder + "/Contacts/" + id, QByteArray(id).toUpper());
    holdUploads();
    signIn();
    waitForHeldUpload();
    showTab(3);
    const QRect group(64, 20, 192, 168);
    const QImage none = withColourKey(loadBitmapResource(kBitmapNoRecipient));
    const QImage several = withColourKey(loadBitmapResource(kBitmapSeveralContacts));
    QTRY_VERIFY(showsPicture(onScreen(), none, CMainDialog::previewRect()));
    QCOMPARE(m_dialog->indicator()->state(), int(RecordIndicator::NoRecording));

    // A change made while the period is long: nothing follows it yet.
    setTimerScale(200);
    selectContacts({"bob"});
    QVERIFY(m_dialog->timers().isActive(kTimerContactRepaint));
    QCoreApplication::processEvents();
    QVERIFY(showsPicture(onScreen(), none, CMainDialog::previewRect()));
    // The next change starts the timer again, with the short period.
    setTimerScale(0.05);
    selectContacts({"carol"});
    QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->timers().isActive(kTimerContactRepaint), 10000);
    QTRY_VERIFY(showsPicture(onScreen(), several, group));
    QCOMPARE(m_dialog->indicator()->state(), int(RecordIndicator::Ready));
}

void TestMainWindow::oneContactSummary_data() {
    QTest::addColumn<bool>("withPicture");
    QTest::newRow("own picture") << true;
    QTest::newRow("no picture: bitmap 131") << false;
}

void TestMainWindow::oneContactSummary() {
    QFETCH(bool, withPicture);
    // A name with a line break is still drawn on one line.
    writeFile(m_folder + "/Contacts/bob", "Bob\nSmith");
    // A picture whose colour tells where each of its points landed.
    QImage picture(160, 120, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixelColor(x, y, QColor(x * 255 / 159, y * 255 / 119, 60));
    if (withPicture)
        QVERIFY(picture.save(m_folder + "/Contacts/bob.jpg", "JPEG", 95));
    const QImage expected = withPicture ? QImage(m_folder + "/Contacts/bob.jpg")
                                        : withColourKey(loadBitmapResource(kBitmapOneContact));
    QVERIFY(!expected.isNull());
    signIn();
    showTab(3);
    selectContacts({"bob"});
    const QImage shot = m_dialog->grab(QRect(0, 0, 330, 270)).toImage();

    const QRect target(64, 20, 192, 168);
    QVERIFY(showsPicture(shot, expected, target, withPicture ? 12 : 24));
    if (withPicture) {
        // Stretched exactly over the rectangle: the preview shows just outside.
        for (const QPoint outside :
             {QPoint(62, 100), QPoint(257, 100), QPoint(150, 18), QPoint(150, 189)})
            QVERIFY2(sameColour(shot.pixelColor(outside), kPreviewColour, 8),
                     qPrintable(QStringLiteral("%1,%2").arg(outside.x()).arg(outside.y())));
    }

    // The ID, and 22 pixels below it the name, each one left-aligned line.
    QImage text(shot.size(), QImage::Format_RGB32);
    text.fill(kPreviewColour);
    {
        QPainter painter(&text);
        painter.setFont(appFonts().bold14);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(10, 200 + painter.fontMetrics().ascent()), "bob");
        painter.drawText(QPoint(10, 222 + painter.fontMetrics().ascent()), "Bob Smith");
    }
    const QRect lines(10, 196, 100, 68);
    const QList<QPoint> want = inkIn(text, lines);
    const QList<QPoint> got = inkIn(shot, lines);
    QVERIFY(want.size() > 50);
    int differing = 0;
    for (const QPoint& point : want)
        differing += got.contains(point) ? 0 : 1;
    for (const QPoint& point : got)
        differing += want.contains(point) ? 0 : 1;
    QVERIFY2(differing <= want.size() / 20, qPrintable(QString::number(differing)));
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
    TrayIcon::setTrayPresenceForTesting(true);
    auto restore = qScopeGuard([] { TrayIcon::setTrayPresenceForTesting(std::nullopt); });
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

void TestMainWindow::minimiseWithoutTrayKeepsTheWindow() {
    TrayIcon::setTrayPresenceForTesting(false);
    auto restore = qScopeGuard([] { TrayIcon::setTrayPresenceForTesting(std::nullopt); });
    signIn();
    m_dialog->showMinimized();
    QTRY_VERIFY(m_dialog->isMinimized());
    // Nothing could bring back a hidden window: it stays on the task bar.
    QCoreApplication::processEvents();
    QVERIFY(m_dialog->isVisible());
    m_dialog->showNormal();
    QTRY_VERIFY(!m_dialog->isMinimized());
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

void TestMainWindow::savingShownUntilFiled() {
    writeFile(m_folder + "/Contacts/dave", "Dave");
    holdUploads();
    signIn();
    waitForHeldUpload();
    showTab(3);
    selectContacts({"dave"});
    QCOMPARE(m_dialog->GetRecipients(), QStringList{"dave"});
    // Each text the status line shows, with how many copies were filed then.
    QList<QPair<QString, int>> shown;
    QLabel* status = m_dialog->findChild<QLabel*>(QStringLiteral("status"));
    QVERIFY(status);
    struct Log : QObject {
        std::function<void()> onPaint;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                onPaint();
            return false;
        }
    } log;
    log.onPaint = [&] {
        const QPair<QString, int> now(status->text(), outboxFiles(m_folder, "dave;").size());
        if (shown.isEmpty() || shown.last() != now)
            shown.append(now);
    };
    status->installEventFilter(&log);

    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus);
    QTest::keyPress(focus, Qt::Key_Space);
    QTRY_VERIFY(m_dialog->flags().recording.load() == 1);
    // Frames have reached the writer.
    QTRY_VERIFY_WITH_TIMEOUT(m_dialog->recordedMs > 0, 20000);
    QTest::keyRelease(focus, Qt::Key_Space);
    QTRY_COMPARE_WITH_TIMEOUT(m_dialog->flags().savingWorkers.load(), 0, 20000);
    QTRY_COMPARE(m_dialog->statusText(), QString());
    status->removeEventFilter(&log);

    const auto saving = std::find_if(shown.cbegin(), shown.cend(), [](const auto& entry) {
        return entry.first == QLatin1String("Saving...");
    });
    QVERIFY2(saving != shown.cend(), "Saving... was shown");
    QCOMPARE(saving->second, 0);
    const auto after = std::find_if(saving, shown.cend(), [](const auto& entry) {
        return entry.first != QLatin1String("Saving...");
    });
    QVERIFY(after != shown.cend());
    QCOMPARE(after->first, QString());
    QVERIFY(after->second > 0);
    const QStringList filed = outboxFiles(m_folder, "dave;alice;");
    QVERIFY(!filed.isEmpty());
    QVERIFY(QFileInfo(m_folder + "/Outbox/" + filed.first()).size() > 0);
}

void TestMainWindow::backgroundClickClearsStatus_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QPoint>("click");
    QTest::newRow("worker sending, click in the preview")
        << QStringLiteral("Sending...") << QPoint(160, 120);
    QTest::newRow("cancelled notice, click below the status line")
        << QStringLiteral("Cancelled") << QPoint(200, 310);
}

void TestMainWindow::backgroundClickClearsStatus() {
    QFETCH(QString, text);
    QFETCH(QPoint, click);
    holdUploads();
    signIn();
    waitForHeldUpload();
    m_dialog->setStatusText(text);
    QCOMPARE(m_dialog->statusText(), text);
    QCOMPARE(m_dialog->childAt(click), nullptr);
    QTest::mouseClick(m_dialog.get(), Qt::LeftButton, {}, click);
    QCOMPARE(m_dialog->statusText(), QString());
    QCOMPARE(m_dialog->flags().gestureActive.load(), 0);
}

void TestMainWindow::releaseDuringCountdownRecordsNothing_data() {
    QTest::addColumn<bool>("inside");
    QTest::newRow("released on the indicator") << true;
    QTest::newRow("released outside it") << false;
}

void TestMainWindow::releaseDuringCountdownRecordsNothing() {
    QFETCH(bool, inside);
    writeFile(m_folder + "/Contacts/dave", "Dave");
    signIn();
    // What an earlier recording left in the user's working folder must stay
    // as it is.
    const QString video = GetTempPath() + "vnote.wmv";
    const QString thumbnail = GetTempPath() + "vnote.jpg";
    QVERIFY(!GetTempPath().isEmpty());
    QVERIFY(writeFile(video, "earlier video"));
    QVERIFY(writeFile(thumbnail, "earlier thumbnail"));
    showTab(3);
    selectContacts({"dave"});
    const QPoint onIndicator = m_dialog->indicator()->geometry().center();
    QTest::mousePress(m_dialog.get(), Qt::LeftButton, {}, onIndicator);
    QCOMPARE(m_dialog->flags().gestureActive.load(), 1);
    QCOMPARE(m_dialog->statusText(), QStringLiteral("Start in 3 seconds..."));
    QTest::mouseRelease(m_dialog.get(), Qt::LeftButton, {},
                        inside ? onIndicator : QPoint(200, 310));
    // A short click on the indicator may be the first of a double click:
    // the countdown ends once a second would have come.
    QTRY_VERIFY(!m_dialog->waitingForSecondTap());
    QCOMPARE(m_dialog->flags().gestureActive.load(), 0);
    QVERIFY(!m_dialog->timers().isActive(kTimerCountdown));
    QCOMPARE(m_dialog->statusText(), QString());
    QCOMPARE(m_dialog->flags().recording.load(), 0);
    QVERIFY(!m_dialog->writer());
    QCOMPARE(m_dialog->flags().savingWorkers.load(), 0);
    QCOMPARE(m_dialog->indicator()->state(), int(RecordIndicator::Ready));
    QCOMPARE(readFile(video), QByteArray("earlier video"));
    QCOMPARE(readFile(thumbnail), QByteArray("earlier thumbnail"));
    QCOMPARE(outboxFiles(m_folder, "dave;"), QStringList{});
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
    QCOMPARE(m_dialog->flags().workerStopped.load(), 1);
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

void TestMainWindow::clickOnSelectedRowPlaysAgain() {
    playRealMessage(2);
    CInBoxList* inbox = m_dialog->inboxList();
    QTRY_COMPARE_WITH_TIMEOUT(media()->mediaStatus(), QMediaPlayer::EndOfMedia, 15000);
    QCOMPARE(media()->playbackState(), QMediaPlayer::StoppedState);
    QSignalSpy positions(media(), &QMediaPlayer::positionChanged);
    QTest::mouseClick(inbox->viewport(), Qt::LeftButton, {}, inbox->rowRect(0).center());
    QCOMPARE(inbox->selectedRowNumbers(), QList<int>{0});
    QCOMPARE(m_dialog->player()->url(), m_folder + "/Inbox/bob;200.wmv");
    QTRY_COMPARE(media()->playbackState(), QMediaPlayer::PlayingState);
    QTRY_VERIFY(!positions.isEmpty() && positions.first().first().toLongLong() < 1000);
}

void TestMainWindow::playerKeys_data() {
    QTest::addColumn<QString>("focus"); // the object name of the widget with the focus
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("playing");                   // the message in the player afterwards
    QTest::addColumn<QMediaPlayer::PlaybackState>("state"); // that of bob's message
    QTest::addColumn<qint64>("position");                   // -1: not looked at
    QTest::addColumn<int>("tab");
    const QString bob = "bob;200.wmv";
    const auto paused = QMediaPlayer::PausedState;
    const auto playing = QMediaPlayer::PlayingState;
    QTest::newRow("Enter in the list plays")
        << "inbox" << int(Qt::Key_Return) << bob << playing << -1LL << 0;
    QTest::newRow("Right in the list seeks on")
        << "inbox" << int(Qt::Key_Right) << bob << paused << 11000LL << 0;
    QTest::newRow("Left in the list seeks back")
        << "inbox" << int(Qt::Key_Left) << bob << paused << 1000LL << 0;
    QTest::newRow("Enter with the focus on the window")
        << "" << int(Qt::Key_Enter) << bob << playing << -1LL << 0;
    // The list keeps its own keys, and so do the tabs.
    QTest::newRow("Down in the list selects the next message")
        << "inbox" << int(Qt::Key_Down) << "carol;100.wmv" << paused << -1LL << 0;
    QTest::newRow("Right on the tabs shows the next tab")
        << "tabs" << int(Qt::Key_Right) << "" << paused << -1LL << 1;
}

void TestMainWindow::playerKeys() {
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(QString, playing);
    QFETCH(QMediaPlayer::PlaybackState, state);
    QFETCH(qint64, position);
    QFETCH(int, tab);
    playRealMessage(12);
    PlayerControls* controls = m_dialog->player()->controls();
    controls->togglePlay();
    QTRY_COMPARE(media()->playbackState(), QMediaPlayer::PausedState);
    controls->seekTo(6000);
    QTRY_VERIFY(qAbs(media()->position() - 6000) < 300);
    QWidget* target = m_dialog.get();
    if (focus.isEmpty()) {
        if (QWidget* focused = QApplication::focusWidget())
            focused->clearFocus();
    } else {
        target = m_dialog->findChild<QWidget*>(focus);
        target->setFocus();
    }
    QTRY_COMPARE(QApplication::focusWidget(), focus.isEmpty() ? nullptr : target);
    QTest::keyClick(target, Qt::Key(key));
    QCOMPARE(m_dialog->player()->url(),
             playing.isEmpty() ? QString() : m_folder + "/Inbox/" + playing);
    QCOMPARE(m_dialog->currentTab(), tab);
    if (playing != QLatin1String("bob;200.wmv"))
        return;
    QTRY_COMPARE(media()->playbackState(), state);
    if (position >= 0)
        QTRY_VERIFY2(qAbs(media()->position() - position) < 300,
                     qPrintable(QString::number(media()->position())));
}

void TestMainWindow::spaceRecordsWhateverHasFocus_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<bool>("pauseClicked"); // with the mouse, before the space bar
    QTest::newRow("list") << "inbox" << false;
    QTest::newRow("list, after a click on pause") << "inbox" << true;
    QTest::newRow("tabs") << "tabs" << false;
    QTest::newRow("Options button") << "options" << false;
    QTest::newRow("web panel") << "webPanel" << false;
}

void TestMainWindow::spaceRecordsWhateverHasFocus() {
    QFETCH(QString, focus);
    QFETCH(bool, pauseClicked);
    playRealMessage(12);
    auto* target = m_dialog->findChild<QWidget*>(focus);
    target->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), target);
    const QList<QToolButton*> buttons =
        m_dialog->player()->controls()->findChildren<QToolButton*>();
    QVERIFY(buttons.size() >= 4);
    if (pauseClicked) {
        QTest::mouseClick(m_dialog->player()->controls()->findChild<QToolButton*>("playPause"),
                          Qt::LeftButton);
        // The click was the button's; the focus stayed where it was.
        QTRY_COMPARE(media()->playbackState(), QMediaPlayer::PausedState);
        QCOMPARE(QApplication::focusWidget(), target);
    }
    std::vector<std::unique_ptr<QSignalSpy>> pressed;
    for (QToolButton* button : buttons)
        pressed.push_back(std::make_unique<QSignalSpy>(button, &QToolButton::pressed));
    // Held: the key repeats as the keyboard would.
    QTest::keyPress(target, Qt::Key_Space);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QCoreApplication::sendEvent(target, &repeat);
    QCOMPARE(m_dialog->flags().gestureActive.load(), 1);
    QCOMPARE(m_dialog->statusText(), QStringLiteral("Start in 3 seconds..."));
    QTest::keyRelease(target, Qt::Key_Space);
    QTRY_COMPARE(m_dialog->flags().gestureActive.load(), 0);
    for (const auto& spy : pressed)
        QCOMPARE(spy->count(), 0);
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

void TestMainWindow::playerScreenshot() {
    playRealMessage(12);
    m_dialog->resize(760, 600);
    QTRY_VERIFY_WITH_TIMEOUT(media()->position() >= 3000, 40000);
    QVERIFY(!m_dialog->player()->pictureRect().isNull());
    PlayerControls* controls = m_dialog->player()->controls();
    QVERIFY(controls->isVisible());
    QVERIFY(controls->timeText().endsWith(QLatin1String(" / 0:12")));
    const QImage shot = m_dialog->grab().toImage();
    const QString path =
        QDir(QCoreApplication::applicationDirPath())
            .filePath("mainwindow-player-" + QGuiApplication::platformName() + ".png");
    QVERIFY(shot.save(path));
    // The controls are drawn under the picture, inside the preview area.
    const QRect bar(controls->mapTo(m_dialog.get(), QPoint(0, 0)), controls->size());
    QVERIFY(CMainDialog::previewRect().contains(bar));
    QCOMPARE(bar.bottom(), CMainDialog::previewRect().bottom());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
