#pragma once

#include <QColor>
#include <QTabBar>

// The tabs below the four folder lists: Inbox, Outbox, Sent and Contacts, in
// folder order. Each tab draws its own icon, its name and, when the folder's
// count is not 0, the count in brackets. A right click selects the tab under
// the mouse and offers a Send/Receive cycle or a reload of the current list.
//
// The tabs never scroll: when the bar is too narrow for them in one row they
// give up their minimum width and, if that is not enough, wrap into further
// rows, so every tab stays in sight. The bar is then taller; its parent asks
// heightForWidth() for the height at the width it gives it.
class CMyTabs : public QTabBar {
    Q_OBJECT

public:
    // Menu commands of the right-click menu.
    static constexpr int kCommandSendReceive = 32782;
    static constexpr int kCommandRefresh = 32787;
    // No tab is narrower than this while all four fit in one row.
    static constexpr int kMinimumTabWidth = 90;

    static constexpr QRgb kCountColour = qRgb(0, 0, 200);       // Inbox and Outbox counts
    static constexpr QRgb kIdleColour = qRgb(0x3C, 0x3C, 0x3C); // other tabs
    static constexpr QRgb kSelectedColour = qRgb(0, 0, 0);      // the current tab
    static constexpr QRgb kFrameColour = qRgb(200, 200, 255);   // frame of the current tab

    explicit CMyTabs(QWidget* parent = nullptr);

    // Adds the four folder tabs with their 16 x 16 icons, counts 0.
    void InsertFolderTabs();

    using QTabBar::count;
    // The count a tab shows; 0 hides it. Out-of-range tabs are ignored.
    void setCount(int tab, int value);
    int count(int tab) const;

    // "Inbox (3)", or the name alone while the count is 0.
    QString label(int tab) const;
    // The label as it fits its tab: the name gives way before the count.
    QString drawnLabel(int tab) const;
    QColor labelColour(int tab) const;

    // Where the tabs lie in rows from the top; these hide QTabBar's own,
    // which knows of one row only.
    QRect tabRect(int index) const;
    int tabAt(const QPoint& position) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    // The bar's width with all tabs in one row, and the height it needs at
    // its present width once it has been given one.
    QSize sizeHint() const override;

Q_SIGNALS:
    // The user moved to another tab with the mouse or the keyboard; changes
    // made in code do not emit it.
    void selChange(int tab);
    // A right click made this tab current: the main window shows its folder
    // before the menu opens.
    void folderShownByRightClick(int tab);

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QList<QRect> tabRects(int barWidth) const;
    int labelWidth(int index) const;
    int rowHeight() const;
    void drawItem(QPainter& painter, int index) const;
    void openMenu(const QPoint& globalPosition);
    void onCommand(int command);
    void onCurrentChanged(int index);

    bool m_userChanging = false;
    int m_hoverTab = -1;
};
