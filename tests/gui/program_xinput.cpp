// The real clipnote program on a real X server, driven by real key and button
// input (XTEST) with key auto-repeat on, under a window manager and with no
// system tray, against a real clipnote-server. Widget-level tests send Qt
// events straight to widgets; these see what the X server delivers: held keys
// that repeat, pointer grabs, window-manager minimising.

#include "clientprogram.h"
#include "mediaprobe.h"
#include "serverprocess.h"
#include "testenvironment.h"
#include "xdriver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QSettings>
#include <QTest>
#include <QWidget>

#include <functional>
#include <memory>

using xdriver::WindowId;

namespace {
const QString kUser = QStringLiteral("alice@example.org");
const QString kSender = QStringLiteral("bob@example.org");
// Where the main window asks to be put: clear of the probe window below.
const QRect kPlacement(40, 40, 708, 550);
const QRect kProbePlacement(900, 100, 200, 150);
// Client-area places of the main window.
const QRect kPreview(4, 10, 320, 240);
const QRect kStatusLine(112, 253, 194, 18);
const QPoint kFirstInboxRow(420, 44);
const QPoint kIndicator(26, 286);
const QRgb kPreviewColour = qRgb(220, 220, 255);
const QRgb kCountdownColour = qRgb(128, 192, 128);
const QRgb kRecordingColour = qRgb(192, 128, 128);
// Bold status text of either colour fills far more pixels than this.
constexpr int kColourPixels = 20;
// Enough for a machine under heavy load; only a failing test waits that long.
constexpr int kSettleMs = 20000;

// A window of another X client: it counts the button presses that reach it.
class ClickProbe : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

// Polls the condition until it holds or the time is up. Unlike QTRY_*, a
// failure does not wait on past the limit to say how long it would have taken.
bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > timeoutMs)
            return false;
        QTest::qWait(50);
    }
    return true;
}

bool isUniform(const QImage& image) {
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != first)
                return false;
        }
    }
    return true;
}
// Two taps of the space bar 120 ms apart.
bool doubleTapSpace() {
    return xdriver::xdotool({QStringLiteral("key"), QStringLiteral("--delay"),
                             QStringLiteral("120"), QStringLiteral("space"),
                             QStringLiteral("space")});
}

} // namespace

class ProgramXInput : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void previewShowsCameraNotLastPlayedFrame();
    void releaseDuringCountdownRecordsNothing();
    void holdingSpaceSendsOneMessage();
    void clickAfterRecordingReachesOtherWindow();
    void doubleTapRecordsHandsFreeUntilSpace();
    void doubleTapThenEscFilesNothing();
    void doubleClickOnIndicatorThenClickFiles();
    void boxDuringHeldSpaceLeavesRecordingHandsFree();
    void minimisedWithoutTrayCanBeRestored();
    void cleanupTestCase();

private:
    QImage preview() const { return xdriver::grab(m_window, kPreview); }
    QImage statusLine() const { return xdriver::grab(m_window, kStatusLine); }
    // What the user sees: the status line in its recording colour.
    bool recordingShown() const {
        return xdriver::countColour(statusLine(), kRecordingColour) > kColourPixels;
    }
    // The recorder's file in the temporary folder, from the start of a
    // recording until the message has been filed.
    bool recordingPending() const {
        return !QDir(m_client->tempFolder())
                    .entryList({QStringLiteral("vnote.wmv*")}, QDir::Files)
                    .isEmpty();
    }
    // Messages filed for sending, by name without extension: the Outbox
    // moves each to Sent once the service has it, so both folders count.
    QSet<QString> filedMessages() const;
    QString filedPath(const QString& stem, const QString& extension) const;
    // Whether the message's video moves on to Sent, waited for.
    bool reachesSent(const QString& stem) const;
    bool holdSpace(qint64 maxMs, const std::function<bool(qint64)>& during);
    QImage playedToEnd(const QImage& idle);
    // Two quick taps of the space bar, or clicks on the indicator, then
    // nothing held: the recording must start and go on for a second.
    bool recordsHandsFree(const std::function<bool()>& doubleTap);
    // The one message filed since `before`, once it is filed; empty if none.
    QString filedOneMessage(const QSet<QString>& before);
    // The one message filed since `before`, once sent, when its video plays
    // and is 1-20 s long (it ended at a press, not at the 30-second limit);
    // otherwise empty, with the reason in `why`.
    QString sentShortMessage(const QSet<QString>& before, QString* why);

    TestEnvironment m_env;
    ServerProcess m_server;
    xdriver::WindowManager m_windowManager;
    std::unique_ptr<ClientProgram> m_client;
    WindowId m_window = 0;
    QImage m_lastPlayedFrame;
};

QSet<QString> ProgramXInput::filedMessages() const {
    QSet<QString> stems;
    for (const QString& folder : {QStringLiteral("Outbox"), QStringLiteral("Sent")}) {
        const QStringList names =
            QDir(m_client->userFolder() + QLatin1Char('/') + folder).entryList(QDir::Files);
        for (const QString& name : names) {
            const QString lower = name.toLower();
            if (!lower.endsWith(QLatin1String(".jpg")))
                stems.insert(lower.endsWith(QLatin1String(".wmv")) ? lower.chopped(4) : lower);
        }
    }
    return stems;
}

QString ProgramXInput::filedPath(const QString& stem, const QString& extension) const {
    for (const QString& folder : {QStringLiteral("Sent"), QStringLiteral("Outbox")}) {
        const QDir dir(m_client->userFolder() + QLatin1Char('/') + folder);
        for (const QString& name : dir.entryList(QDir::Files)) {
            const QString lower = name.toLower();
            if (lower == stem + extension || (extension == QLatin1String(".wmv") && lower == stem))
                return dir.filePath(name);
        }
    }
    return {};
}

bool ProgramXInput::reachesSent(const QString& stem) const {
    return waitFor(
        [&] { return filedPath(stem, QStringLiteral(".wmv")).contains(QLatin1String("/Sent/")); },
        kSettleMs);
}

// The key goes down and up through the X server, which repeats it meanwhile
// as it would for a person's finger. `during` runs every few milliseconds
// with the time held so far; returning false lets go early.
bool ProgramXInput::holdSpace(qint64 maxMs, const std::function<bool(qint64)>& during) {
    if (!xdriver::activate(m_window) || !xdriver::keyDown(QStringLiteral("space")))
        return false;
    QElapsedTimer held;
    held.start();
    while (held.elapsed() < maxMs && (!during || during(held.elapsed())))
        QTest::qWait(20);
    return xdriver::keyUp(QStringLiteral("space"));
}

// The player's picture once the message has played to its end: it is the
// video (no preview colour in the corner, not a blank picture) and it has
// stopped changing.
QImage ProgramXInput::playedToEnd(const QImage& idle) {
    constexpr qint64 kStillMs = 800;
    QImage last;
    QElapsedTimer still;
    QElapsedTimer total;
    total.start();
    while (total.elapsed() < kSettleMs) {
        const QImage now = preview();
        const bool video = now != idle && !isUniform(now) && now.pixel(2, 2) != kPreviewColour;
        if (!video || now != last) {
            last = video ? now : QImage();
            still.start();
        } else if (still.elapsed() >= kStillMs) {
            return last;
        }
        QTest::qWait(50);
    }
    return {};
}

bool ProgramXInput::recordsHandsFree(const std::function<bool()>& doubleTap) {
    if (!xdriver::activate(m_window) || !doubleTap())
        return false;
    if (!waitFor([this] { return recordingShown(); }, kSettleMs))
        return false;
    // With nothing held it is still recording a second and a half later.
    QElapsedTimer recording;
    recording.start();
    while (recording.elapsed() < 1500) {
        if (!recordingShown())
            return false;
        QTest::qWait(50);
    }
    return true;
}

QString ProgramXInput::filedOneMessage(const QSet<QString>& before) {
    if (!waitFor([&] { return filedMessages().size() > before.size() && !recordingPending(); },
                 kSettleMs))
        return {};
    const QSet<QString> added = filedMessages() - before;
    return added.size() == 1 ? *added.cbegin() : QString();
}

QString ProgramXInput::sentShortMessage(const QSet<QString>& before, QString* why) {
    const QString stem = filedOneMessage(before);
    if (stem.isEmpty()) {
        *why = QStringLiteral("the press did not file exactly one message");
        return {};
    }
    // Probed once sent, so the file does not move away meanwhile.
    if (!reachesSent(stem)) {
        *why = QStringLiteral("the message was not sent");
        return {};
    }
    const Probe media = probe(filedPath(stem, QStringLiteral(".wmv")));
    if (!media.errors.isEmpty()) {
        *why = media.errors;
        return {};
    }
    if (media.duration < 1.0 || media.duration >= 20.0) {
        *why = QStringLiteral("the message lasts %1 s").arg(media.duration);
        return {};
    }
    return stem;
}

void ProgramXInput::initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QFAIL("this test needs an X display: run it through ctest, which starts one");
    QVERIFY2(xdriver::xdotool({QStringLiteral("version")}),
             "xdotool is missing: run scripts/install-deps.sh");
    QVERIFY2(xdriver::autoRepeatOn(), "key auto-repeat is off on this display");
    QVERIFY2(m_windowManager.start(), qPrintable(m_windowManager.errorString()));
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    const QString password = m_server.createAccount(kUser);
    QVERIFY(!password.isEmpty());
    QVERIFY(!m_server.createAccount(kSender).isEmpty());

    m_client = std::make_unique<ClientProgram>(m_env.makeFolder(QStringLiteral("client")), kUser,
                                               m_server.baseUrl());
    // A message from the sender waits in the Inbox: a moving picture in the
    // program's own format, so the player has a last frame to leave behind.
    const QString inbox = m_client->userFolder() + QStringLiteral("/Inbox/");
    QVERIFY(QDir().mkpath(inbox));
    const QString stem = inbox + kSender + QStringLiteral(";12345");
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                  QStringLiteral("lavfi"), QStringLiteral("-i"),
                  QStringLiteral("testsrc2=size=320x240:rate=10:duration=1.5"),
                  QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                  QStringLiteral("sine=frequency=440:sample_rate=22050:duration=1.5"),
                  QStringLiteral("-c:v"), QStringLiteral("wmv2"), QStringLiteral("-c:a"),
                  QStringLiteral("wmav2"), QStringLiteral("-ac"), QStringLiteral("1"),
                  QStringLiteral("-f"), QStringLiteral("asf"), stem + QStringLiteral(".wmv")});
    QVERIFY(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0);
    QImage thumbnail(192, 144, QImage::Format_RGB32);
    thumbnail.fill(Qt::darkCyan);
    QVERIFY(thumbnail.save(stem + QStringLiteral(".jpg")));

    QVERIFY2(m_client->startAndSignIn(password, kPlacement), qPrintable(m_client->errorString()));
    m_window = m_client->mainWindow();
}

void ProgramXInput::init() {
    // A test that failed half way may have left a recording to be filed.
    QVERIFY2(waitFor([this] { return !recordingPending(); }, kSettleMs),
             "a recording was never filed");
}

void ProgramXInput::cleanupTestCase() {
    m_client.reset();
}

// While the space bar is held the preview is the live camera, in the
// countdown and in the recording, even right after a message has played there.
void ProgramXInput::previewShowsCameraNotLastPlayedFrame() {
    const QImage idle = preview();
    QVERIFY(xdriver::click(m_window, kFirstInboxRow));
    m_lastPlayedFrame = playedToEnd(idle);
    QVERIFY2(!m_lastPlayedFrame.isNull(), "selecting the Inbox message never played it");

    // The camera may take a moment to give its first picture on a loaded
    // machine; at some time in the countdown it must be on screen.
    bool countdownSeen = false;
    bool countdownLive = false;
    QImage recording1, recording2;
    qint64 recordingSeenAt = -1;
    QVERIFY(holdSpace(10000, [&](qint64 held) {
        const QImage now = preview();
        if (recordingSeenAt < 0 && recordingShown()) {
            recordingSeenAt = held;
            recording1 = now;
        } else if (recordingSeenAt < 0 &&
                   xdriver::countColour(statusLine(), kCountdownColour) > kColourPixels) {
            countdownSeen = true;
            countdownLive = countdownLive || now != m_lastPlayedFrame;
        }
        if (recordingSeenAt >= 0 && held >= recordingSeenAt + 1000)
            recording2 = now;
        return recording2.isNull();
    }));

    QVERIFY2(countdownSeen, "holding the space bar never started the countdown");
    QVERIFY2(countdownLive,
             "the countdown preview kept showing the last frame of the message played before");
    QVERIFY2(recordingSeenAt >= 0, "holding the space bar for 10 s never started a recording");
    QVERIFY2(recording1 != m_lastPlayedFrame && recording2 != m_lastPlayedFrame,
             "the recording preview still shows the last frame of the message played before");
    QVERIFY2(recording1 != recording2, "the recording preview stood still for a second");
    QVERIFY2(waitFor([this] { return !recordingPending(); }, kSettleMs),
             "the recording was never filed");
}

// Letting go before the countdown ends records nothing. Once the program has
// taken the release the status line no longer counts down; a countdown that
// went on regardless would also show as a second message in the next test.
void ProgramXInput::releaseDuringCountdownRecordsNothing() {
    const QSet<QString> before = filedMessages();
    QVERIFY(holdSpace(1500, {}));
    QVERIFY2(waitFor(
                 [this] {
                     const QImage status = statusLine();
                     return xdriver::countColour(status, kCountdownColour) <= kColourPixels &&
                            xdriver::countColour(status, kRecordingColour) <= kColourPixels;
                 },
                 kSettleMs),
             "the status line kept counting down after the space bar was let go");
    QVERIFY(!recordingPending());
    QCOMPARE(filedMessages(), before);
}

// Seven seconds of a held space bar, auto-repeat and all: three of countdown,
// about four of recording, one message for the selected Inbox sender.
void ProgramXInput::holdingSpaceSendsOneMessage() {
    const QSet<QString> before = filedMessages();
    bool recordingSeen = false;
    QVERIFY(holdSpace(7000, [&](qint64) {
        recordingSeen = recordingSeen || recordingShown();
        return true;
    }));
    const bool filed = waitFor(
        [&] { return filedMessages().size() > before.size() && !recordingPending(); }, kSettleMs);
    QVERIFY2(recordingSeen, "a 7 s hold of the space bar never started a recording");
    QVERIFY2(filed, "the recording was never filed");
    const QSet<QString> added = filedMessages() - before;
    QCOMPARE(added.size(), 1);
    const QString stem = *added.cbegin();
    QVERIFY2(stem.startsWith(kSender + QLatin1Char(';')), qPrintable(stem));
    // It goes out at once, not at the next cycle.
    QVERIFY2(reachesSent(stem), "the message was not sent at once");

    const Probe media = probe(filedPath(stem, QStringLiteral(".wmv")));
    QVERIFY2(media.errors.isEmpty(), qPrintable(media.errors));
    QCOMPARE(media.container, QStringLiteral("asf"));
    QVERIFY(media.stream(QStringLiteral("video")));
    QCOMPARE(media.stream(QStringLiteral("video"))->codec, QStringLiteral("wmv2"));
    QVERIFY(media.stream(QStringLiteral("audio")));
    QCOMPARE(media.stream(QStringLiteral("audio"))->codec, QStringLiteral("wmav2"));
    QVERIFY2(media.duration >= 3.5 && media.duration <= 5.0,
             qPrintable(QStringLiteral("%1 s").arg(media.duration)));
    QCOMPARE(QImage(filedPath(stem, QStringLiteral(".jpg"))).size(), QSize(192, 144));
}

// A recording made with the space bar lets go of the pointer: a click in
// another program's window then reaches that window.
void ProgramXInput::clickAfterRecordingReachesOtherWindow() {
    ClickProbe probe;
    probe.setWindowTitle(QStringLiteral("click probe"));
    probe.setGeometry(kProbePlacement);
    probe.show();
    QVERIFY(QTest::qWaitForWindowExposed(&probe));

    qint64 recordingSeenAt = -1;
    QVERIFY(holdSpace(8000, [&](qint64 held) {
        if (recordingSeenAt < 0 && recordingShown())
            recordingSeenAt = held;
        return recordingSeenAt < 0 || held < recordingSeenAt + 500;
    }));
    QVERIFY2(waitFor([this] { return !recordingPending(); }, kSettleMs),
             "the recording was never filed");

    QVERIFY(xdriver::click(probe.winId(), QPoint(100, 75)));
    QVERIFY2(waitFor([&] { return probe.presses > 0; }, 5000),
             "the click went to clipnote: it still holds the pointer");
}

// Two quick taps of the space bar lock the recording: it goes on with the key
// up, and the next press files it, once.
void ProgramXInput::doubleTapRecordsHandsFreeUntilSpace() {
    const QSet<QString> before = filedMessages();
    QVERIFY2(recordsHandsFree(doubleTapSpace),
             "a double tap of the space bar did not keep recording once the key was up");
    QVERIFY(xdriver::tapKey(QStringLiteral("space")));
    QString why;
    const QString stem = sentShortMessage(before, &why);
    QVERIFY2(!stem.isEmpty(), qPrintable(why));
    QVERIFY2(stem.startsWith(kSender + QLatin1Char(';')), qPrintable(stem));
}

// Esc throws a locked recording away: nothing filed, no recording left in
// the temporary folder, and the window stays.
void ProgramXInput::doubleTapThenEscFilesNothing() {
    const QSet<QString> before = filedMessages();
    QVERIFY2(recordsHandsFree(doubleTapSpace),
             "a double tap of the space bar did not keep recording once the key was up");
    QVERIFY(xdriver::tapKey(QStringLiteral("Escape")));
    QVERIFY2(waitFor([this] { return !recordingShown() && !recordingPending(); }, kSettleMs),
             "Esc left the recording going or its file behind");
    QVERIFY(!QFile::exists(m_client->tempFolder() + QStringLiteral("/vnote.jpg")));
    QCOMPARE(filedMessages(), before);
    QVERIFY(xdriver::findWindow(m_client->mainWindowTitle(), 0, true) != 0);
}

// A double click on the indicator locks the recording as a double tap does;
// a click on it files the message.
void ProgramXInput::doubleClickOnIndicatorThenClickFiles() {
    const QSet<QString> before = filedMessages();
    QVERIFY2(recordsHandsFree([this] {
                 return xdriver::xdotool(
                     {QStringLiteral("mousemove"), QStringLiteral("--sync"),
                      QStringLiteral("--window"), QString::number(m_window),
                      QString::number(kIndicator.x()), QString::number(kIndicator.y()),
                      QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
                      QStringLiteral("--delay"), QStringLiteral("120"), QStringLiteral("1")});
             }),
             "a double click on the indicator did not keep recording once the button was up");
    // The pointer is still there (a move to where it is would never end).
    QVERIFY(xdriver::xdotool({QStringLiteral("click"), QStringLiteral("1")}));
    const QString stem = filedOneMessage(before);
    QVERIFY2(!stem.isEmpty(), "a click on the indicator did not file exactly one message");
    QVERIFY2(stem.startsWith(kSender + QLatin1Char(';')), qPrintable(stem));
}

// A box that comes up while the space bar is held (the chosen camera is gone)
// takes the key's release, which the window then never sees: the recording
// goes on hands-free and the next press files it, rather than running on to
// the 30-second limit.
void ProgramXInput::boxDuringHeldSpaceLeavesRecordingHandsFree() {
    const auto chooseCamera = [this](const QString& id, const QString& name) {
        QSettings settings(m_client->settingsFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Settings/camera"), id);
        settings.setValue(QStringLiteral("Settings/cameraName"), name);
    };
    chooseCamera(QStringLiteral("/dev/video9"), QStringLiteral("Old Cam"));
    const auto backToDefault = qScopeGuard([&] { chooseCamera(QString(), QString()); });
    const QSet<QString> before = filedMessages();
    QVERIFY(xdriver::activate(m_window));
    QVERIFY(xdriver::keyDown(QStringLiteral("space")));
    const xdriver::WindowId box =
        xdriver::findWindow(QStringLiteral("^clipnote$"), kSettleMs, true);
    QVERIFY(xdriver::keyUp(QStringLiteral("space")));
    QVERIFY2(box != 0, "no box told of the missing camera");
    QVERIFY(xdriver::activate(box));
    QVERIFY(xdriver::tapKey(QStringLiteral("Return")));
    QVERIFY2(recordsHandsFree([] { return true; }),
             "the recording did not go on once the box was closed");
    QVERIFY(xdriver::tapKey(QStringLiteral("space")));
    QString why;
    QVERIFY2(!sentShortMessage(before, &why).isEmpty(), qPrintable(why));
}

// With no tray to bring it back, a minimised window must stay one the window
// manager can restore, here by the request a task bar sends on a click.
void ProgramXInput::minimisedWithoutTrayCanBeRestored() {
    const QString title = m_client->mainWindowTitle();
    QVERIFY(xdriver::findWindow(title, 0, true) != 0);
    QVERIFY(xdriver::xdotool({QStringLiteral("windowminimize"), QString::number(m_window)}));
    QVERIFY2(waitFor([&] { return xdriver::findWindow(title, 0, true) == 0; }, kSettleMs),
             "the window manager did not minimise the window");

    const WindowId minimised = xdriver::findWindow(title, 0);
    QVERIFY2(minimised != 0, "the minimised window is gone: nothing is left to restore");
    QVERIFY(xdriver::xdotool({QStringLiteral("windowactivate"), QString::number(minimised)}));
    QVERIFY2(waitFor([&] { return xdriver::findWindow(title, 0, true) != 0; }, 5000),
             "the minimised window never came back");
}

QTEST_MAIN(ProgramXInput)
#include "program_xinput.moc"
