#include "notify/notification.h"
#include "platform/helpers.h"
#include "platform/messages.h"
#include "postedevents.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using Owner = PostedEventLog<QObject>;

// Records the popup's geometry every time it moves or changes size.
class GeometryLog : public QObject {
public:
    QList<QRect> steps;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move) {
            const QRect g = static_cast<QWidget*>(watched)->geometry();
            if (steps.isEmpty() || steps.last() != g)
                steps.append(g);
        }
        return false;
    }
};

bool closeTo(QRgb a, QRgb b, int tolerance) {
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

} // namespace

class TestNotification : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void risesFromTheBottomRightCorner();
    void twoPopupsStackExactly();
    void senderLine_data();
    void senderLine();
    void thumbnail_data();
    void thumbnail();
    void closeBox();
    void clicks_data();
    void clicks();
    void clickAfterMainWindowIsGone();
    void closesItselfAfterStanding();

private:
    // A popup for `name`, grown to its full height.
    CNotification* grownPopup(const QString& name);
    static QImage grab(QWidget* widget) {
        return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    TestEnvironment m_env;
    QString m_folder;
    Owner m_owner;
    QList<QPointer<CNotification>> m_popups;
};

void TestNotification::initTestCase() {
    // 10 ms growth steps become 1 ms, the 15 s stand 300 ms.
    setTimerScale(0.02);
    m_folder = m_env.makeFolder(u"alice@example.org"_s);
    QDir().mkpath(m_folder + u"/inbox"_s);
}

void TestNotification::cleanup() {
    for (const QPointer<CNotification>& popup : std::as_const(m_popups))
        delete popup.data();
    m_popups.clear();
    m_owner.posted.clear();
}

CNotification* TestNotification::grownPopup(const QString& name) {
    CNotification* popup = CNotification::showFor(&m_owner, m_folder, name);
    m_popups.append(popup);
    if (!QTest::qWaitFor([popup] { return popup->standing(); }, 5000))
        return nullptr;
    return popup;
}

void TestNotification::risesFromTheBottomRightCorner() {
    const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect start(free.right() + 1 - CNotification::kWidth - 10, free.bottom() + 1,
                      CNotification::kWidth, 5);
    QCOMPARE(CNotification::startGeometry(), start);

    GeometryLog log;
    auto* popup = new CNotification(u"bob;200.wmv"_s, m_folder);
    m_popups.append(popup);
    QCOMPARE(popup->geometry(), start);
    QVERIFY(popup->growing());
    popup->installEventFilter(&log);
    popup->show();
    QTRY_VERIFY(popup->standing());
    QVERIFY(!popup->growing());
    QVERIFY(popup->isVisible());

    // 3 pixels every step, bottom edge and width fixed, from 5 up to 59.
    QList<int> heights;
    for (const QRect& g : std::as_const(log.steps)) {
        QCOMPARE(g.left(), start.left());
        QCOMPARE(g.width(), CNotification::kWidth);
        QCOMPARE(g.top() + g.height(), start.top() + 5);
        if (heights.isEmpty() || heights.last() != g.height())
            heights.append(g.height());
    }
    QList<int> expected;
    for (int h = 8; h < 60; h += 3)
        expected.append(h);
    if (!heights.isEmpty() && heights.first() == 5)
        heights.removeFirst();
    QCOMPARE(heights, expected);
    QCOMPARE(popup->height(), 59);
    QCOMPARE(popup->y(), free.bottom() + 1 - 54);
    QTest::qWait(20);
    QCOMPARE(popup->height(), 59);
}

void TestNotification::twoPopupsStackExactly() {
    CNotification* first = grownPopup(u"bob;1.wmv"_s);
    CNotification* second = grownPopup(u"carol;2.wmv"_s);
    QVERIFY(first && second);
    QCOMPARE(first->geometry(), second->geometry());
    QVERIFY(first->isVisible() && second->isVisible());
    QVERIFY(first->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(first->windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(first->windowType(), Qt::Tool);
}

void TestNotification::senderLine_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("sender");
    QTest::newRow("sender and number") << u"alice;456"_s << u"alice"_s;
    QTest::newRow("inbox name") << u"bob;200.wmv"_s << u"bob"_s;
    QTest::newRow("no semicolon") << u"justaname"_s << u"justaname"_s;
    QTest::newRow("up to the last semicolon") << u"a;b;3"_s << u"a;b"_s;
    QTest::newRow("empty name") << QString() << QString();
    QTest::newRow("nothing before the semicolon") << u";17"_s << QString();
}

void TestNotification::senderLine() {
    QFETCH(QString, name);
    QFETCH(QString, sender);
    auto* popup = new CNotification(name, m_folder);
    m_popups.append(popup);
    QCOMPARE(popup->senderLine(), sender);
    auto* label = popup->findChild<QLabel*>(u"sender"_s);
    QCOMPARE(label->text(), sender);
    auto* heading = popup->findChild<QLabel*>(u"heading"_s);
    QCOMPARE(heading->text(), u"New Messge!"_s);
    // The whole heading shows, left of the close box.
    QVERIFY(heading->width() >= heading->fontMetrics().horizontalAdvance(heading->text()));
    QVERIFY(heading->geometry().right() < popup->closeBoxRect().left() + 1);
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0, 0, 128));
}

void TestNotification::thumbnail_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file"); // empty: no thumbnail filed
    QTest::addColumn<QString>("format");
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<QRgb>("shown");
    const QRgb green = qRgb(20, 160, 40);
    const QRgb background = CNotification::kBackgroundColour;
    QTest::newRow(".wmv becomes .jpg")
        << u"bob;200.wmv"_s << u"bob;200.jpg"_s << u"JPG"_s << green << green;
    QTest::newRow("no .wmv: .jpg appended")
        << u"Carol;300"_s << u"carol;300.jpg"_s << u"JPG"_s << green << green;
    QTest::newRow("missing thumbnail")
        << u"dave;400.wmv"_s << QString() << QString() << green << background;
    QTest::newRow("key colour is transparent")
        << u"erin;500.wmv"_s << u"erin;500.jpg"_s << u"PNG"_s << qRgb(255, 0, 255) << background;
    QTest::newRow("unsafe name") << u"../x;1.wmv"_s << QString() << QString() << green
                                 << background;
}

void TestNotification::thumbnail() {
    QFETCH(QString, name);
    QFETCH(QString, file);
    QFETCH(QString, format);
    QFETCH(QRgb, colour);
    QFETCH(QRgb, shown);
    if (!file.isEmpty()) {
        QImage picture(192, 144, QImage::Format_RGB32);
        picture.fill(colour);
        QVERIFY(picture.save(m_folder + u"/inbox/"_s + file, qPrintable(format)));
    }
    CNotification* popup = grownPopup(name);
    QVERIFY(popup);
    const QImage image = grab(popup);
    const QRect thumb = CNotification::kThumbnailRect.translated(1, 1);
    for (const QPoint& p : {thumb.topLeft(), thumb.bottomRight(), thumb.center()})
        QVERIFY2(closeTo(image.pixel(p), shown, 12),
                 qPrintable(u"at %1,%2: %3"_s.arg(p.x()).arg(p.y()).arg(image.pixel(p), 0, 16)));
    // Just outside the picture's place: background.
    for (const QPoint& p : {thumb.topLeft() - QPoint(1, 1), thumb.bottomRight() + QPoint(1, 1)})
        QVERIFY(closeTo(image.pixel(p), CNotification::kBackgroundColour, 0));
}

void TestNotification::closeBox() {
    CNotification* popup = grownPopup(u"bob;9.wmv"_s);
    QVERIFY(popup);
    const QImage image = grab(popup);
    const int w = popup->clientRect().width();
    // The box: 14 x 14, 2 pixels in from the client area's top-right corner.
    const QRect box = popup->closeBoxRect();
    QCOMPARE(box, QRect(w - 16, 2, 14, 14));
    const QPoint client(1, 1);
    const QRgb red = CNotification::kCloseBoxColour;
    const QRgb white = CNotification::kCrossColour;
    QCOMPARE(image.pixel(box.topLeft() + client) & 0xFFFFFF, red & 0xFFFFFF);
    QCOMPARE(image.pixel(box.bottomRight() + client) & 0xFFFFFF, red & 0xFFFFFF);
    QCOMPARE(image.pixel(box.topRight() + client) & 0xFFFFFF, red & 0xFFFFFF);
    // The cross goes through the middle in white, from corner to corner.
    QCOMPARE(image.pixel(box.topLeft() + QPoint(1, 1) + client) & 0xFFFFFF, white & 0xFFFFFF);
    QCOMPARE(image.pixel(box.topLeft() + QPoint(7, 7) + client) & 0xFFFFFF, white & 0xFFFFFF);
    QCOMPARE(image.pixel(box.topRight() + QPoint(0, 1) + client) & 0xFFFFFF, white & 0xFFFFFF);
    // Outside the box: the pale-yellow face.
    const QRgb face = CNotification::kBackgroundColour & 0xFFFFFF;
    QCOMPARE(image.pixel(box.topLeft() + client - QPoint(1, 0)) & 0xFFFFFF, face);
    QCOMPARE(image.pixel(box.bottomRight() + client + QPoint(1, 1)) & 0xFFFFFF, face);
    QCOMPARE(image.pixel(client + QPoint(w / 2, 50)) & 0xFFFFFF, face);
    // The one-pixel border.
    QCOMPARE(image.pixel(0, 30) & 0xFFFFFF, 0u);
    QCOMPARE(image.pixel(popup->width() - 1, 30) & 0xFFFFFF, 0u);
}

void TestNotification::clicks_data() {
    QTest::addColumn<int>("fromRight"); // client x = client width - fromRight
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("closes");
    QTest::newRow("inside the close zone") << 10 << 5 << true;
    QTest::newRow("zone's top-right pixel") << 1 << 0 << true;
    QTest::newRow("zone's bottom-left pixel") << 13 << 13 << true;
    QTest::newRow("left of the zone") << 15 << 5 << false;
    QTest::newRow("zone's left edge is outside") << 14 << 5 << false;
    QTest::newRow("below the zone") << 10 << 20 << false;
    QTest::newRow("just below the zone, on the drawn box") << 10 << 14 << false;
    QTest::newRow("on the thumbnail") << 140 << 20 << false;
}

void TestNotification::clicks() {
    QFETCH(int, fromRight);
    QFETCH(int, y);
    QFETCH(bool, closes);
    QPointer<CNotification> popup = grownPopup(u"bob;9.wmv"_s);
    QVERIFY(popup);
    const QPoint at(1 + popup->clientRect().width() - fromRight, 1 + y);
    QTest::mouseClick(popup, Qt::LeftButton, {}, at);
    if (closes) {
        // Closed, then released: the popup deletes itself.
        QTRY_VERIFY(popup.isNull());
        QCOMPARE(m_owner.posted.size(), 0);
        return;
    }
    QTRY_COMPARE(m_owner.posted.size(), 1);
    QCOMPARE(m_owner.posted[0].message, int(WM_TRAY_NOTIFY));
    QCOMPARE(m_owner.posted[0].wParam, 1);
    QCOMPARE(m_owner.posted[0].lParam, int(WM_LBUTTONUP));
    QTest::qWait(20);
    QVERIFY(!popup.isNull());
    QVERIFY(popup->isVisible());

    // The right button does neither.
    QTest::mouseClick(popup, Qt::RightButton, {}, QPoint(1 + popup->clientRect().width() - 5, 3));
    QTest::qWait(20);
    QVERIFY(!popup.isNull());
    QCOMPARE(m_owner.posted.size(), 1);
}

void TestNotification::clickAfterMainWindowIsGone() {
    auto* owner = new Owner;
    QPointer<CNotification> popup = CNotification::showFor(owner, m_folder, u"bob;9.wmv"_s);
    m_popups.append(popup);
    delete owner;
    QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(20, 3));
    QTest::qWait(20);
    QVERIFY(!popup.isNull());
}

void TestNotification::closesItselfAfterStanding() {
    QElapsedTimer clock;
    clock.start();
    QPointer<CNotification> popup = CNotification::showFor(&m_owner, m_folder, u"bob;9.wmv"_s);
    QTRY_VERIFY_WITH_TIMEOUT(popup.isNull(), 30000);
    // Not before the scaled 15 seconds of standing had passed. Counted from
    // the popup's start, which is before it stood: when the test noticed it
    // standing depends on how busy the machine is. The slack is the early
    // firing a coarse timer is allowed.
    const int stand = scaledPeriod(CNotification::kPeriodStandMs);
    QVERIFY2(clock.elapsed() >= stand - stand / 20, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(m_owner.posted.size(), 0);
}

QTEST_MAIN(TestNotification)
#include "tst_notification.moc"
