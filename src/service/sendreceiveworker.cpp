#include "service/sendreceiveworker.h"

#include "platform/helpers.h"
#include "platform/profile.h"
#include "service/messagerecord.h"
#include "store/folderlisting.h"
#include "store/messagestore.h"
#include "store/storenames.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <thread>

namespace {
constexpr int kRecordsPerCycle = 3;
constexpr int kIdleSleepMs = 200;
constexpr int kWaitTickMs = 100;

void sleepFor(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(1, scaledPeriod(milliseconds))));
}
} // namespace

SendReceiveWorker::SendReceiveWorker(const MessageStore& store, QString userId, QString tempFolder,
                                     MessageTransport& transport, CycleObserver& observer,
                                     WorkerFlags& flags, std::atomic<int>& sendReceiveNow,
                                     ProfileReader readProfile)
    : m_store(store), m_userId(std::move(userId)), m_transport(transport), m_observer(observer),
      m_flags(flags), m_sendReceiveNow(sendReceiveNow), m_readProfile(std::move(readProfile)) {
    if (!tempFolder.endsWith(QLatin1Char('/')))
        tempFolder += QLatin1Char('/');
    m_recordPath = tempFolder + QStringLiteral("vnin.dat");
}

void SendReceiveWorker::run() {
    while (!m_flags.exitRequested.load()) {
        runCycle();
        waitForNextCycle();
    }
    m_flags.workerStopped = 1;
}

SendReceiveWorker::CycleResult SendReceiveWorker::runCycle() {
    CycleResult result;
    if (!m_started) {
        m_started = true;
        m_store.sweepWorkingFiles();
        m_toConfirm = m_store.receivedToConfirm();
    }
    // A cycle the user asked for while signed out is a request to sign in.
    if (m_signedOut && m_askedNow)
        m_observer.signedOut();
    if (!m_flags.gestureActive.load() && !m_signedOut) {
        sendPhase(result);
        if (!m_signedOut && m_waitBeforeReceiveSeconds > 0)
            waitBeforeReceiving();
        if (!m_signedOut)
            receivePhase(result);
    } else if (m_flags.gestureActive.load() && m_askedNow) {
        m_pendingAfterGesture = true;
    }
    m_observer.updateAllCounts();
    m_flags.transferBusy = 0;
    return result;
}

void SendReceiveWorker::sendPhase(CycleResult& result) {
    m_flags.transferBusy = 1;
    m_observer.setStatus(QStringLiteral("Sending..."));
    const QStringList names = listFileNames(m_store.folderPath(Folder::Outbox));
    const SendFailures failures = m_store.sendFailures();
    const QHash<QString, QString> refusedBefore = failures.all();
    for (const QString& fileName : names) {
        if (m_flags.exitRequested.load())
            break;
        if (refusedBefore.contains(fileName)) {
            ++result.held;
            continue;
        }
        // Names travel in lower case, as they are kept in Sent.
        const QString name = fileName.toLower();
        const QString recipient = firstField(name);
        const QString path = m_store.path(Folder::Outbox, fileName);
        TransferResult sent = m_transport.upload(path, name, m_userId, recipient);
        // The service stored nothing when it refused for want of a session,
        // so the same file goes once more.
        if (renewSession(sent))
            sent = m_transport.upload(path, name, m_userId, recipient);
        if (m_signedOut)
            break;
        if (sent.succeeded()) {
            ++result.sent;
            const bool saveSent = m_readProfile(QLatin1String(kSettingSaveSent), 1) != 0;
            if (saveSent)
                m_store.moveToSent(fileName);
            else
                m_store.removeFromOutbox(fileName);
            m_observer.fileSent(fileName);
        } else {
            ++result.failedUploads;
            // Sending it again would only be refused again, with a box each
            // time: it waits for the user's retry.
            if (sent.outcome == TransferResult::Outcome::Refused) {
                ++result.refused;
                failures.mark(fileName, sent.reason);
                m_observer.sendRefused(fileName, sent.reason);
            }
        }
        m_observer.setStatus(QString());
    }
    if (result.refused > 0)
        m_observer.reloadList(1);
    if (result.sent == 0) {
        sleepFor(kIdleSleepMs);
        return;
    }
    m_observer.reloadList(1);
    m_observer.reloadList(2);
    m_observer.setTabCount(1, m_store.countFiles(Folder::Outbox, QStringLiteral(".jpg"), false));
    m_observer.setTabCount(3, m_store.countFiles(Folder::Contacts, QString(), false));
}

void SendReceiveWorker::receivePhase(CycleResult& result) {
    // Read afresh each cycle, so a switch back to "anyone" counts at once.
    m_allowAll = m_readProfile(QLatin1String(kSettingAllowAll), 1) != 0;
    QFile::remove(m_recordPath);
    m_observer.setStatus(QStringLiteral("Receiving..."));
    // Records that are refused do not count towards the three of a cycle;
    // the bound on attempts keeps a flood of them from holding the worker.
    int attempts = 0;
    bool renewed = false;
    while (result.received < kRecordsPerCycle && attempts < kRecordsPerCycle * 8) {
        ++attempts;
        m_transport.setReceived(m_toConfirm);
        const TransferResult got = m_transport.download(m_recordPath);
        if (!got.succeeded()) {
            // A refused request took no confirmation: the same one goes again.
            if (!renewed && renewSession(got)) {
                renewed = true;
                continue;
            }
            break;
        }
        // A new record answers the request, so the confirmation it carried
        // has been taken.
        QString receivedName;
        const Filing filing = fileRecord(&receivedName);
        QFile::remove(m_recordPath);
        if (filing == Filing::Failed) {
            confirmWithNextDownload(QString());
            break;
        }
        confirmWithNextDownload(receivedName);
        if (filing == Filing::Filed)
            ++result.received;
        else
            ++result.discarded;
    }
    if (result.received > 0) {
        m_observer.reloadList(0);
        const int unread = m_store.countUnread();
        m_observer.setTabCount(0, unread);
        m_observer.setTrayBlinking(unread > 0);
    }
    if (!m_signedOut)
        m_observer.setStatus(QString());
}

void SendReceiveWorker::confirmWithNextDownload(const QString& receivedName) {
    m_toConfirm = receivedName;
    // Kept on disk too, so a program that ends before its next download
    // does not get the message once more at its next start.
    m_store.setReceivedToConfirm(receivedName);
}

SendReceiveWorker::Filing SendReceiveWorker::fileRecord(QString* receivedName) {
    QFile record(m_recordPath);
    if (!record.open(QIODevice::ReadOnly))
        return Filing::Failed;
    const MessageRecord header = readMessageRecord(record);
    *receivedName = header.name;
    // A record without a message byte would only file an empty message.
    if (!header.isValid())
        return Filing::Refused;
    const QString inboxName = inboxNameOfReceived(header.name);
    if (inboxName.isEmpty())
        return Filing::Refused;
    if (!m_allowAll && !m_store.senderIsContact(inboxName))
        return Filing::Refused;
    // A date that is no date leaves the filing time.
    const ReceivedFile filed = m_store.fileReceived(header.name, record, header.date);
    if (!filed.filed)
        return Filing::Failed;
    if (filed.thumbnail)
        m_observer.contactsChanged();
    else if (!filed.replaced)
        m_observer.newMessage(receivedMessagePart(header.name));
    m_observer.fileReceived(filed.inboxName);
    return Filing::Filed;
}

bool SendReceiveWorker::renewSession(const TransferResult& refused) {
    if (refused.outcome != TransferResult::Outcome::SessionGone)
        return false;
    if (m_transport.signInAgain())
        return true;
    // Told once: each further file or cycle would only be refused again.
    m_signedOut = true;
    m_observer.setStatus(signedOutStatus());
    m_observer.signedOut();
    return false;
}

void SendReceiveWorker::waitForNextCycle() {
    m_askedNow = false;
    // A cycle asked for during a gesture runs as soon as the gesture ends.
    if (m_pendingAfterGesture) {
        while (m_flags.gestureActive.load() && !m_flags.exitRequested.load())
            sleepFor(kWaitTickMs);
        m_pendingAfterGesture = false;
        m_askedNow = true;
        return;
    }
    if (!m_sendReceiveNow.load()) {
        const auto period = std::chrono::milliseconds(
            std::max(1, scaledPeriod(m_flags.idleTicks.load() * kWaitTickMs)));
        const auto deadline = std::chrono::steady_clock::now() + period;
        waitOnService(deadline);
        while (std::chrono::steady_clock::now() < deadline) {
            if (m_flags.exitRequested.load() || m_sendReceiveNow.load() || m_messageWaits)
                break;
            sleepFor(kWaitTickMs);
        }
    }
    m_messageWaits = false;
    m_askedNow = m_sendReceiveNow.exchange(0) != 0;
}

void SendReceiveWorker::waitOnService(std::chrono::steady_clock::time_point deadline) {
    if (!m_serviceWaits || m_signedOut)
        return;
    const auto interrupted = [this] {
        return m_flags.exitRequested.load() != 0 || m_sendReceiveNow.load() != 0;
    };
    while (!interrupted()) {
        const auto left = std::chrono::duration_cast<std::chrono::seconds>(
            deadline - std::chrono::steady_clock::now() + std::chrono::milliseconds(999));
        if (left.count() <= 0)
            return;
        switch (m_transport.waitForMessage(int(std::min<std::int64_t>(left.count(), 25)),
                                           interrupted)) {
        case WaitOutcome::Arrived:
            m_messageWaits = true;
            return;
        case WaitOutcome::NothingYet:
            break;
        case WaitOutcome::Unsupported:
            // An older service: the plain cycle it is, for the rest of the run.
            m_serviceWaits = false;
            return;
        case WaitOutcome::Failed:
        case WaitOutcome::SessionGone:
        case WaitOutcome::Aborted:
            // The rest of this period is slept; the next one tries again,
            // and its transfers sign in again when the session is gone.
            return;
        }
    }
}

bool SendReceiveWorker::waitBeforeReceiving() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(m_waitBeforeReceiveSeconds);
    waitOnService(deadline);
    const bool arrived = m_messageWaits;
    m_messageWaits = false;
    return arrived;
}
