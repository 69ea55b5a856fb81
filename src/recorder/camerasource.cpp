#include "recorder/camerasource.h"

#include "recorder/devicechoice.h"
#include "recorder/frameconversion.h"

#include <QCamera>
#include <QCameraDevice>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QVideoFrame>
#include <QVideoSink>

CameraSource::CameraSource(QString deviceId) : m_deviceId(std::move(deviceId)) {}

CameraSource::~CameraSource() {
    stop();
}

bool CameraSource::deviceAvailable() {
    return !QMediaDevices::defaultVideoInput().isNull();
}

bool CameraSource::start(std::shared_ptr<LatestFrame> frames) {
    stop();
    if (!frames)
        return false;
    const QCameraDevice device =
        deviceWithId(QMediaDevices::videoInputs(), m_deviceId, QMediaDevices::defaultVideoInput());
    if (device.isNull())
        return false;

    m_camera = std::make_unique<QCamera>(device);
    const QList<QCameraFormat> formats = device.videoFormats();
    QList<QSize> sizes;
    for (const QCameraFormat& format : formats)
        sizes.append(format.resolution());
    if (const int chosen = preferredCaptureSize(sizes); chosen >= 0)
        m_camera->setCameraFormat(formats[chosen]);

    m_sink = std::make_unique<QVideoSink>();
    // Direct: runs on whichever thread delivers, so the picture is made there
    // and the user-interface thread only ever sees finished QImages. The
    // frames object is shared, so a delivery racing with stop() still writes
    // into live memory.
    QObject::connect(
        m_sink.get(), &QVideoSink::videoFrameChanged, m_sink.get(),
        [frames](const QVideoFrame& frame) {
            if (frame.isValid())
                frames->put(frame.toImage());
        },
        Qt::DirectConnection);
    // A camera that fails later (unplugged) stops giving pictures; the last
    // one must not be shown and recorded over and over as if it were live.
    QObject::connect(
        m_camera.get(), &QCamera::errorOccurred, m_camera.get(),
        [frames](QCamera::Error error) {
            if (error != QCamera::NoError)
                frames->clear();
        },
        Qt::DirectConnection);

    m_session = std::make_unique<QMediaCaptureSession>();
    m_session->setCamera(m_camera.get());
    m_session->setVideoSink(m_sink.get());
    m_camera->start();
    if (m_camera->error() != QCamera::NoError) {
        stop();
        return false;
    }
    return true;
}

void CameraSource::stop() {
    if (m_sink)
        QObject::disconnect(m_sink.get(), nullptr, nullptr, nullptr);
    if (m_camera) {
        QObject::disconnect(m_camera.get(), nullptr, nullptr, nullptr);
        m_camera->stop();
    }
    if (m_session) {
        m_session->setVideoSink(nullptr);
        m_session->setCamera(nullptr);
    }
    m_session.reset();
    m_camera.reset();
    m_sink.reset();
}
