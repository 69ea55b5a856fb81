#include "serverprocess.h"
#include "service/uploadbody.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <sqlite3.h>

#include <condition_variable>
#include <mutex>
#include <thread>

// The real clipnote-server killed again and again in the middle of a stream
// of uploads and confirmed downloads: every upload answered "OK" reaches its
// recipient exactly once, and the database stays sound. On PostgreSQL the
// uploads go through one server and the downloads through another on the
// same database, and either may be the one killed.
class TestDeliveryCrash : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyAcceptedPostIsDeliveredOnce();
};

namespace {
constexpr int kKills = 30;
constexpr quint32 kSeed = 20261208;
constexpr int kRecordFieldBytes = 287;
constexpr int kProgressTimeoutMs = 60000;
const QString kAlice = QStringLiteral("alice@example.org");
const QString kBob = QStringLiteral("bob@example.org");

// Sizes from 1 KiB to about 256 KiB, so that kills fall in the middle of
// transfers as well as between them.
QByteArray messageFile(int number) {
    QByteArray bytes(1024 + (number * 7919) % (255 * 1024), '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 31 + number) & 0xff);
    return bytes;
}

QString messageName(int number) {
    return kBob + QLatin1Char(';') + kAlice + QLatin1Char(';') + QString::number(number);
}

// What the two clients and the killer share.
struct Traffic {
    std::mutex mutex;
    std::condition_variable changed;
    quint16 postPort = 0;
    quint16 fetchPort = 0;
    QByteArray alice;
    QByteArray bob;
    int generation = 0; // server starts
    int progress = 0;   // uploads accepted and records filed
    bool killsDone = false;
    bool posterDone = false;
    bool downloaderDone = false;
    bool stop = false;
    QSet<QString> accepted;
    QSet<QString> filed;
    int duplicates = 0;
    int failedPosts = 0;
    int failedFetches = 0;
    QStringList problems;

    void advance(const std::function<void()>& change) {
        {
            std::lock_guard guard(mutex);
            change();
            ++progress;
        }
        changed.notify_all();
    }
    void problem(const QString& text) {
        std::lock_guard guard(mutex);
        problems << text;
    }
    // After a failed exchange: until the server has been started again, or
    // a short while, in case the failure had another cause.
    void awaitRestart(int seenGeneration) {
        std::unique_lock guard(mutex);
        changed.wait_for(guard, std::chrono::milliseconds(200),
                         [&] { return generation != seenGeneration || stop; });
    }
    int currentGeneration() {
        std::lock_guard guard(mutex);
        return generation;
    }
    bool stopping() {
        std::lock_guard guard(mutex);
        return stop;
    }
};

// Posts message after message, each until it is answered "OK", as the
// client retries a file left in its Outbox, until the kills are over.
void postAll(Traffic& t) {
    for (int number = 1;; ++number) {
        {
            std::lock_guard guard(t.mutex);
            if (t.killsDone || t.stop)
                break;
        }
        const QString name = messageName(number);
        const QByteArray file = messageFile(number);
        QByteArray body = uploadHeaderBlock(name, kAlice, kBob, QString()) + file;
        body.append(QByteArray(uploadBodyLength(file.size()) - body.size(), '\0'));
        while (!t.stopping()) {
            const int generation = t.currentGeneration();
            const SimpleHttpReply reply = simpleHttpRequest(
                t.postPort, "POST", "/zeb/post.asp",
                {"Content-Length: " + QByteArray::number(body.size()), "Cookie: " + t.alice}, body);
            if (reply.body == "OK") {
                t.advance([&] { t.accepted.insert(name); });
                break;
            }
            // A killed server gives no answer at all; any other is a fault.
            if (!reply.body.isEmpty())
                t.problem(name + QStringLiteral(" refused: ") + QString::fromUtf8(reply.body));
            {
                std::lock_guard guard(t.mutex);
                ++t.failedPosts;
            }
            t.awaitRestart(generation);
        }
    }
    {
        std::lock_guard guard(t.mutex);
        t.posterDone = true;
    }
    t.changed.notify_all();
}

// Fetches and confirms as the client does: a record counts as filed only
// when it arrived whole, and is named in every request until one succeeds.
void downloadAll(Traffic& t) {
    QString lastFiled;
    while (!t.stopping()) {
        int generation = 0;
        bool posterWasDone = false;
        {
            std::lock_guard guard(t.mutex);
            generation = t.generation;
            posterWasDone = t.posterDone;
        }
        const SimpleHttpReply reply = simpleHttpGet(
            t.fetchPort,
            "/zeb/download.asp?id=" + pageValue(kBob) + "&received=" + pageValue(lastFiled), t.bob);
        bool lengthKnown = false;
        const qint64 length = reply.header("Content-Length").toLongLong(&lengthKnown);
        if (reply.status == 200 && reply.body.startsWith("ERROR")) {
            if (posterWasDone)
                break;
            std::unique_lock guard(t.mutex);
            const qsizetype waiting = t.accepted.size();
            t.changed.wait_for(guard, std::chrono::milliseconds(200), [&] {
                return t.accepted.size() != waiting || t.posterDone || t.stop;
            });
        } else if (reply.status == 200 && lengthKnown && length == reply.body.size() &&
                   length > kRecordFieldBytes) {
            const QString name = QString::fromLatin1(
                reply.body.left(qMin<qsizetype>(reply.body.indexOf('\0'), 255)));
            const QByteArray file = messageFile(name.section(';', 2).toInt());
            const QByteArray padded =
                file + QByteArray(uploadBodyLength(file.size()) - 1024 - file.size(), '\0');
            if (reply.body.mid(kRecordFieldBytes) != padded)
                t.problem(name + QStringLiteral(" arrived damaged"));
            t.advance([&] {
                if (t.filed.contains(name))
                    ++t.duplicates;
                t.filed.insert(name);
            });
            lastFiled = name;
        } else {
            {
                std::lock_guard guard(t.mutex);
                ++t.failedFetches;
            }
            t.awaitRestart(generation);
        }
    }
    {
        std::lock_guard guard(t.mutex);
        t.downloaderDone = true;
    }
    t.changed.notify_all();
}

// Stops and joins the clients however the test ends.
struct Clients {
    Traffic& traffic;
    std::thread poster;
    std::thread downloader;
    ~Clients() {
        {
            std::lock_guard guard(traffic.mutex);
            traffic.stop = true;
        }
        traffic.changed.notify_all();
        poster.join();
        downloader.join();
    }
};

QString integrityOf(const QString& file) {
    sqlite3* db = nullptr;
    QString result = QStringLiteral("cannot open");
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            result =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return result;
}
} // namespace

void TestDeliveryCrash::everyAcceptedPostIsDeliveredOnce() {
    ServerProcess server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    ServerProcess other;
    const bool twoServers = !server.databaseUrl().isEmpty();
    if (twoServers) {
        other.shareDatabaseWith(server);
        QVERIFY2(other.start(), qPrintable(other.errorString()));
    }
    ServerProcess& fetchServer = twoServers ? other : server;
    Traffic traffic;
    traffic.postPort = server.port();
    traffic.fetchPort = fetchServer.port();
    traffic.alice = server.signIn(kAlice, server.createAccount(kAlice));
    traffic.bob = fetchServer.signIn(kBob, server.createAccount(kBob));
    QVERIFY(!traffic.alice.isEmpty() && !traffic.bob.isEmpty());

    QRandomGenerator random(kSeed);
    {
        Clients clients{traffic, std::thread(postAll, std::ref(traffic)),
                        std::thread(downloadAll, std::ref(traffic))};
        for (int kill = 0; kill < kKills; ++kill) {
            {
                std::unique_lock guard(traffic.mutex);
                const int target = traffic.progress + random.bounded(1, 7);
                QVERIFY2(traffic.changed.wait_for(guard,
                                                  std::chrono::milliseconds(kProgressTimeoutMs),
                                                  [&] { return traffic.progress >= target; }),
                         "the clients made no progress");
            }
            // Not a wait for anything: it places the kill at a random point
            // of whatever exchange is under way.
            std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(20000)));
            ServerProcess& victim = twoServers && random.bounded(2) ? other : server;
            victim.kill();
            QVERIFY2(victim.restart(), qPrintable(victim.errorString()));
            {
                std::lock_guard guard(traffic.mutex);
                ++traffic.generation;
            }
            traffic.changed.notify_all();
        }
        {
            std::unique_lock guard(traffic.mutex);
            traffic.killsDone = true;
            traffic.changed.notify_all();
            QVERIFY2(traffic.changed.wait_for(guard, std::chrono::milliseconds(kProgressTimeoutMs),
                                              [&] { return traffic.downloaderDone; }),
                     "the last messages were not delivered");
        }
    }
    qInfo("%d kills: %lld uploads accepted (%d failed attempts), %lld delivered (%d failed "
          "fetches), %d delivered twice",
          kKills, static_cast<long long>(traffic.accepted.size()), traffic.failedPosts,
          static_cast<long long>(traffic.filed.size()), traffic.failedFetches, traffic.duplicates);
    QVERIFY2(traffic.problems.isEmpty(), qPrintable(traffic.problems.join('\n')));
    QCOMPARE(traffic.duplicates, 0);
    QStringList filed = traffic.filed.values();
    QStringList accepted = traffic.accepted.values();
    filed.sort();
    accepted.sort();
    QCOMPARE(filed, accepted);

    server.kill();
    // PostgreSQL keeps its own files whole across a crash; the SQLite file
    // is checked here.
    if (server.databaseUrl().isEmpty())
        QCOMPARE(integrityOf(server.dataDir() + QStringLiteral("/clipnote.db")),
                 QStringLiteral("ok"));
}

QTEST_GUILESS_MAIN(TestDeliveryCrash)
#include "tst_deliverycrash.moc"
