#include "serveroptions.h"

#include <QMap>
#include <QRegularExpression>
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
    void limits_data();
    void limits();
    void refused_data();
    void refused();
    void help();
    void version();
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
    QCOMPARE(line.options.queueLimits.files, std::uint64_t(500));
    QCOMPARE(line.options.queueLimits.bytes, std::uint64_t(1073741824));
    QCOMPARE(line.options.expireDays, 30);
    QCOMPARE(line.options.maxConnections, 8192);
    QCOMPARE(line.options.maxConnectionsPerAddress, 2048);
    QCOMPARE(line.options.headTimeout, std::chrono::seconds(10));
    QCOMPARE(line.options.idleTimeout, std::chrono::seconds(60));
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

void TestServerOptions::limits_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("flag");
    QTest::addColumn<qint64>("value");

    QTest::newRow("files, separate value")
        << QStringList{"--queue-limit-files", "7"} << "--queue-limit-files" << qint64(7);
    QTest::newRow("bytes after =") << QStringList{"--queue-limit-bytes=9223372036854775807"}
                                   << "--queue-limit-bytes" << qint64(9223372036854775807);
    QTest::newRow("expiry, a hundred years")
        << QStringList{"--expire-days", "36500"} << "--expire-days" << qint64(36500);
    QTest::newRow("connections") << QStringList{"--max-connections=1"} << "--max-connections"
                                 << qint64(1);
    QTest::newRow("connections per address") << QStringList{"--max-connections-per-address", "16"}
                                             << "--max-connections-per-address" << qint64(16);
    QTest::newRow("head timeout, a day")
        << QStringList{"--head-timeout=86400"} << "--head-timeout" << qint64(86400);
    QTest::newRow("idle timeout") << QStringList{"--idle-timeout", "5"} << "--idle-timeout"
                                  << qint64(5);
    QTest::newRow("database connections")
        << QStringList{"--database-connections", "16"} << "--database-connections" << qint64(16);
}

void TestServerOptions::limits() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, flag);
    QFETCH(qint64, value);
    const CommandLine line = parseCommandLine(toArguments(arguments));
    QCOMPARE(line.action, CommandLine::Action::Run);
    const ServerOptions& o = line.options;
    const QMap<QString, qint64> set{
        {"--queue-limit-files", qint64(o.queueLimits.files)},
        {"--queue-limit-bytes", qint64(o.queueLimits.bytes)},
        {"--expire-days", o.expireDays},
        {"--max-connections", o.maxConnections},
        {"--max-connections-per-address", o.maxConnectionsPerAddress},
        {"--head-timeout", o.headTimeout.count()},
        {"--idle-timeout", o.idleTimeout.count()},
        {"--database-connections", o.databaseConnections},
    };
    const ServerOptions defaults;
    const QMap<QString, qint64> unset{
        {"--queue-limit-files", qint64(defaults.queueLimits.files)},
        {"--queue-limit-bytes", qint64(defaults.queueLimits.bytes)},
        {"--expire-days", defaults.expireDays},
        {"--max-connections", defaults.maxConnections},
        {"--max-connections-per-address", defaults.maxConnectionsPerAddress},
        {"--head-timeout", defaults.headTimeout.count()},
        {"--idle-timeout", defaults.idleTimeout.count()},
        {"--database-connections", defaults.databaseConnections},
    };
    // The flag sets its own field and no other.
    for (auto it = set.begin(); it != set.end(); ++it)
        QCOMPARE(it.value(), it.key() == flag ? value : unset.value(it.key()));
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
    QTest::newRow("version with value") << QStringList{"--version=2"} << "--version";
    QTest::newRow("zero files") << QStringList{"--queue-limit-files", "0"} << "\"0\"";
    QTest::newRow("bytes beyond 64 bits")
        << QStringList{"--queue-limit-bytes=18446744073709551616"} << "18446744073709551616";
    QTest::newRow("negative days") << QStringList{"--expire-days", "-1"} << "-1";
    QTest::newRow("days past a hundred years") << QStringList{"--expire-days", "36501"} << "36501";
    QTest::newRow("fraction of a connection") << QStringList{"--max-connections", "1.5"} << "1.5";
    QTest::newRow("connections missing value")
        << QStringList{"--max-connections-per-address"} << "--max-connections-per-address";
    QTest::newRow("timeout with unit") << QStringList{"--head-timeout", "10s"} << "10s";
    QTest::newRow("empty timeout") << QStringList{"--idle-timeout="} << "--idle-timeout";
    QTest::newRow("certificate without key") << QStringList{"--tls-cert", "c.pem"} << "--tls-key";
    QTest::newRow("key without certificate") << QStringList{"--tls-key=k.pem"} << "--tls-cert";
    QTest::newRow("empty certificate") << QStringList{"--tls-cert="} << "--tls-cert";
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
    for (const char* flag :
         {"--listen", "--port", "--data", "--pwhash", "--tls-cert", "--tls-key", "--help",
          "--queue-limit-files", "--queue-limit-bytes", "--expire-days", "--max-connections",
          "--max-connections-per-address", "--head-timeout", "--idle-timeout"})
        QVERIFY2(usage.contains(QLatin1String(flag)), flag);
}

void TestServerOptions::version() {
    QCOMPARE(parseCommandLine({"--version"}).action, CommandLine::Action::ShowVersion);
    QCOMPARE(parseCommandLine({"--port", "1", "-v"}).action, CommandLine::Action::ShowVersion);
    // Asked for both, the help says more.
    QCOMPARE(parseCommandLine({"--version", "--help"}).action, CommandLine::Action::ShowHelp);
    QCOMPARE(parseCommandLine({"--help", "--version"}).action, CommandLine::Action::ShowHelp);
    const QString text = QString::fromStdString(versionText());
    QVERIFY2(QRegularExpression(QStringLiteral("^clipnote-server \\d+\\.\\d+(\\.\\d+)*\n$"))
                 .match(text)
                 .hasMatch(),
             qPrintable(text));
}

QTEST_GUILESS_MAIN(TestServerOptions)
#include "tst_serveroptions.moc"
