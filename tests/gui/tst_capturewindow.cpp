#include "recorder/capturewindow.h"
#include "recorder/frameconversion.h"
#include "recorder/testpattern.h"

#include <QCameraDevice>
#include <QMediaDevices>
#include <QPointer>
#include <QTest>

#include <algorithm>
#include <vector>

// The capture window: placed hidden in the main window, fed by the moving
// test pattern (CLIPNOTE_CAMERA=test) or by a camera, grabbing frames that it
// shows and hands over as 230,400 bytes of bottom-up BGR.
class TestCaptureWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void placedHiddenInItsParent();
    void noFrameBeforeConnecting();
    void grabbedFramesReachTheCallback();
    void testPatternMovesWithTime();
    void clockTextFollowsTheTime();
    void testPatternCoversThePicture_data();
    void testPatternCoversThePicture();
    void showsTheFrameItHandsOver();
    void disconnectingStopsTheFrames();
    void callbackMayDeleteTheWindow();
    void noCameraWithoutTheTestPattern_data();
    void noCameraWithoutTheTestPattern();

private:
    std::unique_ptr<QWidget> m_parent;
};

namespace {

// Every frame the callback saw, copied whole: a buffer shorter than a frame
// shows up as a read past its end under the address sanitizer.
struct Frames {
    std::vector<QByteArray> seen;
    CCaptureWindow::FrameCallback callback() {
        return [this](const unsigned char* frame) {
            seen.emplace_back(reinterpret_cast<const char*>(frame), kFrameBytes);
        };
    }
};

// Waits for the source's first picture and grabs it exactly once (QTRY
// evaluates its condition once more after it held).
bool grabFirst(CCaptureWindow& window) {
    return QTest::qWaitFor([&window] { return window.grabFrame(); });
}

QByteArray bytesOf(const QImage& fitted) {
    QByteArray bytes(kFrameBytes, '\0');
    fittedToBottomUpBgr(fitted, reinterpret_cast<unsigned char*>(bytes.data()));
    return bytes;
}

} // namespace

void TestCaptureWindow::init() {
    qputenv("CLIPNOTE_CAMERA", "test");
    m_parent = std::make_unique<QWidget>();
    m_parent->resize(640, 480);
    m_parent->show();
}

void TestCaptureWindow::cleanup() {
    m_parent.reset();
}

void TestCaptureWindow::placedHiddenInItsParent() {
    auto* window = new CCaptureWindow(m_parent.get());
    QCOMPARE(window->parentWidget(), m_parent.get());
    QCOMPARE(window->geometry(), QRect(4, 10, 320, 240));
    QVERIFY(!window->isVisible());
    QVERIFY(window->connectDriver());
    // Connecting does not show it: only a recording gesture does.
    QVERIFY(!window->isVisible());
}

void TestCaptureWindow::noFrameBeforeConnecting() {
    CCaptureWindow window(m_parent.get());
    Frames frames;
    window.setFrameCallback(frames.callback());
    QVERIFY(!window.grabFrame());
    QVERIFY(frames.seen.empty());
    QVERIFY(window.shownFrame().isNull());
}

void TestCaptureWindow::grabbedFramesReachTheCallback() {
    CCaptureWindow window(m_parent.get());
    Frames frames;
    window.setFrameCallback(frames.callback());
    QVERIFY(window.connectDriver());
    QVERIFY(window.isConnected());
    QVERIFY(grabFirst(window));
    QCOMPARE(frames.seen.size(), size_t(1));
    QCOMPARE(frames.seen.front().size(), kFrameBytes);
    // The pattern's dark clock band lies along the bottom of the picture,
    // which is where a bottom-up buffer starts. The bars scroll, but the
    // white one is somewhere along the top row at every moment.
    const auto* first = reinterpret_cast<const unsigned char*>(frames.seen.front().constData());
    const unsigned char* top = first + (kFrameHeight - 1) * kFrameRowBytes;
    int brightestChannelAtBottom = 0;
    int brightestAtTop = 0;
    for (int x = 0; x < kFrameWidth; ++x) {
        const unsigned char* bottom = first + x * 3;
        brightestChannelAtBottom =
            std::max({brightestChannelAtBottom, int(bottom[0]), int(bottom[1]), int(bottom[2])});
        brightestAtTop = std::max(brightestAtTop, top[x * 3] + top[x * 3 + 1] + top[x * 3 + 2]);
    }
    QVERIFY2(brightestChannelAtBottom < 80, qPrintable(QString::number(brightestChannelAtBottom)));
    QVERIFY2(brightestAtTop > 700, qPrintable(QString::number(brightestAtTop)));
}

void TestCaptureWindow::testPatternMovesWithTime() {
    CCaptureWindow window(m_parent.get());
    Frames frames;
    window.setFrameCallback(frames.callback());
    QVERIFY(window.connectDriver());
    QVERIFY(grabFirst(window));
    const QByteArray first = frames.seen.back();
    QTRY_VERIFY(window.grabFrame() && frames.seen.back() != first);
}

void TestCaptureWindow::clockTextFollowsTheTime() {
    const QTime noon(12, 0, 0);
    const QImage atNoon = renderTestPattern(1000, noon);
    QCOMPARE(atNoon.size(), kTestPatternSize);
    // Same moment of the pattern, another time of day: only the clock band
    // at the bottom differs.
    const QImage later = renderTestPattern(1000, noon.addSecs(1));
    const int band = kTestPatternSize.height() / 5;
    const int bandTop = kTestPatternSize.height() - band;
    QCOMPARE(atNoon.copy(0, 0, atNoon.width(), bandTop), later.copy(0, 0, later.width(), bandTop));
    QVERIFY(atNoon.copy(0, bandTop, atNoon.width(), band) !=
            later.copy(0, bandTop, later.width(), band));
    // Same time of day, later in the pattern: the bars and the square move.
    QVERIFY(renderTestPattern(1100, noon).copy(0, 0, atNoon.width(), bandTop) !=
            atNoon.copy(0, 0, atNoon.width(), bandTop));
}

void TestCaptureWindow::testPatternCoversThePicture_data() {
    QTest::addColumn<qint64>("elapsedMs");
    QTest::newRow("start") << qint64(0);
    QTest::newRow("a quarter second") << qint64(250);
    QTest::newRow("bars moved by half a bar") << qint64(500);
    QTest::newRow("bars moved by five bars") << qint64(5000);
    QTest::newRow("bars wrapped around") << qint64(7777);
    QTest::newRow("a long recording") << qint64(29900);
}

void TestCaptureWindow::testPatternCoversThePicture() {
    QFETCH(qint64, elapsedMs);
    // Nothing is drawn in pure black: a black pixel is one no bar covered.
    const QImage picture = renderTestPattern(elapsedMs, QTime(9, 30));
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if ((picture.pixel(x, y) & RGB_MASK) == 0)
                QFAIL(qPrintable(QStringLiteral("uncovered at %1, %2").arg(x).arg(y)));
}

void TestCaptureWindow::showsTheFrameItHandsOver() {
    auto* window = new CCaptureWindow(m_parent.get());
    Frames frames;
    window->setFrameCallback(frames.callback());
    QVERIFY(window->connectDriver());
    window->show();
    QVERIFY(grabFirst(*window));
    const QImage shown = window->shownFrame();
    QCOMPARE(shown.size(), QSize(320, 240));
    QCOMPARE(bytesOf(shown), frames.seen.back());
    // What is on screen is that frame.
    const QImage onScreen = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(onScreen.size(), QSize(320, 240));
    for (const QPoint point : {QPoint(0, 0), QPoint(160, 120), QPoint(319, 239), QPoint(50, 220)})
        QCOMPARE(onScreen.pixel(point), shown.pixel(point));
}

void TestCaptureWindow::disconnectingStopsTheFrames() {
    CCaptureWindow window(m_parent.get());
    Frames frames;
    window.setFrameCallback(frames.callback());
    QVERIFY(window.connectDriver());
    QVERIFY(grabFirst(window));
    window.disconnectDriver();
    QVERIFY(!window.isConnected());
    QVERIFY(!window.grabFrame());
    QCOMPARE(frames.seen.size(), size_t(1));
    // Connecting again gives frames again, and connecting twice is harmless.
    QVERIFY(window.connectDriver());
    QVERIFY(window.connectDriver());
    QVERIFY(grabFirst(window));
    QCOMPARE(frames.seen.size(), size_t(2));
}

void TestCaptureWindow::callbackMayDeleteTheWindow() {
    // A frame the writer refuses ends with the capture window destroyed from
    // inside the callback; the frame must stay readable until it returns.
    QPointer<CCaptureWindow> window = new CCaptureWindow(m_parent.get());
    QByteArray copied;
    window->setFrameCallback([&window, &copied](const unsigned char* frame) {
        delete window.data();
        copied = QByteArray(reinterpret_cast<const char*>(frame), kFrameBytes);
    });
    QVERIFY(window->connectDriver());
    QTRY_VERIFY(!window || window->grabFrame());
    QVERIFY(window.isNull());
    QCOMPARE(copied.size(), kFrameBytes);
}

void TestCaptureWindow::noCameraWithoutTheTestPattern_data() {
    QTest::addColumn<bool>("unset");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("variable unset") << true << QByteArray();
    QTest::newRow("another value") << false << QByteArray("camera");
}

void TestCaptureWindow::noCameraWithoutTheTestPattern() {
    QFETCH(bool, unset);
    QFETCH(QByteArray, value);
    if (unset)
        qunsetenv("CLIPNOTE_CAMERA");
    else
        qputenv("CLIPNOTE_CAMERA", value);
    if (!QMediaDevices::videoInputs().isEmpty())
        QSKIP("this machine has a camera");
    CCaptureWindow window(m_parent.get());
    Frames frames;
    window.setFrameCallback(frames.callback());
    QVERIFY(!window.connectDriver());
    QVERIFY(!window.isConnected());
    QVERIFY(!window.isVisible());
    QVERIFY(!window.grabFrame());
    QVERIFY(frames.seen.empty());
}

QTEST_MAIN(TestCaptureWindow)
#include "tst_capturewindow.moc"
