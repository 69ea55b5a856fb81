#pragma once

#include <QDateTime>
#include <QString>

// A message date as the Inbox list shows it, in local time with English day
// and month names whatever the user's language: "Sun Dec 07, 2008  03:45PM"
// (two blanks before the hour). Empty for an invalid date.
QString listDateText(const QDateTime& date);
