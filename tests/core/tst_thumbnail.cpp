#include "recorder/frameconversion.h"
#include "recorder/thumbnail.h"
#include "storefixture.h"
#include "unwritable.h"

#include <QBuffer>
#include <QImageReader>
#include <QTest>
#include <QtEndian>

#include <vector>

// The thumbnail of a recording: the frame through a bitmap file to a JPEG
// beside the video, shrunk into 192 x 168 by the width/height rule.
class TestThumbnail : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void bitmapFileOfAFrame();
    void pathBesideTheVideo_data();
    void pathBesideTheVideo();
    void thumbnailOfAFrame();
    void shrunkSizeRule_data();
    void shrunkSizeRule();
    void shrinkingFiles_data();
    void shrinkingFiles();
    void shrinkKeepsWhatDoesNotLoad();
    void shrinkOnAReadOnlyFolderKeepsTheFile();
    void failedThumbnailLeavesNone_data();
    void failedThumbnailLeavesNone();

private:
    TestEnvironment m_env;
    QString m_folder;
};

namespace {

// A bottom-up BGR frame whose picture is red above and blue below, with a
// green band at the left edge.
std::vector<unsigned char> twoHalvesFrame() {
    std::vector<unsigned char> frame(kFrameBytes);
    for (int row = 0; row < kFrameHeight; ++row) {
        const bool upperHalf = row >= kFrameHeight / 2; // rows run bottom-up
        for (int x = 0; x < kFrameWidth; ++x) {
            unsigned char* p = frame.data() + row * kFrameRowBytes + x * 3;
            if (x < 40) {
                p[0] = 0, p[1] = 200, p[2] = 0;
            } else if (upperHalf) {
                p[0] = 0, p[1] = 0, p[2] = 220;
            } else {
                p[0] = 220, p[1] = 0, p[2] = 0;
            }
        }
    }
    return frame;
}

quint32 u32(const QByteArray& bytes, int offset) {
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

quint16 u16(const QByteArray& bytes, int offset) {
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

bool closeTo(QRgb actual, QRgb expected, int tolerance = 24) {
    return qAbs(qRed(actual) - qRed(expected)) <= tolerance &&
           qAbs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           qAbs(qBlue(actual) - qBlue(expected)) <= tolerance;
}

QByteArray jpegOf(QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(qRgb(120, 60, 30));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG");
    return bytes;
}

QSize sizeOf(const QString& path) {
    QImageReader reader(path);
    return reader.size();
}

} // namespace

void TestThumbnail::init() {
    static int round = 0;
    m_folder = m_env.makeFolder(QStringLiteral("temp%1").arg(++round));
}

void TestThumbnail::bitmapFileOfAFrame() {
    const std::vector<unsigned char> frame = twoHalvesFrame();
    const QByteArray file = bitmapFileFromFrame(frame.data());
    QCOMPARE(file.size(), 230454);
    QCOMPARE(file.left(2), QByteArray("BM"));
    QCOMPARE(u32(file, 2), 230454u);
    QCOMPARE(u32(file, 6), 0u); // both reserved words
    QCOMPARE(u32(file, 10), 54u);
    QCOMPARE(u32(file, 14), 40u);
    QCOMPARE(u32(file, 18), 320u);
    QCOMPARE(u32(file, 22), 240u); // positive: bottom-up
    QCOMPARE(u16(file, 26), quint16(1));
    QCOMPARE(u16(file, 28), quint16(24));
    QCOMPARE(u32(file, 30), 0u);
    QCOMPARE(u32(file, 34), 230400u);
    for (int offset = 38; offset < 54; offset += 4)
        QCOMPARE(u32(file, offset), 0u);
    QVERIFY(std::equal(frame.begin(), frame.end(),
                       reinterpret_cast<const unsigned char*>(file.constData() + 54)));
}

void TestThumbnail::pathBesideTheVideo_data() {
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("thumbnail");
    QTest::newRow("recording") << "/tmp/vnote.wmv"
                               << "/tmp/vnote.jpg";
    QTest::newRow("last dot counts") << "/tmp/a.b.wmv"
                                     << "/tmp/a.b.jpg";
    QTest::newRow("dotted folder, plain name") << "/home/j.doe/vnote"
                                               << "/home/j.doe/vnote.jpg";
    QTest::newRow("no dot at all") << "vnote"
                                   << "vnote.jpg";
}

void TestThumbnail::pathBesideTheVideo() {
    QFETCH(QString, video);
    QFETCH(QString, thumbnail);
    QCOMPARE(thumbnailPathFor(video), thumbnail);
}

void TestThumbnail::thumbnailOfAFrame() {
    const std::vector<unsigned char> frame = twoHalvesFrame();
    const QString video = m_folder + QStringLiteral("/vnote.wmv");
    QVERIFY(writeFile(m_folder + QStringLiteral("/vnote.jpg"), "last recording's picture"));
    QCOMPARE(MakeThumbnail(frame.data(), video), S_OK);

    QCOMPARE(filesIn(m_folder), QStringList{"vnote.jpg"});
    QImageReader reader(m_folder + QStringLiteral("/vnote.jpg"));
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage thumbnail = reader.read();
    QCOMPARE(thumbnail.size(), QSize(192, 144));
    // The right way up, not mirrored: red above, blue below, green at left.
    QVERIFY(closeTo(thumbnail.pixel(150, 10), qRgb(220, 0, 0)));
    QVERIFY(closeTo(thumbnail.pixel(150, 133), qRgb(0, 0, 220)));
    QVERIFY(closeTo(thumbnail.pixel(5, 72), qRgb(0, 200, 0)));
}

void TestThumbnail::shrunkSizeRule_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("shrunk");
    QTest::newRow("frame") << QSize(320, 240) << QSize(192, 144);
    QTest::newRow("wide, ends taller than the box") << QSize(200, 180) << QSize(192, 172);
    QTest::newRow("wide, rounds down") << QSize(1000, 333) << QSize(192, 63);
    QTest::newRow("tall") << QSize(100, 400) << QSize(42, 168);
    QTest::newRow("square") << QSize(500, 500) << QSize(168, 168);
    QTest::newRow("square just over") << QSize(169, 169) << QSize(168, 168);
    QTest::newRow("small, never enlarged") << QSize(100, 80) << QSize(100, 80);
    QTest::newRow("exact box") << QSize(192, 168) << QSize(192, 168);
    QTest::newRow("one row too tall, wide") << QSize(192, 169) << QSize(192, 169);
    QTest::newRow("one column too wide") << QSize(193, 100) << QSize(192, 99);
    QTest::newRow("hair-thin, kept one pixel high") << QSize(5000, 2) << QSize(192, 1);
    QTest::newRow("needle, kept one pixel wide") << QSize(2, 5000) << QSize(1, 168);
}

void TestThumbnail::shrunkSizeRule() {
    QFETCH(QSize, picture);
    QFETCH(QSize, shrunk);
    QCOMPARE(shrunkSize(picture), shrunk);
}

void TestThumbnail::shrinkingFiles_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("shrunk");
    QTest::addColumn<bool>("untouched");
    QTest::newRow("frame") << QSize(320, 240) << QSize(192, 144) << false;
    QTest::newRow("tall") << QSize(300, 600) << QSize(84, 168) << false;
    QTest::newRow("hair-thin") << QSize(3000, 4) << QSize(192, 1) << false;
    QTest::newRow("small") << QSize(48, 32) << QSize(48, 32) << true;
    QTest::newRow("exact box") << QSize(192, 168) << QSize(192, 168) << true;
}

void TestThumbnail::shrinkingFiles() {
    QFETCH(QSize, picture);
    QFETCH(QSize, shrunk);
    QFETCH(bool, untouched);
    const QString path = m_folder + QStringLiteral("/picture.jpg");
    const QByteArray original = jpegOf(picture);
    QVERIFY(writeFile(path, original));
    QCOMPARE(ShrinkImageFile(path), S_OK);
    QCOMPARE(sizeOf(path), shrunk);
    // A picture within the box is left exactly as saved.
    QCOMPARE(readFile(path) == original, untouched);
    QCOMPARE(filesIn(m_folder), QStringList{"picture.jpg"});
}

void TestThumbnail::shrinkKeepsWhatDoesNotLoad() {
    const QString path = m_folder + QStringLiteral("/picture.jpg");
    QVERIFY(writeFile(path, "not a picture"));
    QCOMPARE(ShrinkImageFile(path), E_FAIL);
    QCOMPARE(readFile(path), QByteArray("not a picture"));
    QCOMPARE(ShrinkImageFile(m_folder + QStringLiteral("/missing.jpg")), E_FAIL);
    QCOMPARE(filesIn(m_folder), QStringList{"picture.jpg"});
}

void TestThumbnail::shrinkOnAReadOnlyFolderKeepsTheFile() {
    const QString path = m_folder + QStringLiteral("/picture.jpg");
    const QByteArray original = jpegOf({640, 480});
    QVERIFY(writeFile(path, original));
    ReadOnlyFolder readOnly(m_folder);
    if (!readOnly.active())
        QSKIP("this folder cannot be made read-only here");
    QCOMPARE(ShrinkImageFile(path), E_FAIL);
    QCOMPARE(readFile(path), original);
    QCOMPARE(filesIn(m_folder), QStringList{"picture.jpg"});
}

void TestThumbnail::failedThumbnailLeavesNone_data() {
    QTest::addColumn<QString>("cause");
    QTest::addColumn<bool>("earlierThumbnail");
    QTest::newRow("read-only folder") << "readonly" << false;
    QTest::newRow("full disk") << "full" << false;
    QTest::newRow("full disk, earlier thumbnail") << "full" << true;
    QTest::newRow("folder missing") << "nofolder" << false;
}

void TestThumbnail::failedThumbnailLeavesNone() {
    QFETCH(QString, cause);
    QFETCH(bool, earlierThumbnail);
    const std::vector<unsigned char> frame = twoHalvesFrame();
    const QString video = cause == QLatin1String("nofolder")
                              ? m_folder + QStringLiteral("/gone/vnote.wmv")
                              : m_folder + QStringLiteral("/vnote.wmv");
    if (earlierThumbnail)
        QVERIFY(writeFile(m_folder + QStringLiteral("/vnote.jpg"), jpegOf({192, 144})));

    HRESULT result = S_OK;
    if (cause == QLatin1String("readonly")) {
        ReadOnlyFolder readOnly(m_folder);
        if (!readOnly.active())
            QSKIP("this folder cannot be made read-only here");
        result = MakeThumbnail(frame.data(), video);
    } else if (cause == QLatin1String("full")) {
        FileSizeLimit full(1000);
        QVERIFY(full.active());
        result = MakeThumbnail(frame.data(), video);
    } else {
        result = MakeThumbnail(frame.data(), video);
    }
    QCOMPARE(result, E_FAIL);
    // No half-written picture, no temporary file, and no earlier recording's
    // picture that would be filed with this one.
    QCOMPARE(filesIn(m_folder), QStringList{});
}

QTEST_GUILESS_MAIN(TestThumbnail)
#include "tst_thumbnail.moc"
