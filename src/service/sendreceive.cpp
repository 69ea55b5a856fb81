#include "service/sendreceive.h"

#include "platform/profile.h"
#include "platform/timerscale.h"
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
                                     WorkerFlags flags, ProfileReader readProfile)
    : m_store(store), m_userId(std::move(userId)), m_transport(transport), m_observer(observer),
      m_flags(flags), m_readProfile(std::move(readProfile)) {
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
    if (!m_flags.gestureActive.load()) {
        sendPhase(result);
        receivePhase(result);
    }
    m_observer.updateAllCounts();
    m_flags.transferBusy = 0;
    return result;
}

void SendReceiveWorker::sendPhase(CycleResult& result) {
    m_flags.transferBusy = 1;
    m_observer.setStatus(QStringLiteral("Sending..."));
    const QStringList names = listFileNames(m_store.folderPath(Folder::Outbox));
    for (const QString& fileName : names) {
        if (m_flags.exitRequested.load())
            break;
        // Names travel in lower case, as they are kept in Sent.
        const QString name = fileName.toLower();
        const QString recipient = firstField(name);
        const QString path = m_store.path(Folder::Outbox, fileName);
        if (m_transport.UploadMessage(path, name, m_userId, recipient)) {
            ++result.sent;
            const bool saveSent = m_readProfile(QLatin1String(kSettingSaveSent), 1) != 0;
            if (saveSent)
                m_store.moveToSent(fileName);
            else
                m_store.removeFromOutbox(fileName);
            m_observer.fileSent(fileName);
        } else {
            ++result.failedUploads;
        }
        m_observer.setStatus(QString());
    }
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
    // Read afresh each cycle: a record refused here is retired by the service
    // and lost for good, so a switch back to "anyone" must count at once.
    m_allowAll = m_readProfile(QLatin1String(kSettingAllowAll), 1) != 0;
    QFile::remove(m_recordPath);
    m_observer.setStatus(QStringLiteral("Receiving..."));
    // Records that are refused do not count towards the three of a cycle,
    // but a refused record is retired by the service all the same; the bound
    // on attempts keeps a flood of refused records from holding the worker.
    int attempts = 0;
    while (result.received < kRecordsPerCycle && attempts < kRecordsPerCycle * 8) {
        ++attempts;
        if (!m_transport.DownloadMessage(m_recordPath))
            break;
        if (fileRecord(result))
            ++result.received;
        else
            ++result.discarded;
        QFile::remove(m_recordPath);
    }
    if (result.received > 0) {
        m_observer.reloadList(0);
        const int unread = m_store.countUnread();
        m_observer.setTabCount(0, unread);
        m_observer.setTrayBlinking(unread > 0);
    }
    m_observer.setStatus(QString());
}

bool SendReceiveWorker::fileRecord(CycleResult&) {
    QFile record(m_recordPath);
    if (!record.open(QIODevice::ReadOnly))
        return false;
    // A record without a message byte would only file an empty message.
    const MessageRecord header = readMessageRecord(record);
    if (!header.isValid())
        return false;
    const QString inboxName = inboxNameOfReceived(header.name);
    if (inboxName.isEmpty())
        return false;
    if (!m_allowAll && !m_store.senderIsContact(inboxName))
        return false;
    // A date that is no date leaves the filing time.
    const ReceivedFile filed = m_store.fileReceived(header.name, record, header.date);
    if (!filed.filed)
        return false;
    if (filed.thumbnail)
        m_observer.contactsChanged();
    else
        m_observer.newMessage(receivedMessagePart(header.name));
    m_observer.fileReceived(filed.inboxName);
    return true;
}

void SendReceiveWorker::waitForNextCycle() {
    if (!m_flags.sendReceiveNow.load()) {
        const int ticks = m_flags.idleTicks.load();
        for (int i = 0; i < ticks; ++i) {
            if (m_flags.exitRequested.load() || m_flags.sendReceiveNow.load())
                break;
            sleepFor(kWaitTickMs);
        }
    }
    m_flags.sendReceiveNow = 0;
}
