#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QString>

// One row of a folder list: the text of its only column and, for contacts,
// the user ID kept with it.
struct FolderRow {
    QString text;   // a file name of the folder, or a contact's display name
    QString userId; // contacts: the contact file's name
    bool hasUserId = false;
    // What went wrong with the row's message (the Outbox: why the service
    // refused it); its tooltip. Empty for a row that is well.
    QString problem;
    friend bool operator==(const FolderRow&, const FolderRow&) = default;
};

// The rows behind a folder list, in display order, with the column title.
// Every row has the same height, which the lists draw into themselves.
class FolderListModel : public QAbstractListModel {
    Q_OBJECT

public:
    static constexpr int UserIdRole = Qt::UserRole + 1;

    FolderListModel(QString title, int rowHeight, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const FolderRow& row(int index) const { return m_rows.at(index); }
    const QList<FolderRow>& rows() const { return m_rows; }

    // Replaces every row; the rows are kept in the order given.
    void setRows(QList<FolderRow> rows);
    void clear();
    // Inserts a row where its text lands in ascending text order; returns
    // the row's index.
    int insertSorted(FolderRow row);
    void removeRowAt(int index);
    void setProblem(int index, const QString& problem);
    // Puts the rows in a new order (entry i: current index of the row going
    // to place i). Selections and the current row follow their rows.
    void reorder(const QList<int>& order);

private:
    QString m_title;
    int m_rowHeight;
    QList<FolderRow> m_rows;
};
