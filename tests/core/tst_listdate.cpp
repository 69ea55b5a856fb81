#include "store/listdate.h"

#include <QLocale>
#include <QTest>
#include <QTimeZone>

// The date text of the Inbox rows.
class TestListDate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void format_data();
    void format();
    void englishNamesWhateverTheLanguage();
    void shownInLocalTime();

private:
    QByteArray m_oldTz;
};

void TestListDate::initTestCase() {
    m_oldTz = qgetenv("TZ");
    qputenv("TZ", "UTC");
    tzset();
}

void TestListDate::cleanupTestCase() {
    qputenv("TZ", m_oldTz);
    tzset();
}

void TestListDate::format_data() {
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<QString>("text");
    QTest::newRow("afternoon, two blanks before the hour")
        << QDateTime(QDate(2008, 12, 7), QTime(15, 45, 12)) << "Sun Dec 07, 2008  03:45PM";
    QTest::newRow("midnight is 12AM")
        << QDateTime(QDate(2009, 1, 1), QTime(0, 5)) << "Thu Jan 01, 2009  12:05AM";
    QTest::newRow("noon is 12PM") << QDateTime(QDate(2010, 6, 15), QTime(12, 0))
                                  << "Tue Jun 15, 2010  12:00PM";
    QTest::newRow("morning") << QDateTime(QDate(2024, 2, 29), QTime(9, 7, 59))
                             << "Thu Feb 29, 2024  09:07AM";
    QTest::newRow("invalid date: no text") << QDateTime() << "";
}

void TestListDate::format() {
    QFETCH(QDateTime, date);
    QFETCH(QString, text);
    QCOMPARE(listDateText(date), text);
}

void TestListDate::englishNamesWhateverTheLanguage() {
    const QLocale old;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString text = listDateText(QDateTime(QDate(2008, 12, 7), QTime(15, 45)));
    QLocale::setDefault(old);
    QCOMPARE(text, QStringLiteral("Sun Dec 07, 2008  03:45PM"));
}

void TestListDate::shownInLocalTime() {
    const QDateTime utc(QDate(2008, 12, 7), QTime(23, 30), QTimeZone::utc());
    qputenv("TZ", "EST5");
    tzset();
    const QString text = listDateText(utc);
    qputenv("TZ", "UTC");
    tzset();
    QCOMPARE(text, QStringLiteral("Sun Dec 07, 2008  06:30PM"));
}

QTEST_GUILESS_MAIN(TestListDate)
#include "tst_listdate.moc"
