#include "app/clientcore.h"
#include "app/synconce.h"
#include "app/userfolderlock.h"
#include "scriptedserver.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <cstdio>

namespace {

// Run as `<this test> --hold <user folder>`, the program takes the lock,
// says so on standard output and holds it until it is killed or its
// standard input is closed.
constexpr char kHoldArgument[] = "--hold";

int holdLock(const QString& userFolder) {
    UserFolderLock lock;
    if (lock.take(userFolder) != UserFolderLock::Result::Taken)
        return 1;
    std::printf("held\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}

} // namespace

// One program per user folder: a second one is refused while the first
// runs, and the lock of a program that died is taken over.
class TestUserFolderLock : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void secondHolderRefused_data();
    void secondHolderRefused();
    void releasedWithItsHolder();
    void staleLockOfAKilledProgram_data();
    void staleLockOfAKilledProgram();
    void claimRefusesAFolderInUse_data();
    void claimRefusesAFolderInUse();
    void syncOnceRefusedWhileInUse();

private:
    // Starts a program holding the lock; false when it never says so.
    bool startHolder(QProcess& holder, const QString& userFolder);
    TestEnvironment m_env;
};

bool TestUserFolderLock::startHolder(QProcess& holder, const QString& userFolder) {
    holder.start(QCoreApplication::applicationFilePath(),
                 {QLatin1String(kHoldArgument), userFolder});
    if (!holder.waitForStarted(30000))
        return false;
    while (!holder.canReadLine())
        if (!holder.waitForReadyRead(30000))
            return false;
    return holder.readLine().trimmed() == "held";
}

void TestUserFolderLock::secondHolderRefused_data() {
    QTest::addColumn<bool>("otherProcess");
    QTest::newRow("held in this program") << false;
    QTest::newRow("held by another program") << true;
}

void TestUserFolderLock::secondHolderRefused() {
    QFETCH(bool, otherProcess);
    const QString folder = m_env.makeFolder(QStringLiteral("in use/alice@example.org"));
    UserFolderLock first;
    QProcess holder;
    if (otherProcess)
        QVERIFY(startHolder(holder, folder));
    else
        QCOMPARE(first.take(folder), UserFolderLock::Result::Taken);
    UserFolderLock second;
    QCOMPARE(second.take(folder), UserFolderLock::Result::InUse);
    QVERIFY(!second.held());
    // Another user folder is free all the same.
    const QString other = m_env.makeFolder(QStringLiteral("in use/bob@example.org"));
    QCOMPARE(second.take(other), UserFolderLock::Result::Taken);
    if (otherProcess) {
        holder.kill();
        QVERIFY(holder.waitForFinished(30000));
    }
}

void TestUserFolderLock::releasedWithItsHolder() {
    const QString folder = m_env.makeFolder(QStringLiteral("released/alice@example.org"));
    {
        UserFolderLock first;
        QCOMPARE(first.take(folder), UserFolderLock::Result::Taken);
        QVERIFY(first.held());
    }
    UserFolderLock next;
    QCOMPARE(next.take(folder), UserFolderLock::Result::Taken);
}

void TestUserFolderLock::staleLockOfAKilledProgram_data() {
    QTest::addColumn<QByteArray>("leftInFile");
    QTest::newRow("as its holder left it") << QByteArray();
    // A program killed while it was writing its lock file.
    QTest::newRow("emptied") << QByteArray("");
    QTest::newRow("garbage") << QByteArray("\x01\x02 not a lock");
}

void TestUserFolderLock::staleLockOfAKilledProgram() {
    QFETCH(QByteArray, leftInFile);
    const QString folder = m_env.makeFolder(QStringLiteral("stale/alice@example.org"));
    QProcess holder;
    QVERIFY(startHolder(holder, folder));
    holder.kill();
    QVERIFY(holder.waitForFinished(30000));
    // The killed program could not remove its lock file.
    QVERIFY(QFile::exists(UserFolderLock::lockFilePath(folder)));
    if (!leftInFile.isNull())
        QVERIFY(writeFile(UserFolderLock::lockFilePath(folder), leftInFile));
    UserFolderLock next;
    QCOMPARE(next.take(folder), UserFolderLock::Result::Taken);
    QVERIFY(next.held());
}

void TestUserFolderLock::claimRefusesAFolderInUse_data() {
    QTest::addColumn<QString>("secondStart");
    QTest::addColumn<QString>("mentioned"); // what the refusal names
    // Both would run a worker on one Outbox.
    QTest::newRow("same user folder") << "claim/one"
                                      << "claim/one/alice@example.org";
    // Both would record into the one private working folder.
    QTest::newRow("same user, another start folder") << "claim/two"
                                                     << "clipnote-";
}

void TestUserFolderLock::claimRefusesAFolderInUse() {
    QFETCH(QString, secondStart);
    QFETCH(QString, mentioned);
    QDir(m_env.root() + QStringLiteral("/claim")).removeRecursively();
    auto claimFrom = [this](ClientCore& core, const QString& start, QString* message) {
        QDir().mkpath(m_env.root() + u'/' + start);
        core.takeApplicationFolder(m_env.root() + u'/' + start);
        core.m_strUserId = QStringLiteral("alice@example.org");
        if (!core.enterUserFolder())
            return ClientCore::FolderClaim::Unusable;
        return core.claimUserFolder(message);
    };
    QString message;
    ClientCore first;
    QCOMPARE(claimFrom(first, QStringLiteral("claim/one"), &message),
             ClientCore::FolderClaim::Taken);
    ClientCore second;
    QCOMPARE(claimFrom(second, secondStart, &message), ClientCore::FolderClaim::InUse);
    QVERIFY2(message.contains(mentioned), qPrintable(message));
}

void TestUserFolderLock::syncOnceRefusedWhileInUse() {
    const QString start = m_env.makeFolder(QStringLiteral("sync"));
    const QString folder = start + QStringLiteral("/alice@example.org");
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/Outbox")));
    QVERIFY(writeFile(folder + QStringLiteral("/Outbox/bob;alice@example.org;1"), "video"));
    QVERIFY(writeFile(start + QStringLiteral("/password"), "secret\n"));
    UserFolderLock window;
    QCOMPARE(window.take(folder), UserFolderLock::Result::Taken);
    ScriptedServer service;
    service.enqueue(ScriptedServer::http(200, "text/html", "OK"));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(start));
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = runSyncOnce(
        {QStringLiteral("clipnote"), QStringLiteral("--sync-once"), QStringLiteral("--user"),
         QStringLiteral("alice@example.org"), QStringLiteral("--password-file"),
         start + QStringLiteral("/password"), QStringLiteral("--service"), service.baseUrl()},
        nullptr, out, err);
    QDir::setCurrent(before);
    QByteArray message(4096, '\0');
    std::rewind(err);
    message.truncate(qsizetype(std::fread(message.data(), 1, message.size(), err)));
    std::fclose(out);
    std::fclose(err);
    QCOMPARE(status, 6);
    QVERIFY2(message.contains(folder.toUtf8()), message.constData());
    // Nothing was sent past the sign-in: the window's worker owns the Outbox.
    QCOMPARE(service.requests().size(), 1);
    QVERIFY(QFile::exists(folder + QStringLiteral("/Outbox/bob;alice@example.org;1")));
}

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], kHoldArgument) == 0) {
        QCoreApplication app(argc, argv);
        return holdLock(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    TestUserFolderLock test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_userfolderlock.moc"
