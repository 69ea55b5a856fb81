#include "store/outboxlist.h"

#include "platform/popupmenu.h"

#include <QMenu>

COutBoxList::COutBoxList(QObject* parentWindow, QWidget* parent)
    : CFolderList(Folder::Outbox, QStringLiteral("To"), parentWindow, parent) {
    setObjectName(QStringLiteral("outboxList"));
}

void COutBoxList::afterDelete() {
    postUpdateCounts(int(Folder::Outbox));
}

void COutBoxList::fillContextMenu(QMenu& menu, int selected) {
    addCommand(menu, QStringLiteral("Delete"), kCommandDelete)->setEnabled(selected > 0);
    menu.addSeparator();
    addCommand(menu, QStringLiteral("Send/Receive"), kCommandSendReceive);
}

void COutBoxList::OnCommand(int command) {
    if (command == kCommandDelete)
        DeleteSelected();
    else if (command == kCommandSendReceive)
        requestSendReceive();
}

void COutBoxList::DrawItem(QPainter& painter, const QRect& item, int row, bool selected) const {
    drawRecipientRow(painter, item, row, selected);
}
