#include "service/recorddate.h"

#include <QTest>

// Dates of received records: the 12-hour clock, the fields read from their
// leading digits, and texts that are no date at all.
class TestRecordDate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void validDates_data();
    void validDates();
    void invalidDates_data();
    void invalidDates();
    void isLocalTime();
};

void TestRecordDate::validDates_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QDateTime>("expected");
    const auto at = [](int y, int mo, int d, int h, int mi, int s) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
    };
    QTest::newRow("afternoon") << QByteArray("12/7/2008 3:45:12 PM") << at(2008, 12, 7, 15, 45, 12);
    QTest::newRow("morning") << QByteArray("12/7/2008 3:45:12 AM") << at(2008, 12, 7, 3, 45, 12);
    QTest::newRow("midnight hour") << QByteArray("1/2/2009 12:05:00 AM") << at(2009, 1, 2, 0, 5, 0);
    QTest::newRow("noon hour") << QByteArray("1/2/2009 12:05:00 PM") << at(2009, 1, 2, 12, 5, 0);
    QTest::newRow("eleven at night")
        << QByteArray("3/4/2010 11:59:59 PM") << at(2010, 3, 4, 23, 59, 59);
    QTest::newRow("lower-case pm")
        << QByteArray("12/7/2008 3:45:12 pm") << at(2008, 12, 7, 15, 45, 12);
    QTest::newRow("mixed-case Pm")
        << QByteArray("12/7/2008 3:45:12 pM") << at(2008, 12, 7, 15, 45, 12);
    QTest::newRow("blanks around time")
        << QByteArray("12/7/2008    3:45:12 PM  ") << at(2008, 12, 7, 15, 45, 12);
    QTest::newRow("ends at zero byte")
        << QByteArray("12/7/2008 3:45:12 PM\0garbage", 28) << at(2008, 12, 7, 15, 45, 12);
    QTest::newRow("24-hour clock without suffix")
        << QByteArray("6/30/2021 17:02:03") << at(2021, 6, 30, 17, 2, 3);
    QTest::newRow("leading zeros")
        << QByteArray("06/05/2021 07:08:09 AM") << at(2021, 6, 5, 7, 8, 9);
    QTest::newRow("zero o'clock AM")
        << QByteArray("6/5/2021 0:30:00 AM") << at(2021, 6, 5, 0, 30, 0);
    QTest::newRow("missing seconds read as 0")
        << QByteArray("6/5/2021 7:08 PM") << at(2021, 6, 5, 19, 8, 0);
    QTest::newRow("leap day") << QByteArray("2/29/2024 1:00:00 PM") << at(2024, 2, 29, 13, 0, 0);
}

void TestRecordDate::validDates() {
    QFETCH(QByteArray, text);
    QFETCH(QDateTime, expected);
    const QDateTime parsed = parseRecordDate(text);
    QVERIFY(parsed.isValid());
    QCOMPARE(parsed, expected);
}

void TestRecordDate::invalidDates_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbage") << QByteArray("yesterday, more or less");
    QTest::newRow("all zero bytes") << QByteArray(32, '\0');
    QTest::newRow("month 13") << QByteArray("13/7/2008 3:45:12 PM");
    QTest::newRow("month 0") << QByteArray("0/7/2008 3:45:12 PM");
    QTest::newRow("day 32") << QByteArray("12/32/2008 3:45:12 PM");
    QTest::newRow("no leap day") << QByteArray("2/29/2023 3:45:12 PM");
    QTest::newRow("no time") << QByteArray("12/7/2008");
    QTest::newRow("no year") << QByteArray("12/7 3:45:12 PM");
    QTest::newRow("hour 13 PM") << QByteArray("12/7/2008 13:45:12 PM");
    QTest::newRow("hour 0 PM") << QByteArray("12/7/2008 0:45:12 PM");
    QTest::newRow("hour 24") << QByteArray("12/7/2008 24:00:00");
    QTest::newRow("minute 60") << QByteArray("12/7/2008 3:60:12 PM");
    QTest::newRow("second 60") << QByteArray("12/7/2008 3:45:60 PM");
    QTest::newRow("negative month") << QByteArray("-1/7/2008 3:45:12 PM");
    QTest::newRow("huge numbers") << QByteArray("99999999999999999999/7/2008 3:45:12 PM");
    QTest::newRow("year past 9999") << QByteArray("12/7/123456 3:45:12 PM");
    QTest::newRow("slashes only") << QByteArray("// ::");
}

void TestRecordDate::invalidDates() {
    QFETCH(QByteArray, text);
    QVERIFY(!parseRecordDate(text).isValid());
}

void TestRecordDate::isLocalTime() {
    const QDateTime parsed = parseRecordDate("7/1/2015 9:00:00 AM");
    QCOMPARE(parsed.timeSpec(), Qt::LocalTime);
    QCOMPARE(parsed.toLocalTime().time(), QTime(9, 0, 0));
}

QTEST_GUILESS_MAIN(TestRecordDate)
#include "tst_recorddate.moc"
