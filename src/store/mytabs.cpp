#include "store/mytabs.h"

#include "app/appfonts.h"
#include "app/clientcore.h"
#include "platform/messages.h"
#include "platform/popupmenu.h"
#include "platform/resources.h"

#include <QCoreApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionTab>
#include <QStylePainter>

namespace {

struct FolderTab {
    const char* name;
    int icon;
};

// Tab index and folder index are the same number.
constexpr FolderTab kFolderTabs[] = {
    {"Inbox", kIconInboxTab},
    {"Outbox", kIconOutboxTab},
    {"Sent", kIconSentTab},
    {"Contacts", kIconContactsTab},
};

constexpr int kIconSize = 16;
constexpr int kIconLeft = 2;   // from the tab's left edge
constexpr int kLabelLeft = 20; // the label starts right of the icon
constexpr int kLabelRightMargin = 8;
constexpr int kMinimumTabHeight = 24;

// A one-pixel outline lying exactly on the edge pixels of `r`.
void drawOutline(QPainter& painter, const QRect& r, const QColor& colour) {
    painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), colour);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), colour);
    painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), colour);
    painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), colour);
}

} // namespace

CMyTabs::CMyTabs(QWidget* parent) : QTabBar(parent) {
    setFont(appFonts().thin10);
    setIconSize(QSize(kIconSize, kIconSize));
    setDrawBase(true);
    // Tabs keep their own widths; the bar does not stretch them to its edge.
    setExpanding(false);
    // The right button has its own menu here; the parent must not add one.
    setContextMenuPolicy(Qt::PreventContextMenu);
    connect(this, &QTabBar::currentChanged, this, &CMyTabs::onCurrentChanged);
}

void CMyTabs::InsertFolderTabs() {
    for (const FolderTab& tab : kFolderTabs) {
        const int index = addTab(QString::fromLatin1(tab.name));
        setTabIcon(index, QIcon(QPixmap::fromImage(loadIconResource(tab.icon, kIconSize))));
        setTabData(index, 0);
    }
}

void CMyTabs::setCount(int tab, int value) {
    if (tab < 0 || tab >= count())
        return;
    if (tabData(tab).toInt() == value)
        return;
    setTabData(tab, value);
    // The label's width follows the count; setting the same text again is
    // the tab bar's public way of laying its tabs out anew.
    setTabText(tab, tabText(tab));
    update();
}

int CMyTabs::count(int tab) const {
    return tab >= 0 && tab < count() ? tabData(tab).toInt() : 0;
}

QString CMyTabs::label(int tab) const {
    const int n = count(tab);
    return n != 0 ? QStringLiteral("%1 (%2)").arg(tabText(tab)).arg(n) : tabText(tab);
}

QColor CMyTabs::labelColour(int tab) const {
    // Waiting messages in the Inbox or Outbox stand out even on the current
    // tab; the other counts keep the plain colour.
    if (count(tab) != 0 && (tab == 0 || tab == 1))
        return QColor(kCountColour);
    return QColor(tab == currentIndex() ? kSelectedColour : kIdleColour);
}

QSize CMyTabs::tabSizeHint(int index) const {
    const QFontMetrics metrics(font());
    const int width = kLabelLeft + metrics.horizontalAdvance(label(index)) + kLabelRightMargin;
    const int height = qMax(kMinimumTabHeight, metrics.height() + 10);
    return QSize(qMax(kMinimumTabWidth, width), height);
}

QSize CMyTabs::minimumTabSizeHint(int index) const {
    return tabSizeHint(index);
}

void CMyTabs::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    if (drawBase()) {
        QStyleOptionTabBarBase base;
        base.initFrom(this);
        base.shape = shape();
        base.documentMode = documentMode();
        base.selectedTabRect = tabRect(currentIndex());
        base.tabBarRect = rect();
        painter.drawPrimitive(QStyle::PE_FrameTabBarBase, base);
    }
    // The current tab last, as its shape overlaps its neighbours.
    for (int i = 0; i < count(); ++i) {
        if (i != currentIndex())
            drawItem(painter, i);
    }
    if (currentIndex() >= 0)
        drawItem(painter, currentIndex());
}

void CMyTabs::drawItem(QPainter& painter, int index) const {
    QStyleOptionTab option;
    initStyleOption(&option, index);
    // The frame comes from the style; everything inside it is drawn here.
    option.text.clear();
    option.icon = QIcon();
    style()->drawControl(QStyle::CE_TabBarTabShape, &option, &painter, this);

    const QRect r = tabRect(index);
    const bool selected = index == currentIndex();
    int x = r.left() + kIconLeft;
    int y = r.top();
    if (selected) {
        x += 1;
        y += 3;
    }
    painter.drawPixmap(x, y, tabIcon(index).pixmap(kIconSize, kIconSize));

    painter.setFont(font());
    painter.setPen(labelColour(index));
    const QRect text(QPoint(r.left() + kLabelLeft, r.top()), r.bottomRight());
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, label(index));

    if (selected) {
        const QRect outer = r.adjusted(4, 4, -4, -4);
        drawOutline(painter, outer, QColor(kFrameColour));
        drawOutline(painter, outer.adjusted(1, 1, -1, -1), QColor(kFrameColour));
    }
}

void CMyTabs::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        const int tab = tabAt(event->position().toPoint());
        if (tab >= 0) {
            // Selecting in code is no user change: the main window is told
            // separately and shows the folder before the menu opens.
            setCurrentIndex(tab);
            emit folderShownByRightClick(tab);
        }
        openMenu(event->globalPosition().toPoint());
        event->accept();
        return;
    }
    m_userChanging = true;
    QTabBar::mousePressEvent(event);
    m_userChanging = false;
}

void CMyTabs::keyPressEvent(QKeyEvent* event) {
    m_userChanging = true;
    QTabBar::keyPressEvent(event);
    m_userChanging = false;
}

void CMyTabs::wheelEvent(QWheelEvent* event) {
    // Turning the wheel over the tabs does not change the folder.
    event->ignore();
}

void CMyTabs::onCurrentChanged(int index) {
    if (m_userChanging)
        emit selChange(index);
}

void CMyTabs::openMenu(const QPoint& globalPosition) {
    QMenu menu(this);
    addCommand(menu, QStringLiteral("Send/Receive"), kCommandSendReceive);
    menu.addSeparator();
    addCommand(menu, QStringLiteral("Refresh (F5)"), kCommandRefresh);
    onCommand(commandOf(execPopupMenu(menu, globalPosition)));
}

void CMyTabs::onCommand(int command) {
    if (command == kCommandSendReceive) {
        if (ClientCore* core = ClientCore::instance())
            core->m_bSendReceiveNow = 1;
    } else if (command == kCommandRefresh) {
        QCoreApplication::postEvent(window(), new PrivateEvent(WM_REFRESH_LIST, 0, currentIndex()));
    }
}
