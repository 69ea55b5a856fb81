#include "app/clientcore.h"
#include "mainwnd/maindialog.h"
#include "mainwnd/recordindicator.h"
#include "mediaprobe.h"
#include "platform/alert.h"
#include "platform/helpers.h"
#include "platform/messagebox.h"
#include "platform/messages.h"
#include "platform/resources.h"
#include "platform/tempfolder.h"
#include "recorder/capturewindow.h"
#include "recorder/devicechoice.h"
#include "recorder/wmvwriter.h"
#include "service/sendreceiveworker.h"
#include "store/lists/contactlist.h"
#include "store/lists/inboxlist.h"
#include "store/lists/mytabs.h"
#include "store/player/ocx1.h"
#include "testenvironment.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

namespace {
// Transfers that reach nothing, so recordings stay in the Outbox.
class OfflineTransport : public MessageTransport {
public:
    TransferResult upload(const QString&, const QString&, const QString&, const QString&) override {
        return TransferResult::failed();
    }
    TransferResult download(const QString&) override { return TransferResult::failed(); }
};

QStringList outboxFiles(const QString& folder) {
    return QDir(folder + "/Outbox").entryList(QDir::Files, QDir::Name);
}

bool sameColour(QColor a, QColor b, int tolerance = 24) {
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}
} // namespace

// Recording a message with the test camera and microphone: the countdown,
// the ways a gesture ends, the 30-second limit, what is filed for whom, the
// indicator and the preview's summary of the recipients.
class TestRecording : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void countdownThenRecording();
    void spaceUpDuringCountdownRecordsNothing();
    void keyRepeatPairsKeepTheGesture_data();
    void keyRepeatPairsKeepTheGesture();
    void gestureShowsTheCameraInsteadOfThePlayer();
    void recordingWaitsForTheFirstPicture();
    void spaceRecordingIsFiledForSelectedContacts();
    void spaceWithoutRecipientFilesNothing();
    void shortRecordingCarriesNoOldThumbnail();
    void mouseReleaseInsideFilesOutsideCancels_data();
    void mouseReleaseInsideFilesOutsideCancels();
    void pressWithoutRecipientDoesNothing();
    void thirtySecondLimitStopsAndFiles();
    void indicatorFollowsTabsAndSelection();
    void previewSummary_data();
    void previewSummary();
    void noCameraOffersRetryThenNothingRecords();
    void frameWriteFailureIsShownAndFilesNothing_data();
    void frameWriteFailureIsShownAndFilesNothing();
    void videoFinishedBeforeTheSavingWorkerLooks();
    void chosenDeviceGoneFallsBackWithAMessage_data();
    void chosenDeviceGoneFallsBackWithAMessage();
    void doubleTapLocks_data();
    void doubleTapLocks();
    void lockedGestureEnds_data();
    void lockedGestureEnds();
    void screenshots();

private:
    void signIn();
    void selectContacts(const QStringList& ids);
    // A held space bar: each call a second later than the last on the
    // window system's clock.
    void pressSpace();
    void releaseSpace();
    // Events at a given time on the window system's clock.
    void sendKey(QEvent::Type type, Qt::Key key, quint64 at, bool autoRepeat = false);
    void sendMouse(QEvent::Type type, QPoint position, quint64 at);
    // A press or release of the space bar or of the left button on the
    // indicator; secondPress sends the press a double click gives.
    void tap(const QString& input, bool press, quint64 at, bool secondPress = false);
    void waitUntilSettled();
    void waitForRecordedMs(std::uint32_t ms);

    TestEnvironment m_env;
    quint64 m_clock = 0;
    ClientCore* m_core = nullptr;
    std::unique_ptr<CMainDialog> m_dialog;
    QString m_folder;
};

void TestRecording::initTestCase() {
    // Recorded time adds up the time between grabbed frames only while the
    // grab timer runs slower than the 30 ms frame pacing.
    setTimerScale(0.34);
    m_core = new ClientCore;
    m_core->SetRegistryKey(QStringLiteral("ZEB"));
    CMainDialog::setTransportFactory([] { return std::make_unique<OfflineTransport>(); });
}

void TestRecording::init() {
    static int run = 0;
    m_core->takeApplicationFolder(m_env.makeFolder(QStringLiteral("Run%1").arg(++run)));
    m_core->m_strUserId = QStringLiteral("alice");
    m_folder = m_core->m_strFolder + QStringLiteral("/alice");
    for (const char* id : {"bob", "carol", "dave"})
        writeFile(m_folder + "/Contacts/" + id, QByteArray(id).toUpper());
    QFile::remove(GetTempPath() + "vnote.wmv");
    QFile::remove(GetTempPath() + "vnote.jpg");
}

void TestRecording::cleanup() {
    setMessageBoxHook({});
    if (m_dialog) {
        m_dialog->flags().exitRequested = 1;
        QTRY_COMPARE(m_dialog->flags().savingWorkers.load(), 0);
    }
    m_dialog.reset();
}

void TestRecording::signIn() {
    m_dialog = std::make_unique<CMainDialog>();
    m_dialog->timers().stop(kTimerSignIn);
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    QVERIFY(m_dialog->completeSignIn());
    QVERIFY2(m_dialog->captureWindow(), "the test camera gives a capture window");
}

void TestRecording::selectContacts(const QStringList& ids) {
    m_dialog->tabs()->setCurrentIndex(3);
    m_dialog->ShowFolder();
    CContactList* contacts = m_dialog->contactList();
    contacts->clearSelection();
    for (int row = 0; row < contacts->count(); ++row)
        if (ids.contains(contacts->userIdAt(row)))
            QTest::mouseClick(contacts->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              contacts->rowRect(row).center());
    QCOMPARE(m_dialog->GetRecipients().size(), ids.size());
}

void TestRecording::pressSpace() {
    m_clock += 1000;
    sendKey(QEvent::KeyPress, Qt::Key_Space, m_clock);
}

void TestRecording::releaseSpace() {
    m_clock += 1000;
    sendKey(QEvent::KeyRelease, Qt::Key_Space, m_clock);
    waitUntilSettled();
}

void TestRecording::sendKey(QEvent::Type type, Qt::Key key, quint64 at, bool autoRepeat) {
    QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : m_dialog.get();
    const QString text = key == Qt::Key_Space ? QStringLiteral(" ") : QString();
    QKeyEvent event(type, key, Qt::NoModifier, text, autoRepeat);
    event.setTimestamp(at);
    QApplication::sendEvent(focus, &event);
}

void TestRecording::sendMouse(QEvent::Type type, QPoint position, quint64 at) {
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, position, m_dialog->mapToGlobal(position), Qt::LeftButton, buttons,
                      Qt::NoModifier);
    event.setTimestamp(at);
    QApplication::sendEvent(m_dialog.get(), &event);
}

void TestRecording::tap(const QString& input, bool press, quint64 at, bool secondPress) {
    if (input == QLatin1String("space")) {
        sendKey(press ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Space, at);
        return;
    }
    const QEvent::Type type = !press        ? QEvent::MouseButtonRelease
                              : secondPress ? QEvent::MouseButtonDblClick
                                            : QEvent::MouseButtonPress;
    sendMouse(type, m_dialog->indicator()->geometry().center(), at);
}

void TestRecording::waitUntilSettled() {
    // A release counts once no press of an auto-repeat pair follows it, and
    // a first tap's gesture waits for a second.
    QTRY_VERIFY(!m_dialog->spaceReleasePending() && !m_dialog->waitingForSecondTap());
}

void TestRecording::waitForRecordedMs(std::uint32_t ms) {
    QTRY_VERIFY_WITH_TIMEOUT(m_dialog->recordedMs >= ms, 20000);
}

void TestRecording::countdownThenRecording() {
    signIn();
    // The camera is on only while a gesture needs it.
    QVERIFY(!m_dialog->captureWindow()->isConnected());
    pressSpace();
    QVERIFY(m_dialog->captureWindow()->isConnected());
    QCOMPARE(m_dialog->statusText(), QStringLiteral("Start in 3 seconds..."));
    QCOMPARE(m_dialog->indicator()->state(), int(RecordIndicator::CountingDown));
    QVERIFY(m_dialog->captureWindow()->isVisible());
    QTRY_COMPARE(m_dialog->statusText(), QStringLiteral("Start in 2 seconds..."));
    QTRY_COMPARE(m_dialog->statusText(), QStringLiteral("Start in 1 seconds..."));
    QTRY_VERIFY(m_dialog->flags().recording.load() == 1);
    QCOMPARE(m_dialog->indicator()->state(), int(RecordIndicator::Recording));
    QVERIFY(m_dialog->statusText().startsWith(QLatin1String("Recording")));
    QTRY_VERIFY(m_dialog->statusText().startsWith(QLatin1String("Recording (")));
    // The space bar never holds the pointer: other programs keep their clicks.
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    releaseSpace();
    QCOMPARE(m_dialog->flags().recording.load(), 0);
    QVERIFY(!m_dialog->captureWindow()->isVisible());
    QVERIFY(!m_dialog->captureWindow()->isConnected());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
}

void TestRecording::spaceUpDuringCountdownRecordsNothing() {
    signIn();
    // The key that records never clicks the button that has the focus.
    auto* options = m_dialog->findChild<QPushButton*>(QStringLiteral("options"));
    options->setFocus();
    QSignalSpy clicks(options, &QPushButton::clicked);
    pressSpace();
    QCOMPARE(m_dialog->statusText(), QStringLiteral("Start in 3 seconds..."));
    releaseSpace();
    QCOMPARE(m_dialog->statusText(), QString());
    QCOMPARE(m_dialog->flags().gestureActive.load(), 0);
    // The countdown is stopped, so nothing can start recording later.
    QVERIFY(!m_dialog->timers().isActive(kTimerCountdown));
    QCOMPARE(m_dialog->flags().recording.load(), 0);
    QCOMPARE(clicks.count(), 0);
    QVERIFY(!QFile::exists(GetTempPath() + "vnote.wmv"));
    QCOMPARE(outboxFiles(m_folder), QStringList{});
}

void TestRecording::keyRepeatPairsKeepTheGesture_data() {
    QTest::addColumn<bool>("markedAsRepeat");
    // An X server sends a held key as release and press pairs; the toolkit
    // does not always mark them as repeats.
    QTest::newRow("marked") << true;
    QTest::newRow("unmarked") << false;
}

void TestRecording::keyRepeatPairsKeepTheGesture() {
    QFETCH(bool, markedAsRepeat);
    signIn();
    selectContacts({"bob"});
    m_clock += 1000;
    sendKey(QEvent::KeyPress, Qt::Key_Space, m_clock);
    bool countdownRestarted = false;
    bool counted = false;
    // Pairs at a keyboard's repeat rate, through the countdown and into the
    // recording.
    QDeadlineTimer deadline(60000);
    while (m_dialog->recordedMs < 1500 && !countdownRestarted) {
        QVERIFY2(!deadline.hasExpired(), "the recording never reached 1.5 s");
        // The two of a pair carry one time, at a keyboard's repeat rate.
        m_clock += 40;
        sendKey(QEvent::KeyRelease, Qt::Key_Space, m_clock, markedAsRepeat);
        sendKey(QEvent::KeyPress, Qt::Key_Space, m_clock, markedAsRepeat);
        QTest::qWait(30);
        const QString status = m_dialog->statusText();
        counted = counted || status.startsWith(QLatin1String("Start in 2"));
        countdownRestarted = (counted && status.startsWith(QLatin1String("Start in 3"))) ||
                             m_dialog->flags().gestureActive.load() == 0;
    }
    QVERIFY2(!countdownRestarted, "a repeat pair ended the gesture");
    QCOMPARE(m_dialog->flags().recording.load(), 1);
    sendKey(QEvent::KeyRelease, Qt::Key_Space, m_clock + 1);
    // The real release ends the recording without another key event.
    QTRY_COMPARE(m_dialog->flags().recording.load(), 0);
    QTRY_COMPARE(outboxFiles(m_folder).size(), 2);
}

void TestRecording::gestureShowsTheCameraInsteadOfThePlayer() {
    writeFile(m_folder + "/Inbox/bob;100.wmv", "video");
    signIn();
    m_dialog->tabs()->setCurrentIndex(0);
    m_dialog->ShowFolder();
    QAbstractItemView* inbox = m_dialog->inboxList();
    QTest::mouseClick(inbox->viewport(), Qt::LeftButton, {},
                      inbox->visualRect(inbox->model()->index(0, 0)).center());
    QVERIFY(m_dialog->player()->isVisible());
    pressSpace();
    QCOMPARE(m_dialog->flags().playerShown.load(), 0);
    QVERIFY(!m_dialog->player()->isVisible());
    // What stands in the preview area is the camera's picture.
    const QPoint centre = CMainDialog::previewRect().center();
    QWidget* shown = m_dialog->childAt(centre);
    QVERIFY(shown == m_dialog->captureWindow() || m_dialog->captureWindow()->isAncestorOf(shown));
    QTRY_VERIFY(m_dialog->captureWindow()->hasPicture());
    releaseSpace();
}

void TestRecording::recordingWaitsForTheFirstPicture() {
    signIn();
    selectContacts({"bob"});
    pressSpace();
    // A camera that gives nothing yet: the countdown ends without a picture.
    m_dialog->captureWindow()->disconnectDriver();
    QTRY_VERIFY(m_dialog->statusText() == QStringLiteral("Start in 1 seconds...") &&
                !m_dialog->timers().isActive(kTimerCountdown));
    QCOMPARE(m_dialog->flags().recording.load(), 0);
    QVERIFY(!m_dialog->writer());
    QVERIFY(m_dialog->captureWindow()->connectDriver());
    QTRY_COMPARE(m_dialog->flags().recording.load(), 1);
    waitForRecordedMs(300);
    releaseSpace();
    QTRY_COMPARE(m_dialog->flags().savingWorkers.load(), 0);
    const QStringList filed = outboxFiles(m_folder);
    QVERIFY(!filed.isEmpty() && filed.front().startsWith(QLatin1String("bob;alice;")));
    QVERIFY(QFileInfo(m_folder + "/Outbox/" + filed.front()).size() > 1000);
}

void TestRecording::spaceRecordingIsFiledForSelectedContacts() {
    signIn();
    selectContacts({"bob", "carol"});
    pressSpace();
    QTRY_VERIFY(m_dialog->flags().recording.load() == 1);
    waitForRecordedMs(1500);
    releaseSpace();
    // One pair per recipient, each with its own tick.
    QTRY_COMPARE(outboxFiles(m_folder).size(), 4);
    const QStringList files = outboxFiles(m_folder);
    QVERIFY(files.at(0).startsWith(QLatin1String("bob;alice;")));
    QVERIFY(files.at(2).startsWith(QLatin1String("carol;alice;")));
    QVERIFY(QFileInfo(m_folder + "/Outbox/" + files.at(0)).size() > 1000);
    const QImage thumbnail(m_folder + "/Outbox/" + files.at(1));
    QCOMPARE(thumbnail.size(), QSize(192, 144));
    // The temporary video goes; the thumbnail stays for the next recording.
    QTRY_VERIFY(!QFile::exists(GetTempPath() + "vnote.wmv"));
    QVERIFY(QFile::exists(GetTempPath() + "vnote.jpg"));
    QTRY_COMPARE(m_dialog->tabs()->count(1), 2);
    QTRY_COMPARE(m_dialog->statusText(), QString());
}

void TestRecording::spaceWithoutRecipientFilesNothing() {
    signIn();
    m_dialog->tabs()->setCurrentIndex(1);
    m_dialog->ShowFolder();
    QCOMPARE(m_dialog->indicator()->state(), int(RecordIndicator::NoRecording));
    pressSpace();
    // The space bar needs no recipient to start.
    QTRY_VERIFY(m_dialog->flags().recording.load() == 1);
    waitForRecordedMs(300);
    releaseSpace();
    QTRY_COMPARE(m_dialog->flags().savingWorkers.load(), 0);
    QCOMPARE(outboxFiles(m_folder), QStringList{});
}

void TestRecording::shortRecordingCarriesNoOldThumbnail() {
    signIn();
    writeFile(GetTempPath() + "vnote.jpg", "the picture of an earlier message");
    selectContacts({"bob"});
    pressSpace();
    QTRY_VERIFY(m_dialog->flags().recording.load() == 1);
    // Released as soon as it records: far too short for a thumbnail.
    QCOMPARE(m_dialog->thumbnailTaken, 0);
    releaseSpace();
    QTRY_COMPARE(outboxFiles(m_folder).size(), 1);
    QVERIFY(outboxFiles(m_folder).front().startsWith(QLatin1String("bob;alice;")));
    QVERIFY(!QFile::exists(GetTempPath() + "vnote.jpg"));
}

void TestRecording::mouseReleaseInsideFilesOutsideCancels_data() {
    QTest::addColumn<bool>("inside");
    QTest::newRow("inside the indicator") << true;
    QTest::newRow("outside the indicator") << false;
}

void TestRecording::mouseReleaseInsideFilesOutsideCancels() {
    QFETCH(bool, inside);
    signIn();
    selectContacts({"dave"});
    const QPoint onIndicator = m_dialog->indicator()->geometry().center();
    QTest::mousePress(m_dialog.get(), Qt::LeftButton, {}, onIndicator);
    QCOMPARE(m_dialog->flags().gestureActive.load(), 1);
    QTRY_VERIFY(m_dialog->flags().recording.load() == 1);
    waitForRecordedMs(1200);
    QTest::mouseRelease(m_dialog.get(), Qt::LeftButton, {},
                        inside ? onIndicator : QPoint(600, 300));
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    if (inside) {
        QTRY_COMPARE(outboxFiles(m_folder).size(), 2);
        return;
    }
    QCOMPARE(m_dialog->statusText(), QStringLiteral("Cancelled"));
    QTRY_COMPARE(m_dialog->statusText(), QString());
    QCOMPARE(m_dialog->flags().savingWorkers.load(), 0);
    QCOMPARE(outboxFiles(m_folder), QStringList{});
    // The cancelled recording stays in the temporary folder.
    QVERIFY(QFile::exists(GetTempPath() + "vnote.wmv"));
}

void TestRecording::pressWithoutRecipientDoesNothing() {
    signIn();
    m_dialog->tabs()->setCurrentIndex(3);
    m_dialog->ShowFolder();
    m_dialog->contactList()->clearSelection();
    QTest::mousePress(m_dialog.get(), Qt::LeftButton, {},
                      m_dialog->indicator()->geometry().center());
    QCOMPARE(m_dialog->flags().gestureActive.load(), 0);
    QCOMPARE(m_dialog->statusText(), QString());
    QTest::mouseRelease(m_dialog.get(), Qt::LeftButton, {},
                        m_dialog->indicator()->geometry().center());
}

void TestRecording::thirtySecondLimitStopsAndFiles() {
    signIn();
    selectContacts({"bob"});
    pressSpace();
    QTRY_VERIFY(m_dialog->flags().recording.load() == 1);
    waitForRecordedMs(1200);
    // Thirty seconds of recorded time stop the recording while the key is
    // still held.
    m_dialog->recordedMs = 30000;
    QTRY_COMPARE(m_dialog->flags().recording.load(), 0);
    QCOMPARE(m_dialog->flags().gestureActive.load(), 0);
    QTRY_COMPARE(outboxFiles(m_folder).size(), 2);
    // The later key-up finds no gesture and only clears the status.
    releaseSpace();
    QCOMPARE(m_dialog->statusText(), QString());
    QCOMPARE(outboxFiles(m_folder).size(), 2);
}

void TestRecording::indicatorFollowsTabsAndSelection() {
    signIn();
    selectContacts({"bob"});
    QCOMPARE(m_dialog->indicator()->state(), int(RecordIndicator::Ready));
    m_dialog->tabs()->setCurrentIndex(1);
    m_dialog->ShowFolder();
    m_dialog->GetRecipients();
    QCOMPARE(m_dialog->indicator()->state(), int(RecordIndicator::NoRecording));
}

void TestRecording::previewSummary_data() {
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<int>("bitmap");
    QTest::addColumn<QRect>("pictureRect");
    QTest::newRow("none") << QStringList{} << kBitmapNoRecipient << QRect(4, 10, 320, 240);
    QTest::newRow("one without picture")
        << QStringList{"bob"} << kBitmapOneContact << QRect(64, 20, 192, 168);
    QTest::newRow("three") << QStringList{"bob", "carol", "dave"} << kBitmapSeveralContacts
                           << QRect(64, 20, 192, 168);
}

void TestRecording::previewSummary() {
    QFETCH(QStringList, selected);
    QFETCH(int, bitmap);
    QFETCH(QRect, pictureRect);
    signIn();
    selectContacts(selected);
    if (selected.isEmpty()) {
        m_dialog->tabs()->setCurrentIndex(3);
        m_dialog->ShowFolder();
    }
    const QImage shot = m_dialog->grab(QRect(0, 0, 330, 260)).toImage();
    const QImage expected =
        withColourKey(loadBitmapResource(bitmap))
            .scaled(pictureRect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Sample the picture where it is opaque.
    int compared = 0;
    for (int y = 8; y < pictureRect.height() - 8; y += 17)
        for (int x = 8; x < pictureRect.width() - 8; x += 19) {
            const QColor want = expected.pixelColor(x, y);
            if (want.alpha() < 255)
                continue;
            ++compared;
            QVERIFY2(sameColour(shot.pixelColor(pictureRect.topLeft() + QPoint(x, y)), want),
                     qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
    QVERIFY(compared > 20);
    // The text line: a count, or the contact's ID and name.
    const QImage text = shot.copy(QRect(10, 200, 310, 50));
    bool dark = false;
    for (int y = 0; y < text.height() && !dark; ++y)
        for (int x = 0; x < text.width() && !dark; ++x)
            dark = qGray(text.pixel(x, y)) < 60;
    QCOMPARE(dark, !selected.isEmpty());
}

void TestRecording::noCameraOffersRetryThenNothingRecords() {
    // This machine has no webcam: without the test pattern there is none.
    const QByteArray camera = qgetenv("CLIPNOTE_CAMERA");
    qunsetenv("CLIPNOTE_CAMERA");
    auto restore = qScopeGuard([&camera] { qputenv("CLIPNOTE_CAMERA", camera); });
    QList<MessageBoxCall> boxes;
    setMessageBoxHook([&boxes](const MessageBoxCall& call) {
        boxes.append(call);
        return boxes.size() == 1 ? QMessageBox::Retry : QMessageBox::Cancel;
    });
    m_dialog = std::make_unique<CMainDialog>();
    m_dialog->timers().stop(kTimerSignIn);
    m_dialog->show();
    QVERIFY(m_dialog->completeSignIn());
    if (boxes.isEmpty())
        QSKIP("a camera is attached to this machine");
    // Retry tried again; Cancel left the program without a capture window.
    QCOMPARE(boxes.size(), 2);
    QVERIFY(boxes.front().text.startsWith(QLatin1String("Unable to capture video input.")));
    QCOMPARE(boxes.front().caption, m_core->service().host());
    QCOMPARE(boxes.front().icon, QMessageBox::Question);
    QCOMPARE(boxes.front().buttons, QMessageBox::Retry | QMessageBox::Cancel);
    QVERIFY(!m_dialog->captureWindow());
    selectContacts({"bob"});
    QCOMPARE(m_dialog->indicator()->state(), int(RecordIndicator::NoRecording));
    pressSpace();
    QCOMPARE(m_dialog->flags().gestureActive.load(), 0);
    QCOMPARE(m_dialog->statusText(), QString());
    releaseSpace();
}

void TestRecording::frameWriteFailureIsShownAndFilesNothing_data() {
    QTest::addColumn<WriterFault>("fault");
    QTest::newRow("writing not begun") << WriterFault::BeginWriting;
    // Fails before the writer touches its path: the earlier video is still
    // there when the Saving worker runs.
    QTest::newRow("profile not loaded") << WriterFault::LoadProfile;
}

void TestRecording::frameWriteFailureIsShownAndFilesNothing() {
    QFETCH(WriterFault, fault);
    signIn();
    selectContacts({"bob"});
    QVERIFY(writeFile(GetTempPath() + "vnote.wmv", "an earlier recording"));
    QList<MessageBoxCall> boxes;
    setMessageBoxHook([&boxes](const MessageBoxCall& call) {
        boxes.append(call);
        return QMessageBox::Ok;
    });
    CWmvWriter::injectFault(fault);
    auto restore = qScopeGuard([] { CWmvWriter::injectFault(WriterFault::None); });
    pressSpace();
    QTRY_COMPARE(boxes.size(), 1);
    QCOMPARE(boxes.front().caption, QStringLiteral("Error Occured"));
    QCOMPARE(boxes.front().icon, QMessageBox::Critical);
    QVERIFY(!boxes.front().text.isEmpty());
    // The capture window is gone until the next sign-in; the gesture goes on.
    QTRY_VERIFY(!m_dialog->captureWindow());
    QCOMPARE(m_dialog->flags().gestureActive.load(), 1);
    releaseSpace();
    QCOMPARE(m_dialog->flags().gestureActive.load(), 0);
    QTRY_COMPARE(m_dialog->flags().savingWorkers.load(), 0);
    QCOMPARE(outboxFiles(m_folder), QStringList{});
    QCOMPARE(boxes.size(), 1);
}

void TestRecording::videoFinishedBeforeTheSavingWorkerLooks() {
    signIn();
    selectContacts({"bob"});
    pressSpace();
    QTRY_VERIFY(m_dialog->flags().recording.load() == 1);
    waitForRecordedMs(600);
    // Finished straight from here: the Saving worker asks this thread for
    // the recipients before it looks at the video, so it cannot have looked
    // until this test lets the event loop run.
    m_dialog->FinishRecording(false);
    QCOMPARE(m_dialog->flags().savingWorkers.load(), 1);
    QVERIFY(!m_dialog->writer());
    const QString video = GetTempPath() + "vnote.wmv";
    QVERIFY(!QFile::exists(video + ".part"));
    const Probe info = probe(video);
    QCOMPARE(info.errors, QString());
    QVERIFY(info.stream(QStringLiteral("video")));
    QVERIFY(info.stream(QStringLiteral("video"))->decoded > 0);
    const qint64 size = QFileInfo(video).size();
    QTRY_COMPARE(outboxFiles(m_folder).size(), 1);
    QCOMPARE(QFileInfo(m_folder + "/Outbox/" + outboxFiles(m_folder).front()).size(), size);
    releaseSpace();
}

void TestRecording::chosenDeviceGoneFallsBackWithAMessage_data() {
    QTest::addColumn<bool>("camera");
    QTest::addColumn<bool>("microphone");
    QTest::newRow("camera") << true << false;
    QTest::newRow("microphone") << false << true;
    QTest::newRow("both") << true << true;
}

void TestRecording::chosenDeviceGoneFallsBackWithAMessage() {
    QFETCH(bool, camera);
    QFETCH(bool, microphone);
    if (camera)
        QVERIFY(writeDeviceChoice(DeviceKind::Camera, {"/dev/video9", "Old Cam"}));
    if (microphone)
        QVERIFY(writeDeviceChoice(DeviceKind::Microphone, {"alsa_input.gone", "Old Mic"}));
    auto forget = qScopeGuard([] {
        writeDeviceChoice(DeviceKind::Camera, {});
        writeDeviceChoice(DeviceKind::Microphone, {});
    });
    // The audio thread tells of its microphone as the program does, in a box.
    installAlertBoxes();
    auto quiet = qScopeGuard([] { setAlertHandler({}); });
    QList<MessageBoxCall> boxes;
    setMessageBoxHook([&boxes](const MessageBoxCall& call) {
        boxes.append(call);
        return QMessageBox::Ok;
    });
    signIn();
    selectContacts({"bob"});
    pressSpace();
    QTRY_VERIFY(m_dialog->flags().recording.load() == 1);
    QTRY_COMPARE(boxes.size(), int(camera) + int(microphone));
    QStringList texts;
    for (const MessageBoxCall& box : std::as_const(boxes)) {
        texts.append(box.text);
        QCOMPARE(box.caption, ClientCore::applicationTitle());
        QCOMPARE(box.icon, QMessageBox::Warning);
    }
    QCOMPARE(texts.contains(deviceUnavailableText(DeviceKind::Camera, "Old Cam")), camera);
    QCOMPARE(texts.contains(deviceUnavailableText(DeviceKind::Microphone, "Old Mic")), microphone);
    // The box had the keyboard, so the space bar's release may have gone to
    // it: the recording goes on hands-free until the next press.
    QTRY_VERIFY(m_dialog->gestureLocked());
    // The default devices record: pictures and sound, not black and silence.
    waitForRecordedMs(1500);
    releaseSpace();
    QTRY_VERIFY(m_dialog->statusText().endsWith(QLatin1String("press space to stop")));
    QCOMPARE(m_dialog->flags().recording.load(), 1);
    pressSpace();
    releaseSpace();
    QTRY_COMPARE(outboxFiles(m_folder).size(), 2);
    const QString video = m_folder + "/Outbox/" + outboxFiles(m_folder).front();
    const Probe info = probe(video);
    QCOMPARE(info.errors, QString());
    const Stream* pictures = info.stream(QStringLiteral("video"));
    QVERIFY(pictures);
    QVERIFY(pictures->decoded > 0);
    const Stream* audio = info.stream(QStringLiteral("audio"));
    QVERIFY(audio);
    QVERIFY(audio->decoded > 0);
    QVERIFY2(audio->end > pictures->end / 2, qPrintable(QString::number(audio->end)));
    const QPair<double, double> silence = longestSilence(video, *audio, 0.0);
    QVERIFY2(
        silence.first < 0 || silence.second - silence.first < audio->end / 2,
        qPrintable(QStringLiteral("quiet from %1 to %2").arg(silence.first).arg(silence.second)));
    QCOMPARE(boxes.size(), int(camera) + int(microphone));
}

void TestRecording::doubleTapLocks_data() {
    QTest::addColumn<QString>("input");
    // Times after the first press, on the window system's clock.
    QTest::addColumn<int>("firstReleaseMs");
    QTest::addColumn<int>("secondPressMs");
    // When the program sees the second press: together with the first
    // release (a busy machine), once that release has counted, or once the
    // wait for a second tap has run out (a machine too busy to keep up).
    QTest::addColumn<QString>("handled");
    QTest::addColumn<bool>("locks");
    QTest::newRow("space, 399 ms") << "space" << 90 << 399 << "together" << true;
    QTest::newRow("space, 400 ms") << "space" << 90 << 400 << "together" << true;
    QTest::newRow("space, 401 ms") << "space" << 90 << 401 << "together" << false;
    QTest::newRow("space, 40 ms up") << "space" << 100 << 140 << "together" << true;
    QTest::newRow("space, repeat pair") << "space" << 100 << 101 << "together" << false;
    QTest::newRow("space, first held") << "space" << 420 << 470 << "together" << false;
    QTest::newRow("space, release counted") << "space" << 90 << 390 << "settled" << true;
    QTest::newRow("space, handled late") << "space" << 90 << 390 << "late" << true;
    QTest::newRow("space, late and too slow") << "space" << 90 << 410 << "late" << false;
    QTest::newRow("indicator, 300 ms") << "indicator" << 60 << 300 << "together" << true;
    QTest::newRow("indicator, 450 ms") << "indicator" << 60 << 450 << "together" << false;
    QTest::newRow("indicator, handled late") << "indicator" << 60 << 300 << "late" << true;
}

void TestRecording::doubleTapLocks() {
    QFETCH(QString, input);
    QFETCH(int, firstReleaseMs);
    QFETCH(int, secondPressMs);
    QFETCH(QString, handled);
    QFETCH(bool, locks);
    signIn();
    selectContacts({"bob"});
    const quint64 start = m_clock += 1000;
    tap(input, true, start);
    QCOMPARE(m_dialog->flags().gestureActive.load(), 1);
    tap(input, false, start + firstReleaseMs);
    if (handled == QLatin1String("settled"))
        QTRY_VERIFY(!m_dialog->spaceReleasePending());
    else if (handled == QLatin1String("late"))
        QTRY_COMPARE(m_dialog->flags().gestureActive.load(), 0);
    // The program's own rule decides, whatever the toolkit calls a double
    // click.
    tap(input, true, start + secondPressMs, true);
    tap(input, false, start + secondPressMs + 60);
    waitUntilSettled();
    QCOMPARE(m_dialog->gestureLocked(), locks);
    // Unlocked, the second press was a tap of its own: nothing goes on.
    QCOMPARE(m_dialog->flags().gestureActive.load(), locks ? 1 : 0);
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    if (!locks) {
        QVERIFY(!m_dialog->captureWindow()->isConnected());
        return;
    }
    // Nothing is held, and the recording starts and goes on.
    QTRY_COMPARE(m_dialog->flags().recording.load(), 1);
    const QRegularExpression hint(
        QStringLiteral("^Recording \\(\\d+ sec\\)\\.\\.\\. press space to stop$"));
    QTRY_VERIFY(hint.match(m_dialog->statusText()).hasMatch());
    m_dialog->FinishRecording(true);
}

void TestRecording::lockedGestureEnds_data() {
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("inCountdown");
    QTest::addColumn<int>("filed");
    QTest::addColumn<QString>("status");
    QTest::newRow("space") << "space" << false << 2 << QString();
    QTest::newRow("click on the indicator") << "indicator" << false << 2 << QString();
    QTest::newRow("space in the countdown") << "space" << true << 0 << QString();
    QTest::newRow("Esc") << "escape" << false << 0 << QStringLiteral("Cancelled");
    QTest::newRow("Esc in the countdown") << "escape" << true << 0 << QStringLiteral("Cancelled");
    QTest::newRow("thirty-second limit") << "limit" << false << 2 << QString();
}

void TestRecording::lockedGestureEnds() {
    QFETCH(QString, end);
    QFETCH(bool, inCountdown);
    QFETCH(int, filed);
    QFETCH(QString, status);
    signIn();
    selectContacts({"bob"});
    quint64 at = m_clock += 1000;
    for (QEvent::Type type :
         {QEvent::KeyPress, QEvent::KeyRelease, QEvent::KeyPress, QEvent::KeyRelease})
        sendKey(type, Qt::Key_Space, at += 100);
    QVERIFY(m_dialog->gestureLocked());
    if (inCountdown) {
        // Ended from here, before the event loop runs the countdown on.
        QVERIFY(m_dialog->timers().isActive(kTimerCountdown));
    } else {
        waitUntilSettled();
        QVERIFY(m_dialog->gestureLocked());
        QTRY_COMPARE(m_dialog->flags().recording.load(), 1);
        // Long enough for a thumbnail.
        waitForRecordedMs(1200);
    }
    at += 1000;
    if (end == QLatin1String("escape")) {
        sendKey(QEvent::KeyPress, Qt::Key_Escape, at);
        // Held on: a repeat pair of Esc reaches the window no more than the
        // first press did.
        sendKey(QEvent::KeyRelease, Qt::Key_Escape, at + 660);
        sendKey(QEvent::KeyPress, Qt::Key_Escape, at + 660);
        sendKey(QEvent::KeyRelease, Qt::Key_Escape, at + 700);
    } else if (end == QLatin1String("limit")) {
        m_dialog->recordedMs = 30000;
    } else {
        tap(end, true, at);
        tap(end, false, at + 80);
        waitUntilSettled();
    }
    QTRY_COMPARE(m_dialog->flags().gestureActive.load(), 0);
    QVERIFY(!m_dialog->gestureLocked());
    QCOMPARE(m_dialog->flags().recording.load(), 0);
    QVERIFY(!m_dialog->captureWindow()->isConnected());
    // "Cancelled" at once; a filed message's "Saving..." until it is filed.
    if (status.isEmpty())
        QTRY_COMPARE(m_dialog->statusText(), status);
    else
        QCOMPARE(m_dialog->statusText(), status);
    QCOMPARE(m_dialog->flags().exitRequested.load(), 0);
    QTRY_COMPARE(m_dialog->flags().savingWorkers.load(), 0);
    QCOMPARE(outboxFiles(m_folder).size(), filed);
    // Filed, the video has gone to the Outbox; cancelled, it is gone with
    // its thumbnail. Only a filed message leaves its thumbnail for the next.
    QTRY_VERIFY(!QFile::exists(GetTempPath() + "vnote.wmv"));
    QCOMPARE(QFile::exists(GetTempPath() + "vnote.jpg"), filed > 0);
}

void TestRecording::screenshots() {
    signIn();
    selectContacts({"bob", "carol"});
    pressSpace();
    QTRY_VERIFY(m_dialog->statusText().startsWith(QLatin1String("Start in 2")));
    const QString dir = QCoreApplication::applicationDirPath();
    const QString platform = QGuiApplication::platformName();
    QVERIFY(m_dialog->grab().save(dir + "/mainwindow-countdown-" + platform + ".png"));
    QTRY_VERIFY(m_dialog->flags().recording.load() == 1);
    waitForRecordedMs(1200);
    QVERIFY(m_dialog->grab().save(dir + "/mainwindow-recording-" + platform + ".png"));
    releaseSpace();
    QTRY_COMPARE(outboxFiles(m_folder).size(), 4);
}

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
