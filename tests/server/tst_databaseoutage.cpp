// The service while its PostgreSQL database goes away and comes back: every
// page answers a plain error (never "OK"), the server keeps running, and it
// serves again once the database is back, without a restart.
#include "postgrescluster.h"
#include "serverprocess.h"

#include <QTest>

class TestDatabaseOutage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pagesFailPlainlyAndRecover();
};

void TestDatabaseOutage::pagesFailPlainlyAndRecover() {
    if (!PostgresCluster::testsUsePostgres())
        QSKIP("runs against the PostgreSQL cluster only: a SQLite file does not go away");
    ServerProcess server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const QString alice = QStringLiteral("alice@example.org");
    const QString password = server.createAccount(alice);
    QVERIFY(!password.isEmpty());
    const QByteArray cookie = server.signIn(alice, password);
    QVERIFY(!cookie.isEmpty());
    const QByteArray signIn =
        "/zeb/login.asp?UID=" + pageValue(alice) + "&PW=" + pageValue(password);

    PostgresCluster* cluster = PostgresCluster::shared();
    QVERIFY(cluster->stop());
    for (const QByteArray& page : {signIn, QByteArray("/zeb/download.asp?id=") + pageValue(alice),
                                   QByteArray("/zeb/reg.asp?UID=carol%40example.org")}) {
        const SimpleHttpReply reply = server.get(page, cookie);
        QVERIFY2(!reply.body.startsWith("OK"), page.constData());
        QVERIFY2(reply.status == 500 || reply.body.startsWith("ERROR"), reply.body.constData());
    }
    QVERIFY(server.isRunning());

    QVERIFY2(cluster->restart(), qPrintable(cluster->errorString()));
    // A connection notices the restart at its next statement and opens again.
    QTRY_VERIFY_WITH_TIMEOUT(server.get(signIn).body.startsWith("OK"), 20000);
    QVERIFY(server.get("/zeb/download.asp?id=" + pageValue(alice), cookie)
                .body.startsWith("ERROR: No message"));
}

QTEST_GUILESS_MAIN(TestDatabaseOutage)
#include "tst_databaseoutage.moc"
