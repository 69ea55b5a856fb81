#include "recorder/stillimage.h"
#include "storefixture.h"
#include "unwritable.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QTest>

#include <sys/stat.h>

// The image object: loads by content from files and streams, refuses what is
// not a picture without keeping an old one, draws with its colour key, and
// saves whole files or nothing.
class TestStillImage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void loadFailuresLeaveItEmpty_data();
    void loadFailuresLeaveItEmpty();
    void formatComesFromTheContent();
    void loadsAStreamFromItsPosition();
    void keyedPixelsShowTheBackground_data();
    void keyedPixelsShowTheBackground();
    void drawsAPartOfThePicture();
    void saveReplacesTheFileWhole();
    void saveFailures_data();
    void saveFailures();

private:
    TestEnvironment m_env;
    QString m_folder;
};

namespace {

QImage gradient(QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y, qRgb(x * 255 / size.width(), y * 255 / size.height(), 90));
    return picture;
}

QByteArray encode(const QImage& picture, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, format);
    return bytes;
}

CStillImage loaded(const QImage& picture) {
    CStillImage image;
    image.Attach(picture);
    return image;
}

} // namespace

void TestStillImage::init() {
    static int round = 0;
    m_folder = m_env.makeFolder(QStringLiteral("pictures%1").arg(++round));
}

void TestStillImage::loadFailuresLeaveItEmpty_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing file") << "missing";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("not a picture") << "text";
    QTest::newRow("truncated JPEG") << "truncated";
    QTest::newRow("folder") << "folder";
    QTest::newRow("pipe") << "pipe";
}

void TestStillImage::loadFailuresLeaveItEmpty() {
    QFETCH(QString, kind);
    const QString path = m_folder + QStringLiteral("/picture.jpg");
    const QByteArray jpeg = encode(gradient({64, 48}), "JPEG");
    if (kind == QLatin1String("empty"))
        QVERIFY(writeFile(path, {}));
    else if (kind == QLatin1String("text"))
        QVERIFY(writeFile(path, "this is a contact file, not a picture"));
    else if (kind == QLatin1String("truncated"))
        QVERIFY(writeFile(path, jpeg.left(20)));
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(path));
    else if (kind == QLatin1String("pipe"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);

    // An object holding a picture loses it: what is drawn next is nothing,
    // not the picture of an earlier load.
    CStillImage image = loaded(gradient({10, 10}));
    QCOMPARE(image.Load(path), E_FAIL);
    QVERIFY(image.IsNull());
    QCOMPARE(image.GetWidth(), 0);
    QImage canvas(8, 8, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    QVERIFY(!image.TransparentBlt(painter, canvas.rect()));
    painter.end();
    QCOMPARE(canvas.pixel(4, 4), qRgb(255, 255, 255));

    // The same bytes from memory (a pipe is never read: it would block).
    if (kind != QLatin1String("pipe")) {
        image.Attach(gradient({10, 10}));
        QCOMPARE(image.Load(readFile(path)), E_FAIL);
        QVERIFY(image.IsNull());
    }
}

void TestStillImage::formatComesFromTheContent() {
    // A PNG under a ".jpg" name, as a contact's picture may be.
    const QString path = m_folder + QStringLiteral("/contact.jpg");
    QVERIFY(writeFile(path, encode(gradient({30, 20}), "PNG")));
    CStillImage image;
    QCOMPARE(image.Load(path), S_OK);
    QCOMPARE(image.GetWidth(), 30);
    QCOMPARE(image.GetHeight(), 20);
    QCOMPARE(image.picture().pixel(29, 0), gradient({30, 20}).pixel(29, 0));
}

void TestStillImage::loadsAStreamFromItsPosition() {
    const QByteArray png = encode(gradient({17, 9}), "PNG");
    QBuffer stream;
    stream.setData(QByteArray("header") + png);
    QVERIFY(stream.open(QIODevice::ReadOnly));
    QVERIFY(stream.seek(6));
    CStillImage image;
    QCOMPARE(image.Load(stream), S_OK);
    QCOMPARE(image.picture().size(), QSize(17, 9));

    // From the start, the prefix makes it no picture.
    QVERIFY(stream.seek(0));
    QCOMPARE(image.Load(stream), E_FAIL);
    QVERIFY(image.IsNull());

    QCOMPARE(image.Load(png), S_OK);
    QCOMPARE(image.picture().size(), QSize(17, 9));
}

void TestStillImage::keyedPixelsShowTheBackground_data() {
    QTest::addColumn<QRgb>("key");
    QTest::addColumn<QRgb>("other");
    QTest::newRow("magenta, the screen key") << QRgb(0xFF00FF) << QRgb(0xFE00FF);
    QTest::newRow("black") << QRgb(0x000000) << QRgb(0x010000);
    QTest::newRow("alpha bits of the key ignored") << QRgb(0x12FF00FF) << QRgb(0xFF00FE);
}

void TestStillImage::keyedPixelsShowTheBackground() {
    QFETCH(QRgb, key);
    QFETCH(QRgb, other);
    // 4 x 4: a keyed column, a column of a colour one step away from the key,
    // and two of ordinary colours; drawn stretched to 8 x 8 over green.
    QImage picture(4, 4, QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y) {
        picture.setPixel(0, y, 0xFF000000 | key);
        picture.setPixel(1, y, 0xFF000000 | other);
        picture.setPixel(2, y, qRgb(200, 200, 0));
        picture.setPixel(3, y, qRgb(0, 0, 200));
    }
    QImage canvas(8, 8, QImage::Format_RGB32);
    canvas.fill(qRgb(0, 128, 0));
    QPainter painter(&canvas);
    QVERIFY(loaded(picture).TransparentBlt(painter, canvas.rect(), key));
    painter.end();

    for (int y = 0; y < 8; ++y) {
        QCOMPARE(canvas.pixel(0, y), qRgb(0, 128, 0));
        QCOMPARE(canvas.pixel(1, y), qRgb(0, 128, 0));
        QCOMPARE(canvas.pixel(2, y), 0xFF000000 | other);
        QCOMPARE(canvas.pixel(5, y), qRgb(200, 200, 0));
        QCOMPARE(canvas.pixel(7, y), qRgb(0, 0, 200));
    }
}

void TestStillImage::drawsAPartOfThePicture() {
    QImage picture(4, 2, QImage::Format_RGB32);
    picture.fill(qRgb(255, 0, 255));
    picture.setPixel(2, 1, qRgb(10, 20, 30));
    picture.setPixel(3, 1, qRgb(40, 50, 60));
    QImage canvas(6, 3, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    // The right half of the bottom row, stretched into 4 x 2 at (1, 1).
    QVERIFY(loaded(picture).TransparentBlt(painter, QRect(1, 1, 4, 2), QRect(2, 1, 2, 1)));
    painter.end();
    QCOMPARE(canvas.pixel(0, 0), qRgb(255, 255, 255));
    QCOMPARE(canvas.pixel(1, 1), qRgb(10, 20, 30));
    QCOMPARE(canvas.pixel(2, 2), qRgb(10, 20, 30));
    QCOMPARE(canvas.pixel(4, 2), qRgb(40, 50, 60));
    QCOMPARE(canvas.pixel(5, 2), qRgb(255, 255, 255));
}

void TestStillImage::saveReplacesTheFileWhole() {
    const QString path = m_folder + QStringLiteral("/vnote.jpg");
    QVERIFY(writeFile(path, "old"));
    // The thumbnail of an unsent recording is its owner's alone, however
    // open the umask.
    const mode_t umaskBefore = ::umask(0);
    const HRESULT saved = loaded(gradient({120, 90})).Save(path);
    ::umask(umaskBefore);
    QCOMPARE(saved, S_OK);
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0600));
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    QCOMPARE(reader.size(), QSize(120, 90));
    QCOMPARE(filesIn(m_folder), QStringList{"vnote.jpg"});
}

void TestStillImage::saveFailures_data() {
    QTest::addColumn<QString>("cause");
    QTest::newRow("nothing loaded") << "empty";
    QTest::newRow("unknown format") << "format";
    QTest::newRow("read-only folder") << "readonly";
    QTest::newRow("full disk") << "full";
    QTest::newRow("folder missing") << "nofolder";
}

void TestStillImage::saveFailures() {
    QFETCH(QString, cause);
    QString path = m_folder + QStringLiteral("/vnote.jpg");
    QVERIFY(writeFile(path, "the old picture"));
    const auto before = snapshotTree(m_folder);
    CStillImage image = loaded(cause == QLatin1String("empty") ? QImage() : gradient({320, 240}));
    const char* format = cause == QLatin1String("format") ? "NOSUCH" : "JPEG";
    if (cause == QLatin1String("nofolder"))
        path = m_folder + QStringLiteral("/gone/vnote.jpg");

    HRESULT result = S_OK;
    if (cause == QLatin1String("readonly")) {
        ReadOnlyFolder readOnly(m_folder);
        if (!readOnly.active())
            QSKIP("this folder cannot be made read-only here");
        result = image.Save(path, format);
    } else if (cause == QLatin1String("full")) {
        // Room for less than the JPEG: it is cut short mid-write.
        FileSizeLimit full(2000);
        QVERIFY(full.active());
        result = image.Save(path, format);
    } else {
        result = image.Save(path, format);
    }
    QCOMPARE(result, E_FAIL);
    // Neither a damaged picture nor a temporary file is left behind.
    QCOMPARE(snapshotTree(m_folder), before);
}

QTEST_MAIN(TestStillImage)
#include "tst_stillimage.moc"
