#pragma once

#include <QList>
#include <QString>

#include <optional>

// Row order of the folder lists, apart from any widget.

// The order rows take as they are inserted: ascending text, letter case
// ignored, then exact text so that the order is always the same.
bool listTextLess(const QString& a, const QString& b);
// The index at which a new text lands among texts kept in that order (before
// any equal text).
qsizetype listInsertPosition(const QList<QString>& sortedTexts, const QString& text);

// The Inbox list's two orders: 0 by date, newest first; 1 by name, Z to A
// with letter case ignored.
enum InboxSortMode : int { kSortByDate = 0, kSortByName = 1 };
// The mode after a header click: 0 becomes 1, 1 becomes 0.
int nextInboxSortMode(int mode);

// What the Inbox sorts one row by: its text and, when the file's status
// could be read, its date in milliseconds since 1970.
struct InboxSortKey {
    QString text;
    std::optional<qint64> date;
};

// The new order of rows: entry i is the current index of the row that goes
// to place i. Rows that compare equal keep their current order. A row whose
// date could not be read has no place in date order, so it goes after every
// dated row; comparing it as equal to everything would give no consistent
// order at all.
QList<int> inboxOrder(const QList<InboxSortKey>& keys, int mode);
