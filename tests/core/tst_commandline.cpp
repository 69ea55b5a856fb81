#include "app/commandline.h"

#include <QTest>

using Action = ClientCommandLine::Action;
Q_DECLARE_METATYPE(ClientCommandLine::Action)

// The client's command line is read before any window exists: what it runs,
// and the mistakes it must stop at rather than start with a wrong setting.
class TestCommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void usageNamesEveryOption();
};

void TestCommandLine::accepted_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");

    QTest::newRow("nothing") << QStringList{} << Action::Window;
    QTest::newRow("service and CA file")
        << QStringList{"--service", "https://h.example:8443/", "--ca-file", "ca.pem"}
        << Action::Window;
    QTest::newRow("values after =")
        << QStringList{"--service=http://127.0.0.1:1/", "--ca-file=c"} << Action::Window;
    QTest::newRow("Qt's options") << QStringList{"-platform", "offscreen", "--style=Fusion",
                                                 "-reverse",  "-display",  ":1"}
                                  << Action::Window;
    // The value of Qt's option is Qt's, even when it looks like one of ours.
    QTest::newRow("Qt's value not read as ours")
        << QStringList{"-qwindowtitle", "--sync-once"} << Action::Window;
    QTest::newRow("sync once with all its options")
        << QStringList{"--sync-once",    "--user", "alice", "--password-file", "pw",
                       "--retry-failed", "--wait", "5",     "--service",       "http://h/"}
        << Action::SyncOnce;
    QTest::newRow("sync once after its options")
        << QStringList{"--user=alice", "--wait=0", "--sync-once"} << Action::SyncOnce;
    QTest::newRow("help") << QStringList{"--help"} << Action::ShowHelp;
    QTest::newRow("short help among options")
        << QStringList{"--service", "http://h/", "-h"} << Action::ShowHelp;
    QTest::newRow("help beside a sync-only option")
        << QStringList{"--user", "alice", "--help"} << Action::ShowHelp;
    QTest::newRow("version") << QStringList{"--version"} << Action::ShowVersion;
    QTest::newRow("short version") << QStringList{"-v"} << Action::ShowVersion;
    QTest::newRow("help wins over version") << QStringList{"-v", "--help"} << Action::ShowHelp;
}

void TestCommandLine::accepted() {
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);
    const ClientCommandLine line = parseClientCommandLine(arguments);
    QVERIFY2(line.error.isEmpty(), qPrintable(line.error));
    QCOMPARE(line.action, action);
}

void TestCommandLine::refused_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");

    QTest::newRow("unknown option") << QStringList{"--verbose"} << "--verbose";
    QTest::newRow("unknown option with value") << QStringList{"--colour=red"} << "--colour";
    QTest::newRow("unknown short option") << QStringList{"-x"} << "-x";
    QTest::newRow("stray word") << QStringList{"alice"} << "alice";
    QTest::newRow("unknown before help") << QStringList{"--bogus", "--help"} << "--bogus";
    QTest::newRow("service without value") << QStringList{"--service"} << "--service";
    QTest::newRow("empty CA file") << QStringList{"--ca-file="} << "--ca-file";
    QTest::newRow("service without scheme")
        << QStringList{"--service", "localhost:8080"} << "localhost:8080";
    QTest::newRow("service of another scheme") << QStringList{"--service=ftp://h/"} << "ftp://h/";
    QTest::newRow("wait not a number")
        << QStringList{"--sync-once", "--user", "a", "--wait", "soon"} << "soon";
    QTest::newRow("negative wait")
        << QStringList{"--sync-once", "--user", "a", "--wait=-1"} << "-1";
    QTest::newRow("user without sync once") << QStringList{"--user", "alice"} << "--sync-once";
    QTest::newRow("retry without sync once") << QStringList{"--retry-failed"} << "--retry-failed";
    QTest::newRow("flag with value") << QStringList{"--sync-once=yes"} << "--sync-once";
    QTest::newRow("help with value") << QStringList{"--help=all"} << "--help";
    QTest::newRow("Qt's option without value") << QStringList{"-platform"} << "-platform";
}

void TestCommandLine::refused() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);
    const ClientCommandLine line = parseClientCommandLine(arguments);
    QCOMPARE(line.action, Action::Fail);
    QVERIFY2(line.error.contains(mentions), qPrintable(line.error));
}

void TestCommandLine::usageNamesEveryOption() {
    const QString usage = clientUsageText();
    QVERIFY(usage.startsWith(QLatin1String("Usage: clipnote ")));
    for (const char* name :
         {"--service", "--ca-file", "--sync-once", "--user", "--password-file", "--retry-failed",
          "--wait", "--help", "--version", "CLIPNOTE_SERVICE", "CLIPNOTE_CA_FILE",
          "CLIPNOTE_CAMERA", "CLIPNOTE_MICROPHONE", CLIPNOTE_DEFAULT_SERVICE})
        QVERIFY2(usage.contains(QLatin1String(name)), name);
    QCOMPARE(clientVersionText(), QStringLiteral("clipnote %1\n").arg(clipnoteVersion()));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
