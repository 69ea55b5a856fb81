#include "store/listorder.h"

#include <algorithm>
#include <numeric>

bool listTextLess(const QString& a, const QString& b) {
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
}

qsizetype listInsertPosition(const QList<QString>& sortedTexts, const QString& text) {
    return std::lower_bound(sortedTexts.cbegin(), sortedTexts.cend(), text, listTextLess) -
           sortedTexts.cbegin();
}

int nextInboxSortMode(int mode) {
    return mode + 1 > kSortByName ? kSortByDate : mode + 1;
}

QList<int> inboxOrder(const QList<InboxSortKey>& keys, int mode) {
    QList<int> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    if (mode == kSortByName) {
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return QString::compare(keys[a].text, keys[b].text, Qt::CaseInsensitive) > 0;
        });
        return order;
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const auto& da = keys[a].date;
        const auto& db = keys[b].date;
        if (!da || !db)
            return da.has_value() && !db.has_value();
        return *da > *db;
    });
    return order;
}
