#include "store/lists/mytabs.h"

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
    // The tabs hang below the list they choose.
    setShape(QTabBar::RoundedSouth);
    setDrawBase(true);
    // Rows take the place of scrolling, and the labels are fitted when drawn.
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
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

QString CMyTabs::drawnLabel(int tab) const {
    const QFontMetrics metrics(font());
    const int room = tabRect(tab).width() - kLabelLeft - kLabelRightMargin;
    const QString whole = label(tab);
    if (metrics.horizontalAdvance(whole) <= room)
        return whole;
    // The number matters more than the end of a name everyone knows.
    const QString number = count(tab) != 0 ? QStringLiteral(" (%1)").arg(count(tab)) : QString();
    const int nameRoom = qMax(0, room - metrics.horizontalAdvance(number));
    return metrics.elidedText(tabText(tab), Qt::ElideRight, nameRoom) + number;
}

QColor CMyTabs::labelColour(int tab) const {
    // Waiting messages in the Inbox or Outbox stand out even on the current
    // tab; the other counts keep the plain colour.
    if (count(tab) != 0 && (tab == 0 || tab == 1))
        return QColor(kCountColour);
    return QColor(tab == currentIndex() ? kSelectedColour : kIdleColour);
}

int CMyTabs::labelWidth(int index) const {
    return kLabelLeft + QFontMetrics(font()).horizontalAdvance(label(index)) + kLabelRightMargin;
}

int CMyTabs::rowHeight() const {
    return qMax(kMinimumTabHeight, QFontMetrics(font()).height() + 10);
}

QSize CMyTabs::tabSizeHint(int index) const {
    return QSize(qMax(kMinimumTabWidth, labelWidth(index)), rowHeight());
}

QList<QRect> CMyTabs::tabRects(int barWidth) const {
    const int n = count();
    const int height = rowHeight();
    QList<QRect> rects;
    int oneRow = 0;
    for (int i = 0; i < n; ++i)
        oneRow += tabSizeHint(i).width();
    if (oneRow <= barWidth) {
        for (int i = 0, x = 0; i < n; x += rects.constLast().width(), ++i)
            rects.append(QRect(x, 0, tabSizeHint(i).width(), height));
        return rects;
    }
    // Too narrow: the tabs drop their minimum width and wrap into rows by the
    // width of their names alone, so that the number of rows, and with it the
    // bar's height, does not change with the counts. Each row then fills the
    // bar: room beyond the names goes first to whole labels, counts included.
    const QFontMetrics metrics(font());
    auto nameWidth = [&](int i) {
        return kLabelLeft + metrics.horizontalAdvance(tabText(i)) + kLabelRightMargin;
    };
    for (int first = 0, top = 0; first < n; top += height) {
        int last = first;
        int names = nameWidth(first);
        while (last + 1 < n && names + nameWidth(last + 1) <= barWidth)
            names += nameWidth(++last);
        int labels = 0;
        for (int i = first; i <= last; ++i)
            labels += labelWidth(i);
        const int tabs = last - first + 1;
        for (int i = first, x = 0; i <= last; ++i) {
            int width = barWidth - x; // the last tab ends at the bar's edge
            if (i < last && labels <= barWidth)
                width = labelWidth(i) + (barWidth - labels) / tabs;
            else if (i < last)
                width = nameWidth(i) + (barWidth - names) * (labelWidth(i) - nameWidth(i)) /
                                           qMax(1, labels - names);
            rects.append(QRect(x, top, width, height));
            x += width;
        }
        first = last + 1;
    }
    return rects;
}

QRect CMyTabs::tabRect(int index) const {
    return tabRects(width()).value(index);
}

int CMyTabs::tabAt(const QPoint& position) const {
    const QList<QRect> rects = tabRects(width());
    for (int i = 0; i < rects.size(); ++i) {
        if (rects[i].contains(position))
            return i;
    }
    return -1;
}

int CMyTabs::heightForWidth(int width) const {
    const QList<QRect> rects = tabRects(width);
    return rects.isEmpty() ? rowHeight() : rects.constLast().bottom() + 1;
}

QSize CMyTabs::sizeHint() const {
    int oneRow = 0;
    for (int i = 0; i < count(); ++i)
        oneRow += tabSizeHint(i).width();
    // A parent that places the bar by hand reads the height here, after the
    // bar has been given a width.
    return QSize(oneRow, heightForWidth(testAttribute(Qt::WA_Resized) ? width() : oneRow));
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
        // The base runs along the top edge, where the tabs meet the list.
        base.rect =
            QRect(0, 0, width(), style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this));
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
    const QRect r = tabRect(index);
    option.state.setFlag(QStyle::State_MouseOver, index == m_hoverTab);
    // The frame comes from the style; everything inside it is drawn here.
    option.text.clear();
    option.icon = QIcon();
    // Styles turn bottom tabs over about a row at the bar's top, so every
    // row's shapes are drawn there and moved down into place. A current tab
    // may paint well beyond its edge towards the list, over the row above.
    option.rect = r.translated(0, -r.top());
    painter.save();
    painter.translate(0, r.top());
    painter.setClipRect(option.rect, Qt::IntersectClip);
    style()->drawControl(QStyle::CE_TabBarTabShape, &option, &painter, this);
    painter.restore();

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
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     drawnLabel(index));

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
    // QTabBar would look for the tab in its single row.
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const int tab = tabAt(event->position().toPoint());
    if (tab >= 0) {
        m_userChanging = true;
        setCurrentIndex(tab);
        m_userChanging = false;
    }
    event->accept();
}

void CMyTabs::keyPressEvent(QKeyEvent* event) {
    m_userChanging = true;
    QTabBar::keyPressEvent(event);
    m_userChanging = false;
}

bool CMyTabs::event(QEvent* event) {
    // Hover follows the tabs as laid out here.
    const QEvent::Type type = event->type();
    if (type == QEvent::HoverEnter || type == QEvent::HoverMove || type == QEvent::HoverLeave) {
        const int tab = type == QEvent::HoverLeave
                            ? -1
                            : tabAt(static_cast<QHoverEvent*>(event)->position().toPoint());
        if (tab != m_hoverTab) {
            m_hoverTab = tab;
            update();
        }
    }
    return QTabBar::event(event);
}

void CMyTabs::wheelEvent(QWheelEvent* event) {
    // Turning the wheel over the tabs does not change the folder.
    event->ignore();
}

void CMyTabs::onCurrentChanged(int index) {
    // QTabBar repaints where it thinks the tabs are; the rows are elsewhere.
    update();
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
