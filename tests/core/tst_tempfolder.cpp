#include "app/clientcore.h"
#include "platform/tempfolder.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Entry {
    bool exists = false;
    bool folder = false;
    int mode = -1;
    uid_t owner = 0;
};

Entry entryAt(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {true, S_ISDIR(st.st_mode), int(st.st_mode & 07777), st.st_uid};
}

QString programFolderUnder(const QString& base) {
    return base + QStringLiteral("/clipnote-%1").arg(::geteuid());
}

// The uid of "nobody", or 0 when there is none.
uid_t nobody() {
    const passwd* entry = ::getpwnam("nobody");
    return entry ? entry->pw_uid : 0;
}

} // namespace

// The private working folder: one per user ID under the runtime or the
// temporary folder, the current user's alone, never one that someone else
// controls.
class TestTempFolder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void folderPerUserId_data();
    void folderPerUserId();
    void ownFolderIsNarrowed();
    void refusedFolders_data();
    void refusedFolders();
    void unsafeUserIds_data();
    void unsafeUserIds();
    void followsTheSignedInUser();

private:
    TestEnvironment m_env;
    QString m_runtime;
};

void TestTempFolder::init() {
    m_runtime = m_env.makeFolder(QStringLiteral("runtime"));
    QDir(m_env.tempFolder()).removeRecursively();
    QDir().mkpath(m_env.tempFolder());
    qunsetenv("XDG_RUNTIME_DIR");
}

void TestTempFolder::cleanup() {
    qunsetenv("XDG_RUNTIME_DIR");
}

void TestTempFolder::folderPerUserId_data() {
    QTest::addColumn<bool>("runtimeSet");
    QTest::newRow("under XDG_RUNTIME_DIR") << true;
    QTest::newRow("under the temporary folder") << false;
}

void TestTempFolder::folderPerUserId() {
    QFETCH(bool, runtimeSet);
    if (runtimeSet)
        qputenv("XDG_RUNTIME_DIR", m_runtime.toLocal8Bit());
    const QString base = runtimeSet ? m_runtime : m_env.tempFolder();
    const QString mine = programFolderUnder(base);
    const QString alice = privateWorkingFolder(QStringLiteral("alice@example.org"));
    const QString bob = privateWorkingFolder(QStringLiteral("bob@example.org"));
    QCOMPARE(alice, mine + QStringLiteral("/alice@example.org/"));
    QCOMPARE(bob, mine + QStringLiteral("/bob@example.org/"));
    for (const QString& folder : {mine, alice, bob}) {
        const Entry entry = entryAt(folder);
        QVERIFY2(entry.folder, qPrintable(folder));
        QCOMPARE(entry.mode, 0700);
        QCOMPARE(entry.owner, ::geteuid());
    }
    // Nothing lands in the shared folder itself.
    QCOMPARE(QDir(base).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("clipnote-%1").arg(::geteuid())});
}

void TestTempFolder::ownFolderIsNarrowed() {
    const QString mine = programFolderUnder(m_env.tempFolder());
    QVERIFY(QDir().mkpath(mine + QStringLiteral("/alice@example.org")));
    for (const QString& folder : {mine, mine + QStringLiteral("/alice@example.org")})
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0777) == 0);
    QCOMPARE(privateWorkingFolder(QStringLiteral("alice@example.org")),
             mine + QStringLiteral("/alice@example.org/"));
    QCOMPARE(entryAt(mine).mode, 0700);
    QCOMPARE(entryAt(mine + QStringLiteral("/alice@example.org")).mode, 0700);
}

void TestTempFolder::refusedFolders_data() {
    QTest::addColumn<QString>("level"); // "program" or "user"
    QTest::addColumn<QString>("kind");  // "link", "file" or "foreign"
    QTest::newRow("program folder is a link") << "program"
                                              << "link";
    QTest::newRow("user's folder is a link") << "user"
                                             << "link";
    QTest::newRow("program folder is a file") << "program"
                                              << "file";
    QTest::newRow("program folder owned by nobody") << "program"
                                                    << "foreign";
    QTest::newRow("user's folder owned by nobody") << "user"
                                                   << "foreign";
}

void TestTempFolder::refusedFolders() {
    QFETCH(QString, level);
    QFETCH(QString, kind);
    const QString mine = programFolderUnder(m_env.tempFolder());
    const QString planted =
        level == QLatin1String("program") ? mine : mine + QStringLiteral("/alice@example.org");
    if (level == QLatin1String("user"))
        QVERIFY(QDir().mkpath(mine));
    // Someone else's folder, which would see every recording put there.
    const QString elsewhere = m_env.makeFolder(QStringLiteral("elsewhere"));
    if (kind == QLatin1String("link")) {
        QVERIFY(QFile::link(elsewhere, planted));
    } else if (kind == QLatin1String("file")) {
        QVERIFY(writeFile(planted, "not a folder"));
    } else {
        if (::geteuid() != 0 || nobody() == 0)
            QSKIP("giving a folder to another user needs root and a user nobody");
        QVERIFY(QDir().mkdir(planted, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(::chown(QFile::encodeName(planted).constData(), nobody(), gid_t(-1)), 0);
    }
    QString error;
    QCOMPARE(privateWorkingFolder(QStringLiteral("alice@example.org"), &error), QString());
    QVERIFY2(error.contains(planted), qPrintable(error));
    QCOMPARE(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    if (kind == QLatin1String("foreign"))
        QCOMPARE(entryAt(planted).owner, nobody());
}

void TestTempFolder::unsafeUserIds_data() {
    QTest::addColumn<QString>("userId");
    QTest::newRow("parent") << "..";
    QTest::newRow("climbs out") << "../alice@example.org";
    QTest::newRow("empty") << "";
}

void TestTempFolder::unsafeUserIds() {
    QFETCH(QString, userId);
    QString error;
    QCOMPARE(privateWorkingFolder(userId, &error), QString());
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFileInfo::exists(m_env.tempFolder() + QStringLiteral("/alice@example.org")));
}

void TestTempFolder::followsTheSignedInUser() {
    ClientCore core;
    // Before sign-in there is no folder, so nothing can be written.
    QCOMPARE(GetTempPath(), QString());
    core.m_strUserId = QStringLiteral("alice@example.org");
    const QString alice = GetTempPath();
    QCOMPARE(alice, privateWorkingFolder(QStringLiteral("alice@example.org")));
    QVERIFY(writeFile(alice + QStringLiteral("vnote.wmv"), "alice's recording"));
    // Another user of the same program never sees it.
    core.m_strUserId = QStringLiteral("bob@example.org");
    const QString bob = GetTempPath();
    QCOMPARE(bob, privateWorkingFolder(QStringLiteral("bob@example.org")));
    QVERIFY(!QFile::exists(bob + QStringLiteral("vnote.wmv")));
}

QTEST_MAIN(TestTempFolder)
#include "tst_tempfolder.moc"
