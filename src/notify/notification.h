#pragma once

#include "platform/windowtimers.h"

#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;

// The popup that announces one received message: a small always-on-top
// window that rises out of the bottom-right corner of the screen's free area,
// shows the message's thumbnail, "New Messge!" and the sender, and closes
// itself after 15 seconds. Its close box closes it at once; a click anywhere
// else brings up the main window on its Inbox tab. Each message has its own
// popup; a closed popup deletes itself.
class CNotification : public QWidget {
    Q_OBJECT

public:
    // Timers of the popup.
    static constexpr int kTimerStand = 2;
    static constexpr int kTimerGrow = 3;
    static constexpr int kPeriodStandMs = 15000;
    static constexpr int kPeriodGrowMs = 10;
    static constexpr int kGrowStep = 3;
    static constexpr int kStartHeight = 5;
    static constexpr int kHeightLimit = 60; // grows while the next height stays below
    // Width of the whole window, its one-pixel border included.
    static constexpr int kWidth = 170;
    static constexpr int kBorder = 1;
    static constexpr int kMarginRight = 10; // from the free area's right edge
    static constexpr int kCloseZone = 14;   // the clickable top-right square
    static constexpr QRect kThumbnailRect{3, 10, 48, 32};

    static constexpr QRgb kBackgroundColour = qRgb(255, 255, 223);
    static constexpr QRgb kSenderColour = qRgb(0, 0, 128);
    static constexpr QRgb kCloseBoxColour = qRgb(255, 0, 0);
    static constexpr QRgb kCrossColour = qRgb(255, 255, 255);

    // messageName is the received name (the sender's ID, ";" and a number);
    // userFolder is the folder whose Inbox holds its thumbnail.
    CNotification(const QString& messageName, const QString& userFolder);

    // What the main window does for each new message while popups are on:
    // a new popup, shown at once, whose click is posted to mainWindow as
    // WM_TRAY_NOTIFY (1, WM_LBUTTONUP).
    static CNotification* showFor(QObject* mainWindow, const QString& userFolder,
                                  const QString& messageName);

    void setOwner(QObject* owner) { m_owner = owner; }
    QObject* owner() const { return m_owner; }
    const QString& messageName() const { return m_messageName; }
    // The full sender line, before any shortening to fit.
    const QString& senderLine() const { return m_sender; }
    QString thumbnailPath() const;
    // The inner area, inside the border, in the popup's own coordinates.
    QRect clientRect() const { return rect().adjusted(kBorder, kBorder, -kBorder, -kBorder); }
    // The close box as drawn, in client coordinates.
    QRect closeBoxRect() const;
    bool growing() const { return m_timers.isActive(kTimerGrow); }
    bool standing() const { return m_timers.isActive(kTimerStand); }

    // Where a popup appears: its width, 5 pixels high, just below the free
    // area of the screen at its right edge.
    static QRect startGeometry();

protected:
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void OnInitDialog();
    void growStep();
    void postClose();
    void updateSenderLabel();

    QPointer<QObject> m_owner;
    QString m_messageName;
    QString m_userFolder;
    QString m_sender;
    QImage m_thumbnail; // keyed, once it has loaded
    QLabel* m_heading;
    QLabel* m_senderLabel;
    WindowTimers m_timers{this};
};
