#include "store/lists/contactlist.h"

#include "app/appfonts.h"
#include "app/clientcore.h"
#include "platform/popupmenu.h"
#include "platform/resources.h"
#include "store/dialogs/addcontact.h"
#include "store/listorder.h"

#include <QMenu>
#include <QPainter>

#include <algorithm>

CContactList::CContactList(QObject* parentWindow, QWidget* parent)
    : CFolderList(Folder::Contacts, QStringLiteral("Contact"), parentWindow, parent) {
    setObjectName(QStringLiteral("contactList"));
}

QString CContactList::userId() const {
    if (!m_userId.isEmpty())
        return m_userId;
    const ClientCore* core = ClientCore::instance();
    return core ? core->m_strUserId : QString();
}

QString CContactList::userIdAt(int row) const {
    return row >= 0 && row < count() ? rowModel()->row(row).userId : QString();
}

QStringList CContactList::selectedUserIds() const {
    QStringList ids;
    for (int row : selectedRowNumbers()) {
        if (rowModel()->row(row).hasUserId)
            ids.append(userIdAt(row));
    }
    return ids;
}

QList<FolderRow> CContactList::loadRows() {
    QList<Contact> contacts = store().contacts().listOrCreateBuiltIns(userId());
    // Each contact is inserted at the top as the folder is read, so among
    // equal names the last file read comes first.
    std::reverse(contacts.begin(), contacts.end());
    QList<FolderRow> rows;
    for (const Contact& contact : contacts)
        rows.append({contact.displayName, contact.id, true, {}});
    std::stable_sort(rows.begin(), rows.end(), [](const FolderRow& a, const FolderRow& b) {
        return listTextLess(a.text, b.text);
    });
    return rows;
}

void CContactList::deleteRowFiles(const FolderRow& row) {
    store().contacts().remove(row.userId);
}

void CContactList::afterDelete() {
    postUpdateCounts(int(Folder::Contacts));
}

void CContactList::fillContextMenu(QMenu& menu, int selected) {
    addCommand(menu, QStringLiteral("Add..."), kCommandAdd);
    addCommand(menu, QStringLiteral("Delete..."), kCommandDelete)->setEnabled(selected > 0);
    menu.addSeparator();
    addCommand(menu, QStringLiteral("Properties..."), kCommandProperties)->setEnabled(selected > 0);
}

void CContactList::OnCommand(int command) {
    if (command == kCommandAdd)
        AddContact();
    else if (command == kCommandDelete)
        DeleteSelected();
    // "Properties..." has nothing to show.
}

void CContactList::AddContact() {
    if (!hasUserFolder())
        return;
    CAddContact dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!store().contacts().add(dialog.m_strEmail, dialog.m_strName))
        return;
    // An ID that was already a contact keeps its old row too until the next
    // reload.
    const int row = rowModel()->insertSorted({dialog.m_strName, dialog.m_strEmail, true, {}});
    const QModelIndex index = rowModel()->index(row, 0);
    selectionModel()->clearSelection();
    selectionModel()->setCurrentIndex(index,
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    postUpdateCounts(int(Folder::Contacts));
}

const QImage& CContactList::defaultPicture() const {
    const qreal ratio = devicePixelRatioF();
    if (m_defaultPicture.isNull() || m_defaultPicture.devicePixelRatio() != ratio)
        m_defaultPicture = pictureSized(loadBitmapResource(kBitmapDefaultContact));
    return m_defaultPicture;
}

void CContactList::DrawItem(QPainter& painter, const QRect& item, int row, bool selected) const {
    if (row < 0 || row >= count())
        return;
    QRect textArea = item.adjusted(kPictureColumn, 0, 0, 0);
    const QColor colour = fillTextArea(painter, textArea, selected);
    const FolderRow& contact = rowModel()->row(row);
    const AppFonts& fonts = appFonts();
    drawLine(painter, textArea, contact.text, fonts.bold11, colour, Qt::AlignTop);
    if (!contact.hasUserId)
        return;
    drawLine(painter, textArea, contact.userId, fonts.thin10, colour, Qt::AlignBottom);
    drawPicture(painter, item, store().thumbnailPath(Folder::Contacts, contact.userId),
                defaultPicture());
}
