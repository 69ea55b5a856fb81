#include "mainwnd/workerlink.h"

#include "app/clientcore.h"
#include "mainwnd/maindialog.h"
#include "platform/messages.h"
#include "platform/tempfolder.h"
#include "service/savingworker.h"
#include "store/messagestore.h"
#include "store/mytabs.h"

#include <QCoreApplication>

#include <sys/resource.h>
#include <unistd.h>

namespace {
constexpr int kBelowNormalNice = 5;

template <typename Function> void onWindow(const QPointer<CMainDialog>& window, Function function) {
    CMainDialog* target = window.data();
    if (!target)
        return;
    QMetaObject::invokeMethod(target, std::move(function), Qt::QueuedConnection);
}
} // namespace

void lowerThreadPriority() {
    // On Linux the nice value of a thread id applies to that thread alone.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kBelowNormalNice);
}

MainWindowLink::MainWindowLink(CMainDialog* window, const MessageStore& store)
    : m_window(window), m_store(store) {}

void MainWindowLink::setStatus(const QString& text) {
    onWindow(m_window, [w = m_window, text] {
        if (w)
            w->setStatusText(text);
    });
}

void MainWindowLink::reloadList(int folder) {
    onWindow(m_window, [w = m_window, folder] {
        if (w)
            w->reloadList(folder);
    });
}

void MainWindowLink::setTabCount(int tab, int count) {
    onWindow(m_window, [w = m_window, tab, count] {
        if (!w)
            return;
        w->tabs()->setCount(tab, count);
        w->tabs()->repaint();
    });
}

void MainWindowLink::setTrayBlinking(bool blinking) {
    onWindow(m_window, [w = m_window, blinking] {
        if (w)
            w->setTrayBlinking(blinking);
    });
}

void MainWindowLink::newMessage(const QString& name) {
    if (CMainDialog* window = m_window.data())
        QCoreApplication::postEvent(window, new PrivateEvent(WM_NEW_MESSAGE, 0, 0, name));
}

void MainWindowLink::contactsChanged() {
    if (CMainDialog* window = m_window.data())
        QCoreApplication::postEvent(window, new PrivateEvent(WM_UPDATE_COUNTS, 0, 3));
}

void MainWindowLink::updateAllCounts() {
    const int unread = m_store.countUnread();
    const int outbox = m_store.countFiles(Folder::Outbox, QStringLiteral(".jpg"), false);
    const int sent = m_store.countFiles(Folder::Sent, QStringLiteral(".jpg"), false);
    const int contacts = m_store.countFiles(Folder::Contacts, QString(), false);
    onWindow(m_window, [w = m_window, unread, outbox, sent, contacts] {
        if (!w)
            return;
        w->tabs()->setCount(0, unread);
        w->tabs()->setCount(1, outbox);
        w->tabs()->setCount(2, sent);
        w->tabs()->setCount(3, contacts);
        w->setTrayBlinking(unread > 0);
        w->tabs()->repaint();
    });
}

SendReceiveThread::SendReceiveThread(CMainDialog* window, const MessageStore& store,
                                     const QString& userId,
                                     std::unique_ptr<MessageTransport> transport)
    : m_window(window), m_link(window, store), m_transport(std::move(transport)) {
    ClientCore* core = ClientCore::instance();
    m_worker = std::make_unique<SendReceiveWorker>(
        store, userId, GetTempPath(), *m_transport, m_link,
        WorkerFlags{window->exitRequested, window->gestureActive, window->transferBusy,
                    window->idleTicks, window->workerStopped, core->m_bSendReceiveNow},
        [core](const QString& entry, int defaultValue) {
            return core->GetProfileInt(QLatin1String(kSettingsSection), entry, defaultValue);
        });
    window->workerStopped = 0;
    m_thread = std::thread([this] {
        lowerThreadPriority();
        m_worker->run();
    });
}

SendReceiveThread::~SendReceiveThread() {
    m_window->exitRequested = 1;
    if (m_thread.joinable())
        m_thread.join();
}

void startSavingWorker(CMainDialog* window) {
    ClientCore* core = ClientCore::instance();
    const MessageStore* store = window->store();
    if (!store)
        return;
    const QString userId = core->m_strUserId;
    // Counted before the thread starts, so a close right now waits for it.
    ++window->savingWorkers;
    std::thread([window, store, userId] {
        lowerThreadPriority();
        MainWindowLink link(window, *store);
        SaveToOutbox(*store, userId, GetTempPath(), link, [window] {
            QStringList recipients;
            QMetaObject::invokeMethod(
                window, [window, &recipients] { recipients = window->GetRecipients(); },
                Qt::BlockingQueuedConnection);
            return recipients;
        });
        --window->savingWorkers;
    }).detach();
}
