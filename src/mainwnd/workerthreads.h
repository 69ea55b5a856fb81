#pragma once

#include "mainwnd/windowlink.h"
#include "service/savingworker.h"

#include <memory>
#include <thread>

class CMainDialog;
class MessageStore;

// The Send/Receive worker's thread for the run of the program. Destroying it
// asks the worker to stop and waits for it and for the Saving workers' threads.
class SendReceiveThread {
public:
    SendReceiveThread(CMainDialog* window, const MessageStore& store, const QString& userId,
                      std::unique_ptr<MessageTransport> transport);
    ~SendReceiveThread();

    bool isSignedOut() const { return m_worker->isSignedOut(); }
    // The user signed in again after the service ended the session:
    // transfers start again with a cycle now.
    void resume();

private:
    CMainDialog* m_window;
    MainWindowLink m_link;
    std::unique_ptr<MessageTransport> m_transport;
    std::unique_ptr<SendReceiveWorker> m_worker;
    std::thread m_thread;
};

// Runs the Saving worker for the recording just finished, on its own thread;
// it asks the window for the recipients with a blocking queued call. The
// thread belongs to the window and is joined before the window ends.
void startSavingWorker(CMainDialog* window, const RecordingHandOff& recording);

// Lowers the calling thread's scheduling priority, as the workers run below
// the UI thread.
void lowerThreadPriority();
