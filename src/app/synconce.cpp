#include "app/synconce.h"

#include "app/clientcore.h"
#include "platform/helpers.h"
#include "platform/profile.h"
#include "platform/tempfolder.h"
#include "service/httpshared.h"
#include "service/replytext.h"
#include "service/sendreceiveworker.h"
#include "service/serviceaddress.h"
#include "service/servicetransport.h"
#include "store/messagestore.h"

#include <QDir>
#include <QFile>

#include <atomic>

namespace {
enum ExitStatus {
    kSynced = 0,
    kBadArguments = 2,
    kUnreachable = 3,
    kRefused = 4,
    kNoUserFolder = 5,
    kFolderInUse = 6,
    kNoWorkingFolder = 7,
};

// The first line of the password source, without its line end.
bool readPassword(const QStringList& arguments, std::FILE* input, QString* password) {
    QByteArray line;
    const QString file = optionValue(arguments, QStringLiteral("--password-file"));
    if (!file.isEmpty()) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        line = f.readLine();
    } else {
        char buffer[1024];
        if (!std::fgets(buffer, sizeof buffer, input))
            return false;
        line = buffer;
    }
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    *password = QString::fromUtf8(line);
    return true;
}

// Prints what the cycle moved; the window's other changes have no meaning here.
class ConsoleObserver : public QuietCycleObserver {
public:
    explicit ConsoleObserver(std::FILE* out) : m_out(out) {}
    void fileSent(const QString& outboxName) override {
        std::fprintf(m_out, "sent %s\n", outboxName.toUtf8().constData());
    }
    void fileReceived(const QString& inboxName) override {
        std::fprintf(m_out, "received %s\n", inboxName.toUtf8().constData());
    }
    void sendRefused(const QString& outboxName, const QString& reason) override {
        std::fprintf(m_out, "refused %s: %s\n", outboxName.toUtf8().constData(),
                     reason.toUtf8().constData());
    }

private:
    std::FILE* m_out;
};
} // namespace

int signInHeadless(ClientCore& core, const QString& userId, const QString& password,
                   QString* message) {
    QString reply;
    const int fetched = core.FetchPage(
        core.service().host(),
        pagePath(QStringLiteral("zeb/login.asp"),
                 {{QStringLiteral("UID"), userId}, {QStringLiteral("PW"), password}}),
        reply);
    if (fetched != 0) {
        *message = core.pageSession().lastError() == http::kErrorSecureFailure
                       ? http::secureFailureText(core.service().baseUrl())
                       : QStringLiteral("The service at %1 could not be reached.")
                             .arg(core.service().baseUrl());
        return kUnreachable;
    }
    if (!isOkReply(reply)) {
        *message = replyForDisplay(reply);
        return kRefused;
    }
    core.m_strUserId = userId;
    core.setPassword(password);
    return kSynced;
}

int runSyncOnce(const QStringList& arguments, std::FILE* passwordInput, std::FILE* out,
                std::FILE* err) {
    const QString userId = optionValue(arguments, QStringLiteral("--user"));
    QString password;
    if (userId.isEmpty() || !readPassword(arguments, passwordInput, &password)) {
        std::fprintf(
            err, "usage: clipnote --sync-once --user ID [--password-file FILE] [--retry-failed]\n"
                 "       [--wait SECONDS] [--service URL] [--ca-file FILE]\n"
                 "(the password is read from standard input without a file)\n");
        return kBadArguments;
    }

    ClientCore core;
    core.SetRegistryKey(QStringLiteral("ZEB"));
    core.setService(ServiceAddress::fromArguments(arguments));
    http::setExtraCaFile(http::extraCaFileFromArguments(arguments));
    core.takeApplicationFolder(QDir::currentPath());
    core.OpenSession();
    QString message;
    const int signedIn = signInHeadless(core, userId, password, &message);
    if (signedIn != kSynced) {
        std::fprintf(err, "%s\n", message.toUtf8().constData());
        core.CloseSession();
        return signedIn;
    }
    if (!core.enterUserFolder()) {
        std::fprintf(err, "This user ID cannot name a folder here.\n");
        core.CloseSession();
        return kNoUserFolder;
    }
    // Another program's worker on this Outbox would send each message twice.
    const ClientCore::FolderClaim claim = core.claimUserFolder(&message);
    if (claim != ClientCore::FolderClaim::Taken) {
        std::fprintf(err, "%s\n", message.toUtf8().constData());
        core.CloseSession();
        return claim == ClientCore::FolderClaim::InUse      ? kFolderInUse
               : claim == ClientCore::FolderClaim::Unusable ? kNoUserFolder
                                                            : kNoWorkingFolder;
    }

    const MessageStore store(core.m_strFolder);
    if (arguments.contains(QStringLiteral("--retry-failed")))
        for (const QString& name : store.sendFailures().all().keys())
            store.sendFailures().clear(name);
    const std::unique_ptr<MessageTransport> transport =
        makeServiceTransport(core.service(), userId, password);
    ConsoleObserver observer(out);
    WorkerFlags flags;
    flags.idleTicks = 0;
    SendReceiveWorker worker(
        store, userId, GetTempPath(), *transport, observer, flags, core.m_bSendReceiveNow,
        [&core](const QString& entry, int defaultValue) {
            return core.GetProfileInt(QLatin1String(kSettingsSection), entry, defaultValue);
        });
    const QString wait = optionValue(arguments, QStringLiteral("--wait"));
    if (!wait.isEmpty())
        worker.setWaitBeforeReceive(qMax(0, wait.toInt()));
    const SendReceiveWorker::CycleResult result = worker.runCycle();
    std::fflush(out);
    core.CloseSession();
    if (worker.isSignedOut()) {
        std::fprintf(err, "The service ended the session and refused the password; nothing more "
                          "was sent or received.\n");
        return kRefused;
    }
    if (result.held > 0)
        std::fprintf(err,
                     "%d file(s) refused by the service earlier stay in the Outbox; "
                     "--retry-failed sends them again.\n",
                     result.held);
    if (result.failedUploads > 0) {
        std::fprintf(err, "%d file(s) could not be sent; they stay in the Outbox.\n",
                     result.failedUploads);
        return kUnreachable;
    }
    return kSynced;
}
