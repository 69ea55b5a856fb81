#pragma once

#include "store/lists/folderlist.h"

// The Contacts list: one row per contact, its display name above its user
// ID beside its picture (or the default picture). The rows keep the user ID
// with them; the main window takes the selected ones as recipients. An empty
// Contacts folder gets the two built-in contacts at the next fill.
class CContactList : public CFolderList {
    Q_OBJECT

public:
    enum Command : int {
        kCommandAdd = 32771,
        kCommandDelete = 32772,
        kCommandProperties = 32773,
    };

    explicit CContactList(QObject* parentWindow = nullptr, QWidget* parent = nullptr);

    // The signed-in user, whose file the built-in "Me" becomes. Until set,
    // ClientCore's m_strUserId at each fill.
    void setUserId(const QString& userId) { m_userId = userId; }
    QString userId() const;

    QStringList selectedUserIds() const override;
    // The user ID kept with a row; empty for a row without one.
    QString userIdAt(int row) const;

public Q_SLOTS:
    // Asks for a name and e-mail and creates the contact, replacing the name
    // of an existing one; the new row is selected.
    void AddContact();

protected:
    QList<FolderRow> loadRows() override;
    void deleteRowFiles(const FolderRow& row) override;
    bool isDeletable(const FolderRow& row) const override { return row.hasUserId; }
    void afterDelete() override;
    void fillContextMenu(QMenu& menu, int selected) override;
    void OnCommand(int command) override;
    void DrawItem(QPainter& painter, const QRect& item, int row, bool selected) const override;

private:
    const QImage& defaultPicture() const;

    QString m_userId;
    mutable QImage m_defaultPicture;
};
