#pragma once

// The main window's private messages and timer numbers, defined once. The
// messages travel as posted QEvents whose type is the message number; every
// number lies inside Qt's user event range.

#include <QEvent>
#include <QString>

#include <cstdint>

enum : int {
    WM_USER = 0x0400,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_RBUTTONUP = 0x0205,

    WM_TRAY_NOTIFY = 9003,
    WM_HIDE_MAIN = 9004,
    WM_NEW_MESSAGE = WM_USER + 9,
    WM_UPDATE_COUNTS = WM_USER + 10,
    WM_REFRESH_LIST = WM_USER + 11,

    // The audio thread's own messages.
    WM_RECORD_START = WM_USER + 500,
    WM_RECORD_STOP = WM_USER + 501,
    WM_RECORD_END = WM_USER + 502,
};

// Tray icon identifier; the tray callback message is WM_TRAY_NOTIFY.
inline constexpr int kTrayIconId = 9002;

// Timer identifiers of the main window and their periods in milliseconds.
enum TimerId : int {
    kTimerGrabFrame = 2,
    kTimerCountdown = 3,
    kTimerClearCancelled = 4,
    kTimerRecordingTick = 5,
    kTimerExitPoll = 6,
    kTimerSignIn = 7,
    kTimerContactRepaint = 8,
    kTimerTrayBlink = 9,
};

inline constexpr int kPeriodGrabFrameMs = 100;
inline constexpr int kPeriodCountdownMs = 1000;
inline constexpr int kPeriodClearCancelledMs = 2000;
inline constexpr int kPeriodRecordingTickMs = 1000;
inline constexpr int kPeriodExitPollMs = 500;
inline constexpr int kPeriodSignInMs = 100;
inline constexpr int kPeriodContactRepaintMs = 500;
inline constexpr int kPeriodTrayBlinkMs = 1000;

// A posted private message: its type is the message number, and it carries
// the two message parameters and, where a message needs one, a text that the
// receiver owns with the event.
class PrivateEvent : public QEvent {
public:
    PrivateEvent(int message, std::intptr_t wParam, std::intptr_t lParam, QString text = {})
        : QEvent(static_cast<QEvent::Type>(message)), m_wParam(wParam), m_lParam(lParam),
          m_text(std::move(text)) {}

    int message() const { return static_cast<int>(type()); }
    std::intptr_t wParam() const { return m_wParam; }
    std::intptr_t lParam() const { return m_lParam; }
    const QString& text() const { return m_text; }

private:
    std::intptr_t m_wParam;
    std::intptr_t m_lParam;
    QString m_text;
};
