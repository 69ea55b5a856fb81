#include "service/recorddate.h"

#include <QDate>
#include <QTime>

#include <optional>

namespace {

// Large enough for any field, small enough that a run of digits can never
// overflow while it is read.
constexpr int kNumberCap = 100000;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The number made by the leading decimal digits of text, after any blanks;
// 0 when there are none. Runs of digits past kNumberCap read as kNumberCap,
// which no field accepts.
int leadingNumber(QByteArrayView text) {
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    int value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = qMin(kNumberCap, value * 10 + (text[i] - '0'));
    return value;
}

// The text after the n-th occurrence of separator (n = 1, 2); empty when
// there are fewer.
QByteArrayView afterNth(QByteArrayView text, char separator, int n) {
    qsizetype from = 0;
    for (int found = 0; found < n; ++found) {
        const qsizetype at = text.indexOf(separator, from);
        if (at < 0)
            return {};
        from = at + 1;
    }
    return text.sliced(from);
}

QByteArrayView trimmed(QByteArrayView text) {
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

bool endsWithLetters(QByteArrayView text, char first, char second) {
    if (text.size() < 2)
        return false;
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return lower(text[text.size() - 2]) == first && lower(text[text.size() - 1]) == second;
}

// The hour on the 24-hour clock, or nothing for an hour the 12-hour clock
// does not have.
std::optional<int> dayHour(int hour, QByteArrayView time) {
    const bool pm = endsWithLetters(time, 'p', 'm');
    const bool am = endsWithLetters(time, 'a', 'm');
    if (!pm && !am)
        return hour;
    // "0:30 AM" is written by some clocks for half past midnight; any other
    // hour outside 1 to 12 is not a 12-hour time.
    if (am && hour == 0)
        return 0;
    if (hour < 1 || hour > 12)
        return std::nullopt;
    if (pm)
        return hour == 12 ? 12 : hour + 12;
    return hour == 12 ? 0 : hour;
}

} // namespace

QDateTime parseRecordDate(QByteArrayView text) {
    // The field ends at its first zero byte.
    if (const qsizetype nul = text.indexOf('\0'); nul >= 0)
        text.truncate(nul);
    const int month = leadingNumber(text);
    const int day = leadingNumber(afterNth(text, '/', 1));
    const QByteArrayView afterSecondSlash = afterNth(text, '/', 2);
    const int year = leadingNumber(afterSecondSlash);
    // The time follows the first space after the year.
    const qsizetype space = afterSecondSlash.indexOf(' ');
    if (afterSecondSlash.isEmpty() || space < 0)
        return {};
    const QByteArrayView time = trimmed(afterSecondSlash.sliced(space + 1));
    const std::optional<int> hour = dayHour(leadingNumber(time), time);
    const int minute = leadingNumber(afterNth(time, ':', 1));
    const int second = leadingNumber(afterNth(time, ':', 2));
    if (!hour || year < 1 || year > 9999)
        return {};
    const QDate date(year, month, day);
    const QTime clock(*hour, minute, second);
    if (!date.isValid() || !clock.isValid())
        return {};
    return QDateTime(date, clock);
}
