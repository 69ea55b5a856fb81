#include "store/picturecache.h"
#include "testenvironment.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTest>

#include <utime.h>

// The list pictures kept between paints.
class TestPictureCache : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void decodedOncePerFile();
    void stretchedAndColourKeyed();
    void replacedFileDecodedAgain_data();
    void replacedFileDecodedAgain();
    void missingOrBrokenFiles_data();
    void missingOrBrokenFiles();
    void memoryStaysBounded();

private:
    QString picture(const QString& name, const QColor& colour, QSize size = QSize(40, 30));
    TestEnvironment m_env;
    QString m_folder;
    int m_runs = 0;
};

const QSize kSide(23, 23);

void TestPictureCache::init() {
    m_folder = m_env.makeFolder(QStringLiteral("pictures%1").arg(++m_runs));
}

QString TestPictureCache::picture(const QString& name, const QColor& colour, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    const QString path = m_folder + QLatin1Char('/') + name;
    // PNG keeps the colours exact, and the cache takes any picture format.
    if (!image.save(path, "PNG"))
        return {};
    return path;
}

void TestPictureCache::decodedOncePerFile() {
    PictureCache cache;
    const QString red = picture(QStringLiteral("red.png"), Qt::red);
    const QString blue = picture(QStringLiteral("blue.png"), Qt::blue);
    for (int paint = 0; paint < 5; ++paint) {
        QCOMPARE(cache.picture(red, kSide).pixelColor(11, 11), QColor(Qt::red));
        QCOMPARE(cache.picture(blue, kSide).pixelColor(11, 11), QColor(Qt::blue));
    }
    QCOMPARE(cache.decodeCount(), 2);
    // Another drawing size is another picture.
    QCOMPARE(cache.picture(red, QSize(46, 46)).size(), QSize(46, 46));
    QCOMPARE(cache.decodeCount(), 3);
}

void TestPictureCache::stretchedAndColourKeyed() {
    QImage image(QSize(64, 16), QImage::Format_RGB32);
    image.fill(Qt::green);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            image.setPixelColor(x, y, QColor(0xFF, 0x00, 0xFF));
    const QString path = m_folder + QStringLiteral("/keyed.png");
    QVERIFY(image.save(path, "PNG"));
    PictureCache cache;
    const QImage drawn = cache.picture(path, kSide);
    QCOMPARE(drawn.size(), kSide);
    QCOMPARE(drawn.pixelColor(3, 3).alpha(), 0);  // magenta half: see-through
    QCOMPARE(drawn.pixelColor(3, 20).alpha(), 0); // stretched over the whole height
    QCOMPARE(drawn.pixelColor(20, 11), QColor(Qt::green));
}

void TestPictureCache::replacedFileDecodedAgain_data() {
    QTest::addColumn<QSize>("newSize");
    QTest::addColumn<bool>("sameTimes");
    QTest::newRow("other size") << QSize(50, 30) << false;
    QTest::newRow("same size, new time") << QSize(40, 30) << false;
    QTest::newRow("same size and times, new file") << QSize(40, 30) << true;
}

void TestPictureCache::replacedFileDecodedAgain() {
    QFETCH(QSize, newSize);
    QFETCH(bool, sameTimes);
    PictureCache cache;
    const QString path = picture(QStringLiteral("contact.png"), Qt::red);
    QCOMPARE(cache.picture(path, kSide).pixelColor(11, 11), QColor(Qt::red));
    const QString replacement = picture(QStringLiteral("new.png"), Qt::green, newSize);
    if (sameTimes) {
        const utimbuf times{1228664712, 1228664712};
        QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
        QCOMPARE(::utime(QFile::encodeName(replacement).constData(), &times), 0);
        QCOMPARE(cache.picture(path, kSide).pixelColor(11, 11), QColor(Qt::red));
    }
    // The worker copies a received thumbnail over the picture by renaming.
    QVERIFY(::rename(QFile::encodeName(replacement).constData(),
                     QFile::encodeName(path).constData()) == 0);
    QCOMPARE(cache.picture(path, kSide).pixelColor(11, 11), QColor(Qt::green));
}

void TestPictureCache::missingOrBrokenFiles_data() {
    QTest::addColumn<QByteArray>("content"); // "<none>": no file at all
    QTest::newRow("missing") << QByteArray("<none>");
    QTest::newRow("zero bytes") << QByteArray();
    QTest::newRow("corrupt JPEG") << QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF broken", 16);
    QTest::newRow("text") << QByteArray("not a picture at all");
}

void TestPictureCache::missingOrBrokenFiles() {
    QFETCH(QByteArray, content);
    const QString path = m_folder + QStringLiteral("/broken.jpg");
    if (content != "<none>")
        QVERIFY(writeFile(path, content));
    PictureCache cache;
    for (int paint = 0; paint < 3; ++paint)
        QVERIFY(cache.picture(path, kSide).isNull());
    // A broken file is tried once, not at every paint.
    QCOMPARE(cache.decodeCount(), content == "<none>" ? 0 : 1);
    // Once it is a picture, it shows.
    QFile::remove(path);
    QVERIFY(!picture(QStringLiteral("broken.jpg"), Qt::red).isEmpty());
    QCOMPARE(cache.picture(path, kSide).pixelColor(11, 11), QColor(Qt::red));
}

void TestPictureCache::memoryStaysBounded() {
    const qint64 budget = 23 * 23 * 4 * 10; // ten pictures
    PictureCache cache(budget);
    QStringList paths;
    for (int i = 0; i < 40; ++i)
        paths.append(picture(QStringLiteral("p%1.png").arg(i), QColor(i * 6, 0, 0)));
    for (const QString& path : paths)
        QVERIFY(!cache.picture(path, kSide).isNull());
    QVERIFY(cache.entryCount() <= 10);
    QVERIFY(cache.entryCount() > 0);
    // The latest ones are still kept.
    const int decodes = cache.decodeCount();
    cache.picture(paths.last(), kSide);
    QCOMPARE(cache.decodeCount(), decodes);
}

QTEST_GUILESS_MAIN(TestPictureCache)
#include "tst_picturecache.moc"
