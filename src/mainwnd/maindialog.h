#pragma once

#include "platform/windowtimers.h"

#include <QDialog>

#include <atomic>

class ClientCore;

// The program's one top-level window. It runs the sign-in once it is on
// screen and owns the exit handshake with the Send/Receive worker: closing
// asks the worker to stop and the window ends only after it has.
class CMainDialog : public QDialog {
    Q_OBJECT

public:
    explicit CMainDialog(QWidget* parent = nullptr);
    ~CMainDialog() override;

    // Flags shared with the worker threads.
    std::atomic<int> gestureActive{0};
    std::atomic<int> playerShown{0};
    std::atomic<int> transferBusy{0};
    std::atomic<int> recording{0};
    std::atomic<int> idleTicks{300};
    std::atomic<int> exitRequested{0};
    std::atomic<int> workerStopped{0};
    int countdown = 0;

    void OnCancel();
    void OnOK() {}

    WindowTimers& timers() { return m_timers; }

protected:
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void OnInitDialog();
    void placeWindow();
    void saveWindowRect();
    void signIn();

    WindowTimers m_timers{this};
    bool m_ending = false;
};

// The main window, reachable from every thread; set by its constructor.
extern CMainDialog* g_pMainDialog;
