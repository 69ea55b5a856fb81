#pragma once

#include "store/lists/folderlist.h"

// The Outbox list: one row per message waiting to be sent (R;U;N), drawn as
// its recipient beside the thumbnail. Deleting a waiting message means it is
// never sent. A message the service refused for good shows why under the
// recipient, in red, and as its tooltip; "Retry now" sends it again.
class COutBoxList : public CFolderList {
    Q_OBJECT

public:
    enum Command : int {
        kCommandDelete = 32775,
        kCommandSendReceive = 32781,
        kCommandRetryNow = 32790,
    };

    explicit COutBoxList(QObject* parentWindow = nullptr, QWidget* parent = nullptr);

    // Why a row's message was refused; empty when it waits as usual.
    QString problemAt(int row) const;
    // Forgets the refusals of the selected rows and asks for a cycle now.
    void RetrySelected();

protected:
    QList<FolderRow> loadRows() override;
    void afterDelete() override;
    void fillContextMenu(QMenu& menu, int selected) override;
    void OnCommand(int command) override;
    void DrawItem(QPainter& painter, const QRect& item, int row, bool selected) const override;
};
