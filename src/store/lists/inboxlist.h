#pragma once

#include "store/lists/folderlist.h"

// The Inbox list: one row per received message (its Inbox file name), the
// sender and date drawn beside the thumbnail, unread messages in blue. It
// sorts by date, newest first; a click on the header switches to names from
// Z to A and back. Selecting a row plays the message; that is the main
// window's work, told through itemChanged.
class CInBoxList : public CFolderList {
    Q_OBJECT

public:
    enum Command : int {
        kCommandDelete = 32776,
        kCommandSaveAs = 32778,
        kCommandSendReceive = 32779,
        kCommandAddToContacts = 32789,
    };
    // Unread senders are drawn in blue 200, the date in grey.
    static QColor unreadColour() { return QColor(0, 0, 200); }
    static QColor dateColour() { return QColor(0x80, 0x80, 0x80); }

    explicit CInBoxList(QObject* parentWindow = nullptr, QWidget* parent = nullptr);

    // 0: by date, newest first; 1: by name, Z to A.
    int sortMode() const { return m_nSortMode; }

public Q_SLOTS:
    // Copies the first selected message to a file the user picks.
    void SaveSelectedAs();
    // Offers the first selected message's sender as a new contact.
    void AddSenderToContacts();
    // What a header click does: the other order.
    void OnColumnClick();

protected:
    void afterFill() override;
    void fillContextMenu(QMenu& menu, int selected) override;
    void OnCommand(int command) override;
    void DrawItem(QPainter& painter, const QRect& item, int row, bool selected) const override;

private:
    void sortRows();

    int m_nSortMode = 0;
};
