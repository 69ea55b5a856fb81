#pragma once

#include "store/folderlist.h"

// The Outbox list: one row per message waiting to be sent (R;U;N), drawn as
// its recipient beside the thumbnail. Deleting a waiting message means it is
// never sent.
class COutBoxList : public CFolderList {
    Q_OBJECT

public:
    enum Command : int {
        kCommandDelete = 32775,
        kCommandSendReceive = 32781,
    };

    explicit COutBoxList(QObject* parentWindow = nullptr, QWidget* parent = nullptr);

protected:
    void afterDelete() override;
    void fillContextMenu(QMenu& menu, int selected) override;
    void OnCommand(int command) override;
    void DrawItem(QPainter& painter, const QRect& item, int row, bool selected) const override;
};
