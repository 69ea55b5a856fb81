#include "store/storefolder.h"
#include "storefixture.h"

#include <QTest>

// Folder numbering and the case-insensitive mapping of "inbox" to the folder
// sign-in created as "Inbox".
class TestStoreFolder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void namesAndIndexes_data();
    void namesAndIndexes();
    void invalidIndexes();
    void resolvesIgnoringCase_data();
    void resolvesIgnoringCase();
    void followsARenamedFolder();
    void userFolderKeepsItsCapitals();

private:
    TestEnvironment m_env;
};

void TestStoreFolder::namesAndIndexes_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("created");
    QTest::addColumn<QString>("addressed");
    QTest::newRow("inbox") << 0 << "Inbox"
                           << "inbox";
    QTest::newRow("outbox") << 1 << "Outbox"
                            << "outbox";
    QTest::newRow("sent") << 2 << "Sent"
                          << "sent";
    QTest::newRow("contacts") << 3 << "Contacts"
                              << "contacts";
}

void TestStoreFolder::namesAndIndexes() {
    QFETCH(int, index);
    QFETCH(QString, created);
    QFETCH(QString, addressed);
    Folder folder = Folder::Inbox;
    QVERIFY(folderFromIndex(index, &folder));
    QCOMPARE(static_cast<int>(folder), index);
    QCOMPARE(folderCreatedName(folder), created);
    QCOMPARE(folderAddressedName(folder), addressed);
}

void TestStoreFolder::invalidIndexes() {
    Folder folder = Folder::Sent;
    QVERIFY(!folderFromIndex(-1, &folder));
    QVERIFY(!folderFromIndex(4, &folder));
    QCOMPARE(folder, Folder::Sent);
}

void TestStoreFolder::resolvesIgnoringCase_data() {
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("resolved");
    QTest::newRow("as created") << QStringList{"Inbox"} << QStringList{} << "Inbox";
    QTest::newRow("lower case only") << QStringList{"inbox"} << QStringList{} << "inbox";
    QTest::newRow("upper case only") << QStringList{"INBOX"} << QStringList{} << "INBOX";
    QTest::newRow("both: created wins")
        << QStringList{"inbox", "Inbox"} << QStringList{} << "Inbox";
    QTest::newRow("none yet") << QStringList{} << QStringList{} << "Inbox";
    QTest::newRow("a file is no folder") << QStringList{} << QStringList{"inbox"} << "Inbox";
    QTest::newRow("other folders ignored")
        << QStringList{"Outbox", "inboxes"} << QStringList{} << "Inbox";
}

void TestStoreFolder::resolvesIgnoringCase() {
    QFETCH(QStringList, folders);
    QFETCH(QStringList, files);
    QFETCH(QString, resolved);
    const QString userFolder =
        makeUserFolder(m_env, QStringLiteral("resolve/") + QTest::currentDataTag(),
                       QStringLiteral("User"), folders);
    QDir().mkpath(userFolder);
    for (const QString& file : files)
        QVERIFY(writeFile(userFolder + QLatin1Char('/') + file, "x"));
    QCOMPARE(resolveFolderName(userFolder, Folder::Inbox), resolved);
    // A second call gives the same answer (from the remembered variant).
    QCOMPARE(resolveFolderName(userFolder, Folder::Inbox), resolved);
}

void TestStoreFolder::followsARenamedFolder() {
    const QString userFolder = makeUserFolder(m_env, QStringLiteral("renamed"),
                                              QStringLiteral("User"), {QStringLiteral("sent")});
    QCOMPARE(resolveFolderName(userFolder, Folder::Sent), QStringLiteral("sent"));
    QVERIFY(QDir(userFolder).rename(QStringLiteral("sent"), QStringLiteral("SENT")));
    QCOMPARE(resolveFolderName(userFolder, Folder::Sent), QStringLiteral("SENT"));
    QVERIFY(QDir(userFolder).rmdir(QStringLiteral("SENT")));
    QCOMPARE(resolveFolderName(userFolder, Folder::Sent), QStringLiteral("Sent"));
}

void TestStoreFolder::userFolderKeepsItsCapitals() {
    const QString userFolder =
        makeUserFolder(m_env, QStringLiteral("Capital Parent"), QStringLiteral("Alice@Example.ORG"),
                       {QStringLiteral("contacts")});
    QCOMPARE(resolvedFolderPath(userFolder, Folder::Contacts),
             userFolder + QStringLiteral("/contacts"));
    QVERIFY(userFolder.contains(QStringLiteral("Capital Parent/Alice@Example.ORG")));
}

QTEST_GUILESS_MAIN(TestStoreFolder)
#include "tst_storefolder.moc"
