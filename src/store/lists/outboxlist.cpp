#include "store/lists/outboxlist.h"

#include "app/appfonts.h"
#include "platform/popupmenu.h"
#include "store/storenames.h"

#include <QMenu>
#include <QPainter>

namespace {
const QColor kProblemColour(0xC0, 0x00, 0x00);
}

COutBoxList::COutBoxList(QObject* parentWindow, QWidget* parent)
    : CFolderList(Folder::Outbox, QStringLiteral("To"), parentWindow, parent) {
    setObjectName(QStringLiteral("outboxList"));
}

QList<FolderRow> COutBoxList::loadRows() {
    QList<FolderRow> rows = CFolderList::loadRows();
    const QHash<QString, QString> refused = store().sendFailures().all();
    if (!refused.isEmpty())
        for (FolderRow& row : rows)
            row.problem = refused.value(row.text);
    return rows;
}

QString COutBoxList::problemAt(int row) const {
    return row >= 0 && row < count() ? rowModel()->row(row).problem : QString();
}

void COutBoxList::RetrySelected() {
    bool retried = false;
    const SendFailures failures = store().sendFailures();
    for (const int row : selectedRowNumbers()) {
        if (problemAt(row).isEmpty())
            continue;
        if (failures.clear(textAt(row))) {
            rowModel()->setProblem(row, QString());
            retried = true;
        }
    }
    if (retried) {
        viewport()->update();
        requestSendReceive();
    }
}

void COutBoxList::afterDelete() {
    postUpdateCounts(int(Folder::Outbox));
}

void COutBoxList::fillContextMenu(QMenu& menu, int selected) {
    bool anyRefused = false;
    for (const int row : selectedRowNumbers())
        anyRefused = anyRefused || !problemAt(row).isEmpty();
    if (anyRefused)
        addCommand(menu, QStringLiteral("Retry now"), kCommandRetryNow);
    addCommand(menu, QStringLiteral("Delete"), kCommandDelete)->setEnabled(selected > 0);
    menu.addSeparator();
    addCommand(menu, QStringLiteral("Send/Receive"), kCommandSendReceive);
}

void COutBoxList::OnCommand(int command) {
    if (command == kCommandDelete)
        DeleteSelected();
    else if (command == kCommandSendReceive)
        requestSendReceive();
    else if (command == kCommandRetryNow)
        RetrySelected();
}

void COutBoxList::DrawItem(QPainter& painter, const QRect& item, int row, bool selected) const {
    const QString problem = problemAt(row);
    if (problem.isEmpty()) {
        drawRecipientRow(painter, item, row, selected);
        return;
    }
    QRect textArea = item.adjusted(kPictureColumn, 0, 0, 0);
    const QColor colour = fillTextArea(painter, textArea, selected);
    const QString text = textAt(row);
    const AppFonts& fonts = appFonts();
    drawLine(painter, textArea, firstField(text), fonts.thin10, colour, Qt::AlignTop);
    drawLine(painter, textArea, QStringLiteral("Not sent: ") + problem, fonts.thin9,
             selected ? colour : kProblemColour, Qt::AlignBottom);
    drawPicture(painter, item, store().thumbnailPath(Folder::Outbox, text));
}
