#include "service/serviceaddress.h"
#include "store/contactstore.h"
#include "storefixture.h"

#include <QTest>

// Contact files: display names in both written forms, the built-in contacts,
// adding, deleting, pictures, case-insensitive IDs and refused IDs.
class TestContactStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void displayNames_data();
    void displayNames();
    void listingSkipsPicturesAndUnreadable();
    void builtInsWhenEmpty();
    void addWritesBareBytes();
    void addIfNewLeavesExisting_data();
    void addIfNewLeavesExisting();
    void pictureAloneIsNoContact();
    void removeTakesPictureToo();
    void pictureFollowsTheContactsCase();
    void unsafeIdsTouchNothing_data();
    void unsafeIdsTouchNothing();

private:
    QString contactFile(const QString& id) const { return m_contacts + QLatin1Char('/') + id; }

    TestEnvironment m_env;
    QString m_userFolder;
    QString m_contacts;
    int m_round = 0;
};

void TestContactStore::init() {
    m_userFolder = makeUserFolder(m_env, QStringLiteral("Parent %1").arg(++m_round),
                                  QStringLiteral("Alice@Example.ORG"));
    m_contacts = m_userFolder + QStringLiteral("/Contacts");
}

void TestContactStore::displayNames_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("preview");
    QByteArray meRecord("Me");
    meRecord.resize(259, '\0');
    const QByteArray long300(300, 'x');
    QTest::newRow("bare name") << QByteArray("Bob Builder") << "Bob Builder"
                               << "Bob Builder";
    QTest::newRow("259-byte record") << meRecord << "Me"
                                     << "Me";
    QTest::newRow("empty file") << QByteArray() << ""
                                << "";
    QTest::newRow("cut at 259 and 254") << long300 << QString(259, 'x') << QString(254, 'x');
    QTest::newRow("up to the first zero") << QByteArray("Bob\0junk", 8) << "Bob"
                                          << "Bob";
    QTest::newRow("UTF-8") << QByteArray("Zo\xc3\xab") << QStringLiteral("Zoë")
                           << QStringLiteral("Zoë");
}

void TestContactStore::displayNames() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, listed);
    QFETCH(QString, preview);
    QVERIFY(writeFile(contactFile("bob@x.org"), bytes));
    ContactStore store(m_userFolder);
    QCOMPARE(store.readDisplayName(QStringLiteral("bob@x.org")), std::optional<QString>(listed));
    QCOMPARE(store.readDisplayName(QStringLiteral("bob@x.org"), kPreviewNameBytes),
             std::optional<QString>(preview));
    QCOMPARE(store.list(), (QList<Contact>{{"bob@x.org", listed}}));
    QCOMPARE(store.readDisplayName(QStringLiteral("nobody")), std::nullopt);
}

void TestContactStore::listingSkipsPicturesAndUnreadable() {
    QVERIFY(writeFile(contactFile("bob"), "Bob"));
    QVERIFY(writeFile(contactFile("bob.jpg"), "jpeg"));
    QVERIFY(writeFile(contactFile("CAROL.JPG"), "jpeg"));
    QVERIFY(writeFile(contactFile("dave.Jpg"), "jpeg"));
    QVERIFY(QDir().mkpath(contactFile("folder")));
    QVERIFY(QFile::link(contactFile("gone"), contactFile("dangling")));
    QCOMPARE(ContactStore(m_userFolder).list(), (QList<Contact>{{"bob", "Bob"}}));
}

void TestContactStore::builtInsWhenEmpty() {
    ContactStore store(m_userFolder);
    const QString admin = QLatin1String(kAdministratorAddress);
    const QList<Contact> builtIns = {{"Alice@Example.ORG", "Me"}, {admin, "Ostrand Administrator"}};
    QCOMPARE(store.listOrCreateBuiltIns(QStringLiteral("Alice@Example.ORG")), builtIns);
    QCOMPARE(QFileInfo(contactFile("Alice@Example.ORG")).size(), 259);
    QCOMPARE(QFileInfo(contactFile(admin)).size(), 259);
    QByteArray record("Ostrand Administrator");
    record.resize(259, '\0');
    QCOMPARE(readFile(contactFile(admin)), record);

    // A folder with contacts gets nothing more.
    QVERIFY(QFile::remove(contactFile(admin)));
    QCOMPARE(store.listOrCreateBuiltIns(QStringLiteral("Alice@Example.ORG")).size(), 1);
    QVERIFY(!QFile::exists(contactFile(admin)));

    // Deleting every contact brings them back on the next listing.
    store.remove(QStringLiteral("Alice@Example.ORG"));
    QVERIFY(store.list().isEmpty());
    QCOMPARE(store.listOrCreateBuiltIns(QStringLiteral("Alice@Example.ORG")), builtIns);
}

void TestContactStore::addWritesBareBytes() {
    ContactStore store(m_userFolder);
    QVERIFY(store.add(QStringLiteral("bob@x.org"), QStringLiteral("Bob")));
    QCOMPARE(readFile(contactFile("bob@x.org")), QByteArray("Bob"));
    QVERIFY(store.add(QStringLiteral("bob@x.org"), QStringLiteral("Robert")));
    QCOMPARE(readFile(contactFile("bob@x.org")), QByteArray("Robert"));
    // Another letter case is the same contact.
    QVERIFY(store.add(QStringLiteral("BOB@X.ORG"), QStringLiteral("Rob")));
    QCOMPARE(filesIn(m_contacts), QStringList{"bob@x.org"});
    QCOMPARE(readFile(contactFile("bob@x.org")), QByteArray("Rob"));
    QCOMPARE(filesIn(m_userFolder), QStringList{});
}

void TestContactStore::addIfNewLeavesExisting_data() {
    QTest::addColumn<QString>("existing");
    QTest::addColumn<QString>("added");
    QTest::addColumn<int>("result");
    QTest::newRow("new") << ""
                         << "alice" << int(ContactStore::AddResult::Added);
    QTest::newRow("same ID") << "alice"
                             << "alice" << int(ContactStore::AddResult::AlreadyExists);
    QTest::newRow("other case") << "Alice"
                                << "alice" << int(ContactStore::AddResult::AlreadyExists);
    QTest::newRow("unsafe ID") << ""
                               << "../alice" << int(ContactStore::AddResult::Failed);
}

void TestContactStore::addIfNewLeavesExisting() {
    QFETCH(QString, existing);
    QFETCH(QString, added);
    QFETCH(int, result);
    if (!existing.isEmpty())
        QVERIFY(writeFile(contactFile(existing), "Old Name"));
    ContactStore store(m_userFolder);
    QCOMPARE(int(store.addIfNew(added, QStringLiteral("New Name"))), result);
    if (!existing.isEmpty())
        QCOMPARE(readFile(contactFile(existing)), QByteArray("Old Name"));
    else if (result == int(ContactStore::AddResult::Added))
        QCOMPARE(readFile(contactFile(added)), QByteArray("New Name"));
}

void TestContactStore::pictureAloneIsNoContact() {
    QVERIFY(writeFile(contactFile("bob.jpg"), "jpeg"));
    QVERIFY(QDir().mkpath(contactFile("carol")));
    QVERIFY(writeFile(contactFile("Dave@X.org"), "Dave"));
    ContactStore store(m_userFolder);
    QVERIFY(!store.isContact(QStringLiteral("bob")));
    QVERIFY(!store.isContact(QStringLiteral("carol")));
    QVERIFY(store.isContact(QStringLiteral("dave@x.org")));
    QVERIFY(!store.isContact(QString()));
}

void TestContactStore::removeTakesPictureToo() {
    QVERIFY(writeFile(contactFile("bob"), "Bob"));
    QVERIFY(writeFile(contactFile("bob.jpg"), "jpeg"));
    QVERIFY(writeFile(contactFile("carol"), "Carol"));
    ContactStore(m_userFolder).remove(QStringLiteral("bob"));
    QCOMPARE(filesIn(m_contacts), QStringList{"carol"});
}

void TestContactStore::pictureFollowsTheContactsCase() {
    QVERIFY(writeFile(m_userFolder + QStringLiteral("/thumb"), "new jpeg"));
    QVERIFY(writeFile(contactFile("Alice"), "Alice"));
    QVERIFY(writeFile(contactFile("Alice.jpg"), "old jpeg"));
    ContactStore store(m_userFolder);
    QVERIFY(store.storePicture(QStringLiteral("alice"), m_userFolder + QStringLiteral("/thumb")));
    QCOMPARE(readFile(contactFile("Alice.jpg")), QByteArray("new jpeg"));
    QCOMPARE(store.picturePath(QStringLiteral("ALICE")), contactFile("Alice.jpg"));
    // A sender who is no contact still gets a picture.
    QVERIFY(store.storePicture(QStringLiteral("bob"), m_userFolder + QStringLiteral("/thumb")));
    QCOMPARE(filesIn(m_contacts), (QStringList{"Alice", "Alice.jpg", "bob.jpg"}));
}

void TestContactStore::unsafeIdsTouchNothing_data() {
    QTest::addColumn<QString>("id");
    QTest::newRow("empty") << QString();
    QTest::newRow("dot") << ".";
    QTest::newRow("dot dot") << "..";
    QTest::newRow("climbs out") << "../../outside";
    QTest::newRow("into a folder") << "sub/x";
    QTest::newRow("NUL") << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
}

void TestContactStore::unsafeIdsTouchNothing() {
    QFETCH(QString, id);
    QVERIFY(writeFile(m_userFolder + QStringLiteral("/thumb"), "jpeg"));
    // Files an unchecked ID would reach, to see that none is touched.
    for (const char* bait : {"sub/x", "sub/x.jpg", "../../outside", "../../outside.jpg"})
        QVERIFY(writeFile(contactFile(QLatin1String(bait)), "bait"));
    const auto before = snapshotTree(m_env.root());
    ContactStore store(m_userFolder);
    QVERIFY(!store.add(id, QStringLiteral("Evil")));
    QCOMPARE(int(store.addIfNew(id, QStringLiteral("Evil"))), int(ContactStore::AddResult::Failed));
    QVERIFY(!store.storePicture(id, m_userFolder + QStringLiteral("/thumb")));
    QVERIFY(!store.isContact(id));
    QCOMPARE(store.readDisplayName(id), std::nullopt);
    store.remove(id);
    QCOMPARE(snapshotTree(m_env.root()), before);
}

QTEST_GUILESS_MAIN(TestContactStore)
#include "tst_contactstore.moc"
