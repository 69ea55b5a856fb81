#include "recorder/frameconversion.h"
#include "recorder/latestframe.h"

#include <QPainter>
#include <QTest>

#include <array>
#include <thread>
#include <vector>

// Pictures of every size and pixel format a camera may deliver end up as the
// recorder's 320 x 240 bottom-up BGR frame, the right way up.
class TestFrameConversion : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void quadrantsLandInPlace_data();
    void quadrantsLandInPlace();
    void cropKeepsTheCentre_data();
    void cropKeepsTheCentre();
    void nullPictureLeavesTheBuffer();
    void transparencyShowsAsOnBlack();
    void preferredCaptureSize_data();
    void preferredCaptureSize();
    void latestFrameAcrossThreads();
};

namespace {

constexpr int kGuard = 16;

struct Bgr {
    int b, g, r;
};

// Four quadrants of clearly different colours; in grey formats they become
// four different greys.
QImage quadrants(QSize size, QImage::Format format) {
    QImage picture(size, QImage::Format_ARGB32);
    const int halfW = qMax(1, size.width() / 2);
    const int halfH = qMax(1, size.height() / 2);
    QPainter painter(&picture);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(0, 0, halfW, halfH, QColor(230, 20, 20));             // top left
    painter.fillRect(halfW, 0, size.width(), halfH, QColor(20, 230, 20));  // top right
    painter.fillRect(0, halfH, halfW, size.height(), QColor(20, 20, 230)); // bottom left
    painter.fillRect(halfW, halfH, size.width(), size.height(), QColor(240, 240, 240));
    painter.end();
    return picture.convertToFormat(format);
}

Bgr pixelAt(const std::vector<unsigned char>& frame, int bufferRow, int x) {
    const unsigned char* p = frame.data() + bufferRow * kFrameRowBytes + x * kFrameBytesPerPixel;
    return {p[0], p[1], p[2]};
}

bool near(const Bgr& actual, QRgb expected, int tolerance = 3) {
    return qAbs(actual.b - qBlue(expected)) <= tolerance &&
           qAbs(actual.g - qGreen(expected)) <= tolerance &&
           qAbs(actual.r - qRed(expected)) <= tolerance;
}

QByteArray describe(const Bgr& actual, QRgb expected) {
    return QStringLiteral("got B%1 G%2 R%3, expected B%4 G%5 R%6")
        .arg(actual.b)
        .arg(actual.g)
        .arg(actual.r)
        .arg(qBlue(expected))
        .arg(qGreen(expected))
        .arg(qRed(expected))
        .toUtf8();
}

} // namespace

void TestFrameConversion::quadrantsLandInPlace_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QSize>("size");
    QTest::newRow("RGB32 640x480") << int(QImage::Format_RGB32) << QSize(640, 480);
    QTest::newRow("RGB32 320x240 unscaled") << int(QImage::Format_RGB32) << QSize(320, 240);
    QTest::newRow("ARGB32 1280x720 wide") << int(QImage::Format_ARGB32) << QSize(1280, 720);
    QTest::newRow("ARGB32 premultiplied 640x480")
        << int(QImage::Format_ARGB32_Premultiplied) << QSize(640, 480);
    QTest::newRow("RGB888 176x144") << int(QImage::Format_RGB888) << QSize(176, 144);
    QTest::newRow("RGB888 odd 333x251") << int(QImage::Format_RGB888) << QSize(333, 251);
    QTest::newRow("BGR888 640x480") << int(QImage::Format_BGR888) << QSize(640, 480);
    QTest::newRow("Grayscale8 640x480") << int(QImage::Format_Grayscale8) << QSize(640, 480);
    QTest::newRow("Grayscale8 1280x720") << int(QImage::Format_Grayscale8) << QSize(1280, 720);
    QTest::newRow("RGB16 640x480") << int(QImage::Format_RGB16) << QSize(640, 480);
    QTest::newRow("RGB16 176x144") << int(QImage::Format_RGB16) << QSize(176, 144);
    QTest::newRow("RGBX8888 portrait 480x640") << int(QImage::Format_RGBX8888) << QSize(480, 640);
    QTest::newRow("RGB32 2x2") << int(QImage::Format_RGB32) << QSize(2, 2);
}

void TestFrameConversion::quadrantsLandInPlace() {
    QFETCH(int, format);
    QFETCH(QSize, size);
    const QImage source = quadrants(size, QImage::Format(format));
    // The colours as the source format holds them (RGB16 and grey lose bits).
    const QRgb topLeft = source.pixel(0, 0);
    const QRgb topRight = source.pixel(size.width() - 1, 0);
    const QRgb bottomLeft = source.pixel(0, size.height() - 1);
    const QRgb bottomRight = source.pixel(size.width() - 1, size.height() - 1);

    // Guard bytes on both sides catch a write outside the 230,400 bytes.
    std::vector<unsigned char> buffer(kGuard + kFrameBytes + kGuard, 0xA5);
    QVERIFY(toBottomUpBgr(source, buffer.data() + kGuard));
    for (int i = 0; i < kGuard; ++i) {
        QCOMPARE(buffer[i], 0xA5);
        QCOMPARE(buffer[kGuard + kFrameBytes + i], 0xA5);
    }
    const std::vector<unsigned char> frame(buffer.begin() + kGuard,
                                           buffer.begin() + kGuard + kFrameBytes);

    // The picture's top row is the buffer's last.
    const int top = kFrameHeight - 1;
    const int right = kFrameWidth - 1;
    QVERIFY2(near(pixelAt(frame, top, 0), topLeft), describe(pixelAt(frame, top, 0), topLeft));
    QVERIFY2(near(pixelAt(frame, top, right), topRight),
             describe(pixelAt(frame, top, right), topRight));
    QVERIFY2(near(pixelAt(frame, 0, 0), bottomLeft), describe(pixelAt(frame, 0, 0), bottomLeft));
    QVERIFY2(near(pixelAt(frame, 0, right), bottomRight),
             describe(pixelAt(frame, 0, right), bottomRight));
}

void TestFrameConversion::cropKeepsTheCentre_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("crop");
    QTest::newRow("4:3 whole") << QSize(640, 480) << QRect(0, 0, 640, 480);
    QTest::newRow("16:9 loses the sides") << QSize(1280, 720) << QRect(160, 0, 960, 720);
    QTest::newRow("11:9 loses top and bottom") << QSize(176, 144) << QRect(0, 6, 176, 132);
    QTest::newRow("portrait") << QSize(240, 320) << QRect(0, 70, 240, 180);
    QTest::newRow("one pixel") << QSize(1, 1) << QRect(0, 0, 1, 1);
    QTest::newRow("one row") << QSize(400, 1) << QRect(199, 0, 1, 1);
    QTest::newRow("empty") << QSize(0, 10) << QRect();
}

void TestFrameConversion::cropKeepsTheCentre() {
    QFETCH(QSize, size);
    QFETCH(QRect, crop);
    QCOMPARE(frameCropRect(size), crop);
}

void TestFrameConversion::nullPictureLeavesTheBuffer() {
    std::vector<unsigned char> frame(kFrameBytes, 0x5A);
    QVERIFY(!toBottomUpBgr(QImage(), frame.data()));
    QVERIFY(std::all_of(frame.begin(), frame.end(), [](unsigned char b) { return b == 0x5A; }));
    QVERIFY(fitToFrame(QImage()).isNull());
}

void TestFrameConversion::transparencyShowsAsOnBlack() {
    QImage single(1, 1, QImage::Format_ARGB32);
    single.setPixel(0, 0, qRgba(200, 100, 50, 0));
    std::vector<unsigned char> frame(kFrameBytes, 0x77);
    QVERIFY(toBottomUpBgr(single, frame.data()));
    // Fully transparent shows black, the whole frame filled by the one pixel.
    QVERIFY(std::all_of(frame.begin(), frame.end(), [](unsigned char b) { return b == 0; }));

    single.setPixel(0, 0, qRgba(200, 100, 50, 255));
    QVERIFY(toBottomUpBgr(single, frame.data()));
    QVERIFY(near(pixelAt(frame, 120, 160), qRgb(200, 100, 50), 0));
}

void TestFrameConversion::preferredCaptureSize_data() {
    QTest::addColumn<QList<QSize>>("offered");
    QTest::addColumn<int>("chosen");
    QTest::newRow("none") << QList<QSize>{} << -1;
    QTest::newRow("exact among larger") << QList<QSize>{{1280, 720}, {320, 240}, {640, 480}} << 1;
    QTest::newRow("smallest covering") << QList<QSize>{{1920, 1080}, {640, 480}, {176, 144}} << 1;
    QTest::newRow("only smaller: the largest") << QList<QSize>{{160, 120}, {176, 144}} << 1;
    QTest::newRow("wide but too low") << QList<QSize>{{640, 200}, {352, 288}} << 1;
    QTest::newRow("empty sizes skipped") << QList<QSize>{{0, 0}, {800, 600}} << 1;
}

void TestFrameConversion::preferredCaptureSize() {
    QFETCH(QList<QSize>, offered);
    QFETCH(int, chosen);
    QCOMPARE(::preferredCaptureSize(offered), chosen);
}

void TestFrameConversion::latestFrameAcrossThreads() {
    LatestFrame latest;
    QVERIFY(latest.take().isNull());
    // One thread delivers pictures of rising colour while this one takes
    // them: every picture taken is whole, and the last one put is kept.
    std::thread deliverer([&latest] {
        for (int i = 1; i <= 200; ++i) {
            QImage picture(64, 48, QImage::Format_RGB32);
            picture.fill(qRgb(i, i, i));
            latest.put(picture);
        }
    });
    int lastSeen = 0;
    while (latest.count() < 200) {
        const QImage taken = latest.take();
        if (taken.isNull())
            continue;
        const int value = qRed(taken.pixel(0, 0));
        QVERIFY(value >= lastSeen);
        QCOMPARE(qRed(taken.pixel(63, 47)), value);
        lastSeen = value;
    }
    deliverer.join();
    QCOMPARE(qRed(latest.take().pixel(0, 0)), 200);
    latest.put(QImage());
    QCOMPARE(latest.count(), std::uint64_t(200));
    latest.clear();
    QVERIFY(latest.take().isNull());
}

QTEST_GUILESS_MAIN(TestFrameConversion)
#include "tst_frameconversion.moc"
