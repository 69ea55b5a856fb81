#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class FrameSource;
class LatestFrame;

// The main window's webcam preview: a child window at (4, 10), 320 x 240,
// hidden until a recording gesture shows it. It connects to the camera chosen
// on the Devices page, else to the default camera, or to a synthetic moving
// test pattern when the environment variable CLIPNOTE_CAMERA is "test". Each grab takes the newest
// picture, turns it into the recorder's 320 x 240 bottom-up BGR frame, shows it and hands it to the
// frame callback before returning.
class CCaptureWindow : public QWidget {
    Q_OBJECT

public:
    // The 230,400 bytes of one frame, valid during the call only. The
    // callback may delete the capture window.
    using FrameCallback = std::function<void(const unsigned char* bottomUpBgr)>;

    static constexpr int kChildId = 6002;
    static QRect placement() { return QRect(4, 10, 320, 240); }

    explicit CCaptureWindow(QWidget* parent = nullptr);
    ~CCaptureWindow() override;

    // Opens the chosen camera (or the test pattern) without waiting for its
    // first picture. A chosen camera that is missing or cannot start is named
    // in a message and the default one is opened. False when there is no
    // camera or it cannot start; nothing is shown then. Connecting again
    // first lets go of the current camera.
    bool connectDriver();
    // Opens the camera of that ID from inputDevices(DeviceKind::Camera), or
    // the default for an empty ID, without a message.
    bool connectDevice(const QString& cameraId);
    void disconnectDriver();
    bool isConnected() const { return m_source != nullptr; }
    // Whether connectDriver() has a camera (or the test pattern) to open,
    // without turning the camera on.
    static bool driverAvailable();

    void setFrameCallback(FrameCallback callback);
    // False while no picture has arrived yet (the callback is not called).
    bool grabFrame();

    // The frame last shown, top-down; null before the first grab since
    // connecting.
    QImage shownFrame() const { return m_shownFrame; }
    bool hasPicture() const { return !m_shownFrame.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<LatestFrame> m_frames;
    std::unique_ptr<FrameSource> m_source;
    FrameCallback m_callback;
    // Shared so that a callback deleting the window leaves its frame alive.
    std::shared_ptr<std::vector<unsigned char>> m_frame;
    QImage m_shownFrame;
    QPixmap m_shown;
};
