#pragma once

#include "service/transferresult.h"
#include "service/waitoutcome.h"
#include "service/workerflags.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>

class MessageStore;

// How messages travel to and from the service: one upload per Outbox file,
// one download per waiting file, each saying how it ended.
class MessageTransport {
public:
    virtual ~MessageTransport() = default;
    virtual TransferResult upload(const QString& path, const QString& name, const QString& sender,
                                  const QString& recipient) = 0;
    virtual TransferResult download(const QString& targetPath) = 0;
    // The received name that the following downloads confirm (empty for
    // none). A transport without confirmation ignores it.
    virtual void setReceived(const QString& name) { Q_UNUSED(name); }
    // Signs in again with the credentials of this run; true when the
    // service took them.
    virtual bool signInAgain() { return false; }
    // Waits up to `seconds` for a message for this user; `abort` ends the
    // wait early. A transport without waiting says Unsupported at once.
    virtual WaitOutcome waitForMessage(int seconds, const std::function<bool()>& abort) {
        Q_UNUSED(seconds);
        Q_UNUSED(abort);
        return WaitOutcome::Unsupported;
    }
};

// What a Send/Receive cycle tells the window it works for. The worker calls
// these from its own thread; a window implementation only queues them.
class CycleObserver {
public:
    virtual ~CycleObserver() = default;
    virtual void setStatus(const QString& text) = 0;
    // Refills a folder list from disk (0 Inbox, 1 Outbox, 2 Sent).
    virtual void reloadList(int folder) = 0;
    virtual void setTabCount(int tab, int count) = 0;
    virtual void setTrayBlinking(bool blinking) = 0;
    // A video message arrived; the name is U;N as the service sent it.
    virtual void newMessage(const QString& name) = 0;
    // A received thumbnail became a contact's picture.
    virtual void contactsChanged() = 0;
    virtual void updateAllCounts() = 0;
    virtual void fileSent(const QString& outboxName) { Q_UNUSED(outboxName); }
    virtual void fileReceived(const QString& inboxName) { Q_UNUSED(inboxName); }
    // The session ended and signing in again was refused (the password was
    // changed elsewhere): the worker transfers nothing more in this run.
    virtual void signedOut() {}
    // The service refused an Outbox file for good; it waits for the user.
    virtual void sendRefused(const QString& outboxName, const QString& reason) {
        Q_UNUSED(outboxName);
        Q_UNUSED(reason);
    }
};

// An observer for runs without a window: it ignores what only a window shows.
class QuietCycleObserver : public CycleObserver {
public:
    void setStatus(const QString&) override {}
    void reloadList(int) override {}
    void setTabCount(int, int) override {}
    void setTrayBlinking(bool) override {}
    void newMessage(const QString&) override {}
    void contactsChanged() override {}
    void updateAllCounts() override {}
};

// The Send/Receive worker: every cycle uploads the Outbox (keeping copies in
// Sent when "SaveSent" is on), then fetches up to three waiting files into
// the Inbox (only from contacts when "AllowALL" is off), then waits idleTicks x 100 ms or until
// asked for an early cycle. Each download confirms the message filed before
// it; the service hands out again whatever was not confirmed, so a message
// is never lost to a crash or a cut connection, and a copy that comes again
// replaces the one already filed. The first cycle sweeps what writers killed
// part way left in the user folder. When the service has ended the session,
// the worker signs in again once and repeats the transfer; when that sign-in
// is refused it stops transferring, leaving the Outbox as it is, until
// resume() says the user has signed in again. A file the service refused for
// good is marked failed in the store and passed over until the user retries it.
class SendReceiveWorker {
public:
    // What the status line says while transfers wait for a new sign-in.
    static QString signedOutStatus() {
        return QStringLiteral("Signed out: choose Send/Receive to sign in again.");
    }

    using ProfileReader = std::function<int(const QString& entry, int defaultValue)>;

    struct CycleResult {
        int sent = 0;
        int failedUploads = 0;
        int refused = 0; // of failedUploads: refused for good, now marked failed
        int held = 0;    // Outbox files passed over, refused in an earlier cycle
        int received = 0;
        int discarded = 0;
    };

    SendReceiveWorker(const MessageStore& store, QString userId, QString tempFolder,
                      MessageTransport& transport, CycleObserver& observer, WorkerFlags& flags,
                      std::atomic<int>& sendReceiveNow, ProfileReader readProfile);

    // The whole run: cycles until exit is requested, then sets workerStopped.
    void run();
    // One cycle without the wait; "AllowALL" is read at each receive phase.
    CycleResult runCycle();

    // Before each receive phase, wait up to this long for a message to
    // arrive (the headless companion's --wait).
    void setWaitBeforeReceive(int seconds) { m_waitBeforeReceiveSeconds = seconds; }

    // True once the service refused to sign this run in again.
    bool isSignedOut() const { return m_signedOut.load(); }
    // The user has signed in again: transfers start again at the next cycle.
    // Callable from any thread.
    void resume() { m_signedOut = false; }

    // Where a download is received before it is filed.
    QString recordPath() const { return m_recordPath; }

private:
    // What became of a downloaded record.
    enum class Filing {
        Filed,
        Refused, // it can never be filed: confirmed all the same, so it is not sent again
        Failed,  // it could not be written now: left for the service to hand out again
    };

    void sendPhase(CycleResult& result);
    void receivePhase(CycleResult& result);
    Filing fileRecord(QString* receivedName);
    void confirmWithNextDownload(const QString& receivedName);
    // Between cycles: waits on the service until a message arrives for the
    // user, or the period is over; without that page, sleeps the period.
    void waitForNextCycle();
    void waitOnService(std::chrono::steady_clock::time_point deadline);
    bool waitBeforeReceiving();
    // After a transfer the service refused for want of a session: signs in
    // again once; true when the transfer may be repeated.
    bool renewSession(const TransferResult& refused);

    const MessageStore& m_store;
    QString m_userId;
    QString m_recordPath;
    MessageTransport& m_transport;
    CycleObserver& m_observer;
    WorkerFlags& m_flags;
    // The app-wide request for a cycle now, raised by the lists and menus.
    std::atomic<int>& m_sendReceiveNow;
    ProfileReader m_readProfile;
    bool m_allowAll = true;
    bool m_started = false;
    std::atomic<bool> m_signedOut{false};
    // The wait before this cycle ended because the user asked for a cycle.
    bool m_askedNow = false;
    // A cycle was asked for while a gesture held transfers back.
    bool m_pendingAfterGesture = false;
    // The service said a message waits.
    bool m_messageWaits = false;
    // False once the service turned out not to have the waiting page.
    bool m_serviceWaits = true;
    int m_waitBeforeReceiveSeconds = 0;
    QString m_toConfirm;
};
