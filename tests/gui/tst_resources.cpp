#include "platform/resources.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <algorithm>
#include <vector>

// The numbered pictures: every number loads at the size the windows use,
// magenta marks exactly the transparent parts, and the colour key turns
// exactly the key colour into transparency.
class TestResources : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void pictures_data();
    void pictures();
    void shownSizes_data();
    void shownSizes();
    void unknownNumbers_data();
    void unknownNumbers();
    void colourKey_data();
    void colourKey();
    void colourKeyOfNullImage();
    void unlinkedPicturesLoadAsNull();
    void contactSheet();
};

namespace {

constexpr QRgb kMagenta = 0xFFFF00FF;
constexpr QRgb kSheetGrey = 0xFF808080;

bool isMagenta(QRgb pixel) {
    return (pixel & RGB_MASK) == 0xFF00FF;
}

// A colour close to magenta but not it: what smoothing an outline against the
// key leaves behind, and what would show as a pink fringe once keyed.
bool isNearMagenta(QRgb pixel) {
    return !isMagenta(pixel) && qRed(pixel) >= 200 && qGreen(pixel) <= 80 && qBlue(pixel) >= 200;
}

// Number of magenta pixels that cannot be reached from the picture's border
// through other magenta pixels: holes through which the background would show
// in the middle of a picture.
int enclosedMagenta(const QImage& image) {
    const int w = image.width();
    const int h = image.height();
    std::vector<char> seen(size_t(w) * size_t(h), 0);
    std::vector<QPoint> todo;
    auto visit = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= w || y >= h)
            return;
        char& s = seen[size_t(y) * size_t(w) + size_t(x)];
        if (s || !isMagenta(image.pixel(x, y)))
            return;
        s = 1;
        todo.emplace_back(x, y);
    };
    for (int x = 0; x < w; ++x) {
        visit(x, 0);
        visit(x, h - 1);
    }
    for (int y = 0; y < h; ++y) {
        visit(0, y);
        visit(w - 1, y);
    }
    while (!todo.empty()) {
        const QPoint p = todo.back();
        todo.pop_back();
        visit(p.x() + 1, p.y());
        visit(p.x() - 1, p.y());
        visit(p.x(), p.y() + 1);
        visit(p.x(), p.y() - 1);
    }
    int enclosed = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (isMagenta(image.pixel(x, y)) && !seen[size_t(y) * size_t(w) + size_t(x)])
                ++enclosed;
        }
    }
    return enclosed;
}

QImage rawPicture(bool isIcon, int id, int size) {
    return isIcon ? QImage(iconPath(id, size)) : loadBitmapResource(id);
}

} // namespace

void TestResources::initTestCase() {
    // Every program built on the widgets library has the pictures linked in
    // without naming them.
    QVERIFY(!loadBitmapResource(kBitmapNoRecipient).isNull());
}

void TestResources::pictures_data() {
    QTest::addColumn<bool>("isIcon");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("size"); // icons only
    QTest::addColumn<QSize>("expectedSize");
    QTest::addColumn<bool>("clearCorners");

    // Icons: round or shaped, so their corners are always transparent.
    const struct {
        int id;
        QList<int> sizes;
    } icons[] = {
        {kIconApp, {16, 32}},     {kIconReady, {32}},        {kIconContactsTab, {16, 32}},
        {kIconSentTab, {16, 32}}, {kIconInboxTab, {16, 32}}, {kIconOutboxTab, {16, 32}},
        {kIconNoRecording, {32}}, {kIconCountingDown, {32}}, {kIconRecording, {32}},
        {kIconAlert, {16, 32}},
    };
    for (const auto& icon : icons) {
        for (int size : icon.sizes) {
            QTest::addRow("icon %d at %d", icon.id, size)
                << true << icon.id << size << QSize(size, size) << true;
        }
    }
    // Bitmaps: rounded cards and tiles, drawn over the window's own colour.
    QTest::newRow("bitmap 131, one recipient")
        << false << kBitmapOneContact << 0 << QSize(192, 168) << true;
    QTest::newRow("bitmap 143, several recipients")
        << false << kBitmapSeveralContacts << 0 << QSize(192, 168) << true;
    QTest::newRow("bitmap 144, no recipient")
        << false << kBitmapNoRecipient << 0 << QSize(320, 240) << true;
    QTest::newRow("bitmap 145, default contact")
        << false << kBitmapDefaultContact << 0 << QSize(24, 24) << true;
}

void TestResources::pictures() {
    QFETCH(bool, isIcon);
    QFETCH(int, id);
    QFETCH(int, size);
    QFETCH(QSize, expectedSize);
    QFETCH(bool, clearCorners);

    const QImage raw = rawPicture(isIcon, id, size);
    QVERIFY(!raw.isNull());
    QCOMPARE(raw.size(), expectedSize);

    const int r = raw.width() - 1;
    const int b = raw.height() - 1;
    for (const QPoint corner : {QPoint(0, 0), QPoint(r, 0), QPoint(0, b), QPoint(r, b)})
        QCOMPARE(isMagenta(raw.pixel(corner)), clearCorners);
    QVERIFY(!isMagenta(raw.pixel(raw.width() / 2, raw.height() / 2)));

    int magenta = 0;
    for (int y = 0; y < raw.height(); ++y) {
        for (int x = 0; x < raw.width(); ++x) {
            const QRgb pixel = raw.pixel(x, y);
            if (isNearMagenta(pixel))
                QFAIL(qPrintable(QStringLiteral("near-magenta pixel at %1,%2").arg(x).arg(y)));
            // Every picture is opaque: its transparency is the key, never alpha.
            QCOMPARE(qAlpha(pixel), 255);
            magenta += isMagenta(pixel) ? 1 : 0;
        }
    }
    // At least a quarter is picture, and its transparent parts all lie around it.
    QVERIFY2(magenta < raw.width() * raw.height() * 3 / 4, qPrintable(QString::number(magenta)));
    QCOMPARE(enclosedMagenta(raw), 0);

    if (isIcon) {
        const QImage keyed = loadIconResource(id, size);
        QCOMPARE(keyed.size(), expectedSize);
        QVERIFY(keyed.hasAlphaChannel());
        for (int y = 0; y < raw.height(); ++y) {
            for (int x = 0; x < raw.width(); ++x)
                QCOMPARE(qAlpha(keyed.pixel(x, y)), isMagenta(raw.pixel(x, y)) ? 0 : 255);
        }
    } else {
        // A bitmap comes back with its key colour; drawing code keys it.
        QVERIFY(!raw.hasAlphaChannel());
        QCOMPARE(raw, QImage(bitmapPath(id)));
    }
}

void TestResources::shownSizes_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("shownSize");

    // The tab images are 16 x 16; window, tray, About box and record
    // indicator icons are drawn at 32 x 32.
    QTest::newRow("app") << kIconApp << 32;
    QTest::newRow("alert") << kIconAlert << 32;
    QTest::newRow("ready") << kIconReady << 32;
    QTest::newRow("no recording") << kIconNoRecording << 32;
    QTest::newRow("counting down") << kIconCountingDown << 32;
    QTest::newRow("recording") << kIconRecording << 32;
    QTest::newRow("inbox tab") << kIconInboxTab << 16;
    QTest::newRow("outbox tab") << kIconOutboxTab << 16;
    QTest::newRow("sent tab") << kIconSentTab << 16;
    QTest::newRow("contacts tab") << kIconContactsTab << 16;
}

void TestResources::shownSizes() {
    QFETCH(int, id);
    QFETCH(int, shownSize);

    QCOMPARE(iconPath(id), iconPath(id, shownSize));
    QCOMPARE(loadIconResource(id).size(), QSize(shownSize, shownSize));
    const QList<int> sizes = iconSizes(id);
    QVERIFY(sizes.contains(shownSize));
    QVERIFY(std::is_sorted(sizes.begin(), sizes.end()));
    for (int size : sizes)
        QCOMPARE(QImage(iconPath(id, size)).size(), QSize(size, size));
}

void TestResources::unknownNumbers_data() {
    QTest::addColumn<int>("iconId");
    QTest::addColumn<int>("iconSize");
    QTest::addColumn<int>("bitmapId");

    // Icons and bitmaps are numbered apart: a number of one family names
    // nothing in the other.
    QTest::newRow("bitmap-only number as icon, icon-only as bitmap") << 131 << 0 << 128;
    QTest::newRow("indicator icon numbers as bitmaps") << 130 << 0 << 129;
    QTest::newRow("alert icon as bitmap") << 0 << 0 << 149;
    QTest::newRow("negative") << -144 << 0 << -144;
    QTest::newRow("size an icon does not come in") << kIconReady << 16 << 146;
    QTest::newRow("odd size") << kIconApp << 24 << 142;
}

void TestResources::unknownNumbers() {
    QFETCH(int, iconId);
    QFETCH(int, iconSize);
    QFETCH(int, bitmapId);

    if (iconSize == 0) {
        QVERIFY(iconPath(iconId).isEmpty());
        QVERIFY(iconSizes(iconId).isEmpty());
    } else {
        QVERIFY(iconPath(iconId, iconSize).isEmpty());
    }
    QVERIFY(loadIconResource(iconId, iconSize).isNull());
    QVERIFY(bitmapPath(bitmapId).isEmpty());
    QVERIFY(loadBitmapResource(bitmapId).isNull());
}

void TestResources::colourKey_data() {
    QTest::addColumn<QImage>("source");
    QTest::addColumn<uint>("key");
    QTest::addColumn<QList<int>>("alphas");

    auto row = [](QImage::Format format, const QList<QRgb>& pixels) {
        QImage image(int(pixels.size()), 1, QImage::Format_ARGB32);
        for (int x = 0; x < pixels.size(); ++x)
            image.setPixel(x, 0, pixels[x]);
        return image.convertToFormat(format);
    };

    QTest::newRow("rgb32, only exact magenta")
        << row(QImage::Format_RGB32,
               {kMagenta, 0xFFFE00FF, 0xFFFF01FF, 0xFFFF00FE, 0xFF000000, 0xFFFFFFFF, kMagenta})
        << uint(kColourKey) << QList<int>{0, 255, 255, 255, 255, 255, 0};
    QTest::newRow("argb32 keeps other alphas")
        << row(QImage::Format_ARGB32, {0x80FF00FF, 0x80204060, 0x00000000, 0xFF3B82C4})
        << uint(kColourKey) << QList<int>{0, 0x80, 0, 255};
    QTest::newRow("premultiplied source")
        << row(QImage::Format_ARGB32_Premultiplied, {kMagenta, 0xFF102030, 0x40FFFFFF})
        << uint(kColourKey) << QList<int>{0, 255, 0x40};
    QTest::newRow("indexed palette")
        << row(QImage::Format_Indexed8, {kMagenta, 0xFF3B82C4, kMagenta, 0xFFFFFFFF})
        << uint(kColourKey) << QList<int>{0, 255, 0, 255};
    QTest::newRow("rgb888") << row(QImage::Format_RGB888, {0xFF00FF00, kMagenta, 0xFF800080})
                            << uint(kColourKey) << QList<int>{255, 0, 255};
    QTest::newRow("rgb16") << row(QImage::Format_RGB16, {kMagenta, 0xFF000000, 0xFFFFFFFF})
                           << uint(kColourKey) << QList<int>{0, 255, 255};
    QTest::newRow("black key leaves magenta opaque")
        << row(QImage::Format_RGB32, {0xFF000000, kMagenta, 0xFF010101}) << uint(0x000000)
        << QList<int>{0, 255, 255};
    QTest::newRow("alpha bits of the key ignored")
        << row(QImage::Format_RGB32, {kMagenta, 0xFF00FF00}) << uint(0x12FF00FF)
        << QList<int>{0, 255};
    QTest::newRow("grayscale white key")
        << row(QImage::Format_Grayscale8, {0xFFFFFFFF, 0xFF808080, 0xFFFEFEFE}) << uint(0xFFFFFF)
        << QList<int>{0, 255, 255};
}

void TestResources::colourKey() {
    QFETCH(QImage, source);
    QFETCH(uint, key);
    QFETCH(QList<int>, alphas);

    const QImage before = source.copy();
    const QImage keyed = withColourKey(source, QRgb(key));
    QCOMPARE(keyed.size(), source.size());
    QVERIFY(keyed.hasAlphaChannel());
    QCOMPARE(source, before); // the caller's picture is left alone

    // Compared unpremultiplied, as pixel() hands premultiplied formats back raw.
    const QImage plainIn = source.convertToFormat(QImage::Format_ARGB32);
    const QImage plainOut = keyed.convertToFormat(QImage::Format_ARGB32);
    for (int x = 0; x < source.width(); ++x) {
        const QRgb in = plainIn.pixel(x, 0);
        const QRgb out = plainOut.pixel(x, 0);
        QCOMPARE(qAlpha(out), alphas[x]);
        if (alphas[x] == 255) {
            QCOMPARE(out & RGB_MASK, in & RGB_MASK);
        } else if (alphas[x] > 0) {
            // Half-transparent pixels go through premultiplication; their
            // colour survives within rounding.
            QVERIFY(qAbs(qRed(out) - qRed(in)) <= 2);
            QVERIFY(qAbs(qGreen(out) - qGreen(in)) <= 2);
            QVERIFY(qAbs(qBlue(out) - qBlue(in)) <= 2);
        }
    }
}

void TestResources::colourKeyOfNullImage() {
    QVERIFY(withColourKey(QImage()).isNull());
}

void TestResources::unlinkedPicturesLoadAsNull() {
    // A program built on the core library alone has the numbers but not the
    // files; loading then yields nothing to draw rather than a failure.
    QVERIFY(!loadBitmapResource(kBitmapNoRecipient).isNull());
    Q_CLEANUP_RESOURCE(resources);
    const bool gone = loadBitmapResource(kBitmapNoRecipient).isNull() &&
                      loadIconResource(kIconApp).isNull() && !iconPath(kIconApp).isEmpty();
    Q_INIT_RESOURCE(resources);
    QVERIFY(gone);
    QVERIFY(!loadBitmapResource(kBitmapNoRecipient).isNull());
}

void TestResources::contactSheet() {
    // Every picture, keyed and enlarged four times on grey, for a person to
    // look at: icons at each size in the first rows, bitmaps below.
    constexpr int kScale = 4;
    constexpr int kGap = 16;
    QList<QList<QImage>> rows(3);
    for (int id : {kIconApp, kIconAlert, kIconReady, kIconNoRecording, kIconCountingDown,
                   kIconRecording, kIconInboxTab, kIconOutboxTab, kIconSentTab, kIconContactsTab}) {
        for (int size : iconSizes(id))
            rows[size == 16 ? 1 : 0].append(loadIconResource(id, size));
    }
    for (int id :
         {kBitmapOneContact, kBitmapSeveralContacts, kBitmapNoRecipient, kBitmapDefaultContact})
        rows[2].append(withColourKey(loadBitmapResource(id)));

    int width = 0;
    int height = kGap;
    for (const QList<QImage>& row : rows) {
        int rowWidth = kGap;
        int rowHeight = 0;
        for (const QImage& image : row) {
            QVERIFY(!image.isNull());
            rowWidth += image.width() * kScale + kGap;
            rowHeight = qMax(rowHeight, image.height() * kScale);
        }
        width = qMax(width, rowWidth);
        height += rowHeight + kGap;
    }

    QImage sheet(width, height, QImage::Format_RGB32);
    sheet.fill(kSheetGrey);
    QPainter painter(&sheet);
    int y = kGap;
    for (const QList<QImage>& row : rows) {
        int x = kGap;
        int rowHeight = 0;
        for (const QImage& image : row) {
            painter.drawImage(QRect(x, y, image.width() * kScale, image.height() * kScale), image);
            x += image.width() * kScale + kGap;
            rowHeight = qMax(rowHeight, image.height() * kScale);
        }
        y += rowHeight + kGap;
    }
    painter.end();

    // The first picture is the app icon at 32: its corner shows the grey
    // through, its middle does not.
    QCOMPARE(sheet.pixel(kGap + 1, kGap + 1), kSheetGrey);
    QVERIFY(sheet.pixel(kGap + 16 * kScale, kGap + 16 * kScale) != kSheetGrey);
    int pink = 0;
    for (int py = 0; py < sheet.height(); ++py) {
        const auto* line = reinterpret_cast<const QRgb*>(sheet.constScanLine(py));
        for (int px = 0; px < sheet.width(); ++px)
            pink += isMagenta(line[px]) || isNearMagenta(line[px]) ? 1 : 0;
    }
    QCOMPARE(pink, 0);

    const QString path = QDir::current().filePath(QStringLiteral("resources-contact-sheet.png"));
    QVERIFY(sheet.save(path));
    qInfo("contact sheet: %s", qPrintable(path));
}

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
