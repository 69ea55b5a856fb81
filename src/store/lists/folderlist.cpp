#include "store/lists/folderlist.h"

#include "app/appfonts.h"
#include "app/clientcore.h"
#include "platform/messages.h"
#include "platform/popupmenu.h"
#include "platform/resources.h"
#include "store/listorder.h"
#include "store/picturecache.h"
#include "store/storenames.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>

#include <cmath>
#include <utility>

namespace {
// The grid line under every row.
const QColor kGridColour(0xF0, 0xF0, 0xF0);
} // namespace

CFolderList::CFolderList(Folder folder, const QString& columnTitle, QObject* parentWindow,
                         QWidget* parent)
    : QTreeView(parent), m_folder(folder),
      m_model(new FolderListModel(columnTitle, kRowHeight, this)), m_parentWindow(parentWindow) {
    setModel(m_model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    header()->setStretchLastSection(true);
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CFolderList::onSelectionChanged);
}

CFolderList::~CFolderList() = default;

void CFolderList::setStore(const MessageStore& store) {
    m_store = store;
}

MessageStore CFolderList::store() const {
    if (m_store)
        return *m_store;
    const ClientCore* core = ClientCore::instance();
    return MessageStore(core ? core->m_strFolder : QString());
}

bool CFolderList::hasUserFolder() const {
    return !store().userFolder().isEmpty();
}

int CFolderList::count() const {
    return m_model->rowCount();
}

QString CFolderList::textAt(int row) const {
    return row >= 0 && row < count() ? m_model->row(row).text : QString();
}

QStringList CFolderList::texts() const {
    QStringList all;
    for (const FolderRow& r : m_model->rows())
        all.append(r.text);
    return all;
}

bool CFolderList::isRowSelected(int row) const {
    return selectionModel()->isRowSelected(row, {});
}

QList<int> CFolderList::selectedRowNumbers() const {
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QStringList CFolderList::selectedTexts() const {
    QStringList selected;
    for (int row : selectedRowNumbers())
        selected.append(textAt(row));
    return selected;
}

QStringList CFolderList::selectedUserIds() const {
    QStringList ids;
    for (const QString& text : selectedTexts())
        ids.append(firstField(text));
    return ids;
}

int CFolderList::firstSelectedRow() const {
    const QList<int> rows = selectedRowNumbers();
    return rows.isEmpty() ? -1 : rows.constFirst();
}

int CFolderList::selectedCount() const {
    return int(selectionModel()->selectedRows().size());
}

QRect CFolderList::rowRect(int row) const {
    return visualRect(m_model->index(row, 0));
}

void CFolderList::repaintRow(int row) {
    if (row >= 0 && row < count())
        viewport()->update(rowRect(row));
}

void CFolderList::Refill(int reload) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, reload] { Refill(reload); }, Qt::QueuedConnection);
        return;
    }
    QuietChanges quiet(this);
    if (reload != 0)
        m_model->clear();
    if (count() > 0)
        return;
    if (hasUserFolder())
        m_model->setRows(loadRows());
    afterFill();
    viewport()->update();
    if (isVisible())
        viewport()->repaint();
}

QList<FolderRow> CFolderList::loadRows() {
    QList<FolderRow> rows;
    for (const QString& name : store().list(m_folder))
        rows.append({name, {}, false, {}});
    std::stable_sort(rows.begin(), rows.end(), [](const FolderRow& a, const FolderRow& b) {
        return listTextLess(a.text, b.text);
    });
    return rows;
}

void CFolderList::deleteRowFiles(const FolderRow& row) {
    store().remove(m_folder, row.text);
}

void CFolderList::DeleteSelected() {
    {
        QuietChanges quiet(this);
        // Row by row from the top, reading the count again each time, so
        // adjacent selected rows are all deleted.
        for (int i = 0; i < count(); ++i) {
            const FolderRow row = m_model->row(i);
            if (!isRowSelected(i) || !isDeletable(row))
                continue;
            deleteRowFiles(row);
            m_model->removeRowAt(i);
            --i;
        }
    }
    afterDelete();
}

void CFolderList::postUpdateCounts(int folderIndex) {
    if (m_parentWindow)
        QCoreApplication::postEvent(m_parentWindow,
                                    new PrivateEvent(WM_UPDATE_COUNTS, 0, folderIndex));
}

void CFolderList::requestSendReceive() {
    if (m_sendReceiveFlag) {
        m_sendReceiveFlag->store(1);
    } else if (ClientCore* core = ClientCore::instance()) {
        core->m_bSendReceiveNow.store(1);
    }
}

QColor CFolderList::fillTextArea(QPainter& painter, QRect& textArea, bool selected) const {
    const QPalette& colours = palette();
    // Selected rows show the highlight also while another window has the
    // focus.
    painter.fillRect(textArea, selected ? colours.color(QPalette::Active, QPalette::Highlight)
                                        : QColor(Qt::white));
    textArea.setLeft(textArea.left() + 1);
    return selected ? colours.color(QPalette::Active, QPalette::HighlightedText)
                    : QColor(Qt::black);
}

QImage CFolderList::pictureSized(const QImage& image) const {
    if (image.isNull())
        return {};
    const qreal ratio = devicePixelRatioF();
    const int side = int(std::lround(kPictureSide * ratio));
    QImage sized =
        withColourKey(image).scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    sized.setDevicePixelRatio(ratio);
    return sized;
}

void CFolderList::drawPicture(QPainter& painter, const QRect& item, const QString& path,
                              const QImage& fallback) const {
    const qreal ratio = devicePixelRatioF();
    const int side = int(std::lround(kPictureSide * ratio));
    QImage picture = PictureCache::lists().picture(path, QSize(side, side));
    picture.setDevicePixelRatio(ratio);
    const QImage& drawn = picture.isNull() ? fallback : picture;
    if (!drawn.isNull())
        painter.drawImage(QRect(item.left() + 1, item.top() + 1, kPictureSide, kPictureSide),
                          drawn);
}

void CFolderList::drawRecipientRow(QPainter& painter, const QRect& item, int row,
                                   bool selected) const {
    if (row < 0 || row >= count())
        return;
    QRect textArea = item.adjusted(kPictureColumn, 0, 0, 0);
    const QColor colour = fillTextArea(painter, textArea, selected);
    const QString text = textAt(row);
    drawLine(painter, textArea, firstField(text), appFonts().thin10, colour, Qt::AlignVCenter);
    drawPicture(painter, item, store().thumbnailPath(m_folder, text));
}

void CFolderList::drawLine(QPainter& painter, const QRect& area, const QString& text,
                           const QFont& font, const QColor& colour, Qt::Alignment vertical) {
    painter.setFont(font);
    painter.setPen(colour);
    // One line: a line break in a name must not open a second one.
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    const QString shown = painter.fontMetrics().elidedText(line, Qt::ElideRight, area.width());
    painter.drawText(area, int(Qt::AlignLeft | vertical | Qt::TextSingleLine), shown);
}

void CFolderList::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    // The whole row is drawn here, without the style's row background, so
    // the picture column keeps the list's own colour on selected rows too.
    const QRect row(option.rect.left(), option.rect.top(),
                    qMax(option.rect.width(), viewport()->width()), kRowHeight);
    const QRect item(row.left(), row.top(), row.width(), kItemHeight);
    painter->save();
    painter->setClipRect(row);
    DrawItem(*painter, item, index.row(), selectionModel()->isSelected(index));
    painter->setPen(kGridColour);
    painter->drawLine(row.left(), row.bottom(), row.right(), row.bottom());
    painter->restore();
}

void CFolderList::keyPressEvent(QKeyEvent* event) {
    QTreeView::keyPressEvent(event);
    if (event->key() == Qt::Key_Delete && handlesDeleteKey()) {
        DeleteSelected();
        event->accept();
    }
}

void CFolderList::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    const bool plain = event->button() == Qt::LeftButton && event->modifiers() == Qt::NoModifier;
    m_pressedSelectedRow =
        plain && index.isValid() && isRowSelected(index.row()) ? index.row() : -1;
    QTreeView::mousePressEvent(event);
}

void CFolderList::mouseReleaseEvent(QMouseEvent* event) {
    QTreeView::mouseReleaseEvent(event);
    const int row = std::exchange(m_pressedSelectedRow, -1);
    if (row >= 0 && event->button() == Qt::LeftButton &&
        indexAt(event->position().toPoint()).row() == row && selectedRowNumbers() == QList{row})
        emit selectedRowClicked(row, textAt(row));
}

void CFolderList::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    fillContextMenu(menu, selectedCount());
    if (QAction* chosen = execPopupMenu(menu, event->globalPos()))
        OnCommand(commandOf(chosen));
    event->accept();
}

void CFolderList::onSelectionChanged(const QItemSelection& selected,
                                     const QItemSelection& deselected) {
    if (m_quiet > 0)
        return;
    const auto report = [this](const QItemSelection& changes, bool nowSelected) {
        QList<int> rows;
        for (const QModelIndex& index : changes.indexes())
            rows.append(index.row());
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        for (int row : rows)
            emit itemChanged(row, textAt(row), nowSelected);
    };
    report(deselected, false);
    report(selected, true);
}
