#include "serveroptions.h"

#include <QTest>

#include <string>
#include <vector>

// The command line: defaults, every flag in both spellings, and refusals
// that must stop the program rather than run it with a wrong setting.
class TestServerOptions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void defaults();
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void help();
};

namespace {
std::vector<std::string> toArguments(const QStringList& list) {
    std::vector<std::string> arguments;
    for (const QString& item : list)
        arguments.push_back(item.toStdString());
    return arguments;
}
} // namespace

void TestServerOptions::defaults() {
    const CommandLine line = parseCommandLine({});
    QCOMPARE(line.action, CommandLine::Action::Run);
    QCOMPARE(line.options.listenAddress, std::string("127.0.0.1"));
    QCOMPARE(line.options.port, 8080);
    QCOMPARE(line.options.hashStrength, HashStrength::Interactive);
}

void TestServerOptions::accepted_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("data");
    QTest::addColumn<bool>("minimumHash");

    QTest::newRow("separate values") << QStringList{"--listen", "0.0.0.0", "--port",   "9000",
                                                    "--data",   "/tmp/d",  "--pwhash", "min"}
                                     << "0.0.0.0" << 9000 << "/tmp/d" << true;
    QTest::newRow("values after =")
        << QStringList{"--listen=::1", "--port=0", "--data=rel/dir", "--pwhash=interactive"}
        << "::1" << 0 << "rel/dir" << false;
    QTest::newRow("highest port") << QStringList{"--port", "65535"} << "127.0.0.1" << 65535
                                  << "clipnote-data" << false;
    QTest::newRow("last one wins") << QStringList{"--port", "1", "--port", "2"} << "127.0.0.1" << 2
                                   << "clipnote-data" << false;
}

void TestServerOptions::accepted() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(QString, data);
    QFETCH(bool, minimumHash);
    const CommandLine line = parseCommandLine(toArguments(arguments));
    QCOMPARE(line.action, CommandLine::Action::Run);
    QCOMPARE(QString::fromStdString(line.options.listenAddress), address);
    QCOMPARE(line.options.port, port);
    QCOMPARE(QString::fromStdString(line.options.dataFolder.string()), data);
    QCOMPARE(line.options.hashStrength == HashStrength::Minimum, minimumHash);
}

void TestServerOptions::refused_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");

    QTest::newRow("unknown flag") << QStringList{"--verbose"} << "--verbose";
    QTest::newRow("stray word") << QStringList{"8080"} << "8080";
    QTest::newRow("missing value") << QStringList{"--port"} << "--port";
    QTest::newRow("port not a number") << QStringList{"--port", "http"} << "http";
    QTest::newRow("port with trailing text") << QStringList{"--port", "80x"} << "80x";
    QTest::newRow("port negative") << QStringList{"--port", "-1"} << "-1";
    QTest::newRow("port too high") << QStringList{"--port", "65536"} << "65536";
    QTest::newRow("empty port") << QStringList{"--port="} << "--port";
    QTest::newRow("unknown hash level") << QStringList{"--pwhash", "fast"} << "fast";
    QTest::newRow("empty data folder") << QStringList{"--data", ""} << "--data";
    QTest::newRow("empty address") << QStringList{"--listen="} << "--listen";
    QTest::newRow("help with value") << QStringList{"--help=yes"} << "--help";
}

void TestServerOptions::refused() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);
    const CommandLine line = parseCommandLine(toArguments(arguments));
    QCOMPARE(line.action, CommandLine::Action::Fail);
    QVERIFY2(QString::fromStdString(line.error).contains(mentions), line.error.c_str());
}

void TestServerOptions::help() {
    QCOMPARE(parseCommandLine({"--help"}).action, CommandLine::Action::ShowHelp);
    QCOMPARE(parseCommandLine({"--port", "1", "-h"}).action, CommandLine::Action::ShowHelp);
    const QString usage = QString::fromStdString(usageText());
    for (const char* flag : {"--listen", "--port", "--data", "--pwhash", "--help"})
        QVERIFY2(usage.contains(QLatin1String(flag)), flag);
}

QTEST_GUILESS_MAIN(TestServerOptions)
#include "tst_serveroptions.moc"
