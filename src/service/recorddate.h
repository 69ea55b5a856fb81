#pragma once

#include <QByteArrayView>
#include <QDateTime>

// The date of a received message as the service writes it in the record:
// "12/7/2008 3:45:12 PM" - month, day and year, then the time on the 12-hour
// clock. Each number is read from its leading decimal digits (none reads as
// 0). A "PM" at the end (any letter case) moves 1 to 11 o'clock to the
// afternoon and leaves 12 as it is; an "AM" turns 12 o'clock into 0. Without
// either the hour is read on the 24-hour clock.
//
// The result is a local time. A text that does not name a real date and time
// (a month of 13, 0 o'clock PM, garbage) gives an invalid QDateTime, never an
// exception: the caller then dates the message by its filing time.
QDateTime parseRecordDate(QByteArrayView text);
