#include "arrivaldate.h"
#include "service/recorddate.h"
#include "uploadheader.h"

#include <QDateTime>
#include <QTest>

#include <cstdlib>
#include <ctime>

// The server's reading of an upload's header block, the names it relays,
// and the date text of a download record.
class TestUploadHeader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void fields_data();
    void fields();
    void faults_data();
    void faults();
    void relayableNames_data();
    void relayableNames();
    void arrivalDates_data();
    void arrivalDates();
    void arrivalDateReadsBackOnClient();

private:
    static std::string block(const std::string& text, char fill = '\0');
    static std::string padded(const std::string& value, std::size_t width);
};

void TestUploadHeader::initTestCase() {
    // Dates are written in local time; the tests fix the zone.
    qputenv("TZ", "UTC");
    tzset();
}

std::string TestUploadHeader::block(const std::string& text, char fill) {
    std::string b = text.substr(0, std::min<std::size_t>(text.size(), 1024));
    b.resize(1024, fill);
    return b;
}

std::string TestUploadHeader::padded(const std::string& value, std::size_t width) {
    std::string v = value;
    v.resize(std::max(width, v.size()), ' ');
    return v;
}

void TestUploadHeader::fields_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("sender");
    QTest::addColumn<QByteArray>("recipient");
    QTest::addColumn<QByteArray>("fourth");
    const auto row = [](const char* title, const std::string& b, const std::string& n,
                        const std::string& s, const std::string& r, const std::string& f) {
        QTest::newRow(title) << QByteArray::fromStdString(b) << QByteArray::fromStdString(n)
                             << QByteArray::fromStdString(s) << QByteArray::fromStdString(r)
                             << QByteArray::fromStdString(f);
    };
    row("as the client writes it",
        block(padded("bob@x.org;al@x.org;12", 128) + padded("al@x.org", 255) +
              padded("bob@x.org", 255) + padded("", 255)),
        "bob@x.org;al@x.org;12", "al@x.org", "bob@x.org", "");
    row("fourth field used",
        block(padded("n", 128) + padded("s", 255) + padded("r", 255) + padded("extra", 255)), "n",
        "s", "r", "extra");
    row("values filling their widths",
        block(std::string(128, 'n') + std::string(255, 's') + std::string(255, 'r') +
              std::string(255, 'f')),
        std::string(128, 'n'), std::string(255, 's'), std::string(255, 'r'), std::string(255, 'f'));
    row("text ending early leaves later fields empty", block(padded("n", 128) + "al@x.org"), "n",
        "al@x.org", "", "");
    row("leading blanks are part of the value",
        block(padded("  n", 128) + padded(" s", 255) + padded("r", 255) + padded("", 255)), "  n",
        " s", "r", "");
    row("empty text", block(""), "", "", "", "");
}

void TestUploadHeader::fields() {
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, sender);
    QFETCH(QByteArray, recipient);
    QFETCH(QByteArray, fourth);
    UploadHeaderFault fault = UploadHeaderFault::Short;
    const auto header = parseUploadHeader(bytes.toStdString(), &fault);
    QVERIFY(header);
    QCOMPARE(int(fault), int(UploadHeaderFault::None));
    QCOMPARE(QByteArray::fromStdString(header->name), name);
    QCOMPARE(QByteArray::fromStdString(header->sender), sender);
    QCOMPARE(QByteArray::fromStdString(header->recipient), recipient);
    QCOMPARE(QByteArray::fromStdString(header->fourth), fourth);
}

void TestUploadHeader::faults_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("fault");
    const int shortFault = int(UploadHeaderFault::Short);
    const int malformed = int(UploadHeaderFault::Malformed);
    QTest::newRow("nothing") << QByteArray() << shortFault;
    QTest::newRow("1023 bytes") << QByteArray(1023, '\0') << shortFault;
    QTest::newRow("no terminator at all") << QByteArray(1024, 'x') << malformed;
    QTest::newRow("text one byte past the fourth field")
        << QByteArray::fromStdString(block(std::string(894, 'x'))) << malformed;
    QTest::newRow("long name pushing the fields along")
        << QByteArray::fromStdString(block(padded(std::string(130, 'n'), 128) + padded("s", 255) +
                                           padded("r", 255) + padded("", 255)))
        << malformed;
}

void TestUploadHeader::faults() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, fault);
    UploadHeaderFault found = UploadHeaderFault::None;
    QVERIFY(!parseUploadHeader(bytes.toStdString(), &found));
    QCOMPARE(int(found), fault);
}

void TestUploadHeader::relayableNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("relayable");
    QTest::newRow("video") << "bob@x.org;al@x.org;123" << true;
    QTest::newRow("thumbnail") << "bob@x.org;al@x.org;-123.jpg" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("dot") << "." << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("slash") << "bob;al;../../etc/passwd" << false;
    QTest::newRow("backslash") << "bob;al;..\\x" << false;
    QTest::newRow("blank") << "bob;al;1 2" << false;
    QTest::newRow("tab") << "bob;al;1\t2" << false;
    QTest::newRow("delete character") << "bob;al;1\x7f" << false;
    QTest::newRow("non-ASCII") << QString::fromUtf8("bob;al;\xc3\xa9") << false;
}

void TestUploadHeader::relayableNames() {
    QFETCH(QString, name);
    QFETCH(bool, relayable);
    QCOMPARE(isRelayableMessageName(name.toStdString()), relayable);
}

void TestUploadHeader::arrivalDates_data() {
    QTest::addColumn<qint64>("unixSeconds");
    QTest::addColumn<QString>("text");
    const auto at = [](int y, int mo, int d, int h, int mi, int s) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC).toSecsSinceEpoch();
    };
    QTest::newRow("afternoon") << at(2008, 12, 7, 15, 45, 12) << "12/7/2008 3:45:12 PM";
    QTest::newRow("just past midnight") << at(2009, 1, 2, 0, 5, 0) << "1/2/2009 12:05:00 AM";
    QTest::newRow("just past noon") << at(2009, 1, 2, 12, 5, 0) << "1/2/2009 12:05:00 PM";
    QTest::newRow("morning") << at(2026, 10, 30, 9, 0, 7) << "10/30/2026 9:00:07 AM";
    QTest::newRow("last second of the day")
        << at(2026, 12, 31, 23, 59, 59) << "12/31/2026 11:59:59 PM";
}

void TestUploadHeader::arrivalDates() {
    QFETCH(qint64, unixSeconds);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(arrivalDateText(unixSeconds)), text);
}

void TestUploadHeader::arrivalDateReadsBackOnClient() {
    for (qint64 t = 1228664712; t < 1228664712 + 2 * 86400; t += 3607) {
        const QDateTime parsed = parseRecordDate(QByteArray::fromStdString(arrivalDateText(t)));
        QCOMPARE(parsed.toSecsSinceEpoch(), t);
    }
}

QTEST_GUILESS_MAIN(TestUploadHeader)
#include "tst_uploadheader.moc"
