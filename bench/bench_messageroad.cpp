// 1,000 small messages (a video and its thumbnail each) from one user to
// another through a real clipnote-server: alice's Send/Receive cycle uploads
// them all, then bob's cycles fetch them three files at a time. Prints
// messages per second for the whole road and the server's peak memory.

#include "app/clientcore.h"
#include "app/synconce.h"
#include "platform/tempfolder.h"
#include "serverprocess.h"
#include "service/httpshared.h"
#include "service/sendreceiveworker.h"
#include "service/servicetransport.h"
#include "store/messagestore.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

namespace {
constexpr int kMessages = 1000;

class CountingObserver : public QuietCycleObserver {
public:
    void fileReceived(const QString&) override { ++received; }
    int received = 0;
};

long peakMemoryKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    return -1;
}

struct Cycles {
    SendReceiveWorker::CycleResult total;
    int cycles = 0;
};

// Signs the core in as `user` and runs cycles until `done` says so.
template <typename Done>
Cycles runAs(ClientCore& core, const QString& user, const QString& password,
             const QString& appFolder, CountingObserver& observer, Done done) {
    Cycles result;
    QString message;
    core.m_strFolder = appFolder;
    if (signInHeadless(core, user, password, &message) != 0) {
        std::fprintf(stderr, "sign-in of %s failed: %s\n", qPrintable(user), qPrintable(message));
        return result;
    }
    core.m_strFolder = appFolder + QLatin1Char('/') + user;
    QDir().mkpath(core.m_strFolder);
    for (const char* folder : {"Inbox", "Outbox", "Sent", "Contacts"})
        QDir().mkpath(core.m_strFolder + QLatin1Char('/') + QLatin1String(folder));
    const MessageStore store(core.m_strFolder);
    const auto transport = makeServiceTransport(core.service(), user);
    WorkerFlags flags;
    flags.idleTicks = 0;
    SendReceiveWorker worker(store, user, GetTempPath(), *transport, observer, flags,
                             core.m_bSendReceiveNow,
                             [](const QString&, int defaultValue) { return defaultValue; });
    while (!done(result)) {
        const auto cycle = worker.runCycle();
        result.total.sent += cycle.sent;
        result.total.received += cycle.received;
        result.total.failedUploads += cycle.failedUploads;
        ++result.cycles;
        if (cycle.sent == 0 && cycle.received == 0 && result.cycles > 2)
            break;
    }
    return result;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TestEnvironment env;
    qputenv("CLIPNOTE_SERVER_BIN", CLIPNOTE_SERVER_PROGRAM);
    http::initialise();
    ServerProcess server;
    if (!server.start()) {
        std::fprintf(stderr, "server: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    const QString alice = QStringLiteral("alice@example.org");
    const QString bob = QStringLiteral("bob@example.org");
    const QString alicePassword = server.createAccount(alice);
    const QString bobPassword = server.createAccount(bob);

    const QString appFolder = env.makeFolder(QStringLiteral("App"));
    const QString outbox = appFolder + QLatin1Char('/') + alice + QStringLiteral("/Outbox/");
    QDir().mkpath(outbox);
    const QByteArray video(3000, 'v');
    const QByteArray thumbnail(1200, 't');
    for (int i = 0; i < kMessages; ++i) {
        const QString name = QStringLiteral("%1;%2;%3").arg(bob, alice).arg(i);
        writeFile(outbox + name, video);
        writeFile(outbox + name + QStringLiteral(".jpg"), thumbnail);
    }

    ClientCore core;
    core.SetRegistryKey(QStringLiteral("ZEB"));
    core.setService(ServiceAddress(server.baseUrl()));
    core.OpenSession();
    CountingObserver observer;
    QElapsedTimer clock;
    clock.start();
    const Cycles sent = runAs(core, alice, alicePassword, appFolder, observer,
                              [](const Cycles& c) { return c.total.sent >= 2 * kMessages; });
    const qint64 sendMs = clock.elapsed();
    const Cycles received = runAs(core, bob, bobPassword, appFolder, observer, [](const Cycles& c) {
        return c.total.received >= 2 * kMessages;
    });
    const qint64 totalMs = clock.elapsed();
    const long peak = peakMemoryKiB(server.processId());
    core.CloseSession();
    server.stop();

    std::printf("messages: %d (%d files sent in %d cycles, %d files received in %d cycles)\n",
                kMessages, sent.total.sent, sent.cycles, received.total.received, received.cycles);
    std::printf("send phase: %lld ms, whole road: %lld ms\n", static_cast<long long>(sendMs),
                static_cast<long long>(totalMs));
    std::printf("messages per second, end to end: %.1f\n",
                totalMs > 0 ? kMessages * 1000.0 / double(totalMs) : 0.0);
    std::printf("server peak memory: %ld KiB\n", peak);
    http::cleanup();
    return received.total.received == 2 * kMessages ? 0 : 1;
}
