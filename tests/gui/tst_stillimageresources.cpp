#include "platform/resources.h"
#include "recorder/stillimage.h"

#include <QPainter>
#include <QTest>

// The image object over the program's numbered bitmaps: each loads at its
// size, other numbers load nothing, and drawn with the colour key a bitmap
// shows what is underneath through exactly its magenta pixels.
class TestStillImageResources : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bitmapsLoad_data();
    void bitmapsLoad();
    void otherNumbersLoadNothing_data();
    void otherNumbersLoadNothing();
    void keyedBitmapShowsTheBackground_data();
    void keyedBitmapShowsTheBackground();
};

void TestStillImageResources::bitmapsLoad_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QSize>("size");
    QTest::newRow("one contact") << kBitmapOneContact << QSize(192, 168);
    QTest::newRow("several contacts") << kBitmapSeveralContacts << QSize(192, 168);
    QTest::newRow("no recipient") << kBitmapNoRecipient << QSize(320, 240);
    QTest::newRow("default contact") << kBitmapDefaultContact << QSize(24, 24);
}

void TestStillImageResources::bitmapsLoad() {
    QFETCH(int, id);
    QFETCH(QSize, size);
    CStillImage image;
    QCOMPARE(image.LoadFromResource(id), S_OK);
    QCOMPARE(QSize(image.GetWidth(), image.GetHeight()), size);
}

void TestStillImageResources::otherNumbersLoadNothing_data() {
    QTest::addColumn<int>("id");
    QTest::newRow("zero") << 0;
    QTest::newRow("an icon's number") << kIconApp;
    QTest::newRow("unknown") << 9999;
}

void TestStillImageResources::otherNumbersLoadNothing() {
    QFETCH(int, id);
    CStillImage image;
    QCOMPARE(image.LoadFromResource(kBitmapDefaultContact), S_OK);
    QCOMPARE(image.LoadFromResource(id), E_FAIL);
    QVERIFY(image.IsNull());
}

void TestStillImageResources::keyedBitmapShowsTheBackground_data() {
    QTest::addColumn<int>("id");
    QTest::newRow("one contact") << kBitmapOneContact;
    QTest::newRow("several contacts") << kBitmapSeveralContacts;
    QTest::newRow("default contact") << kBitmapDefaultContact;
}

void TestStillImageResources::keyedBitmapShowsTheBackground() {
    QFETCH(int, id);
    CStillImage image;
    QCOMPARE(image.LoadFromResource(id), S_OK);
    const QImage bitmap = image.picture().convertToFormat(QImage::Format_RGB32);
    const QRgb background = qRgb(0, 128, 0);
    QImage canvas(bitmap.size(), QImage::Format_RGB32);
    canvas.fill(background);
    QPainter painter(&canvas);
    QVERIFY(image.TransparentBlt(painter, canvas.rect()));
    painter.end();

    int keyed = 0;
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            const QRgb own = bitmap.pixel(x, y);
            if ((own & RGB_MASK) == kColourKey) {
                ++keyed;
                QCOMPARE(canvas.pixel(x, y), background);
            } else {
                QCOMPARE(canvas.pixel(x, y), own);
            }
        }
    }
    // Each of these pictures is drawn over the preview or a list row and
    // lets it show around its figure.
    QVERIFY(keyed > 0);
}

QTEST_MAIN(TestStillImageResources)
#include "tst_stillimageresources.moc"
