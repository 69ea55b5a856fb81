#include "service/messagerecord.h"

#include <QBuffer>
#include <QTest>

// Downloaded records: the name and date fields, the offset of the data, and
// records that are short, empty or odd in their names.
class TestMessageRecord : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void names_data();
    void names();
    void statuses_data();
    void statuses();
    void dateField();
    void deviceIsLeftAtData();

private:
    static QByteArray field(const QByteArray& text, qsizetype width, char fill = '\0');
    static QByteArray record(const QByteArray& nameField, const QByteArray& dateText,
                             const QByteArray& data);
};

QByteArray TestMessageRecord::field(const QByteArray& text, qsizetype width, char fill) {
    QByteArray f = text.left(width);
    f.append(QByteArray(width - f.size(), fill));
    return f;
}

QByteArray TestMessageRecord::record(const QByteArray& nameField, const QByteArray& dateText,
                                     const QByteArray& data) {
    return field(nameField, kRecordNameBytes) + field(dateText, kRecordDateBytes) + data;
}

void TestMessageRecord::names_data() {
    QTest::addColumn<QByteArray>("nameField");
    QTest::addColumn<QString>("name");
    QTest::newRow("video") << QByteArray("bob;alice;456") << "bob;alice;456";
    QTest::newRow("thumbnail") << QByteArray("bob;alice;456.jpg") << "bob;alice;456.jpg";
    QTest::newRow("padded with blanks") << field("bob;alice;456", 255, ' ') << "bob;alice;456";
    QTest::newRow("trailing tab and line end")
        << QByteArray("bob;alice;456\t\r\n") << "bob;alice;456";
    QTest::newRow("leading blank kept") << QByteArray(" bob;alice;1") << " bob;alice;1";
    QTest::newRow("mixed case kept") << QByteArray("Bob;Alice;456") << "Bob;Alice;456";
    QTest::newRow("no semicolon") << QByteArray("justaname") << "justaname";
    QTest::newRow("slash returned as is") << QByteArray("bob;../../etc;1") << "bob;../../etc;1";
    QTest::newRow("stops at first zero byte")
        << QByteArray("bob;alice;1\0hidden", 18) << "bob;alice;1";
    QTest::newRow("255 bytes without terminator")
        << QByteArray(255, 'n') << QString(255, QLatin1Char('n'));
    QTest::newRow("empty") << QByteArray() << "";
}

void TestMessageRecord::names() {
    QFETCH(QByteArray, nameField);
    QFETCH(QString, name);
    const QByteArray bytes = record(nameField, "12/7/2008 3:45:12 PM", "DATA");
    const MessageRecord r = parseMessageRecord(bytes, bytes.size());
    QVERIFY(r.isValid());
    QCOMPARE(r.name, name);
    QCOMPARE(r.dataSize, 4);
}

void TestMessageRecord::statuses_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("status");
    QTest::addColumn<qint64>("dataSize");
    QTest::newRow("nothing") << 0 << int(MessageRecord::Status::Short) << qint64(0);
    QTest::newRow("inside name field") << 100 << int(MessageRecord::Status::Short) << qint64(0);
    QTest::newRow("name field only") << 255 << int(MessageRecord::Status::Short) << qint64(0);
    QTest::newRow("inside date field") << 286 << int(MessageRecord::Status::Short) << qint64(0);
    QTest::newRow("no data after fields") << 287 << int(MessageRecord::Status::Empty) << qint64(0);
    QTest::newRow("one data byte") << 288 << int(MessageRecord::Status::Ok) << qint64(1);
    QTest::newRow("a message") << 5000 << int(MessageRecord::Status::Ok) << qint64(4713);
}

void TestMessageRecord::statuses() {
    QFETCH(int, size);
    QFETCH(int, status);
    QFETCH(qint64, dataSize);
    const QByteArray full = record("bob;alice;1", "1/2/2009 12:05:00 AM", QByteArray(5000, 'x'));
    const QByteArray bytes = full.left(size);
    const MessageRecord r = parseMessageRecord(bytes, bytes.size());
    QCOMPARE(int(r.status), status);
    QCOMPARE(r.dataSize, dataSize);
    if (r.status == MessageRecord::Status::Short)
        QVERIFY(r.name.isEmpty());
}

void TestMessageRecord::dateField() {
    QByteArray bytes = record("bob;alice;1", "1/2/2009 12:05:00 PM", "x");
    MessageRecord r = parseMessageRecord(bytes, bytes.size());
    QCOMPARE(r.dateText, QByteArray("1/2/2009 12:05:00 PM"));
    QCOMPARE(r.date, QDateTime(QDate(2009, 1, 2), QTime(12, 5, 0)));

    // Garbage in the date field leaves the record usable, without a date.
    bytes = record("bob;alice;1", QByteArray(32, '\xff'), "x");
    r = parseMessageRecord(bytes, bytes.size());
    QVERIFY(r.isValid());
    QVERIFY(!r.date.isValid());
}

void TestMessageRecord::deviceIsLeftAtData() {
    QByteArray bytes = record("bob;alice;7.jpg", "12/7/2008 3:45:12 PM", "JPEGDATA");
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    const MessageRecord r = readMessageRecord(buffer);
    QVERIFY(r.isValid());
    QCOMPARE(r.name, QStringLiteral("bob;alice;7.jpg"));
    QCOMPARE(r.dataSize, 8);
    QCOMPARE(buffer.pos(), kRecordDataOffset);
    QCOMPARE(buffer.readAll(), QByteArray("JPEGDATA"));

    QByteArray shortBytes = bytes.left(200);
    QBuffer shortBuffer(&shortBytes);
    QVERIFY(shortBuffer.open(QIODevice::ReadOnly));
    QCOMPARE(readMessageRecord(shortBuffer).status, MessageRecord::Status::Short);
}

QTEST_GUILESS_MAIN(TestMessageRecord)
#include "tst_messagerecord.moc"
