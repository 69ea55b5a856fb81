#include "store/lists/folderlistmodel.h"

#include "store/listorder.h"

#include <QSize>

FolderListModel::FolderListModel(QString title, int rowHeight, QObject* parent)
    : QAbstractListModel(parent), m_title(std::move(title)), m_rowHeight(rowHeight) {}

int FolderListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant FolderListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const FolderRow& r = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return r.text;
    case UserIdRole:
        return r.hasUserId ? QVariant(r.userId) : QVariant();
    case Qt::SizeHintRole:
        return QSize(-1, m_rowHeight);
    case Qt::ToolTipRole:
        return r.problem.isEmpty() ? QVariant() : QVariant(r.problem);
    default:
        return {};
    }
}

QVariant FolderListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_title;
    return {};
}

Qt::ItemFlags FolderListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void FolderListModel::setRows(QList<FolderRow> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

void FolderListModel::clear() {
    setRows({});
}

void FolderListModel::setProblem(int index, const QString& problem) {
    if (index < 0 || index >= m_rows.size() || m_rows[index].problem == problem)
        return;
    m_rows[index].problem = problem;
    const QModelIndex changed = this->index(index);
    Q_EMIT dataChanged(changed, changed, {Qt::ToolTipRole});
}

int FolderListModel::insertSorted(FolderRow row) {
    QList<QString> texts;
    texts.reserve(m_rows.size());
    for (const FolderRow& r : m_rows)
        texts.append(r.text);
    const int at = int(listInsertPosition(texts, row.text));
    beginInsertRows({}, at, at);
    m_rows.insert(at, std::move(row));
    endInsertRows();
    return at;
}

void FolderListModel::removeRowAt(int index) {
    if (index < 0 || index >= m_rows.size())
        return;
    beginRemoveRows({}, index, index);
    m_rows.removeAt(index);
    endRemoveRows();
}

void FolderListModel::reorder(const QList<int>& order) {
    if (order.size() != m_rows.size())
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QList<int> placeOf(order.size());
    QList<FolderRow> reordered;
    reordered.reserve(order.size());
    for (int place = 0; place < order.size(); ++place) {
        placeOf[order[place]] = place;
        reordered.append(m_rows.at(order[place]));
    }
    m_rows = std::move(reordered);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before)
        after.append(this->index(placeOf[index.row()], index.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
