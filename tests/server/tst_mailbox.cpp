#include "mailbox.h"
#include "passwordmail.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <memory>

// Mail files: one per message, complete or absent, named so that sorting
// names finds the newest.
class TestMailBox : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void nameCarriesUtcStampAndRecipient();
    void messagesInOneMicrosecondStayApartAndInOrder();
    void fileHoldsHeadersAndPassword();
    void unwritableFolderLeavesNothing();
    void keepsNewestPerRecipient_data();
    void keepsNewestPerRecipient();

private:
    static QStringList listing(const QString& folder);

    TestEnvironment m_env;
};

QStringList TestMailBox::listing(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

void TestMailBox::nameCarriesUtcStampAndRecipient() {
    using namespace std::chrono;
    // 2026-12-08 15:30:12.000123 UTC
    const sys_seconds seconds = sys_days(year(2026) / 12 / 8) + hours(15) + minutes(30) + 12s;
    const auto when = time_point_cast<system_clock::duration>(seconds + microseconds(123));
    QCOMPARE(MailBox::fileName(when, "Alice@Example.org"),
             std::string("20261208-153012-000123-alice@example.org.txt"));
}

void TestMailBox::messagesInOneMicrosecondStayApartAndInOrder() {
    const QString folder = m_env.makeFolder(QStringLiteral("order"));
    // The manual clock stands still: every message gets the same time.
    MailBox box(folder.toStdString(), std::make_shared<ManualClock>());
    QVERIFY(box.prepare(nullptr));
    for (int i = 0; i < 5; ++i)
        QVERIFY(box.send(newAccountMail("bob@example.org", "pw" + std::to_string(i))));
    const QStringList names = listing(folder);
    QCOMPARE(names.size(), 5);
    for (int i = 0; i < 5; ++i) {
        QFile file(folder + QLatin1Char('/') + names[i]);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll().contains("Password: pw" + QByteArray::number(i)),
                 qPrintable(names[i]));
    }
}

void TestMailBox::fileHoldsHeadersAndPassword() {
    const QString folder = m_env.makeFolder(QStringLiteral("content"));
    MailBox box(folder.toStdString(), makeRealClock());
    QVERIFY(box.prepare(nullptr));
    QVERIFY(box.send(passwordResetMail("Carol@Example.org", "s3cretPW", 24)));
    const QStringList names = listing(folder);
    QCOMPARE(names.size(), 1);
    QVERIFY2(names[0].endsWith(QStringLiteral("-carol@example.org.txt")), qPrintable(names[0]));
    QFile file(folder + QLatin1Char('/') + names[0]);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("\nTo: Carol@Example.org\n"));
    QVERIFY(text.contains("\nSubject: "));
    QVERIFY(text.contains("\nDate: "));
    QVERIFY(text.contains("\nPassword: s3cretPW\n"));
    // Headers end at the first blank line, as in any mail.
    QVERIFY(text.indexOf("\n\n") > text.indexOf("Subject: "));
}

void TestMailBox::unwritableFolderLeavesNothing() {
    // A file where the mail folder should be: no user, not even root, can
    // write into it.
    const QString parent = m_env.makeFolder(QStringLiteral("blocked"));
    const QString folder = parent + QStringLiteral("/mail");
    QVERIFY(writeFile(folder, "not a folder"));
    MailBox box(folder.toStdString(), makeRealClock());
    std::string error;
    QVERIFY(!box.prepare(&error));
    QVERIFY(!error.empty());
    error.clear();
    QVERIFY(!box.send(newAccountMail("bob@example.org", "pw"), &error));
    QVERIFY(!error.empty());
    QCOMPARE(listing(parent), QStringList{QStringLiteral("mail")});
}

void TestMailBox::keepsNewestPerRecipient_data() {
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("kept");
    QTest::newRow("fewer than five") << 3 << 3;
    QTest::newRow("five") << 5 << 5;
    QTest::newRow("eight") << 8 << 5;
}

void TestMailBox::keepsNewestPerRecipient() {
    QFETCH(int, sent);
    QFETCH(int, kept);
    const QString folder = m_env.makeFolder(QStringLiteral("bounded"));
    MailBox box(folder.toStdString(), std::make_shared<ManualClock>());
    QVERIFY(box.prepare(nullptr));
    // Other addresses' mail, one of them ending like Bob's, stays.
    QVERIFY(box.send(newAccountMail("carol@example.org", "c")));
    QVERIFY(box.send(newAccountMail("x-bob@example.org", "x")));
    for (int i = 0; i < sent; ++i)
        QVERIFY(box.send(newAccountMail(i % 2 ? "Bob@Example.org" : "bob@example.org",
                                        "pw" + std::to_string(i))));
    QStringList bobs;
    for (const QString& name : listing(folder)) {
        if (name.endsWith(QStringLiteral("-bob@example.org.txt")) &&
            !name.endsWith(QStringLiteral("-x-bob@example.org.txt")))
            bobs += name;
    }
    QCOMPARE(bobs.size(), kept);
    QCOMPARE(listing(folder).size(), kept + 2);
    for (int i = 0; i < kept; ++i) {
        const QByteArray password = "Password: pw" + QByteArray::number(sent - kept + i) + "\n";
        QVERIFY2(readFile(folder + QLatin1Char('/') + bobs[i]).contains(password),
                 qPrintable(bobs[i]));
    }
}

QTEST_GUILESS_MAIN(TestMailBox)
#include "tst_mailbox.moc"
