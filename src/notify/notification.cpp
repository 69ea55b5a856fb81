#include "notify/notification.h"

#include "app/appfonts.h"
#include "platform/messages.h"
#include "platform/resources.h"
#include "store/messagestore.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>

namespace {

// Places of the two texts in client coordinates. The heading reaches up to
// the close box, so that the whole of it shows in a wider bold face.
constexpr QRect kHeadingRect{57, 3, 93, 16};
constexpr QRect kSenderRect{51, 24, 108, 18};

QString senderOf(const QString& messageName) {
    const qsizetype last = messageName.lastIndexOf(QLatin1Char(';'));
    return last < 0 ? messageName : messageName.left(last);
}

} // namespace

CNotification::CNotification(const QString& messageName, const QString& userFolder)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_messageName(messageName), m_userFolder(userFolder) {
    setObjectName(QStringLiteral("CNotification"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The user may be holding the space bar to record in the main window; a
    // popup must not take the keyboard away.
    setAttribute(Qt::WA_ShowWithoutActivating);

    const QPoint client(kBorder, kBorder);
    m_heading = new QLabel(QStringLiteral("New Messge!"), this);
    m_heading->setObjectName(QStringLiteral("heading"));
    m_heading->setGeometry(kHeadingRect.translated(client));
    m_heading->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_senderLabel = new QLabel(QStringLiteral("From"), this);
    m_senderLabel->setObjectName(QStringLiteral("sender"));
    m_senderLabel->setGeometry(kSenderRect.translated(client));
    m_senderLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QPalette palette = m_senderLabel->palette();
    palette.setColor(QPalette::WindowText, QColor(kSenderColour));
    m_senderLabel->setPalette(palette);
    palette = m_heading->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    m_heading->setPalette(palette);

    OnInitDialog();
}

CNotification* CNotification::showFor(QObject* mainWindow, const QString& userFolder,
                                      const QString& messageName) {
    auto* popup = new CNotification(messageName, userFolder);
    popup->setOwner(mainWindow);
    popup->show();
    return popup;
}

QRect CNotification::startGeometry() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect free = screen ? screen->availableGeometry() : QRect(0, 0, 640, 480);
    return QRect(free.x() + free.width() - kWidth - kMarginRight, free.y() + free.height(), kWidth,
                 kStartHeight);
}

void CNotification::OnInitDialog() {
    setGeometry(startGeometry());
    m_timers.start(kTimerGrow, kPeriodGrowMs);
    m_heading->setFont(appFonts().bold11);
    m_senderLabel->setFont(appFonts().thin9);
    m_sender = senderOf(m_messageName);
    updateSenderLabel();
}

void CNotification::updateSenderLabel() {
    const QFontMetrics metrics(m_senderLabel->font());
    m_senderLabel->setText(metrics.elidedText(m_sender, Qt::ElideRight, kSenderRect.width()));
}

QString CNotification::thumbnailPath() const {
    return MessageStore(m_userFolder).popupThumbnailPath(m_messageName);
}

QRect CNotification::closeBoxRect() const {
    const int right = clientRect().width();
    return QRect(right - kCloseZone - 2, 2, kCloseZone, kCloseZone);
}

void CNotification::timerEvent(QTimerEvent* event) {
    switch (m_timers.idFor(event->timerId())) {
    case kTimerGrow:
        growStep();
        break;
    case kTimerStand:
        m_timers.stop(kTimerStand);
        postClose();
        break;
    default:
        QWidget::timerEvent(event);
    }
}

void CNotification::growStep() {
    const QRect r = geometry();
    const int newTop = r.top() - kGrowStep;
    const int newHeight = r.top() + r.height() - newTop; // the bottom edge stays
    if (newHeight < kHeightLimit) {
        setGeometry(r.left(), newTop, r.width(), newHeight);
        return;
    }
    m_timers.stop(kTimerGrow);
    m_timers.start(kTimerStand, kPeriodStandMs);
    repaint();
}

void CNotification::postClose() {
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

void CNotification::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(kBackgroundColour));
    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.translate(kBorder, kBorder);

    // The thumbnail may be filed just after the video; a later repaint picks
    // it up. A missing or unreadable one leaves its place empty.
    if (m_thumbnail.isNull()) {
        const QString path = thumbnailPath();
        if (!path.isEmpty())
            m_thumbnail = withColourKey(QImage(path));
    }
    if (!m_thumbnail.isNull())
        painter.drawImage(kThumbnailRect, m_thumbnail);

    const QRect box = closeBoxRect();
    painter.fillRect(box, QColor(kCloseBoxColour));
    painter.setPen(QColor(kCrossColour));
    // Both strokes stop one pixel short of their end point.
    painter.drawLine(box.left() + 1, box.top() + 1, box.right() - 1, box.bottom() - 1);
    painter.drawLine(box.right(), box.top() + 1, box.left() + 2, box.bottom() - 1);
}

void CNotification::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint p = event->position().toPoint() - QPoint(kBorder, kBorder);
    const QRect client(QPoint(0, 0), clientRect().size());
    if (!client.contains(p))
        return; // the border is no part of the popup's face
    if (p.x() > client.width() - kCloseZone && p.y() < kCloseZone) {
        postClose();
        return;
    }
    if (m_owner)
        QCoreApplication::postEvent(m_owner, new PrivateEvent(WM_TRAY_NOTIFY, 1, WM_LBUTTONUP));
}
