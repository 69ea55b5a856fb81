#pragma once

#include "platform/windowtimers.h"
#include "service/workerflags.h"

#include <QDialog>
#include <QIcon>
#include <QStringList>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class CAd;
class CCaptureWindow;
class CWmvWriter;
class RecordSound;
class CContactList;
class CFolderList;
class CInBoxList;
class CMyTabs;
class COcx1;
class COutBoxList;
class CSentList;
class MessageStore;
class PrivateEvent;
class QAbstractItemView;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class MessageTransport;
class RecordIndicator;
class SendReceiveThread;
class StatusLine;
class TrayIcon;

// The program's one top-level window: the preview area, record indicator,
// status line, Options button and web panel on the left, the folder tabs with
// the four lists on the right. It owns the tray icon, the numbered timers and
// the private messages through which lists, popups and workers reach it, runs
// the sign-in once it is on screen, and ends only after the Send/Receive
// worker has stopped.
class CMainDialog : public QDialog {
    Q_OBJECT

public:
    explicit CMainDialog(QWidget* parent = nullptr);
    ~CMainDialog() override;

    // How long a space-bar release waits for the press of an auto-repeat
    // pair before it counts: repeat pairs come within a few milliseconds,
    // the keyboard's repeat delay is hundreds.
    static constexpr int kSpaceReleaseSettleMs = 60;
    // Two presses of the space bar, or on the indicator, this close together
    // on the window system's clock lock the recording: the user lets go and
    // the next press ends it.
    static constexpr quint64 kDoubleTapMs = 400;

    // The flags shared with the worker threads.
    WorkerFlags& flags() { return m_flags; }
    int countdown = 0;
    int trayBlinkPhase = 0;

    // The recording in progress.
    std::uint32_t frameIntervalMs = 30;
    std::uint32_t recordedMs = 0;
    int thumbnailTaken = 0;
    QString tempVideoPath;

    // Creates the capture window; on failure offers Retry and Cancel.
    void SetupCapture();
    // Starts a recording when none runs, else stops it; with restart a new
    // recording always starts.
    void ToggleRecording(bool restart);
    // Ends the gesture; a recording ended without cancelling is filed.
    void FinishRecording(bool cancelled);
    // One 320 x 240 bottom-up BGR frame from the capture window.
    void OnCaptureFrame(const unsigned char* frame);
    CCaptureWindow* captureWindow() const { return m_captureWindow; }
    // A space-bar release is waiting to learn whether the key went up.
    bool spaceReleasePending() const { return m_spaceRelease.isActive(); }
    // A first tap has been let go and the gesture waits for a second one.
    bool waitingForSecondTap() const { return m_secondTap.isActive(); }
    // The gesture goes on without a held key or button.
    bool gestureLocked() const { return m_gestureLocked; }
    CWmvWriter* writer() const { return m_writer.get(); }

    void OnCancel();
    void OnOK() {}

    // What follows a sign-in the service accepted for ClientCore's user ID:
    // the user folder, the title, the Inbox, the worker and the web panel.
    // False when the user ID cannot name a folder.
    bool completeSignIn();
    // The service ended the session and refused the password of this run:
    // the sign-in dialog for this user ID, then transfers start again. One
    // dialog at a time; cancelling it leaves transfers stopped.
    void askToSignInAgain();
    // The transfers the Send/Receive worker uses; tests replace them.
    using TransportFactory = std::function<std::unique_ptr<MessageTransport>()>;
    static void setTransportFactory(TransportFactory factory);

    void ShowFolder();
    void UpdateCounts(int folder);
    int CountFiles(int folder, const QString& exclusion, bool unreadOnly) const;
    void LayoutControls();
    // The recipients chosen in the current tab; also sets the indicator.
    QStringList GetRecipients();
    // Refills a folder's list from disk (0 Inbox to 3 Contacts).
    void reloadList(int folder);
    // Starts or stops the tray icon's blinking (timer 9).
    void setTrayBlinking(bool blinking);
    void SetIndicator(int state);
    // Sets the status line; callable from any thread.
    Q_INVOKABLE void setStatusText(const QString& text);
    QString statusText() const;

    int currentTab() const;
    WindowTimers& timers() { return m_timers; }
    TrayIcon& tray() { return *m_tray; }
    MessageStore* store() const { return m_store.get(); }

    CMyTabs* tabs() const { return m_tabs; }
    CInBoxList* inboxList() const { return m_inbox; }
    COutBoxList* outboxList() const { return m_outbox; }
    CSentList* sentList() const { return m_sent; }
    CContactList* contactList() const { return m_contacts; }
    COcx1* player() const { return m_player; }
    CAd* webPanel() const { return m_ad; }
    RecordIndicator* indicator() const { return m_indicator; }

    // The preview area, where the capture window and the player stand.
    static QRect previewRect() { return QRect(4, 10, 320, 240); }

protected:
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void customEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    WorkerFlags m_flags;
    void OnInitDialog();
    void createControls();
    void placeWindow();
    void saveWindowRect();
    void signIn();
    void showAbout();
    void showOptions();
    void onTrayNotify(const PrivateEvent& event);
    void onNewMessage(const PrivateEvent& event);
    void onInboxItemChanged(const QString& text, bool selected);
    void onSentItemChanged(const QString& text, bool selected);
    void playItem(const QString& text, bool inbox);
    // The four lists in folder order.
    std::array<CFolderList*, 4> folderLists() const;
    void stopPlayer();
    void markRead(const QString& inboxName);
    void repaintPreview();
    bool workersStopped() const {
        return m_flags.workerStopped.load() && m_flags.savingWorkers.load() == 0;
    }
    bool hasCaptureWindow() const { return m_captureWindow != nullptr; }
    // byMouse: the press on the indicator, whose release must reach the
    // window wherever the pointer is; the space bar never grabs the pointer.
    void gestureStart(bool byMouse);
    // A space-bar release that no press followed at once: the key is up.
    void spaceReleased();
    enum class GestureInput { None, Space, Mouse };
    // A press of the space bar or on the indicator that is no key repeat:
    // starts, locks or ends the gesture.
    void gesturePressed(GestureInput input, quint64 at);
    // True when the release makes the press a first tap: the countdown goes
    // on for the rest of the double-tap window.
    bool firstTapReleased(GestureInput input, quint64 at);
    void secondTapMissed();
    // Esc: the gesture ends and its recording goes, filed nowhere.
    void cancelGesture();
    // The gesture ended, however it ended.
    void unlockGesture();
    void lockGesture();
    void lockIfABoxTookTheRelease();
    QString recordingStatus(const QString& text) const;
    // Turns the camera on for a gesture; false when it cannot start and the
    // user gave up retrying.
    bool startCamera();
    void stopCamera();
    // The capture failure box; true for Retry.
    bool askRetryCapture();
    void grabFrame();
    void countdownTick();
    void recordingTick();
    // Stops the audio thread and finishes the video here, on the UI thread,
    // so the file is complete (or gone) before the Saving worker starts.
    void stopRecording();
    bool writeFrame(const unsigned char* frame);
    QRect indicatorRect() const;
    bool handleKey(QKeyEvent* event);
    // Enter, Left and Right for the player; true when it took the key.
    bool playerKey(QKeyEvent* event);
    void releasePointer();

    WindowTimers m_timers{this};
    bool m_ending = false;
    bool m_askingToSignIn = false;
    QIcon m_iconNormal;
    QIcon m_iconAlert;
    std::unique_ptr<MessageStore> m_store;
    std::unique_ptr<SendReceiveThread> m_worker;

    QGroupBox* m_group = nullptr;
    COcx1* m_player = nullptr;
    CMyTabs* m_tabs = nullptr;
    QFrame* m_tabPage = nullptr;
    CInBoxList* m_inbox = nullptr;
    COutBoxList* m_outbox = nullptr;
    CSentList* m_sent = nullptr;
    CContactList* m_contacts = nullptr;
    QPushButton* m_options = nullptr;
    StatusLine* m_status = nullptr;
    RecordIndicator* m_indicator = nullptr;
    QLabel* m_address = nullptr;
    QFrame* m_separator = nullptr;
    CAd* m_ad = nullptr;
    TrayIcon* m_tray = nullptr;
    // The webcam preview, set up after sign-in.
    CCaptureWindow* m_captureWindow = nullptr;
    // The countdown has ended but the camera has not given a picture yet;
    // the recording starts with its first one.
    bool m_waitingForCamera = false;
    // Key auto-repeat can arrive as a release and a press that are not
    // marked as repeats; a release counts once no press of its own time
    // (m_spaceReleasedAt) followed it.
    QTimer m_spaceRelease;
    quint64 m_spaceReleasedAt = 0;
    // What started the gesture, and when by the window system's clock.
    GestureInput m_gestureInput = GestureInput::None;
    quint64 m_gesturePressedAt = 0;
    // The press of the last first tap: a second press of the same input
    // within kDoubleTapMs of it locks the gesture, also one handled after
    // m_secondTap ran out on a busy machine.
    GestureInput m_tapInput = GestureInput::None;
    quint64 m_tapPressedAt = 0;
    QTimer m_secondTap;
    bool m_gestureLocked = false;
    // Boxes shown before the gesture began (see lockIfABoxTookTheRelease).
    quint64 m_boxesAtGestureStart = 0;
    // An Esc that cancelled a gesture is held down: its key repeats must not
    // reach the window, where Esc asks to close it.
    bool m_escapeHeld = false;
    quint64 m_escapeReleasedAt = 0;
    std::shared_ptr<CWmvWriter> m_writer;
    // The writer of the last recording put a complete file at tempVideoPath.
    bool m_recordingFinished = false;
    std::unique_ptr<RecordSound> m_recorder;
};

// The main window, reachable from every thread; set by its constructor.
extern CMainDialog* g_pMainDialog;
