#include "recorder/capturewindow.h"

#include "app/clientcore.h"
#include "platform/messagebox.h"
#include "recorder/camerasource.h"
#include "recorder/devicechoice.h"
#include "recorder/frameconversion.h"
#include "recorder/latestframe.h"
#include "recorder/testpattern.h"

#include <QPainter>

CCaptureWindow::CCaptureWindow(QWidget* parent)
    : QWidget(parent), m_frames(std::make_shared<LatestFrame>()),
      m_frame(std::make_shared<std::vector<unsigned char>>(kFrameBytes)) {
    setObjectName(QStringLiteral("captureWindow"));
    setGeometry(placement());
    setAttribute(Qt::WA_OpaquePaintEvent);
    hide();
}

CCaptureWindow::~CCaptureWindow() {
    disconnectDriver();
}

bool CCaptureWindow::connectDriver() {
    const DeviceChoice chosen = readDeviceChoice(DeviceKind::Camera);
    if (chosen.id.isEmpty())
        return connectDevice(QString());
    if (connectDevice(chosen.id))
        return true;
    // Said before the default camera is shown, so no one records with
    // another camera than the one they chose unawares.
    showMessageBox(window(), deviceUnavailableText(DeviceKind::Camera, chosen.shownName()),
                   ClientCore::applicationTitle(), QMessageBox::Warning);
    return connectDevice(QString());
}

bool CCaptureWindow::connectDevice(const QString& cameraId) {
    disconnectDriver();
    std::unique_ptr<FrameSource> source;
    const bool pattern = testDeviceWanted(DeviceKind::Camera) &&
                         (cameraId.isEmpty() || cameraId == QLatin1String(kTestPatternId));
    if (pattern)
        source = std::make_unique<TestPatternSource>();
    else
        source = std::make_unique<CameraSource>(cameraId);
    if (!source->start(m_frames))
        return false;
    m_source = std::move(source);
    return true;
}

bool CCaptureWindow::driverAvailable() {
    return testDeviceWanted(DeviceKind::Camera) || CameraSource::deviceAvailable();
}

void CCaptureWindow::disconnectDriver() {
    if (m_source) {
        m_source->stop();
        m_source.reset();
    }
    m_frames->clear();
    m_shownFrame = QImage();
    m_shown = QPixmap();
    update();
}

void CCaptureWindow::setFrameCallback(FrameCallback callback) {
    m_callback = std::move(callback);
}

bool CCaptureWindow::grabFrame() {
    if (!m_source)
        return false;
    const QImage fitted = fitToFrame(m_frames->take());
    if (fitted.isNull())
        return false;
    fittedToBottomUpBgr(fitted, m_frame->data());
    m_shownFrame = fitted;
    m_shown = QPixmap::fromImage(fitted);
    update();
    // Both copied: the callback may delete this window, and with it the
    // members it would otherwise be running from.
    const FrameCallback callback = m_callback;
    const std::shared_ptr<std::vector<unsigned char>> frame = m_frame;
    if (callback)
        callback(frame->data());
    return true;
}

void CCaptureWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_shown.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawPixmap(rect(), m_shown);
}
