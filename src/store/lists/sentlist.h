#pragma once

#include "store/lists/folderlist.h"

// The Sent list: one row per kept copy of a sent message (r;u;n.wmv), drawn
// as its recipient beside the thumbnail. "Resend..." files the kept message
// in the Outbox again for a contact the user picks. The Delete key does
// nothing here; deleting goes through the menu.
class CSentList : public CFolderList {
    Q_OBJECT

public:
    enum Command : int {
        kCommandSendReceive = 32781,
        kCommandResend = 32784,
        kCommandDelete = 32785,
    };

    explicit CSentList(QObject* parentWindow = nullptr, QWidget* parent = nullptr);

public Q_SLOTS:
    // Sends the first selected message again to the contact picked in the
    // Resend To dialog.
    void ResendSelected();

protected:
    void afterDelete() override;
    bool handlesDeleteKey() const override { return false; }
    void fillContextMenu(QMenu& menu, int selected) override;
    void OnCommand(int command) override;
    void DrawItem(QPainter& painter, const QRect& item, int row, bool selected) const override;
};
