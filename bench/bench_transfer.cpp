// Throughput of the message upload and download on loopback through a real
// clipnote-server, against the curl program sending the same body and
// fetching the same record in the same run. Prints both throughputs and
// their ratio for each direction (the target is at least 0.9 of curl's).
#include "serverprocess.h"
#include "service/httpshared.h"
#include "service/messagepageclient.h"
#include "service/messagerecord.h"
#include "service/pagesession.h"
#include "service/serviceaddress.h"
#include "service/uploadbody.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 kMessageBytes = 5 * 1024 * 1024;
constexpr int kRuns = 9;
const QString kAlice = QStringLiteral("alice@example.org");
const QString kBob = QStringLiteral("bob@example.org");
const QString kName = QStringLiteral("bob@example.org;alice@example.org;1");

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double mibPerSecond(qint64 bytes, double seconds) {
    return double(bytes) / (1024.0 * 1024.0) / seconds;
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Runs curl; its own measure of the transfer (connect to last byte), in
// seconds, or a negative number when it failed.
double runCurl(const QStringList& arguments) {
    QProcess curl;
    curl.start(QStringLiteral("curl"), QStringList{"-s", "-S", "-w", "%{time_total}"} + arguments);
    if (!curl.waitForFinished(60000) || curl.exitCode() != 0) {
        std::fprintf(stderr, "curl failed: %s\n", curl.readAllStandardError().constData());
        return -1;
    }
    return curl.readAllStandardOutput().trimmed().toDouble();
}

bool signIn(PageSession& pages, const QString& uid, const QString& password) {
    QString reply;
    pages.FetchPage(QStringLiteral("127.0.0.1"),
                    pagePath(QStringLiteral("zeb/login.asp"),
                             {{QStringLiteral("UID"), uid}, {QStringLiteral("PW"), password}}),
                    reply);
    return reply.startsWith(QLatin1String("OK"));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("CLIPNOTE_SERVER_BIN"))
        qputenv("CLIPNOTE_SERVER_BIN", CLIPNOTE_SERVER_PROGRAM);
    if (!http::initialise())
        return 1;
    ServerProcess server;
    if (!server.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(server.errorString()));
        return 1;
    }
    const QString alicePassword = server.createAccount(kAlice);
    const QString bobPassword = server.createAccount(kBob);
    const QByteArray aliceCookie = server.signIn(kAlice, alicePassword);
    const QByteArray bobCookie = server.signIn(kBob, bobPassword);

    QTemporaryDir dir;
    QByteArray message(kMessageBytes, '\0');
    for (qint64 i = 0; i < kMessageBytes; ++i)
        message[i] = char((i * 2654435761u) >> 24);
    const QString messagePath = dir.filePath(kName);
    const QString bodyPath = dir.filePath(QStringLiteral("body.bin"));
    QByteArray body = uploadHeaderBlock(kName, kAlice, kBob, QString()) + message;
    body.append(QByteArray(uploadBodyLength(kMessageBytes) - body.size(), '\0'));
    const qint64 recordBytes = kRecordDataOffset + (body.size() - kUploadBlockBytes);
    if (!writeAll(messagePath, message) || !writeAll(bodyPath, body))
        return 1;

    PageSession pages;
    pages.setServiceBase(server.baseUrl());
    pages.OpenSession();
    MessagePageClient transfer(server.baseUrl());
    const QString postUrl = server.baseUrl() + QStringLiteral("zeb/post.asp");
    const QString downloadUrl = server.baseUrl() + QStringLiteral("zeb/download.asp?id=") +
                                QString::fromLatin1(pageValue(kBob));
    const QString target = dir.filePath(QStringLiteral("vnin.dat"));
    const QString curlTarget = dir.filePath(QStringLiteral("curl.dat"));
    const QString curlReply = dir.filePath(QStringLiteral("reply.txt"));

    std::vector<double> ownUp, curlUp, ownDown, curlDown;
    for (int run = 0; run < kRuns; ++run) {
        // Uploads: ours and curl's, taking turns at going first.
        if (!signIn(pages, kAlice, alicePassword))
            return 1;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + run) % 2 == 0) {
                QElapsedTimer clock;
                clock.start();
                if (transfer.UploadMessage(messagePath, kName, kAlice, kBob, QString()) != 1)
                    return 1;
                ownUp.push_back(clock.nsecsElapsed() / 1e9);
            } else {
                const double t =
                    runCurl({"-o", curlReply, "-H", "Content-Type:", "-H", "Cookie: " + aliceCookie,
                             "--data-binary", "@" + bodyPath, postUrl});
                QFile reply(curlReply);
                if (t < 0 || !reply.open(QIODevice::ReadOnly) || !reply.readAll().startsWith("OK"))
                    return 1;
                curlUp.push_back(t);
            }
        }
        // Downloads of the two messages just sent.
        if (!signIn(pages, kBob, bobPassword))
            return 1;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + run) % 2 == 0) {
                QElapsedTimer clock;
                clock.start();
                if (transfer.DownloadMessage(target, kBob) != 1)
                    return 1;
                ownDown.push_back(clock.nsecsElapsed() / 1e9);
                if (QFileInfo(target).size() != recordBytes)
                    return 1;
            } else {
                const double t =
                    runCurl({"-o", curlTarget, "-H", "Cookie: " + bobCookie, downloadUrl});
                if (t < 0 || QFileInfo(curlTarget).size() != recordBytes)
                    return 1;
                curlDown.push_back(t);
            }
        }
    }

    const double up = mibPerSecond(body.size(), median(ownUp));
    const double upCurl = mibPerSecond(body.size(), median(curlUp));
    const double down = mibPerSecond(recordBytes, median(ownDown));
    const double downCurl = mibPerSecond(recordBytes, median(curlDown));
    std::printf("message of %lld bytes, %d runs each, medians on loopback\n",
                static_cast<long long>(kMessageBytes), kRuns);
    std::printf("upload    UploadMessage %8.1f MiB/s   curl %8.1f MiB/s   ratio %.2f\n", up, upCurl,
                up / upCurl);
    std::printf("download  DownloadMessage %6.1f MiB/s   curl %8.1f MiB/s   ratio %.2f\n", down,
                downCurl, down / downCurl);
    http::cleanup();
    return 0;
}
