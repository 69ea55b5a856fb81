// The main window's record side: the indicator, the status line, the
// gesture by mouse and space bar, F5, and the preview area's painting.

#include "mainwnd/maindialog.h"

#include "app/clientcore.h"
#include "mainwnd/recordindicator.h"
#include "mainwnd/selectionsummary.h"
#include "mainwnd/statusline.h"
#include "platform/messages.h"
#include "recorder/capturewindow.h"
#include "store/lists/mytabs.h"

#include <QApplication>
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
}

void CMainDialog::releasePointer() {
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
}

void CMainDialog::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QStringList recipients = GetRecipients();
        if (!recipients.isEmpty() && hasCaptureWindow() &&
            indicatorRect().contains(event->position().toPoint()))
            gestureStart(true);
    }
    QDialog::mousePressEvent(event);
}

void CMainDialog::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        releasePointer();
        FinishRecording(!indicatorRect().contains(event->position().toPoint()));
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
        // be clicked, nor a list changed, by the key that records.
        if (widget->window() == this && (widget == focus || (!focus && widget == this))) {
            if (handleKey(key) && key->key() == Qt::Key_Space)
                return true;
            if (playerKey(key))
                return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool CMainDialog::handleKey(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        if (event->type() == QEvent::KeyPress) {
            // A press right after a release: the key never went up.
            if (m_spaceRelease.isActive())
                m_spaceRelease.stop();
            else if (!m_flags.gestureActive.load() && hasCaptureWindow())
                gestureStart(false);
        } else if (!event->isAutoRepeat()) {
            m_spaceRelease.start();
        }
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
    if (m_flags.gestureActive.load()) {
        m_timers.stop(kTimerCountdown);
        FinishRecording(false);
    }
    setStatusText(QString());
}
