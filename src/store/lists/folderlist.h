#pragma once

#include "store/lists/folderlistmodel.h"
#include "store/messagestore.h"

#include <QTreeView>

#include <atomic>
#include <optional>

class QMenu;

// What the four folder lists share: a report view with one column over the
// files of one folder of the user folder, rows drawn by the list itself
// (picture column at the left, text beside it), a context menu of numbered
// commands, the fill-once-unless-reloaded rule of Refill and the delete loop
// over the selected rows.
//
// The list tells its parent window about folder changes by posting
// PrivateEvent(WM_UPDATE_COUNTS, 0, folder) to it, and asks for an immediate
// Send/Receive cycle through the shared flag of ClientCore (or the one set
// with setSendReceiveFlag).
class CFolderList : public QTreeView {
    Q_OBJECT

public:
    // Every row is 24 pixels high, with the grid line under it.
    static constexpr int kItemHeight = 24;
    static constexpr int kRowHeight = kItemHeight + 1;
    // Pictures are drawn stretched to 23 x 23 one pixel inside the 25 pixels
    // at the left of a row; the text starts one pixel further right.
    static constexpr int kPictureColumn = 25;
    static constexpr int kPictureSide = 23;

    CFolderList(Folder folder, const QString& columnTitle, QObject* parentWindow,
                QWidget* parent = nullptr);
    ~CFolderList() override;

    Folder folder() const { return m_folder; }

    // The store the list shows. Until one is set, the list works on the
    // signed-in user's folder (ClientCore's m_strFolder) as it is at each
    // use; with no user folder at all it shows and changes nothing.
    void setStore(const MessageStore& store);
    MessageStore store() const;
    bool hasUserFolder() const;

    // The window that receives the posted WM_UPDATE_COUNTS events.
    void setParentWindow(QObject* window) { m_parentWindow = window; }
    QObject* parentWindow() const { return m_parentWindow; }
    // The flag "Send/Receive" sets; by default ClientCore's m_bSendReceiveNow.
    void setSendReceiveFlag(std::atomic<int>* flag) { m_sendReceiveFlag = flag; }

    // Rows, in display order.
    int count() const;
    QString textAt(int row) const;
    QStringList texts() const;
    bool isRowSelected(int row) const;
    QList<int> selectedRowNumbers() const;
    QStringList selectedTexts() const;
    // The user IDs the selected rows stand for, in row order: the text
    // before the first ";" of a message name (empty without one); the
    // contact's user ID in the Contacts list.
    virtual QStringList selectedUserIds() const;
    // The rectangle a row is drawn in, in viewport coordinates.
    QRect rowRect(int row) const;
    // Paints one row again (its message was played, its picture changed).
    void repaintRow(int row);

public Q_SLOTS:
    // Fills the list from its folder. With reload 0 a list that holds rows
    // is left as it is; with 1 it is emptied and filled again. Safe to call
    // from a worker thread: the fill then runs on the list's own thread.
    void Refill(int reload);
    // Deletes the files of every selected row and removes the rows, without
    // asking.
    void DeleteSelected();

Q_SIGNALS:
    // A row was selected or unselected, by the user or by a command that
    // selects a row. Fills, deletes and sorting change rows without it.
    void itemChanged(int row, const QString& text, bool selected);
    // A plain click on a row that was selected already and is now the only
    // one: no selection changed, but the user asked for that row again.
    void selectedRowClicked(int row, const QString& text);

protected:
    // The rows of a fresh fill, in display order: by default one per file
    // of the folder (thumbnails left out), in ascending text order.
    virtual QList<FolderRow> loadRows();
    // After a fill (the Inbox sorts here).
    virtual void afterFill() {}
    // Deletes the files behind a row about to be removed: by default the
    // message's video and thumbnail.
    virtual void deleteRowFiles(const FolderRow& row);
    // Whether a row takes part in a delete at all.
    virtual bool isDeletable(const FolderRow& row) const { return !row.text.isEmpty(); }
    // After the selected rows are gone: the counts to update, if any.
    virtual void afterDelete() {}
    // The Delete key deletes the selection, except where a list says no.
    virtual bool handlesDeleteKey() const { return true; }
    // The context menu's items, enabled for this many selected rows.
    virtual void fillContextMenu(QMenu& menu, int selected) = 0;
    // A command of the context menu.
    virtual void OnCommand(int command) = 0;
    // Draws one row: `item` is the row's rectangle above its grid line.
    virtual void DrawItem(QPainter& painter, const QRect& item, int row, bool selected) const = 0;

    // Drawing steps every list shares. The text area is the item rectangle
    // without the picture column; selected rows are filled with the
    // highlight colour, others with white. Returns the text colour for the
    // row and moves the area's left edge one pixel further.
    QColor fillTextArea(QPainter& painter, QRect& textArea, bool selected) const;
    // The picture of a file stretched to 23 x 23 at the item's left + 1,
    // top + 1, magenta transparent; `fallback` (already that size) when the
    // file does not load. Nothing when neither exists.
    void drawPicture(QPainter& painter, const QRect& item, const QString& path,
                     const QImage& fallback = {}) const;
    // One line of text, cut with "..." at the end when too long.
    static void drawLine(QPainter& painter, const QRect& area, const QString& text,
                         const QFont& font, const QColor& colour, Qt::Alignment vertical);
    // The row of an Outbox or Sent message: the recipient (the text before
    // the first ";") centred in height, and the thumbnail.
    void drawRecipientRow(QPainter& painter, const QRect& item, int row, bool selected) const;
    // A picture prepared the way drawPicture draws it, for fallbacks.
    QImage pictureSized(const QImage& image) const;

    void postUpdateCounts(int folderIndex);
    void requestSendReceive();
    FolderListModel* rowModel() const { return m_model; }
    // The first selected row, or -1.
    int firstSelectedRow() const;
    int selectedCount() const;

    // Row changes made by the list itself do not count as item changes.
    class QuietChanges {
    public:
        explicit QuietChanges(CFolderList* list) : m_list(list) { ++m_list->m_quiet; }
        ~QuietChanges() { --m_list->m_quiet; }
        QuietChanges(const QuietChanges&) = delete;
        QuietChanges& operator=(const QuietChanges&) = delete;

    private:
        CFolderList* m_list;
    };

    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);

    Folder m_folder;
    FolderListModel* m_model;
    std::optional<MessageStore> m_store;
    QObject* m_parentWindow;
    std::atomic<int>* m_sendReceiveFlag = nullptr;
    int m_quiet = 0;
    // The selected row a plain left press fell on, until its release.
    int m_pressedSelectedRow = -1;
};
