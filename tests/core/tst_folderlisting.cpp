#include "store/folderlisting.h"
#include "storefixture.h"

#include <QTest>

// One pass over a folder in file-system order: files in, sub-folders out,
// and the case-insensitive search for one entry.
class TestFolderListing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void listsFilesOnly();
    void missingFolderIsReported();
    void findsEntryIgnoringCase_data();
    void findsEntryIgnoringCase();

private:
    TestEnvironment m_env;
    QString m_folder;
};

void TestFolderListing::initTestCase() {
    m_folder = m_env.makeFolder(QStringLiteral("Listing"));
    for (const char* file :
         {"alice;100.wmv", "bob;200.wmv", "bob;200.jpg", ".hidden", "Alice", "ALICE"})
        QVERIFY(writeFile(m_folder + QLatin1Char('/') + QLatin1String(file), "x"));
    QVERIFY(QDir().mkpath(m_folder + QStringLiteral("/sub.wmv")));
    QVERIFY(QDir().mkpath(m_folder + QStringLiteral("/Folder")));
    QVERIFY(
        QFile::link(m_folder + QStringLiteral("/sub.wmv"), m_folder + QStringLiteral("/to-dir")));
    QVERIFY(QFile::link(m_folder + QStringLiteral("/bob;200.wmv"),
                        m_folder + QStringLiteral("/to-file")));
    QVERIFY(
        QFile::link(m_folder + QStringLiteral("/gone"), m_folder + QStringLiteral("/dangling")));
}

void TestFolderListing::listsFilesOnly() {
    QStringList names = listFileNames(m_folder);
    names.sort();
    const QStringList expected = {".hidden",     "ALICE",       "Alice",    "alice;100.wmv",
                                  "bob;200.jpg", "bob;200.wmv", "dangling", "to-file"};
    QCOMPARE(names, expected);

    // The listing keeps the order the file system gives.
    QStringList unsorted;
    QVERIFY(forEachEntry(m_folder, [&](const char* name, ino_t, bool isFolder) {
        if (!isFolder)
            unsorted.append(QString::fromUtf8(name));
    }));
    QCOMPARE(listFileNames(m_folder), unsorted);
}

void TestFolderListing::missingFolderIsReported() {
    int visits = 0;
    QVERIFY(!forEachEntry(m_folder + QStringLiteral("/none"),
                          [&](const char*, ino_t, bool) { ++visits; }));
    QCOMPARE(visits, 0);
    QVERIFY(listFileNames(m_folder + QStringLiteral("/none")).isEmpty());
}

void TestFolderListing::findsEntryIgnoringCase_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<QString>("found");
    QTest::newRow("exact file") << "alice;100.wmv" << false << "alice;100.wmv";
    QTest::newRow("exact wins over variant") << "Alice" << false << "Alice";
    QTest::newRow("file in other case") << "BOB;200.WMV" << false << "bob;200.wmv";
    QTest::newRow("folder in other case") << "folder" << true << "Folder";
    QTest::newRow("a folder is not a file") << "folder" << false << "";
    QTest::newRow("a file is not a folder") << "alice" << true << "";
    QTest::newRow("absent") << "carol" << false << "";
    QTest::newRow("empty") << "" << false << "";
}

void TestFolderListing::findsEntryIgnoringCase() {
    QFETCH(QString, name);
    QFETCH(bool, folder);
    QFETCH(QString, found);
    QCOMPARE(findEntryIgnoringCase(m_folder, name, folder ? EntryKind::Folder : EntryKind::File),
             found);
}

QTEST_GUILESS_MAIN(TestFolderListing)
#include "tst_folderlisting.moc"
