#include "store/lists/inboxlist.h"

#include "app/appfonts.h"
#include "platform/filestatus.h"
#include "platform/messagebox.h"
#include "platform/popupmenu.h"
#include "platform/savefiledialog.h"
#include "store/dialogs/addcontact.h"
#include "store/listdate.h"
#include "store/listorder.h"
#include "store/storenames.h"

#include <QHeaderView>
#include <QMenu>
#include <QPainter>

CInBoxList::CInBoxList(QObject* parentWindow, QWidget* parent)
    : CFolderList(Folder::Inbox, QStringLiteral("From"), parentWindow, parent) {
    setObjectName(QStringLiteral("inboxList"));
    header()->setSectionsClickable(true);
    connect(header(), &QHeaderView::sectionClicked, this, &CInBoxList::OnColumnClick);
}

void CInBoxList::afterFill() {
    m_nSortMode = kSortByDate;
    sortRows();
}

void CInBoxList::OnColumnClick() {
    m_nSortMode = nextInboxSortMode(m_nSortMode);
    sortRows();
}

void CInBoxList::sortRows() {
    const MessageStore messages = store();
    const QString folder = messages.folderPath(Folder::Inbox) + QLatin1Char('/');
    QList<InboxSortKey> keys;
    keys.reserve(count());
    for (const FolderRow& row : rowModel()->rows()) {
        InboxSortKey key{row.text, std::nullopt};
        // Date order reads each message's own file, so notes.txt sorts by
        // its own date even though its row looks for notes.wmv.
        qint64 date = 0;
        if (m_nSortMode == kSortByDate && messages.fileStatus().GetDate(folder + row.text, date))
            key.date = date;
        keys.append(std::move(key));
    }
    QuietChanges quiet(this);
    rowModel()->reorder(inboxOrder(keys, m_nSortMode));
    viewport()->update();
}

void CInBoxList::fillContextMenu(QMenu& menu, int selected) {
    addCommand(menu, QStringLiteral("Delete"), kCommandDelete)->setEnabled(selected > 0);
    addCommand(menu, QStringLiteral("Save As..."), kCommandSaveAs)->setEnabled(selected == 1);
    addCommand(menu, QStringLiteral("Add To Contacts..."), kCommandAddToContacts)
        ->setEnabled(selected == 1);
    menu.addSeparator();
    addCommand(menu, QStringLiteral("Send/Receive"), kCommandSendReceive);
}

void CInBoxList::OnCommand(int command) {
    switch (command) {
    case kCommandDelete:
        DeleteSelected();
        break;
    case kCommandSaveAs:
        SaveSelectedAs();
        break;
    case kCommandSendReceive:
        requestSendReceive();
        break;
    case kCommandAddToContacts:
        AddSenderToContacts();
        break;
    default:
        break;
    }
}

void CInBoxList::SaveSelectedAs() {
    const int row = firstSelectedRow();
    if (row < 0)
        return;
    const QString name = textAt(row);
    SaveFileRequest request;
    request.filter = QStringLiteral("Video (*.wmv)");
    request.defaultSuffix = QStringLiteral("wmv");
    const QString destination = askSaveFileName(this, request);
    if (!destination.isEmpty())
        store().saveCopy(name, destination);
}

void CInBoxList::AddSenderToContacts() {
    const int row = firstSelectedRow();
    if (row < 0)
        return;
    CAddContact dialog(this);
    dialog.m_strEmail = firstField(textAt(row));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString caption = QStringLiteral("Clipnote");
    switch (store().contacts().addIfNew(dialog.m_strEmail, dialog.m_strName)) {
    case ContactStore::AddResult::AlreadyExists:
        showMessageBox(this, QStringLiteral("Contact already exists!"), caption,
                       QMessageBox::Warning);
        break;
    case ContactStore::AddResult::Added:
        postUpdateCounts(int(Folder::Contacts));
        showMessageBox(this, QStringLiteral("Contact added!"), caption, QMessageBox::Information);
        break;
    case ContactStore::AddResult::Failed:
        break;
    }
}

void CInBoxList::DrawItem(QPainter& painter, const QRect& item, int row, bool selected) const {
    if (row < 0 || row >= count())
        return;
    QRect textArea = item.adjusted(kPictureColumn, 0, 0, 0);
    fillTextArea(painter, textArea, selected);
    // Sender and date are black on the highlight too; only unread ones are
    // blue.
    QColor colour(Qt::black);
    const MessageStore messages = store();
    const QString text = textAt(row);
    QString date;
    FileState state;
    if (messages.fileStatus().GetStatus(messages.inboxVideoPath(text), state)) {
        if (!state.read)
            colour = unreadColour();
        date = listDateText(state.date);
    }
    drawPicture(painter, item, messages.thumbnailPath(Folder::Inbox, text));
    const AppFonts& fonts = appFonts();
    drawLine(painter, textArea, inboxDrawnSender(text), fonts.thin10, colour, Qt::AlignTop);
    drawLine(painter, textArea, date, fonts.thin9, dateColour(), Qt::AlignBottom);
}
