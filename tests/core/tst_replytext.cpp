#include "service/replytext.h"

#include <QTest>

// What a message box shows for a reply of the service.
class TestReplyText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void okRule_data();
    void okRule();
    void shownText_data();
    void shownText();
    void longReplyIsShortenedAndWrapped();
};

void TestReplyText::okRule_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("ok");
    QTest::newRow("OK with line end") << "OK\r\n" << true;
    QTest::newRow("OK followed by text") << "OK, welcome" << true;
    QTest::newRow("lower-case ok") << "ok\r\n" << false;
    QTest::newRow("leading blank") << " OK" << false;
    QTest::newRow("empty") << "" << false;
}

void TestReplyText::okRule() {
    QFETCH(QString, reply);
    QFETCH(bool, ok);
    QCOMPARE(isOkReply(reply), ok);
}

void TestReplyText::shownText_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("shown");
    QTest::newRow("verbatim with line ends")
        << "Unknown user ID or wrong password.\r\nTry again.\r\n"
        << "Unknown user ID or wrong password.\r\nTry again.\r\n";
    QTest::newRow("empty") << ""
                           << "The service did not answer. Check your network connection and try "
                              "again.";
    QTest::newRow("only line ends") << "\r\n\r\n"
                                    << "The service did not answer. Check your network connection "
                                       "and try again.";
    QTest::newRow("binary") << QString::fromLatin1("GIF89a\x01\x02", 8)
                            << "The service sent an answer that is not text. Please try again "
                               "later.";
    QTest::newRow("invalid utf-8") << QString::fromUtf8("abc\xff\xfe")
                                   << "The service sent an answer that is not text. Please try "
                                      "again later.";
    QTest::newRow("tab is text") << "a\tb"
                                 << "a\tb";
}

void TestReplyText::shownText() {
    QFETCH(QString, reply);
    QFETCH(QString, shown);
    QCOMPARE(replyForDisplay(reply), shown);
}

void TestReplyText::longReplyIsShortenedAndWrapped() {
    const QString huge(1024 * 1024, QLatin1Char('x'));
    const QString shown = replyForDisplay(huge);
    QVERIFY(shown.size() < 2200);
    QVERIFY(shown.endsWith(QLatin1String("[...]")));
    for (const QString& line : shown.split(QLatin1Char('\n')))
        QVERIFY(line.size() <= 100);
}

QTEST_GUILESS_MAIN(TestReplyText)
#include "tst_replytext.moc"
