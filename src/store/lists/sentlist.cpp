#include "store/lists/sentlist.h"

#include "platform/popupmenu.h"
#include "store/dialogs/resend.h"
#include "store/storenames.h"

#include <QMenu>

CSentList::CSentList(QObject* parentWindow, QWidget* parent)
    : CFolderList(Folder::Sent, QStringLiteral("To"), parentWindow, parent) {
    setObjectName(QStringLiteral("sentList"));
}

void CSentList::afterDelete() {
    postUpdateCounts(int(Folder::Sent));
}

void CSentList::fillContextMenu(QMenu& menu, int selected) {
    addCommand(menu, QStringLiteral("Resend..."), kCommandResend)->setEnabled(selected == 1);
    addCommand(menu, QStringLiteral("Delete"), kCommandDelete)->setEnabled(selected > 0);
    menu.addSeparator();
    addCommand(menu, QStringLiteral("Send/Receive"), kCommandSendReceive);
}

void CSentList::OnCommand(int command) {
    switch (command) {
    case kCommandResend:
        ResendSelected();
        break;
    case kCommandDelete:
        DeleteSelected();
        break;
    case kCommandSendReceive:
        requestSendReceive();
        break;
    default:
        break;
    }
}

void CSentList::ResendSelected() {
    const int row = firstSelectedRow();
    if (row < 0)
        return;
    const QString name = textAt(row);
    const MessageStore messages = store();
    CResend dialog(messages.contacts(), this);
    dialog.m_strTo = firstField(name);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The kept copy stays in Sent; the new Outbox pair waits for the next
    // cycle and shows in the Outbox list at its next reload.
    messages.resend(name, dialog.m_strTo);
    postUpdateCounts(int(Folder::Outbox));
}

void CSentList::DrawItem(QPainter& painter, const QRect& item, int row, bool selected) const {
    drawRecipientRow(painter, item, row, selected);
}
