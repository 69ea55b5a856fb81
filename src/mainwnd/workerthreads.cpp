#include "mainwnd/workerthreads.h"

#include "app/clientcore.h"
#include "mainwnd/maindialog.h"
#include "platform/tempfolder.h"
#include "service/savingworker.h"
#include "store/messagestore.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace {
constexpr int kBelowNormalNice = 5;

// The Saving workers' threads of one window, kept as a child of it, so that
// none runs on into the end of the program. A finished thread is joined when
// the next one starts, the rest when the window takes its workers down; the
// window ends only once every worker has counted itself out, so that join
// waits only for a thread's return.
class SavingThreads : public QObject {
public:
    explicit SavingThreads(QObject* window) : QObject(window) {
        setObjectName(QLatin1String(kName));
    }
    ~SavingThreads() override { joinAll(); }

    static SavingThreads* of(QObject* window, bool create) {
        const auto children =
            window->findChildren<QObject*>(QLatin1String(kName), Qt::FindDirectChildrenOnly);
        for (QObject* child : children)
            if (auto* threads = dynamic_cast<SavingThreads*>(child))
                return threads;
        return create ? new SavingThreads(window) : nullptr;
    }

    void start(std::function<void()> work) {
        joinFinished();
        auto worker = std::make_unique<Worker>();
        Worker* w = worker.get();
        w->thread = std::thread([w, work = std::move(work)] {
            work();
            w->done = true;
        });
        m_workers.push_back(std::move(worker));
    }

    void joinAll() {
        for (const auto& worker : m_workers)
            if (worker->thread.joinable())
                worker->thread.join();
        m_workers.clear();
    }

private:
    static constexpr char kName[] = "savingThreads";

    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void joinFinished() {
        std::erase_if(m_workers, [](const std::unique_ptr<Worker>& worker) {
            if (!worker->done.load())
                return false;
            worker->thread.join();
            return true;
        });
    }

    std::vector<std::unique_ptr<Worker>> m_workers;
};

} // namespace

void lowerThreadPriority() {
    // On Linux the nice value of a thread id applies to that thread alone.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kBelowNormalNice);
}

SendReceiveThread::SendReceiveThread(CMainDialog* window, const MessageStore& store,
                                     const QString& userId,
                                     std::unique_ptr<MessageTransport> transport)
    : m_window(window), m_link(window, store), m_transport(std::move(transport)) {
    ClientCore* core = ClientCore::instance();
    m_worker = std::make_unique<SendReceiveWorker>(
        store, userId, GetTempPath(), *m_transport, m_link, window->flags(),
        core->m_bSendReceiveNow, [core](const QString& entry, int defaultValue) {
            return core->GetProfileInt(QLatin1String(kSettingsSection), entry, defaultValue);
        });
    window->flags().workerStopped = 0;
    m_thread = std::thread([this] {
        lowerThreadPriority();
        m_worker->run();
    });
}

SendReceiveThread::~SendReceiveThread() {
    m_window->flags().exitRequested = 1;
    if (m_thread.joinable())
        m_thread.join();
    // The Saving workers use the window's store, which goes after this.
    if (SavingThreads* saving = SavingThreads::of(m_window, false))
        saving->joinAll();
}

void SendReceiveThread::resume() {
    m_worker->resume();
    ClientCore::instance()->m_bSendReceiveNow = 1;
}

void startSavingWorker(CMainDialog* window, const RecordingHandOff& recording) {
    ClientCore* core = ClientCore::instance();
    const MessageStore* store = window->store();
    if (!store)
        return;
    const QString userId = core->m_strUserId;
    // Counted before the thread starts, so a close right now waits for it.
    ++window->flags().savingWorkers;
    SavingThreads::of(window, true)->start([window, store, userId, recording] {
        lowerThreadPriority();
        {
            MainWindowLink link(window, *store);
            const int filed = SaveToOutbox(*store, userId, recording, link, [window] {
                QStringList recipients;
                QMetaObject::invokeMethod(
                    window, [window, &recipients] { recipients = window->GetRecipients(); },
                    Qt::BlockingQueuedConnection);
                return recipients;
            });
            // Sent at once rather than at the next cycle; one cycle takes
            // the copies for every recipient.
            if (filed > 0)
                ClientCore::instance()->m_bSendReceiveNow = 1;
        }
        // The last touch of the window: from here on it may end.
        --window->flags().savingWorkers;
    });
}
