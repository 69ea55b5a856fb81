// The main window's recording session: the capture window, the countdown,
// starting and stopping the writer and the audio thread, frame pacing, the
// thumbnail, and the hand-off of a finished recording to the Saving worker.

#include "mainwnd/maindialog.h"

#include "app/clientcore.h"
#include "mainwnd/recordindicator.h"
#include "mainwnd/workerthreads.h"
#include "platform/helpers.h"
#include "platform/messagebox.h"
#include "platform/messages.h"
#include "platform/tempfolder.h"
#include "recorder/capturewindow.h"
#include "recorder/recordsound.h"
#include "recorder/thumbnail.h"
#include "recorder/wmvwriter.h"

#include <QCoreApplication>
#include <QFile>

namespace {
constexpr char kSystemProfile[] = "{29B00C2B-09A9-48BD-AD09-CDAE117D1DA7}";
constexpr int kFramesPerSecond = 20;
constexpr std::uint32_t kRecordingLimitSeconds = 30;
constexpr std::uint32_t kThumbnailAfterMs = 1000;
// The first frames after the program starts do not count toward recorded
// time: the camera is still settling.
constexpr std::uint32_t kSettlingFrames = 5;

// Frame pacing lasts as long as the process.
std::uint32_t g_framesWritten = 0;
std::uint32_t g_lastHandledTick = 0;
std::uint32_t g_previousCallbackTick = 0;

const QString& captureFailureText() {
    static const QString text = QStringLiteral(
        "Unable to capture video input. There may be a problem with your video hardware "
        "settings. If you have video running in another window you must close it before you can "
        "open this video window. You may also try unplugging and then re-plugging your webcam "
        "into your PC.");
    return text;
}
} // namespace

void CMainDialog::SetupCapture() {
    // The camera is only looked for here; it is turned on for each gesture
    // and off when the gesture ends, so its light is on only while needed.
    while (!CCaptureWindow::driverAvailable()) {
        if (!askRetryCapture())
            return;
    }
    auto* capture = new CCaptureWindow(this);
    capture->setObjectName(QStringLiteral("captureWindow"));
    capture->setGeometry(previewRect());
    capture->hide();
    capture->setFrameCallback([this](const unsigned char* frame) { OnCaptureFrame(frame); });
    m_captureWindow = capture;
    m_timers.start(kTimerGrabFrame, kPeriodGrabFrameMs);
}

bool CMainDialog::askRetryCapture() {
    const QString caption = ClientCore::instance()->service().host();
    return showMessageBox(this, captureFailureText(), caption, QMessageBox::Question,
                          QMessageBox::Retry | QMessageBox::Cancel) == QMessageBox::Retry;
}

bool CMainDialog::startCamera() {
    while (m_captureWindow && !m_captureWindow->isConnected()) {
        if (m_captureWindow->connectDriver())
            return true;
        if (!askRetryCapture())
            return false;
    }
    return m_captureWindow != nullptr;
}

void CMainDialog::stopCamera() {
    m_waitingForCamera = false;
    if (m_captureWindow) {
        m_captureWindow->hide();
        m_captureWindow->disconnectDriver();
    }
}

void CMainDialog::grabFrame() {
    if (!m_captureWindow || !m_captureWindow->isVisible())
        return;
    if (!m_captureWindow->grabFrame() || !m_waitingForCamera)
        return;
    m_waitingForCamera = false;
    if (m_flags.gestureActive.load())
        ToggleRecording(true);
}

void CMainDialog::countdownTick() {
    const int old = countdown;
    countdown = old - 1;
    if (old >= 2) {
        setStatusText(QStringLiteral("Start in %1 seconds...").arg(old - 1));
        return;
    }
    m_timers.stop(kTimerCountdown);
    // A camera that has not given its first picture yet would make a
    // recording that starts black: it starts with that picture instead.
    if (m_captureWindow && !m_captureWindow->hasPicture()) {
        m_waitingForCamera = true;
        return;
    }
    ToggleRecording(true);
}

void CMainDialog::recordingTick() {
    lockIfABoxTookTheRelease();
    const std::uint32_t seconds = recordedMs / 1000u;
    setStatusText(recordingStatus(QStringLiteral("Recording (%1 sec)...").arg(seconds)));
    if (seconds >= kRecordingLimitSeconds)
        FinishRecording(false);
}

void CMainDialog::ToggleRecording(bool restart) {
    if (restart && m_writer)
        stopRecording();
    if (m_writer) {
        stopRecording();
        return;
    }
    // The recording goes only into the user's private working folder.
    QString why;
    const QString folder = privateWorkingFolder(ClientCore::instance()->m_strUserId, &why);
    if (folder.isEmpty()) {
        showMessageBox(this, QStringLiteral("Nowhere private to record to: %1.").arg(why),
                       ClientCore::applicationTitle(), QMessageBox::Warning);
        return;
    }
    m_timers.start(kTimerRecordingTick, kPeriodRecordingTickMs);
    if (!m_recorder)
        m_recorder = std::make_unique<RecordSound>();
    if (!m_recorder->threadCreated() && !m_recorder->CreateThread())
        showMessageBox(this, QStringLiteral("error creating thread"),
                       ClientCore::applicationTitle(), QMessageBox::Warning);
    recordedMs = 0;
    thumbnailTaken = 0;
    tempVideoPath = folder + QStringLiteral("vnote.wmv");
    m_recordingFinished = false;
    // A recording too short for a thumbnail must not carry the picture of an
    // earlier one, which may have gone to someone else.
    QFile::remove(thumbnailPathFor(tempVideoPath));
    m_writer = std::make_shared<CWmvWriter>(tempVideoPath, QLatin1String(kSystemProfile),
                                            kFramesPerSecond);
    m_recorder->setWriter(m_writer);
    m_recorder->setMicrophone(readDeviceChoice(DeviceKind::Microphone));
    m_recorder->PostThreadMessage(WM_RECORD_START);
    m_flags.recording = 1;
    setStatusText(recordingStatus(QStringLiteral("Recording...")));
    SetIndicator(RecordIndicator::Recording);
}

void CMainDialog::stopRecording() {
    m_timers.stop(kTimerRecordingTick);
    if (m_recorder) {
        m_recorder->PostThreadMessage(WM_RECORD_STOP);
        m_recorder->PostThreadMessage(WM_RECORD_END);
        // No sound buffer reaches the writer once this returns, and the
        // audio thread holds no reference to it any more.
        m_recorder->waitUntilStopped();
    }
    // Finished here rather than by whoever lets go of the writer last: the
    // Saving worker must find the file whole, and learn whether it is.
    m_recordingFinished = m_writer->Close();
    m_writer.reset();
    m_flags.recording = 0;
    SetIndicator(RecordIndicator::NoRecording);
}

void CMainDialog::FinishRecording(bool cancelled) {
    unlockGesture();
    m_timers.stop(kTimerCountdown);
    const bool wasRecording = m_flags.recording.load() != 0;
    if (wasRecording)
        ToggleRecording(false);
    if (m_flags.gestureActive.load()) {
        m_flags.gestureActive = 0;
        SetIndicator(RecordIndicator::Ready);
        if (wasRecording && !cancelled)
            startSavingWorker(this, RecordingHandOff{tempVideoPath, thumbnailPathFor(tempVideoPath),
                                                     m_recordingFinished});
    }
    m_flags.recording = 0;
    releasePointer();
    stopCamera();
    if (wasRecording && cancelled) {
        setStatusText(QStringLiteral("Cancelled"));
        m_timers.start(kTimerClearCancelled, kPeriodClearCancelledMs);
    } else {
        setStatusText(QString());
    }
    repaintPreview();
}

void CMainDialog::OnCaptureFrame(const unsigned char* frame) {
    const std::uint32_t now = GetTickCount();
    if (g_previousCallbackTick != 0) {
        const std::uint32_t sincePrevious = now - g_previousCallbackTick;
        if (now - g_lastHandledTick >= frameIntervalMs) {
            if (!m_writer) {
                g_lastHandledTick = now;
            } else {
                ++g_framesWritten;
                if (!writeFrame(frame)) {
                    g_previousCallbackTick = now;
                    return;
                }
                if (recordedMs > kThumbnailAfterMs && !thumbnailTaken) {
                    thumbnailTaken = 1;
                    MakeThumbnail(frame, tempVideoPath);
                }
                if (g_framesWritten >= kSettlingFrames)
                    recordedMs += sincePrevious;
                g_lastHandledTick = now;
            }
        }
    }
    g_previousCallbackTick = now;
}

bool CMainDialog::writeFrame(const unsigned char* frame) {
    const HRESULT result = m_writer->WriteFrame(320, 240, frame, 24);
    if (SUCCEEDED(result))
        return true;
    // The capture window goes until the next sign-in; the recording goes on
    // until the gesture ends, without pictures.
    const QString text = m_writer->errorText();
    CCaptureWindow* capture = m_captureWindow;
    m_captureWindow = nullptr;
    m_timers.stop(kTimerGrabFrame);
    capture->hide();
    capture->deleteLater();
    showMessageBox(this, text, QStringLiteral("Error Occured"), QMessageBox::Critical);
    return false;
}
