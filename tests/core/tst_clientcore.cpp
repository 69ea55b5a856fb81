#include "app/clientcore.h"
#include "testenvironment.h"

#include <QDir>
#include <QTest>

// The application folder and the user folder made at sign-in.
class TestClientCore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void applicationFolder_data();
    void applicationFolder();
    void userFolderUnderCapitals();
    void existingUserFolderIsReused();
    void unsafeUserIdCreatesNothing_data();
    void unsafeUserIdCreatesNothing();
    void serviceAddress_data();
    void serviceAddress();

private:
    TestEnvironment m_env;
};

void TestClientCore::applicationFolder_data() {
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("folder");
    QTest::newRow("root") << "/"
                          << "";
    QTest::newRow("plain") << "/home/Alice/Videos"
                           << "/home/Alice/Videos";
    QTest::newRow("trailing slash") << "/home/alice/"
                                    << "/home/alice";
}

void TestClientCore::applicationFolder() {
    QFETCH(QString, current);
    QFETCH(QString, folder);
    ClientCore core;
    core.takeApplicationFolder(current);
    QCOMPARE(core.m_strFolder, folder);
}

void TestClientCore::userFolderUnderCapitals() {
    const QString base = m_env.makeFolder(QStringLiteral("Home Of/Alice"));
    ClientCore core;
    core.takeApplicationFolder(base);
    core.m_strUserId = QStringLiteral("Alice@Example.org");
    QVERIFY(core.enterUserFolder());
    QCOMPARE(core.m_strFolder, base + QStringLiteral("/Alice@Example.org"));
    for (const char* name : {"Inbox", "Outbox", "Sent", "Contacts"})
        QVERIFY2(QDir(core.m_strFolder + QLatin1Char('/') + QLatin1String(name)).exists(), name);
}

void TestClientCore::existingUserFolderIsReused() {
    const QString base = m_env.makeFolder(QStringLiteral("reuse"));
    QVERIFY(writeFile(base + QStringLiteral("/bob@example.org/Inbox/alice;1.wmv"), "video"));
    ClientCore core;
    core.takeApplicationFolder(base);
    core.m_strUserId = QStringLiteral("bob@example.org");
    core.enterUserFolder();
    QCOMPARE(readFile(core.m_strFolder + QStringLiteral("/Inbox/alice;1.wmv")),
             QByteArray("video"));
}

void TestClientCore::unsafeUserIdCreatesNothing_data() {
    QTest::addColumn<QString>("userId");
    QTest::newRow("parent") << "..";
    QTest::newRow("climbs out") << "../outside";
    QTest::newRow("slash") << "a/b@example.org";
    QTest::newRow("empty") << "";
}

void TestClientCore::unsafeUserIdCreatesNothing() {
    QFETCH(QString, userId);
    const QString base = m_env.makeFolder(QStringLiteral("unsafe/start"));
    ClientCore core;
    core.takeApplicationFolder(base);
    core.m_strUserId = userId;
    QVERIFY(!core.enterUserFolder());
    QCOMPARE(core.m_strFolder, base);
    QCOMPARE(QDir(base).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QVERIFY(!QDir(m_env.root() + QStringLiteral("/unsafe/outside")).exists());
}

void TestClientCore::serviceAddress_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("base");
    QTest::newRow("default") << QStringList{"clipnote"} << ""
                             << "http://127.0.0.1:8080/";
    QTest::newRow("environment") << QStringList{"clipnote"} << "http://10.0.0.2:81"
                                 << "http://10.0.0.2:81/";
    QTest::newRow("option wins") << QStringList{"clipnote", "--service", "http://h:9/"}
                                 << "http://10.0.0.2:81"
                                 << "http://h:9/";
    QTest::newRow("option with =") << QStringList{"clipnote", "--service=http://h:9/x"} << ""
                                   << "http://h:9/x/";
}

void TestClientCore::serviceAddress() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, environment);
    QFETCH(QString, base);
    qputenv("CLIPNOTE_SERVICE", environment.toUtf8());
    const ServiceAddress address = ServiceAddress::fromArguments(arguments);
    qunsetenv("CLIPNOTE_SERVICE");
    QCOMPARE(address.baseUrl(), base);
    QCOMPARE(address.pageUrl(QStringLiteral("zeb/ad.asp")), base + QStringLiteral("zeb/ad.asp"));
}

QTEST_GUILESS_MAIN(TestClientCore)
#include "tst_clientcore.moc"
