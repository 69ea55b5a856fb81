#include "store/listdate.h"

#include <QLocale>

QString listDateText(const QDateTime& date) {
    if (!date.isValid())
        return {};
    return QLocale::c().toString(date.toLocalTime(), QStringLiteral("ddd MMM dd, yyyy  hh:mmAP"));
}
