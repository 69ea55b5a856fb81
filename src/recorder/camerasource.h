#pragma once

#include "recorder/latestframe.h"

#include <QString>

#include <memory>

class QCamera;
class QMediaCaptureSession;
class QVideoSink;

// A camera of the machine as a frame source: the one of that ID, or the
// default for an empty ID. The camera's sink may
// deliver on a thread of the media framework; each picture is turned into a
// QImage right there and only that reaches the user-interface thread.
class CameraSource : public FrameSource {
public:
    explicit CameraSource(QString deviceId = {});
    ~CameraSource() override;

    // False at once when the machine has no such camera or the camera
    // reports an error on starting; never waits for the first picture.
    bool start(std::shared_ptr<LatestFrame> frames) override;
    void stop() override;

    // Whether the machine has a camera at all; does not turn it on.
    static bool deviceAvailable();

private:
    QString m_deviceId;
    std::unique_ptr<QMediaCaptureSession> m_session;
    std::unique_ptr<QCamera> m_camera;
    std::unique_ptr<QVideoSink> m_sink;
};
