#include "platform/filestatus.h"
#include "store/folderlisting.h"
#include "testenvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <QTimeZone>

#include <sys/xattr.h>
#include <thread>
#include <vector>

// Read state and date of Inbox files, through extended attributes and through
// the state file used where the file system refuses them. Every test runs
// once per way (the global data rows).
class TestFileStatus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase_data();
    void init();
    void missingFileReportsFailure();
    void newFileIsUnreadWithItsDate();
    void readStatePersists();
    void dateRoundTrips_data();
    void dateRoundTrips();
    void replacedFileStartsUnread();
    void stateLivesOutsideTheFolder();
    void folderScanAgreesWithSingleReads();
    void concurrentMarksAreAllKept();
    void attributeValues_data();
    void attributeValues();
    void damagedStateFileReadsUnread();
    void stateFileForgetsDeletedFiles();
    void awkwardNamesKeepTheirState_data();
    void awkwardNamesKeepTheirState();
    void rememberedStateFollowsTheName();
    void stateFilePath_data();
    void stateFilePath();

private:
    FileStatus::Mode mode() const;
    QString file(const QString& name) const { return m_inbox + QLatin1Char('/') + name; }

    TestEnvironment m_env;
    QString m_userFolder;
    QString m_inbox;
    int m_round = 0;
};

void TestFileStatus::initTestCase_data() {
    QTest::addColumn<bool>("attributes");
    QTest::newRow("extended attributes") << true;
    QTest::newRow("state file") << false;
}

FileStatus::Mode TestFileStatus::mode() const {
    QFETCH_GLOBAL(bool, attributes);
    return attributes ? FileStatus::Mode::Automatic : FileStatus::Mode::StateFileOnly;
}

void TestFileStatus::init() {
    m_userFolder = m_env.makeFolder(QStringLiteral("Status/F%1").arg(++m_round));
    m_inbox = m_userFolder + QStringLiteral("/Inbox");
    QDir().mkpath(m_inbox);
}

void TestFileStatus::missingFileReportsFailure() {
    FileStatus status(mode());
    FileState state;
    QVERIFY(!status.GetStatus(file("gone.wmv"), state));
    qint64 date = 0;
    QVERIFY(!status.GetDate(file("gone.wmv"), date));
    QVERIFY(!status.setRead(file("gone.wmv"), true));
    QVERIFY(!status.markRead(file("gone.wmv")));
    QVERIFY(!status.setDate(file("gone.wmv"), QDateTime::currentDateTime()));
    QVERIFY(!status.isRead(file("gone.wmv")));
    QVERIFY(!QFile::exists(FileStatus::stateFilePath(m_inbox)));
}

void TestFileStatus::newFileIsUnreadWithItsDate() {
    QVERIFY(writeFile(file("alice;1.wmv"), "video"));
    FileStatus status(mode());
    FileState state;
    state.read = true;
    QVERIFY(status.GetStatus(file("alice;1.wmv"), state));
    QVERIFY(!state.read);
    QCOMPARE(state.date, QFileInfo(file("alice;1.wmv")).lastModified());
}

void TestFileStatus::readStatePersists() {
    QVERIFY(writeFile(file("alice;1.wmv"), "video"));
    QVERIFY(writeFile(file("bob;2.wmv"), "video"));
    {
        FileStatus status(mode());
        QVERIFY(status.markRead(file("alice;1.wmv")));
        QVERIFY(status.isRead(file("alice;1.wmv")));
        QVERIFY(!status.isRead(file("bob;2.wmv")));
    }
    FileStatus again(mode());
    FileState state;
    QVERIFY(again.GetStatus(file("alice;1.wmv"), state));
    QVERIFY(state.read);
    QVERIFY(again.setRead(file("alice;1.wmv"), false));
    QVERIFY(!again.isRead(file("alice;1.wmv")));
}

void TestFileStatus::dateRoundTrips_data() {
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<bool>("read");
    QTest::newRow("afternoon") << QDateTime(QDate(2008, 12, 7), QTime(15, 45, 12)) << false;
    QTest::newRow("just after midnight") << QDateTime(QDate(2009, 1, 2), QTime(0, 5)) << true;
    QTest::newRow("milliseconds") << QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59, 999)) << false;
    QTest::newRow("before 1970") << QDateTime(QDate(1969, 12, 31), QTime(23, 59, 59, 500),
                                              QTimeZone::utc())
                                 << true;
}

void TestFileStatus::dateRoundTrips() {
    QFETCH(QDateTime, date);
    QFETCH(bool, read);
    QVERIFY(writeFile(file("alice;1.wmv"), "video"));
    FileStatus status(mode());
    QVERIFY(status.SetStatus(file("alice;1.wmv"), {read, date}));
    FileState state;
    QVERIFY(status.GetStatus(file("alice;1.wmv"), state));
    QCOMPARE(state.date.toMSecsSinceEpoch(), date.toMSecsSinceEpoch());
    QCOMPARE(state.read, read);
    qint64 msecs = 0;
    QVERIFY(status.GetDate(file("alice;1.wmv"), msecs));
    QCOMPARE(msecs, date.toMSecsSinceEpoch());

    // An invalid date leaves the file's date alone.
    QVERIFY(status.SetStatus(file("alice;1.wmv"), {!read, QDateTime()}));
    QVERIFY(status.GetStatus(file("alice;1.wmv"), state));
    QCOMPARE(state.date.toMSecsSinceEpoch(), date.toMSecsSinceEpoch());
    QCOMPARE(state.read, !read);
}

void TestFileStatus::replacedFileStartsUnread() {
    QVERIFY(writeFile(file("alice;1.wmv"), "first"));
    FileStatus status(mode());
    QVERIFY(status.markRead(file("alice;1.wmv")));
    QVERIFY(writeFile(m_userFolder + QStringLiteral("/incoming"), "second"));
    QFile::remove(file("alice;1.wmv"));
    QVERIFY(QFile::rename(m_userFolder + QStringLiteral("/incoming"), file("alice;1.wmv")));
    QVERIFY(!status.isRead(file("alice;1.wmv")));
}

void TestFileStatus::stateLivesOutsideTheFolder() {
    QVERIFY(writeFile(file("alice;1.wmv"), "video"));
    FileStatus status(mode());
    QVERIFY(status.markRead(file("alice;1.wmv")));
    QCOMPARE(QDir(m_inbox).entryList(QDir::Files | QDir::Hidden), QStringList{"alice;1.wmv"});
    const QString stateFile = m_userFolder + QStringLiteral("/.Inbox.status");
    QCOMPARE(FileStatus::stateFilePath(m_inbox), stateFile);
    char value[8] = {};
    const ssize_t n = ::getxattr(QFile::encodeName(file("alice;1.wmv")).constData(),
                                 "user.clipnote.read", value, sizeof value);
    if (mode() == FileStatus::Mode::Automatic) {
        QCOMPARE(QByteArray(value, int(n)), QByteArray("1"));
        QVERIFY(!QFile::exists(stateFile));
    } else {
        QCOMPARE(n, ssize_t(-1));
        QVERIFY(readFile(stateFile).contains(" alice;1.wmv\n"));
    }
}

void TestFileStatus::folderScanAgreesWithSingleReads() {
    FileStatus status(mode());
    for (int i = 0; i < 30; ++i) {
        QVERIFY(writeFile(file(QStringLiteral("u;%1.wmv").arg(i)), "v"));
        if (i % 3 == 0)
            QVERIFY(status.markRead(file(QStringLiteral("u;%1.wmv").arg(i))));
    }
    FileStatus::FolderScan scan = status.scanFolder(m_inbox);
    int read = 0;
    forEachEntry(m_inbox, [&](const char* name, ino_t inode, bool) {
        const bool scanned = scan.isRead(name, inode);
        QCOMPARE(scanned, status.isRead(file(QString::fromUtf8(name))));
        read += scanned ? 1 : 0;
    });
    QCOMPARE(read, 10);
}

void TestFileStatus::concurrentMarksAreAllKept() {
    FileStatus status(mode());
    constexpr int kThreads = 4;
    constexpr int kPerThread = 25;
    for (int i = 0; i < kThreads * kPerThread; ++i)
        QVERIFY(writeFile(file(QStringLiteral("u;%1.wmv").arg(i)), "v"));
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = t * kPerThread; i < (t + 1) * kPerThread; ++i) {
                if (!status.markRead(file(QStringLiteral("u;%1.wmv").arg(i))))
                    ++failures;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    QCOMPARE(failures.load(), 0);
    FileStatus fresh(mode());
    for (int i = 0; i < kThreads * kPerThread; ++i)
        QVERIFY2(fresh.isRead(file(QStringLiteral("u;%1.wmv").arg(i))),
                 qPrintable(QString::number(i)));
}

void TestFileStatus::attributeValues_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("read");
    QTest::newRow("played") << QByteArray("1") << true;
    QTest::newRow("unread") << QByteArray("0") << false;
    QTest::newRow("other text") << QByteArray("yes") << false;
    QTest::newRow("longer value") << QByteArray("11111111") << false;
}

void TestFileStatus::attributeValues() {
    if (mode() != FileStatus::Mode::Automatic)
        QSKIP("only extended attributes carry values");
    QFETCH(QByteArray, value);
    QFETCH(bool, read);
    QVERIFY(writeFile(file("alice;1.wmv"), "video"));
    QCOMPARE(::setxattr(QFile::encodeName(file("alice;1.wmv")).constData(), "user.clipnote.read",
                        value.constData(), size_t(value.size()), 0),
             0);
    FileStatus status(mode());
    QCOMPARE(status.isRead(file("alice;1.wmv")), read);
    FileState state;
    QVERIFY(status.GetStatus(file("alice;1.wmv"), state));
    QCOMPARE(state.read, read);
}

void TestFileStatus::damagedStateFileReadsUnread() {
    if (mode() != FileStatus::Mode::StateFileOnly)
        QSKIP("only the state file can be damaged");
    QVERIFY(writeFile(file("alice;1.wmv"), "video"));
    QVERIFY(writeFile(FileStatus::stateFilePath(m_inbox), "\x01garbage\nalice;1.wmv 1\n"));
    FileStatus status(mode());
    QVERIFY(!status.isRead(file("alice;1.wmv")));
    QVERIFY(status.markRead(file("alice;1.wmv")));
    QVERIFY(FileStatus(mode()).isRead(file("alice;1.wmv")));
}

void TestFileStatus::stateFileForgetsDeletedFiles() {
    if (mode() != FileStatus::Mode::StateFileOnly)
        QSKIP("attributes go with their file");
    FileStatus status(mode());
    for (const char* name : {"a;1.wmv", "b;2.wmv", "c;3.wmv"})
        QVERIFY(writeFile(file(QLatin1String(name)), "v"));
    QVERIFY(status.markRead(file("a;1.wmv")));
    QVERIFY(status.markRead(file("b;2.wmv")));
    QVERIFY(QFile::remove(file("a;1.wmv")));
    QVERIFY(status.markRead(file("c;3.wmv")));
    const QByteArray text = readFile(FileStatus::stateFilePath(m_inbox));
    QVERIFY(!text.contains(" a;1.wmv"));
    QVERIFY(text.contains(" b;2.wmv"));
    QVERIFY(text.contains(" c;3.wmv"));
}

void TestFileStatus::awkwardNamesKeepTheirState_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("blank") << "a b;1.wmv";
    QTest::newRow("percent") << "100%;2.wmv";
    QTest::newRow("newline") << "two\nlines;3.wmv";
    QTest::newRow("non-ASCII") << QStringLiteral("zoë;4.wmv");
}

void TestFileStatus::awkwardNamesKeepTheirState() {
    QFETCH(QString, name);
    QVERIFY(writeFile(file(name), "v"));
    QVERIFY(writeFile(file("plain;5.wmv"), "v"));
    QVERIFY(FileStatus(mode()).markRead(file(name)));
    FileStatus fresh(mode());
    QVERIFY(fresh.isRead(file(name)));
    QVERIFY(!fresh.isRead(file("plain;5.wmv")));
}

void TestFileStatus::rememberedStateFollowsTheName() {
    // A file that takes over a deleted file's inode must not inherit its
    // read state, whatever this object remembers of the old one.
    FileStatus status(mode());
    QVERIFY(writeFile(file("old;1.wmv"), "v"));
    QVERIFY(status.markRead(file("old;1.wmv")));
    FileState state;
    QVERIFY(status.GetStatus(file("old;1.wmv"), state));
    QVERIFY(state.read);
    QVERIFY(QFile::rename(file("old;1.wmv"), file("new;2.wmv")));
    QVERIFY(status.GetStatus(file("new;2.wmv"), state));
    QCOMPARE(state.read, mode() == FileStatus::Mode::Automatic); // the attribute moves with it
    QVERIFY(QFile::remove(file("new;2.wmv")));
    for (int i = 0; i < 5; ++i) {
        QVERIFY(writeFile(file(QStringLiteral("fresh;%1.wmv").arg(i)), "v"));
        QVERIFY(status.GetStatus(file(QStringLiteral("fresh;%1.wmv").arg(i)), state));
        QVERIFY(!state.read);
    }
    int read = 0;
    FileStatus::FolderScan scan = status.scanFolder(m_inbox);
    forEachEntry(m_inbox, [&](const char* name, ino_t inode, bool) {
        read += scan.isRead(name, inode) ? 1 : 0;
    });
    QCOMPARE(read, 0);
}

void TestFileStatus::stateFilePath_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("stateFile");
    QTest::newRow("inbox") << "/home/U/Alice@X.org/Inbox"
                           << "/home/U/Alice@X.org/.Inbox.status";
    QTest::newRow("trailing slash") << "/a/F/inbox/"
                                    << "/a/F/.inbox.status";
    QTest::newRow("relative") << "Inbox"
                              << "./.Inbox.status";
}

void TestFileStatus::stateFilePath() {
    QFETCH(QString, folder);
    QFETCH(QString, stateFile);
    QCOMPARE(FileStatus::stateFilePath(folder), stateFile);
}

QTEST_GUILESS_MAIN(TestFileStatus)
#include "tst_filestatus.moc"
