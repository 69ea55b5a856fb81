#include "app/appfonts.h"
#include "app/clientcore.h"
#include "platform/messages.h"
#include "platform/popupmenu.h"
#include "platform/resources.h"
#include "postedevents.h"
#include "store/lists/mytabs.h"
#include "testenvironment.h"

#include <QAction>
#include <QFontInfo>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

using Host = PostedEventLog<QWidget>;

// Pixels of exactly this colour inside `area` of the grabbed tabs.
int pixelsOf(const QImage& image, const QRect& area, QRgb colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

} // namespace

class TestMyTabs : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void labels_data();
    void labels();
    void labelsKeepCountsOfLongNames();
    void allTabsInSightAtEveryWidth_data();
    void allTabsInSightAtEveryWidth();
    void fontsReadable_data();
    void fontsReadable();
    void selectedTabOffsetAndFrame();
    void userChangesSignalled_data();
    void userChangesSignalled();
    void rightClickCommands_data();
    void rightClickCommands();
    void rightClickBesideTabs();

private:
    QImage grab() const;

    TestEnvironment m_env;
    ClientCore* m_core = nullptr;
    Host* m_host = nullptr;
    CMyTabs* m_tabs = nullptr;
};

void TestMyTabs::initTestCase() {
    m_core = new ClientCore;
}

void TestMyTabs::init() {
    m_core->m_bSendReceiveNow = 0;
    m_host = new Host;
    m_tabs = new CMyTabs(m_host);
    m_tabs->InsertFolderTabs();
    // Unsmoothed text, so every painted glyph pixel has the label's colour.
    QFont font(u"Sans"_s);
    font.setPixelSize(14);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    m_tabs->setFont(font);
    // Wider than its tabs, leaving room beside them, as in the main window.
    m_host->resize(600, 200);
    m_tabs->setGeometry(0, 0, 600, m_tabs->sizeHint().height());
    m_host->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_host));
}

void TestMyTabs::cleanup() {
    setPopupMenuHook({});
    delete m_host;
}

QImage TestMyTabs::grab() const {
    return m_tabs->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void TestMyTabs::labels_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("current");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QRgb>("colour");
    const QRgb blue = CMyTabs::kCountColour;
    const QRgb grey = CMyTabs::kIdleColour;
    const QRgb black = CMyTabs::kSelectedColour;
    QTest::newRow("three unread") << 0 << 3 << 1 << u"Inbox (3)"_s << blue;
    QTest::newRow("three unread, selected") << 0 << 3 << 0 << u"Inbox (3)"_s << blue;
    QTest::newRow("all played") << 0 << 0 << 1 << u"Inbox"_s << grey;
    QTest::newRow("all played, selected") << 0 << 0 << 0 << u"Inbox"_s << black;
    QTest::newRow("two waiting") << 1 << 2 << 3 << u"Outbox (2)"_s << blue;
    QTest::newRow("two sent copies") << 2 << 2 << 0 << u"Sent (2)"_s << grey;
    QTest::newRow("two sent copies, selected") << 2 << 2 << 2 << u"Sent (2)"_s << black;
    QTest::newRow("contacts") << 3 << 5 << 0 << u"Contacts (5)"_s << grey;
    QTest::newRow("contacts, selected") << 3 << 5 << 3 << u"Contacts (5)"_s << black;
}

void TestMyTabs::labels() {
    QFETCH(int, tab);
    QFETCH(int, count);
    QFETCH(int, current);
    QFETCH(QString, label);
    QFETCH(QRgb, colour);
    m_tabs->setCurrentIndex(current);
    m_tabs->setCount(tab, count);
    QCOMPARE(m_tabs->count(tab), count);
    QCOMPARE(m_tabs->label(tab), label);
    QCOMPARE(m_tabs->labelColour(tab), QColor(colour));

    // The label is painted in its colour and in no other of the three.
    const QRect r = m_tabs->tabRect(tab);
    const QRect text(r.left() + 20, r.top() + 6, r.width() - 24, r.height() - 12);
    const QImage image = grab();
    QVERIFY2(pixelsOf(image, text, colour) > 20, "label not drawn in its colour");
    for (QRgb other : {CMyTabs::kCountColour, CMyTabs::kIdleColour, CMyTabs::kSelectedColour}) {
        if (other != colour)
            QCOMPARE(pixelsOf(image, text, other), 0);
    }
}

void TestMyTabs::labelsKeepCountsOfLongNames() {
    QCOMPARE(m_tabs->count(), 4);
    for (int i = 0; i < 4; ++i)
        QVERIFY(m_tabs->tabRect(i).width() >= CMyTabs::kMinimumTabWidth);
    const int before = m_tabs->tabRect(3).width();
    m_tabs->setCount(3, 1234567);
    const QFontMetrics metrics(m_tabs->font());
    QVERIFY(m_tabs->tabRect(3).width() > before);
    QVERIFY(m_tabs->tabRect(3).width() >= 20 + metrics.horizontalAdvance(u"Contacts (1234567)"_s));
    // Tabs that do not exist are left alone.
    m_tabs->setCount(4, 9);
    m_tabs->setCount(-1, 9);
    QCOMPARE(m_tabs->count(4), 0);
    QCOMPARE(m_tabs->count(), 4);
}

void TestMyTabs::allTabsInSightAtEveryWidth_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("inboxCount");
    QTest::addColumn<bool>("inboxWhole"); // the Inbox label fits without shortening
    // The main window gives the tabs its width less 335 pixels.
    QTest::newRow("main window at its minimum") << 500 - 335 << 3 << true;
    QTest::newRow("minimum, long count") << 500 - 335 << 123456 << false;
    QTest::newRow("short of one row at full widths") << 300 << 3 << true;
    QTest::newRow("main window as it opens") << 708 - 335 << 3 << true;
    QTest::newRow("wide") << 1000 << 123456 << true;
}

void TestMyTabs::allTabsInSightAtEveryWidth() {
    QFETCH(int, width);
    QFETCH(int, inboxCount);
    QFETCH(bool, inboxWhole);
    // The main window's font, unsmoothed for counting label pixels.
    QFont font = appFonts().thin10;
    font.setStyleStrategy(QFont::NoAntialias);
    m_tabs->setFont(font);
    m_tabs->setCount(0, inboxCount);
    m_tabs->setCount(3, 5);
    m_tabs->setGeometry(0, 0, width, m_tabs->heightForWidth(width));
    QCOMPARE(m_tabs->sizeHint().height(), m_tabs->height());
    QCOMPARE(m_tabs->shape(), QTabBar::RoundedSouth);
    for (const QToolButton* button : m_tabs->findChildren<QToolButton*>())
        QVERIFY(!button->isVisible());

    const QFontMetrics metrics(m_tabs->font());
    int bottom = 0;
    for (int i = 0; i < 4; ++i) {
        const QRect r = m_tabs->tabRect(i);
        QVERIFY2(m_tabs->rect().contains(r), qPrintable(u"tab %1 out of sight"_s.arg(i)));
        for (int j = 0; j < i; ++j)
            QVERIFY(!r.intersects(m_tabs->tabRect(j)));
        bottom = qMax(bottom, r.bottom() + 1);
        // A count is never shortened away; the name gives way first.
        const QString drawn = m_tabs->drawnLabel(i);
        QVERIFY(metrics.horizontalAdvance(drawn) <= r.width() - 20);
        if (i == 0 && !inboxWhole) {
            QVERIFY(drawn != m_tabs->label(0));
            QVERIFY(drawn.endsWith(u" (%1)"_s.arg(inboxCount)));
        } else {
            QCOMPARE(drawn, m_tabs->label(i));
        }
    }
    QCOMPARE(m_tabs->height(), bottom); // no empty row

    // Every tab takes a click where it is drawn, and the current tab, in
    // whichever row, leaves the other labels readable.
    QSignalSpy changes(m_tabs, &CMyTabs::selChange);
    for (int i : {3, 2, 1, 0}) {
        QCOMPARE(m_tabs->tabAt(m_tabs->tabRect(i).center()), i);
        QTest::mouseClick(m_tabs, Qt::LeftButton, {}, m_tabs->tabRect(i).center());
        QCOMPARE(m_tabs->currentIndex(), i);
        QCOMPARE(changes.takeFirst().first().toInt(), i);
        const QImage image = grab();
        for (int j = 0; j < 4; ++j) {
            const QRect text = m_tabs->tabRect(j).adjusted(20, 0, 0, 0);
            QVERIFY2(pixelsOf(image, text, m_tabs->labelColour(j).rgb()) > 10,
                     qPrintable(u"label %1 hidden while tab %2 is current"_s.arg(j).arg(i)));
        }
    }
}

void TestMyTabs::fontsReadable_data() {
    QTest::addColumn<QFont>("font");
    QTest::addColumn<int>("lightest");
    QTest::addColumn<int>("heaviest");
    const AppFonts& fonts = appFonts();
    // The light fonts come out regular: a thin face is too pale to read.
    QTest::newRow("tabs and list rows") << fonts.thin10 << int(QFont::Normal) << int(QFont::Medium);
    QTest::newRow("dates and popup sender")
        << fonts.thin9 << int(QFont::Normal) << int(QFont::Medium);
    QTest::newRow("the tab bar as made")
        << CMyTabs().font() << int(QFont::Normal) << int(QFont::Medium);
    QTest::newRow("status line") << fonts.bold14 << int(QFont::Bold) << int(QFont::Black);
    QTest::newRow("contacts and popup heading")
        << fonts.bold11 << int(QFont::Bold) << int(QFont::Black);
}

void TestMyTabs::fontsReadable() {
    QFETCH(QFont, font);
    QFETCH(int, lightest);
    QFETCH(int, heaviest);
    // Both the weight asked for and the face the system found for it.
    for (const int weight : {int(font.weight()), QFontInfo(font).weight()}) {
        QVERIFY2(weight >= lightest && weight < heaviest, qPrintable(QString::number(weight)));
    }
}

void TestMyTabs::selectedTabOffsetAndFrame() {
    const QImage icon = loadIconResource(kIconOutboxTab, 16).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!icon.isNull());
    // Whether every opaque icon pixel from (first, first) on shows at origin.
    auto iconAt = [&icon](const QImage& image, const QPoint& origin, int first) {
        int opaque = 0, matching = 0;
        for (int y = first; y < 16; ++y)
            for (int x = first; x < 16; ++x) {
                const QRgb p = icon.pixel(x, y);
                if (qAlpha(p) != 255)
                    continue;
                ++opaque;
                matching += (image.pixel(origin + QPoint(x, y)) & 0xFFFFFF) == (p & 0xFFFFFF);
            }
        return opaque > 20 && matching == opaque;
    };
    const QRect tab = m_tabs->tabRect(1);

    m_tabs->setCurrentIndex(0);
    const QImage idle = grab();
    QVERIFY(iconAt(idle, tab.topLeft() + QPoint(2, 0), 0));
    QCOMPARE(pixelsOf(idle, tab, CMyTabs::kFrameColour), 0);

    m_tabs->setCurrentIndex(1);
    const QImage selected = grab();
    // The frame covers the icon's first rows and columns; the rest is
    // 1 pixel further right and 3 lower.
    QVERIFY(iconAt(selected, tab.topLeft() + QPoint(3, 3), 3));
    QVERIFY(!iconAt(selected, tab.topLeft() + QPoint(2, 0), 3));
    const QRect frame = tab.adjusted(4, 4, -4, -4);
    for (const QRect& edge : {frame, frame.adjusted(1, 1, -1, -1)}) {
        for (const QPoint& p : {edge.topLeft(), edge.topRight(), edge.bottomLeft(),
                                edge.bottomRight(), QPoint(edge.right(), edge.center().y())})
            QCOMPARE(selected.pixel(p) & 0xFFFFFF, CMyTabs::kFrameColour & 0xFFFFFF);
    }
    // Nothing of the frame inside the two pixels it surrounds.
    const QRect inside = frame.adjusted(2, 2, -2, -2);
    QVERIFY((selected.pixel(inside.right(), inside.center().y()) & 0xFFFFFF) !=
            (CMyTabs::kFrameColour & 0xFFFFFF));
}

void TestMyTabs::userChangesSignalled_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("expected"); // -1: no signal
    QTest::newRow("left click") << u"click"_s << 2;
    QTest::newRow("arrow key") << u"key"_s << 1;
    QTest::newRow("set in code") << u"code"_s << -1;
    QTest::newRow("mouse wheel") << u"wheel"_s << -1;
}

void TestMyTabs::userChangesSignalled() {
    QFETCH(QString, how);
    QFETCH(int, expected);
    QSignalSpy changes(m_tabs, &CMyTabs::selChange);
    QSignalSpy rightClicks(m_tabs, &CMyTabs::folderShownByRightClick);
    if (how == u"click"_s) {
        QTest::mouseClick(m_tabs, Qt::LeftButton, {}, m_tabs->tabRect(2).center());
    } else if (how == u"key"_s) {
        m_tabs->setFocus();
        QTest::keyClick(m_tabs, Qt::Key_Right);
    } else if (how == u"code"_s) {
        m_tabs->setCurrentIndex(3);
    } else {
        const QPoint at = m_tabs->tabRect(0).center();
        QWheelEvent wheel(at, m_tabs->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_tabs, &wheel);
        QCOMPARE(m_tabs->currentIndex(), 0);
    }
    QCOMPARE(rightClicks.count(), 0);
    if (expected < 0) {
        QCOMPARE(changes.count(), 0);
    } else {
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes.first().first().toInt(), expected);
        QCOMPARE(m_tabs->currentIndex(), expected);
    }
}

void TestMyTabs::rightClickCommands_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("command");
    QTest::newRow("refresh Contacts while Inbox shown") << 3 << int(CMyTabs::kCommandRefresh);
    QTest::newRow("refresh Sent") << 2 << int(CMyTabs::kCommandRefresh);
    QTest::newRow("send/receive from Outbox") << 1 << int(CMyTabs::kCommandSendReceive);
    QTest::newRow("menu closed unused") << 2 << 0;
}

void TestMyTabs::rightClickCommands() {
    QFETCH(int, tab);
    QFETCH(int, command);
    QSignalSpy shown(m_tabs, &CMyTabs::folderShownByRightClick);
    QSignalSpy changes(m_tabs, &CMyTabs::selChange);
    int menus = 0;
    setPopupMenuHook([&](QMenu& menu) -> QAction* {
        ++menus;
        // The folder is switched before the menu opens.
        [&] {
            QCOMPARE(m_tabs->currentIndex(), tab);
            QCOMPARE(shown.count(), 1);
            QCOMPARE(shown.first().first().toInt(), tab);
            const QList<QAction*> items = menu.actions();
            QCOMPARE(items.size(), 3);
            QCOMPARE(items[0]->text(), u"Send/Receive"_s);
            QCOMPARE(commandOf(items[0]), CMyTabs::kCommandSendReceive);
            QVERIFY(items[1]->isSeparator());
            QCOMPARE(items[2]->text(), u"Refresh (F5)"_s);
            QCOMPARE(commandOf(items[2]), CMyTabs::kCommandRefresh);
        }();
        return command ? findCommand(menu, command) : nullptr;
    });
    QTest::mouseClick(m_tabs, Qt::RightButton, {}, m_tabs->tabRect(tab).center());
    QCOMPARE(menus, 1);
    QCOMPARE(changes.count(), 0);
    QCOMPARE(m_core->m_bSendReceiveNow.load(), command == CMyTabs::kCommandSendReceive ? 1 : 0);
    if (command == CMyTabs::kCommandRefresh) {
        QTRY_COMPARE(m_host->posted.size(), 1);
        QCOMPARE(m_host->posted[0].message, int(WM_REFRESH_LIST));
        QCOMPARE(m_host->posted[0].wParam, 0);
        QCOMPARE(m_host->posted[0].lParam, tab);
    } else {
        // Whatever was posted has arrived once the posted events are sent.
        QCoreApplication::sendPostedEvents();
        QCOMPARE(m_host->posted.size(), 0);
    }
}

void TestMyTabs::rightClickBesideTabs() {
    m_tabs->setCurrentIndex(2);
    const QRect last = m_tabs->tabRect(3);
    const QPoint beside(last.right() + 20, last.center().y());
    QVERIFY(m_tabs->rect().contains(beside));
    QCOMPARE(m_tabs->tabAt(beside), -1);
    QSignalSpy shown(m_tabs, &CMyTabs::folderShownByRightClick);
    setPopupMenuHook([](QMenu& menu) { return findCommand(menu, CMyTabs::kCommandRefresh); });
    QTest::mouseClick(m_tabs, Qt::RightButton, {}, beside);
    QCOMPARE(shown.count(), 0);
    QCOMPARE(m_tabs->currentIndex(), 2);
    QTRY_COMPARE(m_host->posted.size(), 1);
    QCOMPARE(m_host->posted[0].lParam, 2);
}

QTEST_MAIN(TestMyTabs)
#include "tst_mytabs.moc"
