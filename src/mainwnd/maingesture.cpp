// The main window's record side: the indicator, the status line, the
// gesture by mouse and space bar, F5, and the preview area's painting.

#include "mainwnd/maindialog.h"

#include "app/clientcore.h"
#include "mainwnd/recordindicator.h"
#include "mainwnd/selectionsummary.h"
#include "mainwnd/statusline.h"
#include "platform/helpers.h"
#include "platform/messagebox.h"
#include "platform/messages.h"
#include "recorder/capturewindow.h"
#include "recorder/thumbnail.h"
#include "store/lists/mytabs.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {
const QColor kPreviewColour(220, 220, 255);
} // namespace

void CMainDialog::SetIndicator(int state) {
    if (!hasCaptureWindow())
        state = RecordIndicator::NoRecording;
    m_indicator->setState(state);
}

QRect CMainDialog::indicatorRect() const {
    return m_indicator->geometry();
}

void CMainDialog::repaintPreview() {
    repaint(QRect(QPoint(4, 10), QPoint(319, 239)));
}

void CMainDialog::paintEvent(QPaintEvent*) {
    // Qt paints through its own back buffer, so the preview never flickers.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    painter.fillRect(previewRect(), kPreviewColour);
    if (m_flags.gestureActive.load() == 0 && m_flags.playerShown.load() == 0) {
        const QStringList recipients = GetRecipients();
        const ClientCore* core = ClientCore::instance();
        paintSelectionSummary(painter, recipients, core ? core->m_strFolder : QString());
    }
}

void CMainDialog::gestureStart(bool byMouse) {
    if (m_flags.gestureActive.load() || !hasCaptureWindow())
        return;
    m_boxesAtGestureStart = messageBoxesShown();
    if (!startCamera())
        return;
    setStatusText(QStringLiteral("Start in 3 seconds..."));
    if (byMouse)
        grabMouse();
    // The user must see themselves, not the message that was playing.
    if (m_flags.playerShown.load())
        stopPlayer();
    m_captureWindow->raise();
    m_captureWindow->show();
    countdown = 3;
    m_timers.start(kTimerCountdown, kPeriodCountdownMs);
    m_flags.gestureActive = 1;
    SetIndicator(RecordIndicator::CountingDown);
    lockIfABoxTookTheRelease();
}

void CMainDialog::releasePointer() {
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
}

void CMainDialog::mousePressEvent(QMouseEvent* event) {
    // A double click arrives here too: its second press is the second tap.
    if (event->button() == Qt::LeftButton) {
        const bool onIndicator = indicatorRect().contains(event->position().toPoint());
        // A gesture under way already has its recipients; asking again would
        // set the indicator back to Ready in the middle of it.
        const bool gesture = m_flags.gestureActive.load() != 0;
        if (!gesture) {
            const QStringList recipients = GetRecipients();
            if (onIndicator && !recipients.isEmpty() && hasCaptureWindow())
                gesturePressed(GestureInput::Mouse, event->timestamp());
        } else if (onIndicator && (m_gestureLocked || m_secondTap.isActive())) {
            gesturePressed(GestureInput::Mouse, event->timestamp());
        }
    }
    QDialog::mousePressEvent(event);
}

void CMainDialog::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        releasePointer();
        const bool inside = indicatorRect().contains(event->position().toPoint());
        // A locked recording ends only by a press; a click elsewhere in the
        // window must not cancel it.
        if (!m_gestureLocked &&
            !(inside && firstTapReleased(GestureInput::Mouse, event->timestamp())))
            FinishRecording(!inside);
    }
    QDialog::mouseReleaseEvent(event);
}

bool CMainDialog::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        // A key travels from the focus widget up to its parents; it is seen
        // once, where it was sent.
        const QWidget* focus = QApplication::focusWidget();
        auto* key = static_cast<QKeyEvent*>(event);
        // The space bar belongs to the gesture: a focused button must not
        // be clicked, nor a list changed, by the key that records. An Esc
        // that ends a gesture must not also close the window.
        if (widget->window() == this && (widget == focus || (!focus && widget == this))) {
            if (handleKey(key) && (key->key() == Qt::Key_Space || key->key() == Qt::Key_Escape))
                return true;
            if (playerKey(key))
                return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool CMainDialog::handleKey(QKeyEvent* event) {
    // The press of an X key-repeat pair carries its release's time, to the
    // millisecond or the next one; no finger lets go and presses again this
    // fast, so a press later than this is a new one however late it is seen.
    constexpr quint64 kRepeatPairMs = 25;
    if (event->key() == Qt::Key_Space) {
        if (event->type() == QEvent::KeyPress) {
            if (m_spaceRelease.isActive() &&
                event->timestamp() - m_spaceReleasedAt <= kRepeatPairMs) {
                // The key never went up.
                m_spaceRelease.stop();
            } else if (!event->isAutoRepeat()) {
                if (m_spaceRelease.isActive()) {
                    m_spaceRelease.stop();
                    spaceReleased();
                }
                gesturePressed(GestureInput::Space, event->timestamp());
            }
        } else if (!event->isAutoRepeat()) {
            m_spaceReleasedAt = event->timestamp();
            m_spaceRelease.start();
        }
        return true;
    }
    if (event->key() == Qt::Key_Escape) {
        if (event->type() == QEvent::KeyRelease) {
            m_escapeReleasedAt = event->timestamp();
            return false;
        }
        if (m_escapeHeld &&
            (event->isAutoRepeat() || event->timestamp() - m_escapeReleasedAt <= kRepeatPairMs))
            return true;
        m_escapeHeld = false;
        if (!m_flags.gestureActive.load())
            return false;
        m_escapeHeld = true;
        cancelGesture();
        return true;
    }
    if (event->key() == Qt::Key_F5 && event->type() == QEvent::KeyRelease &&
        !event->isAutoRepeat()) {
        QCoreApplication::postEvent(this, new PrivateEvent(WM_REFRESH_LIST, 0, currentTab()));
        return true;
    }
    return false;
}

void CMainDialog::spaceReleased() {
    if (m_gestureLocked || firstTapReleased(GestureInput::Space, m_spaceReleasedAt))
        return;
    if (m_flags.gestureActive.load()) {
        m_timers.stop(kTimerCountdown);
        FinishRecording(false);
    }
    // "Cancelled" stays its while when the key goes up after an Esc.
    if (!m_timers.isActive(kTimerClearCancelled))
        setStatusText(QString());
}

void CMainDialog::gesturePressed(GestureInput input, quint64 at) {
    if (m_gestureLocked) {
        m_tapInput = GestureInput::None;
        FinishRecording(false);
        return;
    }
    // Unsigned: a press timed before the tap is no second tap.
    const bool secondTap = m_tapInput == input && at - m_tapPressedAt <= kDoubleTapMs;
    m_tapInput = GestureInput::None;
    if (m_flags.gestureActive.load()) {
        // Only a first tap's gesture waits for another press.
        if (!m_secondTap.isActive())
            return;
        if (!secondTap) {
            // Too late for a second tap: a new gesture, as if the first
            // tap's had ended on time.
            FinishRecording(true);
        }
    }
    if (!m_flags.gestureActive.load()) {
        gestureStart(input == GestureInput::Mouse);
        m_gestureInput = input;
        m_gesturePressedAt = at;
    }
    if (secondTap && m_flags.gestureActive.load())
        lockGesture();
}

void CMainDialog::lockGesture() {
    m_secondTap.stop();
    m_gestureLocked = true;
    // Nothing is held: clicks elsewhere belong to whoever gets them.
    releasePointer();
}

void CMainDialog::lockIfABoxTookTheRelease() {
    // A box shown during a gesture (a chosen camera or microphone that is
    // missing) got the key and the button while it was up, so the release
    // that ends a held gesture may never come: the recording goes on
    // hands-free, and the status line says how to stop it.
    if (m_flags.gestureActive.load() && !m_gestureLocked &&
        messageBoxesShown() != m_boxesAtGestureStart)
        lockGesture();
}

bool CMainDialog::firstTapReleased(GestureInput input, quint64 at) {
    if (!m_flags.gestureActive.load() || m_gestureInput != input || m_flags.recording.load() ||
        at - m_gesturePressedAt > kDoubleTapMs)
        return false;
    m_tapInput = input;
    m_tapPressedAt = m_gesturePressedAt;
    // The timer only decides when to stop waiting; which press is a second
    // tap is decided by the presses' own times.
    // Scaled as the countdown is, which it must not outlast.
    m_secondTap.start(scaledPeriod(static_cast<int>(kDoubleTapMs - (at - m_gesturePressedAt)) + 1));
    return true;
}

void CMainDialog::secondTapMissed() {
    // A single tap records nothing; cancelled, in case a stalled machine
    // let the countdown run out meanwhile.
    FinishRecording(true);
}

void CMainDialog::cancelGesture() {
    const bool recorded = m_flags.recording.load() != 0;
    FinishRecording(true);
    if (recorded) {
        // What the user threw away is not kept, not even in private.
        QFile::remove(tempVideoPath);
        QFile::remove(thumbnailPathFor(tempVideoPath));
    }
    setStatusText(QStringLiteral("Cancelled"));
    m_timers.start(kTimerClearCancelled, kPeriodClearCancelledMs);
}

void CMainDialog::unlockGesture() {
    m_gestureLocked = false;
    m_secondTap.stop();
}

QString CMainDialog::recordingStatus(const QString& text) const {
    return m_gestureLocked ? text + QStringLiteral(" press space to stop") : text;
}
